#include "app/core/SignerForm.h"

#include <cstdint>

#include "app/core/LowStuff.h"
#include "app/core/SignerErrors.h"
#include "app/core/SignerToolkit.h"
#include "platform/PlatformFiles.h"

namespace tavra {

void FormToOptions(const TSignerForm& form, TPdfSignerOptions& options) {
  options.CertIssuer = form.CertIssuerName;
  options.CertSerial = form.CertSerialNumber;
  options.CertCommonName = form.CertCommonName;
  options.SigReason = form.SigReason;
  options.SigType = static_cast<uint8_t>(form.SignatureTypeIndex);
  options.SigPage = form.SigPage;
  options.SigRect = form.SigRect;
  options.SigField = form.SigField;
  options.ImageFile = form.ImageFile;
  options.FontFile = form.FontFile;
  options.UsePSS = form.UsePSS;
  options.Level = form.LevelIndex > 0 && form.LevelIndex < kLevelCount
                      ? PAdESLevelText(static_cast<TPAdESLevel>(form.LevelIndex))
                      : std::string();
  options.TSA = form.TSA;
  options.TSAUser = form.TSAUser;
}

TSigningRequest SigningRequestOf(const TSignerForm& form) {
  TSigningRequest request;
  request.InputPath = form.SignedPDF;
  request.OutputPath = form.TargetPDF;
  request.CertIssuer = form.CertIssuerName;
  request.CertSerial = form.CertSerialNumber;
  request.Reason = form.SigReason;
  request.Kind = SignatureKindOfSigType(form.SignatureTypeIndex);
  std::string error;
  if (!PlacementOfTexts(form.SigPage, form.SigRect, form.SigField, request.Placement, error))
    throw ESignerError(error);
  request.FontPath = form.FontFile;
  request.ImagePath = form.ImageFile;
  request.UsePSS = form.UsePSS;
  if (form.LevelIndex < 0 || form.LevelIndex >= kLevelCount) throw ESignerError(kMsgNoLevel);
  request.Level = static_cast<TPAdESLevel>(form.LevelIndex);
  const std::string tsa = TrimText(form.TSA);
  if (LevelNeedsTimestamp(request.Level) && tsa.empty()) {
    throw ESignerError("Pro úroveň PAdES " + PAdESLevelText(request.Level) +
                       " není zadáno časové razítko (URL)");
  }
  if (request.Level != TPAdESLevel::plBB && !tsa.empty()) {
    request.Timestamp.URL = tsa;
    request.Timestamp.User = TrimText(form.TSAUser);
  }
  return request;
}

void OptionsToForm(const TPdfSignerOptions& options, TSignerForm& form) {
  form.CertIssuerName = options.CertIssuer;
  form.CertSerialNumber = options.CertSerial;
  form.CertCommonName = options.CertCommonName;
  form.SigReason = options.SigReason;
  form.SignatureTypeIndex =
      (options.SigType >= 0 && options.SigType < kSignatureTypeCount) ? options.SigType : -1;
  form.SigPage = options.SigPage;
  form.SigRect = options.SigRect;
  form.SigField = options.SigField;
  form.ImageFile = options.ImageFile;
  form.FontFile = options.FontFile;
  form.UsePSS = options.UsePSS;
  TPAdESLevel level = TPAdESLevel::plNone;
  form.LevelIndex = PAdESLevelOfText(options.Level, level) ? static_cast<int>(level) : -1;
  form.TSA = options.TSA;
  form.TSAUser = options.TSAUser;
}

bool SignActionEnabled(const TSignerForm& form) {
  return !form.SignedPDF.empty() && !form.TargetPDF.empty() && !form.CertIssuerName.empty() &&
         !form.CertSerialNumber.empty();
}

void CertificateToForm(const ISignerCertificate& certificate, TSignerForm& form) {
  form.CertIssuerName = FromUtf8Text(certificate.IssuerCommonName());
  form.CertSerialNumber = SerialNumberText(certificate);
  form.CertCommonName = FromUtf8Text(certificate.SubjectCommonName());
}

std::string OpenDialogStartFolder(const std::string& signedPdf) {
  if (signedPdf.empty() || !platform::FileExists(signedPdf)) return {};
  return platform::DirectoryOf(platform::AbsolutePath(signedPdf));
}

std::string ImageDialogStartFolder(const std::string& imageFile, const std::string& signedPdf) {
  const std::string folder = OpenDialogStartFolder(imageFile);
  return folder.empty() ? OpenDialogStartFolder(signedPdf) : folder;
}

std::string SaveDialogStartFolder(const std::string& targetPdf) {
  if (targetPdf.empty()) return {};
  const auto slash = targetPdf.rfind('/');
  if (slash == std::string::npos) return {};
  std::string folder = targetPdf.substr(0, slash + 1);
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return platform::DirectoryExists(folder) ? folder : std::string();
}

}  // namespace tavra
