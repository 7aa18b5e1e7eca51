// TOvPDFPasswordSecurityHandler: file keys and password checks of the
// standard security handler, and the /O /U /OE /UE /Perms of a new encryption.
#include "toolkit/pdf/CvPDFSecurity.h"

#include <algorithm>
#include <cstring>

#include "toolkit/crypto/CvAES.h"
#include "toolkit/crypto/CvMD.h"
#include "toolkit/crypto/CvRC4.h"
#include "toolkit/crypto/CvSHA2.h"

namespace corvane {

namespace {

// ISO 32000-1 7.6.3.3, algorithm 2, step a.
constexpr unsigned char kPadding[32] = {
    0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E, 0x56, 0xFF, 0xFA, 0x01, 0x08,
    0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68, 0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

std::string_view PaddingString() {
  return std::string_view(reinterpret_cast<const char*>(kPadding), sizeof kPadding);
}

std::string LittleEndian32(int32_t value) {
  const auto u = static_cast<uint32_t>(value);
  std::string out(4, '\0');
  for (int k = 0; k < 4; ++k) out[k] = static_cast<char>((u >> (8 * k)) & 0xFF);
  return out;
}

std::string XorKey(std::string_view key, int i) {
  std::string out(key);
  for (char& c : out) c = static_cast<char>(static_cast<uint8_t>(c) ^ i);
  return out;
}

[[noreturn]] void InvalidInfo() {
  throw EOvPDFPasswordSecurityHandlerError("Invalid security handler information");
}

[[noreturn]] void InvalidPassword() {
  throw EOvPDFPasswordSecurityHandlerError("Invalid password");
}

[[noreturn]] void NotImplemented() { throw EOvPDFPasswordSecurityHandlerError("Not implemented"); }

// AES-256 with a zero IV over whole blocks, as the /UE /OE keys are wrapped.
std::string AES256ZeroIV(std::string_view key, std::string_view data, bool encrypt) {
  TOvAESSymmetricCrypto aes(key, std::string(AES_BLOCK_SIZE, '\0'));
  return encrypt ? aes.EncryptCBC(data) : aes.DecryptCBC(data);
}

}  // namespace

const TOvPDFSecurityHandlerClass& TOvPDFPasswordSecurityHandler::Class() {
  static const TOvPDFSecurityHandlerClass handlerClass = [] {
    TOvPDFSecurityHandlerClass c;
    c.HandlerName = "Standard";
    c.HandlerDescription = "Adobe password-based encryption";
    c.CanSign = false;
    c.CanEncrypt = true;
    c.IsSigningSubFilter = [](std::string_view) { return false; };
    c.IsEncryptionSubFilter = [](std::string_view) { return false; };
    c.Create = [] { return std::make_unique<TOvPDFPasswordSecurityHandler>(); };
    return c;
  }();
  return handlerClass;
}

TOvPDFPasswordSecurityHandler::TOvPDFPasswordSecurityHandler() { InitializeHandler(); }

TOvPDFPasswordSecurityHandler::~TOvPDFPasswordSecurityHandler() { FinalizeHandler(); }

void TOvPDFPasswordSecurityHandler::InitializeHandler() {
  permissions_ = std::make_unique<TOvPDFPermissions>();
  ResetHandler();
}

void TOvPDFPasswordSecurityHandler::FinalizeHandler() {
  std::fill(fileKey_.begin(), fileKey_.end(), '\0');
}

void TOvPDFPasswordSecurityHandler::ResetHandler() {
  TOvPDFSecurityHandler::ResetHandler();
  revision_ = 3;
  o_.clear();
  u_.clear();
  oe_.clear();
  ue_.clear();
  fileKey_.clear();
  perms_.clear();
  newO_.clear();
  newU_.clear();
  p_ = 0;
  keyLength_ = 128;
  v_ = 2;
  if (permissions_) permissions_->SetAll(false);
  userPassword_.clear();
  ownerPassword_.clear();
  file_ = nullptr;
  encryptMetadata_ = true;
}

// ---------------------------------------------------------------------------
// Reading the dictionary

void TOvPDFPasswordSecurityHandler::LoadEncryptionInfo(TOvPDFDictionary* encryptDict) {
  if (!encryptDict) InvalidInfo();
  try {
    revision_ = GetIntEntry(encryptDict, "R", 0, true);
    o_ = GetStringEntry(encryptDict, "O", true);
    u_ = GetStringEntry(encryptDict, "U", true);
    if (revision_ == 5 || revision_ == 6) {
      oe_ = GetStringEntry(encryptDict, "OE", true);
      ue_ = GetStringEntry(encryptDict, "UE", true);
      perms_ = GetStringEntry(encryptDict, "Perms", true);
    }
    // Files exist in the wild with /P written unsigned (4294967292): the
    // low 32 bits are what counts.
    p_ = static_cast<int32_t>(static_cast<uint32_t>(GetInt64Entry(encryptDict, "P", 0, true)));
    const bool hasLength = GetEntry(encryptDict, "Length") != nullptr;
    keyLength_ = GetIntEntry(encryptDict, "Length", 40, false);
    v_ = GetIntEntry(encryptDict, "V", 0, false);
    // /Length belongs to /V 2 and 3; a revision 4 file may leave it to its
    // crypt filter, whose key is always 128 bits for the standard handler.
    if (revision_ == 4 && !hasLength) keyLength_ = 128;
    if (v_ == 4 || v_ == 5) {
      encryptMetadata_ = GetBoolEntry(encryptDict, "EncryptMetadata", true, false);
    }
  } catch (const EOvPDFError&) {
    InvalidInfo();
  }
  // The key is cut from a 16-byte digest in whole bytes.
  if ((revision_ == 3 || revision_ == 4) &&
      (keyLength_ < 40 || keyLength_ > 128 || keyLength_ % 8 != 0)) {
    InvalidInfo();
  }
  fileKey_.clear();
  permissions_->FromP(p_, revision_);
}

void TOvPDFPasswordSecurityHandler::LoadCryptFilters(TOvPDFDictionary* /*cfDict*/,
                                                     const std::string& /*stmFName*/,
                                                     const std::string& /*strFName*/) {
  if (v_ < 4) throw EOvPDFPasswordSecurityHandlerError("Unexpected cipher info");
}

void TOvPDFPasswordSecurityHandler::AttachFile(TOvPDFFile* file) { file_ = file; }

// ---------------------------------------------------------------------------
// Revisions 2 to 4 (ISO 32000-1 7.6.3.3 and 7.6.3.4)

std::string TOvPDFPasswordSecurityHandler::PaddedPassword(std::string_view password) const {
  std::string out(password.substr(0, 32));
  out.append(PaddingString().substr(0, 32 - out.size()));
  return out;
}

size_t TOvPDFPasswordSecurityHandler::KeyBytes() const {
  if (revision_ == 2) return 5;
  if (revision_ >= 5) return 32;
  return static_cast<size_t>(std::clamp(keyLength_, 40, 128) / 8);
}

void TOvPDFPasswordSecurityHandler::RequireFile() const {
  if (!document_ && !(file_ && file_->Trailer())) {
    throw EOvPDFPasswordSecurityHandlerError("Security handler is not bound to PDF document");
  }
}

namespace {

std::string FirstIdentifier(TOvPDFDictionary* trailer) {
  auto* id = dynamic_cast<TOvPDFArray*>(ResolveValue(GetEntry(trailer, "ID")));
  if (!id || dynamic_cast<TOvPDFDictionary*>(id) || id->ItemCount() == 0) return {};
  auto* first = dynamic_cast<TOvPDFString*>(ResolveValue(id->GetItem(0)));
  return first ? first->GetText() : std::string();
}

}  // namespace

// Algorithm 2.
ByteString TOvPDFPasswordSecurityHandler::ComputeFileKey(std::string_view password) {
  RequireFile();
  TOvPDFDictionary* trailer = document_ ? document_->Trailer() : file_->Trailer();
  if (o_.empty() && newO_.empty()) newO_ = ComputeO();
  std::string input = PaddedPassword(password);
  input += o_.empty() ? newO_ : o_;
  input += LittleEndian32(p_);
  input += FirstIdentifier(trailer);
  if (revision_ >= 4 && !encryptMetadata_) input += "\xFF\xFF\xFF\xFF";
  const size_t n = KeyBytes();
  std::string digest = HashMD5(input);
  if (revision_ >= 3) {
    for (int k = 0; k < 50; ++k) digest = HashMD5(std::string_view(digest).substr(0, n));
  }
  return digest.substr(0, n);
}

// Algorithm 3, steps a to d.
ByteString TOvPDFPasswordSecurityHandler::OwnerRC4Key(std::string_view ownerPassword) const {
  std::string digest =
      HashMD5(PaddedPassword(ownerPassword.empty() ? userPassword_ : ownerPassword));
  if (revision_ >= 3) {
    for (int k = 0; k < 50; ++k) digest = HashMD5(digest);
  }
  return digest.substr(0, KeyBytes());
}

ByteString TOvPDFPasswordSecurityHandler::ComputeO() {
  const std::string key = OwnerRC4Key(ownerPassword_);
  std::string value = RC4(key, PaddedPassword(userPassword_));
  if (revision_ >= 3) {
    for (int i = 1; i <= 19; ++i) value = RC4(XorKey(key, i), value);
  }
  return value;
}

// Algorithms 4 and 5.
ByteString TOvPDFPasswordSecurityHandler::ComputeU(std::string_view fileKey) {
  if (revision_ < 2) {
    throw EOvPDFPasswordSecurityHandlerError("Unsupported revision: " + std::to_string(revision_));
  }
  if (revision_ == 2) return RC4(fileKey, PaddingString());
  RequireFile();
  TOvPDFDictionary* trailer = document_ ? document_->Trailer() : file_->Trailer();
  std::string value =
      RC4(fileKey, HashMD5(std::string(PaddingString()) + FirstIdentifier(trailer)));
  for (int i = 1; i <= 19; ++i) value = RC4(XorKey(fileKey, i), value);
  return value + SystemRandom(16);
}

bool TOvPDFPasswordSecurityHandler::CheckUserPassword() {
  if (revision_ >= 5) return CheckR56(userPassword_, u_, {});
  // An empty /U checks nothing, so it admits no password.
  if (u_.size() < 16) return false;
  const std::string computed = ComputeU(ComputeFileKey(userPassword_));
  return computed.compare(0, 16, u_, 0, 16) == 0;
}

bool TOvPDFPasswordSecurityHandler::CheckOwnerPassword() {
  if (o_.empty()) return false;
  if (revision_ >= 5) {
    return u_.size() >= 48 && CheckR56(ownerPassword_, o_, std::string_view(u_).substr(0, 48));
  }
  const std::string key = OwnerRC4Key(ownerPassword_);
  std::string user = o_;
  if (revision_ == 2) {
    user = RC4(key, user);
  } else {
    for (int i = 19; i >= 0; --i) user = RC4(XorKey(key, i), user);
  }
  std::string previous = std::move(userPassword_);
  userPassword_ = user;
  if (CheckUserPassword()) return true;
  userPassword_ = std::move(previous);
  return false;
}

// ---------------------------------------------------------------------------
// Revisions 5 and 6

std::string TOvPDFPasswordSecurityHandler::PasswordR56(std::string_view password) const {
  return std::string(password.substr(0, 127));
}

// Revision 5: one SHA-256. Revision 6 (ISO 32000-2 7.6.4.3.4, algorithm 2.B):
// at least 64 rounds of AES-128 and a SHA-2 chosen by the data, ending when
// the last byte of the round's output is at most the round number - 32.
ByteString TOvPDFPasswordSecurityHandler::HashR56(std::string_view password, std::string_view salt,
                                                  std::string_view extra) const {
  std::string input(password);
  input += salt;
  input += extra;
  std::string k = HashSHA256(input);
  if (revision_ == 5) return k;
  std::string e;
  for (int round = 0;;) {
    std::string block(password);
    block += k;
    block += extra;
    std::string k1;
    k1.reserve(block.size() * 64);
    for (int i = 0; i < 64; ++i) k1 += block;
    TOvAESSymmetricCrypto aes(std::string_view(k).substr(0, 16),
                              std::string_view(k).substr(16, 16));
    e = aes.EncryptCBC(k1);
    unsigned sum = 0;
    for (int i = 0; i < 16; ++i) sum += static_cast<uint8_t>(e[i]);
    switch (sum % 3) {
      case 0:
        k = HashSHA256(e);
        break;
      case 1:
        k = HashSHA384(e);
        break;
      default:
        k = HashSHA512(e);
        break;
    }
    ++round;
    // Ends by round 288 at the latest: the byte is at most 255.
    if (round >= 64 && static_cast<uint8_t>(e.back()) <= round - 32) break;
  }
  return k.substr(0, 32);
}

bool TOvPDFPasswordSecurityHandler::CheckR56(std::string_view password, std::string_view value,
                                             std::string_view extra) const {
  if (value.size() < 48 || (!extra.empty() && extra.size() < 48)) return false;
  const std::string hash = HashR56(PasswordR56(password), value.substr(32, 8), extra);
  return value.compare(0, 32, hash) == 0;
}

ByteString TOvPDFPasswordSecurityHandler::KeyFromR56(std::string_view password,
                                                     std::string_view value,
                                                     std::string_view encryptedKey,
                                                     std::string_view extra) const {
  if (value.size() < 48 || encryptedKey.size() != 32) {
    throw EOvPDFPasswordSecurityHandlerError("Invalid password info");
  }
  const std::string key = HashR56(PasswordR56(password), value.substr(40, 8), extra);
  return AES256ZeroIV(key, encryptedKey, false);
}

void TOvPDFPasswordSecurityHandler::NewR56Pair(std::string_view password, std::string_view extra,
                                               ByteString& value, ByteString& encryptedKey) const {
  const std::string validationSalt = SystemRandom(8);
  const std::string keySalt = SystemRandom(8);
  const std::string pw = PasswordR56(password);
  value = HashR56(pw, validationSalt, extra) + validationSalt + keySalt;
  encryptedKey = AES256ZeroIV(HashR56(pw, keySalt, extra), fileKey_, true);
}

bool TOvPDFPasswordSecurityHandler::VerifyPerms(std::string_view key) const {
  if (perms_.size() != 16 || key.size() != 32) return false;
  TOvAESSymmetricCrypto aes(key);
  uint8_t plain[16];
  aes.DecryptBlock(reinterpret_cast<const uint8_t*>(perms_.data()), plain);
  const std::string p = LittleEndian32(p_);
  if (std::memcmp(plain, p.data(), 4) != 0) return false;
  if (plain[8] != static_cast<uint8_t>(encryptMetadata_ ? 'T' : 'F')) return false;
  return std::memcmp(plain + 9, "adb", 3) == 0;
}

ByteString TOvPDFPasswordSecurityHandler::ComputePerms() const {
  std::string plain = LittleEndian32(p_);
  plain += "\xFF\xFF\xFF\xFF";
  plain += encryptMetadata_ ? 'T' : 'F';
  plain += "adb";
  plain += SystemRandom(4);
  TOvAESSymmetricCrypto aes(fileKey_);
  std::string out(16, '\0');
  aes.EncryptBlock(reinterpret_cast<const uint8_t*>(plain.data()),
                   reinterpret_cast<uint8_t*>(out.data()));
  return out;
}

// ---------------------------------------------------------------------------
// The key

ByteString TOvPDFPasswordSecurityHandler::GetEncryptionKey() {
  // Worked out once: revision 6 costs dozens of hash rounds per attempt.
  if (!fileKey_.empty()) return fileKey_;
  if (revision_ < 2 || revision_ > 6) {
    throw EOvPDFPasswordSecurityHandlerError("Unsupported revision: " + std::to_string(revision_));
  }
  if (revision_ >= 5) {
    std::string key;
    if (CheckR56(userPassword_, u_, {})) {
      key = KeyFromR56(userPassword_, u_, ue_, {});
    } else if (u_.size() >= 48 &&
               CheckR56(ownerPassword_, o_, std::string_view(u_).substr(0, 48))) {
      key = KeyFromR56(ownerPassword_, o_, oe_, std::string_view(u_).substr(0, 48));
    } else {
      InvalidPassword();
    }
    if (!VerifyPerms(key)) {
      throw EOvPDFPasswordSecurityHandlerError("Failed to verify permissions");
    }
    fileKey_ = key;
    return fileKey_;
  }
  if (!CheckUserPassword() && !CheckOwnerPassword()) InvalidPassword();
  fileKey_ = ComputeFileKey(userPassword_);
  return fileKey_;
}

// ---------------------------------------------------------------------------
// A new encryption

void TOvPDFPasswordSecurityHandler::SetUserPassword(std::string value) {
  userPassword_ = std::move(value);
  ComputeNewValues();
}

void TOvPDFPasswordSecurityHandler::SetOwnerPassword(std::string value) {
  ownerPassword_ = std::move(value);
  ComputeNewValues();
}

void TOvPDFPasswordSecurityHandler::ComputeNewValues() {
  if (!o_.empty() || !u_.empty()) {
    // Loaded values: the key follows from the passwords at the next use.
    fileKey_.clear();
    return;
  }
  // Only a handler that knows its file can compute /O and /U; PrepareEncryption
  // sets the passwords again once it does.
  if (!document_ && !(file_ && file_->Trailer())) return;
  if (revision_ >= 5) {
    if (fileKey_.size() != 32) fileKey_ = SystemRandom(32);
    return;
  }
  newO_ = ComputeO();
  fileKey_ = ComputeFileKey(userPassword_);
  newU_ = ComputeU(fileKey_);
}

void TOvPDFPasswordSecurityHandler::PrepareEncryption(TOvPDFFile* file) {
  TOvPDFSecurityHandler::PrepareEncryption(file);
  file_ = file;
  v_ = encryptionVersion_;
  keyLength_ = TOvPDFSecurityHandler::KeyLength();
  auto require = [this](int32_t wanted1, int32_t wanted2) {
    for (const int32_t algorithm : {streamAlgorithm_, stringAlgorithm_}) {
      if (algorithm != wanted1 && algorithm != wanted2) {
        throw EOvPDFError("Unsupported algorithm: " + std::to_string(algorithm));
      }
    }
  };
  switch (v_) {
    case 1:
      revision_ = 2;
      break;
    case 2:
      revision_ = 3;
      break;
    case 4:
      require(0x7001, 0x7005);
      revision_ = 4;
      break;
    case 5:
      require(0x7007, 0x7007);
      revision_ = 5;
      break;
    default:
      throw EOvPDFError("Unsupported algorithm: " + std::to_string(streamAlgorithm_));
  }
  p_ = permissions_->ToP(revision_, false);
  fileKey_.clear();
  newO_.clear();
  newU_.clear();
  ComputeNewValues();
}

void TOvPDFPasswordSecurityHandler::SaveEncryptionInfo(TOvPDFDictionary* encryptDict) {
  TOvPDFFile* owner = encryptDict->Owner();
  encryptDict->ClearItems();
  encryptDict->AddEntry("R", owner->NewInt(revision_));
  if (revision_ >= 5) {
    if (fileKey_.size() != 32) fileKey_ = SystemRandom(32);
    ByteString u;
    ByteString ue;
    ByteString o;
    ByteString oe;
    NewR56Pair(userPassword_, {}, u, ue);
    NewR56Pair(ownerPassword_.empty() ? userPassword_ : ownerPassword_, u, o, oe);
    encryptDict->AddEntry("U", owner->NewString(u, 0));
    encryptDict->AddEntry("UE", owner->NewString(ue, 0));
    encryptDict->AddEntry("O", owner->NewString(o, 0));
    encryptDict->AddEntry("OE", owner->NewString(oe, 0));
    encryptDict->AddEntry("Perms", owner->NewString(ComputePerms(), 0));
  } else {
    if (newO_.empty()) newO_ = ComputeO();
    if (newU_.empty()) newU_ = ComputeU(ComputeFileKey(userPassword_));
    encryptDict->AddEntry("O", owner->NewString(newO_, 0));
    encryptDict->AddEntry("U", owner->NewString(newU_, 0));
  }
  encryptDict->AddEntry("P", owner->NewInt(p_));
  encryptDict->AddEntry("Length", owner->NewInt(keyLength_));
  encryptDict->AddEntry("V", owner->NewInt(v_));
  if (v_ == 4 || v_ == 5) {
    encryptDict->AddEntry("EncryptMetadata", owner->NewBoolean(encryptMetadata_));
  }
  encryptDict->SetModified(true);
}

// ---------------------------------------------------------------------------
// Handler-defined crypt filters: none for the standard handler.

void TOvPDFPasswordSecurityHandler::CustomDecryptInit(TOvPDFObject* /*object*/) {}

void TOvPDFPasswordSecurityHandler::CustomEncryptInit(TOvPDFObject* /*object*/) {
  NotImplemented();
}

bool TOvPDFPasswordSecurityHandler::CustomEncryptUpdate(std::string_view /*in*/,
                                                        ByteString& /*out*/) {
  NotImplemented();
}

bool TOvPDFPasswordSecurityHandler::CustomEncryptFinal(ByteString& /*out*/) { NotImplemented(); }

bool TOvPDFPasswordSecurityHandler::CustomDecryptUpdate(std::string_view /*in*/,
                                                        ByteString& /*out*/) {
  NotImplemented();
}

bool TOvPDFPasswordSecurityHandler::CustomDecryptFinal(ByteString& /*out*/) { NotImplemented(); }

}  // namespace corvane
