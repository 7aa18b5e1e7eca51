// The document security store added to signed files, read back by qpdf and
// judged by pdfsig; extending a store, a store of another writer's form, a
// hostile store; and what a certification allows after it.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "tests/fixtures/LocalTSA.h"
#include "tests/pdf/PdfFixtures.h"
#include "tests/pdf/SigningTestHandler.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDF_DSS.h"
#include "toolkit/pdf/CvPDF_DocTimeStamp.h"
#include "toolkit/pdf/CvPDF_RevisionChanges.h"

namespace pdftest {
namespace {

using corvane::TCvDSSEntry;
using corvane::TCvValidationData;
using corvane::TOvMemoryStream;
using corvane::TOvPDFDocument;
using tavra_fixture::Store;
using tavra_test::Quote;
using tavra_test::RunCapturing;
using tavra_test::ScratchDir;

// What qpdf finds in a file's store: the decoded bytes of each array's
// streams (by object number) and, per VRI key, the numbers each entry names.
struct TQpdfStore {
  std::map<std::string, std::vector<int>> Arrays;  // "Certs", "OCSPs", "CRLs"
  std::map<int, std::string> Streams;
  std::map<std::string, std::map<std::string, std::vector<int>>> VRI;
  std::string Catalog;

  std::vector<std::string> Bytes(const std::string& key) const {
    std::vector<std::string> out;
    for (int n : Arrays.count(key) ? Arrays.at(key) : std::vector<int>())
      out.push_back(Streams.at(n));
    return out;
  }
};

std::vector<int> RefsIn(const std::string& text) {
  std::vector<int> numbers;
  const std::regex ref(R"((\d+) 0 R)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), ref); it != std::sregex_iterator();
       ++it)
    numbers.push_back(std::stoi((*it)[1]));
  return numbers;
}

std::string Qpdf(const std::string& path, const std::string& args) {
  const auto r = RunCapturing("qpdf " + args + " " + Quote(path));
  EXPECT_EQ(r.status, 0) << args << ": " << r.err;
  return r.out;
}

// Reads the store through qpdf alone: the catalog names it, its arrays name
// streams whose filtered data qpdf gives.
TQpdfStore ReadWithQpdf(const std::string& path) {
  TQpdfStore store;
  std::smatch m;
  const std::string trailer = Qpdf(path, "--show-object=trailer");
  if (!std::regex_search(trailer, m, std::regex(R"(/Root (\d+) 0 R)"))) return store;
  store.Catalog = Qpdf(path, "--show-object=" + std::string(m[1]));
  if (!std::regex_search(store.Catalog, m, std::regex(R"(/DSS (\d+) 0 R)"))) return store;
  const std::string dss = Qpdf(path, "--show-object=" + std::string(m[1]));
  for (const std::string key : {"Certs", "OCSPs", "CRLs"}) {
    if (!std::regex_search(dss, m, std::regex("/" + key + R"( \[([^\]]*)\])"))) continue;
    store.Arrays[key] = RefsIn(m[1]);
    for (int n : store.Arrays[key])
      store.Streams[n] =
          Qpdf(path, "--show-object=" + std::to_string(n) + " --filtered-stream-data");
  }
  const std::regex entry(R"(/([0-9A-F]{40}) << ([^>]*)>>)");
  for (auto it = std::sregex_iterator(dss.begin(), dss.end(), entry); it != std::sregex_iterator();
       ++it) {
    const std::string body = (*it)[2];
    for (const std::string key : {"Cert", "OCSP", "CRL"}) {
      if (std::regex_search(body, m, std::regex("/" + key + R"( \[([^\]]*)\])")))
        store.VRI[(*it)[1]][key] = RefsIn(m[1]);
    }
  }
  return store;
}

// Validation data made by openssl: the signer's chain, an OCSP response
// and a CRL of the fixture CA.
class DSSTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(tavra_test::ToolAvailable("openssl"));
    ASSERT_TRUE(tavra_test::ToolAvailable("qpdf"));
    ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
    const Store& s = Store::Get();
    dir_ = new ScratchDir;
    dir_->Write("index.txt", "");
    dir_->Write("crlnumber", "01\n");
    dir_->Write("ca.cnf", "[ca]\ndefault_ca = local\n[local]\ndatabase = " +
                              dir_->File("index.txt") + "\ncrlnumber = " + dir_->File("crlnumber") +
                              "\ndefault_md = sha256\ndefault_crl_days = 30\n");
    const std::string ca = Quote(s.File("ca.crt")), key = Quote(s.File("ca.key"));
    const auto r = RunCapturing(
        "cd " + Quote(dir_->Path()) + " && openssl ocsp -issuer " + ca + " -cert " +
        Quote(s.File("rsa2048.crt")) +
        " -no_nonce -reqout req.der && openssl ocsp -index index.txt" + " -CA " + ca +
        " -rsigner " + ca + " -rkey " + key +
        " -reqin req.der -respout ocsp.der -ndays 1 && openssl ca -gencrl -config ca.cnf -cert " +
        ca + " -keyfile " + key +
        " -out crl.pem && openssl crl -in crl.pem -outform DER -out crl.der");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    data_ = new TCvValidationData;
    data_->Certificates = {s.Der("rsa2048"), s.Der("ca")};
    data_->OCSPs = {tavra_test::ReadFile(dir_->File("ocsp.der"))};
    data_->CRLs = {tavra_test::ReadFile(dir_->File("crl.der"))};
    ASSERT_GT(data_->OCSPs[0].size(), 100u);
    ASSERT_GT(data_->CRLs[0].size(), 100u);
  }
  static void TearDownTestSuite() {
    delete data_;
    delete dir_;
  }

  // Signs (or certifies with /P 1) and returns the file; a certification
  // leaves the form without default resources, as other writers do.
  std::string Sign(const std::string& input, bool certify = false) {
    TOvMemoryStream stream(input);
    TOvPDFDocument document;
    document.Open(stream);
    if (certify) document.SetOptions(0);
    corvane::TOvPDFSignature* entry = document.Signatures(document.AddSignature());
    entry->SetHandler(&handler_);
    entry->SetInvisible(true);
    if (certify) entry->SetSignatureType(corvane::stMDP);
    document.Close(true);
    return stream.Data();
  }

  // The /Contents bytes of the signature at index, as the document reads them.
  static std::string Contents(const std::string& pdf, size_t index) {
    TOvMemoryStream stream(pdf);
    TOvPDFDocument document;
    document.Open(stream);
    return corvane::GetStringEntry(document.Signatures(index)->FieldDictionary(), "Contents", true);
  }

  static std::string AddStore(const std::string& pdf, const std::vector<TCvDSSEntry>& entries) {
    TOvMemoryStream stream(pdf);
    TOvPDFDocument document;
    document.Open(stream);
    corvane::AddDSS(document, entries);
    document.Close(true);
    return stream.Data();
  }

  static corvane::TOvPDFRevisionChanges Judge(const std::string& pdf, int64_t revisionEnd) {
    TOvMemoryStream stream(pdf);
    return corvane::CompareRevisionWithFinal(stream, revisionEnd);
  }

  // A store for one signature, checked by qpdf, pdfsig, openssl and our reader.
  void CheckStoreAdded(const std::string& input);

  static ScratchDir* dir_;
  static TCvValidationData* data_;
  TSigningTestHandler handler_;
  ScratchDir out_;
};

ScratchDir* DSSTest::dir_ = nullptr;
TCvValidationData* DSSTest::data_ = nullptr;

TEST_F(DSSTest, StoreAddedToASignedFileReadsBackWithQpdf) {
  // The catalog in an object stream is written anew as a plain object.
  const std::string packed =
      QpdfVariant(out_, OnePage().Build(), "--object-streams=generate", "objstm");
  ASSERT_NE(packed.find("/ObjStm"), std::string::npos);
  for (const std::string& input : {OnePage().Build(), packed}) {
    SCOPED_TRACE(input == packed ? "object streams" : "classic");
    CheckStoreAdded(input);
  }
}

void DSSTest::CheckStoreAdded(const std::string& input) {
  const std::string signedPdf = Sign(input);
  const std::string contents = Contents(signedPdf, 0);
  const std::string pdf = AddStore(signedPdf, {{contents, *data_}});
  ASSERT_GT(pdf.size(), signedPdf.size());
  EXPECT_EQ(pdf.compare(0, signedPdf.size(), signedPdf), 0) << "the input is not a prefix";
  const std::string path = out_.Write("lt.pdf", pdf);
  std::string report;
  EXPECT_TRUE(QpdfCheck(out_, pdf, &report)) << report;

  const TQpdfStore store = ReadWithQpdf(path);
  EXPECT_EQ(store.Bytes("Certs"), data_->Certificates);
  EXPECT_EQ(store.Bytes("OCSPs"), data_->OCSPs);
  EXPECT_EQ(store.Bytes("CRLs"), data_->CRLs);
  EXPECT_NE(store.Catalog.find("/Extensions << /ESIC << /BaseVersion /1.7 /ExtensionLevel 5 >> >>"),
            std::string::npos)
      << store.Catalog;
  // The VRI key is the SHA-1 of the /Contents bytes, as openssl computes it.
  const auto sha1 = RunCapturing("openssl dgst -sha1 -r " + Quote(out_.Write("c.bin", contents)));
  std::string key = sha1.out.substr(0, 40);
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(corvane::DSSVRIKey(contents), key);
  ASSERT_EQ(store.VRI.size(), 1u);
  ASSERT_TRUE(store.VRI.count(key));
  EXPECT_EQ(store.VRI.at(key).at("Cert"), store.Arrays.at("Certs"));
  EXPECT_EQ(store.VRI.at(key).at("OCSP"), store.Arrays.at("OCSPs"));
  EXPECT_EQ(store.VRI.at(key).at("CRL"), store.Arrays.at("CRLs"));

  // pdfsig still finds the signature valid, now over part of the file.
  const std::string verdict = Pdfsig(path);
  EXPECT_EQ(Count(verdict, "Signature is Valid"), 1) << verdict;
  // The update is one the signature allows.
  EXPECT_EQ(Judge(pdf, static_cast<int64_t>(signedPdf.size())).Summary(),
            "yes, allowed (DSS added)");

  // Our reader gives back what was stored, for the store and for the signature.
  TOvMemoryStream stream(pdf);
  TOvPDFDocument document;
  document.Open(stream);
  const TCvValidationData all = corvane::ReadDSS(document);
  EXPECT_EQ(all.Certificates, data_->Certificates);
  EXPECT_EQ(all.OCSPs, data_->OCSPs);
  EXPECT_EQ(all.CRLs, data_->CRLs);
  EXPECT_EQ(corvane::ReadDSSForSignature(document, contents).OCSPs, data_->OCSPs);
  EXPECT_TRUE(corvane::ReadDSSForSignature(document, contents + "x").Empty());
}

TEST_F(DSSTest, SecondStoreUpdateExtendsWithoutDuplicates) {
  const std::string once = Sign(OnePage().Build());
  TCvValidationData first = *data_;
  first.CRLs.clear();
  const std::string stored = AddStore(once, {{Contents(once, 0), first}});
  const TQpdfStore before = ReadWithQpdf(out_.Write("one.pdf", stored));

  // A second signature; its data shares the chain and brings a CRL.
  const std::string twice = Sign(stored);
  TCvValidationData second = *data_;
  second.OCSPs.clear();
  const std::string pdf = AddStore(twice, {{Contents(twice, 1), second}});
  EXPECT_EQ(pdf.compare(0, twice.size(), twice), 0);
  const std::string path = out_.Write("two.pdf", pdf);
  EXPECT_TRUE(QpdfCheck(out_, pdf));
  const TQpdfStore after = ReadWithQpdf(path);
  // The earlier streams are kept and named again, nothing is written twice.
  EXPECT_EQ(after.Arrays.at("Certs"), before.Arrays.at("Certs"));
  EXPECT_EQ(after.Arrays.at("OCSPs"), before.Arrays.at("OCSPs"));
  EXPECT_EQ(after.Bytes("CRLs"), data_->CRLs);
  EXPECT_EQ(Count(pdf.substr(twice.size()), "/FlateDecode"), 1) << "only the CRL is new";
  ASSERT_EQ(after.VRI.size(), 2u);
  const std::string key1 = corvane::DSSVRIKey(Contents(twice, 0));
  const std::string key2 = corvane::DSSVRIKey(Contents(twice, 1));
  EXPECT_EQ(after.VRI.at(key1).at("OCSP"), before.Arrays.at("OCSPs"));
  EXPECT_EQ(after.VRI.at(key2).at("Cert"), before.Arrays.at("Certs"));
  EXPECT_EQ(after.VRI.at(key2).count("OCSP"), 0u);
  const std::string verdict = Pdfsig(path);
  EXPECT_EQ(Count(verdict, "Signature is Valid"), 2) << verdict;
}

TEST_F(DSSTest, StoreOfAnotherFormIsExtended) {
  // Another writer's store: direct in the catalog, a direct /Certs array, a
  // lone stream as /OCSPs, no /VRI; its /Extensions indirect.
  TFixture f = OnePage();
  f.objects[0].second =
      "<< /Type /Catalog /Pages 2 0 R /Extensions 7 0 R /DSS << /Certs [5 0 R] /OCSPs 6 0 R >> >>";
  f.Add(5, StreamBody("", data_->Certificates[1]));
  f.Add(6, StreamBody("", data_->OCSPs[0]));
  f.Add(7, "<< /ADBE << /BaseVersion /1.7 /ExtensionLevel 3 >> >>");
  const std::string input = f.Build();
  const std::string pdf = AddStore(input, {{"signature value", *data_}});
  EXPECT_EQ(pdf.compare(0, input.size(), input), 0);
  EXPECT_TRUE(QpdfCheck(out_, pdf));
  const TQpdfStore store = ReadWithQpdf(out_.Write("other.pdf", pdf));
  ASSERT_EQ(store.Arrays.at("Certs").size(), 2u);
  EXPECT_EQ(store.Arrays.at("Certs")[0], 5);
  EXPECT_EQ(store.Arrays.at("OCSPs"), std::vector<int>{6});
  EXPECT_EQ(store.Streams.at(store.Arrays.at("Certs")[1]), data_->Certificates[0]);
  EXPECT_EQ(store.VRI.at(corvane::DSSVRIKey("signature value")).at("Cert"),
            (std::vector<int>{store.Arrays.at("Certs")[1], 5}));
  // The shared /Extensions object is left as it was; the catalog's copy keeps its entries.
  EXPECT_EQ(Qpdf(out_ / "other.pdf", "--show-object=7"),
            "<< /ADBE << /BaseVersion /1.7 /ExtensionLevel 3 >> >>\n");
  EXPECT_NE(store.Catalog.find("/ADBE << /BaseVersion /1.7 /ExtensionLevel 3 >> /ESIC"),
            std::string::npos)
      << store.Catalog;
}

TEST_F(DSSTest, HostileStoreReadsAsFarAsItGoes) {
  const std::string good = data_->Certificates[0];
  std::string many = "[";
  for (int i = 0; i < 200000; ++i) many += "5 0 R ";
  std::string key = corvane::DSSVRIKey("value");
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  TFixture f = OnePage();
  f.objects[0].second = "<< /Type /Catalog /Pages 2 0 R /DSS 6 0 R >>";
  f.Add(5, StreamBody("", good));
  // Itself among its certificates, wrong types, a dangling reference, a
  // filter that is not read, an array naming one stream 200000 times, arrays
  // naming themselves; the VRI key in lower case, as some writers have it.
  f.Add(6, "<< /Certs [6 0 R 1 0 R 42 /x null (s) 99 0 R 8 0 R 5 0 R] /OCSPs 7 0 R /CRLs 9 0 R " +
               std::string("/VRI << /") + key +
               " << /Cert [6 0 R] /OCSP 10 0 R /CRL [5 0 R] >> /Bad 3 >> >>");
  f.Add(7, many + "]");
  f.Add(8, StreamBody(" /Filter /DCTDecode", "not a certificate"));
  f.Add(9, "[9 0 R [[[[5 0 R]]]]]");
  f.Add(10, "[10 0 R << /Cert [5 0 R] >>]");
  TOvMemoryStream stream(f.Build());
  TOvPDFDocument document;
  document.Open(stream);
  const TCvValidationData all = corvane::ReadDSS(document);
  EXPECT_EQ(all.Certificates, std::vector<std::string>{good});
  EXPECT_EQ(all.OCSPs, std::vector<std::string>{good});
  EXPECT_EQ(all.CRLs, std::vector<std::string>{good});
  const TCvValidationData entry = corvane::ReadDSSForSignature(document, "value");
  EXPECT_TRUE(entry.Certificates.empty() && entry.OCSPs.empty());
  EXPECT_EQ(entry.CRLs, std::vector<std::string>{good});
}

// After a certification with /P 1 the store and a document timestamp are
// allowed (written in one Close, each its own update); another signature is not.
TEST_F(DSSTest, CertificationWithP1AllowsStoreAndDocumentTimestamp) {
  tavra_fixture::LocalTSA tsa;
  ASSERT_TRUE(tsa.Ok()) << tsa.Error();
  const std::string certified = Sign(OnePage().Build(), true);
  tavra_fixture::LocalTSPClient client(tsa);
  corvane::TOvPDFDocTimeStampHandler stamper;
  stamper.SetTSPClient(&client);
  TOvMemoryStream stream(certified);
  {
    TOvPDFDocument document;
    document.Open(stream);
    corvane::AddDSS(document, {{Contents(certified, 0), *data_}});
    corvane::AddDocTimeStamp(document, stamper);
    document.Close(true);
  }
  const std::string pdf = stream.Data();
  EXPECT_EQ(pdf.compare(0, certified.size(), certified), 0);
  EXPECT_EQ(Count(pdf.substr(certified.size()), "%%EOF"), 2) << "the store and the stamp apart";
  const corvane::TOvPDFRevisionChanges changes = Judge(pdf, static_cast<int64_t>(certified.size()));
  EXPECT_EQ(changes.Permission, 1);
  EXPECT_EQ(changes.Verdict, corvane::TOvPDFChangeVerdict::cvAllowed) << changes.Summary();
  EXPECT_NE(changes.Summary().find("DSS added"), std::string::npos) << changes.Summary();
  EXPECT_NE(changes.Summary().find("document timestamp Signature2 added"), std::string::npos)
      << changes.Summary();
  const std::string path = out_.Write("lta.pdf", pdf);
  EXPECT_TRUE(QpdfCheck(out_, pdf));
  const std::string verdict = Pdfsig(path);
  // This pdfsig validates the certification; the stamp it finds over the
  // whole file (its token is checked where document timestamps are tested).
  EXPECT_EQ(Count(verdict, "Signature is Valid"), 1) << verdict;
  EXPECT_NE(verdict.find("Signer Certificate Common Name: Tavra Test TSA"), std::string::npos);
  EXPECT_EQ(Count(verdict, "Total document signed"), 1) << verdict;

  // Another approval signature is still refused, and the file stays as it was.
  TOvMemoryStream again(pdf);
  try {
    TOvPDFDocument document;
    document.Open(again);
    corvane::TOvPDFSignature* entry = document.Signatures(document.AddSignature());
    entry->SetHandler(&handler_);
    document.Close(true);
    ADD_FAILURE() << "a signature was added under /P 1";
  } catch (const corvane::ECorvaneError& e) {
    EXPECT_STREQ(e.what(), "Document certification does not permit changes");
  }
  EXPECT_EQ(again.Data(), pdf);
}

}  // namespace
}  // namespace pdftest
