// `tavrapdf verify` on trust: files signed by our signer with certificates
// openssl makes here, judged with and without the authority as an anchor,
// from --trust and from the database's trusted roots.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

#include "tests/pdf/PdfFixtures.h"
#include "tests/support/TestSupport.h"
#include "toolkit/asn1/CvDERReader.h"
#include "toolkit/pki/CvPKCS7.h"

using namespace tavra_test;
using corvane::TOvPKCS7Message;
using corvane::TOvPKCS7Signer;
namespace oid = corvane::oid;

namespace {

const std::string kTool = std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf";

// An authority, signers issued by it (good, expired, without a signing key
// usage, with an unknown critical extension) and a self-signed one, all
// with their keys in an NSS database that trusts none of them.
constexpr const char* kScript = R"(set -e
mkdir -p db ca-db && : > ca-db/index.txt
cat > ca.cnf <<EOF
[ ca ]
default_ca = t
[ t ]
dir = $PWD/ca-db
database = \$dir/index.txt
new_certs_dir = \$dir
serial = \$dir/serial
default_md = sha256
policy = any
[ any ]
commonName = supplied
[ good ]
keyUsage = critical,digitalSignature,nonRepudiation
authorityKeyIdentifier = keyid
[ nosign ]
keyUsage = critical,keyEncipherment
[ odd ]
keyUsage = critical,digitalSignature
1.2.3.4 = critical,ASN1:NULL
EOF
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 \
  -subj "/CN=Trust Test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign" 2>/dev/null
issue() {
  openssl req -new -newkey rsa:2048 -nodes -keyout $1.key -subj "/CN=Trust $1" -out $1.csr 2>/dev/null
  echo $2 > ca-db/serial
  openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in $1.csr -out $1.pem \
    -extensions $3 -notext $4 2>/dev/null
}
issue good 3001 good "-days 30"
issue expired 3002 good "-startdate 20200101000000Z -enddate 20210101000000Z"
issue nosign 3003 nosign "-days 30"
issue odd 3004 odd "-days 30"
openssl req -x509 -newkey rsa:2048 -nodes -keyout self.key -out self.pem -days 30 \
  -subj "/CN=Trust self" -set_serial 0x3005 -addext "keyUsage=critical,digitalSignature" 2>/dev/null
certutil -N -d sql:db --empty-password
for n in good expired nosign odd self; do
  openssl pkcs12 -export -in $n.pem -inkey $n.key -name $n -out $n.p12 -passout pass:t
  pk12util -i $n.p12 -d sql:db -W t > /dev/null
done
)";

class VerifyTrustTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* tool : {"openssl", "certutil", "pk12util", "python3"})
      if (!HaveTool(tool)) return;
    dir_ = new ScratchDir;
    const TCommandResult made =
        RunCapturing("cd " + Quote(dir_->Path()) + " && bash -c " + Quote(kScript));
    made_ = made.status == 0;
    if (!made_) std::cerr << made.err;
    WriteFile(dir_->File("in.pdf"), pdftest::OnePage().Build());
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override {
    for (const char* tool : {"openssl", "certutil", "pk12util", "python3"})
      TAVRA_REQUIRE_TOOL(tool);
    ASSERT_TRUE(made_);
  }

  static TCommandResult Run(const std::string& args) {
    return RunCapturing("TMPDIR=" + Quote(dir_->Path()) + " " + kTool + " " + args);
  }
  // Signs in.pdf with the named signer; returns the signed file.
  static std::string Signed(const std::string& name, const std::string& issuer,
                            const std::string& serial) {
    const std::string out = dir_->File(name + ".pdf");
    const TCommandResult run =
        Run("sign " + Quote(dir_->File("in.pdf")) + " " + Quote(out) + " --nssdb " +
            Quote(dir_->File("db")) + " --issuer " + Quote(issuer) + " --serial " + serial);
    EXPECT_EQ(run.status, 0) << run.err;
    return out;
  }
  static TCommandResult Verify(const std::string& pdf, const std::string& options = "") {
    return Run("verify " + Quote(pdf) + " --nssdb " + Quote(dir_->File("db")) + " " + options);
  }
  static std::string Trust(const std::string& name) {
    return "--trust " + Quote(dir_->File(name + ".pem"));
  }

  // The signature value of a signed file and the bytes its /ByteRange covers.
  struct TValue {
    size_t start = 0, end = 0;  // the /Contents string, "<" to after ">"
    std::string covered;
    std::string der;
  };
  static TValue ValueOf(const std::string& pdf) {
    TValue value;
    std::smatch m;
    if (!std::regex_search(pdf, m, std::regex(R"(/ByteRange\s*\[\s*0\s+(\d+)\s+(\d+)\s+(\d+))")))
      return value;
    value.start = std::stoull(m[1]);
    value.end = std::stoull(m[2]);
    value.covered = pdf.substr(0, value.start) + pdf.substr(value.end, std::stoull(m[3]));
    std::string bytes;
    for (size_t i = value.start + 1; i + 2 < value.end; i += 2)
      bytes.push_back(static_cast<char>(std::stoi(pdf.substr(i, 2), nullptr, 16)));
    corvane::TCvDERReader reader(bytes);
    uint8_t tag = 0;
    std::string_view content, whole;
    if (reader.ReadAny(tag, content, whole)) value.der = std::string(whole);
    return value;
  }
  // The file with another value in the same place, written as name; empty when it does not fit.
  static std::string WithValue(const std::string& pdf, const TValue& value, const std::string& der,
                               const std::string& name) {
    std::string hex;
    for (const char c : der) {
      char two[3];
      std::snprintf(two, sizeof two, "%02X", static_cast<unsigned char>(c));
      hex += two;
    }
    if (value.end <= value.start || hex.size() + 2 > value.end - value.start) return "";
    hex.resize(value.end - value.start - 2, '0');
    return dir_->Write(name, pdf.substr(0, value.start + 1) + hex + pdf.substr(value.end - 1));
  }

  static inline ScratchDir* dir_ = nullptr;
  static inline bool made_ = false;
};

TEST_F(VerifyTrustTest, AnchorFromTrustFileOrDatabase) {
  const std::string pdf = Signed("good", "Trust Test CA", "3001");
  TCommandResult run = Verify(pdf);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("  valid: yes\n  trusted: no (no trust anchor for issuer CN=Trust Test "
                         "CA)\n  certificate valid at signing time: yes (time claimed by the "
                         "signer)\n  revocation: not checked\n"),
            std::string::npos)
      << run.out;

  run = Verify(pdf, Trust("ca"));
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("  trusted: yes\n"), std::string::npos) << run.out;

  // The same as JSON, read by Python's parser.
  run = Verify(pdf, Trust("ca") + " --json");
  EXPECT_EQ(run.status, 0);
  dir_->Write("report.json", run.out);
  const TCommandResult parsed = RunCapturing(
      "python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); s=d[\"signatures\"][0]; "
      "print(d[\"allVerified\"], s[\"valid\"], s[\"trusted\"], s[\"trustProblem\"], "
      "s[\"chain\"], s[\"checkedTimeSource\"], s[\"revocation\"])' " +
      Quote(dir_->File("report.json")));
  EXPECT_EQ(parsed.out,
            "True True True None ['CN=Trust good', 'CN=Trust Test CA'] signer not checked\n")
      << parsed.err << run.out;

  // In the database without trust the authority is an intermediate only;
  // trusted as a root, it is an anchor.
  const std::string db = Quote("sql:" + dir_->File("db"));
  ASSERT_EQ(RunCapturing("certutil -A -d " + db + " -n ca -t ,, -i " + Quote(dir_->File("ca.pem")))
                .status,
            0);
  run = Verify(pdf);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("  trusted: no (self-signed certificate CN=Trust Test CA is not a trust "
                         "anchor)\n"),
            std::string::npos)
      << run.out;
  ASSERT_EQ(RunCapturing("certutil -M -d " + db + " -n ca -t CT,C,C").status, 0);
  run = Verify(pdf);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  ASSERT_EQ(RunCapturing("certutil -D -d " + db + " -n ca").status, 0);
}

TEST_F(VerifyTrustTest, EachRefusalIsNamed) {
  const struct {
    const char* name;
    const char* issuer;
    const char* serial;
    const char* trusted;
    const char* validAtTime;
  } cases[] = {
      {"expired", "Trust Test CA", "3002",
       "no (certificate CN=Trust expired expired at signing time)", "no"},
      {"nosign", "Trust Test CA", "3003", "no (signer key usage does not allow signing)", "yes"},
      {"odd", "Trust Test CA", "3004", "no (unknown critical extension 1.2.3.4 in CN=Trust odd)",
       "yes"},
      {"self", "Trust self", "3005",
       "no (self-signed certificate CN=Trust self is not a trust "
       "anchor)",
       "yes"},
  };
  for (const auto& c : cases) {
    const TCommandResult run = Verify(Signed(c.name, c.issuer, c.serial), Trust("ca"));
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_NE(run.out.find("  valid: yes\n  trusted: " + std::string(c.trusted) +
                           "\n  certificate valid at signing time: " + c.validAtTime),
              std::string::npos)
        << run.out;
  }
  // A self-signed signer given as its own anchor.
  const TCommandResult self = Verify(dir_->File("self.pdf"), Trust("self"));
  EXPECT_EQ(self.status, 0) << self.out;
  EXPECT_NE(self.out.find("  trusted: yes\n"), std::string::npos) << self.out;
}

// The value re-made by openssl: signed with a look-alike of the signer's
// certificate (same subject, an issuer of the same name but another key) and
// carrying the real certificate first. The look-alike is what gets judged.
TEST_F(VerifyTrustTest, LookAlikeSignerIsNotTrusted) {
  const std::string pdf = ReadFile(Signed("real", "Trust Test CA", "3001"));
  const TValue value = ValueOf(pdf);
  ASSERT_GT(value.end, value.start);
  dir_->Write("signed.bin", value.covered);
  dir_->Write("evil.ext", "keyUsage=critical,digitalSignature\n");
  const TCommandResult made = RunCapturing(
      "cd " + Quote(dir_->Path()) +
      " && openssl req -x509 -newkey rsa:2048 -nodes -keyout evilca.key -out evilca.pem -days 30"
      " -subj '/CN=Trust Test CA' -addext basicConstraints=critical,CA:TRUE 2>/dev/null"
      " && openssl req -new -newkey rsa:2048 -nodes -keyout evil.key -subj '/CN=Trust good'"
      " -out evil.csr 2>/dev/null && openssl x509 -req -in evil.csr -CA evilca.pem -CAkey"
      " evilca.key -set_serial 0x4001 -days 30 -extfile evil.ext -out evil.pem 2>/dev/null"
      " && cat good.pem evil.pem > both.pem && openssl cms -sign -binary -md sha256 -in"
      " signed.bin -signer evil.pem -inkey evil.key -nocerts -certfile both.pem -outform DER"
      " -out evil.der");
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string forged =
      WithValue(pdf, value, ReadFile(dir_->File("evil.der")), "lookalike.pdf");
  ASSERT_FALSE(forged.empty());
  const TCommandResult run = Verify(forged, Trust("ca"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("  valid: yes\n  trusted: no (no trust anchor for issuer CN=Trust Test "
                         "CA)\n"),
            std::string::npos)
      << run.out;
}

// The certificates are checked at the time of a timestamp token that a local
// authority (openssl ts) puts on the signature value.
TEST_F(VerifyTrustTest, TimestampTimeIsUsed) {
  const std::string pdf = ReadFile(Signed("stamped", "Trust Test CA", "3001"));
  const TValue value = ValueOf(pdf);
  TOvPKCS7Message message;
  ASSERT_EQ(message.LoadFromBytes(value.der), 0);
  ASSERT_EQ(message.SignedData().SignerCount(), 1);
  TOvPKCS7Signer& signer = *message.SignedData().Signers(0);
  dir_->Write("value.bin", signer.EncryptedDigest);
  dir_->Write("tsa.ext", "extendedKeyUsage=critical,timeStamping\n");
  dir_->Write("tsa.cnf", "[tsa]\ndefault_tsa = t\n[t]\ndir = " + dir_->Path() +
                             "\nserial = $dir/tsa-serial\nsigner_cert = $dir/tsa.pem\n"
                             "signer_key = $dir/tsa.key\nsigner_digest = sha256\n"
                             "default_policy = 1.2.3.4.1\ndigests = sha256\n"
                             "ess_cert_id_alg = sha256\n");
  dir_->Write("tsa-serial", "01\n");
  const TCommandResult made = RunCapturing(
      "cd " + Quote(dir_->Path()) +
      " && openssl req -new -newkey rsa:2048 -nodes -keyout tsa.key -subj '/CN=Trust TSA'"
      " -out tsa.csr 2>/dev/null && openssl x509 -req -in tsa.csr -CA ca.pem -CAkey ca.key"
      " -set_serial 0x3007 -days 30 -extfile tsa.ext -out tsa.pem 2>/dev/null"
      " && openssl ts -query -data value.bin -sha256 -cert -out q.tsq"
      " && openssl ts -reply -config tsa.cnf -queryfile q.tsq -token_out -out token.der");
  ASSERT_EQ(made.status, 0) << made.err;
  signer.UnauthenticatedAttributes.Add(oid::ATTR_TIMESTAMP_TOKEN,
                                       ReadFile(dir_->File("token.der")));
  const std::string stamped = WithValue(pdf, value, message.SaveToBytes(), "stamped-ts.pdf");
  ASSERT_FALSE(stamped.empty());
  const TCommandResult run = Verify(stamped, Trust("ca") + " --json");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("\"checkedTimeSource\": \"timestamp\""), std::string::npos) << run.out;
  EXPECT_NE(Verify(stamped, Trust("ca")).out.find("certificate valid at signing time: yes\n"),
            std::string::npos);
}

TEST_F(VerifyTrustTest, BadTrustFileIsUsageError) {
  dir_->Write("empty.pem", "no certificate here\n");
  dir_->Write("broken.pem", "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n");
  for (const auto& [file, why] :
       {std::pair<std::string, std::string>{"empty", "holds no PEM certificate"},
        {"broken", "certificate 1: Invalid certificate data"},
        {"missing", "cannot be read"}}) {
    const TCommandResult run = Verify(dir_->File("in.pdf"), Trust(file));
    EXPECT_EQ(run.status, 2) << file;
    EXPECT_NE(run.err.find("--trust " + dir_->File(file + ".pem") + ": " + why), std::string::npos)
        << run.err;
  }
}

// An EC P-256 authority issuing an RSA signer: the link is an ECDSA signature.
TEST_F(VerifyTrustTest, EcAuthorityIssuesRsaSigner) {
  const std::string d = Quote(dir_->Path());
  const TCommandResult made = RunCapturing(
      "cd " + d +
      " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ecca.key"
      " -out ecca.pem -days 30 -subj '/CN=Trust EC CA' -addext"
      " basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null"
      " && openssl req -new -newkey rsa:2048 -nodes -keyout ecuser.key -subj '/CN=Trust ecuser'"
      " -out ecuser.csr 2>/dev/null && printf 'keyUsage=critical,digitalSignature\\n' > ecuser.ext"
      " && openssl x509 -req -in ecuser.csr -CA ecca.pem -CAkey ecca.key -set_serial 0x3006"
      " -days 30 -extfile ecuser.ext -out ecuser.pem 2>/dev/null"
      " && openssl pkcs12 -export -in ecuser.pem -inkey ecuser.key -name ecuser -out ecuser.p12"
      " -passout pass:t && pk12util -i ecuser.p12 -d sql:db -W t");
  ASSERT_EQ(made.status, 0) << made.err;
  const TCommandResult run = Verify(Signed("ecuser", "Trust EC CA", "3006"), Trust("ecca"));
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("  trusted: yes\n"), std::string::npos) << run.out;
}

}  // namespace
