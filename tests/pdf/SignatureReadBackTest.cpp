// Signing reads its own value back before the save completes: a value that
// does not verify ends the save with the cause, and the document's stream
// keeps its old bytes.
#include <gtest/gtest.h>

#include "platform/keystore/KeyStore.h"
#include "tests/fixtures/StoreFixture.h"
#include "tests/pdf/PdfFixtures.h"
#include "toolkit/common/CvScope.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDFSecurity.h"
#include "toolkit/pdf/CvPDF_SignaturePlaceholder.h"
#include "toolkit/pdf/CvPDF_SignatureShape.h"
#include "toolkit/pki/CvCustomCertStorage.h"
#include "toolkit/pki/CvWinCertStorage.h"
#include "toolkit/pki/CvX509.h"

namespace {

using namespace corvane;
using tavra_fixture::Store;

TEST(SignatureReadBack, ACorruptedValueEndsTheSaveAndLeavesTheStream) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  platform::KeyStore::Instance().SetDatabaseDir(Store::Get().Db());
  TOvWinCertStorage store;
  store.SetSystemStores({"My"});
  TOvMemoryCertStorage storage;
  for (int i = 0; i < store.Count(); ++i)
    if (store.Certificates(i)->SubjectName().CommonName == "Jan Čáp")
      storage.Add(*store.Certificates(i), true);
  ASSERT_EQ(storage.Count(), 1);

  const std::string input = pdftest::OnePage().Build();
  for (const uint8_t kind : {PDF_SIGNATURE_KIND_PKCS7, PDF_SIGNATURE_KIND_X509}) {
    for (const bool corrupt : {true, false}) {
      SCOPED_TRACE(std::to_string(kind) + (corrupt ? " corrupted" : " sound"));
      sigimpl::SetCorruptSignatureValueForTesting(corrupt);
      const TCvScopeExit reset([] { sigimpl::SetCorruptSignatureValueForTesting(false); });
      TOvPDFPublicKeySecurityHandler handler;
      handler.SetSignatureKind(kind);
      handler.SetCertStorage(&storage);
      TOvMemoryStream stream(input);
      std::string error;
      try {
        TOvPDFDocument document;
        document.Open(stream);
        TOvPDFSignature* entry = document.Signatures(document.AddSignature());
        entry->SetHandler(&handler);
        entry->SetInvisible(true);
        document.Close(true);
      } catch (const ECorvaneError& e) {
        error = e.what();
      }
      if (corrupt) {
        EXPECT_NE(error.find("The signature written does not verify"), std::string::npos) << error;
        EXPECT_EQ(stream.Data(), input);
      } else {
        EXPECT_EQ(error, "");
        ASSERT_GT(stream.Data().size(), input.size());
        // The sound output has the shape the verifier asks for.
        const size_t at = stream.Data().rfind("/Type /Sig");
        ASSERT_NE(at, std::string::npos);
        const size_t obj = stream.Data().rfind(" obj", at);
        EXPECT_TRUE(ReadSignatureShape(stream, static_cast<int64_t>(obj) + 1).Sound());
      }
    }
  }
}

}  // namespace
