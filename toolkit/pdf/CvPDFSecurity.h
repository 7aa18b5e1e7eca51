// The concrete security handlers. The password handler of the standard
// security scheme (/Filter /Standard) lives in CvPDFSecurity_Password.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDFUtils.h"

namespace corvane {

// The standard security handler (ISO 32000-1 7.6.3): revisions 2 to 4 (RC4
// and MD5), 5 (AES-256 with SHA-256, Adobe extension level 3) and 6 (AES-256
// with the iterated SHA-2 hash of ISO 32000-2 7.6.4.3.4).
class TOvPDFPasswordSecurityHandler : public TOvPDFSecurityHandler {
 public:
  TOvPDFPasswordSecurityHandler();
  ~TOvPDFPasswordSecurityHandler() override;

  static const TOvPDFSecurityHandlerClass& Class();
  const TOvPDFSecurityHandlerClass& HandlerClass() const override { return Class(); }

  void LoadEncryptionInfo(TOvPDFDictionary* encryptDict) override;
  void LoadCryptFilters(TOvPDFDictionary* cfDict, const std::string& stmFName,
                        const std::string& strFName) override;
  void AttachFile(TOvPDFFile* file) override;
  void SaveEncryptionInfo(TOvPDFDictionary* encryptDict) override;
  void PrepareEncryption(TOvPDFFile* file) override;
  // The file key; "Invalid password" when neither password opens the file.
  ByteString GetEncryptionKey() override;
  void CustomDecryptInit(TOvPDFObject* object) override;
  void CustomEncryptInit(TOvPDFObject* object) override;
  bool CustomEncryptUpdate(std::string_view in, ByteString& out) override;
  bool CustomEncryptFinal(ByteString& out) override;
  bool CustomDecryptUpdate(std::string_view in, ByteString& out) override;
  bool CustomDecryptFinal(ByteString& out) override;
  void InitializeHandler() override;
  void FinalizeHandler() override;
  void ResetHandler() override;

  int32_t Revision() const { return revision_; }
  void SetRevision(int32_t value) { revision_ = value; }
  int32_t P() const { return p_; }
  TOvPDFPermissions& Permissions() { return *permissions_; }
  const std::string& UserPassword() const { return userPassword_; }
  const std::string& OwnerPassword() const { return ownerPassword_; }
  // Stores the text; a handler that has loaded no /O and /U computes the
  // values of a new encryption. A wrong password shows only when the key is
  // first needed.
  void SetUserPassword(std::string value);
  void SetOwnerPassword(std::string value);

  // The checks themselves, for callers that want to know which password
  // matched. The owner check replaces UserPassword by the one kept in /O
  // (revisions 2-4).
  bool CheckUserPassword();
  bool CheckOwnerPassword();

 private:
  std::string PaddedPassword(std::string_view password) const;
  size_t KeyBytes() const;
  ByteString ComputeFileKey(std::string_view password);
  ByteString OwnerRC4Key(std::string_view ownerPassword) const;
  ByteString ComputeO();
  ByteString ComputeU(std::string_view fileKey);
  void RequireFile() const;
  void ComputeNewValues();
  // Revisions 5 and 6.
  ByteString HashR56(std::string_view password, std::string_view salt,
                     std::string_view extra) const;
  std::string PasswordR56(std::string_view password) const;
  bool CheckR56(std::string_view password, std::string_view value, std::string_view extra) const;
  ByteString KeyFromR56(std::string_view password, std::string_view value,
                        std::string_view encryptedKey, std::string_view extra) const;
  void NewR56Pair(std::string_view password, std::string_view extra, ByteString& value,
                  ByteString& encryptedKey) const;
  bool VerifyPerms(std::string_view key) const;
  ByteString ComputePerms() const;

  int32_t revision_ = 3;
  ByteString o_;
  ByteString u_;
  ByteString oe_;
  ByteString ue_;
  ByteString fileKey_;
  ByteString perms_;
  ByteString newO_;
  ByteString newU_;
  int32_t p_ = 0;
  int32_t keyLength_ = 128;
  int32_t v_ = 2;
  std::unique_ptr<TOvPDFPermissions> permissions_;
  std::string userPassword_;
  std::string ownerPassword_;
  TOvPDFFile* file_ = nullptr;
};

}  // namespace corvane
