#include "app/core/LongTermValidation.h"

#include <set>
#include <stdexcept>

#include "app/core/DocTimeStamping.h"
#include "app/core/SignerCore.h"
#include "app/core/SignerErrors.h"
#include "app/core/TimestampClient.h"
#include "platform/keystore/KeyStore.h"
#include "toolkit/asn1/CvDERReader.h"
#include "toolkit/common/CvScope.h"
#include "toolkit/common/CvStream.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDF_DSS.h"
#include "toolkit/pki/CvCertPath.h"
#include "toolkit/pki/CvCustomCertStorage.h"
#include "toolkit/pki/CvPKCS7.h"
#include "toolkit/pki/CvTSPClient.h"
#include "toolkit/pki/CvX509.h"
#include "toolkit/pki/CvX509Ext.h"

namespace tavra {

using namespace corvane;

namespace {

// Nested timestamps (a token inside a token's signer) are not followed
// further than this.
constexpr int kMaxTokenDepth = 4;

// Certificates met on the way, each DER once, owned here for the run.
class TCertificatePool {
 public:
  // The pooled copy of der; nullptr when it does not load.
  const TOvX509Certificate* Add(std::string_view der) {
    for (const auto& c : certificates_)
      if (c->CertificateBinary() == der) return c.get();
    // One odd certificate does not hide the others.
    std::unique_ptr<TOvX509Certificate> certificate = LoadCertificateOrNull(der);
    if (!certificate) return nullptr;
    certificates_.push_back(std::move(certificate));
    return certificates_.back().get();
  }
  const std::vector<std::unique_ptr<TOvX509Certificate>>& All() const { return certificates_; }

 private:
  std::vector<std::unique_ptr<TOvX509Certificate>> certificates_;
};

// What one signature (or document timestamp) needs validation data for.
struct TSignatureTargets {
  std::string Name;
  ByteString Contents;                                  // the /Contents bytes, padding included
  std::vector<const TOvX509Certificate*> Certificates;  // signer, then authorities
  std::vector<ByteString> Carried;                      // every certificate its CMS holds
};

// Reads a SignedData (a signature value or a timestamp token): its
// certificates into the pool and targets, the first signer's certificate
// (and those of the tokens it carries) into targets.Certificates.
void ReadSignedData(std::string_view der, TCertificatePool& pool, TSignatureTargets& targets,
                    int depth) {
  TOvPKCS7Message message;
  if (message.LoadFromBytes(der) != 0 || message.ContentType != ctSignedData)
    throw std::runtime_error("signature " + targets.Name + ": the value cannot be read");
  TOvPKCS7SignedData& data = message.SignedData();
  std::vector<const TOvX509Certificate*> carried;
  for (int i = 0; i < data.Certificates().Count(); ++i) {
    const TOvX509Certificate* c = data.Certificates().Certificates(i);
    if (c == nullptr) continue;
    targets.Carried.emplace_back(c->CertificateBinary());
    if (const TOvX509Certificate* pooled = pool.Add(c->CertificateBinary()))
      carried.push_back(pooled);
  }
  if (data.SignerCount() == 0)
    throw std::runtime_error("signature " + targets.Name + ": the value names no signer");
  const TOvPKCS7Signer& signer = *data.Signers(0);
  const TOvX509Certificate* signing = nullptr;
  for (const TOvX509Certificate* c : carried)
    if (IssuerIdentifies(signer.Issuer, *c)) signing = c;
  if (signing == nullptr)
    throw std::runtime_error("signature " + targets.Name +
                             ": the value does not carry its signer's certificate");
  targets.Certificates.push_back(signing);
  if (depth >= kMaxTokenDepth) return;
  const TOvPKCS7Attributes& unsigned_ = signer.UnauthenticatedAttributes;
  for (int at = unsigned_.IndexOfType(oid::ATTR_TIMESTAMP_TOKEN); at >= 0;
       at = unsigned_.IndexOfType(oid::ATTR_TIMESTAMP_TOKEN, at + 1)) {
    const std::vector<ByteString>* tokens = unsigned_.Values(at);
    if (tokens == nullptr) continue;
    for (const ByteString& token : *tokens) ReadSignedData(token, pool, targets, depth + 1);
  }
}

std::vector<TSignatureTargets> ReadSignatures(TOvPDFDocument& document, TCertificatePool& pool) {
  std::vector<TSignatureTargets> signatures;
  for (size_t i = 0; i < document.SignatureCount(); ++i) {
    TOvPDFSignature& signature = *document.Signatures(i);
    TOvPDFDictionary* value = signature.FieldDictionary();
    if (!signature.Written() || value == nullptr) continue;
    TSignatureTargets targets;
    targets.Name = signature.SignatureName();
    targets.Contents = GetStringEntry(value, "Contents", false);
    const std::string subFilter = GetNameEntry(value, "SubFilter", "", false);
    if (subFilter == "adbe.x509.rsa_sha1")
      throw std::runtime_error("signature " + targets.Name +
                               ": validation data cannot be added to an adbe.x509.rsa_sha1 value");
    ReadSignedData(LeadingDERElement(targets.Contents), pool, targets, 0);
    signatures.push_back(std::move(targets));
  }
  if (signatures.empty()) throw std::runtime_error("the document holds no signature");
  return signatures;
}

void ReadDatabase(platform::KeyStoreName name, TCertificatePool& pool,
                  std::vector<const TOvX509Certificate*>& into) {
  platform::KeyStore& store = platform::KeyStore::Instance();
  std::vector<platform::KeyStoreCertificate> listed;
  const TCvScopeExit release([&store, &listed] {
    for (const platform::KeyStoreCertificate& c : listed) store.FreeCertificate(c.Handle);
  });
  // A database that cannot be read adds nothing: a path that needs it fails by name.
  if (store.List(name, listed) != platform::KeyStoreResult::Ok) return;
  for (const platform::KeyStoreCertificate& c : listed)
    if (const TOvX509Certificate* pooled = pool.Add(c.Der)) into.push_back(pooled);
}

}  // namespace

void AppendLongTermValidation(TOvStream& stream, const TLongTermOptions& options) {
  TCertificatePool pool;
  std::vector<TCvDSSEntry> entries;
  {
    TOvPDFDocument document;
    // The stream is our own staging copy: the store is appended to it directly.
    document.SetWorkInPlace(true);
    try {
      document.Open(stream);
    } catch (const ECorvaneError&) {
      if (!document.Encrypted()) throw;
    }
    if (document.Encrypted() || document.Decrypted()) {
      document.Close(false);
      throw ESignerError(kMsgEncrypted);
    }
    bool saved = false;
    const TCvScopeExit release([&document, &saved] {
      if (!saved) document.Close(false);
    });
    const std::vector<TSignatureTargets> signatures = ReadSignatures(document, pool);

    std::vector<const TOvX509Certificate*> anchors, authorities;
    for (const ByteString& der : options.Anchors)
      if (const TOvX509Certificate* c = pool.Add(der)) anchors.push_back(c);
    for (const ByteString& der : options.Authorities)
      if (const TOvX509Certificate* c = pool.Add(der)) authorities.push_back(c);
    if (options.UseDatabase) {
      ReadDatabase(platform::KeyStoreName::Root, pool, anchors);
      ReadDatabase(platform::KeyStoreName::CA, pool, authorities);
    }
    TOvValidationDataCollector collector(options.Fetch);
    for (const auto& c : pool.All()) collector.AddCandidate(c.get());
    for (const TOvX509Certificate* c : anchors) collector.AddAnchor(c);

    const TDateTime moment = options.Moment > 0 ? options.Moment : NowUTC();
    for (const TSignatureTargets& signature : signatures) {
      TCvDSSEntry entry;
      entry.SignatureContents = signature.Contents;
      std::set<std::string_view> done;
      for (const ByteString& der : signature.Carried) entry.Data.Certificates.push_back(der);
      for (const TOvX509Certificate* certificate : signature.Certificates) {
        if (!done.insert(certificate->CertificateBinary()).second) continue;
        const std::string name = CertificateNameText(*certificate, false);
        if (options.Progress) options.Progress(name);
        std::string error;
        if (!collector.Collect(*certificate, moment, entry.Data, error))
          throw std::runtime_error("signature " + signature.Name + ": " + error);
      }
      entries.push_back(std::move(entry));
    }
    AddDSS(document, entries);
    saved = true;
    document.Close(true);
  }
  if (options.Timestamp.URL.empty()) return;
  const std::unique_ptr<TOvCustomTSPClient> client = options.TSPFactory
                                                         ? options.TSPFactory(options.Timestamp)
                                                         : MakeTimestampClient(options.Timestamp);
  if (!client) throw std::runtime_error("No timestamping client for " + options.Timestamp.URL);
  if (!AppendDocTimeStamp(stream, *client)) throw ESignerError(kMsgEncrypted);
}

std::string AddLongTermValidation(const std::string& inputPath, const std::string& outputPath,
                                  const TLongTermOptions& options) {
  return UpdateStagedCopy(inputPath, outputPath, [&](TOvFileStream& stream) {
    AppendLongTermValidation(stream, options);
    return std::string();
  });
}

}  // namespace tavra
