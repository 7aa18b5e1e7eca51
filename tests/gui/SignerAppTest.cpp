// The program run in-process: start-up check before any window, a window that
// cannot be created, SHOW mode through the event loop, and the exit status.
#include "app/gui/SignerApp.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QTimer>

#include "app/gui/Main.h"
#include "tests/gui/GuiTestSupport.h"

namespace tavra {
namespace {

class CountingSettings final : public ISignerSettings {
 public:
  int reads = 0;
  void Read(TPdfSignerOptions&) override { ++reads; }
  void Write(const TPdfSignerOptions&) override {}
};

class SignerAppTest : public ::testing::Test {
 protected:
  void SetUp() override { tavra_test::TestApp(); }

  int Run(std::vector<std::string> args, const TToolkitFactory& factory) {
    return RunSignerApplication(tavra_test::TestApp(), args, services.Services(), settings,
                                factory);
  }
  static TToolkitFactory Fake() {
    return [] { return std::make_unique<tavra_test::FakeToolkit>(); };
  }
  // Closes the main window once the event loop runs, as the user would.
  static void CloseMainWindowLater() {
    QTimer::singleShot(0, [] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* main = qobject_cast<TfrmMain*>(w); main != nullptr && main->isVisible()) {
          main->close();
        }
      }
    });
  }

  tavra_test::ScratchDir dir;
  tavra_test::FakeServices services;
  CountingSettings settings;
};

TEST_F(SignerAppTest, MissingFileEndsBeforeAnyWindowOrSettings) {
  bool toolkit_made = false;
  const int status = Run({"tavrapdfsg", "-SIGN" + dir.File("nope.pdf")}, [&] {
    toolkit_made = true;
    return std::make_unique<tavra_test::FakeToolkit>();
  });
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(toolkit_made);
  EXPECT_EQ(settings.reads, 0);
  ASSERT_EQ(services.boxes.boxes.size(), 1u);
  EXPECT_EQ(services.boxes.boxes[0].caption, "Error");
  EXPECT_EQ(services.boxes.boxes[0].text,
            QString::fromStdString("Soubor \"" + dir.File("nope.pdf") + "\" nenalezen"));
}

TEST_F(SignerAppTest, WindowThatCannotBeCreatedIsShownAndExitsWithOne) {
  const int status = Run({"tavrapdfsg"}, []() -> std::unique_ptr<ISignerToolkit> {
    throw std::runtime_error("Failed to open storage");
  });
  EXPECT_EQ(status, 1);
  ASSERT_EQ(services.boxes.boxes.size(), 1u);
  EXPECT_EQ(services.boxes.boxes[0].kind, TMessageKind::mkError);
  EXPECT_EQ(services.boxes.boxes[0].caption, "test_gui");
  EXPECT_EQ(services.boxes.boxes[0].text, "Failed to open storage.");
}

TEST_F(SignerAppTest, ShowModeRunsTheEventLoopOpensAndEnds) {
  const std::string file = dir.Write("a.pdf", "%PDF");
  EXPECT_EQ(Run({"tavrapdfsg", "-SHOW" + file}, Fake()), 0);
  EXPECT_EQ(services.opener.files, (std::vector<std::string>{file}));
  EXPECT_EQ(settings.reads, 1);  // settings are loaded before the file is handed over
  EXPECT_TRUE(services.boxes.boxes.empty());
}

TEST_F(SignerAppTest, InteractiveRunExitsWithZeroWhenClosed) {
  CloseMainWindowLater();
  EXPECT_EQ(Run({"tavrapdfsg"}, Fake()), 0);
}

TEST_F(SignerAppTest, SignModeClosedWithoutSigningExitsWithOne) {
  const std::string file = dir.Write("a.pdf", "%PDF");
  CloseMainWindowLater();
  EXPECT_EQ(Run({"tavrapdfsg", "-SIGN" + file, "-PUT" + dir.File("b.pdf")}, Fake()), 1);
  EXPECT_FALSE(platform::FileExists(dir.File("b.pdf")));
}

TEST_F(SignerAppTest, SignModeWithAnUnknownCertificateFindsNone) {
  const std::string input = dir.Write("a.pdf", "%PDF");
  const std::string output = dir.Write("b.pdf", "old");
  settings.reads = 0;
  QTimer::singleShot(0, [] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* main = qobject_cast<TfrmMain*>(w);
      if (main == nullptr || !main->isVisible()) continue;
      // The start-up call fills the paths; it may still be queued.
      tavra_test::WaitFor([main] { return !main->edTargetPDF->text().isEmpty(); }, 5000);
      main->edCertIssuerName->setText("Test CA");
      main->edCertSerialNumber->setText("0A1B");
      main->act_SignDocument->trigger();  // reported; the window stays open
      main->close();
    }
  });
  EXPECT_EQ(Run({"tavrapdfsg", "-SIGN" + input, "-PUT" + output}, MakeDefaultToolkit), 1);
  ASSERT_EQ(services.boxes.boxes.size(), 1u);
  EXPECT_EQ(services.boxes.boxes[0].caption, "test_gui");
  EXPECT_EQ(services.boxes.boxes[0].text, "Certfikát nenalezen.");
  EXPECT_EQ(tavra_test::ReadFile(output), "old");
}

TEST_F(SignerAppTest, WithoutADatabaseTheStoreIsEmpty) {
  const tavra_test::ScopedEnv noDatabase("TAVRA_NSSDB", dir.MakeDir("no-database").c_str());
  const auto toolkit = MakeDefaultToolkit();
  EXPECT_EQ(toolkit->CertificateCount(), 0u);
}

}  // namespace
}  // namespace tavra
