#include "toolkit/asn1/CvASN1Tree.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "toolkit/common/CvScope.h"

namespace corvane {

// --- data source ------------------------------------------------------------------

int64_t TOvASN1DataSource::Size() const {
  switch (mode_) {
    case dmMemory:
      return static_cast<int64_t>(bytes_.size());
    case dmStreamRegion:
      return length_;
    default:
      return 0;
  }
}

void TOvASN1DataSource::SetBytes(std::string bytes) {
  mode_ = dmMemory;
  bytes_ = std::move(bytes);
  stream_ = nullptr;
  offset_ = length_ = 0;
}

void TOvASN1DataSource::SetRegion(TOvStream* stream, int64_t offset, int64_t length) {
  if (stream == nullptr || offset < 0 || length < 0) {
    Clear();
    return;
  }
  if (length == 0) length = std::max<int64_t>(0, stream->Size() - offset);
  mode_ = dmStreamRegion;
  bytes_.clear();
  stream_ = stream;
  offset_ = offset;
  length_ = length;
}

void TOvASN1DataSource::Clear() {
  mode_ = dmEmpty;
  bytes_.clear();
  stream_ = nullptr;
  offset_ = length_ = 0;
}

std::string TOvASN1DataSource::Read() const { return Read(0, Size()); }

std::string TOvASN1DataSource::Read(int64_t offset, int64_t count) const {
  const int64_t size = Size();
  if (offset < 0 || count < 0 || offset > size) return {};
  count = std::min(count, size - offset);
  if (mode_ == dmMemory) {
    return bytes_.substr(static_cast<size_t>(offset), static_cast<size_t>(count));
  }
  if (mode_ != dmStreamRegion || count == 0) return {};
  // Reads leave the stream where the caller had it: the source may be the very
  // stream a tree is being saved to.
  std::string out;
  {
    const TCvPositionGuard restore(*stream_);
    stream_->SetPosition(offset_ + offset);
    out = stream_->ReadString(static_cast<size_t>(count));
  }
  if (static_cast<int64_t>(out.size()) != count) throw EOvASN1Error("End of stream reached");
  return out;
}

// --- tree builder -----------------------------------------------------------------

// Turns the reader's reports into nodes. Constructed elements of both length forms
// are kept on one stack, so a node's Level is always its parent's plus one.
class TOvASN1TreeBuilder {
 public:
  TOvASN1TreeBuilder(TOvASN1ConstrainedTag& root, TOvStream* stream)
      : root_(root), stream_(stream) {}

  void Handle(TOvASN1Element& element) {
    if (element.Kind != aekElement) {
      if (open_.empty()) throw EOvASN1Error("Invalid ASN1 Sequence");
      TOvASN1ConstrainedTag* node = open_.back();
      open_.pop_back();
      if (node->indefinite_length_) {
        node->content_length_ = element.Offset - node->element_offset_ - node->header_length_;
        node->element_size_ = element.Offset + element.HeaderLength - node->element_offset_;
      }
      return;
    }

    TOvASN1ConstrainedTag* parent = open_.empty() ? &root_ : open_.back();
    if (parent->level_ >= ASN1_MAX_TREE_DEPTH) throw EOvASN1Error("Max ASN.1 tree depth exceeded");
    // A node keeps a single identifier octet; multi-octet tag numbers do not occur
    // in the certificates and messages this tree serves.
    if (element.HighTagNumber) throw EOvASN1Error("Invalid ASN1 sequence");

    std::unique_ptr<TOvASN1CustomTag> node;
    TOvASN1ConstrainedTag* constructed = nullptr;
    if (element.Constructed) {
      auto child = std::make_unique<TOvASN1ConstrainedTag>();
      child->max_in_memory_content_ = parent->max_in_memory_content_;
      child->indefinite_length_ = element.Indefinite;
      constructed = child.get();
      node = std::move(child);
    } else {
      auto child = std::make_unique<TOvASN1SimpleTag>();
      if (element.ContentSkipped) {
        child->SetContentRegion(stream_, element.Offset + element.HeaderLength,
                                element.ContentLength);
      } else if (element.Identifier == ASN1_INTEGER && element.Content.empty()) {
        child->SetContent(std::string(1, '\0'));
      } else {
        child->SetContent(std::move(element.Content));
      }
      node = std::move(child);
    }
    node->tag_byte_ = element.Identifier;
    node->level_ = parent->level_ + 1;
    node->element_offset_ = element.Offset;
    node->header_length_ = element.HeaderLength;
    node->content_length_ = element.ContentLength;
    node->element_size_ = element.HeaderLength + element.ContentLength;
    parent->children_.push_back(std::move(node));
    if (constructed != nullptr) open_.push_back(constructed);
  }

 private:
  TOvASN1ConstrainedTag& root_;
  TOvStream* stream_;
  std::vector<TOvASN1ConstrainedTag*> open_;
};

// --- base node --------------------------------------------------------------------

bool TOvASN1CustomTag::LoadFromBuffer(const void*, int64_t) { return false; }

bool TOvASN1CustomTag::SaveToBuffer(void*, int64_t&) const { return false; }

bool TOvASN1CustomTag::LoadFromStream(TOvStream&, int64_t) { return false; }

void TOvASN1CustomTag::SaveToStream(TOvStream&) const {}

std::string TOvASN1CustomTag::SaveToBytes() const {
  std::string out(static_cast<size_t>(EncodedLength()), '\0');
  WriteEncoding(reinterpret_cast<uint8_t*>(out.data()));
  return out;
}

std::string TOvASN1CustomTag::HeaderBytes(int64_t contentLength) const {
  if (!emit_header_) return {};
  // X.690 8.1.3.2: only constructed elements may use the indefinite form.
  if (indefinite_length_ && IsConstructed()) {
    return std::string{static_cast<char>(tag_byte_), static_cast<char>(0x80)};
  }
  return EncodeHeader(tag_byte_, static_cast<uint64_t>(contentLength));
}

int64_t TOvASN1CustomTag::TrailerLength() const {
  return emit_header_ && indefinite_length_ && IsConstructed() ? 2 : 0;
}

bool TOvASN1CustomTag::SaveEncoding(void* buffer, int64_t& size) const {
  const int64_t needed = EncodedLength();
  if (buffer == nullptr || size < needed) {
    size = needed;
    return false;
  }
  WriteEncoding(static_cast<uint8_t*>(buffer));
  size = needed;
  return true;
}

// --- simple node ------------------------------------------------------------------

int64_t TOvASN1SimpleTag::EncodedLength() const {
  const int64_t content = source_.Size();
  return static_cast<int64_t>(HeaderBytes(content).size()) + content;
}

bool TOvASN1SimpleTag::SaveToBuffer(void* buffer, int64_t& size) const {
  return SaveEncoding(buffer, size);
}

uint8_t* TOvASN1SimpleTag::WriteEncoding(uint8_t* out) const {
  const int64_t size = source_.Size();
  const std::string header = HeaderBytes(size);
  out = std::copy(header.begin(), header.end(), out);
  for (int64_t done = 0; done < size; done += ASN1_STREAM_CHUNK) {
    const std::string chunk = source_.Read(done, std::min(ASN1_STREAM_CHUNK, size - done));
    out = std::copy(chunk.begin(), chunk.end(), out);
  }
  return out;
}

void TOvASN1SimpleTag::SaveToStream(TOvStream& stream) const {
  const int64_t size = source_.Size();
  stream.Write(HeaderBytes(size));
  for (int64_t done = 0; done < size; done += ASN1_STREAM_CHUNK) {
    stream.Write(source_.Read(done, std::min(ASN1_STREAM_CHUNK, size - done)));
  }
}

void TOvASN1SimpleTag::SetIntegerBytes(std::string_view bytes) {
  tag_byte_ = ASN1_INTEGER;
  std::string content(bytes);
  // An INTEGER has at least one content octet (X.690 8.3.1).
  if (content.empty() || (static_cast<uint8_t>(content[0]) & 0x80) != 0) content.insert(0, 1, '\0');
  SetContent(std::move(content));
}

void TOvASN1SimpleTag::SetIntegerValue(uint32_t value) {
  tag_byte_ = ASN1_INTEGER;
  std::string content;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char octet = static_cast<char>((value >> shift) & 0xFF);
    if (!content.empty() || octet != 0) content.push_back(octet);
  }
  if (content.empty() || (static_cast<uint8_t>(content[0]) & 0x80) != 0) content.insert(0, 1, '\0');
  SetContent(std::move(content));
}

uint32_t TOvASN1SimpleTag::IntegerValue() const {
  const std::string content = Content();
  uint32_t value = 0;
  const size_t from = content.size() > 4 ? content.size() - 4 : 0;
  for (size_t i = from; i < content.size(); ++i) {
    value = (value << 8) | static_cast<uint8_t>(content[i]);
  }
  return value;
}

void TOvASN1SimpleTag::SetBooleanValue(bool value) {
  tag_byte_ = ASN1_BOOLEAN;
  SetContent(std::string(1, value ? '\xFF' : '\0'));
}

bool TOvASN1SimpleTag::BooleanValue() const { return Content() == "\xFF"; }

// --- constructed node -------------------------------------------------------------

int64_t TOvASN1ConstrainedTag::ContentEncodedLength() const {
  int64_t total = 0;
  for (const auto& child : children_) total += child->EncodedLength();
  return total;
}

int64_t TOvASN1ConstrainedTag::EncodedLength() const {
  const int64_t content = ContentEncodedLength();
  return static_cast<int64_t>(HeaderBytes(content).size()) + content + TrailerLength();
}

uint8_t* TOvASN1ConstrainedTag::WriteEncoding(uint8_t* out) const {
  const std::string header = HeaderBytes(ContentEncodedLength());
  out = std::copy(header.begin(), header.end(), out);
  for (const auto& child : children_) out = child->WriteEncoding(out);
  if (TrailerLength() != 0) {
    *out++ = 0;
    *out++ = 0;
  }
  return out;
}

bool TOvASN1ConstrainedTag::SaveToBuffer(void* buffer, int64_t& size) const {
  return SaveEncoding(buffer, size);
}

void TOvASN1ConstrainedTag::SaveToStream(TOvStream& stream) const {
  stream.Write(HeaderBytes(ContentEncodedLength()));
  for (const auto& child : children_) child->SaveToStream(stream);
  if (TrailerLength() != 0) stream.Write(std::string_view("\0\0", 2));
}

int64_t TOvASN1ConstrainedTag::LoadBuffer(const void* bytes, int64_t size, bool single) {
  if (size < 0 || (bytes == nullptr && size > 0)) return -1;
  try {
    TOvASN1TreeBuilder builder(*this, nullptr);
    TOvASN1Parser parser;
    parser.ReportEndOfContents = true;
    parser.SingleElement = single;
    parser.OnElement = [&builder](TOvASN1Element& element) { builder.Handle(element); };
    const int64_t consumed = parser.ParseBuffer(bytes, static_cast<size_t>(size));
    if (single && consumed == 0) return -1;
    return consumed;
  } catch (const std::exception&) {
    return -1;
  }
}

int64_t TOvASN1ConstrainedTag::LoadStream(TOvStream& stream, int64_t count, bool single) {
  if (count < 0) return -1;
  try {
    const int64_t start = stream.Position();
    const int64_t available = std::max<int64_t>(0, stream.Size() - start);
    if (count == 0 || count > available) count = available;
    TOvASN1TreeBuilder builder(*this, &stream);
    TOvASN1Parser parser;
    parser.ReportEndOfContents = true;
    parser.SingleElement = single;
    parser.MaxDataLength = count;
    parser.BaseOffset = start;
    parser.MaxInMemoryContent = max_in_memory_content_;
    parser.OnRead = [&stream](void* buffer, size_t n) { return stream.Read(buffer, n); };
    parser.OnSkip = [&stream](int64_t n) { stream.Seek(n, TSeekOrigin::soCurrent); };
    parser.OnElement = [&builder](TOvASN1Element& element) { builder.Handle(element); };
    const int64_t consumed = parser.Parse();
    if (single && consumed == 0) return -1;
    return consumed;
  } catch (const std::exception&) {
    return -1;
  }
}

bool TOvASN1ConstrainedTag::LoadFromBuffer(const void* bytes, int64_t size) {
  return LoadBuffer(bytes, size, false) >= 0;
}

bool TOvASN1ConstrainedTag::LoadFromStream(TOvStream& stream, int64_t count) {
  return LoadStream(stream, count, false) >= 0;
}

int64_t TOvASN1ConstrainedTag::LoadSingleFromBuffer(const void* bytes, int64_t size) {
  return LoadBuffer(bytes, size, true);
}

int64_t TOvASN1ConstrainedTag::LoadSingleFromStream(TOvStream& stream, int64_t count) {
  return LoadStream(stream, count, true);
}

TOvASN1CustomTag* TOvASN1ConstrainedTag::GetChild(int32_t index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return children_[static_cast<size_t>(index)].get();
}

TOvASN1SimpleTag* TOvASN1ConstrainedTag::SimpleChild(int32_t index) const {
  return AsSimple(GetChild(index));
}

TOvASN1ConstrainedTag* TOvASN1ConstrainedTag::ConstrainedChild(int32_t index) const {
  return AsConstrained(GetChild(index));
}

int32_t TOvASN1ConstrainedTag::AddChild(bool constructed) {
  if (constructed) {
    children_.push_back(std::make_unique<TOvASN1ConstrainedTag>());
  } else {
    children_.push_back(std::make_unique<TOvASN1SimpleTag>());
  }
  return Count() - 1;
}

TOvASN1SimpleTag* TOvASN1ConstrainedTag::AddSimpleChild() { return SimpleChild(AddChild(false)); }

TOvASN1ConstrainedTag* TOvASN1ConstrainedTag::AddConstrainedChild() {
  return ConstrainedChild(AddChild(true));
}

bool TOvASN1ConstrainedTag::RemoveChild(int32_t index) {
  if (index < 0 || index >= Count()) return false;
  children_.erase(children_.begin() + index);
  return true;
}

bool TOvASN1ConstrainedTag::ConcatenatedContent(void* buffer, int64_t& size) const {
  int64_t needed = 0;
  for (const auto& child : children_) {
    if (child->IsConstructed()) return false;
    needed += static_cast<const TOvASN1SimpleTag&>(*child).ContentSize();
  }
  if (buffer == nullptr || size < needed) {
    size = needed;
    return false;
  }
  auto* out = static_cast<uint8_t*>(buffer);
  for (const auto& child : children_) {
    const std::string content = static_cast<const TOvASN1SimpleTag&>(*child).Content();
    out = std::copy(content.begin(), content.end(), out);
  }
  size = needed;
  return true;
}

// --- free functions ---------------------------------------------------------------

bool CheckTag(const TOvASN1CustomTag* node, uint8_t tag, bool constructed) {
  return node != nullptr && node->TagByte() == tag && node->IsConstructed() == constructed;
}

std::string WrapInTag(uint8_t tag, std::string_view content) {
  TOvASN1SimpleTag node;
  node.SetTagByte(tag);
  node.SetContent(std::string(content));
  return node.SaveToBytes();
}

std::string UnwrapTag(std::string_view bytes, uint8_t& tag) {
  TOvASN1ConstrainedTag root;
  if (root.LoadFromBytes(bytes) && root.Count() > 0) {
    TOvASN1CustomTag* first = root.GetChild(0);
    tag = first->TagByte();
    if (TOvASN1SimpleTag* simple = AsSimple(first)) return simple->Content();
    first->SetEmitHeader(false);
    return first->SaveToBytes();
  }
  tag = 0;
  return std::string(bytes);
}

}  // namespace corvane
