// tavrapdfsg as a process: the start-up error for a missing file and its exit
// status, the window under Xvfb, and SHOW mode handing the file to the opener.
// Each run gets a private HOME, XDG folders, TMPDIR and NSS folder; message
// boxes are logged and dismissed through TAVRA_TEST_MESSAGE_LOG.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QColor>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/app/AppTestSupport.h"
#include "tests/fixtures/LoopbackTSA.h"
#include "tests/fixtures/StoreFixture.h"
#include "tests/pdf/PdfFixtures.h"

namespace {

using tavra_test::Quote;
using tavra_test::ReadFile;
using tavra_test::ScratchDir;

const std::string kBinary = std::string(TAVRA_BINARY_DIR) + "/app/gui/tavrapdfsg";

// The stream dictionary or plain value of "N 0 R" in qpdf's JSON objects.
QJsonObject ObjectDict(const QJsonObject& objects, const QJsonValue& ref) {
  const QJsonObject entry = objects.value("obj:" + ref.toString()).toObject();
  const QJsonObject value = entry.value("value").toObject();
  return entry.contains("stream") ? entry.value("stream").toObject().value("dict").toObject()
                                  : value;
}

// A form XObject that draws an image, directly or through nested forms.
bool FormHoldsImage(const QJsonObject& objects, const QJsonObject& form, int depth) {
  if (depth > 8) return false;
  QJsonValue resources = form.value("/Resources");
  const QJsonObject res =
      resources.isString() ? ObjectDict(objects, resources) : resources.toObject();
  QJsonValue xobjects = res.value("/XObject");
  const QJsonObject names =
      xobjects.isString() ? ObjectDict(objects, xobjects) : xobjects.toObject();
  for (const QJsonValue& ref : names) {
    const QJsonObject x = ObjectDict(objects, ref);
    if (x.value("/Subtype").toString() == "/Image") return true;
    if (x.value("/Subtype").toString() == "/Form" && FormHoldsImage(objects, x, depth + 1))
      return true;
  }
  return false;
}

// True when a signature widget's normal appearance draws an image (qpdf --json).
bool SignatureAppearanceHoldsImage(const std::string& pdf) {
  const std::string json =
      tavra_test::RunCommand("qpdf --json=2 --json-key=qpdf " + Quote(pdf) + " 2>/dev/null");
  const QJsonObject objects = QJsonDocument::fromJson(QByteArray::fromStdString(json))
                                  .object()
                                  .value("qpdf")
                                  .toArray()
                                  .at(1)
                                  .toObject();
  for (auto it = objects.begin(); it != objects.end(); ++it) {
    const QJsonObject value = it.value().toObject().value("value").toObject();
    if (value.value("/FT").toString() != "/Sig" || !value.contains("/AP")) continue;
    const QJsonValue normal = value.value("/AP").toObject().value("/N");
    if (FormHoldsImage(objects, ObjectDict(objects, normal), 0)) return true;
  }
  return false;
}

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::FileExists(kBinary)) << "tavrapdfsg is not built: " << kBinary;
    home = dir.MakeDir("home");
    log = dir.File("messages.log");
    bin = dir.MakeDir("bin");
  }

  // A clean environment: nothing of the caller's desktop leaks in.
  std::string Environment(bool offscreen) const {
    std::string env = "env -i";
    auto add = [&env](const std::string& name, const std::string& value) {
      env += " " + Quote(name + "=" + value);
    };
    add("HOME", home);
    add("XDG_CONFIG_HOME", home + "/.config");
    add("XDG_DATA_HOME", home + "/.local/share");
    add("XDG_CONFIG_DIRS", dir.MakeDir("etc-xdg"));
    add("XDG_DATA_DIRS", dir.MakeDir("share"));
    add("XDG_RUNTIME_DIR", dir.MakeDir("runtime"));
    ::chmod(dir.File("runtime").c_str(), 0700);
    add("TMPDIR", dir.MakeDir("tmp"));
    add("TAVRA_NSSDB", nssdb.empty() ? dir.MakeDir("nssdb") : nssdb);
    add("TAVRA_TEST_MESSAGE_LOG", log);
    const char* path = std::getenv("PATH");
    add("PATH", bin + ":" + (path != nullptr ? path : "/usr/bin:/bin"));
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name)) add(name, value);
    }
    if (offscreen) {
      add("QT_QPA_PLATFORM", "offscreen");
    } else {
      // Expanded by the shell that xvfb-run starts, which knows the display.
      env += " \"DISPLAY=$DISPLAY\" \"XAUTHORITY=$XAUTHORITY\"";
    }
    return env;
  }

  // Exit status of the shell command (-1 when it did not exit normally).
  static int Run(const std::string& command) {
    int status = tavra_test::kNoExit;
    tavra_test::RunCommand(command, &status);
    return status;
  }

  ScratchDir dir;
  std::string home, log, bin;
  std::string nssdb;  // empty: an empty folder
};

TEST_F(ProcessTest, MissingSignFileShowsStartupErrorAndExitsWithZero) {
  const int status = Run("cd " + Quote(dir.Path()) + " && timeout 60 " + Environment(true) + " " +
                         Quote(kBinary) + " -SIGN/no/such.pdf -PUT/tmp/out.pdf");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(log), "error\tError\tSoubor \"/no/such.pdf\" nenalezen\n");
  EXPECT_TRUE(tavra_test::ListDir(dir.File("tmp")).empty());
}

TEST_F(ProcessTest, SlashAndLowerCaseSwitchesWorkTheSame) {
  const int status =
      Run("timeout 60 " + Environment(true) + " " + Quote(kBinary) + " /show/no/such.pdf");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(log), "error\tError\tSoubor \"/no/such.pdf\" nenalezen\n");
}

TEST_F(ProcessTest, StartupErrorUnderXvfb) {
  TAVRA_REQUIRE_TOOL("xvfb-run");
  const std::string script = Environment(false) + " " + Quote(kBinary) + " -SIGN/no/such.pdf";
  const int status = Run("timeout 120 xvfb-run -a sh -c " + Quote(script));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(log), "error\tError\tSoubor \"/no/such.pdf\" nenalezen\n");
}

TEST_F(ProcessTest, OpensItsWindowUnderXvfb) {
  TAVRA_REQUIRE_TOOL("xvfb-run");
  TAVRA_REQUIRE_TOOL("xwininfo");
  const std::string input = dir.Write("in.pdf", "%PDF-1.4\n%%EOF\n");
  // Inside the X session: start the program, wait for its window, end it.
  const std::string script = Environment(false) + " " + Quote(kBinary) + " -SIGN" + Quote(input) +
                             " & pid=$!; " + "for i in $(seq 1 300); do grep -q '^window' " +
                             Quote(log) + " 2>/dev/null && break; sleep 0.1; done; " +
                             "xwininfo -root -tree > " + Quote(dir.File("tree.txt")) +
                             "; kill $pid; wait $pid; exit 0";
  const int status = Run("timeout 120 xvfb-run -a sh -c " + Quote(script));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(log), "window\tTavra PDF Signer\tshown\n");
  EXPECT_NE(ReadFile(dir.File("tree.txt")).find("\"Tavra PDF Signer\""), std::string::npos);
}

TEST_F(ProcessTest, ShowModeHandsTheAbsolutePathToTheOpenerAndNeverShowsTheWindow) {
  const std::string record = dir.File("opened.txt");
  const std::string opener =
      dir.Write("bin/xdg-open", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " +
                                    Quote(record + ".part") + "\nmv " + Quote(record + ".part") +
                                    " " + Quote(record) + "\n");
  ::chmod(opener.c_str(), 0755);
  const std::string file = dir.Write("view me.pdf", "%PDF-1.4\n%%EOF\n");
  const int status = Run("cd " + Quote(dir.Path()) + " && timeout 60 " + Environment(true) + " " +
                         Quote(kBinary) + " -SHOW" + Quote("view me.pdf"));
  EXPECT_EQ(status, 0);
  for (int i = 0; i < 500 && !platform::FileExists(record); ++i) ::usleep(10000);
  EXPECT_EQ(ReadFile(record), file + "\n");
  EXPECT_EQ(ReadFile(log), "");  // no window, no message
}

TEST_F(ProcessTest, EnterSignsWithTheSavedSettingsUnderXvfbAndPdfsigCallsItValid) {
  TAVRA_REQUIRE_TOOL("xvfb-run");
  TAVRA_REQUIRE_TOOL("xdotool");
  TAVRA_REQUIRE_TOOL("pdfsig");
  TAVRA_REQUIRE_TOOL("certutil");
  ASSERT_STORE_FIXTURE();
  const auto& store = tavra_fixture::Store::Get();
  // A copy of the program with its settings beside it.
  const std::string app = dir.MakeDir("app") + "/tavrapdfsg";
  std::filesystem::copy_file(kBinary, app);
  dir.Write("app/tavrapdfsg.ini",
            "[options]\ncertissuer=Tavra Test CA\ncertserial=1001\ncertcn=User RSA 2048\n"
            "sigreason=Schvaluji tento dokument\nsigtype=1\n");
  nssdb = store.CopyDatabase(dir.File("fixture-db"));
  const std::string input = dir.Write("in.pdf", pdftest::OnePage().Build());
  const std::string output = dir.File("out.pdf");

  const std::string env =
      Environment(false) + " " + Quote("SOFTHSM2_CONF=" + store.File("softhsm2.conf"));
  const std::string script =
      env + " " + Quote(app) + " -SIGN" + Quote(input) + " -PUT" + Quote(output) +
      " & pid=$!; for i in $(seq 1 300); do grep -q '^window' " + Quote(log) +
      " 2>/dev/null && break; sleep 0.1; done; "
      "xdotool search --sync --name '^Tavra PDF Signer$' windowfocus --sync; xdotool key Return; "
      "wait $pid";
  const int status = Run("timeout 180 xvfb-run -a sh -c " + Quote(script));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(log),
            "window\tTavra PDF Signer\tshown\ninformation\tInformation\tPodepsání proběhlo "
            "úspěšně\n");

  // pdfsig gets a plain database that trusts the fixture authority.
  const std::string plain = dir.MakeDir("plain-db");
  Run("certutil -N -d sql:" + Quote(plain) + " --empty-password && certutil -A -d sql:" +
      Quote(plain) + " -n CA -t CT,C,C -i " + Quote(store.File("ca.crt")));
  const std::string report =
      tavra_test::RunCommand("pdfsig -nssdir sql:" + Quote(plain) + " " + Quote(output) + " 2>&1");
  EXPECT_NE(report.find("Signature Validation: Signature is Valid."), std::string::npos) << report;
  EXPECT_NE(report.find("Signer Certificate Common Name: User RSA 2048"), std::string::npos);
}

// The settings' level, authority and user: the window signs PAdES B-T, the
// user's password taken from the environment.
TEST_F(ProcessTest, SignModeWithTimestampSettingsSignsBT) {
  TAVRA_REQUIRE_TOOL("xvfb-run");
  TAVRA_REQUIRE_TOOL("xdotool");
  TAVRA_REQUIRE_TOOL("pdfsig");
  ASSERT_STORE_FIXTURE();
  const auto& store = tavra_fixture::Store::Get();
  const std::string authority = dir.MakeDir("authority");
  tavra_fixture::LoopbackTSA tsa(authority, "auth", {"--user", "signer", "--password", "s3cret"});
  ASSERT_GT(tsa.Port(), 0) << "the loopback authority did not start";
  const std::string app = dir.MakeDir("app") + "/tavrapdfsg";
  std::filesystem::copy_file(kBinary, app);
  dir.Write("app/tavrapdfsg.ini",
            "[options]\ncertissuer=Tavra Test CA\ncertserial=1001\ncertcn=User RSA 2048\n"
            "sigtype=0\nlevel=B-T\ntsa=" +
                tsa.URL() + "\ntsauser=signer\n");
  nssdb = store.CopyDatabase(dir.File("fixture-db"));
  const std::string input = dir.Write("in.pdf", pdftest::OnePage().Build());
  const std::string output = dir.File("out.pdf");
  const std::string env =
      Environment(false) + " " + Quote("SOFTHSM2_CONF=" + store.File("softhsm2.conf")) +
      " TAVRA_TSA_PASSWORD=s3cret TAVRA_TSA_TIMEOUT=10 no_proxy='*' NO_PROXY='*'";
  const std::string script =
      env + " " + Quote(app) + " -SIGN" + Quote(input) + " -PUT" + Quote(output) +
      " & pid=$!; for i in $(seq 1 300); do grep -q '^window' " + Quote(log) +
      " 2>/dev/null && break; sleep 0.1; done; "
      "xdotool search --sync --name '^Tavra PDF Signer$' windowfocus --sync; xdotool key Return; "
      "wait $pid";
  const int status = Run("timeout 180 xvfb-run -a sh -c " + Quote(script));
  EXPECT_EQ(status, 0) << ReadFile(log);
  const std::string plain = dir.MakeDir("plain-db");
  Run("certutil -N -d sql:" + Quote(plain) + " --empty-password && certutil -A -d sql:" +
      Quote(plain) + " -n CA -t CT,C,C -i " + Quote(store.File("ca.crt")));
  const std::string report =
      tavra_test::RunCommand("pdfsig -nssdir sql:" + Quote(plain) + " " + Quote(output) + " 2>&1");
  EXPECT_NE(report.find("Signature Validation: Signature is Valid."), std::string::npos) << report;
  EXPECT_NE(report.find("Signature Type: ETSI.CAdES.detached"), std::string::npos) << report;
  const std::string verify = tavra_test::RunCommand(
      ". " + Quote(store.File("env.sh")) + " && " + std::string(TAVRA_BINARY_DIR) +
      "/cli/tavrapdf verify " + Quote(output) + " --nssdb " + Quote(nssdb) + " --trust " +
      Quote(authority + "/ca.crt") + " 2>&1");
  EXPECT_NE(verify.find("  level: B-T\n"), std::string::npos) << verify;
  EXPECT_NE(verify.find(", valid\n"), std::string::npos) << verify;
}

// The picture named in the settings file becomes the background of the
// visible signature the window signs in SIGN mode.
TEST_F(ProcessTest, SignModeWithImageSettingSignsAVisiblePicture) {
  TAVRA_REQUIRE_TOOL("xvfb-run");
  TAVRA_REQUIRE_TOOL("xdotool");
  TAVRA_REQUIRE_TOOL("pdfsig");
  TAVRA_REQUIRE_TOOL("qpdf");
  TAVRA_REQUIRE_TOOL("certutil");
  ASSERT_STORE_FIXTURE();
  const auto& store = tavra_fixture::Store::Get();
  const std::string app = dir.MakeDir("app") + "/tavrapdfsg";
  std::filesystem::copy_file(kBinary, app);
  const std::string picture = dir.File("razítko.png");
  QImage image(120, 60, QImage::Format_ARGB32);
  image.fill(QColor(200, 0, 0, 128));
  ASSERT_TRUE(image.save(QString::fromStdString(picture), "PNG"));
  dir.Write("app/tavrapdfsg.ini",
            "[options]\ncertissuer=Tavra Test CA\ncertserial=1001\ncertcn=User RSA 2048\n"
            "sigtype=1\nimagefile=" +
                picture + "\n");
  nssdb = store.CopyDatabase(dir.File("fixture-db"));
  const std::string input = dir.Write("in.pdf", pdftest::OnePage().Build());
  const std::string output = dir.File("out.pdf");
  const std::string env =
      Environment(false) + " " + Quote("SOFTHSM2_CONF=" + store.File("softhsm2.conf"));
  const std::string script =
      env + " " + Quote(app) + " -SIGN" + Quote(input) + " -PUT" + Quote(output) +
      " & pid=$!; for i in $(seq 1 300); do grep -q '^window' " + Quote(log) +
      " 2>/dev/null && break; sleep 0.1; done; "
      "xdotool search --sync --name '^Tavra PDF Signer$' windowfocus --sync; xdotool key Return; "
      "wait $pid";
  const int status = Run("timeout 180 xvfb-run -a sh -c " + Quote(script));
  EXPECT_EQ(status, 0) << ReadFile(log);
  EXPECT_TRUE(SignatureAppearanceHoldsImage(output));
  EXPECT_NE(ReadFile(output).find("/SMask"), std::string::npos);

  const std::string plain = dir.MakeDir("plain-db");
  Run("certutil -N -d sql:" + Quote(plain) + " --empty-password && certutil -A -d sql:" +
      Quote(plain) + " -n CA -t CT,C,C -i " + Quote(store.File("ca.crt")));
  const std::string report =
      tavra_test::RunCommand("pdfsig -nssdir sql:" + Quote(plain) + " " + Quote(output) + " 2>&1");
  EXPECT_NE(report.find("Signature Validation: Signature is Valid."), std::string::npos) << report;
  EXPECT_NE(report.find("Total document signed"), std::string::npos) << report;
}

}  // namespace
