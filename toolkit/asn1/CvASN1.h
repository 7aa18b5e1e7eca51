// The ASN.1 reader and the stand-alone DER encoders. The reader walks BER
// (indefinite lengths included, X.690 8.1.3.6) and reports every element through
// callbacks; the node tree of CvASN1Tree.h is built from those reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/common/CvErrors.h"

namespace corvane {

// Every bound of the ASN.1 layer in one place.
inline constexpr int32_t ASN1_MAX_READER_DEPTH = 1000;  // open elements in one reader
inline constexpr int32_t ASN1_MAX_TREE_DEPTH = 256;     // deepest Level a loaded node may have
inline constexpr int32_t ASN1_MAX_TAG_OCTETS = 100;     // octets of a multi-octet tag number
inline constexpr int32_t ASN1_MAX_LENGTH_OCTETS = 8;    // octets of a long-form length
inline constexpr int64_t ASN1_STREAM_CHUNK = 32768;     // copy unit when streaming content out

// Universal tag octets (identifier octet with the constructed bit where it applies).
inline constexpr uint8_t ASN1_BOOLEAN = 0x01;
inline constexpr uint8_t ASN1_INTEGER = 0x02;
inline constexpr uint8_t ASN1_BIT_STRING = 0x03;
inline constexpr uint8_t ASN1_OCTET_STRING = 0x04;
inline constexpr uint8_t ASN1_NULL = 0x05;
inline constexpr uint8_t ASN1_OBJECT_IDENTIFIER = 0x06;
inline constexpr uint8_t ASN1_UTF8_STRING = 0x0C;
inline constexpr uint8_t ASN1_PRINTABLE_STRING = 0x13;
inline constexpr uint8_t ASN1_IA5_STRING = 0x16;
inline constexpr uint8_t ASN1_UTC_TIME = 0x17;
inline constexpr uint8_t ASN1_GENERALIZED_TIME = 0x18;
inline constexpr uint8_t ASN1_SEQUENCE = 0x30;
inline constexpr uint8_t ASN1_SET = 0x31;

enum TCvASN1EventKind {
  aekElement,        // an element's header (and a primitive's content) was read
  aekEndOfElement,   // the content of a definite-length constructed element is complete
  aekEndOfContents,  // an end-of-contents marker closed an indefinite-length element
};

// One report of the reader.
struct TOvASN1Element {
  TCvASN1EventKind Kind = aekElement;
  uint8_t Identifier = 0;  // the first identifier octet as read
  int32_t TagClass = 0;    // 0 universal .. 3 private; 4 for an end-of-contents marker
  bool Constructed = false;
  bool HighTagNumber = false;  // the tag number did not fit the identifier octet
  std::string TagNumber;       // big-endian tag number, at least one octet
  uint8_t UnusedBits = 0;      // first content octet of a universal BIT STRING
  int64_t Offset = 0;          // first header octet, in source coordinates
  int32_t HeaderLength = 0;
  int64_t ContentLength = 0;  // 0 for an indefinite length until its marker is read
  bool Indefinite = false;
  bool ContentSkipped = false;  // primitive content left in the source (in-memory limit)
  std::string Content;          // primitive content octets in encoded order
  int32_t Depth = 0;            // number of elements open around this one
};

// Event-driven BER reader. The input is pulled through OnRead and must hold
// MaxDataLength bytes; every declared length is checked, unsigned, against the
// bytes left in the enclosing element, so nothing is allocated beyond the input.
// Errors raise EOvASN1Error / EOvASN1ReadError with the messages of the format.
class TOvASN1Parser {
 public:
  using TReadProc = std::function<size_t(void* buffer, size_t count)>;
  using TSkipProc = std::function<void(int64_t count)>;
  using TElementProc = std::function<void(TOvASN1Element& element)>;  // may move Content out

  TReadProc OnRead;        // required
  TSkipProc OnSkip;        // optional: without it large contents are always read
  TElementProc OnHeader;   // optional: each header before its content
  TElementProc OnElement;  // element, end-of-element and end-of-contents reports

  bool ReportEndOfContents = false;
  int64_t MaxDataLength = 0;       // size of the input
  int64_t MaxInMemoryContent = 0;  // 0: no limit
  int64_t BaseOffset = 0;          // source offset of the first input octet
  bool SingleElement = false;      // stop after the first top-level element

  // Reads elements until the input ends (or, in single-element mode, the first
  // top-level element is complete). Returns the number of bytes consumed.
  int64_t Parse();

  // Parses a memory buffer with the settings above (OnRead is supplied).
  int64_t ParseBuffer(const void* data, size_t size);

 private:
  struct OpenElement {
    int64_t End;  // end of a definite element; the enclosing limit for an indefinite one
    bool Indefinite;
    bool BoundedByInput;  // the innermost definite bound is the input itself
  };

  void Need(int64_t count, int64_t limit, bool limitIsInputEnd);
  uint8_t ReadOctet(int64_t limit, bool limitIsInputEnd);
  void ReadInto(std::string& out, int64_t count);
  void Emit(TOvASN1Element& element);

  std::vector<OpenElement> open_;
  int64_t position_ = 0;
};

// Stand-alone DER encoders over byte strings.
std::string EncodeLength(uint64_t length);
std::string EncodeHeader(uint8_t tag, uint64_t length);
std::string EncodePrimitive(uint8_t tag, std::string_view content);
std::string EncodeConstructed(uint8_t tag, std::initializer_list<std::string_view> parts);
std::string EncodeConstructed(uint8_t tag, const std::vector<std::string>& parts);
std::string EncodeSequence(std::initializer_list<std::string_view> parts);
std::string EncodeSequence(const std::vector<std::string>& parts);
std::string EncodeSet(std::initializer_list<std::string_view> parts);
std::string EncodeSet(const std::vector<std::string>& parts);
// Leading 0x00 octets are dropped, 0x00 is put back in front of a set top bit.
std::string EncodeInteger(std::string_view bytes, uint8_t tag = ASN1_INTEGER);
std::string EncodeOID(std::string_view encodedOid);
std::string EncodePrintableString(std::string_view text);
std::string EncodeUTF8String(std::string_view text);
std::string EncodeIA5String(std::string_view text);
std::string EncodeOctetString(std::string_view bytes);
std::string EncodeBitString(std::string_view bytes);  // no unused bits
std::string EncodeNull();

}  // namespace corvane
