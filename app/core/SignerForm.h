// The main window's fields as plain data, so that copying options in and out,
// the enable rule of the Sign action and the browse rules are decided without
// any GUI at hand.
#pragma once

#include <string>

#include "app/core/RKSIni.h"
#include "app/core/SigningRequest.h"

namespace tavra {

class ISignerCertificate;

// The editable fields of TfrmMain, texts as they stand (never trimmed here).
struct TSignerForm {
  std::string SignedPDF;         // edSignedPDF
  std::string TargetPDF;         // edTargetPDF
  std::string CertIssuerName;    // edCertIssuerName
  std::string CertSerialNumber;  // edCertSerialNumber
  std::string CertCommonName;    // edCertCommonName
  std::string SigReason;         // edSigReason
  int SignatureTypeIndex = 0;    // cbSignatureType item index, -1 for none
  // The signature's placement as the settings keep it ("Vzhled podpisu").
  std::string SigPage, SigRect, SigField;
  // The background picture ("Obrázek…") and the font to embed, kept from the
  // settings; empty means none.
  std::string ImageFile, FontFile;
  bool UsePSS = false;  // kept from the settings; no field shows it
  // cbLevel item index (kLevelNames), -1 for none; the authority's URL
  // (edTSA) and its user, kept from the settings.
  int LevelIndex = 0;
  std::string TSA;
  std::string TSAUser;
};

// Number of items of cbSignatureType.
inline constexpr int kSignatureTypeCount = 3;

// Items of cbLevel, in the order of TPAdESLevel.
inline constexpr const char* kLevelNames[] = {"Základní (adbe.pkcs7)", "PAdES B-B", "PAdES B-T",
                                              "PAdES B-LT", "PAdES B-LTA"};
inline constexpr int kLevelCount = 5;

// Texts of the level checks.
inline constexpr char kMsgNoLevel[] = "Není zvolena úroveň podpisu";
inline constexpr char kMsgNoTSA[] = "Pro úroveň PAdES B-T není zadáno časové razítko (URL)";

// Settings fields of the form -> options. SigType is the item index taken as
// an unsigned byte, so an empty selection gives 255.
void FormToOptions(const TSignerForm& form, TPdfSignerOptions& options);
// The request the Sign action makes of the fields, texts as they stand; the
// type list's index is read as the settings file's SigType. A placement that
// does not parse (a settings file edited by hand), no level, or B-T without
// an authority raises ESignerError (B-LT and B-LTA too). The basic level takes the authority's
// timestamp when one is named; B-B never asks for one.
TSigningRequest SigningRequestOf(const TSignerForm& form);

// Options -> settings fields; the paths stay as they are. A SigType that names
// no item leaves the list without a selection.
void OptionsToForm(const TPdfSignerOptions& options, TSignerForm& form);

// The Sign action is enabled exactly when both paths, the issuer and the serial
// are non-empty as they stand.
bool SignActionEnabled(const TSignerForm& form);

// The identity of a chosen certificate into the certificate fields.
void CertificateToForm(const ISignerCertificate& certificate, TSignerForm& form);

// Starting folder of the open dialog: the folder of the input file when the
// field names an existing file, else empty (the dialog's default).
std::string OpenDialogStartFolder(const std::string& signedPdf);
// Starting folder of the picture dialog: the folder of the chosen picture
// when it exists, else that of the input file, else empty.
std::string ImageDialogStartFolder(const std::string& imageFile, const std::string& signedPdf);
// Starting folder of the save dialog: the folder part of the output field when
// that folder exists (a trailing "/" ignored), else empty.
std::string SaveDialogStartFolder(const std::string& targetPdf);

}  // namespace tavra
