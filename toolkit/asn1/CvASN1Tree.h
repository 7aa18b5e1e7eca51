// The ASN.1 node tree: a constructed node (TOvASN1ConstrainedTag) owns its
// children, a primitive node (TOvASN1SimpleTag) holds its content in memory or as
// a region of a stream. Trees are filled by the reader of CvASN1.h and save
// themselves with minimal definite lengths (X.690 10.1) unless a constructed node
// is marked for the indefinite form.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/asn1/CvASN1.h"
#include "toolkit/common/CvStream.h"

namespace corvane {

class TOvASN1TreeBuilder;

enum TCvASN1DataMode {
  dmMemory,        // the bytes are held in memory
  dmStreamRegion,  // the bytes are a region of a stream, read on demand
  dmEmpty,
};

// Where a primitive node's content lives.
class TOvASN1DataSource {
 public:
  TCvASN1DataMode Mode() const { return mode_; }
  int64_t Size() const;

  void SetBytes(std::string bytes);
  // A region of a stream; length 0 means up to the end of the stream. The stream
  // must outlive the node.
  void SetRegion(TOvStream* stream, int64_t offset, int64_t length);
  void Clear();

  // The whole content, or count bytes from offset within it. Reading past the end of
  // the stream raises "End of stream reached".
  std::string Read() const;
  std::string Read(int64_t offset, int64_t count) const;

 private:
  TCvASN1DataMode mode_ = dmEmpty;
  std::string bytes_;
  TOvStream* stream_ = nullptr;
  int64_t offset_ = 0;
  int64_t length_ = 0;
};

class TOvASN1CustomTag {
 public:
  TOvASN1CustomTag() = default;
  virtual ~TOvASN1CustomTag() = default;
  TOvASN1CustomTag(const TOvASN1CustomTag&) = delete;
  TOvASN1CustomTag& operator=(const TOvASN1CustomTag&) = delete;

  virtual bool IsConstructed() const { return false; }
  virtual int64_t EncodedLength() const { return 0; }
  virtual bool LoadFromBuffer(const void* bytes, int64_t size);
  // Two-call save: with a missing or too small buffer nothing is written, size gets
  // the size needed and the result is false.
  virtual bool SaveToBuffer(void* buffer, int64_t& size) const;
  virtual bool LoadFromStream(TOvStream& stream, int64_t count);
  virtual void SaveToStream(TOvStream& stream) const;

  // Conveniences over the two calls above.
  bool LoadFromBytes(std::string_view bytes) {
    return LoadFromBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  }
  std::string SaveToBytes() const;

  uint8_t TagByte() const { return tag_byte_; }
  void SetTagByte(uint8_t value) { tag_byte_ = value; }
  bool EmitHeader() const { return emit_header_; }
  void SetEmitHeader(bool value) { emit_header_ = value; }
  bool IndefiniteLength() const { return indefinite_length_; }
  void SetIndefiniteLength(bool value) { indefinite_length_ = value; }

  // Where the element was found in the source it was loaded from.
  int64_t ElementOffset() const { return element_offset_; }
  int64_t ElementSize() const { return element_size_; }
  int32_t HeaderLength() const { return header_length_; }
  int64_t ContentLength() const { return content_length_; }
  int32_t Level() const { return level_; }

 protected:
  friend class TOvASN1TreeBuilder;
  friend class TOvASN1ConstrainedTag;

  // Header and trailer octets for a content of the given length.
  std::string HeaderBytes(int64_t contentLength) const;
  int64_t TrailerLength() const;
  // Writes exactly EncodedLength() octets at out and returns the end.
  virtual uint8_t* WriteEncoding(uint8_t* out) const { return out; }
  bool SaveEncoding(void* buffer, int64_t& size) const;

  uint8_t tag_byte_ = 0;
  bool emit_header_ = true;
  bool indefinite_length_ = false;
  int64_t element_offset_ = 0;
  int64_t element_size_ = 0;
  int32_t header_length_ = 0;
  int64_t content_length_ = 0;
  int32_t level_ = 0;
};

class TOvASN1SimpleTag final : public TOvASN1CustomTag {
 public:
  int64_t EncodedLength() const override;
  bool SaveToBuffer(void* buffer, int64_t& size) const override;
  void SaveToStream(TOvStream& stream) const override;

  // The content octets (read from the stream for a stream region).
  std::string Content() const { return source_.Read(); }
  void SetContent(std::string bytes) { source_.SetBytes(std::move(bytes)); }
  int64_t ContentSize() const { return source_.Size(); }
  const TOvASN1DataSource& DataSource() const { return source_; }
  void SetContentRegion(TOvStream* stream, int64_t offset, int64_t length) {
    source_.SetRegion(stream, offset, length);
  }

  // INTEGER helpers (X.690 8.3). SetIntegerBytes keeps the octets as given and only
  // puts 0x00 in front of a set top bit; SetIntegerValue writes the minimal form of
  // the value taken as unsigned 32-bit.
  void SetIntegerBytes(std::string_view bytes);
  void SetIntegerValue(uint32_t value);
  // The content as a big-endian unsigned number from its last four octets at most.
  uint32_t IntegerValue() const;
  void SetBooleanValue(bool value);
  bool BooleanValue() const;

 protected:
  uint8_t* WriteEncoding(uint8_t* out) const override;

 private:
  TOvASN1DataSource source_;
};

class TOvASN1ConstrainedTag final : public TOvASN1CustomTag {
 public:
  bool IsConstructed() const override { return true; }
  int64_t EncodedLength() const override;
  // Loads the top-level elements of the input as children (the node acts as their
  // container). Errors give false; children created so far stay. Load into an empty node.
  bool LoadFromBuffer(const void* bytes, int64_t size) override;
  bool SaveToBuffer(void* buffer, int64_t& size) const override;
  // Loads count bytes from the stream's position (count 0: up to its end).
  bool LoadFromStream(TOvStream& stream, int64_t count) override;
  void SaveToStream(TOvStream& stream) const override;

  // Load only the first top-level element; the result is the number of octets it
  // occupied, or -1 on any error (an empty input included).
  int64_t LoadSingleFromBuffer(const void* bytes, int64_t size);
  int64_t LoadSingleFromStream(TOvStream& stream, int64_t count);

  int32_t Count() const { return static_cast<int32_t>(children_.size()); }
  // The child, or nullptr when the index is outside 0 .. Count-1.
  TOvASN1CustomTag* GetChild(int32_t index) const;
  // The child when it has that kind, else nullptr.
  TOvASN1SimpleTag* SimpleChild(int32_t index) const;
  TOvASN1ConstrainedTag* ConstrainedChild(int32_t index) const;
  // Appends a new empty child; returns its index.
  int32_t AddChild(bool constructed);
  TOvASN1SimpleTag* AddSimpleChild();
  TOvASN1ConstrainedTag* AddConstrainedChild();
  bool RemoveChild(int32_t index);
  void ClearChildren() { children_.clear(); }

  // The children's contents joined without their headers, when no child is
  // constructed. Two-call sizing as SaveToBuffer; false when a child is constructed.
  bool ConcatenatedContent(void* buffer, int64_t& size) const;

  int32_t MaxInMemoryContent() const { return max_in_memory_content_; }
  void SetMaxInMemoryContent(int32_t value) { max_in_memory_content_ = value; }

 protected:
  uint8_t* WriteEncoding(uint8_t* out) const override;

 private:
  friend class TOvASN1TreeBuilder;

  int64_t ContentEncodedLength() const;
  int64_t LoadBuffer(const void* bytes, int64_t size, bool single);
  int64_t LoadStream(TOvStream& stream, int64_t count, bool single);

  std::vector<std::unique_ptr<TOvASN1CustomTag>> children_;
  int32_t max_in_memory_content_ = 0;
};

// True when the node exists, has that identifier octet and that constructed flag.
bool CheckTag(const TOvASN1CustomTag* node, uint8_t tag, bool constructed);

inline TOvASN1SimpleTag* AsSimple(TOvASN1CustomTag* node) {
  return dynamic_cast<TOvASN1SimpleTag*>(node);
}
inline TOvASN1ConstrainedTag* AsConstrained(TOvASN1CustomTag* node) {
  return dynamic_cast<TOvASN1ConstrainedTag*>(node);
}

// A primitive element with that tag and content, serialised with its header.
std::string WrapInTag(uint8_t tag, std::string_view content);
// The content (serialisation without header) and the identifier octet of the first
// element of the bytes; the input unchanged and tag 0 when it does not load.
std::string UnwrapTag(std::string_view bytes, uint8_t& tag);

}  // namespace corvane
