// `tavrapdf verify` on signatures made by openssl over placeholders written
// here, and on attacks made from them: the signer shown is the one the
// SignerInfo names, a swapped certificate is caught by its ESS attribute, and
// a byte range that leaves out anything but the /Contents string of its own
// revision is refused.
#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "tests/pdf/PdfFixtures.h"

using namespace pdftest;
using namespace tavra_test;

namespace {

const std::string kTool = std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf";
const std::string kGolden = std::string(TAVRA_SOURCE_DIR) + "/tests/golden/";

std::string Run(const std::string& command) {
  int status = -1;
  const std::string out = RunCommand(command + " 2>&1", &status);
  EXPECT_EQ(status, 0) << command << "\n" << out;
  return out;
}

// The golden signer's key and certificate, an unrelated self-signed
// certificate, and one with the signer's key, issuer name and serial but
// another subject.
struct TKeys {
  ScratchDir dir;
  TKeys() {
    const std::string p12 = Quote(kGolden + "signer.p12");
    Run("openssl pkcs12 -in " + p12 + " -passin pass:tavra -nodes -nocerts -out " +
        Quote(dir / "key.pem"));
    Run("openssl pkcs12 -in " + p12 + " -passin pass:tavra -clcerts -nokeys -out " +
        Quote(dir / "cert.pem"));
    Run("openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj '/CN=Mallory Other' -keyout " +
        Quote(dir / "other.key") + " -out " + Quote(dir / "other.pem"));
    Run("openssl req -x509 -newkey rsa:2048 -nodes -days 30 "
        "-subj '/CN=Tavra Golden CA/O=Tavra Test/C=CZ' -keyout " +
        Quote(dir / "fakeca.key") + " -out " + Quote(dir / "fakeca.pem"));
    Run("openssl req -new -key " + Quote(dir / "key.pem") + " -subj '/CN=Eve Impostor' -out " +
        Quote(dir / "eve.csr"));
    Run("openssl x509 -req -in " + Quote(dir / "eve.csr") + " -CA " + Quote(dir / "fakeca.pem") +
        " -CAkey " + Quote(dir / "fakeca.key") + " -set_serial 0x2A17 -days 30 -out " +
        Quote(dir / "eve.pem"));
  }
  std::string Signer() const {
    return "-signer " + Quote(dir / "cert.pem") + " -inkey " + Quote(dir / "key.pem");
  }
  std::string operator/(const std::string& name) const { return dir / name; }
};

const TKeys& Keys() {
  static const TKeys keys;
  return keys;
}

constexpr size_t kHexDigits = 16384;
const std::string kRangeSlot = "[0 0000000000 0000000000 0000000000]";

// One page and, in an update, a signature field whose dictionary holds a
// /ByteRange slot and a zero /Contents of kHexDigits digits (broken into
// lines when asked). dictExtra goes into the signature dictionary.
std::string Placeholder(const std::string& subFilter, bool lineBreaks,
                        const std::string& dictExtra = "") {
  std::string zeros;
  for (size_t i = 0; i < kHexDigits; i += 64)
    zeros += std::string(64, '0') + (lineBreaks ? "\n" : "");
  TFixture base = OnePage();
  const std::string plain = base.Build();
  return AppendUpdate(
      plain,
      {{1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [6 0 R] /SigFlags 3 >> >>"},
       {3,
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        "/Annots [6 0 R] >>"},
       {5, "<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /" + subFilter + dictExtra +
               " /M (D:20260101120000Z) /ByteRange " + kRangeSlot + " /Contents <" + zeros +
               "> >>"},
       {6,
        "<< /FT /Sig /T (Signature1) /V 5 0 R /Type /Annot /Subtype /Widget "
        "/Rect [0 0 0 0] /P 3 0 R /F 132 >>"}},
      7);
}

// The byte range text put in the slot, from the offsets of "<" and just
// after ">" of /Contents and the file size.
using TRangeText = std::function<std::string(size_t lt, size_t gt, size_t size)>;

std::string Exact(size_t lt, size_t gt, size_t size) {
  return "[0 " + std::to_string(lt) + " " + std::to_string(gt) + " " + std::to_string(size - gt) +
         "]";
}

// Fills the byte range, has openssl sign the covered bytes (cmsOptions after
// "openssl cms -sign"), patches the DER into /Contents in place of the zeros
// and returns the file.
std::string SignPlaceholder(const ScratchDir& dir, std::string pdf, const std::string& cmsOptions,
                            const TRangeText& range = Exact) {
  const size_t lt = pdf.find("/Contents <") + 10;
  const size_t gt = pdf.find('>', lt) + 1;
  std::string text = range(lt, gt, pdf.size());
  EXPECT_LE(text.size(), kRangeSlot.size()) << text;
  text.insert(text.size() - 1, kRangeSlot.size() - text.size(), ' ');
  pdf.replace(pdf.find(kRangeSlot), kRangeSlot.size(), text);
  // What the first two pairs cover, as a verifier that trusts them would hash.
  std::vector<long long> numbers;
  const std::regex integer("-?[0-9]+");
  for (std::sregex_iterator it(text.begin(), text.end(), integer), end; it != end; ++it)
    numbers.push_back(std::stoll(it->str()));
  std::string covered;
  for (size_t i = 0; i + 1 < numbers.size() && i < 4; i += 2)
    if (numbers[i] >= 0 && numbers[i + 1] >= 0 &&
        static_cast<size_t>(numbers[i] + numbers[i + 1]) <= pdf.size())
      covered += pdf.substr(static_cast<size_t>(numbers[i]), static_cast<size_t>(numbers[i + 1]));
  WriteFile(dir / "covered.bin", covered);
  Run("openssl cms -sign -binary -outform DER -in " + Quote(dir / "covered.bin") + " -out " +
      Quote(dir / "sig.der") + " " + cmsOptions);
  const std::string der = ReadFile(dir / "sig.der");
  EXPECT_LT(2 * der.size(), kHexDigits);
  static const char kDigits[] = "0123456789abcdef";
  size_t at = lt + 1;
  for (unsigned char byte : der) {
    for (const char digit : {kDigits[byte >> 4], kDigits[byte & 15]}) {
      while (pdf[at] == '\n') ++at;
      pdf[at++] = digit;
    }
  }
  return pdf;
}

std::string Verify(const ScratchDir& dir, const std::string& pdf) {
  WriteFile(dir / "test.pdf", pdf);
  return RunCommand(kTool + " verify " + Quote(dir / "test.pdf") + " 2>&1");
}

// openssl and poppler accept the controls, over the same bytes.
void ExpectCheckersAccept(const ScratchDir& dir, const std::string& pdf) {
  TAVRA_REQUIRE_TOOL("pdfsig");
  WriteFile(dir / "checked.pdf", pdf);
  Run("openssl cms -verify -binary -inform DER -in " + Quote(dir / "sig.der") + " -content " +
      Quote(dir / "covered.bin") + " -CAfile " + Quote(kGolden + "ca.crt") +
      " -purpose any -out /dev/null");
  const std::string report = RunCommand("pdfsig -nocert " + Quote(dir / "checked.pdf") + " 2>&1");
  EXPECT_NE(report.find("Signature Validation: Signature is Valid."), std::string::npos) << report;
}

TEST(VerifyCades, OpensslSignaturesVerifyWithTheDigestTheyName) {
  TAVRA_REQUIRE_TOOL("openssl");
  for (const char* md : {"sha384", "sha512"}) {
    ScratchDir dir;
    const std::string pdf =
        SignPlaceholder(dir, Placeholder("ETSI.CAdES.detached", false),
                        "-cades -md " + std::string(md) + " " + Keys().Signer());
    const std::string out = Verify(dir, pdf);
    EXPECT_NE(out.find("  signer: Jana Zlatá\n"), std::string::npos) << out;
    EXPECT_NE(out.find(md == std::string("sha384") ? "digest: SHA-384" : "digest: SHA-512"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("covers the whole file but the signature value: yes"), std::string::npos)
        << out;
    EXPECT_NE(out.find("valid: yes"), std::string::npos) << out;
    ExpectCheckersAccept(dir, pdf);
  }
}

// A /Contents string broken into lines is still exactly what the range leaves out.
TEST(VerifyContents, HexStringWithLineBreaksCoversTheWholeFile) {
  TAVRA_REQUIRE_TOOL("openssl");
  ScratchDir dir;
  const std::string pdf = SignPlaceholder(dir, Placeholder("adbe.pkcs7.detached", true),
                                          "-md sha256 " + Keys().Signer());
  const std::string out = Verify(dir, pdf);
  EXPECT_NE(out.find("covers the whole file but the signature value: yes"), std::string::npos)
      << out;
  EXPECT_NE(out.find("valid: yes"), std::string::npos) << out;
  ExpectCheckersAccept(dir, pdf);
}

// What the SignedData lists first, or another certificate with the same key,
// never becomes the signer.
TEST(VerifySigner, TheSignerInfoNamesTheSigner) {
  TAVRA_REQUIRE_TOOL("openssl");
  const std::string placeholder = Placeholder("adbe.pkcs7.detached", false);
  for (const std::string& first : {Keys() / "other.pem", kGolden + "ca.crt"}) {
    ScratchDir dir;
    const std::string out = Verify(
        dir, SignPlaceholder(dir, placeholder,
                             "-md sha256 -certfile " + Quote(first) + " " + Keys().Signer()));
    EXPECT_NE(out.find("  signer: Jana Zlatá\n"), std::string::npos) << first << "\n" << out;
    EXPECT_NE(out.find("valid: yes"), std::string::npos) << out;
  }

  ScratchDir dir;
  const std::string swapped = SignPlaceholder(
      dir, placeholder,
      "-cades -md sha256 -nocerts -certfile " + Quote(Keys() / "eve.pem") + " " + Keys().Signer());
  const std::string out = Verify(dir, swapped);
  EXPECT_NE(out.find("valid: no (the signing-certificate attribute names another certificate"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("valid: yes"), std::string::npos) << out;
}

TEST(VerifySigner, TwoSignerInfosAreNotValid) {
  TAVRA_REQUIRE_TOOL("openssl");
  ScratchDir dir;
  const std::string out =
      Verify(dir, SignPlaceholder(dir, Placeholder("adbe.pkcs7.detached", false),
                                  "-md sha256 " + Keys().Signer() + " -signer " +
                                      Quote(Keys() / "other.pem") + " -inkey " +
                                      Quote(Keys() / "other.key")));
  EXPECT_NE(out.find("valid: no (the signature has more than one signer)"), std::string::npos)
      << out;
}

// Each malformed shape, signed as it stands, is refused for its shape alone.
TEST(VerifyByteRange, MalformedShapesAreNotValid) {
  TAVRA_REQUIRE_TOOL("openssl");
  const std::string placeholder = Placeholder("adbe.pkcs7.detached", false);
  const std::pair<std::string, TRangeText> cases[] = {
      {"five entries",
       [](size_t lt, size_t gt, size_t size) {
         return "[0 " + std::to_string(lt) + " " + std::to_string(gt) + " " +
                std::to_string(size - gt) + " 0]";
       }},
      {"negative",
       [](size_t lt, size_t gt, size_t size) {
         return "[0 " + std::to_string(lt) + " " + std::to_string(gt) + " -" +
                std::to_string(size - gt) + "]";
       }},
      {"a before the <",
       [](size_t lt, size_t gt, size_t size) {
         return "[0 " + std::to_string(lt - 1) + " " + std::to_string(gt) + " " +
                std::to_string(size - gt) + "]";
       }},
      {"b + c short of the revision end",
       [](size_t lt, size_t gt, size_t size) {
         return "[0 " + std::to_string(lt) + " " + std::to_string(gt) + " " +
                std::to_string(size - gt - 7) + "]";
       }},
  };
  for (const auto& [name, range] : cases) {
    ScratchDir dir;
    const std::string out =
        Verify(dir, SignPlaceholder(dir, placeholder, "-md sha256 " + Keys().Signer(), range));
    EXPECT_NE(out.find("valid: no (byte range malformed)"), std::string::npos) << name << "\n"
                                                                               << out;
  }
  ScratchDir dir;
  const std::string twice = SignPlaceholder(
      dir, Placeholder("adbe.pkcs7.detached", false, " /Name (Jana Zlatá) /Name (Someone Else)"),
      "-md sha256 " + Keys().Signer());
  const std::string out = Verify(dir, twice);
  EXPECT_NE(out.find("valid: no (byte range malformed)"), std::string::npos) << out;
}

}  // namespace
