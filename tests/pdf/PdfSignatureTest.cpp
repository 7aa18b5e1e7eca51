// Signing documents: the updates that signature entries write, checked by
// pdfsig, qpdf and the poppler renderer; and the rules around them.
#include <gtest/gtest.h>

#include <functional>
#include <cstdlib>
#include <ctime>
#include <regex>

#include "tests/pdf/PdfFixtures.h"
#include "tests/pdf/SigningTestHandler.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDFSecurity.h"

namespace pdftest {
namespace {

using corvane::TOvPDFDocument;
using corvane::TOvPDFSignature;
using tavra_test::Quote;
using tavra_test::ReadFile;
using tavra_test::RunCommand;
using tavra_test::ScratchDir;

using TSetup = std::function<void(TOvPDFSignature&)>;

// Opens input, adds one entry per setup and closes with saving. Returns the
// signed bytes; error receives the failure text (empty on success).
std::string Sign(const std::string& input, TSigningTestHandler& handler,
                 const std::vector<TSetup>& setups, std::string* error = nullptr) {
  corvane::TOvMemoryStream stream(input);
  TOvPDFDocument document;
  try {
    document.Open(stream);
    for (const TSetup& setup : setups) {
      TOvPDFSignature* entry = document.Signatures(document.AddSignature());
      entry->SetHandler(&handler);
      entry->SetReason("Schváleno");
      entry->SetSigningTime(45356.29733796);  // 2024-03-05 07:08:10
      if (setup) setup(*entry);
    }
    document.Close(true);
  } catch (const corvane::ECorvaneError& e) {
    if (error) *error = e.what();
    EXPECT_NE(error, nullptr) << e.what();
    return {};
  }
  if (error) error->clear();
  return stream.Data();
}

const TSetup kInvisible = [](TOvPDFSignature& e) { e.SetInvisible(true); };
const TSetup kVisible = [](TOvPDFSignature&) {};
const TSetup kCertify = [](TOvPDFSignature& e) {
  e.SetSignatureType(corvane::stMDP);
  e.SetAllowedChanges(corvane::PDF_ALLOW_FORM_FILL);
};

std::string ObjectStreamsFile(const ScratchDir& dir) {
  return QpdfVariant(dir, OnePage().Build(), "--object-streams=generate", "objstm");
}

// The checks every kind of input and signature must pass.
TEST(Signing, EveryKindOfInputAndSignatureValidates) {
  TAVRA_REQUIRE_TOOL("pdfsig");
  ScratchDir dir;
  const std::string classic = OnePage().Build();
  const std::string objstm = ObjectStreamsFile(dir);
  ASSERT_FALSE(objstm.empty());
  const std::string updated =
      AppendUpdate(AppendUpdate(classic, {{5, "(first)"}}, 6), {{6, "(second)"}}, 7);
  TFixture rotated = OnePage();
  rotated.objects[2].second =
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Rotate 90 /Contents 4 0 R >>";
  const struct {
    const char* name;
    std::string input;
    TSetup setup;
  } cases[] = {
      {"classic-invisible", classic, kInvisible}, {"classic-visible", classic, kVisible},
      {"classic-certify", classic, kCertify},     {"objstm-invisible", objstm, kInvisible},
      {"objstm-visible", objstm, kVisible},       {"objstm-certify", objstm, kCertify},
      {"hybrid-visible", HybridFile(), kVisible}, {"updates-visible", updated, kVisible},
      {"updates-certify", updated, kCertify},     {"rotated-visible", rotated.Build(), kVisible},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TSigningTestHandler handler;
    const std::string signedPdf = Sign(c.input, handler, {c.setup});
    const std::string path = dir.Write(std::string(c.name) + ".pdf", signedPdf);
    ExpectSignedCleanly(c.input, path, 1);
    // What was hashed is the whole file but the /Contents hex string.
    const size_t contents = signedPdf.find("/Contents <", c.input.size()) + 10;
    const size_t end = signedPdf.find('>', contents) + 1;
    EXPECT_EQ(handler.HashedBytes(), signedPdf.substr(0, contents) + signedPdf.substr(end));
  }
}

TEST(Signing, SignedFilesAreSignedAgainWithoutDisturbingEarlierSignatures) {
  TAVRA_REQUIRE_TOOL("pdfsig");
  const tavra_fixture::Store& store = tavra_fixture::Store::Get();
  ASSERT_TRUE(store.Ok()) << store.Error();
  ScratchDir dir;
  // One signed by pdfsig itself.
  const std::string plain = dir.Write("plain.pdf", OnePage().Build());
  int status = -1;
  const std::string log =
      RunCommand("pdfsig -add-signature -nssdir " + Quote(PdfsigDatabase()) + " -nick rsa2048 " +
                     Quote(plain) + " " + Quote(dir / "theirs.pdf") + " 2>&1",
                 &status);
  ASSERT_EQ(status, 0) << log;
  const std::string theirs = ReadFile(dir / "theirs.pdf");
  TSigningTestHandler handler;
  const std::string ours = Sign(theirs, handler, {kVisible});
  ExpectSignedCleanly(theirs, dir.Write("theirs-ours.pdf", ours), 2);

  // Ours signed twice more, one of them certified first.
  TSigningTestHandler second;
  const std::string certified = Sign(OnePage().Build(), second, {kCertify});
  const std::string twice = Sign(certified, second, {kVisible});
  ExpectSignedCleanly(certified, dir.Write("twice.pdf", twice), 2);
  const std::string thrice = Sign(twice, second, {kInvisible});
  ExpectSignedCleanly(twice, dir.Write("thrice.pdf", thrice), 3);
  // Fields are named in order, after the ones already taken.
  EXPECT_NE(thrice.find("/T (Signature3)"), std::string::npos);
  // A signature after a certification is marked locked only (/F 128).
  EXPECT_NE(twice.find("/F 128", certified.size()), std::string::npos);

  // Two new entries in one save: two updates, each complete.
  TSigningTestHandler both;
  const std::string input = OnePage().Build();
  const std::string two = Sign(input, both, {kInvisible, kVisible});
  ExpectSignedCleanly(input, dir.Write("two.pdf", two), 2);
}

TEST(Signing, ReadsExistingSignaturesBack) {
  TSigningTestHandler handler;
  const std::string once = Sign(OnePage().Build(), handler, {kCertify});
  const std::string twice = Sign(once, handler, {kInvisible});
  corvane::TOvMemoryStream stream(twice);
  TOvPDFDocument document;
  document.Open(stream);
  ASSERT_EQ(document.SignatureCount(), 2u);
  TOvPDFSignature* first = document.Signatures(0);
  EXPECT_TRUE(first->Written());
  EXPECT_EQ(first->SignatureName(), "Signature1");
  EXPECT_EQ(first->SignatureType(), corvane::stMDP);
  EXPECT_EQ(first->Reason(), "Schváleno");
  EXPECT_FALSE(first->Invisible());
  EXPECT_EQ(first->WidgetProps().Width, 70);
  ASSERT_EQ(first->References().size(), 2u);
  EXPECT_EQ(first->References()[0].P, 2);
  EXPECT_EQ(first->References()[1].Fields, std::vector<std::string>{"Signature1"});
  TOvPDFSignature* second = document.Signatures(1);
  EXPECT_EQ(second->SignatureName(), "Signature2");
  EXPECT_TRUE(second->Invisible());
  ASSERT_EQ(second->ByteRanges().size(), 2u);
  EXPECT_EQ(second->ByteRanges()[1].Offset + second->ByteRanges()[1].Length,
            static_cast<int64_t>(twice.size()));
}

// The placeholders: a 46-character /ByteRange naming the reserved hex
// string, which holds exactly N bytes of value and not one more.
// A form that already has an empty signature field: the value goes into it.
TEST(Signing, FillsAnEmptySignatureField) {
  TAVRA_REQUIRE_TOOL("pdfsig");
  ScratchDir dir;
  TFixture f = OnePage();
  f.objects[0].second = "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R] >> >>";
  f.objects[2].second =
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Annots [5 0 R] >>";
  f.Add(5,
        "<< /FT /Sig /T (Approval) /Type /Annot /Subtype /Widget /F 4 /Rect [100 100 200 150] "
        "/P 3 0 R >>");
  const std::string input = f.Build();
  corvane::TOvMemoryStream stream(input);
  TOvPDFDocument document;
  document.Open(stream);
  ASSERT_EQ(document.EmptySignatureFields().size(), 1u);
  EXPECT_EQ(document.EmptySignatureFields()[0].FieldName, "Approval");
  TSigningTestHandler handler;
  TOvPDFSignature* entry = document.Signatures(document.AddSignature());
  entry->SetHandler(&handler);
  entry->SetFieldDictionary(document.EmptySignatureFields()[0].Field);
  entry->SetExistingField(true);
  document.Close(true);
  const std::string path = dir.Write("filled.pdf", stream.Data());
  ExpectSignedCleanly(input, path, 1);
  EXPECT_NE(Pdfsig(path).find("Signature Field Name: Approval"), std::string::npos);
  // The field was updated, not joined by a second one.
  EXPECT_EQ(Count(stream.Data().substr(input.size()), "/FT /Sig"), 1);
  EXPECT_EQ(Count(stream.Data().substr(input.size()), "/T (Approval)"), 1);
}

TEST(Signing, ByteRangeAndPlaceholderSizes) {
  TSigningTestHandler handler;
  handler.estimate = 100;
  handler.fixedSignature = std::string(100, '\xAB');
  const std::string input = OnePage().Build();
  const std::string out = Sign(input, handler, {kInvisible});
  const std::smatch m = [&] {
    std::smatch match;
    static const std::regex range(R"(/ByteRange (\[0 (\d+) (\d+) (\d+)\] *)\r\n)");
    EXPECT_TRUE(std::regex_search(out, match, range));
    return match;
  }();
  ASSERT_EQ(m.size(), 5u);
  EXPECT_EQ(m[1].length(), 46);
  const int64_t c = std::stoll(m[2]);
  EXPECT_EQ(std::stoll(m[3]), c + 202);
  EXPECT_EQ(std::stoll(m[4]), static_cast<int64_t>(out.size()) - c - 202);
  std::string full = "<";
  for (int i = 0; i < 100; ++i) full += "AB";
  EXPECT_EQ(out.substr(static_cast<size_t>(c), 202), full + ">");

  handler.fixedSignature = std::string(101, '\xAB');
  std::string error;
  Sign(input, handler, {kInvisible}, &error);
  EXPECT_EQ(error, "Internal error OvPDFDocument.InsertActualSignatureInformation.2");
}

// The process's time zone, set for a scope.
class TScopedTimeZone {
 public:
  explicit TScopedTimeZone(const char* zone) {
    if (const char* old = getenv("TZ")) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TScopedTimeZone() {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  TScopedTimeZone(const TScopedTimeZone&) = delete;
  TScopedTimeZone& operator=(const TScopedTimeZone&) = delete;

 private:
  std::optional<std::string> saved_;
};

TEST(Signing, SigningTimeInUtcAndInLocalTime) {
  double when = 0;
  ASSERT_TRUE(corvane::TryEncodeDateTime(2024, 3, 5, 7, 8, 9, when));
  TSigningTestHandler handler;
  const TSetup at = [when](TOvPDFSignature& e) {
    e.SetInvisible(true);
    e.SetSigningTime(when);
  };
  EXPECT_NE(Sign(OnePage().Build(), handler, {at}).find("/M (D:20240305070809Z)"),
            std::string::npos);
  // Local digits go with the local offset of the same instant.
  const TScopedTimeZone prague("Europe/Prague");
  corvane::TOvMemoryStream stream(OnePage().Build());
  {
    TOvPDFDocument document;
    document.SetOptions(document.Options() | corvane::PDF_OPTION_USE_LOCAL_TIME_ZONE);
    document.Open(stream);
    TOvPDFSignature* entry = document.Signatures(document.AddSignature());
    entry->SetHandler(&handler);
    at(*entry);
    document.Close(true);
  }
  EXPECT_NE(stream.Data().find("/M (D:20240305080809+01'00')"), std::string::npos);
}

TEST(Signing, HashingFailureFailsTheSave) {
  TSigningTestHandler handler;
  handler.failHash = true;
  std::string error;
  EXPECT_TRUE(Sign(OnePage().Build(), handler, {kInvisible}, &error).empty());
  EXPECT_EQ(error, "The security handler failed to hash the signed byte ranges");
}

TEST(Signing, CertificationRules) {
  TSigningTestHandler handler;
  const std::string input = OnePage().Build();
  std::string error;
  // Certification only comes first.
  const std::string signedOnce = Sign(input, handler, {kInvisible});
  Sign(signedOnce, handler, {kCertify}, &error);
  EXPECT_EQ(error,
            "There is only one MDP signature allowed (it should be a first signature over a "
            "document)");
  Sign(input, handler, {kInvisible, kCertify}, &error);
  EXPECT_NE(error.find("only one MDP"), std::string::npos);
  // A certification that permits no change is not broken by a new signature.
  const std::string locked =
      Sign(input, handler, {[](TOvPDFSignature& e) { e.SetSignatureType(corvane::stMDP); }});
  EXPECT_NE(locked.find("/P 1"), std::string::npos);
  Sign(locked, handler, {kInvisible}, &error);
  EXPECT_EQ(error, "Document certification does not permit changes");
  // The certification's parts: lock, permissions, patched digests.
  const std::string certified = Sign(input, handler, {kCertify});
  const std::string update = certified.substr(input.size());
  EXPECT_NE(update.find("/Type /SigFieldLock"), std::string::npos);
  EXPECT_NE(update.find("/DocMDP"), std::string::npos);
  EXPECT_TRUE(std::regex_search(update, std::regex(R"(/DigestValue <[0-9A-F]{32}>)")));
  EXPECT_TRUE(std::regex_search(update, std::regex(R"(/DigestLocation \[\d+ 34\])")));
  TSigningTestHandler sha1;
  const std::string withSha1 = Sign(input, sha1, {[](TOvPDFSignature& e) {
                                      kCertify(e);
                                      e.SetReferenceDigestMethod(1);
                                    }});
  EXPECT_TRUE(std::regex_search(withSha1, std::regex(R"(/DigestValue <[0-9A-F]{40}>)")));
}

// Cycles in the page tree's neighbourhood and in the form end; nesting past
// the limit is an ordinary error, not a crashed stack.
TEST(Signing, HostileStructuresAreWalkedSafely) {
  TFixture f = OnePage();
  f.objects[0].second = "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [7 0 R] >> >>";
  f.objects[2].second =
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
      "/Resources << /XObject << /Me 3 0 R >> >> /Annots [6 0 R] >>";
  f.Add(6, "<< /Type /Annot /Subtype /Text /Parent 6 0 R /T (loop) /Rect [0 0 1 1] >>");
  f.Add(7, "<< /FT /Sig /T (Empty) /Kids [7 0 R] >>");
  TSigningTestHandler handler;
  const std::string input = f.Build();
  std::string error;
  const std::string out = Sign(input, handler, {kCertify}, &error);
  EXPECT_EQ(error, "");
  EXPECT_GT(out.size(), input.size());

  // A chain of 300 objects, each an array naming the next.
  TFixture nested = OnePage();
  nested.objects[2].second =
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources 8 0 R >>";
  nested.Add(8, "<< /Deep 9 0 R >>");
  for (int n = 9; n < 309; ++n) nested.Add(n, "[" + std::to_string(n + 1) + " 0 R]");
  nested.Add(309, "null");
  Sign(nested.Build(), handler, {kCertify}, &error);
  EXPECT_EQ(error, "Bad object");
}

// A dangling /AcroForm is replaced only when the file never had an object of
// that number; a number the table knows is a damaged form, not a missing one.
TEST(Signing, DanglingAcroFormIsDroppedOnlyWithoutAnEntry) {
  TSigningTestHandler handler;
  std::string error;
  TFixture missing = OnePage();
  missing.objects[0].second = "<< /Type /Catalog /Pages 2 0 R /AcroForm 40 0 R >>";
  const std::string input = missing.Build();
  const std::string out = Sign(input, handler, {kInvisible}, &error);
  EXPECT_EQ(error, "");
  const std::string update = out.substr(std::min(input.size(), out.size()));
  EXPECT_EQ(update.find("40 0 R"), std::string::npos);
  EXPECT_NE(update.find("/SigFlags 3"), std::string::npos);

  TFixture freed = OnePage();
  freed.objects[0].second = "<< /Type /Catalog /Pages 2 0 R /AcroForm 5 0 R >>";
  freed.Add(6, "<< /Other 1 >>");  // leaves 5 as a free entry of the table
  Sign(freed.Build(), handler, {kInvisible}, &error);
  EXPECT_EQ(error, "Invalid AcroForm entry");
}

TEST(Signing, CatalogPermissionsAndPages) {
  TSigningTestHandler handler;
  std::string error;
  // A certification known only from the catalog still forbids a second one.
  TFixture certified = OnePage();
  certified.objects[0].second = "<< /Type /Catalog /Pages 2 0 R /Perms << /DocMDP 5 0 R >> >>";
  certified.Add(5, "<< /Type /Sig /Filter /Adobe.PPKLite /Contents <00> /ByteRange [0 1 2 3] >>");
  Sign(certified.Build(), handler, {kCertify}, &error);
  EXPECT_NE(error.find("only one MDP"), std::string::npos) << error;
  // An indirect /Perms is updated in place and written with the update.
  TFixture perms = OnePage();
  perms.objects[0].second = "<< /Type /Catalog /Pages 2 0 R /Perms 5 0 R >>";
  perms.Add(5, "<< /Other 1 >>");
  const std::string input = perms.Build();
  const std::string update = Sign(input, handler, {kCertify}).substr(input.size());
  const size_t object = update.find("\n5 0 obj");
  ASSERT_NE(object, std::string::npos);
  EXPECT_LT(update.find("/DocMDP", object), update.find("endobj", object));
  // A document without pages has nowhere to put the field.
  TFixture empty;
  empty.Add(1, "<< /Type /Catalog /Pages 2 0 R >>");
  empty.Add(2, "<< /Type /Pages /Kids [] /Count 0 >>");
  Sign(empty.Build(), handler, {kInvisible}, &error);
  EXPECT_EQ(error, "Invalid document (no pages)");
}

TEST(Signing, EncryptedDocumentsAreRefused) {
  ScratchDir dir;
  const std::string encrypted =
      QpdfVariant(dir, OnePage().Build(),
                  "--encrypt user owner 128 --use-aes=y -- --object-streams=disable", "enc");
  ASSERT_FALSE(encrypted.empty());
  corvane::TOvMemoryStream stream(encrypted);
  TOvPDFDocument document;
  document.Open(stream);
  ASSERT_TRUE(document.Encrypted());
  try {
    document.AddSignature();
    ADD_FAILURE() << "an encrypted document accepted a signature";
  } catch (const corvane::EOvPDFDocumentError& e) {
    EXPECT_STREQ(e.what(), "Cannot sign encrypted document");
  }
  EXPECT_EQ(document.SignatureCount(), 0u);
  // Decrypted in place, it is still refused.
  auto* handler = dynamic_cast<corvane::TOvPDFPasswordSecurityHandler*>(document.SecurityHandler());
  ASSERT_NE(handler, nullptr);
  handler->SetUserPassword("user");
  document.Decrypt();
  try {
    document.AddSignature();
    ADD_FAILURE() << "a decrypted document accepted a signature";
  } catch (const corvane::EOvPDFDocumentError& e) {
    EXPECT_STREQ(e.what(), "Cannot sign encrypted document. Invalid decryption mode.");
  }
}

TEST(Signing, NewFieldNamesAvoidEveryFieldOfTheForm) {
  TFixture f = OnePage();
  f.objects[0].second = "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R] >> >>";
  f.Add(5, "<< /FT /Tx /T (Signature1) /V (text) >>");
  TSigningTestHandler handler;
  const std::string out = Sign(f.Build(), handler, {kInvisible});
  EXPECT_NE(out.find("/T (Signature2)"), std::string::npos);
  EXPECT_EQ(out.find("/T (Signature1)", f.Build().size()), std::string::npos);
}

// --- the visible widget ---------------------------------------------------------------------

// Ink in a crop of a rendered page: the number of pixels that are not white.
int InkIn(const std::string& ppm) {
  // P6 header: magic, width, height, maxval, each followed by white space.
  size_t at = 0;
  for (int fields = 0; fields < 4; ++fields) {
    at = ppm.find_first_of(" \n", at) + 1;
  }
  int ink = 0;
  for (size_t i = at; i + 2 < ppm.size(); i += 3) {
    if (static_cast<uint8_t>(ppm[i]) < 200 || static_cast<uint8_t>(ppm[i + 1]) < 200 ||
        static_cast<uint8_t>(ppm[i + 2]) < 200)
      ++ink;
  }
  return ink;
}

TEST(Widget, RendersAtTheTopRightWithCzechLetters) {
  TAVRA_REQUIRE_TOOL("pdftoppm");
  TAVRA_REQUIRE_TOOL("pdftotext");
  ScratchDir dir;
  TFixture f = OnePage();
  f.objects[2].second = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R >>";
  const std::string input = f.Build();
  TSigningTestHandler handler("czech");
  const std::string out = Sign(input, handler, {kVisible});
  const std::string path = dir.Write("visible.pdf", out);
  ExpectSignedCleanly(input, path, 1);
  EXPECT_NE(out.find("/Rect [470 727 540 797]"), std::string::npos);
  EXPECT_NE(out.find("/Differences [128 /Ccaron /aacute]"), std::string::npos);
  const std::string blank = dir.Write("blank.pdf", input);
  // The widget's box at 72 dpi: x 470..540, y from the top 45..115.
  const std::string crop = " -r 72 -x 470 -y 45 -W 70 -H 70 -singlefile ";
  RunCommand("pdftoppm" + crop + Quote(path) + " " + Quote(dir / "signed") + " 2>/dev/null");
  RunCommand("pdftoppm" + crop + Quote(blank) + " " + Quote(dir / "unsigned") + " 2>/dev/null");
  const int signedInk = InkIn(ReadFile(dir / "signed.ppm"));
  EXPECT_EQ(InkIn(ReadFile(dir / "unsigned.ppm")), 0);
  EXPECT_GT(signedInk, 300);
  // The háček of the capital is drawn, not clipped: the name with Č has
  // clearly more ink in its first letter's column than the same name with C.
  TSigningTestHandler plainName("czech");
  plainName.signerName = "Jan Cáp";
  const std::string plain = dir.Write("plain.pdf", Sign(input, plainName, {kVisible}));
  const std::string letter = " -r 400 -x 2680 -y 220 -W 60 -H 80 -singlefile ";
  RunCommand("pdftoppm" + letter + Quote(path) + " " + Quote(dir / "hacek") + " 2>/dev/null");
  RunCommand("pdftoppm" + letter + Quote(plain) + " " + Quote(dir / "nohacek") + " 2>/dev/null");
  EXPECT_GT(InkIn(ReadFile(dir / "hacek.ppm")), InkIn(ReadFile(dir / "nohacek.ppm")) + 40);
  const std::string text =
      RunCommand("pdftotext -x 470 -y 45 -W 70 -H 70 " + Quote(path) + " - 2>/dev/null");
  EXPECT_NE(text.find("Jan Čáp"), std::string::npos) << text;
}

TEST(Widget, GeometryEncodingAndEscapes) {
  TSigningTestHandler handler;
  // A MediaBox given upside down and away from the origin.
  TFixture f = OnePage();
  f.objects[2].second =
      "<< /Type /Page /Parent 2 0 R /MediaBox [100 942 695 100] /Contents 4 0 R >>";
  const std::string moved = Sign(f.Build(), handler, {kVisible});
  EXPECT_NE(moved.find("/Rect [570 827 640 897]"), std::string::npos);

  handler.signerName = "Čáp \\ (x)";
  const std::string out = Sign(OnePage().Build(), handler, {[](TOvPDFSignature& e) {
                                 e.WidgetProps().AutoSize = false;
                                 e.WidgetProps().Width = 100;
                                 e.WidgetProps().Height = 50;
                                 e.WidgetProps().Rotate = 90;
                                 e.WidgetProps().ShowDate = false;
                                 e.WidgetProps().OnGlyphName = nullptr;
                               }});
  EXPECT_NE(out.find("/Matrix [0 -1 1 0 0 100]"), std::string::npos);
  EXPECT_NE(out.find("/BBox [1 1 99 49]"), std::string::npos);
  EXPECT_NE(out.find("/Differences [128 /uni010C /uni00E1]"), std::string::npos);
  EXPECT_NE(out.find("0 0 0 0 0 0 Tm\r\n()Tj"), std::string::npos);
  std::string error;
  Sign(OnePage().Build(), handler, {[](TOvPDFSignature& e) {
         e.WidgetProps().BackgroundStyle = 2;
         e.WidgetProps().Background.ImageType = 1;
         e.WidgetProps().Background.Data = "image";
       }},
       &error);
  EXPECT_EQ(error, "Unsupported image type");
  // Every special byte of a literal operand is escaped.
  EXPECT_NE(out.find("(\x80\x81p \\\\ \\(x\\))Tj"), std::string::npos);
}

}  // namespace
}  // namespace pdftest
