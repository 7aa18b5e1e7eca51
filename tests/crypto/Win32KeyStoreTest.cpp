// The CryptoAPI provider in a program that installed no key store (this test
// program links none): no key-store CSP, nothing listed, and signing is an
// unsupported operation.
#include <gtest/gtest.h>

#include "toolkit/asn1/CvRDN.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvUtils.h"
#include "toolkit/crypto/CvCryptoProvWin32.h"

namespace corvane {
namespace {

TEST(Win32KeyStoreNoneInstalled, ProviderOffersNothingAndSigningFails) {
  TOvWin32CryptoProvider provider;
  EXPECT_EQ(&provider.KeyStore(), &Win32KeyStore());
  EXPECT_TRUE(provider.CSPs().empty());

  std::vector<TOvWin32StoreCertificate> listed(1);
  EXPECT_EQ(Win32KeyStore().ListStore(TOvWin32StoreName::My, listed), TOvWin32StoreResult::Ok);
  EXPECT_TRUE(listed.empty());

  TOvCustomCryptoKey* key = provider.CreateKey(ALG_RSA, 0, nullptr);
  key->SetKeyProp(PROP_RSA_M, std::string(255, '\x7f') + "\x01");
  key->SetKeyProp(PROP_RSA_E, "\x01\x00\x01");
  key->SetKeyProp(PROP_WIN32_CERTCONTEXT, std::string("\0\0\0\0\0\0\0\x07", 8));
  TOvRelativeDistinguishedName params;
  params.Add(PROP_INPUT_IS_HASH, BoolToBytes(true));
  EXPECT_FALSE(provider.IsOperationSupported(coSignDetached, ALG_RSA, 0, key, &params));
  try {
    provider.SignInit(ALG_RSA, key, true, &params);
    ADD_FAILURE() << "signed without a key store";
  } catch (const ECorvaneError& e) {
    EXPECT_STREQ(e.what(), "Unsupported operation");
  }
  provider.ReleaseKey(key);
}

TEST(Win32KeyStoreNoneInstalled, StoreNamesAreTheThreeSystemStores) {
  EXPECT_EQ(Win32StoreNameFromText("root"), TOvWin32StoreName::Root);
  EXPECT_EQ(Win32StoreNameFromText("mY"), TOvWin32StoreName::My);
  EXPECT_EQ(Win32StoreNameFromText("Ca"), TOvWin32StoreName::CA);
  EXPECT_FALSE(Win32StoreNameFromText("Trust").has_value());
}

}  // namespace
}  // namespace corvane
