// Helpers of the message tests: signing certificates from the fixture store
// (with the key loaded into the built-in engine, or reached through the key
// store), openssl as the independent checker, and the PDF handler's way of
// asking for a detached signature over a digest.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/keystore/KeyStore.h"
#include "tests/fixtures/StoreFixture.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvPublicKeyCrypto.h"
#include "toolkit/pki/CvMessages.h"
#include "toolkit/pki/CvPKCS7Utils.h"
#include "toolkit/pki/CvWinCertStorage.h"
#include "toolkit/pki/CvX509.h"

namespace msgtest {

using tavra_fixture::Quote;
using tavra_fixture::Store;
using tavra_test::ScratchDir;

inline std::string OpensslDigestName(int32_t hash) {
  switch (hash) {
    case corvane::ALG_SHA1:
      return "sha1";
    case corvane::ALG_SHA256:
      return "sha256";
    case corvane::ALG_SHA384:
      return "sha384";
    case corvane::ALG_SHA512:
      return "sha512";
    default:
      return "unknown";
  }
}

// The digest of a file as openssl computes it.
inline std::string OpensslDigest(int32_t hash, const std::string& file) {
  return tavra_test::RunCommand("openssl dgst -" + OpensslDigestName(hash) + " -binary " +
                                Quote(file));
}

// A certificate of a fixture (or any PEM file) with its key in the built-in engine.
inline std::unique_ptr<corvane::TOvX509Certificate> BuiltInSigner(const std::string& crt,
                                                                  const std::string& key) {
  auto cert = std::make_unique<corvane::TOvX509Certificate>();
  cert->LoadFromBytes(tavra_test::RunCommand("openssl x509 -in " + Quote(crt) + " -outform DER"));
  cert->KeyMaterial()->LoadSecret(tavra_test::ReadFile(key));
  return cert;
}

// openssl cms -verify over a detached signature; returns its output, ok set on success.
inline std::string OpensslVerifyDetached(const std::string& signatureDer,
                                         const std::string& contentFile, bool& ok) {
  ScratchDir dir;
  const std::string sig = dir.Write("sig.der", signatureDer);
  const auto r =
      tavra_test::RunCapturing("openssl cms -verify -binary -inform DER -in " + Quote(sig) +
                               " -content " + Quote(contentFile) + " -CAfile " +
                               Quote(Store::Get().File("ca.crt")) + " -purpose any -out /dev/null");
  ok = r.status == 0 && r.err.find("Verification successful") != std::string::npos;
  return r.out + r.err;
}

// The PDF handler's request: detached SignedData over a digest with the signed
// attributes messageDigest and contentType, definite lengths, certificates of
// the storage included, size query first. Checks that the query covered the result.
inline int32_t SignDigestLikeTheHandler(corvane::TOvCustomCertStorage& storage, int32_t hash,
                                        const std::string& digest, std::string& out) {
  using namespace corvane;
  TOvMessageSigner signer;
  signer.SetUseUndefSize(false);
  signer.SetCertStorage(&storage);
  signer.SetIncludeCertificates(true);
  signer.SetHashAlgorithm(hash);
  signer.SetSigningOptions(0);
  signer.AuthenticatedAttributes().Add(oid::ATTR_MESSAGE_DIGEST, EncodeOctetString(digest));
  signer.AuthenticatedAttributes().Add(oid::ATTR_CONTENT_TYPE, EncodeOID(oid::PKCS7_DATA));
  int64_t size = 0;
  int32_t rc = signer.Sign(digest.data(), static_cast<int64_t>(digest.size()), true, size, nullptr);
  EXPECT_EQ(rc, MSG_ERROR_BUFFER_TOO_SMALL);
  if (rc != MSG_ERROR_BUFFER_TOO_SMALL) return rc;
  const int64_t announced = size;
  out.assign(static_cast<size_t>(size), '\0');
  rc = signer.Sign(digest.data(), static_cast<int64_t>(digest.size()), true, size, out.data());
  EXPECT_EQ(rc, 0) << signer.ErrorInfo();
  EXPECT_LE(size, announced);
  out.resize(rc == 0 ? static_cast<size_t>(size) : 0);
  return rc;
}

// The handler's reservation: a signature of empty data with a 64-byte messageDigest.
inline int64_t HandlerEstimate(corvane::TOvCustomCertStorage& storage, int32_t hash) {
  using namespace corvane;
  TOvMessageSigner signer;
  signer.SetCertStorage(&storage);
  signer.SetIncludeCertificates(true);
  signer.SetHashAlgorithm(hash);
  signer.AuthenticatedAttributes().Add(oid::ATTR_MESSAGE_DIGEST,
                                       EncodeOctetString(std::string(64, '\0')));
  int64_t size = 0;
  EXPECT_EQ(signer.Sign("", 0, true, size, nullptr), MSG_ERROR_BUFFER_TOO_SMALL);
  return size + 256;
}

// Key store access over the fixture database for one test.
class KeyStoreScope {
 public:
  KeyStoreScope() {
    platform::KeyStore::Instance().Shutdown();
    platform::KeyStore::Instance().SetDatabaseDir(Store::Get().Db());
  }
  ~KeyStoreScope() {
    platform::KeyStore::Instance().Shutdown();
    platform::KeyStore::Instance().SetDatabaseDir("");
  }
  KeyStoreScope(const KeyStoreScope&) = delete;
  KeyStoreScope& operator=(const KeyStoreScope&) = delete;
};

}  // namespace msgtest
