// TOvMessageSigner: SignedData over data or a stream, countersignatures and
// timestamps added to existing signatures.
#include <algorithm>
#include <cstring>

#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvScope.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvHashFunction.h"
#include "toolkit/crypto/CvPublicKeyCrypto.h"
#include "toolkit/pki/CvMessages.h"
#include "toolkit/pki/CvPKCS7Utils.h"
#include "toolkit/pki/CvTSPClient.h"
#include "toolkit/pki/CvX509.h"

namespace corvane {

namespace {

int32_t DigestSize(int32_t hash) {
  switch (hash) {
    case ALG_MD2:
    case ALG_MD4:
    case ALG_MD5:
      return 16;
    case ALG_SHA1:
    case ALG_RIPEMD160:
      return 20;
    case ALG_SHA224:
      return 28;
    case ALG_SHA256:
      return 32;
    case ALG_SHA384:
      return 48;
    case ALG_SHA512:
      return 64;
    default:
      return 0;
  }
}

bool IsPSSCertificate(const TOvX509Certificate& c) {
  return c.PublicKeyAlgorithm() == CERT_ALG_RSAPSS;
}

// RSASSA-PSS parameters: the signer's hash, MGF1 over the same hash, a salt as
// long as the hash.
ByteString PSSParameters(int32_t hash) {
  TOvRSAPSSAlgorithmIdentifier id;
  id.SetOID(oid::RSASSA_PSS);
  id.SetHashAlgorithm(hash);
  id.SetMGFHashAlgorithm(hash);
  id.SetSaltSize(DigestSize(hash));
  return id.EncodedParameters();
}

// ecdsa-with-SHA* for the signer's hash; empty for hashes without one.
ByteString ECDSAAlgorithmOID(int32_t hash) {
  switch (hash) {
    case ALG_SHA1:
      return ByteString(oid::ECDSA_SHA1);
    case ALG_SHA224:
      return ByteString(oid::ECDSA_SHA224);
    case ALG_SHA256:
      return ByteString(oid::ECDSA_SHA256);
    case ALG_SHA384:
      return ByteString(oid::ECDSA_SHA384);
    case ALG_SHA512:
      return ByteString(oid::ECDSA_SHA512);
    default:
      return {};
  }
}

// Certificate-list bytes of a content, for the size estimate: the content
// [0] { OCTET STRING } around n bytes, with room for any length form.
int64_t ContentOverhead(int64_t n) { return n > 0 ? n + int64_t{2} * (2 + 8) + 4 : 0; }

}  // namespace

TOvMessageSigner::TOvMessageSigner()
    : hash_algorithm_(ALG_SHA1), mac_algorithm_(ALG_HMAC_SHA1), content_type_(oid::PKCS7_DATA) {}

TOvMessageSigner::~TOvMessageSigner() = default;

std::vector<TOvX509Certificate*> TOvMessageSigner::SigningCertificates() const {
  std::vector<TOvX509Certificate*> out;
  if (cert_storage_ == nullptr) return out;
  const int count = cert_storage_->Count();
  for (int i = 0; i < count; ++i) {
    TOvX509Certificate* c = cert_storage_->Certificates(i);
    if (c != nullptr && c->PrivateKeyExists()) out.push_back(c);
  }
  return out;
}

bool TOvMessageSigner::HasSigningCertificate() const { return !SigningCertificates().empty(); }

int TOvMessageSigner::RecipientCount() const {
  return recipient_certs_ != nullptr ? recipient_certs_->Count() : 0;
}

int64_t TOvMessageSigner::EstimateSignedSize(int64_t dataSize, bool detached) {
  if (signature_type_ == mstMAC) return EstimateMACSize(dataSize, detached);
  const std::vector<TOvX509Certificate*> signing = SigningCertificates();
  if (signing.empty()) return 0;
  TOvPKCS7Message message;
  message.ContentType = ctSignedData;
  message.UseUndefSize = use_undef_size_;
  TOvPKCS7SignedData& data = message.SignedData();
  if (include_certificates_) {
    const int count = cert_storage_->Count();
    for (int i = 0; i < count; ++i)
      if (TOvX509Certificate* c = cert_storage_->Certificates(i))
        data.Certificates().Add(*c, false);
  }
  data.ContentType = content_type_;
  for (TOvX509Certificate* c : signing) {
    TOvPKCS7Signer& signer = *data.Signers(data.AddSigner());
    signer.Issuer.IssuerNameDER = c->IssuerNameDER();
    signer.Issuer.SerialNumber = c->SerialNumberOctets();
    signer.DigestAlgorithm = ByteString(12, '\x01');
    authenticated_attributes_.CopyTo(signer.AuthenticatedAttributes);
    unauthenticated_attributes_.CopyTo(signer.UnauthenticatedAttributes);
    const int32_t family = KeyFamilyOf(c->PublicKeyAlgorithm());
    const TOvPublicKeyMaterial* key = c->KeyMaterial();
    const int32_t bytes = key != nullptr ? (key->Bits() + 7) / 8 : 0;
    if (family == ALG_RSA || IsPSSCertificate(*c)) {
      const bool pss = use_pss_ || IsPSSCertificate(*c);
      signer.DigestEncryptionAlgorithm = ByteString(pss ? oid::RSASSA_PSS : oid::RSA_ENCRYPTION);
      if (pss) signer.DigestEncryptionAlgorithmParameters = PSSParameters(ALG_SHA1);
      signer.EncryptedDigest = ByteString(static_cast<size_t>(std::max(bytes, 512)), '\0');
    } else if (family == ALG_DSA) {
      signer.DigestEncryptionAlgorithm = ByteString(oid::DSA);
      signer.EncryptedDigest = ByteString(static_cast<size_t>(bytes), '\0');
    } else {
      signer.DigestEncryptionAlgorithm = ByteString(oid::ECDSA_SHA512);
    }
  }
  int64_t size = 0;
  message.SaveToBuffer(nullptr, size);
  size += ContentOverhead(detached ? 0 : dataSize);
  size += 4096 * static_cast<int64_t>(signing.size());
  if (tsp_client_ != nullptr) size += 2048;
  return size;
}

int32_t TOvMessageSigner::Sign(const void* data, int64_t size, bool detached, int64_t& outSize,
                               void* outBuffer) {
  error_info_.clear();
  if (size < 0 || (data == nullptr && size > 0)) return MSG_ERROR_HASHING;
  TContent content;
  content.buffer = std::string_view(static_cast<const char*>(data), static_cast<size_t>(size));
  if (signature_type_ != mstPublicKey && signature_type_ != mstMAC)
    return MSG_ERROR_UNSUPPORTED_SIGNATURE_TYPE;
  const bool mac = signature_type_ == mstMAC;
  if (mac ? RecipientCount() == 0 : !HasSigningCertificate()) return MSG_ERROR_NO_CERTIFICATE;
  const int64_t required = EstimateSignedSize(size, detached) + 128;
  if (outBuffer == nullptr || outSize < required) {
    outSize = required;
    return MSG_ERROR_BUFFER_TOO_SMALL;
  }
  TOvPKCS7Message message;
  const int32_t rc =
      mac ? SignMAC(content, detached, message) : SignPublicKey(content, detached, message);
  if (rc != 0) return rc;
  return WriteMessage(message, outSize, outBuffer);
}

int32_t TOvMessageSigner::SignStream(TOvStream& inStream, TOvStream& outStream, int64_t count,
                                     bool detached) {
  error_info_.clear();
  if (signature_type_ != mstPublicKey && signature_type_ != mstMAC)
    return MSG_ERROR_UNSUPPORTED_SIGNATURE_TYPE;
  const bool mac = signature_type_ == mstMAC;
  if (mac ? RecipientCount() == 0 : !HasSigningCertificate()) return MSG_ERROR_NO_CERTIFICATE;
  TContent content;
  content.stream = &inStream;
  content.start = inStream.Position();
  const int64_t available = std::max<int64_t>(0, inStream.Size() - content.start);
  content.count = count <= 0 || count > available ? available : count;
  TOvPKCS7Message message;
  const int32_t rc =
      mac ? SignMAC(content, detached, message) : SignPublicKey(content, detached, message);
  if (rc != 0) return rc;
  try {
    if (message.ContentType != ctSignedData) {
      outStream.Write(message.SaveToBytes());
    } else if (signing_options_ & soNoOuterContentInfo) {
      message.SignedData().SaveToStream(outStream);
    } else {
      message.UseImplicitContent = (signing_options_ & soUseImplicitContent) != 0;
      message.SaveToStream(outStream);
    }
  } catch (const std::exception& e) {
    error_info_ = e.what();
    return MSG_ERROR_BUFFER_TOO_SMALL;
  }
  return 0;
}

int32_t TOvMessageSigner::SignPublicKey(const TContent& content, bool detached,
                                        TOvPKCS7Message& message) {
  message.ContentType = ctSignedData;
  message.UseUndefSize = use_undef_size_;
  TOvPKCS7SignedData& data = message.SignedData();
  data.Version = 1;
  if (include_certificates_) {
    const int count = cert_storage_->Count();
    for (int i = 0; i < count; ++i)
      if (TOvX509Certificate* c = cert_storage_->Certificates(i))
        data.Certificates().Add(*c, false);
  }
  data.ContentType = content_type_;

  ByteString digest;
  try {
    if (content.stream != nullptr) {
      content.stream->SetPosition(content.start);
      digest = HashStream(hash_algorithm_, *content.stream, content.count);
    } else {
      digest = HashBuffer(hash_algorithm_, content.buffer);
      if (digest.empty())
        throw EOvMessageError("Unsupported algorithm: " + std::to_string(hash_algorithm_));
    }
  } catch (const std::exception& e) {
    error_info_ = e.what();
    return MSG_ERROR_HASHING;
  }
  content_digest_ = digest;

  if (!detached) {
    if (content.stream != nullptr) {
      TOvASN1DataSource part;
      part.SetRegion(content.stream, content.start, content.count);
      if (content.count > 0) data.AddContentPart(std::move(part));
    } else {
      data.SetContent(ByteString(content.buffer));
    }
  }

  if (signing_options_ & soInsertSigningTime) {
    const TDateTime moment = signing_time_ != 0 ? signing_time_ : NowUTC();
    authenticated_attributes_.Add(
        oid::ATTR_SIGNING_TIME,
        EncodeSigningTime(moment, (signing_options_ & soUseGeneralizedTimeFormat) != 0));
  }

  ByteString value;
  if (const int32_t rc = SignedValue(digest, value)) return rc;
  for (TOvX509Certificate* certificate : SigningCertificates()) {
    TOvPKCS7Signer& signer = *data.Signers(data.AddSigner());
    if (const int32_t rc = FillSignerInfo(signer, *certificate, value)) return rc;
  }
  if (tsp_client_ != nullptr)
    if (const int32_t rc = TimestampSigners(data)) return rc;
  return 0;
}

int32_t TOvMessageSigner::SignedValue(std::string_view digest, ByteString& value) {
  if (authenticated_attributes_.Count() == 0) {
    value = ByteString(digest);
    return 0;
  }
  if (signing_options_ & soInsertMessageDigests) {
    const int index = authenticated_attributes_.IndexOfType(oid::ATTR_MESSAGE_DIGEST);
    if (index < 0)
      authenticated_attributes_.Add(oid::ATTR_MESSAGE_DIGEST, EncodeOctetString(digest));
    else
      *authenticated_attributes_.Values(index) = {EncodeOctetString(digest)};
  }
  ByteString encoded;
  try {
    encoded = authenticated_attributes_.SaveToBytes();
  } catch (const std::exception& e) {
    error_info_ = e.what();
    return MSG_ERROR_ATTRIBUTES_ENCODING;
  }
  try {
    TOvHashFunction hash(hash_algorithm_, nullptr, CryptoProviderManager(),
                         TOvCryptoParams{nullptr});
    hash.Update(encoded);
    value = hash.Finish();
  } catch (const std::exception& e) {
    error_info_ = e.what();
    value.clear();
  }
  return value.empty() ? MSG_ERROR_UNSUPPORTED_ALGORITHM : 0;
}

int32_t TOvMessageSigner::FillSignerInfo(TOvPKCS7Signer& signer, TOvX509Certificate& certificate,
                                         std::string_view value) {
  signer.Version = 1;
  signer.Issuer.IdentificationKind = PKCS7_ISSUER_AND_SERIAL;
  signer.Issuer.IssuerName.Assign(certificate.IssuerRDN());
  // The certificate's own octets: verifiers compare them exactly.
  signer.Issuer.IssuerNameDER = certificate.IssuerNameDER();
  signer.Issuer.SerialNumber = certificate.SerialNumberOctets();
  signer.DigestAlgorithm = OIDOfHashAlgorithm(hash_algorithm_);
  signer.DigestAlgorithmParameters.clear();
  if (signer.DigestAlgorithm.empty()) return MSG_ERROR_UNSUPPORTED_ALGORITHM;

  const int32_t family = KeyFamilyOf(certificate.PublicKeyAlgorithm());
  TOvPublicKeyMaterial* key = certificate.KeyMaterial();
  const bool pss = IsPSSCertificate(certificate) || (family == ALG_RSA && use_pss_);
  if (pss || family == ALG_RSA) {
    signer.DigestEncryptionAlgorithm =
        !signature_algorithm_oid_.empty() ? signature_algorithm_oid_
                                          : ByteString(pss ? oid::RSASSA_PSS : oid::RSA_ENCRYPTION);
    signer.DigestEncryptionAlgorithmParameters.clear();
    signer.WriteNullParams = true;
    try {
      if (key == nullptr) throw EOvMessageError("No key material");
      const std::unique_ptr<TOvPublicKeyMaterial> copy = key->Clone();
      TOvRSAPublicKeyCrypto crypto(nullptr, CryptoProviderManager());
      crypto.SetKeyMaterial(copy.get());
      crypto.SetInputIsHash(true);
      crypto.SetHashAlgorithm(hash_algorithm_);
      if (pss) {
        signer.DigestEncryptionAlgorithmParameters = PSSParameters(hash_algorithm_);
        crypto.SetScheme(RSA_SCHEME_PSS);
        crypto.SetSaltSize(DigestSize(hash_algorithm_));
        crypto.SetMGFAlgorithm(CERT_ALG_MGF1);
      } else {
        crypto.SetScheme(RSA_SCHEME_PKCS1);
        crypto.SetHashFuncOID(signer.DigestAlgorithm);
        crypto.SetUseAlgorithmPrefix(true);
      }
      signer.EncryptedDigest = crypto.SignDetached(value);
      if (signer.EncryptedDigest.empty()) throw EOvMessageError("Empty signature");
    } catch (const std::exception& e) {
      // The provider's text is often the only place the cause (a wrong PIN,
      // a cancelled prompt) is named; the code alone would lose it.
      error_info_ = e.what();
      return pss ? MSG_ERROR_PSS_SIGNING : MSG_ERROR_RSA_SIGNING;
    }
  } else if (family == ALG_EC) {
    // RFC 5758 3.2: ecdsa-with-SHA*, the parameters absent.
    signer.DigestEncryptionAlgorithm = ECDSAAlgorithmOID(hash_algorithm_);
    signer.DigestEncryptionAlgorithmParameters.clear();
    signer.WriteNullParams = false;
    if (signer.DigestEncryptionAlgorithm.empty()) return MSG_ERROR_UNSUPPORTED_ALGORITHM;
    try {
      if (key == nullptr) throw EOvMessageError("No key material");
      TOvECDSAPublicKeyCrypto crypto(nullptr, CryptoProviderManager());
      crypto.SetKeyMaterial(key);
      crypto.SetInputIsHash(true);
      crypto.SetHashAlgorithm(hash_algorithm_);
      signer.EncryptedDigest = crypto.SignDetached(value);
      if (signer.EncryptedDigest.empty()) throw EOvMessageError("Empty signature");
    } catch (const std::exception& e) {
      error_info_ = e.what();
      return MSG_ERROR_DSA_SIGNING;
    }
  } else if (family == ALG_DSA) {
    // No DSA signing key material in this toolkit.
    return MSG_ERROR_DSA_SIGNING;
  } else {
    return MSG_ERROR_UNSUPPORTED_ALGORITHM;
  }
  authenticated_attributes_.CopyTo(signer.AuthenticatedAttributes);
  unauthenticated_attributes_.CopyTo(signer.UnauthenticatedAttributes);
  return 0;
}

int32_t TOvMessageSigner::TimestampSigners(TOvPKCS7SignedData& data) {
  for (int i = 0; i < data.SignerCount(); ++i) {
    TOvPKCS7Signer& signer = *data.Signers(i);
    ByteString digest;
    try {
      TOvHashFunction hash(tsp_client_->HashAlgorithm(), nullptr, CryptoProviderManager(),
                           TOvCryptoParams{nullptr});
      hash.Update(signer.EncryptedDigest);
      digest = hash.Finish();
    } catch (const std::exception& e) {
      error_info_ = e.what();
      return MSG_ERROR_UNSUPPORTED_HASH;
    }
    uint8_t status = 0;
    uint32_t failureInfo = 0;
    ByteString token;
    int32_t rc = tsp_client_->Timestamp(digest, status, failureInfo, token);
    // A reply that was not granted, or that brought no token, is a failure:
    // the caller asked for a timestamp and must not get a signature without.
    if (rc == 0 && (status > 1 || token.empty())) rc = MSG_ERROR_INVALID_TIMESTAMP;
    if (rc != 0) {
      if (signing_options_ & soIgnoreTimestampFailure) return 0;
      error_info_ = tsp_client_->FailureText();
      if (error_info_.empty())
        error_info_ = token.empty() && status <= 1
                          ? "The timestamp authority sent no token"
                          : "The timestamp request failed (status " + std::to_string(status) + ")";
      return rc;
    }
    signer.UnauthenticatedAttributes.Add(oid::ATTR_TIMESTAMP_TOKEN, token);
  }
  return 0;
}

int32_t TOvMessageSigner::WriteMessage(TOvPKCS7Message& message, int64_t& outSize,
                                       void* outBuffer) {
  ByteString bytes;
  try {
    if (message.ContentType != ctSignedData) {
      bytes = (signing_options_ & soNoOuterContentInfo) ? message.AuthenticatedData().Encoding
                                                        : message.SaveToBytes();
    } else if (signing_options_ & soNoOuterContentInfo) {
      TOvASN1ConstrainedTag node;
      message.SignedData().SaveToTag(node);
      bytes = node.SaveToBytes();
    } else {
      message.UseImplicitContent = (signing_options_ & soUseImplicitContent) != 0;
      bytes = message.SaveToBytes();
    }
  } catch (const std::exception& e) {
    error_info_ = e.what();
    return MSG_ERROR_BUFFER_TOO_SMALL;
  }
  if (outBuffer == nullptr || static_cast<int64_t>(bytes.size()) > outSize) {
    outSize = static_cast<int64_t>(bytes.size());
    return MSG_ERROR_BUFFER_TOO_SMALL;
  }
  std::memcpy(outBuffer, bytes.data(), bytes.size());
  outSize = static_cast<int64_t>(bytes.size());
  return 0;
}

int32_t TOvMessageSigner::Timestamp(const void* message, int64_t size, int64_t& outSize,
                                    void* outBuffer) {
  error_info_.clear();
  if (tsp_client_ == nullptr) return MSG_ERROR_NO_TSP_CLIENT;
  if (size < 0 || (message == nullptr && size > 0)) return PKCS7_ERROR_NOT_ASN1;
  const int64_t required = size + 8192;
  if (outBuffer == nullptr || outSize < required) {
    outSize = required;
    return MSG_ERROR_BUFFER_TOO_SMALL;
  }
  TOvPKCS7Message loaded;
  if (const int32_t rc = loaded.LoadFromBuffer(message, size)) return rc;
  if (loaded.ContentType != ctSignedData) return MSG_ERROR_NOT_SIGNED_DATA;
  if (const int32_t rc = TimestampSigners(loaded.SignedData())) return rc;
  // A loaded message is written back whole.
  const TCvScopedValue<TCvSigningOptions> whole(
      signing_options_, signing_options_ & ~(soNoOuterContentInfo | soUseImplicitContent));
  return WriteMessage(loaded, outSize, outBuffer);
}

int32_t TOvMessageSigner::Countersign(const void* message, int64_t size, int64_t& outSize,
                                      void* outBuffer) {
  error_info_.clear();
  if (size < 0 || (message == nullptr && size > 0)) return PKCS7_ERROR_NOT_ASN1;
  const std::vector<TOvX509Certificate*> signing = SigningCertificates();
  if (signing.empty()) return MSG_ERROR_NO_CERTIFICATE;
  const int64_t required = size + EstimateSignedSize(0, true) + 128;
  if (outBuffer == nullptr || outSize < required) {
    outSize = required;
    return MSG_ERROR_BUFFER_TOO_SMALL;
  }
  const bool raw = (signing_options_ & soRawCountersign) != 0;
  const std::string_view input(static_cast<const char*>(message), static_cast<size_t>(size));
  try {
    TOvPKCS7Message loaded;
    if (!raw) {
      if (const int32_t rc = loaded.LoadFromBuffer(message, size)) return rc;
      if (loaded.ContentType != ctSignedData) return MSG_ERROR_NOT_SIGNED_DATA;
    }
    // A countersignature has no content type of its own (RFC 5652 11.4).
    for (int i = authenticated_attributes_.Count() - 1; i >= 0; --i)
      if (authenticated_attributes_.GetType(i) == oid::ATTR_CONTENT_TYPE)
        authenticated_attributes_.Remove(i);
    TOvPKCS7SignedData& data = loaded.SignedData();
    const int targets = raw ? 1 : data.SignerCount();
    for (TOvX509Certificate* certificate : signing) {
      for (int t = 0; t < targets; ++t) {
        const std::string_view target =
            raw ? input : std::string_view(data.Signers(t)->EncryptedDigest);
        ByteString digest;
        try {
          digest = HashBuffer(hash_algorithm_, target);
        } catch (const std::exception& e) {
          error_info_ = e.what();
          return MSG_ERROR_UNSUPPORTED_ALGORITHM;
        }
        if (digest.empty()) return MSG_ERROR_UNSUPPORTED_ALGORITHM;
        if (authenticated_attributes_.Count() > 0) {
          const int index = authenticated_attributes_.IndexOfType(oid::ATTR_MESSAGE_DIGEST);
          if (index < 0)
            authenticated_attributes_.Add(oid::ATTR_MESSAGE_DIGEST, EncodeOctetString(digest));
          else
            *authenticated_attributes_.Values(index) = {EncodeOctetString(digest)};
        }
        ByteString value;
        if (const int32_t rc = SignedValue(digest, value)) return rc;
        TOvPKCS7Signer countersigner;
        if (const int32_t rc = FillSignerInfo(countersigner, *certificate, value)) return rc;
        const ByteString encoded = countersigner.SaveToBytes();
        if (raw) {
          if (static_cast<int64_t>(encoded.size()) > outSize) {
            outSize = static_cast<int64_t>(encoded.size());
            return MSG_ERROR_BUFFER_TOO_SMALL;
          }
          std::memcpy(outBuffer, encoded.data(), encoded.size());
          outSize = static_cast<int64_t>(encoded.size());
          return 0;
        }
        data.Signers(t)->UnauthenticatedAttributes.Add(oid::ATTR_COUNTERSIGNATURE, encoded);
      }
    }
    if (include_certificates_) {
      const int count = cert_storage_->Count();
      for (int i = 0; i < count; ++i) {
        TOvX509Certificate* c = cert_storage_->Certificates(i);
        if (c != nullptr && !data.Certificates().Contains(*c)) data.Certificates().Add(*c, false);
      }
    }
    // A loaded message is written back whole.
    const TCvScopedValue<TCvSigningOptions> whole(
        signing_options_, signing_options_ & ~(soNoOuterContentInfo | soUseImplicitContent));
    return WriteMessage(loaded, outSize, outBuffer);
  } catch (const std::exception& e) {
    error_info_ = e.what();
    return MSG_ERROR_COUNTERSIGN_FAILED;
  }
}

int32_t TOvMessageSigner::CountersignStream(TOvStream& inStream, TOvStream& outStream,
                                            int64_t count) {
  const int64_t available = std::max<int64_t>(0, inStream.Size() - inStream.Position());
  if (count <= 0 || count > available) count = available;
  const std::string input = inStream.ReadString(static_cast<size_t>(count));
  int64_t size = 0;
  int32_t rc = Countersign(input.data(), static_cast<int64_t>(input.size()), size, nullptr);
  if (rc != MSG_ERROR_BUFFER_TOO_SMALL) return rc;
  std::string out(static_cast<size_t>(size), '\0');
  rc = Countersign(input.data(), static_cast<int64_t>(input.size()), size, out.data());
  if (rc != 0) return rc;
  outStream.Write(out.data(), static_cast<size_t>(size));
  return 0;
}

}  // namespace corvane
