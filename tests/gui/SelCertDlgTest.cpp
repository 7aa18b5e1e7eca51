// The certificate dialog, the viewer and the password prompt, headless: a
// store of fakes for listing, sorting and choosing, the fixture database for
// the real store, the viewer's fields and a cancelled token password.
#include "app/gui/SelCertDlg.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <QAction>
#include <QDate>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include "app/core/LowStuff.h"
#include "app/core/SignerCore.h"
#include "app/core/ToolkitBinding.h"
#include "app/gui/AppearanceBox.h"
#include "app/gui/Main.h"
#include "app/gui/PasswordDlg.h"
#include "app/gui/ShowCertDlg.h"
#include "platform/keystore/KeyStore.h"
#include "tests/fixtures/StoreFixture.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/pdf/PdfFixtures.h"
#include "toolkit/common/CvUtils.h"

namespace tavra {
namespace {

using tavra_fixture::Quote;
using tavra_fixture::RunTool;
using tavra_fixture::Store;

class FakeChoosable final : public IChoosableCertificate {
 public:
  FakeChoosable(std::string subject, std::string issuer, std::string serial, double validTo,
                bool canSign = true, bool hasKey = true, uint64_t handle = 0)
      : subject_(std::move(subject)),
        issuer_(std::move(issuer)),
        serial_(std::move(serial)),
        valid_to_(validTo),
        can_sign_(canSign),
        has_key_(hasKey),
        handle_(handle) {}
  std::string IssuerCommonName() const override { return issuer_; }
  std::string SubjectCommonName() const override { return subject_; }
  std::string SerialNumber() const override { return serial_; }
  bool KeyAlgorithmCanSign() const override { return can_sign_; }
  bool PrivateKeyExists() const override { return has_key_; }
  double ValidTo() const override { return valid_to_; }
  uint64_t CertContextHandle() const override { return handle_; }
  std::unique_ptr<ISignerCertificate> Copy() const override {
    return std::make_unique<FakeChoosable>(*this);
  }

 private:
  std::string subject_, issuer_, serial_;
  double valid_to_;
  bool can_sign_, has_key_;
  uint64_t handle_;
};

class FakeStore final : public ICertificateStore {
 public:
  std::vector<FakeChoosable> certificates;
  size_t Count() const override { return certificates.size(); }
  const IChoosableCertificate& Certificate(size_t i) const override { return certificates.at(i); }
  std::string DatabaseText() const override { return "/home/jan/.pki/nssdb"; }
};

class RecordingViewer final : public ICertificateViewer {
 public:
  std::vector<std::pair<QString, uint64_t>> calls;
  void ViewCertificate(QWidget*, const QString& title, uint64_t handle) override {
    calls.emplace_back(title, handle);
  }
};

class SelCertDlgTest : public ::testing::Test {
 protected:
  void SetUp() override { tavra_test::TestApp(); }

  // Four listed (two of one subject), one without key, one that cannot sign.
  std::unique_ptr<TSelectCertDialog> Make(bool empty = false) {
    auto store = std::make_unique<FakeStore>();
    if (!empty) {
      store->certificates = {
          {"Bob", "beta CA", "\x0A\x1B", 46000, true, true, 11},
          {"No Key", "Alpha CA", "\x01", 40000, true, false},
          {"alice", "Zeta CA", "\x02", 47000, true, true, 12},
          {"Cannot Sign", "Alpha CA", "\x03", 40000, false, true},
          {"Carl", "ALPHA CA", "\x04", 45000, true, true, 13},
          {"Carl", "alpha ca", std::string("\x8A\x01", 2), 44000, true, true, 14},
      };
    }
    return std::make_unique<TSelectCertDialog>(std::move(store), viewer, reporter);
  }

  static QStringList Column(const TSelectCertDialog& d, int column) {
    QStringList texts;
    for (int i = 0; i < d.ListView1->topLevelItemCount(); ++i)
      texts << d.ListView1->topLevelItem(i)->text(column);
    return texts;
  }

  RecordingViewer viewer;
  tavra_test::RecordingBoxes boxes;
  TGuiReporter reporter{boxes, "tavrapdfsg"};
};

TEST_F(SelCertDlgTest, ListsOnlySigningCertificatesWithKeysInThreeColumns) {
  auto d = Make();
  EXPECT_EQ(d->windowTitle(), "Vyberte certifikát");
  EXPECT_EQ(d->StatusLine->text(), "Databáze certifikátů: /home/jan/.pki/nssdb");
  EXPECT_EQ(d->Panel1->height(), 38);
  const QTreeWidgetItem* header = d->ListView1->headerItem();
  EXPECT_EQ(QStringList({header->text(0), header->text(1), header->text(2)}),
            QStringList({"Vydáno pro", "Vydavatel", "Platnost do"}));
  EXPECT_EQ(d->ListView1->columnWidth(0), 150);
  EXPECT_EQ(d->ListView1->columnWidth(1), 200);
  EXPECT_EQ(d->ListView1->columnWidth(2), 80);
  EXPECT_EQ(Column(*d, 0), QStringList({"alice", "Bob", "Carl", "Carl"}));
  const QTreeWidgetItem* first = d->ListView1->topLevelItem(0);
  EXPECT_FALSE(first->icon(0).isNull());
  EXPECT_TRUE(first->textAlignment(2) & Qt::AlignRight);
  // 47000 days after 1899-12-30.
  EXPECT_EQ(first->text(2), QLocale().toString(QDate(2028, 9, 4), QLocale::ShortFormat));
  EXPECT_EQ(d->SelectedCertificate()->SubjectCommonName(), "alice");
  EXPECT_EQ(QStringList({d->Button1->text(), d->Button2->text(), d->Button3->text()}),
            QStringList({"OK", "Storno", "Zobrazit vybraný"}));
  EXPECT_TRUE(d->Button1->isDefault());
}

TEST_F(SelCertDlgTest, HeaderClicksToggleAndMoveTheSort) {
  auto d = Make();
  QHeaderView* header = d->ListView1->header();
  EXPECT_EQ(d->SortState(), 1);
  EXPECT_EQ(header->sortIndicatorSection(), 0);
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);

  emit header->sectionClicked(0);
  EXPECT_EQ(d->SortState(), -1);
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
  EXPECT_EQ(Column(*d, 0).front(), "Carl");
  EXPECT_EQ(Column(*d, 0).back(), "alice");

  emit header->sectionClicked(2);
  EXPECT_EQ(d->SortState(), 3);
  EXPECT_EQ(header->sortIndicatorSection(), 2);
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
  EXPECT_EQ(Column(*d, 1), QStringList({"alpha ca", "ALPHA CA", "beta CA", "Zeta CA"}));

  // Issuers: letter case folded, so both "alpha" spellings come first.
  emit header->sectionClicked(1);
  EXPECT_EQ(d->SortState(), 2);
  EXPECT_EQ(Column(*d, 1).mid(2), QStringList({"beta CA", "Zeta CA"}));
  emit header->sectionClicked(1);
  EXPECT_EQ(d->SortState(), -2);
  EXPECT_EQ(Column(*d, 1).front(), "Zeta CA");
  // The selection follows its item through the sorts.
  EXPECT_EQ(d->SelectedCertificate()->SubjectCommonName(), "alice");
}

TEST_F(SelCertDlgTest, PreselectsByIssuerAndSerialText) {
  auto d = Make();
  d->Preselect("alpha ca", "008a01");  // case folded on both texts
  EXPECT_EQ(d->SelectedCertificate()->ValidTo(), 44000);
  d->Preselect("ALPHA CA", "04");
  EXPECT_EQ(d->SelectedCertificate()->ValidTo(), 45000);
  d->Preselect("Nobody", "04");
  EXPECT_EQ(d->SelectedCertificate()->ValidTo(), 45000);
}

TEST_F(SelCertDlgTest, OkReturnsACopyOfTheSelectionAndNothingOtherwise) {
  auto d = Make();
  d->Preselect("beta CA", "0A1B");
  auto chosen = d->Result(QDialog::Accepted);
  ASSERT_NE(chosen, nullptr);
  EXPECT_EQ(chosen->SubjectCommonName(), "Bob");
  EXPECT_EQ(SerialNumberText(*chosen), "0A1B");
  EXPECT_EQ(d->Result(QDialog::Rejected), nullptr);
  d->ListView1->clearSelection();
  EXPECT_EQ(d->Result(QDialog::Accepted), nullptr);
  EXPECT_FALSE(d->act_ShowSelected->isEnabled());
  EXPECT_FALSE(d->Button3->isEnabled());

  auto empty = Make(true);
  EXPECT_EQ(empty->ListView1->topLevelItemCount(), 0);
  EXPECT_EQ(empty->Result(QDialog::Accepted), nullptr);
}

TEST_F(SelCertDlgTest, EnterAndDoubleClickCloseWithOk) {
  auto d = Make();
  d->show();
  d->ListView1->setFocus();
  tavra_test::KeyClick(d->ListView1, Qt::Key_Return);
  EXPECT_FALSE(d->isVisible());
  EXPECT_EQ(d->result(), QDialog::Accepted);

  auto e = Make();
  e->show();
  e->ListView1->clearSelection();
  emit e->ListView1->itemDoubleClicked(e->ListView1->topLevelItem(1), 0);
  EXPECT_EQ(e->result(), QDialog::Accepted);
  EXPECT_EQ(e->Result(e->result()), nullptr);  // whatever was selected: here nothing
}

TEST_F(SelCertDlgTest, ShowHandsTitleAndContextToTheViewer) {
  auto d = Make();
  d->Preselect("beta CA", "0A1B");
  d->Button3->click();
  ASSERT_EQ(viewer.calls.size(), 1u);
  EXPECT_EQ(viewer.calls[0].first, "Bob");
  EXPECT_EQ(viewer.calls[0].second, 11u);
}

TEST_F(SelCertDlgTest, MissingViewerModuleOrFunctionIsReportedAndTheDialogStays) {
  TLinkedCertificateViewer noModule("cryptui.dll", "CryptUIDlgViewCertificateA");
  TLinkedCertificateViewer noFunction(kViewerModule, "CryptUIDlgViewCertificateA");
  for (ICertificateViewer* broken : {static_cast<ICertificateViewer*>(&noModule),
                                     static_cast<ICertificateViewer*>(&noFunction)}) {
    auto store = std::make_unique<FakeStore>();
    store->certificates = {{"Bob", "beta CA", "\x01", 46000, true, true, 11}};
    TSelectCertDialog d(std::move(store), *broken, reporter);
    d.show();
    d.Button3->click();
    EXPECT_TRUE(d.isVisible());
  }
  ASSERT_EQ(boxes.boxes.size(), 2u);
  EXPECT_EQ(boxes.boxes[0].text, "modul cryptui.dll nenalezen.");
  EXPECT_EQ(boxes.boxes[0].caption, "tavrapdfsg");
  EXPECT_EQ(boxes.boxes[1].text, "funkce CryptUIDlgViewCertificateA nenalezena (tavra-certview)");
}

// The fixture database behind the real store and key store.
class FixtureStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tavra_test::TestApp();
    ASSERT_STORE_FIXTURE();
    platform::KeyStore::Instance().Shutdown();
    db = Store::Get().CopyDatabase(dir.File("nssdb"));
    platform::KeyStore::Instance().SetDatabaseDir(db);
  }
  void TearDown() override {
    platform::KeyStore::Instance().SetPasswordPrompt(nullptr);
    platform::KeyStore::Instance().Shutdown();
    platform::KeyStore::Instance().SetDatabaseDir("");
  }
  tavra_test::ScratchDir dir;
  std::string db;
  RecordingViewer viewer;
  tavra_test::RecordingBoxes boxes;
  TGuiReporter reporter{boxes, "tavrapdfsg"};
};

TEST_F(FixtureStoreTest, RealStoreListsKeyHoldersAndTheViewerShowsTheirFields) {
  auto store = OpenPersonalStore();
  EXPECT_EQ(store->DatabaseText(), db);
  TSelectCertDialog d(std::move(store), viewer, reporter);
  QStringList subjects;
  for (int i = 0; i < d.ListView1->topLevelItemCount(); ++i)
    subjects << d.ListView1->topLevelItem(i)->text(0);
  EXPECT_TRUE(subjects.contains("User RSA 2048"));
  EXPECT_TRUE(subjects.contains("Jan Čáp"));
  EXPECT_FALSE(subjects.contains("User Without Key"));
  EXPECT_FALSE(subjects.contains("Tavra Test Intermediate"));

  d.Preselect("Tavra Test CA", "1001");
  ASSERT_NE(d.SelectedCertificate(), nullptr);
  const uint64_t handle = d.SelectedCertificate()->CertContextHandle();
  const TCertificateDescription description = DescribeStoreCertificate(handle);
  TShowCertDialog view(description, FromStd(description.Title), &d);
  EXPECT_EQ(view.windowTitle(), "User RSA 2048");
  EXPECT_TRUE(view.isModal());
  // Names in encoded order, as openssl writes them.
  const std::string crt = Quote(Store::Get().File("rsa2048.crt"));
  for (const char* which : {"subject", "issuer"}) {
    std::string name =
        RunTool(std::string("openssl x509 -noout -nameopt esc_2253,sep_comma_plus_space -") +
                which + " -in " + crt);
    name = name.substr(name.find('=') + 1);
    name.erase(name.find_last_not_of("\r\n ") + 1);
    EXPECT_EQ(ToStd(view.FieldText(which[0] == 's' ? "Vydáno pro" : "Vydavatel")), name);
  }
  EXPECT_EQ(view.FieldText("Sériové číslo"), "1001");
  EXPECT_EQ(view.FieldText("Algoritmus klíče"), "RSA");
  EXPECT_EQ(view.FieldText("Délka klíče"), "2048 bitů");
  EXPECT_EQ(view.FieldText("Použití klíče"), "digitalSignature, nonRepudiation (kritické)");
  EXPECT_EQ(view.FieldText("Soukromý klíč"), "je v úložišti");
  // Validity and fingerprints as openssl reads them.
  const std::string end = RunTool("openssl x509 -noout -enddate -dateopt iso_8601 -in " + crt);
  EXPECT_EQ(ToStd(view.FieldText("Platnost do")).substr(0, 19), end.substr(9, 19)) << end;
  for (const char* hash : {"sha1", "sha256"}) {
    std::string fp =
        RunTool(std::string("openssl x509 -noout -fingerprint -") + hash + " -in " + crt);
    fp = fp.substr(fp.find('=') + 1);
    fp.erase(fp.find_last_not_of("\r\n") + 1);
    EXPECT_EQ(ToStd(view.FieldText(hash[3] == '1' ? "Otisk SHA-1" : "Otisk SHA-256")), fp);
  }
}

// Signs through the main window on the fixture store; returns the texts of
// the message boxes and records the progress the window showed.
QStringList SignThroughWindow(const std::string& serial, platform::KeyStorePasswordPrompt* prompt,
                              const std::string& input, const std::string& output,
                              std::vector<int>& progress) {
  tavra_test::FakeServices services;
  TGuiServices s = services.Services();
  s.PasswordPrompt = prompt;
  TGuiReporter guiReporter(services.boxes, "tavrapdfsg");
  tavra_test::MemorySettings settings;
  settings.stored.CertIssuer = "Tavra Test CA";
  settings.stored.CertSerial = serial;
  settings.stored.SigType = 0;
  TToolkitBinding toolkit;
  TSignerCore core(toolkit, guiReporter, ReadCommandLine({"tavrapdfsg"}));
  TfrmMain window(core, settings, guiReporter, s);
  window.edSignedPDF->setText(FromStd(input));
  window.edTargetPDF->setText(FromStd(output));
  window.UpdateActions();
  QObject::connect(window.SignProgress, &QProgressBar::valueChanged, [&](int value) {
    if (!window.SignProgress->isHidden()) progress.push_back(value);
  });
  window.btnSignIt->click();
  EXPECT_TRUE(window.SignProgress->isHidden());
  QStringList texts;
  for (const tavra_test::Box& box : services.boxes.boxes) texts << box.text;
  return texts;
}

TEST_F(FixtureStoreTest, SigningFromTheWindowShowsTheDocumentsProgress) {
  TAVRA_REQUIRE_TOOL("pdfsig");
  const std::string input = dir.Write("in.pdf", pdftest::OnePage().Build());
  const std::string output = dir.File("out.pdf");
  std::vector<int> progress;
  EXPECT_EQ(SignThroughWindow("1001", nullptr, input, output, progress),
            QStringList({"Podepsání proběhlo úspěšně"}));
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 100);
  EXPECT_TRUE(
      std::all_of(progress.begin(), progress.end(), [](int p) { return p >= 0 && p <= 100; }));
  EXPECT_NE(
      RunTool("pdfsig " + Quote(output)).find("Signer Certificate Common Name: User RSA 2048"),
      std::string::npos);
}

TEST_F(FixtureStoreTest, PasswordDialogSpeaksCzechAndCancelEndsSigningWithNothingWritten) {
  TPasswordDialog dialog("TavraCard", true);
  EXPECT_EQ(dialog.Prompt->text(), "Heslo nebylo přijato. Zadejte heslo pro „TavraCard“:");
  EXPECT_EQ(dialog.edPassword->echoMode(), QLineEdit::Password);
  EXPECT_EQ(dialog.btnCancel->text(), "Storno");
  dialog.edPassword->setText("4321");
  dialog.btnOK->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);

  class CancellingPrompt final : public platform::KeyStorePasswordPrompt {
   public:
    std::vector<std::string> tokens;
    std::optional<std::string> AskPassword(const std::string& token, bool) override {
      tokens.push_back(token);
      return std::nullopt;
    }
  } prompt;
  const std::string input = dir.Write("in.pdf", pdftest::OnePage().Build());
  const std::string output = dir.File("out.pdf");
  std::vector<int> progress;
  const QStringList texts = SignThroughWindow("1009", &prompt, input, output, progress);
  EXPECT_EQ(prompt.tokens, std::vector<std::string>({"TavraCard"}));
  ASSERT_EQ(texts.size(), 1);
  EXPECT_TRUE(texts[0].startsWith("Chyba: ")) << ToStd(texts[0]);
  EXPECT_FALSE(std::filesystem::exists(output));
}

// The pictures of the README: each window as it draws itself. With
// TAVRA_SCREENSHOT_DIR set (under Xvfb) they are saved there as PNG files.
TEST_F(FixtureStoreTest, WindowsDrawThemselvesForTheScreenshots) {
  tavra_test::FakeServices services;
  tavra_test::MemorySettings settings;
  settings.stored.CertIssuer = "Tavra Test CA";
  settings.stored.CertSerial = "1001";
  settings.stored.CertCommonName = "User RSA 2048";
  settings.stored.SigReason = "Schvaluji tento dokument";
  settings.stored.SigType = 1;
  settings.stored.ImageFile = "/home/jan/Obrázky/razítko.png";
  TToolkitBinding toolkit;
  TSignerCore core(toolkit, reporter, ReadCommandLine({"tavrapdfsg"}));
  TfrmMain window(core, settings, reporter, services.Services());
  window.edSignedPDF->setText("/home/jan/Dokumenty/smlouva.pdf");
  window.edTargetPDF->setText("/home/jan/Dokumenty/smlouva-podepsana.pdf");
  // The preview shows a real page behind the made-up path.
  window.gbAppearance->SetDocument(QString::fromUtf8(TAVRA_SOURCE_DIR "/demo/sample.pdf"));
  window.show();
  TSelectCertDialog dialog(OpenPersonalStore(), viewer, reporter);
  dialog.Preselect("Tavra Test CA", "1001");
  dialog.show();
  const TCertificateDescription description =
      DescribeStoreCertificate(dialog.SelectedCertificate()->CertContextHandle());
  TShowCertDialog view(description, FromStd(description.Title), nullptr);
  view.show();
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();

  const char* folder = std::getenv("TAVRA_SCREENSHOT_DIR");
  const std::pair<QWidget*, const char*> shots[] = {
      {&window, "main-window.png"}, {&dialog, "select-certificate.png"}, {&view, "viewer.png"}};
  for (const auto& [widget, name] : shots) {
    const QPixmap picture = widget->grab();
    EXPECT_EQ(picture.size(), widget->size()) << name;
    if (folder != nullptr && *folder) {
      EXPECT_TRUE(picture.save(QString::fromLocal8Bit(folder) + "/" + name, "PNG")) << name;
    }
  }
}

}  // namespace
}  // namespace tavra
