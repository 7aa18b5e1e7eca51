#include "cli/InfoCommand.h"

#include <unordered_set>

#include "toolkit/common/CvStream.h"
#include "toolkit/pdf/CvPDFSecurity.h"

namespace tavra {

using namespace corvane;

namespace {

std::string VersionText(int32_t version) {
  if (version <= 0) return "unknown";
  const int32_t minor = version % 10 != 0 ? version % 100 : (version % 100) / 10;
  return std::to_string(version / 100) + "." + std::to_string(minor);
}

// The text of an object as it stands in the file, without its whitespace.
std::string Text(TOvPDFObject* obj) {
  if (!obj) return {};
  TOvMemoryStream out;
  obj->WriteTo(out, true);
  return TrimPdfSpace(out.Data());
}

std::string CryptMethodName(uint8_t method) {
  switch (method) {
    case PDF_CRYPT_NONE:
      return "None";
    case PDF_CRYPT_V2:
      return "V2 (RC4)";
    case PDF_CRYPT_AESV2:
      return "AESV2 (AES-128)";
    case PDF_CRYPT_AESV3:
      return "AESV3 (AES-256)";
    default:
      return "not given";
  }
}

std::string PermissionsText(const TOvPDFPermissions& p) {
  std::string text;
  auto add = [&text](bool granted, const char* name) {
    if (!granted) return;
    if (!text.empty()) text += ", ";
    text += name;
  };
  add(p.CanPrint, "print");
  add(p.CanPrintHighQuality, "print-high");
  add(p.CanModify, "modify");
  add(p.CanCopy, "copy");
  add(p.CanAnnotate, "annotate");
  add(p.CanFillForms, "fill-forms");
  add(p.CanExtractForAccessibility, "extract-accessibility");
  add(p.CanAssemble, "assemble");
  return text.empty() ? "none" : text;
}

// What the Encrypt dictionary says, read before decryption forgets it.
std::vector<std::string> EncryptionLines(TOvPDFSecurityHandler* handler) {
  std::vector<std::string> lines;
  auto* standard = dynamic_cast<TOvPDFPasswordSecurityHandler*>(handler);
  if (!standard) return lines;
  lines.push_back("Revision: " + std::to_string(standard->Revision()) + " (/V " +
                  std::to_string(standard->EncryptionVersion()) + ")");
  const int32_t bits = standard->Revision() >= 5   ? 256
                       : standard->Revision() == 2 ? 40
                                                   : standard->KeyLength();
  lines.push_back("Key length: " + std::to_string(bits) + " bits");
  if (standard->EncryptionVersion() >= 4) {
    lines.push_back("Streams: " + CryptMethodName(standard->StreamCryptMethod()) +
                    ", strings: " + CryptMethodName(standard->StringCryptMethod()));
    lines.push_back(std::string("Metadata encrypted: ") +
                    (standard->EncryptMetadata() ? "yes" : "no"));
  }
  lines.push_back("Permissions: " + PermissionsText(standard->Permissions()) + " (/P " +
                  std::to_string(standard->P()) + ")");
  return lines;
}

void SetPassword(TOvPDFSecurityHandler* handler, const std::string& password) {
  // One password may be either: the handler tries it as both.
  if (auto* standard = dynamic_cast<TOvPDFPasswordSecurityHandler*>(handler)) {
    standard->SetUserPassword(password);
    standard->SetOwnerPassword(password);
  }
}

}  // namespace

std::vector<TSignatureFieldInfo> ListSignatureFields(TOvPDFDocument& document) {
  std::vector<TSignatureFieldInfo> result;
  TOvPDFDictionary* catalog = document.Catalog();
  TOvPDFDictionary* form = catalog ? GetDictEntry(catalog, "AcroForm", false) : nullptr;
  TOvPDFArray* fields = form ? GetArrayEntry(form, "Fields", false) : nullptr;
  if (!fields) return result;
  struct TNode {
    TOvPDFDictionary* field;
    std::string parentName;
    std::string inheritedType;
    int depth;
  };
  std::vector<TNode> pending;
  auto pushKids = [&](TOvPDFArray* kids, const std::string& name, const std::string& type,
                      int depth) {
    for (size_t i = kids->ItemCount(); i-- > 0;) {
      if (auto* kid = dynamic_cast<TOvPDFDictionary*>(ResolveValue(kids->GetItem(i)))) {
        pending.push_back(TNode{kid, name, type, depth});
      }
    }
  };
  pushKids(fields, "", "", 0);
  std::unordered_set<TOvPDFDictionary*> visited;
  while (!pending.empty()) {
    TNode node = pending.back();
    pending.pop_back();
    if (!visited.insert(node.field).second || node.depth > PDF_MAX_TREE_DEPTH) continue;
    const std::string partial = DecodeTextString(GetStringEntry(node.field, "T", false));
    std::string name = node.parentName;
    if (!partial.empty()) name = name.empty() ? partial : name + "." + partial;
    const std::string type = GetNameEntry(node.field, "FT", node.inheritedType, false);
    TOvPDFArray* kids = GetArrayEntry(node.field, "Kids", false);
    // A field whose kids all lack /T has only widgets below it.
    bool hasFieldKids = false;
    if (kids) {
      for (const auto& item : kids->Items()) {
        auto* kid = dynamic_cast<TOvPDFDictionary*>(ResolveValue(item.Object));
        if (kid && GetEntry(kid, "T")) hasFieldKids = true;
      }
    }
    if (hasFieldKids) {
      pushKids(kids, name, type, node.depth + 1);
      continue;
    }
    if (type != "Sig") continue;
    TSignatureFieldInfo info;
    info.Name = name;
    if (auto* value = dynamic_cast<TOvPDFDictionary*>(GetResolvedEntry(node.field, "V"))) {
      info.Signed = true;
      info.Filter = GetNameEntry(value, "Filter", "", false);
      info.SubFilter = GetNameEntry(value, "SubFilter", "", false);
      info.SigningTime = DecodeTextString(GetStringEntry(value, "M", false));
      info.ByteRange = Text(GetResolvedEntry(value, "ByteRange"));
    }
    result.push_back(std::move(info));
  }
  return result;
}

void PrintInfo(const std::string& path, std::ostream& out,
               const std::optional<std::string>& password) {
  TOvFileStream input(path, TFileMode::fmOpenRead);
  TOvPDFDocument document;
  // The working copy lives in a scratch file, so a large document does not
  // need its size in memory and nothing is left over.
  UseScratchFileWorkingStream(document);
  std::vector<std::string> encryption;
  const std::string given = password.value_or(std::string());
  // A file with object streams is decrypted while it is opened.
  document.SetOnDecryptionInfoNeeded([&](TOvPDFDocument* sender) {
    encryption = EncryptionLines(sender->SecurityHandler());
    SetPassword(sender->SecurityHandler(), given);
  });
  document.Open(input);
  std::string decryption;
  if (document.Decrypted()) {
    decryption = "yes";
  } else if (document.Encrypted() && document.SecurityHandler()) {
    encryption = EncryptionLines(document.SecurityHandler());
    SetPassword(document.SecurityHandler(), given);
    try {
      document.Decrypt();
      decryption = "yes";
    } catch (const EOvPDFPasswordSecurityHandlerError& e) {
      // Without --password the empty one is tried; only a password given
      // that does not open the file is a failure.
      if (password || std::string_view(e.what()) != "Invalid password") throw;
      decryption = "no (a password is needed: --password TEXT)";
    }
  }
  TOvPDFFile& file = document.File();
  out << "File: " << path << "\n";
  out << "PDF version: " << VersionText(file.Version()) << "\n";
  // The first-page section of a linearized file is not an update of its own.
  const int32_t revisions =
      file.RevisionCount() - (document.Linearized() && file.RevisionCount() > 1 ? 1 : 0);
  out << "Revisions: " << revisions << "\n";
  out << "Objects: " << file.ObjectList().size() << "\n";
  out << "Pages: " << document.PageCount() << "\n";
  out << "Rebuilt by scanning: "
      << (file.Damaged() ? "yes (" + file.DamageReason() + ")" : std::string("no")) << "\n";
  // What was repaired, and where, for a person looking at a damaged file.
  const auto& warnings = file.Warnings();
  out << "Warnings: " << warnings.size() + file.WarningsDropped() << "\n";
  for (const TOvPDFWarning& warning : warnings) {
    out << "  ";
    if (warning.Offset >= 0) out << "offset " << warning.Offset << ": ";
    out << warning.Text << "\n";
  }
  if (file.WarningsDropped() > 0) out << "  (" << file.WarningsDropped() << " more not listed)\n";
  if (document.Encrypted() || document.Decrypted()) {
    out << "Encrypted: yes (/Filter /" << document.EncryptionFilter() << ")\n";
    for (const std::string& line : encryption) out << "  " << line << "\n";
    if (!decryption.empty()) out << "  Decrypted: " << decryption << "\n";
  } else {
    out << "Encrypted: no\n";
  }
  const auto fields = ListSignatureFields(document);
  out << "Signature fields: " << fields.size() << "\n";
  for (const auto& field : fields) {
    out << "  " << field.Name << ": " << (field.Signed ? "signed" : "not signed") << "\n";
    if (!field.Signed) continue;
    out << "    /Filter /" << field.Filter << "\n";
    out << "    /SubFilter /" << field.SubFilter << "\n";
    out << "    /M " << field.SigningTime << "\n";
    out << "    /ByteRange " << field.ByteRange << "\n";
  }
  document.Close(false);
}

}  // namespace tavra
