// FlateDecode: our deflate output checked by zlib's own tools, qpdf's output
// read by our inflate, the predictor and the limits.
#include "tests/pdf/PdfTestUtil.h"
#include "toolkit/pdf/CvZlib.h"

using namespace corvane;

using pdftest::TParsed;

namespace {

std::string Sample(size_t size) {
  std::string data;
  uint32_t x = 12345;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245 + 12345;
    // Compressible but not trivial.
    data += static_cast<char>(i % 7 == 0 ? (x >> 16) & 0xFF : 'a' + (i % 13));
  }
  return data;
}

}  // namespace

TEST(PdfFlate, OurDeflateInflatesWithZlibFlate) {
  TAVRA_REQUIRE_TOOL("zlib-flate");
  tavra_test::ScratchDir dir;
  for (const size_t size : {size_t{0}, size_t{3}, size_t{70000}, size_t{300000}}) {
    const std::string data = Sample(size);
    const std::string packed = ZlibCompress(data);
    EXPECT_EQ(static_cast<uint8_t>(packed[0]), 0x78);  // zlib header, window 15
    tavra_test::WriteFile(dir / "in.z", packed);
    int status = -1;
    const std::string out =
        tavra_test::RunCommand("zlib-flate -uncompress < " + dir / "in.z", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, data) << size;
  }
}

TEST(PdfFlate, InflatesWhatZlibFlateWrites) {
  TAVRA_REQUIRE_TOOL("zlib-flate");
  tavra_test::ScratchDir dir;
  const std::string data = Sample(200000);
  tavra_test::WriteFile(dir / "plain", data);
  for (const char* level : {"-compress=1", "-compress=9"}) {
    const std::string packed =
        tavra_test::RunCommand(std::string("zlib-flate ") + level + " < " + dir / "plain");
    EXPECT_EQ(ZlibDecompress(packed, 1 << 20), data);
  }
}

TEST(PdfFlate, ReadsObjectStreamsThatQpdfWrites) {
  TAVRA_REQUIRE_TOOL("qpdf");
  tavra_test::ScratchDir dir;
  tavra_test::RunCommand("qpdf --empty --object-streams=generate " + dir / "out.pdf");
  const std::string text = tavra_test::ReadFile(dir / "out.pdf");
  const size_t at = text.find("/Type /ObjStm");
  ASSERT_NE(at, std::string::npos);
  const size_t objStart = text.rfind(" obj", at);
  TParsed p;
  auto* indirect = dynamic_cast<TOvPDFIndirect*>(p.Parse(text.substr(objStart + 1)));
  ASSERT_NE(indirect, nullptr);
  auto* stream = dynamic_cast<TOvPDFStream*>(indirect->Value);
  ASSERT_NE(stream, nullptr);
  ASSERT_TRUE(IsFlateFilter(GetEntry(stream->Dictionary, "Filter")));
  const std::string decoded = DecodeFlate(stream);
  EXPECT_NE(decoded.find("/Catalog"), std::string::npos);
}

TEST(PdfFlate, CompressStreamAddsFilterAndLength) {
  TOvPDFFile file;
  TOvPDFStream* stream = TOvPDFStream::NewStream(&file);
  stream->SetContent("abc");
  CompressStream(stream, true);
  EXPECT_EQ(GetNameEntry(stream->Dictionary, "Filter", "", false), "FlateDecode");
  const std::string packed = stream->GetRawData();
  EXPECT_EQ(GetIntEntry(stream->Dictionary, "Length", 0, false), static_cast<int>(packed.size()));
  EXPECT_EQ(ZlibDecompress(packed, 100), "abc\r\n");
  // Already filtered: untouched.
  const std::string before = stream->Data.str();
  CompressStream(stream, true);
  EXPECT_EQ(stream->Data, before);
}

TEST(PdfFlate, CorruptAndTruncatedData) {
  const std::string packed = ZlibCompress(Sample(5000));
  std::string corrupt = packed;
  corrupt[5] = static_cast<char>(corrupt[5] ^ 0xFF);
  corrupt[6] = static_cast<char>(corrupt[6] ^ 0x55);
  try {
    ZlibDecompress(std::string("\x78\x9C\xFF\xFF\xFF\xFF", 6), 1000);
    FAIL() << "no error";
  } catch (const ECvZlibError& e) {
    EXPECT_STREQ(e.what(), "Decompression failed, inflate returned [-3]");
  }
  // Data that simply ends gives what it holds so far.
  const std::string prefix = ZlibDecompress(packed.substr(0, packed.size() / 2), 100000);
  EXPECT_FALSE(prefix.empty());
  EXPECT_EQ(Sample(5000).compare(0, prefix.size(), prefix), 0);
  EXPECT_ANY_THROW(ZlibDecompress(corrupt, 100000));
}

TEST(PdfFlate, InflateStopsAtTheSizeLimit) {
  // 64 MB of zeros deflate to about 64 KB: a small bomb.
  const std::string bomb = ZlibCompress(std::string(64 << 20, '\0'));
  ASSERT_LT(bomb.size(), 100000u);
  try {
    ZlibDecompress(bomb, 1 << 20);
    FAIL() << "no error";
  } catch (const EOvPDFError& e) {
    EXPECT_STREQ(e.what(), "Decompression error");
  }
  EXPECT_EQ(ZlibDecompress(ZlibCompress("xyz"), 3), "xyz");
}

TEST(PdfPredictor, PngUpRows) {
  // Two rows of four columns; the second adds to the first.
  const std::string in =
      std::string("\x02\x01\x02\x03\x04", 5) + std::string("\x02\x01\x01\x01\xFF", 5);
  EXPECT_EQ(ApplyPredictor(in, 12, 4), std::string("\x01\x02\x03\x04\x02\x03\x04\x03", 8));
  EXPECT_EQ(ApplyPredictor(in, 15, 4), ApplyPredictor(in, 12, 4));
  EXPECT_EQ(ApplyPredictor(in, 1, 4), in);
  try {
    ApplyPredictor(std::string("\x01\x00\x00\x00\x00", 5), 12, 4);
    FAIL();
  } catch (const EOvPDFError& e) {
    EXPECT_STREQ(e.what(), "Unsupported PNG predictor: 1");
  }
  try {
    ApplyPredictor(in, 2, 4);
    FAIL();
  } catch (const EOvPDFError& e) {
    EXPECT_STREQ(e.what(), "Unsupported predictor algorithm: 2");
  }
  try {
    ApplyPredictor(std::string(23, '\x02'), 12, 4);
    FAIL();
  } catch (const EOvPDFError& e) {
    EXPECT_STREQ(e.what(), "Invalid PNG data");
  }
  EXPECT_THROW(ApplyPredictor(in, 12, 0), EOvPDFError);
  EXPECT_THROW(ApplyPredictor(in, 12, INT64_MAX), EOvPDFError);
}
