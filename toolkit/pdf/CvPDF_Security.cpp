// TOvPDFSecurityHandler: the state and algorithms every handler shares (the
// common part of the Encrypt dictionary, crypt filters, per-object keys, RC4
// and AES-CBC processing of strings and streams), and the process-wide
// registry of handler classes.
#include "toolkit/pdf/CvPDF.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "platform/PlatformSystem.h"
#include "toolkit/common/CvSharedResource.h"
#include "toolkit/crypto/CvAES.h"
#include "toolkit/crypto/CvMD.h"
#include "toolkit/crypto/CvRC4.h"
#include "toolkit/pdf/CvPDFSecurity.h"
#include "toolkit/pdf/CvPDF_DocTimeStamp.h"

namespace corvane {

namespace {

constexpr int32_t ALG_RC4_CODE = 0x7001;
constexpr int32_t ALG_AES128_CODE = 0x7005;
constexpr int32_t ALG_AES256_CODE = 0x7007;
constexpr int32_t ALG_NONE_CODE = 0x7FFF;

[[noreturn]] void InvalidInfo() {
  throw EOvPDFSecurityHandlerError("Invalid security handler information");
}

[[noreturn]] void InternalError(const char* tag) {
  throw EOvPDFSecurityHandlerError(std::string("Internal error ") + tag);
}

int32_t AlgorithmOfMethod(uint8_t method) {
  switch (method) {
    case PDF_CRYPT_V2:
      return ALG_RC4_CODE;
    case PDF_CRYPT_AESV2:
      return ALG_AES128_CODE;
    case PDF_CRYPT_AESV3:
      return ALG_AES256_CODE;
    default:
      return ALG_NONE_CODE;
  }
}

bool HasType(TOvPDFDictionary* dict, std::string_view type) {
  if (!dict) return false;
  auto* name = dynamic_cast<TOvPDFName*>(GetEntry(dict, "Type"));
  return name && name->GetName() == type;
}

// The indirect object a nested value belongs to; nil for a direct object
// (a trailer), and nil rather than looping on a malformed parent chain.
TOvPDFIndirect* EnclosingIndirect(TOvPDFObject* object) {
  for (int depth = 0; object && depth <= PDF_MAX_NESTING + 2; ++depth) {
    if (auto* indirect = dynamic_cast<TOvPDFIndirect*>(object)) return indirect;
    object = object->Parent();
  }
  return nullptr;
}

// What one object goes through, chosen from /V and the crypt filter method.
enum class TCipher { rc4, aes, identity, custom };

// The handler classes the PDF layer starts with, in registration order:
// the password handler, the public-key handler, then the document timestamps.
std::vector<const TOvPDFSecurityHandlerClass*> StartupHandlerClasses() {
  return {&TOvPDFPasswordSecurityHandler::Class(), &TOvPDFPublicKeySecurityHandler::Class(),
          &TOvPDFDocTimeStampHandler::Class()};
}

// The registry: classes in registration order, behind one reader/writer lock.
struct TRegistry {
  TRegistry() : Classes(StartupHandlerClasses()) {}
  TOvSharedResource Lock;
  std::vector<const TOvPDFSecurityHandlerClass*> Classes;
};

// Created, with the start-up classes, on first use; gone at process exit.
TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

}  // namespace

TOvPDFSecurityHandler::TOvPDFSecurityHandler() = default;

TOvPDFSecurityHandler::~TOvPDFSecurityHandler() = default;

// Keys, salts and IVs come straight from the kernel's random source.
ByteString TOvPDFSecurityHandler::SystemRandom(size_t size) {
  ByteString out(size, '\0');
  if (!platform::SystemRandomBytes(out.data(), out.size())) {
    throw EOvPDFSecurityHandlerError("Internal error OvPDFSecurityHandler.Random.1");
  }
  return out;
}

bool TOvPDFSecurityHandler::GetSignerInfo(std::string& name, std::string& subjectLines,
                                          std::string& keyDescription) {
  name.clear();
  subjectLines.clear();
  keyDescription.clear();
  return false;
}

void TOvPDFSecurityHandler::ResetHandler() { excludedObjects_.clear(); }

// ---------------------------------------------------------------------------
// Reading and writing the Encrypt dictionary's common part

void TOvPDFSecurityHandler::ReadEncryptionDictionary(TOvPDFDictionary* encryptDict) {
  if (!encryptDict) InvalidInfo();
  try {
    encryptionVersion_ = GetIntEntry(encryptDict, "V", 0, false);
    customName_ = GetNameEntry(encryptDict, "Filter", "", false);
    keyLength_ = GetIntEntry(encryptDict, "Length", 40, false);
  } catch (const EOvPDFError&) {
    InvalidInfo();
  }
  // Every string and stream held directly in the dictionary, at any depth;
  // references are not followed.
  std::vector<std::pair<TOvPDFObject*, int>> pending{{encryptDict, 0}};
  std::unordered_set<TOvPDFObject*> seen;
  while (!pending.empty()) {
    auto [object, depth] = pending.back();
    pending.pop_back();
    if (!object || depth > PDF_MAX_NESTING || !seen.insert(object).second) continue;
    if (dynamic_cast<TOvPDFString*>(object)) {
      excludedObjects_.push_back(object);
    } else if (auto* stream = dynamic_cast<TOvPDFStream*>(object)) {
      excludedObjects_.push_back(stream);
      pending.emplace_back(stream->Dictionary, depth + 1);
    } else if (auto* array = dynamic_cast<TOvPDFArray*>(object)) {
      for (const auto& item : array->Items()) pending.emplace_back(item.Object, depth + 1);
    }
  }
}

void TOvPDFSecurityHandler::BindDocumentObjects() {
  metadataStream_ = nullptr;
  signatureContents_.clear();
  if (!document_) return;
  TOvPDFDictionary* trailer = document_->Trailer();
  if (!trailer) return;
  if (auto* root = dynamic_cast<TOvPDFRef*>(GetEntry(trailer, "Root"))) {
    TOvPDFIndirect* target = root->Resolve();
    auto* catalog = target ? dynamic_cast<TOvPDFDictionary*>(target->Value) : nullptr;
    if (auto* ref = catalog ? dynamic_cast<TOvPDFRef*>(GetEntry(catalog, "Metadata")) : nullptr) {
      TOvPDFIndirect* metadata = ref->Resolve();
      metadataStream_ = metadata ? dynamic_cast<TOvPDFStream*>(metadata->Value) : nullptr;
    }
    // Signature values (and the digests of their references) are never
    // encrypted: they are bytes a verifier reads as they stand.
    ForEachFormField(catalog, [this](TOvPDFDictionary* field) {
      if (auto* value = dynamic_cast<TOvPDFDictionary*>(GetResolvedEntry(field, "V"))) {
        if (auto* contents = dynamic_cast<TOvPDFString*>(GetEntry(value, "Contents")))
          signatureContents_.push_back(contents);
        if (TOvPDFArray* references = GetArrayEntry(value, "Reference", false)) {
          for (const auto& r : references->Items()) {
            auto* reference = dynamic_cast<TOvPDFDictionary*>(ResolveValue(r.Object));
            if (!reference) continue;
            if (auto* digest = dynamic_cast<TOvPDFString*>(GetEntry(reference, "DigestValue")))
              signatureContents_.push_back(digest);
          }
        }
      }
      return true;
    });
  }
  if (auto* id = dynamic_cast<TOvPDFArray*>(GetEntry(trailer, "ID"))) {
    if (!dynamic_cast<TOvPDFDictionary*>(id) && id->ItemCount() == 2) {
      excludedObjects_.push_back(id->GetItem(0));
      excludedObjects_.push_back(id->GetItem(1));
    }
  }
}

void TOvPDFSecurityHandler::ReadCryptFilters(TOvPDFDictionary* cfDict, const std::string& stmFName,
                                             const std::string& strFName) {
  auto methodOf = [cfDict](const std::string& name) -> uint8_t {
    auto* filter = dynamic_cast<TOvPDFDictionary*>(GetResolvedEntry(cfDict, name));
    if (!filter) return PDF_CRYPT_NONE;
    const std::string cfm = GetNameEntry(filter, "CFM", "None", false);
    if (cfm == "None") return PDF_CRYPT_NONE;
    if (cfm == "V2") return PDF_CRYPT_V2;
    if (cfm == "AESV2") return PDF_CRYPT_AESV2;
    if (cfm == "AESV3") return PDF_CRYPT_AESV3;
    return PDF_CRYPT_UNKNOWN;
  };
  if (!cfDict) InvalidInfo();
  try {
    streamCryptMethod_ = methodOf(stmFName);
    stringCryptMethod_ = methodOf(strFName);
  } catch (const EOvPDFError&) {
    InvalidInfo();
  }
  streamAlgorithm_ = AlgorithmOfMethod(streamCryptMethod_);
  stringAlgorithm_ = AlgorithmOfMethod(stringCryptMethod_);
}

void TOvPDFSecurityHandler::WriteFilterName(TOvPDFDictionary* dict) const {
  const std::string name = customName_.empty() ? HandlerClass().HandlerName : customName_;
  SetNameEntry(dict, "Filter", name, false);
}

// ---------------------------------------------------------------------------
// Preparing a new encryption

void TOvPDFSecurityHandler::PrepareEncryption(TOvPDFFile* file) {
  metadataStream_ = nullptr;
  TOvPDFDictionary* catalog = nullptr;
  if (file && file->Trailer()) {
    catalog = dynamic_cast<TOvPDFDictionary*>(GetResolvedEntry(file->Trailer(), "Root"));
    if (catalog) {
      metadataStream_ = dynamic_cast<TOvPDFStream*>(GetResolvedEntry(catalog, "Metadata"));
    }
  }
  if (!metadataStream_) encryptMetadata_ = true;
  int32_t minimumVersion = 0;
  const int32_t rc4Version = file && file->UsesXRefStreams() ? 150 : 140;
  switch (streamAlgorithm_) {
    case ALG_RC4_CODE:
      if (!encryptMetadata_ && metadataStream_) {
        encryptionVersion_ = 4;
        keyLength_ = 128;
      } else if (streamKeyBits_ == 40) {
        encryptionVersion_ = 1;
        keyLength_ = 40;
      } else {
        encryptionVersion_ = 2;
        keyLength_ = 128;
      }
      streamCryptMethod_ = stringCryptMethod_ = PDF_CRYPT_V2;
      minimumVersion = rc4Version;
      break;
    case ALG_AES128_CODE:
      encryptionVersion_ = 4;
      keyLength_ = 128;
      streamCryptMethod_ = stringCryptMethod_ = PDF_CRYPT_AESV2;
      minimumVersion = 160;
      break;
    case ALG_AES256_CODE:
      encryptionVersion_ = 5;
      keyLength_ = 256;
      streamCryptMethod_ = stringCryptMethod_ = PDF_CRYPT_AESV3;
      minimumVersion = 170;
      if (catalog) {
        auto* extensions = dynamic_cast<TOvPDFDictionary*>(GetResolvedEntry(catalog, "Extensions"));
        if (!extensions) {
          extensions = file->NewDictionary();
          SetEntry(catalog, "Extensions", extensions);
        }
        TOvPDFDictionary* adbe = file->NewDictionary();
        adbe->AddEntry("BaseVersion", file->NewName("1.7"));
        adbe->AddEntry("ExtensionLevel", file->NewInt(3));
        SetEntry(extensions, "ADBE", adbe);
        extensions->SetModified(true);
        catalog->SetModified(true);
      }
      break;
    default:
      encryptionVersion_ = 4;
      keyLength_ = 0;
      streamCryptMethod_ = stringCryptMethod_ = PDF_CRYPT_NONE;
      break;
  }
  if (file) file->RequireVersion(minimumVersion);
  if (file && file->Trailer()) {
    if (auto* id = dynamic_cast<TOvPDFArray*>(GetResolvedEntry(file->Trailer(), "ID"))) {
      if (!dynamic_cast<TOvPDFDictionary*>(id) && id->ItemCount() == 2) {
        excludedObjects_.push_back(id->GetItem(0));
        excludedObjects_.push_back(id->GetItem(1));
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Per-object keys and object processing

// ISO 32000-1 7.6.2, algorithm 1, with the "sAlT" of AESV2.
ByteString TOvPDFSecurityHandler::ObjectKey(TOvPDFObject* object) {
  int32_t algorithm = 0;
  if (dynamic_cast<TOvPDFStream*>(object)) {
    algorithm = streamAlgorithm_;
  } else if (dynamic_cast<TOvPDFString*>(object)) {
    algorithm = stringAlgorithm_;
  } else {
    throw EOvPDFSecurityHandlerError("Object is not encrypted");
  }
  ByteString fileKey = GetEncryptionKey();
  if (encryptionVersion_ == 5) return fileKey;
  int32_t number = 0;
  int32_t generation = 0;
  if (const TOvPDFIndirect* owner = EnclosingIndirect(object)) {
    number = owner->Number;
    generation = owner->Generation;
  }
  ByteString input = fileKey;
  input += static_cast<char>(number & 0xFF);
  input += static_cast<char>((number >> 8) & 0xFF);
  input += static_cast<char>((number >> 16) & 0xFF);
  input += static_cast<char>(generation & 0xFF);
  input += static_cast<char>((generation >> 8) & 0xFF);
  if (algorithm == ALG_AES128_CODE) input += "sAlT";
  return HashMD5(input).substr(0, std::min<size_t>(16, fileKey.size() + 5));
}

bool TOvPDFSecurityHandler::IsExcluded(const TOvPDFObject* object) const {
  return std::find(excludedObjects_.begin(), excludedObjects_.end(), object) !=
         excludedObjects_.end();
}

namespace {

// A string inside a trailer's /ID (a dictionary with /Size > 1 and /Root).
bool IsTrailerID(TOvPDFObject* object) {
  auto* array = dynamic_cast<TOvPDFArray*>(object->Parent());
  if (!array || dynamic_cast<TOvPDFDictionary*>(array) || array->ItemCount() != 2) return false;
  auto* owner = dynamic_cast<TOvPDFDictionary*>(array->Parent());
  if (!owner || GetEntry(owner, "ID") != array || !GetEntry(owner, "Root")) return false;
  auto* size = dynamic_cast<TOvPDFReal*>(GetEntry(owner, "Size"));
  return size && size->GetValue() > 1;
}

bool ParentIsXRef(TOvPDFObject* object) {
  return HasType(dynamic_cast<TOvPDFDictionary*>(object->Parent()), "XRef");
}

}  // namespace

int TOvPDFSecurityHandler::CipherFor(TOvPDFObject* object) const {
  const uint8_t method =
      dynamic_cast<TOvPDFStream*>(object) ? streamCryptMethod_ : stringCryptMethod_;
  const int32_t v = encryptionVersion_;
  if (v == 1 || v == 2 || (v == 4 && method == PDF_CRYPT_V2)) return static_cast<int>(TCipher::rc4);
  if ((v == 4 && method == PDF_CRYPT_AESV2) || (v == 5 && method == PDF_CRYPT_AESV3)) {
    return static_cast<int>(TCipher::aes);
  }
  if (v != 4) {
    throw EOvPDFSecurityHandlerError("Unsupported encryption algorithm: " + std::to_string(v));
  }
  // The Identity filter: the data are stored as they are (ISO 32000-1 7.6.5).
  if (method == PDF_CRYPT_NONE) return static_cast<int>(TCipher::identity);
  return static_cast<int>(TCipher::custom);
}

void TOvPDFSecurityHandler::EncryptObject(TOvPDFObject* object) {
  auto* stream = dynamic_cast<TOvPDFStream*>(object);
  auto* string = dynamic_cast<TOvPDFString*>(object);
  if (!stream && !string) {
    throw EOvPDFSecurityHandlerError(std::string("Cannot decrypt object ") +
                                     (object ? object->ClassName() : "nil"));
  }
  std::string data;
  if (stream) {
    if (HasType(stream->Dictionary, "XRef")) return;
    if (stream == metadataStream_ && !encryptMetadata_) {
      // Left in clear and marked so, with the Identity crypt filter.
      TOvPDFObject* filter = GetEntry(stream->Dictionary, "Filter");
      TOvPDFArray* filters = nullptr;
      if (!filter) {
        filters = object->Owner()->NewArray();
      } else if (auto* name = dynamic_cast<TOvPDFName*>(filter)) {
        filters = object->Owner()->NewArray();
        filters->AddItem(object->Owner()->NewName(name->GetName()));
      } else if (auto* array = dynamic_cast<TOvPDFArray*>(filter);
                 array && !dynamic_cast<TOvPDFDictionary*>(array)) {
        filters = array;
      } else {
        throw EOvPDFSecurityHandlerError("Invalid stream dictionary");
      }
      filters->AddItem(object->Owner()->NewName("Crypt"));
      filters->SetModified(true);
      SetEntry(stream->Dictionary, "Filter", filters);
      stream->Dictionary->SetModified(true);
      return;
    }
    if (document_ && document_->Compress()) CompressStream(stream, false);
    stream->CloseSpace = "\r\n";
    if (IsExcluded(stream)) {
      stream->SetContent(stream->GetRawData());
      return;
    }
    data = stream->GetRawData();
  } else {
    if (IsExcluded(string) || ParentIsXRef(string) || IsTrailerID(string)) return;
    data = string->GetText();
  }
  const auto cipher = static_cast<TCipher>(CipherFor(object));
  std::string out;
  switch (cipher) {
    case TCipher::identity:
      out = data;
      break;
    case TCipher::rc4:
      try {
        out = RC4(ObjectKey(object), data);
      } catch (const EOvSymmetricCryptoError&) {
        InternalError(stream ? "OvPDFSecurityHandler.EncryptObject.1"
                             : "OvPDFSecurityHandler.EncryptObject.4");
      }
      break;
    case TCipher::custom: {
      CustomEncryptInit(object);
      std::string tail;
      if (!CustomEncryptUpdate(data, out)) {
        InternalError(stream ? "OvPDFSecurityHandler.EncryptObject.2"
                             : "OvPDFSecurityHandler.EncryptObject.5");
      }
      if (!CustomEncryptFinal(tail)) {
        InternalError(stream ? "OvPDFSecurityHandler.EncryptObject.3"
                             : "OvPDFSecurityHandler.EncryptObject.6");
      }
      out += tail;
      break;
    }
    case TCipher::aes: {
      const std::string iv = SystemRandom(AES_BLOCK_SIZE);
      // n bytes of value n, 1 <= n <= 16.
      const size_t pad = AES_BLOCK_SIZE - data.size() % AES_BLOCK_SIZE;
      data.append(pad, static_cast<char>(pad));
      try {
        TOvAESSymmetricCrypto aes(ObjectKey(object), iv);
        out = iv + aes.EncryptCBC(data);
      } catch (const EOvSymmetricCryptoError&) {
        InternalError(stream ? "OvPDFSecurityHandler.EncryptObject.7"
                             : "OvPDFSecurityHandler.EncryptObject.9");
      }
      break;
    }
  }
  if (stream) {
    stream->SetContent(out);
  } else {
    string->SetText(out);
    if (string->Parent()) string->Parent()->Rebuild();
  }
}

void TOvPDFSecurityHandler::DecryptObject(TOvPDFObject* object) {
  auto* stream = dynamic_cast<TOvPDFStream*>(object);
  auto* string = dynamic_cast<TOvPDFString*>(object);
  if (!stream && !string) {
    throw EOvPDFSecurityHandlerError(std::string("Cannot decrypt object ") +
                                     (object ? object->ClassName() : "nil"));
  }
  std::string data;
  if (stream) {
    if (stream == metadataStream_ && !encryptMetadata_) return;
    if (IsExcluded(stream) || HasType(stream->Dictionary, "XRef")) return;
    // A stream with its own Identity crypt filter is stored in clear.
    TOvPDFObject* parms = GetResolvedEntry(stream->Dictionary, "DecodeParms");
    if (!parms) parms = GetResolvedEntry(stream->Dictionary, "DP");
    if (auto* crypt = dynamic_cast<TOvPDFDictionary*>(parms);
        crypt && HasType(crypt, "CryptFilterDecodeParms") &&
        GetNameEntry(crypt, "Name", "Identity", false) == "Identity") {
      return;
    }
    data = stream->GetRawData();
  } else {
    if (IsExcluded(string) || ParentIsXRef(string) || IsTrailerID(string)) return;
    if (std::find(signatureContents_.begin(), signatureContents_.end(), string) !=
        signatureContents_.end()) {
      return;
    }
    data = string->GetText();
  }
  const auto cipher = static_cast<TCipher>(CipherFor(object));
  std::string out;
  switch (cipher) {
    case TCipher::identity:
      return;
    case TCipher::rc4:
      try {
        out = RC4(ObjectKey(object), data);
      } catch (const EOvSymmetricCryptoError&) {
        InternalError(stream ? "OvPDFSecurityHandler.DecryptObject.1"
                             : "OvPDFSecurityHandler.DecryptObject.4");
      }
      break;
    case TCipher::custom: {
      CustomDecryptInit(object);
      std::string tail;
      if (!CustomDecryptUpdate(data, out)) {
        InternalError(stream ? "OvPDFSecurityHandler.DecryptObject.2"
                             : "OvPDFSecurityHandler.DecryptObject.5");
      }
      if (!CustomDecryptFinal(tail)) {
        InternalError(stream ? "OvPDFSecurityHandler.DecryptObject.3"
                             : "OvPDFSecurityHandler.DecryptObject.6");
      }
      out += tail;
      break;
    }
    case TCipher::aes: {
      // The IV and at least one block (a padded block is never empty).
      if (data.size() < 2 * AES_BLOCK_SIZE || data.size() % AES_BLOCK_SIZE != 0) {
        throw EOvPDFSecurityHandlerError("Invalid encrypted data");
      }
      try {
        TOvAESSymmetricCrypto aes(ObjectKey(object), std::string_view(data).substr(0, 16));
        out = aes.DecryptCBC(std::string_view(data).substr(AES_BLOCK_SIZE));
      } catch (const EOvSymmetricCryptoError&) {
        InternalError(stream ? "OvPDFSecurityHandler.DecryptObject.7"
                             : "OvPDFSecurityHandler.DecryptObject.8");
      }
      const auto pad = static_cast<uint8_t>(out.back());
      if (pad < 1 || pad > AES_BLOCK_SIZE || std::any_of(out.end() - pad, out.end(), [pad](char c) {
            return static_cast<uint8_t>(c) != pad;
          })) {
        throw EOvPDFSecurityHandlerError("Invalid block cipher padding");
      }
      out.resize(out.size() - pad);
      break;
    }
  }
  if (stream) {
    stream->SetContent(out);
  } else {
    string->SetText(out);
    if (string->Parent()) string->Parent()->Rebuild();
  }
}

// ---------------------------------------------------------------------------
// Registry

void RegisterSecurityHandler(const TOvPDFSecurityHandlerClass& handlerClass) {
  TRegistry& registry = Registry();
  const TOvWriteLock lock(registry.Lock);
  if (FindSecurityHandlerClass(handlerClass.HandlerName, true, true)) {
    throw EOvPDFError("Security handler already registered");
  }
  registry.Classes.push_back(&handlerClass);
}

void UnregisterSecurityHandler(const TOvPDFSecurityHandlerClass& handlerClass) {
  TRegistry& registry = Registry();
  const TOvWriteLock lock(registry.Lock);
  auto it = std::find_if(registry.Classes.begin(), registry.Classes.end(),
                         [&](const auto* c) { return c->HandlerName == handlerClass.HandlerName; });
  if (it != registry.Classes.end()) registry.Classes.erase(it);
}

const TOvPDFSecurityHandlerClass* FindSecurityHandlerClass(std::string_view name, bool encryption,
                                                           bool signing) {
  TRegistry& registry = Registry();
  const TOvReadLock lock(registry.Lock);
  for (const TOvPDFSecurityHandlerClass* c : registry.Classes) {
    if (c->HandlerName == name && ((signing && c->CanSign) || (encryption && c->CanEncrypt))) {
      return c;
    }
  }
  return nullptr;
}

const TOvPDFSecurityHandlerClass* FindSecurityHandlerClassBySubFilter(std::string_view subFilter,
                                                                      bool encryption,
                                                                      bool signing) {
  TRegistry& registry = Registry();
  const TOvReadLock lock(registry.Lock);
  for (const TOvPDFSecurityHandlerClass* c : registry.Classes) {
    if ((signing && c->IsSigningSubFilter && c->IsSigningSubFilter(subFilter)) ||
        (encryption && c->IsEncryptionSubFilter && c->IsEncryptionSubFilter(subFilter))) {
      return c;
    }
  }
  return nullptr;
}

namespace {

std::unique_ptr<TOvPDFSecurityHandler> CreateHandler(std::string_view filter,
                                                     std::string_view subFilter, bool encryption) {
  const TOvPDFSecurityHandlerClass* found =
      FindSecurityHandlerClass(filter, encryption, !encryption);
  if (!found && !subFilter.empty()) {
    found = FindSecurityHandlerClassBySubFilter(subFilter, encryption, !encryption);
  }
  if (!found || !found->Create) throw EOvPDFError("Security handler not found");
  return found->Create();
}

}  // namespace

std::unique_ptr<TOvPDFSecurityHandler> CreateEncryptionHandler(std::string_view filter,
                                                               std::string_view subFilter) {
  return CreateHandler(filter, subFilter, true);
}

std::unique_ptr<TOvPDFSecurityHandler> CreateSigningHandler(std::string_view filter,
                                                            std::string_view subFilter) {
  return CreateHandler(filter, subFilter, false);
}

}  // namespace corvane
