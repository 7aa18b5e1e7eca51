// The parser: structure of what it reads, exact round trips, and hostile input.
#include "tests/pdf/PdfFixtures.h"

using namespace corvane;
using pdftest::TParsed;
using pdftest::Written;

namespace {

template <class T>
T* As(TOvPDFObject* obj) {
  return dynamic_cast<T*>(obj);
}

std::string ParseError(const std::string& text) {
  TParsed p;
  try {
    p.Parse(text);
  } catch (const EOvPDFParseError& e) {
    return e.what();
  }
  return "no error";
}

}  // namespace

TEST(PdfParser, ArraysFoldReferences) {
  TParsed p;
  auto* array = As<TOvPDFArray>(p.Parse("[1 2 3]"));
  ASSERT_NE(array, nullptr);
  ASSERT_EQ(array->ItemCount(), 3u);
  EXPECT_EQ(As<TOvPDFReal>(array->GetItem(2))->AsInt(), 3);
  array = As<TOvPDFArray>(p.Parse("[1 0 R 2]"));
  ASSERT_EQ(array->ItemCount(), 2u);
  auto* ref = As<TOvPDFRef>(array->GetItem(0));
  ASSERT_NE(ref, nullptr);
  EXPECT_EQ(ref->Number, 1);
  EXPECT_EQ(ref->Generation, 0);
  EXPECT_EQ(As<TOvPDFReal>(array->GetItem(1))->AsInt(), 2);
  array = As<TOvPDFArray>(p.Parse("[1 2 ]"));
  EXPECT_EQ(array->ItemCount(), 2u);
  array = As<TOvPDFArray>(p.Parse("[1 2 3 0 R 4.5]"));
  ASSERT_EQ(array->ItemCount(), 4u);
  EXPECT_NE(As<TOvPDFRef>(array->GetItem(2)), nullptr);
}

TEST(PdfParser, DictionariesNeedNameKeys) {
  TParsed p;
  auto* dict = As<TOvPDFDictionary>(p.Parse("<< /A 1 0 R /B /N /C [1] /D 5 >>"));
  ASSERT_NE(dict, nullptr);
  EXPECT_NE(As<TOvPDFRef>(GetEntry(dict, "A")), nullptr);
  EXPECT_EQ(GetNameEntry(dict, "B", "", false), "N");
  EXPECT_EQ(GetIntEntry(dict, "D", 0, false), 5);
  EXPECT_EQ(ParseError("<< /A 1 2 /B 3 >>"), "Bad object");
  EXPECT_EQ(ParseError("<< 1 /A >>"), "Bad object");
  EXPECT_EQ(ParseError("<< /A 1 ]"), "Bad object");
  EXPECT_EQ(ParseError("[1 >>"), "Bad object");
  EXPECT_EQ(ParseError("<< /A 1 > >>"), "Bad object");
  // A key without a value before ">>" is dropped.
  dict = As<TOvPDFDictionary>(p.Parse("<< /A 1 /B >>"));
  EXPECT_EQ(dict->ItemCount(), 1u);
}

TEST(PdfParser, StringsAndNames) {
  TParsed p;
  auto* hex = As<TOvPDFString>(p.Parse("<48 65 6C>"));
  ASSERT_NE(hex, nullptr);
  EXPECT_EQ(hex->Data, "<48656C>");
  EXPECT_EQ(hex->GetText(), "Hel");
  hex = As<TOvPDFString>(p.Parse("<4G>"));
  EXPECT_EQ(hex->Data, "<4>");
  EXPECT_EQ(hex->GetText(), "\x40");
  auto* lit = As<TOvPDFString>(p.Parse("(a\\)b(c)d) rest"));
  ASSERT_NE(lit, nullptr);
  EXPECT_EQ(lit->GetText(), "a)b(c)d");
  EXPECT_EQ(lit->TrailingSpace, " ");
  EXPECT_EQ(ParseError("(abc"), "Illegal string");
  EXPECT_EQ(ParseError("(abc\\"), "Illegal string");
  EXPECT_EQ(ParseError("((abc)"), "Illegal string");
  EXPECT_EQ(As<TOvPDFName>(p.Parse("/A#42"))->GetName(), "AB");
  auto* bare = As<TOvPDFName>(p.Parse("/ x"));
  ASSERT_NE(bare, nullptr);
  EXPECT_TRUE(bare->Invalid);
  EXPECT_EQ(bare->GetName(), "");
}

TEST(PdfParser, IndirectObjectsAndComments) {
  TParsed p;
  auto* empty = As<TOvPDFIndirect>(p.Parse("endobj"));
  EXPECT_EQ(empty, nullptr);  // a lone "endobj" is an empty value, not an object
  auto* indirect = As<TOvPDFIndirect>(p.Parse("obj endobj"));
  ASSERT_NE(indirect, nullptr);
  ASSERT_NE(As<TOvPDFNull>(indirect->Value), nullptr);
  EXPECT_EQ(indirect->Value->Data, "");
  indirect = As<TOvPDFIndirect>(p.Parse("obj\n% a comment\n<< /A 1 >>\nendobj"));
  ASSERT_NE(indirect, nullptr);
  EXPECT_NE(As<TOvPDFDictionary>(indirect->Value), nullptr);
  // Inside a container a number pair with "obj" becomes the object's identity.
  auto* array = As<TOvPDFArray>(p.Parse("[5 0 obj 7 endobj]"));
  ASSERT_NE(array, nullptr);
  indirect = As<TOvPDFIndirect>(array->GetItem(0));
  ASSERT_NE(indirect, nullptr);
  EXPECT_EQ(indirect->Number, 5);
  EXPECT_EQ(ParseError("[0 obj 1 endobj]"), "Invalid indirect object");
  EXPECT_EQ(ParseError("[0 R]"), "Invalid reference");
  EXPECT_EQ(ParseError("obj 1 2"), "Bad object");
  EXPECT_EQ(ParseError("obj [1] stream\nx\nendstream endobj"), "Illegal stream dictionary");
  EXPECT_EQ(ParseError("foo"), "Unexpected character");
  EXPECT_EQ(ParseError(")"), "Unexpected character");
}

TEST(PdfParser, StrayEndobjInsideAContainerIsBadObject) {
  EXPECT_EQ(ParseError("[1 2 endobj"), "Bad object");
  EXPECT_EQ(ParseError("<< /A endobj"), "Bad object");
}

TEST(PdfParser, CommentBetweenNumbersKeepsThemApart) {
  TParsed p;
  auto* box = As<TOvPDFArray>(p.Parse("[0 0 595%c\n842]"));
  ASSERT_NE(box, nullptr);
  ASSERT_EQ(box->ItemCount(), 4u);
  const std::string written = Written(box);
  EXPECT_EQ(written, "[0 0 595%c\n842]");
  // What was written reads back as the same four numbers.
  auto* again = As<TOvPDFArray>(p.Parse(written));
  ASSERT_EQ(again->ItemCount(), 4u);
  EXPECT_EQ(As<TOvPDFReal>(again->GetItem(3))->AsInt(), 842);
  // A comment at the very end of the input gets a line end when written.
  auto* open = As<TOvPDFArray>(p.Parse("[1 %c"));
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(Written(open), "[1 %c\n]");
}

TEST(PdfParser, CommentsEndTokensInsideObjectsToo) {
  // Whitespace wherever a token may end: at the end of each line of a
  // dictionary, between a value and "endobj", before the trailer's dictionary.
  const std::string lines = "<<  % the catalog\n/Type /Catalog  % its type\n/Pages 2 0 R  %\n>>  %";
  for (const std::string& catalog : {lines, std::string("<< /Type /Catalog /Pages 2 0 R >> %")}) {
    pdftest::TFixture f;
    f.Add(1, catalog + " before endobj");
    f.Add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>\n% its kids");
    f.Add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    std::string text = f.Build();
    text.replace(text.find("trailer\n"), 8, "trailer % the last\n");
    TOvMemoryStream source(text);
    TOvPDFFile file;
    file.Reload(source);
    EXPECT_FALSE(file.Damaged()) << file.DamageReason();
    TOvPDFIndirect* root = file.FindCanonical(1, 0)->Resolve();
    auto* dict = As<TOvPDFDictionary>(root->Value);
    ASSERT_NE(dict, nullptr) << catalog;
    EXPECT_EQ(GetNameEntry(dict, "Type", "", false), "Catalog");
    EXPECT_NE(file.FindCanonical(3, 0)->Resolve(), nullptr);
    // Written back, the object reads again as the same dictionary.
    TParsed p;
    TOvPDFIndirect* again = p.ParseIndirect(Written(root));
    ASSERT_NE(again, nullptr) << Written(root);
    EXPECT_EQ(GetNameEntry(As<TOvPDFDictionary>(again->Value), "Type", "", false), "Catalog");
  }
}

TEST(PdfParser, EndOfInputCases) {
  TParsed p;
  EXPECT_EQ(p.Parse("   \n "), nullptr);
  auto* last = As<TOvPDFReal>(p.Parse("7"));
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->AsInt(), 7);
  auto* eof = As<TOvPDFComment>(p.Parse("%%EOF"));
  ASSERT_NE(eof, nullptr);
  EXPECT_EQ(eof->Data, "%%EOF");
  EXPECT_NE(As<TOvPDFString>(p.Parse("<41>")), nullptr);
  for (const char* text : {"/", "<", "<<", "[", ">", "%", "obj", "obj 1", "<41"}) {
    EXPECT_EQ(ParseError(text), "Unexpected EOF") << text;
  }
}

TEST(PdfParser, StreamLengthThatLiesIsFoundAgain) {
  TParsed p;
  const std::string data(200, 'x');
  const std::string text =
      "1 0 obj\n<< /Length 190 >>\nstream\n" + data + "\nendstream\nendobj\n2 0 obj 5 endobj";
  TOvPDFIndirect* indirect = p.ParseIndirect(text);
  ASSERT_NE(indirect, nullptr);
  auto* stream = As<TOvPDFStream>(indirect->Value);
  ASSERT_NE(stream, nullptr);
  // The data runs to "endstream", including the line end before it.
  EXPECT_EQ(stream->GetRawData(), data + "\n");
  // A length past the end of the input is searched for, too.
  indirect =
      As<TOvPDFIndirect>(p.Parse("obj << /Length 99999 >> stream\r\nabc\r\nendstream endobj"));
  ASSERT_NE(indirect, nullptr);
  EXPECT_EQ(As<TOvPDFStream>(indirect->Value)->GetRawData(), "abc\r\n");
  // An indirect length that cannot be loaded means: search.
  indirect = As<TOvPDFIndirect>(p.Parse("obj << /Length 9 0 R >> stream\nabcd\nendstream\nendobj"));
  ASSERT_NE(indirect, nullptr);
  EXPECT_EQ(As<TOvPDFStream>(indirect->Value)->GetRawData(), "abcd\n");
  // "e" right before the keyword must not hide the match.
  indirect =
      As<TOvPDFIndirect>(p.Parse("obj << >> stream\nxyze"
                                 "endstream endobj"));
  ASSERT_NE(indirect, nullptr);
  EXPECT_EQ(As<TOvPDFStream>(indirect->Value)->GetRawData(), "xyze");
  EXPECT_EQ(ParseError("obj << /Length 3 >> stream\nabc and no end"), "Invalid stream data");
  EXPECT_EQ(ParseError("obj << /Length (3) >> stream\nabc\nendstream endobj"),
            "Illegal stream dictionary");
  EXPECT_EQ(ParseError("obj << /Length 3.5 >> stream\nabc\nendstream endobj"),
            "Illegal stream dictionary");
}

TEST(PdfParser, ClassicSectionKeepsItsText) {
  TParsed p;
  const std::string text =
      "xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 1 >>\nstartxref\n9\n%%EOF\n";
  auto* section = As<TOvPDFXRef>(p.Parse(text));
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(section->Data, text);
  EXPECT_EQ(GetIntEntry(section->Dictionary, "Size", 0, false), 1);
  EXPECT_EQ(ParseError("xref\n0 x\ntrailer << >>"), "Invalid reference table");
  EXPECT_EQ(ParseError("xref\n0 1\n0000000000 65535 f \nxyz << >>"), "Invalid reference table");
  EXPECT_EQ(ParseError("trailer [1]"), "Invalid reference table");
  EXPECT_EQ(ParseError("xref\n0 1000000000\n"), "Invalid reference table");
}

TEST(PdfParser, RoundTripIsByteIdentical) {
  const char* samples[] = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]/Contents 4 0 R>>",
      ("<<\r\n  /A  [ 1 -2.5 +3 .5 ]\r\n  /B (x\\(y\\)z) /C <41424344>\r\n  /D true /E false /F "
       "null\r\n>>"),
      "[ /N#20x (\\101) <4142> [ [ ] ] << >> 12 0 R ]",
      "<< /A %a comment\n  1 /B 2 % another\n>>",
      "[0 0 595%c\n842]",
      "(a(b)c\\) d)",
      "/Name ",
      "-17 ",
      "true",
      "null\n",
      "%comment line\r\n",
  };
  for (const char* sample : samples) {
    TParsed p;
    TOvPDFObject* obj = p.Parse(sample);
    ASSERT_NE(obj, nullptr) << sample;
    EXPECT_EQ(Written(obj), sample);
  }
}

TEST(PdfParser, IndirectObjectsRoundTrip) {
  const char* samples[] = {
      "12 0 obj\n<< /Length 5 >>\nstream\r\nhello\r\nendstream\nendobj\n",
      "3 1 obj\r\n[1 2 3]\r\nendobj\r\n",
      "7 0 obj 42 endobj ",
      "8 0 obj\n% produced by\n<< /A 1 >>\nendobj\n",
  };
  for (const char* sample : samples) {
    TParsed p;
    TOvPDFIndirect* indirect = p.ParseIndirect(sample);
    ASSERT_NE(indirect, nullptr) << sample;
    EXPECT_EQ(Written(indirect), sample);
  }
}

TEST(PdfParser, HostileInputNeverCrashes) {
  // Deep nesting stops at the limit instead of exhausting the stack.
  EXPECT_EQ(ParseError(std::string(10000, '[')), "Bad object");
  EXPECT_EQ(ParseError(std::string(5000, '<')), "Bad object");
  std::string nested;
  for (int i = 0; i < 200; ++i) nested += "[";
  for (int i = 0; i < 200; ++i) nested += "]";
  TParsed p;
  EXPECT_NE(p.Parse(nested), nullptr);  // within the limit
  // NUL bytes are whitespace; huge numbers are numbers.
  auto* number = As<TOvPDFReal>(p.Parse(std::string("\0\0 123456789012345678901234567890", 33)));
  ASSERT_NE(number, nullptr);
  EXPECT_FALSE(number->IsInteger());
  EXPECT_THROW(number->AsInt64(), EOvPDFParseError);
  EXPECT_EQ(ParseError("[99999999999 0 R]"), "Invalid reference");
  EXPECT_EQ(ParseError("{"), "Unexpected character");
}

namespace {

// Objects a parsed value holds: itself and everything inside it.
size_t HeldObjects(const TOvPDFObject* obj) {
  if (obj == nullptr) return 0;
  size_t count = 1;
  if (const auto* container = dynamic_cast<const TOvPDFArray*>(obj)) {
    for (const auto& item : container->Items()) count += HeldObjects(item.Object);
  } else if (const auto* stream = dynamic_cast<const TOvPDFStream*>(obj)) {
    count += HeldObjects(stream->Dictionary);
  } else if (const auto* indirect = dynamic_cast<const TOvPDFIndirect*>(obj)) {
    count += HeldObjects(indirect->Value);
  }
  return count;
}

}  // namespace

// What the parser makes only to look at (keys, the numbers before "R",
// comments, closing brackets) does not stay in the file's registry, and the
// text still round-trips byte for byte.
TEST(PdfParser, ParsedValuesKeepOnlyWhatTheyHold) {
  TParsed p;
  const std::string text =
      "<< /Type /Page /Parent 3 0 R % the tree\n /Kids %kids\n[4 0 R 5 0 R] /Count 2 >>";
  auto* dict = As<TOvPDFDictionary>(p.Parse(text));
  ASSERT_NE(dict, nullptr);
  EXPECT_EQ(Written(dict, false), text);
  // Counting reads the entries, which makes their objects: count first.
  const size_t held = HeldObjects(dict);
  EXPECT_EQ(held, 7u);
  EXPECT_EQ(p.file.RegistrySize(), held);
  EXPECT_EQ(As<TOvPDFRef>(GetEntry(dict, "Parent"))->Number, 3);
  // Rebuilt from its items, the dictionary still carries the comments.
  dict->SetModified(true);
  EXPECT_EQ(Written(dict), text);
}

// Loading an object adds that object and nothing else: the "n g" before
// "obj" and every look at it leave nothing behind.
TEST(PdfParser, LoadingAnObjectAddsOnlyThatObject) {
  const std::string bytes = pdftest::OnePage().Build();
  TOvMemoryStream source(bytes);
  TOvPDFFile file;
  file.Reload(source);
  const size_t before = file.RegistrySize();
  TOvPDFIndirect* page = file.LoadObject(source, 3, 0);
  ASSERT_NE(page, nullptr);
  const size_t pageHeld = HeldObjects(page);
  EXPECT_EQ(file.RegistrySize() - before, pageHeld);
  const size_t afterPage = file.RegistrySize();
  TOvPDFIndirect* content = file.LoadObject(source, 4, 0);
  ASSERT_NE(content, nullptr);
  const size_t contentHeld = HeldObjects(content);
  EXPECT_EQ(file.RegistrySize() - afterPage, contentHeld);
}
