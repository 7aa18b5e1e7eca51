// Encrypted documents: files made by qpdf for every revision open with the
// right password and give what qpdf gives; wrong passwords and damaged
// Encrypt dictionaries fail with their errors; new encryptions are read back
// by qpdf; the per-object processing is checked against openssl.
#include <memory>
#include <utility>

#include "tests/pdf/PdfFixtures.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/crypto/CvAES.h"
#include "toolkit/crypto/CvMD.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDFSecurity.h"

using namespace corvane;
using namespace pdftest;
using namespace tavra_test;

namespace {

const std::string kContent = "BT /F1 24 Tf 72 700 Td (Hello, encrypted world) Tj ET";

// Two pages sharing a content stream, a title, and an XMP metadata stream.
TFixture Sample() {
  TFixture f;
  f.Add(1, "<< /Type /Catalog /Pages 2 0 R /Metadata 6 0 R >>");
  f.Add(2, "<< /Type /Pages /Kids [3 0 R 7 0 R] /Count 2 >>");
  f.Add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
  f.Add(4, StreamBody("", kContent));
  f.Add(5, "<< /Title (Secret title) >>");
  f.Add(6, StreamBody(" /Type /Metadata /Subtype /XML", "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>"));
  f.Add(7, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
  f.trailerExtra =
      " /Info 5 0 R /ID [<00112233445566778899AABBCCDDEEFF> <00112233445566778899AABBCCDDEEFF>]";
  return f;
}

void SetPasswords(TOvPDFDocument* doc, const std::string& user, const std::string& owner) {
  auto* handler = dynamic_cast<TOvPDFPasswordSecurityHandler*>(doc->SecurityHandler());
  ASSERT_NE(handler, nullptr);
  handler->SetUserPassword(user);
  handler->SetOwnerPassword(owner);
}

// Opens and decrypts; a file with object streams is decrypted while opening.
void OpenDecrypted(TOvPDFDocument& doc, TOvStream& input, const std::string& user,
                   const std::string& owner) {
  doc.SetOnDecryptionInfoNeeded([&](TOvPDFDocument* d) { SetPasswords(d, user, owner); });
  doc.Open(input);
  if (doc.Encrypted()) {
    SetPasswords(&doc, user, owner);
    doc.Decrypt();
  }
}

std::string OpenFailure(const std::string& bytes, const std::string& user,
                        const std::string& owner) {
  TOvMemoryStream input(bytes);
  TOvPDFDocument doc;
  try {
    OpenDecrypted(doc, input, user, owner);
  } catch (const EOvPDFError& e) {
    return e.what();
  }
  return "opened";
}

TOvPDFStream* ContentStream(TOvPDFDocument& doc, int32_t* number) {
  auto* ref = dynamic_cast<TOvPDFRef*>(GetEntry(doc.PageInfo(0).Dictionary(), "Contents"));
  if (!ref) return nullptr;
  *number = ref->Number;
  return dynamic_cast<TOvPDFStream*>(ref->Resolve()->Value);
}

// What qpdf makes of the same file with the same password.
void ExpectAgreesWithQpdf(const ScratchDir& dir, const std::string& pdf, TOvPDFDocument& doc,
                          const std::string& password) {
  const std::string path = dir.Write("checked.pdf", pdf);
  const std::string pw = Quote("--password=" + password) + " ";
  const std::string pages = RunCommand("qpdf " + pw + "--show-npages " + path + " 2>/dev/null");
  ASSERT_FALSE(pages.empty());
  EXPECT_EQ(doc.PageCount(), static_cast<size_t>(std::stoi(pages)));
  int32_t number = 0;
  TOvPDFStream* content = ContentStream(doc, &number);
  ASSERT_NE(content, nullptr);
  const std::string theirs = RunCommand("qpdf " + pw + "--show-object=" + std::to_string(number) +
                                        " --filtered-stream-data " + path + " 2>/dev/null");
  EXPECT_EQ(DecodeStreamData(content), theirs);
  EXPECT_EQ(DecodeStreamData(content), kContent);
  EXPECT_EQ(GetStringEntry(doc.Info(), "Title", true), "Secret title");
  auto* metadata = dynamic_cast<TOvPDFStream*>(GetResolvedEntry(doc.Catalog(), "Metadata"));
  ASSERT_NE(metadata, nullptr);
  // Metadata left in clear by a new encryption carries the Identity crypt filter.
  auto* filters = dynamic_cast<TOvPDFArray*>(GetEntry(metadata->Dictionary, "Filter"));
  const bool identity = filters && filters->ItemCount() == 1 &&
                        dynamic_cast<TOvPDFName*>(filters->GetItem(0))->GetName() == "Crypt";
  const std::string xmp = identity ? metadata->GetRawData() : DecodeStreamData(metadata);
  EXPECT_NE(xmp.find("xmpmeta"), std::string::npos);
}

struct TRevision {
  const char* name;
  const char* keyOptions;  // after "--encrypt USER OWNER"
  bool hasClearMetadata;   // --cleartext-metadata applies
};

const TRevision kRevisions[] = {
    {"R2 RC4-40", "40", false},
    {"R3 RC4-128", "128 --use-aes=n", true},  // with clear metadata: V4 with RC4
    {"R4 AES-128", "128 --use-aes=y", true},
    {"R5 AES-256", "256 --force-R5", true},
    {"R6 AES-256", "256", true},
};

// extra: --cleartext-metadata goes with the key options, anything else
// before them.
std::string Encrypt(const ScratchDir& dir, const std::string& user, const std::string& extra,
                    const TRevision& r) {
  const bool inner = extra == "--cleartext-metadata";
  return QpdfVariant(dir, Sample().Build(),
                     "--allow-weak-crypto " + (inner ? std::string() : extra) + " --encrypt " +
                         Quote(user) + " owner " + r.keyOptions + " " +
                         (inner ? extra : std::string()) + " --",
                     "enc");
}

// RC4 written out here, apart from the toolkit's.
std::string Rc4(const std::string& key, std::string data) {
  unsigned char box[256];
  for (int i = 0; i < 256; ++i) box[i] = static_cast<unsigned char>(i);
  for (size_t i = 0, j = 0; i < 256; ++i) {
    j = (j + box[i] + static_cast<unsigned char>(key[i % key.size()])) & 0xFF;
    std::swap(box[i], box[j]);
  }
  for (size_t k = 0, i = 0, j = 0; k < data.size(); ++k) {
    i = (i + 1) & 0xFF;
    j = (j + box[i]) & 0xFF;
    std::swap(box[i], box[j]);
    data[k] = static_cast<char>(data[k] ^ box[(box[i] + box[j]) & 0xFF]);
  }
  return data;
}

// The 19 further RC4 passes of revision 3, with the key XORed by the pass.
std::string Rc4Passes(const std::string& key, std::string data) {
  for (int pass = 1; pass <= 19; ++pass) {
    std::string k = key;
    for (char& c : k) c = static_cast<char>(c ^ pass);
    data = Rc4(k, data);
  }
  return data;
}

// A revision 3 file with a 56-bit key (user "user", owner "owner"), its
// values computed by ISO 32000-1 7.6.3 step by step. qpdf has no option to
// write this length, but reads it: that makes the file's values sound.
std::string Rc4Key56File() {
  const unsigned char padBytes[32] = {0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41,
                                      0x64, 0x00, 0x4E, 0x56, 0xFF, 0xFA, 0x01, 0x08,
                                      0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68, 0x3E, 0x80,
                                      0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};
  const std::string pad(reinterpret_cast<const char*>(padBytes), 32);
  auto padded = [&](const std::string& password) { return (password + pad).substr(0, 32); };
  const std::string id =
      std::string("\x00\x11\x22\x33\x44\x55\x66\x77", 8) + "\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF";
  const size_t n = 7;
  std::string ownerKey = HashMD5(padded("owner"));
  for (int k = 0; k < 50; ++k) ownerKey = HashMD5(ownerKey);
  ownerKey.resize(n);
  const std::string o = Rc4Passes(ownerKey, Rc4(ownerKey, padded("user")));
  // /P -4 as four bytes, low byte first.
  std::string key = HashMD5(padded("user") + o + std::string("\xFC\xFF\xFF\xFF") + id);
  for (int k = 0; k < 50; ++k) key = HashMD5(key.substr(0, n));  // the first n bytes only
  key.resize(n);
  const std::string u = Rc4Passes(key, Rc4(key, HashMD5(pad + id))) + std::string(16, '\0');
  // Object 4 generation 0: number and generation low byte first, n + 5 bytes.
  const std::string objectKey =
      HashMD5(key + std::string("\x04\x00\x00\x00\x00", 5)).substr(0, n + 5);
  TFixture f = OnePage();
  f.objects[3].second = StreamBody("", Rc4(objectKey, kContent));
  f.Add(5, "<< /Filter /Standard /V 2 /R 3 /Length 56 /P -4 /O <" + BytesToHex(o) + "> /U <" +
               BytesToHex(u) + "> >>");
  f.trailerExtra = " /Encrypt 5 0 R /ID [<" + BytesToHex(id) + "> <" + BytesToHex(id) + ">]";
  return f.Build();
}

}  // namespace

TEST(Encryption, QpdfFilesOpenWithTheRightPasswordAndAgreeWithQpdf) {
  TAVRA_REQUIRE_TOOL("qpdf");
  ScratchDir dir;
  for (const TRevision& r : kRevisions) {
    SCOPED_TRACE(r.name);
    struct TVariant {
      const char* name;
      std::string user;      // the file's user password
      std::string extra;     // more qpdf options
      std::string openUser;  // what we open with
      std::string openOwner;
    };
    std::vector<TVariant> variants = {
        {"user password", "user", "", "user", ""},
        {"owner password opens it", "user", "", "", "owner"},
        {"owner password only: opens without one", "", "", "", ""},
        {"object streams", "user", "--object-streams=generate", "user", ""},
    };
    if (r.hasClearMetadata) {
      variants.push_back({"metadata in clear", "user", "--cleartext-metadata", "user", ""});
    }
    for (const TVariant& v : variants) {
      SCOPED_TRACE(v.name);
      const std::string pdf = Encrypt(dir, v.user, v.extra, r);
      ASSERT_FALSE(pdf.empty());
      TOvMemoryStream input(pdf);
      TOvPDFDocument doc;
      OpenDecrypted(doc, input, v.openUser, v.openOwner);
      EXPECT_TRUE(doc.Decrypted());
      EXPECT_FALSE(doc.Encrypted());
      ExpectAgreesWithQpdf(dir, pdf, doc, v.openUser.empty() ? v.openOwner : v.openUser);
      if (v.extra == "--cleartext-metadata") {
        EXPECT_FALSE(doc.SecurityHandler()->EncryptMetadata());
      }
    }
    // Metadata in clear in a file that has no Metadata stream: the key still
    // takes the four FF bytes.
    if (r.hasClearMetadata) {
      const std::string pdf = QpdfVariant(dir, OnePage().Build(),
                                          std::string("--allow-weak-crypto --encrypt user owner ") +
                                              r.keyOptions + " --cleartext-metadata --",
                                          "bare");
      EXPECT_EQ(OpenFailure(pdf, "user", ""), "opened");
    }
    // Neither password: refused when the key is first needed.
    EXPECT_EQ(OpenFailure(Encrypt(dir, "user", "", r), "wrong", "wrong"), "Invalid password");
    // Object streams are decrypted while opening: without the password the
    // opening fails, and the document still tells that it is encrypted.
    TOvMemoryStream input(Encrypt(dir, "user", "--object-streams=generate", r));
    TOvPDFDocument doc;
    try {
      OpenDecrypted(doc, input, "", "");
      ADD_FAILURE() << "opened";
    } catch (const EOvPDFPasswordSecurityHandlerError& e) {
      EXPECT_STREQ(e.what(), "Invalid password");
    }
    EXPECT_TRUE(doc.Encrypted());
    EXPECT_FALSE(doc.Opened());
  }
}

// Below 128 bits the 50 re-hashes of the file key take only its first
// Length/8 bytes; qpdf and we must read the same content.
TEST(Encryption, ShortRc4KeysRehashTheirFirstBytes) {
  TAVRA_REQUIRE_TOOL("qpdf");
  ScratchDir dir;
  const std::string pdf = Rc4Key56File();
  const std::string path = dir.Write("rc4-56.pdf", pdf);
  int status = -1;
  const std::string report =
      RunCommand("qpdf --password=user --check " + Quote(path) + " 2>&1", &status);
  ASSERT_EQ(status, 0) << report;
  EXPECT_EQ(RunCommand("qpdf --password=user --show-object=4 --filtered-stream-data " +
                       Quote(path) + " 2>/dev/null"),
            kContent);
  TOvMemoryStream input(pdf);
  TOvPDFDocument doc;
  OpenDecrypted(doc, input, "user", "");
  int32_t number = 0;
  TOvPDFStream* content = ContentStream(doc, &number);
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(DecodeStreamData(content), kContent);
}

// Same-length edits of qpdf's Encrypt dictionary keep every offset valid.
TEST(Encryption, DamagedEncryptDictionariesGiveTheirErrors) {
  TAVRA_REQUIRE_TOOL("qpdf");
  ScratchDir dir;
  auto edited = [&](const TRevision& r, const std::string& from, const std::string& to) {
    std::string pdf = Encrypt(dir, "user", "", r);
    const size_t at = pdf.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) pdf.replace(at, from.size(), to);
    return pdf;
  };
  // A value that cuts a /U or /UE short, padded with spaces.
  auto shortened = [&](const TRevision& r, const std::string& key) {
    std::string pdf = Encrypt(dir, "user", "", r);
    const size_t at = pdf.find("/" + key + " <");
    const size_t end = pdf.find('>', at);
    pdf.replace(at, end + 1 - at, "/" + key + " <>" + std::string(end - at - 3 - key.size(), ' '));
    return pdf;
  };
  const TRevision& r3 = kRevisions[1];
  const TRevision& r5 = kRevisions[3];
  const TRevision& r6 = kRevisions[4];
  EXPECT_EQ(OpenFailure(edited(r3, "/O <", "/X <"), "user", ""),
            "Invalid security handler information");
  EXPECT_EQ(OpenFailure(edited(r3, "/Length 128", "/Length 999"), "user", ""),
            "Invalid security handler information");
  EXPECT_EQ(OpenFailure(edited(r3, "/R 3", "/R 7"), "user", ""), "Unsupported revision: 7");
  EXPECT_EQ(OpenFailure(edited(r5, "/Perms <", "/Permx <"), "user", ""),
            "Invalid security handler information");
  // /P no longer matches what /Perms holds: refused even with the right password.
  EXPECT_EQ(OpenFailure(edited(r5, "/P -4", "/P -8"), "user", ""), "Failed to verify permissions");
  EXPECT_EQ(OpenFailure(edited(r6, "/P -4", "/P -8"), "", "owner"), "Failed to verify permissions");
  EXPECT_EQ(OpenFailure(shortened(r5, "UE"), "user", ""), "Invalid password info");
  // An empty /U checks nothing, so it admits no password (not every password).
  EXPECT_EQ(OpenFailure(shortened(r3, "U"), "user", ""), "Invalid password");
  EXPECT_EQ(OpenFailure(shortened(r6, "U"), "user", "owner"), "Invalid password");
  TFixture unknown = Sample();
  unknown.Add(8, "<< /Filter /Unheard.Of /V 1 /R 2 >>");
  unknown.trailerExtra += " /Encrypt 8 0 R";
  EXPECT_EQ(OpenFailure(unknown.Build(), "", ""), "Security handler not found");
}

namespace {

// A handler whose file key is given, to look at object processing alone.
class TFixedKeyHandler final : public TOvPDFSecurityHandler {
 public:
  explicit TFixedKeyHandler(std::string key) : key_(std::move(key)) {}
  const TOvPDFSecurityHandlerClass& HandlerClass() const override {
    return TOvPDFPasswordSecurityHandler::Class();
  }
  ByteString GetEncryptionKey() override { return key_; }
  void SetMethods(uint8_t method) { streamCryptMethod_ = stringCryptMethod_ = method; }
  void Exclude(TOvPDFObject* obj) { excludedObjects_.push_back(obj); }

 private:
  std::string key_;
};

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

}  // namespace

// The object key (MD5 of key, number, generation and "sAlT") and the CBC
// layout (IV first, n bytes of n) as openssl sees them.
TEST(Encryption, AesObjectsDecryptWithOpensslUnderTheObjectKey) {
  TAVRA_REQUIRE_TOOL("openssl");
  ScratchDir dir;
  TOvPDFFile file;
  TOvPDFString* text = file.NewString("thirty-two bytes of plain text!!", 0);
  TOvPDFArray* array = file.NewArray();
  array->AddItem(text);
  file.NewIndirect(0x012345, 7, array);
  const std::string fileKey = "0123456789abcdef";
  TFixedKeyHandler handler(fileKey);
  handler.SetEncryptionVersion(4);
  handler.SetMethods(PDF_CRYPT_AESV2);
  handler.SetStringAlgorithm(0x7005);
  handler.EncryptObject(text);
  const std::string sealed = text->GetText();
  ASSERT_EQ(sealed.size(), 16u + 48u);
  const std::string theirKey =
      RunCommand("openssl dgst -md5 -binary " +
                 dir.Write("key.bin", fileKey + std::string("\x45\x23\x01\x07\x00sAlT", 9)));
  EXPECT_EQ(handler.ObjectKey(text), theirKey);
  const std::string plain = RunCommand("openssl enc -d -aes-128-cbc -K " + Hex(theirKey) + " -iv " +
                                       Hex(sealed.substr(0, 16)) + " -in " +
                                       dir.Write("c.bin", sealed.substr(16)) + " 2>/dev/null");
  EXPECT_EQ(plain, "thirty-two bytes of plain text!!");
  handler.DecryptObject(text);
  EXPECT_EQ(text->GetText(), "thirty-two bytes of plain text!!");

  // Short data and broken padding are errors, never a crash.
  auto failure = [&](const std::string& bytes) {
    text->SetText(bytes);
    try {
      handler.DecryptObject(text);
    } catch (const EOvPDFSecurityHandlerError& e) {
      return std::string(e.what());
    }
    return std::string("decrypted");
  };
  EXPECT_EQ(failure(std::string(20, 'x')), "Invalid encrypted data");
  EXPECT_EQ(failure(std::string(16, 'x')), "Invalid encrypted data");
  TOvAESSymmetricCrypto aes(theirKey, std::string(16, '\0'));
  EXPECT_EQ(failure(std::string(16, '\0') + aes.EncryptCBC(std::string(15, 'a') + '\x11')),
            "Invalid block cipher padding");
  TOvAESSymmetricCrypto aes2(theirKey, std::string(16, '\0'));
  EXPECT_EQ(failure(std::string(16, '\0') + aes2.EncryptCBC(std::string(13, 'a') + "\x01\x03\x03")),
            "Invalid block cipher padding");
  TOvAESSymmetricCrypto aes3(theirKey, std::string(16, '\0'));
  EXPECT_EQ(failure(std::string(16, '\0') + aes3.EncryptCBC(std::string(15, 'a') + '\0')),
            "Invalid block cipher padding");

  // Excluded strings and strings of the Identity filter stay as they are.
  text->SetText("left alone");
  handler.Exclude(text);
  handler.DecryptObject(text);
  handler.EncryptObject(text);
  EXPECT_EQ(text->GetText(), "left alone");
  TOvPDFString* other = file.NewString("identity", 0);
  array->AddItem(other);
  handler.SetMethods(PDF_CRYPT_NONE);
  handler.DecryptObject(other);
  EXPECT_EQ(other->GetText(), "identity");
  handler.SetEncryptionVersion(3);
  try {
    handler.DecryptObject(other);
    FAIL();
  } catch (const EOvPDFSecurityHandlerError& e) {
    EXPECT_STREQ(e.what(), "Unsupported encryption algorithm: 3");
  }
  try {
    handler.DecryptObject(array);
    FAIL();
  } catch (const EOvPDFSecurityHandlerError& e) {
    EXPECT_STREQ(e.what(), "Cannot decrypt object TOvPDFArray");
  }
}

// New encryptions of each kind: qpdf opens them with either password and
// reads the content we encrypted.
TEST(Encryption, NewEncryptionsAreReadByQpdf) {
  TAVRA_REQUIRE_TOOL("qpdf");
  ScratchDir dir;
  const struct {
    const char* name;
    int32_t algorithm;
    int32_t bits;
    const char* cfm;  // crypt filter written by hand; nil for /V 1 and 2
    bool encryptMetadata;
    const char* revision;
  } kinds[] = {{"RC4-40", 0x7001, 40, nullptr, true, "R = 2"},
               {"RC4-128", 0x7001, 128, nullptr, true, "R = 3"},
               {"RC4-128, metadata in clear", 0x7001, 128, "V2", false, "R = 4"},
               {"AES-128", 0x7005, 128, "AESV2", true, "R = 4"},
               {"AES-256", 0x7007, 256, "AESV3", true, "R = 5"}};
  for (const auto& kind : kinds) {
    SCOPED_TRACE(kind.name);
    TOvMemoryStream input(Sample().Build());
    TOvPDFDocument doc;
    doc.Open(input);
    TOvPDFFile& file = doc.File();
    TOvPDFPasswordSecurityHandler handler;
    handler.SetDocument(&doc);
    handler.SetStreamAlgorithm(kind.algorithm);
    handler.SetStringAlgorithm(kind.algorithm);
    handler.SetStreamKeyBits(kind.bits);
    handler.SetStringKeyBits(kind.bits);
    handler.Permissions().CanPrint = true;
    handler.SetEncryptMetadata(kind.encryptMetadata);
    handler.SetUserPassword("u");
    handler.SetOwnerPassword("o");
    handler.PrepareEncryption(&file);
    TOvPDFDictionary* encrypt = file.NewDictionary();
    handler.SaveEncryptionInfo(encrypt);
    handler.WriteFilterName(encrypt);
    if (kind.cfm) {
      TOvPDFDictionary* standard = file.NewDictionary();
      standard->AddEntry("CFM", file.NewName(kind.cfm));
      standard->AddEntry("Length", file.NewInt(kind.bits / 8));
      TOvPDFDictionary* filters = file.NewDictionary();
      filters->AddEntry("StdCF", standard);
      encrypt->AddEntry("CF", filters);
      encrypt->AddEntry("StmF", file.NewName("StdCF"));
      encrypt->AddEntry("StrF", file.NewName("StdCF"));
    }
    doc.EnumerateStringsAndStreams(true, 0, {}, [&](TOvPDFObject* obj) {
      handler.EncryptObject(obj);
      return true;
    });
    int32_t number = 0;
    int32_t generation = 0;
    doc.AddNewObject(encrypt, number, generation);
    SetEntry(doc.Trailer(), "Encrypt", doc.MakeRef(number, generation));
    doc.Close(true);
    const std::string pdf = input.Data();
    ASSERT_EQ(pdf.find("Hello, encrypted world"), std::string::npos);
    EXPECT_EQ(pdf.find("xmpmeta") != std::string::npos, !kind.encryptMetadata);
    for (const char* password : {"u", "o"}) {
      std::string report;
      const std::string path = dir.Write("new.pdf", pdf);
      int status = -1;
      report = RunCommand("qpdf --password=" + std::string(password) + " --check " + path + " 2>&1",
                          &status);
      EXPECT_EQ(status, 0) << report;
      EXPECT_NE(report.find(kind.revision), std::string::npos) << report;
      TOvMemoryStream again(pdf);
      TOvPDFDocument reread;
      OpenDecrypted(reread, again, password, password);
      ExpectAgreesWithQpdf(dir, pdf, reread, password);
    }
  }
}

TEST(Encryption, RegistryMatchesByNameThenSubfilter) {
  EXPECT_EQ(FindSecurityHandlerClass("Standard", true, false),
            &TOvPDFPasswordSecurityHandler::Class());
  // The password handler cannot sign.
  EXPECT_EQ(FindSecurityHandlerClass("Standard", false, true), nullptr);
  try {
    RegisterSecurityHandler(TOvPDFPasswordSecurityHandler::Class());
    FAIL();
  } catch (const EOvPDFError& e) {
    EXPECT_STREQ(e.what(), "Security handler already registered");
  }
  TOvPDFSecurityHandlerClass other;
  other.HandlerName = "Test.Other";
  other.CanEncrypt = true;
  other.IsEncryptionSubFilter = [](std::string_view s) { return s == "test.s1"; };
  other.Create = [] { return std::make_unique<TOvPDFPasswordSecurityHandler>(); };
  RegisterSecurityHandler(other);
  EXPECT_NE(CreateEncryptionHandler("Adobe.PPKMS", "test.s1"), nullptr);
  UnregisterSecurityHandler(other);
  try {
    CreateEncryptionHandler("Adobe.PPKMS", "test.s1");
    FAIL();
  } catch (const EOvPDFError& e) {
    EXPECT_STREQ(e.what(), "Security handler not found");
  }
  EXPECT_EQ(CreateEncryptionHandler("Standard", "")->HandlerClass().HandlerDescription,
            "Adobe password-based encryption");
}
