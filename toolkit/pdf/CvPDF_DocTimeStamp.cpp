// TOvPDFDocTimeStampHandler: a document timestamp's value dictionary, the
// size to reserve, hashing the byte ranges and the token as the value.
#include "toolkit/pdf/CvPDF_DocTimeStamp.h"

#include "toolkit/asn1/CvDERReader.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvDER.h"
#include "toolkit/crypto/CvHashFunction.h"
#include "toolkit/pdf/CvPDFUtils.h"
#include "toolkit/pki/CvMessages.h"
#include "toolkit/pki/CvPKCS7.h"
#include "toolkit/pki/CvTSPClient.h"
#include "toolkit/pki/CvX509.h"

namespace corvane {

namespace {

constexpr std::string_view kSubFilter = "ETSI.RFC3161";

// The element at the start of a zero-padded /Contents; empty when none.
std::string_view TokenElement(std::string_view contents) {
  TCvDERReader reader(contents);
  uint8_t tag = 0;
  std::string_view content, whole;
  return reader.ReadAny(tag, content, whole) ? whole : std::string_view();
}

// The algorithm and hashed octets of a MessageImprint; false when malformed.
bool ReadImprint(std::string_view der, int32_t& algorithm, std::string_view& hashed) {
  TCvDERReader outer(der);
  std::string_view body, identifier, oid;
  if (!outer.Read(DER_SEQUENCE, body) || !outer.AtEnd()) return false;
  TCvDERReader fields(body);
  if (!fields.Read(DER_SEQUENCE, identifier) || !fields.Read(DER_OCTET_STRING, hashed) ||
      !fields.AtEnd())
    return false;
  TCvDERReader id(identifier);
  if (!id.Read(DER_OID, oid)) return false;
  algorithm = HashAlgorithmOfOID(oid);
  return algorithm != ALG_UNKNOWN;
}

}  // namespace

TOvPDFDocTimeStampHandler::TOvPDFDocTimeStampHandler() : hashAlgorithm_(ALG_SHA256) {
  SetCustomName("Adobe.PPKLite");
}

TOvPDFDocTimeStampHandler::~TOvPDFDocTimeStampHandler() = default;

const TOvPDFSecurityHandlerClass& TOvPDFDocTimeStampHandler::Class() {
  static const TOvPDFSecurityHandlerClass handlerClass{
      "Orvik.Corvane.DocTimeStamp",
      "RFC 3161 document timestamp",
      true,
      false,
      [](std::string_view name) { return name == kSubFilter; },
      [](std::string_view) { return false; },
      [] { return std::make_unique<TOvPDFDocTimeStampHandler>(); }};
  return handlerClass;
}

void TOvPDFDocTimeStampHandler::Fail(const std::string& message) const {
  throw EOvPDFSecurityHandlerError(message);
}

void TOvPDFDocTimeStampHandler::ResetHandler() {
  TOvPDFSecurityHandler::ResetHandler();
  hash_.reset();
  info_.reset();
  readToken_.clear();
  problem_.clear();
  hashAlgorithm_ = ALG_SHA256;
}

void TOvPDFDocTimeStampHandler::SaveSignatureInfo(TOvPDFDictionary* sigDict) {
  AddNameEntry(sigDict, "SubFilter", std::string(kSubFilter));
}

void TOvPDFDocTimeStampHandler::LoadSignatureInfo(TOvPDFDictionary* sigDict) {
  readToken_ = ByteString(TokenElement(GetStringEntry(sigDict, "Contents", false)));
  problem_.clear();
  info_ = std::make_unique<TOvClientTSPInfo>();
  info_->SetIgnoreBadSignature(false);
  hashAlgorithm_ = ALG_UNKNOWN;
  std::string_view hashed;
  if (readToken_.empty() || info_->ParseToken(readToken_) != 0 ||
      !ReadImprint(info_->MessageImprint(), hashAlgorithm_, hashed))
    hashAlgorithm_ = ALG_UNKNOWN;
}

int64_t TOvPDFDocTimeStampHandler::EstimateSignatureSize() {
  if (!tspClient_) Fail("TSP client component not found");
  TOvHashFunction hash(tspClient_->HashAlgorithm(), nullptr, CryptoProviderManager(),
                       static_cast<TOvCryptoParams>(nullptr));
  hash.Update("size of a timestamp token");
  ByteString token;
  const std::string failure = RequestTimestampToken(*tspClient_, hash.Finish(), token);
  if (!failure.empty()) Fail(failure);
  // Serial, time and nonce may be longer in the real token.
  return static_cast<int64_t>(token.size()) + 1024;
}

void TOvPDFDocTimeStampHandler::BeginSigning(TOvPDFFile*) {
  hashAlgorithm_ = tspClient_ ? tspClient_->HashAlgorithm() : hashAlgorithm_;
}

void TOvPDFDocTimeStampHandler::HashInit() {
  hash_.reset();
  if (hashAlgorithm_ == ALG_UNKNOWN) return;
  hash_ = std::make_unique<TOvHashFunction>(hashAlgorithm_, nullptr, CryptoProviderManager(),
                                            static_cast<TOvCryptoParams>(nullptr));
}

bool TOvPDFDocTimeStampHandler::HashUpdate(std::string_view bytes) {
  if (!hash_) return false;
  hash_->Update(bytes);
  return true;
}

ByteString TOvPDFDocTimeStampHandler::HashFinal() {
  if (!hash_) return {};
  ByteString digest = hash_->Finish();
  hash_.reset();
  return digest;
}

std::string TOvPDFDocTimeStampHandler::CheckToken(std::string_view token, std::string_view digest) {
  info_ = std::make_unique<TOvClientTSPInfo>();
  info_->SetIgnoreBadSignature(false);
  const int32_t parsed = info_->ParseToken(token);
  if (info_->SignatureResult() != 0)
    return "the token's signature does not verify (error " +
           std::to_string(info_->SignatureResult()) + ")";
  if (parsed != 0 || info_->ContentType() != oid::TST_INFO) return "the token does not read";
  int32_t algorithm = ALG_UNKNOWN;
  std::string_view hashed;
  if (!ReadImprint(info_->MessageImprint(), algorithm, hashed))
    return "the token's message imprint does not read";
  if (algorithm != hashAlgorithm_ || hashed != digest)
    return "the token is not over the document's byte ranges";
  return {};
}

ByteString TOvPDFDocTimeStampHandler::SignDigest(std::string_view digest) {
  if (!tspClient_) Fail("TSP client component not found");
  ByteString token;
  const std::string failure = RequestTimestampToken(*tspClient_, ByteString(digest), token);
  if (!failure.empty()) Fail(failure);
  const std::string problem = CheckToken(token, digest);
  if (!problem.empty()) Fail("The timestamp token received is refused: " + problem);
  return token;
}

bool TOvPDFDocTimeStampHandler::VerifyDigest(std::string_view digest) {
  if (readToken_.empty()) {
    problem_ = "the value is not a timestamp token";
    return false;
  }
  problem_ = CheckToken(readToken_, digest);
  return problem_.empty();
}

double TOvPDFDocTimeStampHandler::GenTime() const { return info_ ? info_->GenTime : 0; }

const TOvX509Certificate* TOvPDFDocTimeStampHandler::AuthorityCertificate() const {
  return info_ ? info_->Verifier().SignerCertificate(0) : nullptr;
}

TOvPDFSignature* AddDocTimeStamp(TOvPDFDocument& document, TOvPDFDocTimeStampHandler& handler) {
  TOvPDFSignature* entry = document.Signatures(document.AddSignature());
  entry->SetHandler(&handler);
  entry->SetInvisible(true);
  return entry;
}

}  // namespace corvane
