// Certification paths over certificates openssl makes: the constraints of
// issuers, a name whose key did not sign, and a loop of two authorities that
// certify each other.
#include <gtest/gtest.h>

#include <memory>

#include "tests/pki/PkiTestSupport.h"
#include "toolkit/pki/CvCertPath.h"
#include "toolkit/pki/CvX509.h"

using namespace corvane;
using tavra_test::Quote;
using tavra_test::ScratchDir;

namespace {

// root NAME SUBJECT CONSTRAINTS: a self-signed authority; issue NAME SUBJECT
// ISSUER EXT: a certificate for NAME's key signed with ISSUER's key.
constexpr const char* kScript = R"(set -e
cat > ext.cnf <<'EOF'
[ca]
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
[noca]
basicConstraints=critical,CA:FALSE
keyUsage=critical,keyCertSign,digitalSignature
[leaf]
keyUsage=critical,digitalSignature
EOF
root() { openssl req -x509 -newkey rsa:2048 -nodes -keyout $1.key -out $1.pem -days 30 \
  -subj "/CN=$2" -addext "basicConstraints=critical,$3" -addext "keyUsage=critical,keyCertSign" \
  ${4:+-addext subjectKeyIdentifier=none -addext authorityKeyIdentifier=none} 2>/dev/null; }
issue() { openssl req -new -key $1.key -subj "/CN=$2" -out $1.csr 2>/dev/null
  openssl x509 -req -in $1.csr -CA $3.pem -CAkey $3.key -set_serial $RANDOM$RANDOM \
  -days 30 -extfile ext.cnf -extensions $4 -out $1.pem 2>/dev/null; }
key() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out $1.key 2>/dev/null; }
root root0 "PT Root" CA:TRUE,pathlen:0
root other "PT Root" CA:TRUE
root nokid "PT Root" CA:TRUE no-key-identifiers
for n in inter leaf noca below looped; do key $n; done
issue inter "PT Intermediate" root0 ca
issue leaf "PT Leaf" inter leaf
issue noca "PT Not CA" root0 noca
issue below "PT Below Not CA" noca leaf
# X (PT Loop A) and Y (PT Loop B) each signed with the other's key.
root loopA "PT Loop A" CA:TRUE
root loopB "PT Loop B" CA:TRUE
cp loopA.key X.key && cp loopB.key Y.key
issue X "PT Loop A" loopB ca
issue Y "PT Loop B" loopA ca
issue looped "PT Looped" X leaf
for f in *.pem; do openssl x509 -in $f -outform DER -out ${f%.pem}.der; done
)";

class CertPathTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!tavra_test::HaveTool("openssl")) return;
    dir_ = new ScratchDir;
    int status = -1;
    tavra_test::RunCommand("cd " + Quote(dir_->Path()) + " && bash -c " + Quote(kScript), &status);
    made_ = status == 0;
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override {
    TAVRA_REQUIRE_TOOL("openssl");
    ASSERT_TRUE(made_);
  }

  const TOvX509Certificate* Cert(const std::string& name) {
    auto c = std::make_unique<TOvX509Certificate>();
    c->LoadFromBytes(pkitest::ReadFile(dir_->File(name + ".der")));
    held_.push_back(std::move(c));
    return held_.back().get();
  }

  static inline ScratchDir* dir_ = nullptr;
  static inline bool made_ = false;
  std::vector<std::unique_ptr<TOvX509Certificate>> held_;
};

TEST_F(CertPathTest, IssuerConstraintsAreChecked) {
  const TDateTime now = NowUTC();
  // The root allows no authority below it, and the intermediate is one.
  TOvCertPathResult r = BuildAndValidatePath(Cert("leaf"), {Cert("inter")}, {Cert("root0")}, now);
  EXPECT_FALSE(r.Trusted);
  EXPECT_EQ(r.Failure, cpfPathLength);
  EXPECT_EQ(r.Reason, "path length constraint of CN=PT Root exceeded");
  ASSERT_EQ(r.Path.size(), 3u);
  EXPECT_TRUE(r.ValidAtMoment);
  // Straight below the root a signer is trusted.
  r = BuildAndValidatePath(Cert("noca"), {}, {Cert("root0")}, now);
  EXPECT_TRUE(r.Trusted) << r.Reason;
  EXPECT_EQ(r.Reason, "");
  // An issuer without cA, even with keyCertSign.
  r = BuildAndValidatePath(Cert("below"), {Cert("noca")}, {Cert("root0")}, now);
  EXPECT_EQ(r.Failure, cpfNotCA);
  EXPECT_EQ(r.Reason, "issuer CN=PT Not CA is not a certification authority");
  // Years later every certificate has expired: the signer is named first.
  r = BuildAndValidatePath(Cert("noca"), {}, {Cert("root0")}, now + 400);
  EXPECT_EQ(r.Reason, "certificate CN=PT Not CA expired at signing time");
  EXPECT_FALSE(r.ValidAtMoment);
}

TEST_F(CertPathTest, ForeignKeysAndLoopsLeadNowhere) {
  const TDateTime now = NowUTC();
  // "other" carries the root's name but another key identifier; "nokid" the
  // name without any, and not the key.
  TOvCertPathResult r = BuildAndValidatePath(Cert("inter"), {}, {Cert("other")}, now);
  EXPECT_EQ(r.Reason, "no trust anchor for issuer CN=PT Root");
  r = BuildAndValidatePath(Cert("inter"), {}, {Cert("nokid")}, now);
  EXPECT_EQ(r.Failure, cpfBadSignature);
  EXPECT_EQ(r.Reason, "signature of CN=PT Intermediate does not verify with the key of CN=PT Root");
  // Two authorities certify each other; no anchor is ever reached, and the
  // search ends.
  r = BuildAndValidatePath(Cert("looped"), {Cert("X"), Cert("Y")}, {}, now);
  EXPECT_FALSE(r.Trusted);
  EXPECT_EQ(r.Failure, cpfNoAnchor);
  EXPECT_EQ(r.Reason, "no trust anchor for issuer CN=PT Loop A");
  EXPECT_EQ(r.Path.size(), 3u);
  // An anchor with X's name and key ends the path at once.
  r = BuildAndValidatePath(Cert("looped"), {Cert("X"), Cert("Y")}, {Cert("loopA")}, now);
  EXPECT_TRUE(r.Trusted) << r.Reason;
  EXPECT_EQ(r.Path.size(), 2u);
  // No signer at all.
  EXPECT_EQ(BuildAndValidatePath(nullptr, {}, {}, now).Failure, cpfNoSigner);
}

}  // namespace
