#include "toolkit/asn1/CvASN1.h"

#include <cstring>

#include "toolkit/common/CvScope.h"

namespace corvane {

namespace {

// Turns the base-128 digits of a multi-octet tag number (X.690 8.1.2.4) into a
// big-endian byte string. At most ASN1_MAX_TAG_OCTETS digits reach here.
std::string Base128ToBytes(const std::vector<uint8_t>& digits) {
  std::vector<uint8_t> value;  // little-endian base 256
  for (const uint8_t digit : digits) {
    unsigned carry = digit & 0x7Fu;
    for (uint8_t& octet : value) {
      const unsigned v = (static_cast<unsigned>(octet) << 7) | carry;
      octet = static_cast<uint8_t>(v & 0xFF);
      carry = v >> 8;
    }
    while (carry != 0) {
      value.push_back(static_cast<uint8_t>(carry & 0xFF));
      carry >>= 8;
    }
  }
  if (value.empty()) value.push_back(0);
  return std::string(value.rbegin(), value.rend());
}

}  // namespace

void TOvASN1Parser::Need(int64_t count, int64_t limit, bool limitIsInputEnd) {
  // Unsigned comparison: position_ <= limit always holds, so limit - position_ is the room left.
  if (static_cast<uint64_t>(count) > static_cast<uint64_t>(limit - position_)) {
    if (limitIsInputEnd) throw EOvASN1ReadError("Invalid ASN1 sequence");
    throw EOvASN1Error("Invalid stream data");
  }
}

uint8_t TOvASN1Parser::ReadOctet(int64_t limit, bool limitIsInputEnd) {
  Need(1, limit, limitIsInputEnd);
  uint8_t octet = 0;
  if (OnRead(&octet, 1) != 1) throw EOvASN1ReadError("Invalid ASN1 sequence");
  ++position_;
  return octet;
}

void TOvASN1Parser::ReadInto(std::string& out, int64_t count) {
  out.resize(static_cast<size_t>(count));
  size_t done = 0;
  while (done < out.size()) {
    const size_t got = OnRead(out.data() + done, out.size() - done);
    if (got == 0) throw EOvASN1ReadError("Invalid ASN1 sequence");
    done += got;
  }
  position_ += count;
}

void TOvASN1Parser::Emit(TOvASN1Element& element) {
  if (OnElement) OnElement(element);
}

int64_t TOvASN1Parser::Parse() {
  if (!OnRead) throw EOvASN1Error("Invalid ASN1 sequence");
  open_.clear();
  position_ = 0;
  const int64_t inputEnd = MaxDataLength > 0 ? MaxDataLength : 0;

  for (;;) {
    // Definite-length constructed elements end when their content is used up.
    while (!open_.empty() && !open_.back().Indefinite && position_ == open_.back().End) {
      open_.pop_back();
      TOvASN1Element done;
      done.Kind = aekEndOfElement;
      done.Offset = BaseOffset + position_;
      done.Depth = static_cast<int32_t>(open_.size());
      Emit(done);
      if (SingleElement && open_.empty()) return position_;
    }
    const int64_t limit = open_.empty() ? inputEnd : open_.back().End;
    const bool atInput = open_.empty() || open_.back().BoundedByInput;
    if (position_ == limit) {
      if (open_.empty()) return position_;
      // An indefinite-length element is still waiting for its end-of-contents marker.
      throw EOvASN1Error("Unexpected stream end");
    }

    TOvASN1Element element;
    const int64_t start = position_;
    element.Offset = BaseOffset + start;
    element.Depth = static_cast<int32_t>(open_.size());
    const uint8_t identifier = ReadOctet(limit, atInput);
    element.Identifier = identifier;

    if (identifier == 0x00) {
      // End-of-contents (X.690 8.1.5): valid only as the close of an open indefinite element.
      if (ReadOctet(limit, atInput) != 0x00) throw EOvASN1Error("Invalid ASN1 Sequence");
      if (open_.empty() || !open_.back().Indefinite) throw EOvASN1Error("Invalid ASN1 Sequence");
      open_.pop_back();
      if (ReportEndOfContents) {
        element.Kind = aekEndOfContents;
        element.TagClass = 4;
        element.HeaderLength = 2;
        element.Depth = static_cast<int32_t>(open_.size());
        Emit(element);
      }
      if (SingleElement && open_.empty()) return position_;
      continue;
    }

    element.TagClass = identifier >> 6;
    element.Constructed = (identifier & 0x20) != 0;
    if ((identifier & 0x1F) == 0x1F) {
      std::vector<uint8_t> digits;
      for (;;) {
        const uint8_t digit = ReadOctet(limit, atInput);
        digits.push_back(digit);
        if (digits.size() > static_cast<size_t>(ASN1_MAX_TAG_OCTETS)) {
          throw EOvASN1Error("Tag size too large");
        }
        if ((digit & 0x80) == 0) break;
      }
      element.HighTagNumber = true;
      element.TagNumber = Base128ToBytes(digits);
    } else {
      element.TagNumber.assign(1, static_cast<char>(identifier & 0x1F));
    }

    const uint8_t first = ReadOctet(limit, atInput);
    uint64_t length = 0;
    if (first < 0x80) {
      length = first;
    } else if (first == 0x80) {
      // X.690 8.1.3.2: a primitive element always has a definite length.
      if (!element.Constructed) throw EOvASN1ReadError("Invalid ASN1 sequence");
      element.Indefinite = true;
    } else {
      const int count = first & 0x7F;
      if (count > ASN1_MAX_LENGTH_OCTETS) throw EOvASN1Error("Block size too large");
      for (int i = 0; i < count; ++i) length = (length << 8) | ReadOctet(limit, atInput);
    }
    element.HeaderLength = static_cast<int32_t>(position_ - start);
    if (!element.Indefinite && length > static_cast<uint64_t>(limit - position_)) {
      throw EOvASN1ReadError("Invalid size");
    }
    element.ContentLength = static_cast<int64_t>(length);
    if (OnHeader) OnHeader(element);

    if (!element.Constructed) {
      if (length > 0) {
        const bool isInteger = identifier == ASN1_INTEGER;
        if (MaxInMemoryContent > 0 && element.ContentLength > MaxInMemoryContent && !isInteger &&
            OnSkip) {
          OnSkip(element.ContentLength);
          position_ += element.ContentLength;
          element.ContentSkipped = true;
        } else {
          ReadInto(element.Content, element.ContentLength);
          if (identifier == ASN1_BIT_STRING) element.UnusedBits = element.Content[0];
        }
      }
      Emit(element);
      if (SingleElement && open_.empty()) return position_;
      continue;
    }

    if (open_.size() >= static_cast<size_t>(ASN1_MAX_READER_DEPTH)) {
      throw EOvASN1Error("Maximal ASN.1 tag depth exceeded");
    }
    Emit(element);
    if (element.Indefinite) {
      open_.push_back(OpenElement{limit, true, atInput});
    } else {
      open_.push_back(OpenElement{position_ + element.ContentLength, false, false});
    }
  }
}

int64_t TOvASN1Parser::ParseBuffer(const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t cursor = 0;
  // The readers point into this call's frame: the caller's settings come
  // back when it ends, however it ends.
  const TCvScopedValue<TReadProc> reader(
      OnRead, [bytes, size, &cursor](void* buffer, size_t count) {
        const size_t n = count < size - cursor ? count : size - cursor;
        if (n > 0) std::memcpy(buffer, bytes + cursor, n);
        cursor += n;
        return n;
      });
  const TCvScopedValue<TSkipProc> skipper(OnSkip, [size, &cursor](int64_t count) {
    const uint64_t left = size - cursor;
    cursor += static_cast<uint64_t>(count) < left ? static_cast<size_t>(count) : left;
  });
  const TCvScopedValue<int64_t> limit(MaxDataLength, static_cast<int64_t>(size));
  return Parse();
}

// --- encoders ---------------------------------------------------------------------

std::string EncodeLength(uint64_t length) {
  if (length < 0x80) return std::string(1, static_cast<char>(length));
  // X.690 10.1: the long form with the fewest octets.
  char octets[8];
  int count = 0;
  for (uint64_t v = length; v != 0; v >>= 8) octets[7 - count++] = static_cast<char>(v & 0xFF);
  std::string out(1, static_cast<char>(0x80 | count));
  out.append(octets + 8 - count, static_cast<size_t>(count));
  return out;
}

std::string EncodeHeader(uint8_t tag, uint64_t length) {
  return static_cast<char>(tag) + EncodeLength(length);
}

std::string EncodePrimitive(uint8_t tag, std::string_view content) {
  std::string out = EncodeHeader(tag, content.size());
  out.append(content);
  return out;
}

namespace {

template <typename Parts>
std::string Constructed(uint8_t tag, const Parts& parts) {
  uint64_t total = 0;
  for (const auto& part : parts) total += part.size();
  std::string out = EncodeHeader(tag, total);
  out.reserve(out.size() + total);
  for (const auto& part : parts) out.append(part);
  return out;
}

}  // namespace

std::string EncodeConstructed(uint8_t tag, std::initializer_list<std::string_view> parts) {
  return Constructed(tag, parts);
}

std::string EncodeConstructed(uint8_t tag, const std::vector<std::string>& parts) {
  return Constructed(tag, parts);
}

std::string EncodeSequence(std::initializer_list<std::string_view> parts) {
  return Constructed(ASN1_SEQUENCE, parts);
}

std::string EncodeSequence(const std::vector<std::string>& parts) {
  return Constructed(ASN1_SEQUENCE, parts);
}

std::string EncodeSet(std::initializer_list<std::string_view> parts) {
  return Constructed(ASN1_SET, parts);
}

std::string EncodeSet(const std::vector<std::string>& parts) {
  return Constructed(ASN1_SET, parts);
}

std::string EncodeInteger(std::string_view bytes, uint8_t tag) {
  size_t skip = 0;
  while (skip < bytes.size() && bytes[skip] == '\0') ++skip;
  std::string content(bytes.substr(skip));
  if (content.empty() || (static_cast<uint8_t>(content[0]) & 0x80) != 0) content.insert(0, 1, '\0');
  return EncodePrimitive(tag, content);
}

std::string EncodeOID(std::string_view encodedOid) {
  return EncodePrimitive(ASN1_OBJECT_IDENTIFIER, encodedOid);
}

std::string EncodePrintableString(std::string_view text) {
  return EncodePrimitive(ASN1_PRINTABLE_STRING, text);
}

std::string EncodeUTF8String(std::string_view text) {
  return EncodePrimitive(ASN1_UTF8_STRING, text);
}

std::string EncodeIA5String(std::string_view text) {
  return EncodePrimitive(ASN1_IA5_STRING, text);
}

std::string EncodeOctetString(std::string_view bytes) {
  return EncodePrimitive(ASN1_OCTET_STRING, bytes);
}

std::string EncodeBitString(std::string_view bytes) {
  std::string out = EncodeHeader(ASN1_BIT_STRING, bytes.size() + 1);
  out.push_back('\0');
  out.append(bytes);
  return out;
}

std::string EncodeNull() { return std::string("\x05\x00", 2); }

}  // namespace corvane
