// A buffer parse borrows the parser's readers and limit for its own length;
// the caller's settings come back whether it succeeds or fails.
#include <gtest/gtest.h>

#include <string>

#include "tests/asn1/Asn1TestSupport.h"
#include "toolkit/asn1/CvASN1.h"

namespace corvane {
namespace {

TEST(ASN1ParserState, BufferParseRestoresTheCallersSettings) {
  TOvASN1Parser parser;
  int reads = 0;
  int skips = 0;
  parser.OnRead = [&reads](void*, size_t) {
    ++reads;
    return size_t{0};
  };
  parser.OnSkip = [&skips](int64_t) { ++skips; };
  parser.MaxDataLength = 77;
  const std::string good = asn1test::Hex("30 03 02 01 05");
  const std::string bad = asn1test::Hex("30 05 02 01");  // shorter than declared
  for (const std::string& input : {good, bad}) {
    try {
      parser.ParseBuffer(input.data(), input.size());
    } catch (const ECorvaneError&) {
      EXPECT_EQ(input, bad);
    }
    EXPECT_EQ(reads, 0);  // the buffer was read through its own reader
    ASSERT_TRUE(parser.OnRead);
    ASSERT_TRUE(parser.OnSkip);
    parser.OnRead(nullptr, 0);
    parser.OnSkip(0);
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(skips, 1);
    EXPECT_EQ(parser.MaxDataLength, 77);
    reads = skips = 0;
  }
}

}  // namespace
}  // namespace corvane
