// Reading files: startxref, classic sections and Prev chains, cross-reference
// and object streams, hybrid files, damage and the rebuild by scanning.
#include <algorithm>

#include "tests/pdf/PdfFixtures.h"
#include "toolkit/pdf/CvZlib.h"

using namespace corvane;
using namespace pdftest;
using namespace tavra_test;

namespace {

struct TLoaded {
  TOvMemoryStream source;
  TOvPDFFile file;
  explicit TLoaded(const std::string& bytes) : source(bytes) {}
  void Load() { file.Reload(source); }
  TOvPDFDictionary* Dict(int number) {
    TOvPDFRef* ref = file.FindCanonical(number, 0);
    TOvPDFIndirect* target = ref ? ref->Resolve() : nullptr;
    return target ? dynamic_cast<TOvPDFDictionary*>(target->Value) : nullptr;
  }
};

std::string LoadError(const std::string& bytes) {
  TLoaded loaded(bytes);
  try {
    loaded.Load();
  } catch (const EOvPDFError& e) {
    return e.what();
  }
  return "loaded";
}

// A cross-reference stream section for the given objects (type-1 entries),
// written by hand with W [1 w2 1].
std::string XRefStreamFile(const std::string& head,
                           const std::vector<std::pair<int, std::string>>& objects, int w2,
                           const std::string& extraDict, bool useIndex) {
  std::string out = head;
  std::map<int, long long> offsets;
  int highest = 0;
  for (const auto& [n, body] : objects) {
    offsets[n] = static_cast<long long>(out.size());
    out += std::to_string(n) + " 0 obj\n" + body + "\nendobj\n";
    highest = std::max(highest, n);
  }
  const int self = highest + 1;
  offsets[self] = static_cast<long long>(out.size());
  std::string records;
  for (int n = 0; n <= self; ++n) {
    auto it = offsets.find(n);
    records += static_cast<char>(it == offsets.end() ? 0 : 1);
    const long long v = it == offsets.end() ? 0 : it->second;
    for (int i = w2 - 1; i >= 0; --i)
      records += static_cast<char>(i >= 8 ? 0 : (v >> (8 * i)) & 0xFF);
    records += static_cast<char>(it == offsets.end() ? (n == 0 ? 255 : 0) : 0);
  }
  const std::string packed = ZlibCompress(records);
  out += std::to_string(self) + " 0 obj\n<< /Type /XRef /Size " + std::to_string(self + 1) +
         " /W [1 " + std::to_string(w2) + " 1]" +
         (useIndex ? " /Index [0 " + std::to_string(self + 1) + "]" : "") +
         " /Root 1 0 R /Filter /FlateDecode /Length " + std::to_string(packed.size()) + extraDict +
         " >>\nstream\n" + packed + "\nendstream\nendobj\nstartxref\n" +
         std::to_string(offsets[self]) + "\n%%EOF\n";
  return out;
}

}  // namespace

TEST(XRef, LoadsAHandWrittenFile) {
  TLoaded loaded(OnePage().Build());
  loaded.Load();
  EXPECT_EQ(loaded.file.Version(), 140);
  EXPECT_FALSE(loaded.file.Damaged());
  EXPECT_EQ(loaded.file.RevisionCount(), 1);
  EXPECT_EQ(loaded.file.ObjectList().size(), 4u);
  EXPECT_EQ(GetNameEntry(loaded.Dict(1), "Type", "", false), "Catalog");
  EXPECT_EQ(GetIntEntry(loaded.Dict(2), "Count", 0, false), 1);
}

TEST(XRef, StartXRefForms) {
  std::string text = OnePage().Build();
  const size_t at = text.rfind("startxref");
  const std::string offset = text.substr(at + 10, text.find('\n', at + 10) - at - 10);
  const std::string body = text.substr(0, at);
  for (const std::string& tail :
       {"startxref\r\n" + offset + "\r\n%%EOF\r\n", "startxref " + offset + "\n%%EOF",
        "startxref\n" + offset + "\n%%\n", "startxref\n" + offset + "\n%%EOF\n\n\n   \n",
        "startxref\n" + offset + "\n%%EOF\n" + std::string(3000, 'x') + "\n"}) {
    TLoaded loaded(body + tail);
    loaded.Load();
    EXPECT_EQ(loaded.file.LastStartXRef(), std::stoll(offset));
    EXPECT_FALSE(loaded.file.Damaged()) << tail.substr(0, 40);
  }
}

TEST(XRef, MissingEofRebuildsAndWhatHoldsNoCatalogIsBadTrailer) {
  std::string text = OnePage().Build();
  text = text.substr(0, text.rfind("%%EOF"));
  for (const std::string& cut :
       {text + std::string(2048 - text.size() % 2048, ' '), text + std::string(10000, '\n')}) {
    TLoaded loaded(cut);
    loaded.Load();
    EXPECT_TRUE(loaded.file.Damaged());
    EXPECT_EQ(loaded.file.DamageReason(), "the file does not end in %%EOF");
    EXPECT_EQ(loaded.file.ObjectList().size(), 4u);
  }
  EXPECT_EQ(LoadError(text.substr(0, text.find("1 0 obj"))), "Bad document trailer");
  EXPECT_EQ(LoadError(""), "Bad document trailer");
  EXPECT_EQ(LoadError("This is a text file, not a PDF.\n"), "Bad document trailer");
  EXPECT_EQ(LoadError(std::string(5000, '\0')), "Bad document trailer");
}

TEST(XRef, NewerSectionWinsAndRevisionsAreCounted) {
  const std::string base = OnePage().Build();
  std::string updated =
      AppendUpdate(base, {{3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 200] >>"}}, 5);
  updated = AppendUpdate(updated, {{5, "(new)"}}, 6);
  TLoaded loaded(updated);
  loaded.Load();
  EXPECT_FALSE(loaded.file.Damaged());
  EXPECT_EQ(loaded.file.RevisionCount(), 3);
  EXPECT_EQ(loaded.file.ObjectList().size(), 5u);
  TOvPDFArray* box = GetArrayEntry(loaded.Dict(3), "MediaBox", false);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(dynamic_cast<TOvPDFReal*>(box->GetItem(2))->AsInt(), 100);
}

TEST(XRef, PrevLoopIsDamageAndRebuilds) {
  std::string text = OnePage().Build();
  const size_t sx = text.rfind("startxref");
  const std::string offset = text.substr(sx + 10, text.find('\n', sx + 10) - sx - 10);
  text.replace(text.find("/Root 1 0 R"), 11, "/Root 1 0 R /Prev " + offset);
  TLoaded loaded(text);
  loaded.Load();
  EXPECT_TRUE(loaded.file.Damaged());
  EXPECT_EQ(loaded.file.DamageReason(), "Cycle previous cross-reference");
  EXPECT_EQ(loaded.file.ObjectList().size(), 4u);
  EXPECT_NE(loaded.Dict(3), nullptr);
}

TEST(XRef, BrokenTableIsDamageNotSilence) {
  // A subsection header with the start number alone.
  std::string text = OnePage().Build();
  text.replace(text.find("xref\n0 5\n"), 9, "xref\n0\n");
  TLoaded loaded(text);
  loaded.Load();
  EXPECT_TRUE(loaded.file.Damaged());
  EXPECT_EQ(loaded.file.ObjectList().size(), 4u);
  // /Prev that is not a number.
  std::string prev = AppendUpdate(OnePage().Build(), {{5, "1"}}, 6);
  prev.replace(prev.rfind("/Prev "), 6, "/Prev /X ");
  TLoaded second(prev);
  second.Load();
  EXPECT_TRUE(second.file.Damaged());
  EXPECT_EQ(second.file.ObjectList().size(), 5u);
  // A negative /Prev cannot be followed either; /Prev 0 means there is none.
  for (const char* value : {"-1", "0"}) {
    std::string text2 = AppendUpdate(OnePage().Build(), {{5, "1"}}, 6);
    const size_t p2 = text2.rfind("/Prev ") + 6;
    text2.replace(p2, text2.find(' ', p2) - p2, value);
    TLoaded third(text2);
    third.Load();
    EXPECT_EQ(third.file.Damaged(), value[0] == '-') << value;
    EXPECT_EQ(third.file.ObjectList().size(), value[0] == '-' ? 5u : 1u) << value;
  }
}

TEST(XRef, EntryWithBadMarkerIsDamage) {
  std::map<int, long long> offsets;
  std::string text = OnePage().Build(&offsets);
  char line[32];
  std::snprintf(line, sizeof line, "%010lld 00000 n \n", offsets[2]);
  const size_t at = text.find(line);
  ASSERT_NE(at, std::string::npos);
  text[at + 17] = 'x';
  TLoaded loaded(text);
  loaded.Load();
  // The page tree's entry cannot be read: the scan finds it again.
  EXPECT_TRUE(loaded.file.Damaged());
  EXPECT_EQ(loaded.file.DamageReason(), "Invalid reference table");
  ASSERT_NE(loaded.Dict(2), nullptr);
  EXPECT_EQ(GetNameEntry(loaded.Dict(2), "Type", "", false), "Pages");
  EXPECT_NE(loaded.file.FindCanonical(3, 0), nullptr);
}

TEST(XRef, EntriesThatCannotBeFollowedRebuild) {
  // An offset past the end, and one that points at the wrong object.
  for (const std::string& wrong : {std::string("0099999999"), std::string("0000000016")}) {
    std::map<int, long long> offsets;
    std::string text = OnePage().Build(&offsets);
    char line[16];
    std::snprintf(line, sizeof line, "%010lld", offsets[3]);
    text.replace(text.find(std::string(line) + " 00000 n"), 10, wrong);
    TLoaded loaded(text);
    loaded.Load();
    EXPECT_TRUE(loaded.file.Damaged()) << wrong;
    EXPECT_EQ(GetNameEntry(loaded.Dict(3), "Type", "", false), "Page");
  }
}

TEST(XRef, RebuildLetsTheLaterDefinitionWin) {
  std::string text =
      AppendUpdate(OnePage().Build(), {{1, "<< /Type /Catalog /Pages 2 0 R /Later true >>"}}, 5);
  text.replace(text.rfind("startxref\n") + 10, 1, "9");  // break the newest pointer
  TLoaded loaded(text);
  loaded.Load();
  EXPECT_TRUE(loaded.file.Damaged());
  EXPECT_TRUE(GetBoolEntry(loaded.Dict(1), "Later", false, false));
}

TEST(XRef, RebuildSurvivesStrayEndobjAndStartxref) {
  TFixture f = OnePage();
  std::string text = f.Build();
  text.insert(text.find("2 0 obj"), "endobj\nendobj\n");
  text.replace(text.rfind("startxref\n") + 10, 1, "x");
  TLoaded loaded(text);
  loaded.Load();
  EXPECT_TRUE(loaded.file.Damaged());
  EXPECT_EQ(loaded.file.ObjectList().size(), 4u);
}

TEST(XRef, DuplicateOffsetsKeepTheMatchingObject) {
  std::map<int, long long> offsets;
  std::string text = OnePage().Build(&offsets);
  char line[16];
  std::snprintf(line, sizeof line, "%010lld", offsets[4]);
  char other[16];
  std::snprintf(other, sizeof other, "%010lld", offsets[3]);
  text.replace(text.find(std::string(line) + " 00000 n"), 10, other);
  TLoaded loaded(text);
  loaded.Load();
  EXPECT_FALSE(loaded.file.Damaged());
  EXPECT_NE(loaded.file.FindCanonical(3, 0), nullptr);
  EXPECT_EQ(loaded.file.FindCanonical(4, 0), nullptr);
}

TEST(XRef, CrossReferenceStreams) {
  const auto objects = OnePage().objects;
  for (const bool useIndex : {false, true}) {
    TLoaded loaded(XRefStreamFile("%PDF-1.5\n", objects, 2, "", useIndex));
    loaded.Load();
    EXPECT_FALSE(loaded.file.Damaged()) << loaded.file.DamageReason();
    EXPECT_TRUE(loaded.file.UsesXRefStreams());
    EXPECT_EQ(loaded.file.ObjectList().size(), 5u);  // with the stream itself
    EXPECT_EQ(GetNameEntry(loaded.Dict(1), "Type", "", false), "Catalog");
    EXPECT_EQ(GetNameEntry(loaded.file.Trailer(), "Type", "", false), "XRef");
  }
  // Field widths above 4 bytes carry 64-bit offsets; above 8 they are refused.
  TLoaded wide(XRefStreamFile("%PDF-1.5\n", objects, 5, "", false));
  wide.Load();
  EXPECT_FALSE(wide.file.Damaged()) << wide.file.DamageReason();
  TLoaded tooWide(XRefStreamFile("%PDF-1.5\n", objects, 9, "", false));
  tooWide.Load();
  EXPECT_TRUE(tooWide.file.Damaged());
  EXPECT_EQ(tooWide.file.DamageReason(),
            "Invalid cross-reference stream: Unsupported field size: 9");
}

TEST(XRef, MalformedCrossReferenceStreamsAreDamage) {
  const auto objects = OnePage().objects;
  struct TCase {
    std::string extra;
    std::string reason;
  };
  const std::string base = XRefStreamFile("%PDF-1.5\n", objects, 2, "", false);
  auto variant = [&](const std::string& from, const std::string& to) {
    std::string text = base;
    text.replace(text.find(from), from.size(), to);
    TLoaded loaded(text);
    loaded.Load();
    EXPECT_TRUE(loaded.file.Damaged()) << to;
    return loaded.file.DamageReason();
  };
  EXPECT_EQ(variant("/W [1 2 1]", "/W [0 0 0]"),
            "Invalid cross-reference stream: Invalid W entry in a cross-reference stream");
  EXPECT_EQ(variant("/W [1 2 1]", "/W [1 2]"),
            "Invalid cross-reference stream: Invalid W entry in a cross-reference stream");
  EXPECT_EQ(variant("/W [1 2 1]", "/W [1 2 1] /Index [0 99999999]"),
            "Invalid cross-reference stream: Invalid cross-reference stream data");
  EXPECT_EQ(variant("/W [1 2 1]", "/W [1 2 1] /Index [0]"),
            "Invalid cross-reference stream: Invalid index");
  EXPECT_EQ(variant("/W [1 2 1]", "/W [1 2 1] /Index [2147483647 5]"),
            "Invalid cross-reference stream: Invalid index");
  EXPECT_EQ(variant("/Filter /FlateDecode", "/Filter /LZWDecode"), "Unsupported encoding filter");
  EXPECT_EQ(variant("/Filter /FlateDecode", "/Filter [/LZWDecode]"), "Unsupported encoding filter");
  EXPECT_EQ(variant("/Filter /FlateDecode", "/Filter [/ASCIIHexDecode /FlateDecode]"),
            "Unsupported encoding filter");
  const std::string broken =
      variant("/Filter /FlateDecode", "/Filter /FlateDecode /DecodeParms << /Predictor 2 >>");
  EXPECT_EQ(broken, "Unsupported predictor algorithm: 2");
}

TEST(XRef, CorruptDeflateInAStreamIsDecompressionError) {
  std::string text = XRefStreamFile("%PDF-1.5\n", OnePage().objects, 2, "", false);
  const size_t data = text.find("stream\n", text.find("/Type /XRef")) + 7;
  text[data + 2] = static_cast<char>(0xFF);
  text[data + 3] = static_cast<char>(0xFF);
  text[data + 4] = static_cast<char>(0xFF);
  TLoaded loaded(text);
  loaded.Load();
  EXPECT_TRUE(loaded.file.Damaged());
  EXPECT_EQ(loaded.file.DamageReason().rfind(
                "Decompression error: Decompression failed, inflate returned [", 0),
            0u)
      << loaded.file.DamageReason();
}

namespace {

// Objects 2 and 3 live in object stream 5 (its /Filter an array, its /First
// the text given), listed by the cross-reference stream 6.
std::string ObjectStreamFile(const std::string& first, const std::string& extraTrailer) {
  const std::string members =
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>\n<< /Type /Page /Parent 2 0 R >>";
  const std::string header = "2 0 3 " + std::to_string(members.find("\n<<") + 1) + " ";
  const std::string content = header + members;
  const std::string packed = ZlibCompress(content);
  std::string out = "%PDF-1.5\n";
  const long long o1 = static_cast<long long>(out.size());
  out += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
  const long long o5 = static_cast<long long>(out.size());
  out += "5 0 obj\n<< /Type /ObjStm /N 2 /First " +
         (first.empty() ? std::to_string(header.size()) : first) +
         " /Filter [/FlateDecode] /Length " + std::to_string(packed.size()) + " >>\nstream\n" +
         packed + "\nendstream\nendobj\n";
  const long long o6 = static_cast<long long>(out.size());
  std::string records;
  auto rec = [&](int type, long long a, int b) {
    records += static_cast<char>(type);
    records += static_cast<char>((a >> 16) & 0xFF);
    records += static_cast<char>((a >> 8) & 0xFF);
    records += static_cast<char>(a & 0xFF);
    records += static_cast<char>(b);
  };
  rec(0, 0, 255);
  rec(1, o1, 0);
  rec(2, 5, 0);
  rec(2, 5, 1);
  rec(0, 0, 0);
  rec(1, o5, 0);
  rec(1, o6, 0);
  return out + "6 0 obj\n<< /Type /XRef /Size 7 /W [1 3 1] /Root 1 0 R /Length " +
         std::to_string(records.size()) + extraTrailer + " >>\nstream\n" + records +
         "\nendstream\nendobj\nstartxref\n" + std::to_string(o6) + "\n%%EOF\n";
}

}  // namespace

TEST(XRef, ObjectStreamsLoadLazilyAndWaitForDecryption) {
  for (const std::string& extra :
       {std::string(""), std::string(" /Encrypt << /Filter /Standard >>")}) {
    const std::string text = ObjectStreamFile("", extra);
    TLoaded loaded(text);
    loaded.Load();
    EXPECT_FALSE(loaded.file.Damaged()) << loaded.file.DamageReason();
    EXPECT_TRUE(loaded.file.HasCompressedObjects());
    if (extra.empty()) {
      EXPECT_EQ(loaded.file.ObjectList().size(), 5u);
      // A look at a member decodes its stream for good and keeps nothing
      // of the member; loading one member makes no other.
      std::string type;
      const auto look = [&](TOvPDFIndirect* object) {
        type = GetNameEntry(dynamic_cast<TOvPDFDictionary*>(object->Value), "Type", "", true);
      };
      EXPECT_TRUE(loaded.file.PeekObject(2, 0, {}));  // decodes the stream
      const size_t before = loaded.file.RegistrySize();
      EXPECT_TRUE(loaded.file.PeekObject(3, 0, look));
      EXPECT_EQ(type, "Page");
      EXPECT_EQ(loaded.file.RegistrySize(), before);
      TOvPDFDictionary* page = loaded.Dict(3);
      ASSERT_NE(page, nullptr);
      const size_t withPage = loaded.file.RegistrySize();
      auto* container = dynamic_cast<TOvPDFStream*>(loaded.file.FindCanonical(5, 0)->Target->Value);
      EXPECT_FALSE(container->ObjectStream.Content.empty());
      ASSERT_NE(loaded.Dict(2), nullptr);
      EXPECT_GT(loaded.file.RegistrySize(), withPage);
      EXPECT_TRUE(container->ObjectStream.Content.empty());  // every member made: let go
      TOvPDFIndirect* holder = loaded.file.FindCanonical(3, 0)->Resolve();
      EXPECT_TRUE(holder->InObjectStream);
      EXPECT_EQ(holder->ContainerNumber, 5);
      EXPECT_EQ(holder->ContainerIndex, 1);
      // Like an object read from the file, a member keeps no text until written.
      EXPECT_TRUE(holder->Data.empty());
      EXPECT_TRUE(page->Data.empty());
      EXPECT_EQ(Written(holder, false), "3 0 obj\n<< /Type /Page /Parent 2 0 R >>\nendobj\n");
    } else {
      EXPECT_EQ(loaded.file.ObjectList().size(), 3u);
      EXPECT_EQ(loaded.file.FindCanonical(3, 0), nullptr);
      loaded.file.AddCompressedObjects();
      EXPECT_EQ(loaded.file.ObjectList().size(), 5u);
    }
  }
}

TEST(XRef, HostileStructuresEndInErrorsNotHangs) {
  // An object stream that needs one of its own members to be read: the
  // member reads as null, so the stream lacks its /First.
  TLoaded self(ObjectStreamFile("3 0 R", ""));
  self.Load();
  EXPECT_THROW(self.file.FindCanonical(2, 0)->Resolve(), EOvPDFSilentError);
  const auto& warnings = self.file.Warnings();
  EXPECT_TRUE(std::any_of(warnings.begin(), warnings.end(), [](const TOvPDFWarning& w) {
    return w.Text.find("is needed while that stream is being read") != std::string::npos;
  }));
  // A stream whose /Length names itself.
  TFixture f = OnePage();
  f.objects[3].second = "<< /Length 4 0 R >>\nstream\nabc\nendstream";
  TLoaded cycle(f.Build());
  cycle.Load();
  auto* stream = dynamic_cast<TOvPDFStream*>(cycle.file.FindCanonical(4, 0)->Resolve()->Value);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->GetRawData(), "abc\n");
  // Object number 2^31 in a table.
  std::string big = OnePage().Build();
  big.replace(big.find("xref\n0 5"), 8, "xref\n2147483647 5");
  TLoaded huge(big);
  huge.Load();
  EXPECT_TRUE(huge.file.Damaged());
  EXPECT_EQ(huge.file.ObjectList().size(), 4u);
  // Deeply nested object in a file.
  TFixture deep = OnePage();
  deep.Add(5, std::string(3000, '[') + std::string(3000, ']'));
  TLoaded nested(deep.Build());
  nested.Load();
  EXPECT_THROW(nested.file.FindCanonical(5, 0)->Resolve(), EOvPDFParseError);
}

TEST(XRef, HybridFilesFollowXRefStm) {
  TLoaded loaded(HybridFile());
  loaded.Load();
  EXPECT_FALSE(loaded.file.Damaged()) << loaded.file.DamageReason();
  EXPECT_FALSE(loaded.file.UsesXRefStreams());
  ASSERT_NE(loaded.file.FindCanonical(5, 0), nullptr);
  auto* hidden = dynamic_cast<TOvPDFString*>(loaded.file.FindCanonical(5, 0)->Resolve()->Value);
  ASSERT_NE(hidden, nullptr);
  EXPECT_EQ(hidden->GetText(), "hidden");
  EXPECT_EQ(loaded.file.XRefStreamObject(), nullptr);  // the stream itself has no entry
}

TEST(XRef, QpdfVariantsAgreeWithQpdf) {
  TAVRA_REQUIRE_TOOL("qpdf");
  ScratchDir dir;
  // A few pages so that the variants differ.
  const std::string base = QpdfVariant(dir, OnePage().Build(), "--pages . . . --", "three");
  ASSERT_FALSE(base.empty());
  for (const char* options : {"", "--object-streams=generate", "--qdf", "--linearize",
                              "--object-streams=generate --linearize"}) {
    const std::string variant = QpdfVariant(dir, base, options, "variant");
    ASSERT_FALSE(variant.empty()) << options;
    TLoaded loaded(variant);
    loaded.Load();
    EXPECT_FALSE(loaded.file.Damaged()) << options << ": " << loaded.file.DamageReason();
    EXPECT_EQ(static_cast<int>(loaded.file.ObjectList().size()), QpdfObjectCount(dir, variant))
        << options;
  }
}

TEST(XRef, IndirectLengthLeavesTheCachedObjectIntact) {
  for (const bool lengthFirst : {true, false}) {
    TFixture f = OnePage();
    f.objects[3].second = "<< /Length 5 0 R >>\nstream\nabcdef\nendstream";
    f.Add(5, "6");
    TLoaded loaded(f.Build());
    loaded.Load();
    TOvPDFIndirect* length = nullptr;
    if (lengthFirst) length = loaded.file.FindCanonical(5, 0)->Resolve();
    auto* stream = dynamic_cast<TOvPDFStream*>(loaded.file.FindCanonical(4, 0)->Resolve()->Value);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->GetRawData(), "abcdef");
    if (!lengthFirst) length = loaded.file.FindCanonical(5, 0)->Resolve();
    ASSERT_NE(length, nullptr);
    auto* value = dynamic_cast<TOvPDFReal*>(length->Value);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->AsInt(), 6);
  }
}

// --- bad input: each case ends in a clear error or a rebuilt file ------------------------

namespace {

// Loads bytes and, when that works, resolves every listed object; a failure
// must be one of the toolkit's PDF errors.
void LoadAndResolveOrFailCleanly(const std::string& bytes, const std::string& what) {
  TLoaded loaded(bytes);
  try {
    loaded.Load();
  } catch (const EOvPDFError&) {
    return;
  }
  for (size_t i = 0; i < loaded.file.ObjectList().size(); ++i) {
    try {
      loaded.file.ObjectList()[i]->Resolve();
    } catch (const EOvPDFError&) {
    }
  }
  SUCCEED() << what;
}

// An object stream (object 5) holding the page tree and page, listed in a
// cross-reference stream (object 6). firstMember numbers the first member;
// page is the text of the second; offsets, when given, replaces where the
// stream says its members are.
std::string ObjectStreamFile(int firstMember, bool streamEntryCompressed,
                             const std::string& page = "<< /Type /Page /Parent 2 0 R >>",
                             const std::string& offsets = "") {
  const std::string members = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>\n" + page;
  const std::string header = offsets.empty() ? std::to_string(firstMember) + " 0 3 " +
                                                   std::to_string(members.find("\n<<") + 1) + " "
                                             : offsets;
  const std::string packed = ZlibCompress(header + members);
  std::string out = "%PDF-1.5\n";
  const long long o1 = static_cast<long long>(out.size());
  out += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
  const long long o5 = static_cast<long long>(out.size());
  out += "5 0 obj\n<< /Type /ObjStm /N 2 /First " + std::to_string(header.size()) +
         " /Filter /FlateDecode /Length " + std::to_string(packed.size()) + " >>\nstream\n" +
         packed + "\nendstream\nendobj\n";
  const long long o6 = static_cast<long long>(out.size());
  std::string records;
  auto rec = [&](int type, long long a, int b) {
    records += static_cast<char>(type);
    records += static_cast<char>((a >> 16) & 0xFF);
    records += static_cast<char>((a >> 8) & 0xFF);
    records += static_cast<char>(a & 0xFF);
    records += static_cast<char>(b);
  };
  rec(0, 0, 255);
  rec(1, o1, 0);
  rec(2, 5, 0);
  rec(2, 5, 1);
  rec(0, 0, 0);
  if (streamEntryCompressed) {
    rec(2, 5, 0);  // the object stream names itself as its container
  } else {
    rec(1, o5, 0);
  }
  rec(1, o6, 0);
  return out + "6 0 obj\n<< /Type /XRef /Size 7 /W [1 3 1] /Root 1 0 R /Length " +
         std::to_string(records.size()) + " >>\nstream\n" + records +
         "\nendstream\nendobj\nstartxref\n" + std::to_string(o6) + "\n%%EOF\n";
}

}  // namespace

TEST(XRefBadInput, EveryTruncationFailsCleanlyOrLoads) {
  const std::vector<std::string> files = {
      OnePage().Build(), AppendUpdate(OnePage().Build(), {{5, "(x)"}}, 6),
      XRefStreamFile("%PDF-1.5\n", OnePage().objects, 2, "", false), HybridFile(),
      ObjectStreamFile(2, false)};
  for (const std::string& file : files) {
    for (size_t cut = 0; cut < file.size(); ++cut) {
      LoadAndResolveOrFailCleanly(file.substr(0, cut), std::to_string(cut));
    }
  }
  // Cut right after "%%EOF" of the first revision: the update is gone, the file still reads.
  const std::string updated = AppendUpdate(OnePage().Build(), {{5, "(x)"}}, 6);
  TLoaded first(updated.substr(0, OnePage().Build().size()));
  first.Load();
  EXPECT_FALSE(first.file.Damaged());
  EXPECT_EQ(first.file.ObjectList().size(), 4u);
  // Cut in the middle of a body: no "%%EOF" is left, the objects before the
  // cut are found by scanning.
  TLoaded half(updated.substr(0, updated.size() / 2));
  half.Load();
  EXPECT_TRUE(half.file.Damaged());
  EXPECT_EQ(GetNameEntry(half.Dict(1), "Type", "", false), "Catalog");
}

TEST(XRefBadInput, StartXRefPastTheEndRebuilds) {
  std::string text = OnePage().Build();
  const size_t sx = text.rfind("startxref\n") + 10;
  text.replace(sx, text.find('\n', sx) - sx, "987654321987");
  TLoaded loaded(text);
  loaded.Load();
  EXPECT_TRUE(loaded.file.Damaged());
  EXPECT_EQ(loaded.file.ObjectList().size(), 4u);
  EXPECT_EQ(GetNameEntry(loaded.Dict(3), "Type", "", false), "Page");
  // /Prev past the end as well.
  std::string prev = AppendUpdate(OnePage().Build(), {{5, "1"}}, 6);
  const size_t at = prev.rfind("/Prev ") + 6;
  prev.replace(at, prev.find(' ', at) - at, "99999999999");
  TLoaded second(prev);
  second.Load();
  EXPECT_TRUE(second.file.Damaged());
  EXPECT_EQ(second.file.ObjectList().size(), 5u);
  // A negative /Prev cannot be followed either; /Prev 0 means there is none.
  for (const char* value : {"-1", "0"}) {
    std::string text2 = AppendUpdate(OnePage().Build(), {{5, "1"}}, 6);
    const size_t p2 = text2.rfind("/Prev ") + 6;
    text2.replace(p2, text2.find(' ', p2) - p2, value);
    TLoaded third(text2);
    third.Load();
    EXPECT_EQ(third.file.Damaged(), value[0] == '-') << value;
    EXPECT_EQ(third.file.ObjectList().size(), value[0] == '-' ? 5u : 1u) << value;
  }
}

TEST(XRefBadInput, ObjectStreamThatContainsItself) {
  // The cross-reference stream says object stream 5 lies inside object stream 5.
  {
    TLoaded loaded(ObjectStreamFile(2, true));
    loaded.Load();
    EXPECT_TRUE(loaded.file.Damaged());
    // The rebuild finds the stream where it stands and reads its members.
    EXPECT_EQ(GetNameEntry(loaded.Dict(3), "Type", "", false), "Page");
  }
  // The object stream lists itself as its first member: that member is
  // ignored, the stream and its other member stay readable.
  {
    std::string text = ObjectStreamFile(5, false);
    text.replace(text.rfind("startxref\n") + 10, 1, "x");  // force the rebuild scan
    TLoaded loaded(text);
    loaded.Load();
    EXPECT_TRUE(loaded.file.Damaged());
    TOvPDFRef* ref = loaded.file.FindCanonical(5, 0);
    ASSERT_NE(ref, nullptr);
    TOvPDFIndirect* stream = ref->Resolve();
    ASSERT_NE(stream, nullptr);
    EXPECT_NE(dynamic_cast<TOvPDFStream*>(stream->Value), nullptr);
    EXPECT_EQ(GetNameEntry(loaded.Dict(3), "Type", "", false), "Page");
  }
  // Without the rebuild the member named like its container resolves to nothing.
  {
    TLoaded loaded(ObjectStreamFile(5, false));
    loaded.Load();
    TOvPDFIndirect* stream = loaded.file.FindCanonical(5, 0)->Resolve();
    ASSERT_NE(stream, nullptr);
    EXPECT_NE(dynamic_cast<TOvPDFStream*>(stream->Value), nullptr);
  }
}

TEST(XRefBadInput, ABrokenObjectStreamMemberTakesOnlyItself) {
  TLoaded loaded(ObjectStreamFile(2, false, "<< (not a key) 1 >>"));
  loaded.Load();
  EXPECT_FALSE(loaded.file.Damaged()) << loaded.file.DamageReason();
  ASSERT_NE(loaded.Dict(2), nullptr);
  EXPECT_EQ(GetIntEntry(loaded.Dict(2), "Count", 0, true), 1);
  EXPECT_THROW(loaded.Dict(3), EOvPDFParseError);
}

// Each member is read from its own bytes only, so that members pointing into
// one long object cost no more than the content holds.
TEST(XRefBadInput, ObjectStreamMembersDoNotShareBytes) {
  // Member 3 at member 2's offset reads as null, with a warning.
  TLoaded shared(ObjectStreamFile(2, false, "<< /Type /Page >>", "2 0 3 0 "));
  shared.Load();
  EXPECT_EQ(GetIntEntry(shared.Dict(2), "Count", 0, true), 1);
  EXPECT_EQ(shared.Dict(3), nullptr);
  ASSERT_EQ(shared.file.Warnings().size(), 1u);
  EXPECT_EQ(shared.file.Warnings()[0].Text,
            "object 3 0 in object stream 5 lies where another member does; read as null");
  // Member 3 inside member 2 ends member 2 there.
  TLoaded inside(ObjectStreamFile(2, false, "<< /Type /Page >>", "2 0 3 37 "));
  inside.Load();
  ASSERT_NE(inside.Dict(2), nullptr);
  EXPECT_EQ(GetEntry(inside.Dict(2), "Count"), nullptr);
  EXPECT_EQ(dynamic_cast<TOvPDFReal*>(inside.file.FindCanonical(3, 0)->Resolve()->Value)->AsInt(),
            1);
}

TEST(XRefBadInput, ObjectNumbersPastTwoToThe31AreNeverWrapped) {
  // A definition found by the rebuild scan.
  TFixture f = OnePage();
  f.Add(5, "(five)");
  std::string text = f.Build();
  text.replace(text.find("5 0 obj"), 7, "2147483648 0 obj");
  text.replace(text.rfind("startxref\n") + 10, 1, "x");
  TLoaded loaded(text);
  loaded.Load();
  EXPECT_TRUE(loaded.file.Damaged());
  EXPECT_EQ(loaded.file.ObjectList().size(), 4u);
  for (TOvPDFRef* ref : loaded.file.ObjectList()) EXPECT_GE(ref->Number, 0);
  // A reference to it, and the largest number that is allowed.
  TParsed p;
  EXPECT_THROW(p.Parse("<< /A 2147483648 0 R >>"), EOvPDFParseError);
  auto* dict = dynamic_cast<TOvPDFDictionary*>(p.Parse("<< /A 2147483647 0 R >>"));
  ASSERT_NE(dict, nullptr);
  EXPECT_EQ(dynamic_cast<TOvPDFRef*>(GetEntry(dict, "A"))->Number, 2147483647);
  // A cross-reference stream subsection that would run past it.
  TLoaded stream(
      XRefStreamFile("%PDF-1.5\n", OnePage().objects, 2, " /Index [2147483646 6]", false));
  stream.Load();
  EXPECT_TRUE(stream.file.Damaged());
}

TEST(XRefBadInput, DecodedStreamsShareOneBudgetPerFile) {
  // Each object stream is small, but a file may hold thousands of them and
  // their decoded content stays cached: the file's budget bounds the sum.
  TLoaded loaded(ObjectStreamFile(2, false));
  loaded.Load();
  const int64_t before = loaded.file.InflateBudget();
  EXPECT_EQ(before, PDF_MAX_INFLATE_TOTAL);
  loaded.file.SetInflateBudget(20);
  try {
    loaded.file.FindCanonical(3, 0)->Resolve();
    ADD_FAILURE() << "no error";
  } catch (const EOvPDFError& e) {
    EXPECT_STREQ(e.what(), "Decompression error");
  }
  TLoaded again(ObjectStreamFile(2, false));
  again.Load();
  ASSERT_NE(again.Dict(3), nullptr);
  EXPECT_LT(again.file.InflateBudget(), before);
  EXPECT_GT(again.file.InflateBudget(), before - 200);
}
