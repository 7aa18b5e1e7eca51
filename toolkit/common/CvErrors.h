// The toolkit's exception tree. Every area raises a class derived from
// ECorvaneError with a fixed English message; the code-carrying form appends
// " (error code is N)" so the number survives into logs and message boxes.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace corvane {

// The general conversion error of the runtime library (bad hex digits, impossible
// dates). It stands outside the ECorvaneError tree on purpose.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ECorvaneError : public std::runtime_error {
 public:
  explicit ECorvaneError(const std::string& message) : std::runtime_error(message) {}
  ECorvaneError(const std::string& message, int32_t code)
      : std::runtime_error(message + " (error code is " + std::to_string(code) + ")"),
        error_code_(code) {}

  int32_t ErrorCode() const { return error_code_; }

 private:
  int32_t error_code_ = 0;
};

// Class names cannot be parenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define CV_DECLARE_ERROR(Name, Parent) \
  class Name : public Parent {         \
   public:                             \
    using Parent::Parent;              \
  };
// NOLINTEND(bugprone-macro-parentheses)

CV_DECLARE_ERROR(EOvASN1Error, ECorvaneError)
CV_DECLARE_ERROR(EOvASN1ReadError, ECorvaneError)
CV_DECLARE_ERROR(EOvUnicodeError, ECorvaneError)
CV_DECLARE_ERROR(EOvAlgorithmIdentifierError, ECorvaneError)
CV_DECLARE_ERROR(EOvCertificateError, ECorvaneError)
CV_DECLARE_ERROR(EOvX509Error, ECorvaneError)
CV_DECLARE_ERROR(EOvCertStorageError, ECorvaneError)
CV_DECLARE_ERROR(EOvDuplicateCertError, EOvCertStorageError)
CV_DECLARE_ERROR(EOvMessageError, ECorvaneError)
CV_DECLARE_ERROR(EOvMessageUserCancelledError, EOvMessageError)
CV_DECLARE_ERROR(EOvCryptoProviderError, ECorvaneError)
CV_DECLARE_ERROR(EOvCryptoKeyError, EOvCryptoProviderError)
CV_DECLARE_ERROR(EOvCryptoProviderManagerError, EOvCryptoProviderError)
CV_DECLARE_ERROR(EOvBuiltInCryptoProviderError, EOvCryptoProviderError)
CV_DECLARE_ERROR(EOvWin32CryptoProviderError, EOvCryptoProviderError)
CV_DECLARE_ERROR(EOvHashFunctionError, ECorvaneError)
CV_DECLARE_ERROR(EOvHashFunctionUnsupportedError, EOvHashFunctionError)
CV_DECLARE_ERROR(EOvPublicKeyCryptoError, ECorvaneError)
CV_DECLARE_ERROR(EOvSymmetricCryptoError, ECorvaneError)
CV_DECLARE_ERROR(EOvPDFError, ECorvaneError)
CV_DECLARE_ERROR(EOvPDFDocumentError, EOvPDFError)
// A syntax error: the message is one of the fixed texts; Offset tells where in
// the input reading failed (-1 unknown) and Detail, when set, which of the
// faults sharing that text it was.
class EOvPDFParseError : public EOvPDFError {
 public:
  using EOvPDFError::EOvPDFError;
  EOvPDFParseError(const std::string& message, std::string detail)
      : EOvPDFError(message), Detail(std::move(detail)) {}

  int64_t Offset = -1;
  std::string Detail;
};
CV_DECLARE_ERROR(EOvPDFSecurityHandlerError, EOvPDFError)
CV_DECLARE_ERROR(EOvPDFSignatureError, EOvPDFError)
CV_DECLARE_ERROR(EOvPDFSilentError, EOvPDFError)
CV_DECLARE_ERROR(EOvPDFTypeError, EOvPDFError)
CV_DECLARE_ERROR(EOvPDFPasswordSecurityHandlerError, EOvPDFSecurityHandlerError)
CV_DECLARE_ERROR(EOvPDFPublicKeySecurityHandlerError, EOvPDFSecurityHandlerError)

// Raised by the multi-precision integer module; deliberately outside the tree.
class EOvMathException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

#undef CV_DECLARE_ERROR

}  // namespace corvane
