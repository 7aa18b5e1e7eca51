// The reserved placeholder of a signature value on its own: a value
// dictionary written between other bytes, then patched and signed in place.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>

#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDF_SignaturePlaceholder.h"

namespace pdftest {
namespace {

using corvane::sigimpl::TCvSignaturePlaceholder;

constexpr char kHead[] = "%PDF-1.7\n% bytes before the value\n";
// Signing reads the value back, up to the end of its revision.
constexpr char kTail[] = "\nxref and trailer would follow\nstartxref\n0\n%%EOF\r\n";

// A handler that signs nothing: it keeps what it was given to hash and
// answers a fixed value.
class TRecordingHandler final : public corvane::TOvPDFSecurityHandler {
 public:
  const corvane::TOvPDFSecurityHandlerClass& HandlerClass() const override {
    static const corvane::TOvPDFSecurityHandlerClass cls = [] {
      corvane::TOvPDFSecurityHandlerClass c;
      c.HandlerName = "Test.Recording";
      c.CanSign = true;
      return c;
    }();
    return cls;
  }
  void HashInit() override { hashed.clear(); }
  bool HashUpdate(std::string_view bytes) override {
    hashed.append(bytes);
    return true;
  }
  corvane::ByteString HashFinal() override { return "digest of " + hashed; }
  corvane::ByteString SignDigest(std::string_view digest) override {
    signedDigest = std::string(digest);
    return value;
  }

  std::string hashed;
  std::string signedDigest;
  std::string value = "\xAB\xCD";
};

// One value dictionary with an 8-byte reservation, written as object 7
// between kHead and kTail.
struct TWrittenValue {
  corvane::TOvPDFFile file;
  corvane::TOvPDFIndirect* object = nullptr;
  TCvSignaturePlaceholder placeholder;
  corvane::TOvMemoryStream out;

  explicit TWrittenValue(const std::function<void(corvane::TOvPDFDictionary*)>& change = {}) {
    corvane::TOvPDFDictionary* value = file.NewDictionary();
    corvane::AddNameEntry(value, "Type", "Sig");
    placeholder.Reserve(file, value, 8);
    if (change) change(value);
    object = file.NewIndirect(7, 0, value);
    out.Write(std::string_view(kHead));
    object->WriteTo(out, true);
    out.Write(std::string_view(kTail));
  }
};

std::string Failure(const std::function<void()>& run) {
  try {
    run();
  } catch (const corvane::ECorvaneError& e) {
    return e.what();
  }
  return "no failure";
}

TEST(SignaturePlaceholder, ByteRangeNamesEverythingButTheHexValue) {
  TWrittenValue v;
  const std::string before = v.out.Data();
  const auto ranges = v.placeholder.PatchByteRange(v.out);
  const std::string& after = v.out.Data();
  ASSERT_EQ(after.size(), before.size());

  // The written text, read back by its own rules: the four numbers in the
  // width of the placeholder, naming the hex string of 8 zero bytes.
  std::smatch m;
  ASSERT_TRUE(
      std::regex_search(after, m, std::regex(R"(/ByteRange (\[0 (\d+) (\d+) (\d+)\] *)\r\n)")));
  EXPECT_EQ(m[1].length(), 46);
  const size_t c = std::stoul(m[2]);
  const size_t end = std::stoul(m[3]);
  EXPECT_EQ(after.substr(c, end - c), "<" + std::string(16, '0') + ">");
  EXPECT_EQ(end + std::stoul(m[4]), after.size());
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[0].Offset, 0);
  EXPECT_EQ(ranges[0].Length, static_cast<int64_t>(c));
  EXPECT_EQ(ranges[1].Offset, static_cast<int64_t>(end));
  EXPECT_EQ(ranges[1].Offset + ranges[1].Length, static_cast<int64_t>(after.size()));
  // Only the placeholder's own bytes changed.
  const size_t at = static_cast<size_t>(m.position(1));
  EXPECT_EQ(after.substr(0, at), before.substr(0, at));
  EXPECT_EQ(after.substr(at + 46), before.substr(at + 46));
}

TEST(SignaturePlaceholder, SignHashesAroundTheValueAndWritesItPadded) {
  TWrittenValue v;
  TRecordingHandler handler;
  v.out.SetPosition(5);
  const auto ranges = v.placeholder.Sign(v.out, handler, &v.file);
  EXPECT_EQ(v.out.Position(), 5);
  const std::string& data = v.out.Data();
  const size_t c = static_cast<size_t>(ranges[0].Length);
  const size_t end = static_cast<size_t>(ranges[1].Offset);
  EXPECT_EQ(data.substr(c, end - c), "<ABCD" + std::string(12, '0') + ">");
  // The byte range text is in place before hashing, so it is signed too.
  EXPECT_EQ(handler.hashed, data.substr(0, c) + data.substr(end));
  EXPECT_NE(handler.hashed.find("/ByteRange [0 "), std::string::npos);
  EXPECT_EQ(handler.signedDigest, "digest of " + handler.hashed);
}

// A stream that hands out at most three bytes a read and ends early, before
// the size it reports.
class TEarlyEndStream final : public corvane::TOvStream {
 public:
  TEarlyEndStream(corvane::TOvMemoryStream& data, int64_t end) : data_(data), end_(end) {}
  size_t Read(void* buffer, size_t count) override {
    const int64_t at = data_.Position();
    if (at >= end_) return 0;
    return data_.Read(buffer, std::min({count, size_t{3}, static_cast<size_t>(end_ - at)}));
  }
  void Write(const void* buffer, size_t count) override { data_.Write(buffer, count); }
  using corvane::TOvStream::Write;
  int64_t Seek(int64_t offset, corvane::TSeekOrigin origin) override {
    return data_.Seek(offset, origin);
  }
  int64_t Size() override { return data_.Size(); }
  void SetSize(int64_t size) override { data_.SetSize(size); }

 private:
  corvane::TOvMemoryStream& data_;
  int64_t end_;
};

// Short reads are read on; a read that ends before the byte ranges do fails
// the signing instead of signing fewer bytes than /ByteRange declares.
TEST(SignaturePlaceholder, ByteRangesThatCannotBeReadFailTheSigning) {
  TWrittenValue v;
  TRecordingHandler handler;
  TEarlyEndStream early(v.out, v.out.Size() - 4);
  EXPECT_EQ(Failure([&] { v.placeholder.Sign(early, handler, &v.file); }),
            "Cannot read the signed byte ranges");
  EXPECT_EQ(handler.signedDigest, "");
}

TEST(SignaturePlaceholder, ValueLargerThanTheReservationIsRefused) {
  TWrittenValue v;
  const std::string before = v.out.Data();
  EXPECT_EQ(Failure([&] { v.placeholder.WriteValue(v.out, std::string(9, '\x01')); }),
            "Internal error OvPDFDocument.InsertActualSignatureInformation.2");
  EXPECT_EQ(v.out.Data(), before);
  v.placeholder.WriteValue(v.out, std::string(8, '\x01'));
  EXPECT_NE(v.out.Data().find("<0101010101010101>"), std::string::npos);
}

// Every way the layout can be broken names its own step.
TEST(SignaturePlaceholder, EachInternalFailureHasItsOwnTag) {
  corvane::TOvPDFFile file;
  corvane::TOvMemoryStream out;
  EXPECT_EQ(Failure([&] { TCvSignaturePlaceholder().PatchByteRange(out); }),
            "Internal error OvPDFDocument.InsertActualSignatureInformation.6");
  EXPECT_EQ(Failure([&] { TCvSignaturePlaceholder().Reserve(file, file.NewDictionary(), 0); }),
            "Internal error OvPDFDocument.BuildSignatureField.1");
  TWrittenValue widened([](corvane::TOvPDFDictionary* value) {
    corvane::GetArrayEntry(value, "ByteRange", false)->OpenSpace = " ";
  });
  EXPECT_EQ(Failure([&] { widened.placeholder.PatchByteRange(widened.out); }),
            "Internal error OvPDFDocument.InsertActualSignatureInformation.1");
  // Offsets beyond what the four numbers' room holds.
  TWrittenValue far;
  far.object->SetWriteOffset(int64_t{1} << 50);
  EXPECT_EQ(Failure([&] { far.placeholder.PatchByteRange(far.out); }),
            "Internal error OvPDFDocument.InsertActualSignatureInformation.7");
}

}  // namespace
}  // namespace pdftest
