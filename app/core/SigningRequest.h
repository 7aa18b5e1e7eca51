// What one signing run is asked to do, as the window's form or the command
// line states it: which file into which, with which certificate, and how. The
// workflow checks it and turns it into the toolkit binding's setup once.
#pragma once

#include <string>

#include "app/core/SignaturePlacement.h"

namespace tavra {

// The three kinds of signature the signer makes. The settings file and the
// window's type list keep them as 0, 1 and 2 (SignatureKindOfSigType).
enum class TSignatureKind {
  skInvisible,   // an invisible document signature
  skVisible,     // a visible document signature
  skCertifying,  // a certifying (MDP) signature, visible
};

// The PAdES baseline level asked for; pdNone keeps the signer's own
// adbe.pkcs7.detached (with a timestamp when a TSA is named). B-LT adds the
// validation data of the signature in a store of the document, B-LTA then a
// document timestamp over it from the same authority.
enum class TPAdESLevel { plNone, plBB, plBT, plBLT, plBLTA };

// B-T and above need a timestamp authority.
inline bool LevelNeedsTimestamp(TPAdESLevel level) {
  return level == TPAdESLevel::plBT || level == TPAdESLevel::plBLT || level == TPAdESLevel::plBLTA;
}

// The time-stamping authority a signature asks for its token.
struct TTimestampServer {
  std::string URL;  // empty: no timestamp
  std::string User;
  std::string Password;
  std::string Policy;  // dotted OID, empty for the authority's default
};

struct TSigningRequest {
  // As given; the Sign action trims them before its checks.
  std::string InputPath;
  std::string OutputPath;
  // The certificate's identity: issuer common name and serial-number text,
  // both in the system code page, matched with ASCII letters folded.
  std::string CertIssuer;
  std::string CertSerial;
  // System code page; empty means no /Reason entry.
  std::string Reason;
  TSignatureKind Kind = TSignatureKind::skInvisible;
  // Visible signatures: a TrueType font to embed and a background picture
  // (PNG or JPEG); empty means none asked for.
  std::string FontPath;
  std::string ImagePath;
  // Page, rectangle or existing field; the default places it as always.
  TSignaturePlacement Placement;
  // RSA keys sign with RSASSA-PSS instead of PKCS#1 v1.5.
  bool UsePSS = false;
  TPAdESLevel Level = TPAdESLevel::plNone;
  // "sha256", "sha384" or "sha512"; empty is the handler's default.
  std::string Digest;
  TTimestampServer Timestamp;
};

// The stored form: 0 invisible, 2 certifying; every other value (1, or 255
// from a list without a selection, or a file edited by hand) is what a new
// entry is by default, a visible document signature.
TSignatureKind SignatureKindOfSigType(int sigType);

// A level as the settings file and the command line spell it: "" (none),
// "B-B", "B-T", "B-LT" or "B-LTA". False for any other text.
bool PAdESLevelOfText(const std::string& text, TPAdESLevel& level);
std::string PAdESLevelText(TPAdESLevel level);

}  // namespace tavra
