// The object model: values decoded from and encoded to their text, container
// rebuild with offsets, cloning and stream data.
#include <clocale>
#include <locale>

#include "tests/pdf/PdfTestUtil.h"

using namespace corvane;
using pdftest::TParsed;
using pdftest::Written;

namespace {

// A C++ locale with a decimal comma; it is always available, unlike the C
// locales below, which a minimal system may not have generated.
struct TCommaPunct : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
};

// Switches the C library and the C++ global locale to a decimal comma for the
// life of the object and puts both back after.
class TCommaLocale {
 public:
  TCommaLocale()
      : saved_c_(CurrentNumeric()),
        saved_global_(std::locale::global(std::locale(std::locale::classic(), new TCommaPunct))) {
    for (const char* name : {"cs_CZ.UTF-8", "cs_CZ.utf8", "de_DE.UTF-8", "fr_FR.UTF-8"}) {
      if (std::setlocale(LC_NUMERIC, name) != nullptr) break;
    }
  }
  ~TCommaLocale() {
    std::setlocale(LC_NUMERIC, saved_c_.c_str());
    std::locale::global(saved_global_);
  }
  TCommaLocale(const TCommaLocale&) = delete;
  TCommaLocale& operator=(const TCommaLocale&) = delete;

  // The C library now writes numbers with a decimal comma.
  static bool Active() { return std::string(std::localeconv()->decimal_point) == ","; }

 private:
  static std::string CurrentNumeric() {
    const char* current = std::setlocale(LC_NUMERIC, nullptr);
    return current != nullptr ? current : "C";
  }
  std::string saved_c_;
  std::locale saved_global_;
};

TOvPDFString* StringFrom(TOvPDFFile& file, const std::string& text) {
  auto* s = file.NewObject<TOvPDFString>();
  s->SetData(text);
  return s;
}

}  // namespace

TEST(PdfString, LiteralEscapesAndBalancedParentheses) {
  TOvPDFFile file;
  EXPECT_EQ(StringFrom(file, "(a(b)c)")->GetText(), "a(b)c");
  EXPECT_EQ(StringFrom(file, "(a\\)b)")->GetText(), "a)b");
  EXPECT_EQ(StringFrom(file, "(x\\101y)")->GetText(), "xAy");
  EXPECT_EQ(StringFrom(file, "(\\b\\f\\n\\r\\t\\\\\\(\\q)")->GetText(), "\b\f\n\r\t\\(q");
  EXPECT_EQ(StringFrom(file, "(a\\\r\nb\\\nc)")->GetText(), "abc");
  EXPECT_EQ(StringFrom(file, "(\\0053)")->GetText(),
            "\x05"
            "3");
  EXPECT_EQ(StringFrom(file, "(\\777)")->GetText(), "\xFF");  // modulo 256
}

TEST(PdfString, UnclosedOrTruncatedLiteralIsInvalid) {
  TOvPDFFile file;
  auto* s = StringFrom(file, "(ab");
  EXPECT_TRUE(s->Invalid);
  EXPECT_EQ(s->GetText(), "");
  EXPECT_TRUE(StringFrom(file, "(ab\\")->Invalid);
  EXPECT_TRUE(StringFrom(file, "x")->Invalid);
  EXPECT_FALSE(StringFrom(file, "()")->Invalid);
}

TEST(PdfString, HexDigitsOddDigitAndKind) {
  TOvPDFFile file;
  auto* s = StringFrom(file, "<4>");
  EXPECT_EQ(s->GetText(), std::string(1, '\x40'));
  EXPECT_EQ(s->Kind, 1);
  EXPECT_EQ(StringFrom(file, "<4142>")->GetText(), "AB");
  EXPECT_EQ(StringFrom(file, "<6c6C>")->GetText(), "ll");
  EXPECT_EQ(StringFrom(file, "<>")->GetText(), "");
  EXPECT_TRUE(StringFrom(file, "<41")->Invalid);
  s->Kind = 1;
  s->SetText("AB");
  EXPECT_EQ(s->Data, "<4142>");
}

TEST(PdfString, EncodingByKind) {
  TOvPDFFile file;
  auto* s = file.NewString("", 2);
  s->SetText("\x07\xE9()\\\n");
  EXPECT_EQ(s->Data, "(\\007\\351\\(\\)\\\\\\n)");
  s->Kind = 0;
  s->SetText("\x07\xE9");
  EXPECT_EQ(s->Data, "(\x07\xE9)");
  // Whatever the kind, the text decodes back to the bytes.
  const std::string all = [] {
    std::string b;
    for (int i = 0; i < 256; ++i) b += static_cast<char>(i);
    return b;
  }();
  for (uint8_t kind : {0, 1, 2}) {
    s->Kind = kind;
    s->SetText(all);
    EXPECT_EQ(s->GetText(), all) << "kind " << int(kind);
  }
}

TEST(PdfName, EncodeAndDecode) {
  TOvPDFFile file;
  TOvPDFName* n = file.NewName("A #");
  EXPECT_EQ(n->Data, "/A#20#23");
  EXPECT_EQ(n->GetName(), "A #");
  n->SetData("/A#42");
  EXPECT_EQ(n->GetName(), "AB");
  n->SetData("/A#2");
  EXPECT_TRUE(n->Invalid);
  EXPECT_EQ(n->GetName(), "");
  n->SetData("/A#4G");
  EXPECT_EQ(n->GetName(), "");
  n->SetData("/");
  EXPECT_TRUE(n->Invalid);
  n->SetName("\xC3\xA9/[x]");
  EXPECT_EQ(n->Data, "/\xC3\xA9#2F#5Bx#5D");
}

TEST(PdfReal, FormattingIsFixedAndLocaleFree) {
  // A locale with a decimal comma must not leak into PDF numbers.
  const TCommaLocale comma;
  ASSERT_TRUE(TCommaLocale::Active())
      << "no C locale with a decimal comma is installed (scripts/setup generates cs_CZ.UTF-8)";
  TOvPDFFile file;
  auto* r = file.NewObject<TOvPDFReal>();
  r->SetValue(0.5);
  EXPECT_EQ(r->Data, "0.5");
  r->SetInt(10);
  EXPECT_EQ(r->Data, "10");
  r->SetValue(-12.25);
  EXPECT_EQ(r->Data, "-12.25");
  r->SetValue(1e20);
  EXPECT_EQ(r->Data, "100000000000000000000");
  r->SetValue(1.5e-7);
  EXPECT_EQ(r->Data, "0.00000015");
  r->SetValue(0.1 + 0.2);
  EXPECT_EQ(r->Data, "0.3");
  r->SetValue(123456789012345.0);
  EXPECT_EQ(r->Data, "123456789012345");
  r->SetData("3,5");
  EXPECT_TRUE(r->Invalid);
  r->SetData("+.5");
  EXPECT_FALSE(r->Invalid);
  EXPECT_DOUBLE_EQ(r->GetValue(), 0.5);
}

TEST(PdfReal, RoundingAndRanges) {
  TOvPDFFile file;
  auto* r = file.NewObject<TOvPDFReal>();
  r->SetData("2.5");
  EXPECT_EQ(r->AsInt(), 3);
  r->SetData("-2.5");
  EXPECT_EQ(r->AsInt(), -2);
  r->SetData("-2.6");
  EXPECT_EQ(r->AsInt(), -3);
  r->SetData("1.2.3");
  EXPECT_TRUE(r->Invalid);
  EXPECT_EQ(r->AsInt(), 0);
  r->SetData("2147483647");
  EXPECT_TRUE(r->IsInteger());
  r->SetData("2147483648");
  EXPECT_FALSE(r->IsInteger());
  EXPECT_THROW(r->AsInt(), EOvPDFParseError);  // never wraps
  EXPECT_EQ(r->AsInt64(), 2147483648LL);
  r->SetData("1e30");
  EXPECT_THROW(r->AsInt64(), EOvPDFParseError);
  r->SetData("9223372036854775807");
  EXPECT_EQ(r->AsInt64(), INT64_MAX);
}

TEST(PdfContainer, NewContainersUseTheLineEnd) {
  TOvPDFFile file;
  file.SetLineEnd("\r\n");
  TOvPDFDictionary* empty = file.NewDictionary();
  empty->SetModified(true);
  EXPECT_EQ(empty->Data, "<<\r\n>>");
  TOvPDFArray* array = file.NewArray();
  AppendInt(array, 1);
  AppendInt(array, 2);
  EXPECT_EQ(array->Data, "[\r\n1\r\n2\r\n]");
  TOvPDFDictionary* sig = file.NewDictionary();
  AddNameEntry(sig, "Type", "Sig");
  AddIntEntry(sig, "V", 1);
  sig->SetModified(true);
  EXPECT_EQ(sig->Data, "<<\r\n/Type /Sig\r\n/V 1\r\n>>");
}

TEST(PdfContainer, ItemOffsetsSumToAbsolutePositions) {
  TOvPDFFile file;
  TOvPDFDictionary* dict = file.NewDictionary();
  AddNameEntry(dict, "Type", "Sig");
  TOvPDFArray* range = AddRectEntry(dict, "ByteRange", 0, 10, 20, 30);
  TOvPDFString* contents = AddStringEntry(dict, "Contents", std::string(4, '\0'), 1);
  dict->SetModified(true);
  TOvPDFIndirect* indirect = file.NewIndirect(5, 0, dict);
  EXPECT_EQ(dict->WriteOffset(), 7 + static_cast<int64_t>(indirect->OpenSpace.size()));
  TOvMemoryStream out;
  out.Write(std::string_view("some earlier bytes\n"));
  indirect->WriteTo(out, true);
  EXPECT_EQ(indirect->WriteOffset(), 19);
  const std::string& text = out.Data();
  EXPECT_EQ(text.compare(static_cast<size_t>(AbsoluteWriteOffset(contents)), 10, "<00000000>"), 0);
  EXPECT_EQ(text.compare(static_cast<size_t>(AbsoluteWriteOffset(range)), 1, "["), 0);
  EXPECT_EQ(text.substr(19, 8), "5 0 obj\n");
  EXPECT_EQ(text.substr(text.size() - 7), "endobj\n");
}

// Parsed values inside an object record no place (a large document holds a
// million); the indirect object and anything made new do, and an absolute
// offset is refused rather than wrong for a value that has none.
TEST(PdfContainer, OnlyIndirectAndNewObjectsRecordWherePlaced) {
  TParsed p;
  TOvPDFIndirect* page = p.ParseIndirect("3 0 obj\n<< /Box [0 0 612 792] >>\nendobj\n");
  ASSERT_NE(page, nullptr);
  auto* dict = dynamic_cast<TOvPDFDictionary*>(page->Value);
  ASSERT_NE(dict, nullptr);
  TOvPDFString* added = AddStringEntry(dict, "Contents", "x", 1);
  dict->SetModified(true);
  TOvMemoryStream out;
  out.Write(std::string_view("%"));
  page->WriteTo(out, true);
  EXPECT_EQ(page->WriteOffset(), 1);
  EXPECT_EQ(page->WriteLength(), static_cast<int64_t>(out.Size()) - 2);
  TOvPDFObject* box = GetEntry(dict, "Box");
  EXPECT_FALSE(box->KeepsWritePosition());
  EXPECT_EQ(box->WriteLength(), 0);
  EXPECT_TRUE(added->KeepsWritePosition());
  EXPECT_EQ(added->WriteLength(), 4);                         // <78>
  EXPECT_THROW(AbsoluteWriteOffset(added), EOvPDFTypeError);  // its dictionary was parsed
  EXPECT_THROW(AbsoluteWriteOffset(box), EOvPDFTypeError);
}

// The parent chain is what absolute write offsets are summed along: every
// way into a container links the item to it, every way out unlinks it.
TEST(PdfContainer, ItemsAreLinkedToTheContainerThatHoldsThem) {
  TOvPDFFile file;
  TOvPDFArray* array = file.NewArray();
  TOvPDFReal* a = file.NewInt(1);
  TOvPDFReal* b = file.NewInt(2);
  array->AddItems({a, b});
  EXPECT_EQ(a->Parent(), array);
  EXPECT_EQ(b->Parent(), array);
  TOvPDFArray* oneByOne = file.NewArray();
  AppendInt(oneByOne, 1);
  AppendInt(oneByOne, 2);
  EXPECT_EQ(Written(array), Written(oneByOne));
  TOvPDFReal* c = file.NewInt(3);
  array->SetItem(c, 0);
  EXPECT_EQ(a->Parent(), nullptr);
  EXPECT_EQ(c->Parent(), array);
  array->RemoveItemAt(1);
  EXPECT_EQ(b->Parent(), nullptr);
  EXPECT_EQ(array->ItemCount(), 1u);

  TOvPDFDictionary* dict = file.NewDictionary();
  SetEntry(dict, "K", a);
  SetEntry(dict, "K", b);
  EXPECT_EQ(a->Parent(), nullptr);
  EXPECT_EQ(b->Parent(), dict);
  auto* copy = dynamic_cast<TOvPDFDictionary*>(dict->Clone());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(GetEntry(copy, "K")->Parent(), copy);
  TOvPDFIndirect* holder = file.NewIndirect(5, 0, dict);
  EXPECT_EQ(dict->Parent(), holder);
}

TEST(PdfContainer, RemovedItemIsDetached) {
  TOvPDFFile file;
  TOvPDFDictionary* dict = file.NewDictionary();
  dict->SetModified(true);
  TOvPDFName* name = AddNameEntry(dict, "A", "x");
  AddIntEntry(dict, "B", 2);
  EXPECT_EQ(name->Parent(), dict);
  RemoveEntry(dict, "A");
  EXPECT_EQ(name->Parent(), nullptr);
  EXPECT_EQ(dict->ItemCount(), 1u);
  EXPECT_EQ(GetIntEntry(dict, "B", 0, false), 2);
  EXPECT_THROW(GetIntEntry(dict, "A", 0, true), EOvPDFSilentError);
  SetIntEntry(dict, "B", 7, true);
  EXPECT_EQ(dict->ItemCount(), 1u);
  EXPECT_EQ(GetIntEntry(dict, "B", 0, false), 7);
}

// Whitespace fields assign from and read as strings; short runs are shared,
// other text is owned by each copy.
TEST(PdfSpace, ReadsAndAssignsAsAString) {
  TCvPDFSpace a;
  EXPECT_TRUE(a.empty());
  a = "\r\n";
  TCvPDFSpace b = std::string("\r\n");
  EXPECT_EQ(&a.str(), &b.str());  // one shared text
  const std::string joined = "<<" + a + ">>";
  EXPECT_EQ(joined, "<<\r\n>>");
  a.assign(10, ' ');
  EXPECT_EQ(a.size(), 10u);
  TCvPDFSpace c = a;
  c += "%x\n";
  EXPECT_EQ(a, std::string(10, ' '));  // the copy changed alone
  EXPECT_EQ(std::string_view(c), std::string(10, ' ') + "%x\n");
  a = std::move(c);
  EXPECT_TRUE(c.empty());
  EXPECT_EQ(a.back(), '\n');
  a.clear();
  EXPECT_EQ(a, "");
}

// Keys of every kind (held in place, shared, of their own, with a zero byte)
// read, compare, copy and write back as they were.
TEST(PdfKey, EveryKindOfKeyKeepsItsText) {
  const std::string source =
      "<< /Type /Page /MediaBox [] /SevenCh 1 /EightChr 2 /A#00B 3 "
      "/AVeryLongPrivateKeyOfSomeApplication 4 >>";
  TParsed p;
  auto* dict = dynamic_cast<TOvPDFDictionary*>(p.Parse(source));
  ASSERT_NE(dict, nullptr);
  const std::vector<std::string> keys = {
      "Type",    "MediaBox", std::string("A\0B", 3),
      "SevenCh", "EightChr", "AVeryLongPrivateKeyOfSomeApplication"};
  for (const std::string& key : keys) EXPECT_GE(dict->IndexOfKey(key), 0) << key;
  auto* copy = dynamic_cast<TOvPDFDictionary*>(dict->Clone());
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->ItemCount(), keys.size());
  for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(copy->KeyAt(i), dict->KeyAt(i));
  EXPECT_EQ(Written(dict), source);
  TCvPDFKey key = copy->Items().back().Key;
  TCvPDFKey moved = std::move(key);
  EXPECT_EQ(moved, "AVeryLongPrivateKeyOfSomeApplication");
  EXPECT_TRUE(key.empty());
  moved = copy->Items()[1].Key;
  EXPECT_EQ(moved, std::string("MediaBox"));
}

// Text held in place up to fifteen bytes and in a block beyond: growing
// across the boundary, appending the text to itself and assigning a piece of
// itself all keep every byte.
TEST(PdfText, KeepsItsBytesAcrossTheInlineLimit) {
  TCvPDFText text("0123456789abcde");  // fifteen: in place
  text += 'f';
  EXPECT_EQ(text, "0123456789abcdef");
  text += text.view();
  EXPECT_EQ(text, "0123456789abcdef0123456789abcdef");
  std::string expected = text.str();
  for (int i = 0; i < 200; ++i) {
    text += std::string_view("xyz");
    expected += "xyz";
  }
  EXPECT_EQ(text, expected);
  text = text.view().substr(3, 20);
  EXPECT_EQ(text, expected.substr(3, 20));
  TCvPDFText copy = text;
  text = "short";
  EXPECT_EQ(copy, expected.substr(3, 20));
  EXPECT_EQ(text, "short");
  TCvPDFText moved = std::move(copy);
  EXPECT_TRUE(copy.empty());
  EXPECT_EQ(moved.size(), 20u);
  const std::string withZero("a\0b", 3);
  moved = withZero;
  EXPECT_EQ(moved, withZero);
}

// A parsed object keeps no copy of its text; writing it, with or without a
// rebuild, gives exactly the bytes it was read from.
TEST(PdfContainer, ParsedObjectsProduceTheirTextWhenWritten) {
  const std::string source =
      "3 0 obj\n<< /Type /Page /Box [0 0 612 792] /R << /F 4 0 R >> >>\nendobj\n";
  TParsed p;
  TOvPDFIndirect* page = p.ParseIndirect(source);
  ASSERT_NE(page, nullptr);
  auto* dict = dynamic_cast<TOvPDFDictionary*>(page->Value);
  ASSERT_NE(dict, nullptr);
  EXPECT_TRUE(page->Data.empty());
  EXPECT_TRUE(dict->Data.empty());
  // A container inside another is only its text until its entries are read.
  TOvPDFDictionary* resources = GetDictEntry(dict, "R", false);
  EXPECT_TRUE(resources->Unread());
  EXPECT_EQ(resources->Data, "<< /F 4 0 R >>");
  EXPECT_EQ(Written(page, true), source);
  EXPECT_EQ(resources->ItemCount(), 1u);
  EXPECT_TRUE(resources->Data.empty());
  // Freezing a parsed container keeps the text it was read as.
  TOvPDFArray* box = GetArrayEntry(dict, "Box", false);
  box->SetModified(false);
  EXPECT_EQ(box->Data, "[0 0 612 792]");
  EXPECT_EQ(Written(page, false), source);
  EXPECT_EQ(Written(page, true), source);
}

// Only containers that nest a few levels are kept as text: reading a deeply
// nested one level by level must not parse its text once per level.
TEST(PdfContainer, DeeplyNestedContainersAreReadAtOnce) {
  const std::string deep = std::string(10, '[') + "1" + std::string(10, ']');
  const std::string shallow = std::string(9, '[') + "1" + std::string(9, ']');
  TParsed p;
  auto* dict =
      dynamic_cast<TOvPDFDictionary*>(p.Parse("<< /Deep " + deep + " /Shallow " + shallow + " >>"));
  ASSERT_NE(dict, nullptr);
  EXPECT_FALSE(GetArrayEntry(dict, "Deep", false)->Unread());
  // Each level of a shallow one is text until it is read.
  TOvPDFArray* level = GetArrayEntry(dict, "Shallow", false);
  for (int depth = 0; depth < 8; ++depth) {
    EXPECT_TRUE(level->Unread()) << depth;
    level = dynamic_cast<TOvPDFArray*>(level->GetItem(0));
    ASSERT_NE(level, nullptr);
  }
  EXPECT_EQ(dynamic_cast<TOvPDFReal*>(level->GetItem(0))->AsInt(), 1);
  EXPECT_EQ(Written(dict), "<< /Deep " + deep + " /Shallow " + shallow + " >>");
}

TEST(PdfClone, ScalarsContainersAndForbiddenKinds) {
  TParsed p;
  auto* dict = dynamic_cast<TOvPDFDictionary*>(
      p.Parse("<< /A [1 2.50 (x)] /B null /C <41> /D true /E 3 0 R >>"));
  ASSERT_NE(dict, nullptr);
  auto* copy = dynamic_cast<TOvPDFDictionary*>(dict->Clone());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(Written(copy), "<<\n/A [\n1 2.5 (x)] /B null /C <41> /D true /E 3 0 R >>");
  // A cloned null still says null (so it never vanishes from the text).
  auto* null = p.Parse("obj endobj");
  ASSERT_NE(dynamic_cast<TOvPDFIndirect*>(null), nullptr);
  auto* empty = dynamic_cast<TOvPDFIndirect*>(null)->Value;
  EXPECT_EQ(empty->Data, "");
  EXPECT_EQ(empty->Clone()->Data, "null");
  EXPECT_THROW(null->Clone(), EOvPDFError);
  EXPECT_THROW(TOvPDFStream::NewStream(&p.file)->Clone(), EOvPDFError);
}

TEST(PdfStream, InMemoryRawDataAndDeclaredLength) {
  TOvPDFFile file;
  TOvPDFStream* stream = TOvPDFStream::NewStream(&file);
  stream->SetData("stream\r\nABC\r\nendstream");
  EXPECT_EQ(stream->GetRawData(), "ABC");
  AddIntEntry(stream->Dictionary, "Length", 4);
  EXPECT_EQ(stream->GetRawData(), "ABC\r");
  stream->SetContent("hello");
  EXPECT_EQ(GetIntEntry(stream->Dictionary, "Length", 0, false), 5);
  EXPECT_EQ(stream->GetRawData(), "hello");
  auto* bad = file.NewName("x");
  SetEntry(stream->Dictionary, "Length", bad);
  EXPECT_THROW(stream->SetContent("x"), EOvPDFError);
}

TEST(PdfStream, SourceStreamWithoutSourceCannotBeWritten) {
  TParsed p;
  auto* indirect = p.ParseIndirect("1 0 obj\n<< /Length 3 >>\nstream\nabc\nendstream\nendobj\n");
  ASSERT_NE(indirect, nullptr);
  auto* stream = dynamic_cast<TOvPDFStream*>(indirect->Value);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->GetRawData(), "abc");
  EXPECT_EQ(stream->GetStreamText(), "stream\nabc\nendstream");
  stream->Source = nullptr;
  TOvMemoryStream out;
  EXPECT_THROW(indirect->WriteTo(out, true), EOvPDFParseError);
}

TEST(PdfStream, DataHookTransformsWhatIsWritten) {
  TParsed p;
  auto* indirect = p.ParseIndirect("1 0 obj\n<< /Length 3 >>\nstream\nabc\nendstream\nendobj\n");
  p.file.SetOnStreamData([](TOvPDFStream& s) {
    std::string data = s.GetRawData();
    for (char& c : data) c = static_cast<char>(c - 32);
    s.SetContent(data + "!");
  });
  const std::string text = Written(indirect);
  EXPECT_EQ(text, "1 0 obj\n<< /Length 4 >>\nstream\nABC!\nendstream\nendobj\n");
}

TEST(PdfPermissions, FlagsAndP) {
  TOvPDFPermissions perms;
  perms.FromP(-4, 3);
  EXPECT_TRUE(perms.CanModify && perms.CanCopy && perms.CanAnnotate && perms.CanFillForms &&
              perms.CanExtractForAccessibility && perms.CanAssemble && perms.CanPrint &&
              perms.CanPrintHighQuality);
  TOvPDFPermissions none;
  EXPECT_EQ(none.ToP(3, false), -3904);
  EXPECT_EQ(none.ToP(2, false), 0xC0);
  EXPECT_EQ(none.ToP(1, false), 0xC0);
  perms.SetAll(true);
  EXPECT_EQ(perms.ToP(2, false), 252);
  EXPECT_EQ(perms.ToP(3, false), -4);
  TOvPDFPermissions printOnly;
  printOnly.CanPrint = true;
  EXPECT_EQ(printOnly.ToP(3, true), 0x050000C0);
  TOvPDFPermissions r2;
  r2.FromP(8 | 4, 2);
  EXPECT_TRUE(r2.CanModify && r2.CanAssemble && r2.CanPrint && r2.CanPrintHighQuality);
  EXPECT_FALSE(r2.CanCopy);
}
