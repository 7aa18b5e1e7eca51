// "tavrapdf certs" against the fixture database, checked field by field with openssl.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "tests/fixtures/StoreFixture.h"

namespace {

using tavra_fixture::Quote;
using tavra_fixture::ReadFile;
using tavra_fixture::RunTool;
using tavra_fixture::ScratchDir;
using tavra_fixture::Store;

const std::string kTool = std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf";

struct Result {
  int Status = -1;
  std::string Out, Err;
};

Result Certs(const std::string& env, const std::string& args) {
  ScratchDir capture;
  Result r;
  r.Out = RunTool(env + " " + Quote(kTool) + " certs " + args + " 2>" + Quote(capture.File("err")) +
                      " </dev/null",
                  &r.Status);
  r.Err = ReadFile(capture.File("err"));
  return r;
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, sep)) parts.push_back(part);
  return parts;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// openssl's view of a fixture certificate.
std::string OpensslField(const std::string& name, const std::string& option) {
  std::string out =
      RunTool("openssl x509 -noout " + option + " -in " + Quote(Store::Get().File(name + ".crt")));
  out = out.substr(out.find('=') + 1);
  while (!out.empty() && (out.back() == '\n' || out.back() == 'Z')) out.pop_back();
  return out;
}

std::string OpensslCommonName(const std::string& name, const std::string& which) {
  const std::string rfc = OpensslField(name, "-" + which + " -nameopt RFC2253,-esc_msb,utf8");
  const size_t at = rfc.find("CN=");
  return at == std::string::npos ? "" : rfc.substr(at + 3, rfc.find(',', at) - at - 3);
}

class CertsCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_STORE_FIXTURE();
    ASSERT_TRUE(std::filesystem::exists(kTool)) << kTool << " is not built";
  }
};

TEST_F(CertsCommandTest, ListsTheStoreAsOpensslReadsIt) {
  const std::string before = Store::Get().DatabaseChecksums();
  // --nssdb wins over TAVRA_NSSDB.
  const Result r = Certs("TAVRA_NSSDB=/nonexistent", "--nssdb " + Quote(Store::Get().Db()));
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(FirstLine(r.Err), "tavrapdf: certificate database " + Store::Get().Db());
  const std::vector<std::string> lines = Split(r.Out, '\n');
  const std::vector<std::string> order = {"card",       "czech",   "ec",      "expired",
                                          "highserial", "rsa2048", "rsa3072", "rsa4096"};
  ASSERT_EQ(lines.size(), order.size()) << r.Out;
  for (size_t i = 0; i < order.size(); ++i) {
    const std::string& name = order[i];
    const std::vector<std::string> f = Split(lines[i], '\t');
    ASSERT_EQ(f.size(), 6u) << lines[i];
    EXPECT_EQ(f[0], OpensslCommonName(name, "subject")) << name;
    EXPECT_EQ(f[1], OpensslCommonName(name, "issuer")) << name;
    // openssl prints the value; the serial text keeps DER's sign octet.
    std::string serial = OpensslField(name, "-serial");
    if (!serial.empty() && std::string("89ABCDEF").find(serial[0]) != std::string::npos)
      serial = "00" + serial;
    EXPECT_EQ(f[2], serial) << name;
    EXPECT_EQ(f[3], OpensslField(name, "-enddate -dateopt iso_8601")) << name;
    EXPECT_EQ(f[4], "can-sign") << name;  // the EC key too
    EXPECT_EQ(f[5], "key") << name;       // the token's key too, without a PIN
  }
  EXPECT_EQ(Split(lines[1], '\t')[0], "Jan Čáp");
  EXPECT_EQ(Split(lines[4], '\t')[2], "008A1B2C3D4E5F60718293");
  EXPECT_EQ(Store::Get().DatabaseChecksums(), before);
}

TEST_F(CertsCommandTest, DatabaseChoiceAndOtherStores) {
  Result r = Certs("TAVRA_NSSDB=" + Quote(Store::Get().Db()), "--store ROOT");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(FirstLine(r.Err), "tavrapdf: certificate database " + Store::Get().Db());
  EXPECT_EQ(r.Out, "Tavra Test CA\tTavra Test CA\t01\t" +
                       OpensslField("ca", "-enddate -dateopt iso_8601") +
                       "\tcannot-sign\tno-key\n");
  r = Certs("TAVRA_NSSDB=" + Quote(Store::Get().Db()), "--store CA");
  EXPECT_EQ(Split(r.Out, '\t')[0], "Tavra Test Intermediate");

  // Without either, the home folder's database; none there is an empty store.
  ScratchDir home;
  r = Certs("env -u TAVRA_NSSDB HOME=" + Quote(home.Path()), "");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(FirstLine(r.Err), "tavrapdf: certificate database " + home.Path() + "/.pki/nssdb");
  EXPECT_EQ(r.Out, "");
  EXPECT_FALSE(std::filesystem::exists(home.File(".pki")));
}

TEST_F(CertsCommandTest, StoresThatCannotBeOpened) {
  Result r = Certs("", "--nssdb " + Quote(Store::Get().Db()) + " --store AddressBook");
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("tavrapdf: Failed to open storage\n"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Out, "");

  ScratchDir notDb;
  std::ofstream(notDb.File("cert9.db")) << "garbage";
  r = Certs("", "--nssdb " + Quote(notDb.Path()));
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("tavrapdf: Failed to open storage\n"), std::string::npos) << r.Err;
  EXPECT_EQ(ReadFile(notDb.File("cert9.db")), "garbage");

  r = Certs("", "--store");
  EXPECT_EQ(r.Status, 2);
  r = Certs("", "extra");
  EXPECT_EQ(r.Status, 2);
}

}  // namespace

namespace {

TEST_F(CertsCommandTest, FindsTheFirefoxProfileAndListsEveryDatabase) {
  ScratchDir home;
  // The usual place holds a broken profiles.ini; the Snap one the profile.
  const std::string snap = home.Path() + "/snap/firefox/common/.mozilla/firefox";
  const std::string profile = snap + "/ab12.default-release";
  std::filesystem::create_directories(snap);
  Store::Get().CopyDatabase(profile);
  std::ofstream(snap + "/profiles.ini")
      << "[Profile0]\nName=default-release\nIsRelative=1\nPath=ab12.default-release\n"
         "[Install4F96D1932A9F858E]\nDefault=ab12.default-release\nLocked=1\n";
  std::filesystem::create_directories(home.Path() + "/.mozilla/firefox");
  std::ofstream(home.Path() + "/.mozilla/firefox/profiles.ini") << "[Profile0\n";
  const std::string before = RunTool("cd " + Quote(profile) + " && sha256sum *");
  const std::string env = "env -u TAVRA_NSSDB HOME=" + Quote(home.Path());

  Result r = Certs(env, "");
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::vector<std::string> err = Split(r.Err, '\n');
  ASSERT_GE(err.size(), 2u) << r.Err;
  EXPECT_EQ(err[0], "tavrapdf: certificate database " + profile + " (Firefox (Snap))");
  EXPECT_EQ(err[1], "tavrapdf: " + home.Path() +
                        "/.mozilla/firefox/profiles.ini skipped: malformed line 1");
  // The token's certificate comes through the profile's module list.
  EXPECT_EQ(Split(r.Out, '\n').size(), 8u) << r.Out;
  EXPECT_EQ(Split(Split(r.Out, '\n')[0], '\t')[0], "Card User");

  ScratchDir capture;
  int status = -1;
  const std::string out =
      RunTool(env + " " + Quote(kTool) + " stores 2>" + Quote(capture.File("err")) + " </dev/null",
              &status);
  EXPECT_EQ(status, 0);
  const std::vector<std::string> f = Split(Split(out, '\n').at(0), '\t');
  ASSERT_EQ(f.size(), 5u) << out;
  EXPECT_EQ(f[0], "*");
  EXPECT_EQ(f[1], "sql:" + profile);
  EXPECT_EQ(f[2], "Firefox (Snap)");
  EXPECT_GT(std::stoi(f[3]), 9) << "the authorities and the certificate without its key too";
  // The eight listed and the one certs leaves out for its unknown critical extension.
  EXPECT_EQ(f[4], "9");
  EXPECT_EQ(Split(out, '\n').size(), 1u) << out;
  EXPECT_EQ(RunTool("cd " + Quote(profile) + " && sha256sum *"), before);
  EXPECT_FALSE(std::filesystem::exists(home.Path() + "/.pki"));
}

}  // namespace
