// What updates after a signed revision change, and whether the signature
// allows it: our own signed files as they are (confirmed by pdfsig), and the
// same files with incremental updates appended by hand.
#include <gtest/gtest.h>

#include <regex>

#include "tests/pdf/PdfFixtures.h"
#include "tests/pdf/SigningTestHandler.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDF_RevisionChanges.h"

namespace pdftest {
namespace {

using corvane::TOvPDFChangeVerdict;
using corvane::TOvPDFRevisionChanges;

std::string Golden(const std::string& name) {
  return tavra_test::ReadFile(std::string(TAVRA_SOURCE_DIR) + "/tests/golden/" + name);
}

// The end of the byte ranges of each signature, in file order.
std::vector<int64_t> RevisionEnds(const std::string& pdf) {
  std::vector<int64_t> ends;
  const std::regex range(R"(/ByteRange\s*\[\s*\d+\s+\d+\s+(\d+)\s+(\d+)\s*\])");
  for (auto it = std::sregex_iterator(pdf.begin(), pdf.end(), range); it != std::sregex_iterator();
       ++it) {
    ends.push_back(std::stoll((*it)[1]) + std::stoll((*it)[2]));
  }
  return ends;
}

TOvPDFRevisionChanges Judge(const std::string& pdf, size_t signature = 0) {
  const std::vector<int64_t> ends = RevisionEnds(pdf);
  EXPECT_LT(signature, ends.size());
  corvane::TOvMemoryStream stream(pdf);
  stream.SetPosition(7);
  TOvPDFRevisionChanges changes =
      corvane::CompareRevisionWithFinal(stream, signature < ends.size() ? ends[signature] : 0);
  EXPECT_EQ(stream.Position(), 7);
  return changes;
}

// Appends an incremental update with the objects given (number, body) and
// the extra cross-reference subsections (free entries) given.
std::string Update(const std::string& pdf, const std::vector<std::pair<int, std::string>>& objects,
                   const std::string& extraEntries = "", const std::string& trailerExtra = "") {
  std::smatch m;
  const std::string tail = pdf.substr(pdf.size() - 40);
  EXPECT_TRUE(std::regex_search(tail, m, std::regex(R"(startxref\s+(\d+))")));
  const std::string prev = m[1];
  int size = 0;
  const size_t at = pdf.rfind("/Size ");
  size = std::stoi(pdf.substr(at + 6));
  std::string out = pdf;
  std::string xref = "xref\n0 1\n0000000000 65535 f \n";
  for (const auto& [number, body] : objects) {
    char line[40];
    std::snprintf(line, sizeof line, "%d 1\n%010zu 00000 n \n", number, out.size());
    xref += line;
    out += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
    size = std::max(size, number + 1);
  }
  const size_t start = out.size();
  out += xref + extraEntries + "trailer\n<< /Size " + std::to_string(size) +
         " /Root 1 0 R /Info 6 0 R /Prev " + prev + trailerExtra + " >>\nstartxref\n" +
         std::to_string(start) + "\n%%EOF\n";
  return out;
}

std::string Describe(const TOvPDFRevisionChanges& changes) { return changes.Summary(); }

TEST(RevisionChanges, OurOwnSignaturesAreUnchangedOrChangedOnlyBySigning) {
  const std::string twice = Golden("signed-twice.pdf");
  EXPECT_EQ(Judge(Golden("classic-visible.pdf")).Summary(), "no");
  EXPECT_EQ(Judge(twice, 1).Summary(), "no");
  const TOvPDFRevisionChanges first = Judge(twice, 0);
  EXPECT_EQ(first.Verdict, TOvPDFChangeVerdict::cvAllowed) << Describe(first);
  EXPECT_EQ(first.Summary(), "yes, allowed (signature Signature2 added)");
  EXPECT_EQ(first.Permission, 0);

  // A P 2 certification signed again by the toolkit: the approval is allowed.
  TSigningTestHandler handler;
  auto sign = [&](const std::string& input, bool certify) {
    corvane::TOvMemoryStream stream(input);
    corvane::TOvPDFDocument document;
    document.Open(stream);
    corvane::TOvPDFSignature* entry = document.Signatures(document.AddSignature());
    entry->SetHandler(&handler);
    if (certify) {
      entry->SetSignatureType(corvane::stMDP);
      entry->SetAllowedChanges(corvane::PDF_ALLOW_FORM_FILL);
    }
    document.Close(true);
    return stream.Data();
  };
  const std::string chain = sign(sign(OnePage().Build(), true), false);
  const TOvPDFRevisionChanges certified = Judge(chain, 0);
  EXPECT_EQ(certified.Permission, 2);
  EXPECT_EQ(certified.Verdict, TOvPDFChangeVerdict::cvAllowed) << Describe(certified);
  EXPECT_EQ(certified.Summary(), "yes, allowed (signature Signature2 added)");

  // The controls are genuinely signed: pdfsig finds every signature valid.
  tavra_test::ScratchDir dir;
  EXPECT_EQ(Count(Pdfsig(dir.Write("twice.pdf", twice)), "Signature is Valid"), 2);
  EXPECT_EQ(Count(Pdfsig(dir.Write("chain.pdf", chain)), "Signature is Valid"), 2);
}

TEST(RevisionChanges, UpdatesThatChangeWhatIsShownAreNotAllowed) {
  const std::string pdf = Golden("classic-visible.pdf");
  const std::string content = StreamBody("", "BT /F1 40 Tf 100 700 Td (PAID) Tj ET");
  const std::string page =
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 5 0 R "
      ">> >> /Annots 19 0 R ";
  struct TCase {
    std::string name;
    std::string pdf;
    std::string expected;
  };
  const std::vector<TCase> cases = {
      // Incremental saving: a second content stream on the page.
      {"new content", Update(pdf, {{21, content}, {3, page + "/Contents [4 0 R 21 0 R] >>"}}),
       "page 1 content changed"},
      // Shadow replace: the page's own content stream written again.
      {"replaced content", Update(pdf, {{4, content}}), "page 1 content changed"},
      // The widget redefined as a stream.
      {"redefined", Update(pdf, {{12, content}}), "object 12 redefined from annotation to stream"},
      // A section that frees an object and brings nothing.
      {"freeing", Update(pdf, {}, "5 1\n0000000000 00001 f \n"), "object 5 freed"},
      {"open action",
       Update(pdf, {{1,
                     "<< /Type /Catalog /Pages 2 0 R /AcroForm 7 0 R /OpenAction [3 0 R /Fit] "
                     ">>"}}),
       "catalog /OpenAction added"},
  };
  for (const TCase& c : cases) {
    const TOvPDFRevisionChanges changes = Judge(c.pdf);
    EXPECT_EQ(changes.Verdict, TOvPDFChangeVerdict::cvNotAllowed) << c.name;
    EXPECT_NE(std::find(changes.NotAllowed.begin(), changes.NotAllowed.end(), c.expected),
              changes.NotAllowed.end())
        << c.name << ": " << Describe(changes);
  }
  const TOvPDFRevisionChanges freeing = Judge(cases[3].pdf);
  EXPECT_NE(freeing.Summary().find("only marks objects free or in use again"), std::string::npos)
      << Describe(freeing);
}

TEST(RevisionChanges, AnnotationsSignaturesAndTheStoreAsTheCertificationAllows) {
  // An overlay annotation: allowed for an approval signature, named.
  const std::string visible = Golden("classic-visible.pdf");
  const std::string overlay =
      "<< /Type /Annot /Subtype /Square /Rect [0 0 595 842] /IC [1 1 1] /F 4 >>";
  const TOvPDFRevisionChanges approval =
      Judge(Update(visible, {{21, overlay}, {19, "[12 0 R 21 0 R]"}}));
  EXPECT_EQ(approval.Summary(), "yes, allowed (annotation added to page 1 (/Square))");

  // A later DSS with a certificate stream: allowed.
  const std::string store =
      Update(visible, {{21, StreamBody("", "0\x82")},
                       {22, "<< /Certs [21 0 R] >>"},
                       {1, "<< /Type /Catalog /Pages 2 0 R /AcroForm 7 0 R /DSS 22 0 R >>"}});
  EXPECT_EQ(Judge(store).Summary(), "yes, allowed (DSS added)");

  // Certified with /P 1: neither the overlay nor another approval signature.
  const std::string certified = Golden("classic-certify.pdf");
  const TOvPDFRevisionChanges hidden =
      Judge(Update(certified, {{23, overlay}, {20, "[12 0 R 23 0 R]"}}));
  EXPECT_EQ(hidden.Permission, 1);
  EXPECT_EQ(hidden.Summary(),
            "yes, NOT allowed (annotation added to page 1 (/Square) (certified with /P 1))");
  const std::string field =
      "<< /FT /Sig /T (Signature2) /Type /Annot /Subtype /Widget /F 132 /P 3 0 R /Rect [0 0 0 "
      "0] /V 24 0 R >>";
  const std::string approved = Update(certified, {{23, field},
                                                  {24, "<< /Type /Sig /Filter /Adobe.PPKLite >>"},
                                                  {20, "[12 0 R 23 0 R]"},
                                                  {8, "[12 0 R 23 0 R]"}});
  EXPECT_EQ(Judge(approved).Summary(),
            "yes, NOT allowed (signature Signature2 added (certified with /P 1))");
  // A document timestamp is what /P 1 still allows.
  const std::string stamped = Update(
      certified, {{23, field},
                  {24, "<< /Type /DocTimeStamp /Filter /Adobe.PPKLite /SubFilter /ETSI.RFC3161 >>"},
                  {20, "[12 0 R 23 0 R]"},
                  {8, "[12 0 R 23 0 R]"}});
  EXPECT_EQ(Judge(stamped).Summary(), "yes, allowed (document timestamp Signature2 added)");
}

TEST(RevisionChanges, HostileUpdatesEndInAVerdict) {
  const std::string pdf = Golden("classic-visible.pdf");
  // A /Prev naming its own section, a section pointing into the signed
  // bytes, an object nested too deep to read, a truncated update no
  // cross-reference reaches.
  std::string looping = Update(pdf, {{21, "<< >>"}});
  const size_t start = looping.rfind("startxref\n") + 10;
  const std::string self = looping.substr(start, looping.find('\n', start) - start);
  const size_t prev = looping.rfind("/Prev ") + 6;
  looping.replace(prev, looping.find(' ', prev) - prev, self);
  std::string nested(5000, '[');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {looping, "the updates after the signed revision do not continue it"},
      {Update(pdf, {}, "1 1\n0000000015 00000 n \n"),
       "object 1 marked in use at bytes of the signed revision"},
      {Update(pdf, {{4, nested}}), "object 4 cannot be read"},
  };
  for (const auto& [file, expected] : cases) {
    const TOvPDFRevisionChanges changes = Judge(file);
    EXPECT_EQ(changes.Verdict, TOvPDFChangeVerdict::cvNotAllowed) << expected;
    EXPECT_NE(changes.Summary().find(expected), std::string::npos) << changes.Summary();
  }
  EXPECT_EQ(Judge(pdf + "1 0 obj\n<< /Type /Catalog").Summary(), "no");
}

}  // namespace
}  // namespace pdftest
