// The tree against an independent decoder: certificates, keys and a streamed
// (indefinite-length) CMS message made by openssl load to the structure that
// `openssl asn1parse` reports, and save back to the same bytes.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/asn1/Asn1TestSupport.h"
#include "toolkit/asn1/CvASN1Tree.h"

namespace corvane {
namespace {

// Standard output of a shell command; ok tells whether it succeeded.
std::string Shell(const std::string& command, bool* ok) {
  const tavra_test::TCommandResult run = tavra_test::RunCapturing(command);
  *ok = run.status == 0;
  return run.out;
}

struct Line {
  int64_t offset;
  int depth;
  int header;
  int64_t length;  // -1: indefinite
  bool constructed;
  bool operator==(const Line&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Line& l) {
  return os << l.offset << ":d=" << l.depth << " hl=" << l.header << " l=" << l.length
            << (l.constructed ? " cons" : " prim");
}

std::vector<Line> OpensslStructure(const std::string& path, bool* ok) {
  const std::string text = Shell("openssl asn1parse -inform DER -in '" + path + "'", ok);
  static const std::regex pattern(
      R"(^\s*(\d+):d=(\d+)\s+hl=(\d+)\s+l=\s*(\d+|inf)\s+(prim|cons):\s*(\S+))");
  std::vector<Line> lines;
  std::istringstream in(text);
  std::string row;
  while (std::getline(in, row)) {
    std::smatch m;
    if (!std::regex_search(row, m, pattern)) continue;
    if (m[6] == "EOC") continue;
    lines.push_back(Line{std::stoll(m[1]), std::stoi(m[2]), std::stoi(m[3]),
                         m[4] == "inf" ? -1 : std::stoll(m[4]), m[5] == "cons"});
  }
  return lines;
}

void Walk(const TOvASN1CustomTag* node, std::vector<Line>& out) {
  out.push_back(Line{node->ElementOffset(), node->Level() - 1, node->HeaderLength(),
                     node->IndefiniteLength() ? -1 : node->ContentLength(), node->IsConstructed()});
  if (const auto* c = dynamic_cast<const TOvASN1ConstrainedTag*>(node)) {
    for (int32_t i = 0; i < c->Count(); ++i) Walk(c->GetChild(i), out);
  }
}

std::vector<Line> TreeStructure(const TOvASN1ConstrainedTag& root) {
  std::vector<Line> lines;
  for (int32_t i = 0; i < root.Count(); ++i) Walk(root.GetChild(i), lines);
  return lines;
}

std::string SaveAll(const TOvASN1ConstrainedTag& root) {
  std::string out;
  for (int32_t i = 0; i < root.Count(); ++i) out += root.GetChild(i)->SaveToBytes();
  return out;
}

void DropIndefinite(TOvASN1CustomTag* node) {
  node->SetIndefiniteLength(false);
  if (auto* c = AsConstrained(node)) {
    for (int32_t i = 0; i < c->Count(); ++i) DropIndefinite(c->GetChild(i));
  }
}

class ASN1Openssl : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new tavra_test::ScratchDir();
    const std::string d = dir_->Path();
    const std::string script =
        "cd '" + d +
        "' && "
        "openssl req -x509 -newkey rsa:2048 -nodes -keyout rsa.pem -out rsa.crt -days 30"
        " -subj '/C=CZ/O=Tavra Test/CN=Signer \\xC5\\xA0'"
        " -addext 'keyUsage=critical,digitalSignature,nonRepudiation'"
        " -addext 'subjectAltName=email:signer@example.com,DNS:example.com'"
        " -addext 'basicConstraints=critical,CA:FALSE' && "
        "openssl x509 -in rsa.crt -outform DER -out rsa.der && "
        "openssl pkcs8 -topk8 -nocrypt -in rsa.pem -outform DER -out rsa-pkcs8.der && "
        "openssl ecparam -name prime256v1 -genkey -noout -out ec.pem && "
        "openssl ec -in ec.pem -outform DER -out ec-key.der && "
        "openssl req -x509 -new -key ec.pem -out ec.crt -days 30 -subj '/CN=EC Signer' && "
        "openssl x509 -in ec.crt -outform DER -out ec.der && "
        "printf 'hello' > msg.txt && "
        "openssl cms -sign -in msg.txt -signer rsa.crt -inkey rsa.pem -stream -nodetach"
        " -outform DER -out streamed.ber";
    bool ok = false;
    Shell(script, &ok);
    ready_ = ok;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    TAVRA_REQUIRE_TOOL("openssl");
    ASSERT_TRUE(ready_) << "openssl could not make the fixtures";
  }
  static std::string PathOf(const std::string& name) { return *dir_ / name; }

  // Loads a file, compares its structure with openssl's and returns the container.
  static void CheckFile(const std::string& name, TOvASN1ConstrainedTag& root) {
    const std::string path = PathOf(name);
    const std::string bytes = tavra_test::ReadFile(path);
    ASSERT_FALSE(bytes.empty()) << name;
    ASSERT_TRUE(root.LoadFromBytes(bytes)) << name;
    bool ok = false;
    const std::vector<Line> expected = OpensslStructure(path, &ok);
    ASSERT_TRUE(ok) << name;
    ASSERT_GT(expected.size(), 3u) << name;
    EXPECT_EQ(TreeStructure(root), expected) << name;
    EXPECT_EQ(SaveAll(root), bytes) << name;
  }

  static tavra_test::ScratchDir* dir_;
  static bool ready_;
};

tavra_test::ScratchDir* ASN1Openssl::dir_ = nullptr;
bool ASN1Openssl::ready_ = false;

TEST_F(ASN1Openssl, RsaCertificateMatchesAndRoundTrips) {
  TOvASN1ConstrainedTag root;
  CheckFile("rsa.der", root);
  // The to-be-signed part is where openssl says it is.
  const TOvASN1ConstrainedTag* cert = root.ConstrainedChild(0);
  ASSERT_NE(cert, nullptr);
  ASSERT_EQ(cert->Count(), 3);
  EXPECT_EQ(cert->GetChild(0)->ElementOffset(), 4);
  EXPECT_TRUE(CheckTag(cert->GetChild(2), 0x03, false));
  EXPECT_EQ(cert->SimpleChild(2)->Content()[0], '\0');
}

TEST_F(ASN1Openssl, EcCertificateMatchesAndRoundTrips) {
  TOvASN1ConstrainedTag root;
  CheckFile("ec.der", root);
}

TEST_F(ASN1Openssl, PrivateKeysMatchAndRoundTrip) {
  TOvASN1ConstrainedTag pkcs8;
  CheckFile("rsa-pkcs8.der", pkcs8);
  TOvASN1ConstrainedTag ec;
  CheckFile("ec-key.der", ec);
}

TEST_F(ASN1Openssl, StreamedCmsReadsAsBer) {
  TOvASN1ConstrainedTag root;
  CheckFile("streamed.ber", root);
  ASSERT_EQ(root.Count(), 1);
  EXPECT_TRUE(root.GetChild(0)->IndefiniteLength());

  // With every indefinite length dropped the output is definite-length BER that
  // openssl reads to the same shape and whose signature still verifies.
  DropIndefinite(root.GetChild(0));
  const std::string definite = root.GetChild(0)->SaveToBytes();
  const std::string out = PathOf("definite.der");
  tavra_test::WriteFile(out, definite);
  TOvASN1ConstrainedTag reread;
  ASSERT_TRUE(reread.LoadFromBytes(definite));
  bool ok = false;
  EXPECT_EQ(TreeStructure(reread), OpensslStructure(out, &ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ(SaveAll(reread), definite);
  const std::string content =
      Shell("openssl cms -verify -noverify -inform DER -in '" + out + "'", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(content, "hello");
}

TEST_F(ASN1Openssl, BuiltTreeReadsBackInOpenssl) {
  TOvASN1ConstrainedTag seq;
  seq.SetTagByte(0x30);
  seq.AddSimpleChild()->SetIntegerValue(0x80);
  TOvASN1SimpleTag* octets = seq.AddSimpleChild();
  octets->SetTagByte(0x04);
  octets->SetContent(std::string(300, 'x'));
  TOvASN1ConstrainedTag* set = seq.AddConstrainedChild();
  set->SetTagByte(0x31);
  set->AddSimpleChild()->SetBooleanValue(true);
  const std::string path = PathOf("built.der");
  tavra_test::WriteFile(path, seq.SaveToBytes());
  bool ok = false;
  const std::string text = Shell("openssl asn1parse -inform DER -in '" + path + "'", &ok);
  ASSERT_TRUE(ok) << text;
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(prim: INTEGER\s+:80)"))) << text;
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(hl=4 l= 300 prim: OCTET STRING)"))) << text;
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(prim: BOOLEAN\s+:255)"))) << text;
}

}  // namespace
}  // namespace corvane
