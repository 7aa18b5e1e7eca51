// The lexer and recursive-descent parser (ISO 32000-1 7.2, 7.3), reading
// directly from a seekable stream through a small read-ahead buffer.
#include "toolkit/pdf/CvPDFCore.h"

#include <algorithm>
#include <iterator>

#include "toolkit/common/CvScope.h"

namespace corvane {

namespace {

[[noreturn]] void Fail(const char* message) { throw EOvPDFParseError(message); }
// The same fixed message, with what exactly was wrong for the file's warnings.
[[noreturn]] void Fail(const char* message, const char* detail) {
  throw EOvPDFParseError(message, detail);
}

constexpr uint8_t CR = 0x0D;
constexpr uint8_t LF = 0x0A;

enum class TContainerKind { Array = 1, Dictionary = 2 };

// What ParseObject produced, so that callers need no dynamic_cast for the
// objects the parser itself made.
enum class TParsedKind {
  Other,
  Name,
  Number,
  String,
  Container,
  EndArray,
  EndDictionary,
  Comment,
  Indirect,
  Ref,
  Null,
  NoValue,  // the empty value before "endobj"
  Boolean,
  XRef,
};

}  // namespace

class TCvPDFParser {
 public:
  TCvPDFParser(TOvPDFFile& file, TOvStream& input)
      : file_(file), in_(input), size_(input.Size()), pos_(input.Position()) {}

  TOvPDFObject* ParseObject();
  // Reads the entries of a container kept as text from that text.
  void ParseItemsOf(TOvPDFArray* container);
  // Leaves the input at the first byte not consumed.
  void Finish() { in_.SetPosition(pos_); }
  // The next byte to read (where a failure was noticed).
  int64_t Position() const { return pos_; }
  // What the last ParseObject returned.
  TParsedKind LastKind() const { return kind_; }

  static int64_t FindEndStream(TOvStream& in, int64_t end, int64_t start, int64_t base);

 private:
  // --- reading: one byte of lookahead (cur_), pos_ is the next byte to read ---
  bool ReadNext() {
    if (pos_ >= size_) {
      eof_ = true;
      return false;
    }
    if (pos_ < buf_start_ || pos_ >= buf_start_ + static_cast<int64_t>(buf_.size())) Fill();
    if (buf_.empty()) {
      eof_ = true;
      return false;
    }
    cur_ = static_cast<uint8_t>(buf_[static_cast<size_t>(pos_ - buf_start_)]);
    ++pos_;
    eof_ = false;
    return true;
  }
  void Fill() {
    // Most objects are small: read a little first, more as it is needed.
    const size_t want = fills_ >= 4 ? kChunk : kFirstChunk << fills_;
    ++fills_;
    buf_.resize(want);
    in_.SetPosition(pos_);
    buf_.resize(in_.Read(buf_.data(), want));
    buf_start_ = pos_;
    file_.parse_read_ += static_cast<int64_t>(buf_.size());
  }
  void StepBack() {
    --pos_;
    eof_ = false;
  }
  void SeekTo(int64_t position) {
    pos_ = position;
    eof_ = false;
  }
  int64_t CurOffset() const { return pos_ - 1; }
  // Skips whitespace; true when a name follows (the input is left at its "/").
  bool NextIsName() {
    while (ReadNext() && IsPdfWhitespace(cur_)) {
    }
    if (eof_) return false;
    StepBack();
    return cur_ == '/';
  }

  std::string CollectWhitespace() {
    std::string out;
    while (!eof_ && IsPdfWhitespace(cur_)) {
      out += static_cast<char>(cur_);
      ReadNext();
    }
    return out;
  }
  std::string CollectRegular() {
    std::string out;
    while (!eof_ && IsPdfRegular(cur_)) {
      out += static_cast<char>(cur_);
      ReadNext();
    }
    return out;
  }
  // A comment ends a token like whitespace does (ISO 32000-1 7.2.3): the
  // comments from the current byte on, each with the whitespace after it,
  // as text. Every round consumes at least the "%".
  std::string CollectComments() {
    std::string out;
    while (!eof_ && cur_ == '%') {
      out += CollectLine();
      out += CollectWhitespace();
    }
    return out;
  }
  std::string CollectLine() {
    std::string out;
    while (!eof_ && cur_ != CR && cur_ != LF) {
      out += static_cast<char>(cur_);
      ReadNext();
    }
    return out;
  }

  TOvPDFObject* ParseLiteralString();
  TOvPDFObject* ParseHexString();
  TOvPDFObject* ParseComment();
  // start: where its "<<" or "[" is.
  TOvPDFObject* ParseContainerObject(TContainerKind kind, std::string openSpace, int64_t start);
  // The input's bytes from start up to the next byte to read.
  std::string SourceText(int64_t start);
  void ParseContainer(TOvPDFArray* container, TContainerKind kind);
  TOvPDFObject* ParseKeyword(bool& repositioned, TParsedKind& kind);
  TOvPDFObject* ParseIndirectBody();
  TOvPDFStream* ParseStreamBody(TOvPDFDictionary* dictionary);
  TOvPDFXRef* ParseXRefSection(bool withTable);

  static constexpr size_t kFirstChunk = 512;
  static constexpr int64_t kStartXRefWindow = 256;
  static constexpr size_t kChunk = 8192;

  TOvPDFFile& file_;
  TOvStream& in_;
  int64_t size_;
  int64_t pos_;
  std::string buf_;
  int64_t buf_start_ = 0;
  uint8_t cur_ = 0;
  bool eof_ = false;
  int fills_ = 0;
  TParsedKind kind_ = TParsedKind::Other;
  // How many containers the parser is inside, and the most it has been
  // inside while reading the current container.
  int containers_ = 0;
  int deepest_ = 0;
  static constexpr int kMaxLevelsKeptAsText = 8;
};

TOvPDFObject* TOvPDFFile::ParseObject(TOvStream& input) {
  TCvPDFParser parser(*this, input);
  TOvPDFObject* obj = nullptr;
  try {
    obj = parser.ParseObject();
  } catch (EOvPDFParseError& e) {
    if (e.Offset < 0) e.Offset = std::max<int64_t>(parser.Position() - 1, 0);
    throw;
  }
  parser.Finish();
  return obj;
}

// Nesting is counted per file, so objects loaded while parsing (an indirect
// /Length, an object stream) share one budget.
class TCvDepthGuard {
 public:
  explicit TCvDepthGuard(int& depth) : depth_(depth) {
    if (++depth_ > PDF_MAX_NESTING) {
      --depth_;
      Fail("Bad object", "nested too deep");
    }
  }
  ~TCvDepthGuard() { --depth_; }
  TCvDepthGuard(const TCvDepthGuard&) = delete;
  TCvDepthGuard& operator=(const TCvDepthGuard&) = delete;

 private:
  int& depth_;
};

TOvPDFObject* TCvPDFParser::ParseObject() {
  const TCvDepthGuard guard(file_.parse_depth_);
  ReadNext();
  while (!eof_ && IsPdfWhitespace(cur_)) ReadNext();
  if (eof_) return nullptr;
  const int64_t start = CurOffset();
  bool repositioned = false;
  TOvPDFObject* obj = nullptr;
  TParsedKind kind = TParsedKind::Other;
  switch (cur_) {
    case '/': {
      std::string text = "/";
      if (!ReadNext()) Fail("Unexpected EOF");
      text += CollectRegular();
      auto* name = file_.NewObject<TOvPDFName>();
      name->TrailingSpace = CollectWhitespace();
      name->SetData(text);
      obj = name;
      kind = TParsedKind::Name;
      break;
    }
    case '+':
    case '-':
    case '.':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9': {
      const std::string text = CollectRegular();
      auto* number = file_.NewObject<TOvPDFReal>();
      number->TrailingSpace = CollectWhitespace();
      number->SetData(text);
      obj = number;
      kind = TParsedKind::Number;
      break;
    }
    case '(':
      obj = ParseLiteralString();
      kind = TParsedKind::String;
      break;
    case '<':
      if (!ReadNext()) Fail("Unexpected EOF");
      if (cur_ != '<') {
        obj = ParseHexString();
        kind = TParsedKind::String;
      } else {
        if (!ReadNext()) Fail("Unexpected EOF");
        std::string openSpace = CollectWhitespace();
        if (!eof_) StepBack();
        obj = ParseContainerObject(TContainerKind::Dictionary, std::move(openSpace), start);
        kind = TParsedKind::Container;
      }
      break;
    case '[': {
      if (!ReadNext()) Fail("Unexpected EOF");
      std::string openSpace = CollectWhitespace();
      if (!eof_) StepBack();
      obj = ParseContainerObject(TContainerKind::Array, std::move(openSpace), start);
      kind = TParsedKind::Container;
      break;
    }
    case ']': {
      ReadNext();
      obj = file_.NewObject<TPDFEndA>();
      obj->Data = "]";
      obj->TrailingSpace.clear();
      kind = TParsedKind::EndArray;
      break;
    }
    case '>': {
      if (!ReadNext()) Fail("Unexpected EOF");
      if (cur_ != '>') Fail("Bad object", "'>' not followed by '>'");
      ReadNext();
      obj = file_.NewObject<TPDFEndD>();
      obj->Data = ">>";
      obj->TrailingSpace.clear();
      kind = TParsedKind::EndDictionary;
      break;
    }
    case '%':
      obj = ParseComment();
      kind = TParsedKind::Comment;
      break;
    default:
      obj = ParseKeyword(repositioned, kind);
      break;
  }
  if (!eof_ && !repositioned) StepBack();
  obj->SourceOffset = start;
  obj->keepsWritePosition_ = kind == TParsedKind::Indirect;
  kind_ = kind;
  return obj;
}

TOvPDFObject* TCvPDFParser::ParseLiteralString() {
  const int64_t start = CurOffset();
  std::string text;
  int depth = 0;
  bool escaped = false;
  bool closed = false;
  for (;;) {
    const uint8_t c = cur_;
    text += static_cast<char>(c);
    if (escaped) {
      escaped = false;
    } else if (c == '\\') {
      escaped = true;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      // The opening parenthesis counts as depth 1.
      closed = depth < 2;
      --depth;
      if (closed) break;
    }
    if (!ReadNext()) break;
  }
  ReadNext();
  if (!closed || escaped || depth != 0) {
    // Reported where the string starts: its end is wherever reading gave up.
    EOvPDFParseError error("Illegal string",
                           closed ? "unbalanced parentheses" : "string never closed");
    error.Offset = start;
    throw error;
  }
  auto* str = file_.NewObject<TOvPDFString>();
  str->TrailingSpace = CollectWhitespace();
  str->SetData(text);
  return str;
}

TOvPDFObject* TCvPDFParser::ParseHexString() {
  // Whitespace and stray bytes inside are dropped (ISO 32000-1 7.3.4.3).
  std::string text = "<";
  while (!eof_ && cur_ != '>') {
    if (IsHexDigit(cur_)) text += static_cast<char>(cur_);
    ReadNext();
  }
  if (eof_) Fail("Unexpected EOF");
  text += '>';
  // A hexadecimal string may end the input (the last object of an object
  // stream often does).
  ReadNext();
  auto* str = file_.NewObject<TOvPDFString>();
  str->TrailingSpace = CollectWhitespace();
  str->SetData(text);
  return str;
}

TOvPDFObject* TCvPDFParser::ParseComment() {
  std::string text = "%";
  if (!ReadNext()) Fail("Unexpected EOF");
  text += CollectLine();
  if (!eof_) {
    text += static_cast<char>(cur_);
    if (cur_ == CR) {
      if (ReadNext() && cur_ == LF) {
        text += static_cast<char>(LF);
        ReadNext();
      }
    } else {
      ReadNext();
    }
  }
  auto* comment = file_.NewObject<TOvPDFComment>();
  comment->TrailingSpace = CollectWhitespace();
  comment->SetData(text);
  return comment;
}

TOvPDFObject* TCvPDFParser::ParseContainerObject(TContainerKind kind, std::string openSpace,
                                                 int64_t start) {
  TOvPDFArray* container = kind == TContainerKind::Dictionary
                               ? static_cast<TOvPDFArray*>(file_.NewDictionary())
                               : file_.NewArray();
  // Everything made after the container, up to its end, is its contents.
  const size_t contents = file_.registry_.size();
  const int outerDeepest = deepest_;
  deepest_ = containers_;
  container->OpenSpace = std::move(openSpace);
  {
    const TCvDepthGuard inside(containers_);
    deepest_ = std::max(deepest_, containers_);
    ParseContainer(container, kind);
  }
  const int levels = deepest_ - containers_ - 1;  // of containers inside this one
  deepest_ = std::max(outerDeepest, deepest_);
  // Kept as text: the containers right inside the outermost one, when they
  // do not nest deeply. Reading them again level by level then costs at most
  // a few times their length, however the input is made.
  const bool asText = containers_ == 1 && levels <= kMaxLevelsKeptAsText && !file_.peeking_;
  std::string text;
  if (asText) text = SourceText(start);
  ReadNext();
  container->TrailingSpace = CollectWhitespace();
  container->modified_ = true;
  if (asText) {
    // Its text costs a fraction of its objects; they are made again when its
    // entries are asked for. (A peek frees everything anyway.)
    container->Data = text;
    container->items_ = {};
    file_.DestroyNewest(contents);
    container->unread_ = true;
  } else {
    // The text is produced when the container is written (writers always
    // rebuild first): a parsed document mostly stays unwritten, and a copy
    // of the text at every nesting level would cost more than the objects.
    container->Data.clear();
    container->textPending_ = true;
  }
  return container;
}

std::string TCvPDFParser::SourceText(int64_t start) {
  const int64_t end = pos_;
  const int64_t bufferEnd = buf_start_ + static_cast<int64_t>(buf_.size());
  if (start >= buf_start_ && end <= bufferEnd) {
    return buf_.substr(static_cast<size_t>(start - buf_start_), static_cast<size_t>(end - start));
  }
  // Longer than what is buffered: read again (Fill always seeks first).
  std::string text(static_cast<size_t>(end - start), '\0');
  in_.SetPosition(start);
  if (in_.Read(text.data(), text.size()) != text.size()) Fail("Unexpected EOF");
  return text;
}

void TCvPDFParser::ParseItemsOf(TOvPDFArray* container) {
  const TCvDepthGuard guard(file_.parse_depth_);
  const bool isDict = dynamic_cast<TOvPDFDictionary*>(container) != nullptr;
  // Past "<<" or "[" and the space after it (the container has it already).
  ReadNext();
  if (isDict) ReadNext();
  if (!ReadNext()) Fail("Unexpected EOF");
  CollectWhitespace();
  if (!eof_) StepBack();
  const TCvDepthGuard inside(containers_);
  ParseContainer(container, isDict ? TContainerKind::Dictionary : TContainerKind::Array);
}

void TOvPDFArray::ReadItems() {
  if (!Owner()) throw EOvPDFTypeError("Internal error");
  // A container made during a peek is never left as text; one loaded before
  // gets its entries for good, or they would be freed under it.
  const TCvScopedValue<bool> forGood(Owner()->peeking_, false);
  TOvMemoryStream input(Data.str());
  TCvPDFParser parser(*Owner(), input);
  parser.ParseItemsOf(this);
  unread_ = false;
  // Read, the container is written from its entries again, as any parsed
  // one (unless its text was frozen).
  if (modified_) {
    Data.clear();
    textPending_ = true;
  }
}

void TCvPDFParser::ParseContainer(TOvPDFArray* container, TContainerKind kind) {
  const bool isDict = kind == TContainerKind::Dictionary;
  TOvPDFReal* held[2] = {nullptr, nullptr};
  int heldCount = 0;
  // The pending key of a dictionary and what followed it; the name object
  // itself is released at once, only its text is kept.
  bool hasKey = false;
  std::string key;
  TCvPDFSpace keySpace;
  TCvPDFSpace* lastSpace = &container->OpenSpace;  // where a comment is folded into
  // Items are gathered in the file's scratch list for this nesting level and
  // given to the container in one allocation of the right size.
  const auto level = static_cast<size_t>(file_.parse_depth_);
  while (file_.parse_items_.size() <= level) file_.parse_items_.emplace_back();
  std::vector<TOvPDFArray::TItem>& items = file_.parse_items_[level];
  items.clear();

  auto addItem = [&](TOvPDFObject* item, bool isContainer) {
    if (isDict) {
      if (!hasKey) Fail("Bad object", "dictionary value without a key");
      // For an array LeadingSpace is its item separator, not the key's space.
      if (!isContainer) item->LeadingSpace = keySpace;
      items.push_back(TOvPDFArray::TItem{key, item, keySpace, true});
      hasKey = false;
    } else {
      items.push_back(TOvPDFArray::TItem{{}, item, {}, false});
    }
    item->parent_ = container;
  };
  auto flush = [&]() {
    if (heldCount == 0) return;
    if (isDict && heldCount == 2)
      Fail("Bad object", "two numbers where a dictionary value belongs");
    for (int i = 0; i < heldCount; ++i) addItem(held[i], false);
    heldCount = 0;
  };

  while (pos_ <= size_) {
    // A dictionary key is read as text: no object is made only to be dropped.
    if (isDict && NextIsName()) {
      flush();
      if (!hasKey) {
        ReadNext();
        std::string text = "/";
        if (!ReadNext()) Fail("Unexpected EOF");
        text += CollectRegular();
        keySpace = CollectWhitespace();
        if (!eof_) StepBack();
        TOvPDFName::DecodeName(text, key);
        hasKey = true;
        lastSpace = &keySpace;
        continue;
      }
    }
    TOvPDFObject* item = ParseObject();
    if (!item) break;
    const TParsedKind parsed = kind_;
    if (parsed == TParsedKind::Comment) {
      auto* comment = static_cast<TOvPDFComment*>(item);
      // Comments are not items; keep their text as whitespace of what precedes
      // them so the container still reads (and separates) as it did.
      std::string text = comment->Data.str();
      if (text.back() != '\n' && text.back() != '\r') text += '\n';
      text += comment->TrailingSpace;
      *lastSpace += text;
      file_.ReleaseScratch(comment);
      continue;
    }
    // "endobj" before the container closed (the empty value it stands for
    // would be read again and again).
    if (parsed == TParsedKind::NoValue) Fail("Bad object", "endobj inside an array or dictionary");
    if (parsed == TParsedKind::EndArray) {
      if (isDict) Fail("Bad object", "dictionary closed by ']'");
      file_.ReleaseScratch(item);
      break;
    }
    if (parsed == TParsedKind::EndDictionary) {
      if (!isDict) Fail("Bad object", "array closed by '>>'");
      file_.ReleaseScratch(item);
      break;
    }
    auto* number = parsed == TParsedKind::Number ? static_cast<TOvPDFReal*>(item) : nullptr;
    const bool isInt = number && number->IsInteger();
    auto* indirect = parsed == TParsedKind::Indirect ? static_cast<TOvPDFIndirect*>(item) : nullptr;
    auto* ref = parsed == TParsedKind::Ref ? static_cast<TOvPDFRef*>(item) : nullptr;
    if (!isInt && !indirect && !ref) flush();
    if (isDict && !hasKey) {
      auto* name = parsed == TParsedKind::Name ? static_cast<TOvPDFName*>(item) : nullptr;
      if (!name) {
        EOvPDFParseError error("Bad object", "dictionary key is not a name");
        error.Offset = item->SourceOffset;
        throw error;
      }
      flush();
      key = name->GetName();
      keySpace = std::move(name->TrailingSpace);
      hasKey = true;
      lastSpace = &keySpace;
      file_.ReleaseScratch(name);
      continue;
    }
    lastSpace = &item->TrailingSpace;
    if (isInt) {
      if (heldCount == 2) {
        addItem(held[0], false);
        held[0] = held[1];
        heldCount = 1;
      }
      held[heldCount++] = number;
      continue;
    }
    if (indirect || ref) {
      if (heldCount != 2) Fail(indirect ? "Invalid indirect object" : "Invalid reference");
      if (indirect) {
        indirect->Renumber(held[0]->AsInt(), held[1]->AsInt());
      } else {
        ref->SetTarget(held[0]->AsInt(), held[1]->AsInt());
        file_.highest_reference_ = std::max(file_.highest_reference_, ref->Number);
      }
      // The two numbers live on only as the reference's own.
      file_.ReleaseScratch(held[1]);
      file_.ReleaseScratch(held[0]);
      heldCount = 0;
    }
    addItem(item, parsed == TParsedKind::Container);
  }
  flush();
  container->items_.assign(std::make_move_iterator(items.begin()),
                           std::make_move_iterator(items.end()));
  items.clear();
  // A huge container once read must not keep its room for the life of the file.
  if (items.capacity() > 4096) items.shrink_to_fit();
}

TOvPDFObject* TCvPDFParser::ParseKeyword(bool& repositioned, TParsedKind& kind) {
  const int64_t keywordStart = CurOffset();
  const std::string keyword = CollectRegular();
  if (keyword == "obj") {
    TOvPDFObject* indirect = ParseIndirectBody();
    kind = TParsedKind::Indirect;
    return indirect;
  }
  if (keyword == "R") {
    kind = TParsedKind::Ref;
    auto* ref = file_.NewObject<TOvPDFRef>();
    ref->Data = "R";
    ref->TrailingSpace = CollectWhitespace();
    return ref;
  }
  if (keyword == "null") {
    kind = TParsedKind::Null;
    auto* null = file_.NewNull();
    null->TrailingSpace = CollectWhitespace();
    return null;
  }
  if (keyword == "true" || keyword == "false") {
    kind = TParsedKind::Boolean;
    auto* boolean = file_.NewObject<TOvPDFBoolean>();
    boolean->Data = keyword;
    boolean->TrailingSpace = CollectWhitespace();
    return boolean;
  }
  if (keyword == "xref" || keyword == "trailer") {
    TOvPDFObject* section = ParseXRefSection(keyword == "xref");
    kind = TParsedKind::XRef;
    return section;
  }
  if (keyword == "endobj") {
    kind = TParsedKind::NoValue;
    // An object with no value; the caller reads "endobj" again.
    auto* null = file_.NewNull();
    null->Data.clear();
    null->TrailingSpace.clear();
    SeekTo(keywordStart);
    repositioned = true;
    return null;
  }
  Fail("Unexpected character");
}

TOvPDFObject* TCvPDFParser::ParseIndirectBody() {
  std::string openSpace = CollectWhitespace();
  if (!eof_) StepBack();
  TOvPDFObject* value = ParseObject();
  if (!ReadNext()) Fail("Unexpected EOF");
  // Comments before the value stay with the whitespace after "obj".
  while (value && kind_ == TParsedKind::Comment) {
    auto* comment = static_cast<TOvPDFComment*>(value);
    openSpace += comment->Data;
    if (openSpace.back() != '\n' && openSpace.back() != '\r') openSpace += '\n';
    openSpace += comment->TrailingSpace;
    file_.ReleaseScratch(comment);
    openSpace += CollectWhitespace();
    if (!eof_) StepBack();
    value = ParseObject();
    if (!ReadNext()) Fail("Unexpected EOF");
  }
  if (value && (kind_ == TParsedKind::EndArray || kind_ == TParsedKind::EndDictionary ||
                kind_ == TParsedKind::Indirect || kind_ == TParsedKind::XRef)) {
    Fail("Bad object", "an indirect object holds no value");
  }
  // Comments between the value and its keyword stay with the value's space.
  if (value) value->TrailingSpace += CollectComments();
  std::string keyword = CollectRegular();
  if (keyword == "stream") {
    auto* dictionary = dynamic_cast<TOvPDFDictionary*>(value);
    if (!dictionary) Fail("Illegal stream dictionary");
    value = ParseStreamBody(dictionary);
    value->TrailingSpace += CollectComments();
    keyword = CollectRegular();
  }
  if (keyword != "endobj") Fail("Bad object", "indirect object not ended by endobj");
  auto* indirect = file_.NewObject<TOvPDFIndirect>();
  indirect->TrailingSpace = CollectWhitespace();
  indirect->OpenSpace = std::move(openSpace);
  indirect->Value = value;
  value->parent_ = indirect;
  indirect->Renumber(0, 0);
  return indirect;
}

TOvPDFStream* TCvPDFParser::ParseStreamBody(TOvPDFDictionary* dictionary) {
  if (eof_) Fail("Unexpected EOF");
  // The line end after "stream" (spaces before it are tolerated and kept).
  std::string lineEnd;
  while (!eof_ && cur_ == ' ') {
    lineEnd += ' ';
    ReadNext();
  }
  if (eof_) Fail("Unexpected EOF");
  if (cur_ == CR) {
    lineEnd += static_cast<char>(CR);
    if (!ReadNext()) Fail("Unexpected EOF");
  }
  if (cur_ == LF) {
    lineEnd += static_cast<char>(LF);
    ReadNext();
  }
  const int64_t dataOffset = eof_ ? pos_ : CurOffset();

  int64_t length = -1;
  TOvPDFObject* lengthEntry = GetEntry(dictionary, "Length");
  if (auto* ref = dynamic_cast<TOvPDFRef*>(lengthEntry)) {
    int64_t loaded = 0;
    if (file_.LoadLengthValue(ref->Number, ref->Generation, loaded)) length = loaded;
  } else if (auto* number = dynamic_cast<TOvPDFReal*>(lengthEntry)) {
    if (!TryStrToInt64(number->Data, length)) Fail("Illegal stream dictionary");
  } else if (lengthEntry) {
    Fail("Illegal stream dictionary");
  }
  // A length that is negative or runs past the input is a lie like any
  // other: the end of the data is searched for.
  const bool known = length >= 0 && length < size_ - dataOffset - 1;
  int64_t dataLength = known ? length : 0;
  if (dataOffset + 1 >= size_) Fail("Invalid stream data");

  std::string closeSpace;
  auto readEnd = [&]() {
    SeekTo(dataOffset + dataLength);
    ReadNext();
    closeSpace = CollectWhitespace();
    return CollectRegular();
  };
  std::string keyword = readEnd();
  if (keyword != "endstream") {
    int64_t found = -1;
    if (known) found = FindEndStream(in_, dataLength + 1000, dataLength - 1000, dataOffset);
    if (found < 0) found = FindEndStream(in_, size_ - dataOffset - 10, 0, dataOffset);
    if (found < 0) Fail("Invalid stream data");
    file_.AddWarning(dataOffset, -1,
                     "stream data length " +
                         (known ? std::to_string(length) : std::string("unknown")) +
                         " corrected to " + std::to_string(found));
    dataLength = found;
    keyword = readEnd();
    if (keyword != "endstream") Fail("Invalid stream data");
  }

  auto* stream = file_.NewObject<TOvPDFStream>();
  stream->Data = "stream" + lineEnd;
  stream->OpenSpace = lineEnd;
  stream->InMemory = false;
  stream->DataOffset = dataOffset;
  stream->DataLength = dataLength;
  stream->CloseSpace = closeSpace;
  stream->Tail = closeSpace + "endstream";
  stream->TrailingSpace = CollectWhitespace();
  stream->Dictionary = dictionary;
  dictionary->parent_ = stream;
  stream->Source = &in_;
  stream->Invalid = false;
  return stream;
}

int64_t TCvPDFParser::FindEndStream(TOvStream& in, int64_t end, int64_t start, int64_t base) {
  static constexpr std::string_view kKeyword = "endstream";
  const int64_t size = in.Size();
  if (start < 0) start = 0;
  if (end < 0 || base + end > size) end = size - base;
  const int64_t first = base + start;
  // A match may start at any byte up to base + end.
  const int64_t last = std::min(size, base + end + static_cast<int64_t>(kKeyword.size()));
  if (first >= last) return -1;
  const TCvPositionGuard restore(in);
  constexpr size_t kWindow = size_t{64} * 1024;
  std::string window;
  int64_t windowStart = first;
  int64_t result = -1;
  while (windowStart < last && result < 0) {
    const auto want = static_cast<size_t>(std::min<int64_t>(last - windowStart, kWindow));
    window.resize(want);
    in.SetPosition(windowStart);
    window.resize(in.Read(window.data(), want));
    if (window.empty()) break;
    size_t from = 0;
    for (;;) {
      const size_t hit = window.find(kKeyword, from);
      if (hit == std::string::npos) break;
      const int64_t at = windowStart + static_cast<int64_t>(hit);
      if (at > base + end) break;
      // The match counts when whitespace and the keyword "endobj" follow.
      in.SetPosition(at + static_cast<int64_t>(kKeyword.size()));
      std::string after = in.ReadString(1024);
      size_t i = 0;
      while (i < after.size() && IsPdfWhitespace(static_cast<uint8_t>(after[i]))) ++i;
      size_t j = i;
      while (j < after.size() && IsPdfRegular(static_cast<uint8_t>(after[j]))) ++j;
      if (after.compare(i, j - i, "endobj") == 0 && j - i == 6) {
        result = at - base;
        break;
      }
      from = hit + 1;
    }
    const int64_t windowEnd = windowStart + static_cast<int64_t>(window.size());
    if (windowEnd >= last || window.size() < want || window.size() <= kKeyword.size()) break;
    // Overlap so that a keyword split across windows is still found.
    windowStart = windowEnd - static_cast<int64_t>(kKeyword.size()) + 1;
  }
  return result;
}

TOvPDFXRef* TCvPDFParser::ParseXRefSection(bool withTable) {
  std::string text;
  if (withTable) {
    text = "xref" + CollectWhitespace();
    std::string token;
    for (;;) {
      token = CollectRegular();
      int64_t first = 0;
      if (!TryStrToInt64(token, first) || first < 0) break;
      text += token + CollectWhitespace();
      const std::string countToken = CollectRegular();
      int64_t count = 0;
      if (!TryStrToInt64(countToken, count) || count < 0) Fail("Invalid reference table");
      text += countToken + CollectWhitespace();
      for (int64_t i = 0; i < count; ++i) {
        if (eof_) Fail("Invalid reference table");
        text += CollectLine();
        text += CollectWhitespace();
      }
    }
    if (token != "trailer") Fail("Invalid reference table");
    text += token;
  } else {
    text = "trailer";
  }
  text += CollectWhitespace();
  if (!eof_) StepBack();
  TOvPDFObject* parsed = ParseObject();
  // Comments before the trailer dictionary are kept in the section's text.
  while (parsed && kind_ == TParsedKind::Comment) {
    text += parsed->Data.str() + std::string(parsed->TrailingSpace);
    file_.ReleaseScratch(parsed);
    parsed = ParseObject();
  }
  auto* dictionary = dynamic_cast<TOvPDFDictionary*>(parsed);
  if (!dictionary) Fail("Invalid reference table");
  ReadNext();
  dictionary->Rebuild();
  text += dictionary->Data + dictionary->TrailingSpace + CollectWhitespace();
  // Up to "startxref"; what lies between is not kept. Only a short stretch
  // is searched: in a chain of sections the next "startxref" may be at the
  // end of the file, and reading a section must not cost the rest of it.
  const bool atEnd = eof_;
  const int64_t resume = pos_;
  const int64_t limit = resume + kStartXRefWindow;
  bool found = false;
  while (!eof_ && pos_ <= limit) {
    if (!IsPdfRegular(cur_)) {
      ReadNext();
      continue;
    }
    std::string token;
    while (!eof_ && IsPdfRegular(cur_) && pos_ <= limit) {
      if (token.size() < 10) token += static_cast<char>(cur_);
      ReadNext();
    }
    if (token == "startxref" && (eof_ || !IsPdfRegular(cur_))) {
      found = true;
      break;
    }
  }
  if (!found && !atEnd) {
    // Nothing is consumed after the trailer's whitespace.
    SeekTo(resume - 1);
    ReadNext();
  }
  if (found) {
    text += "startxref" + CollectWhitespace();
    text += CollectLine();
    text += CollectWhitespace();
    text += CollectLine();
    text += CollectWhitespace();
  }
  auto* xref = file_.NewObject<TOvPDFXRef>();
  xref->Data = text;
  xref->TrailingSpace.clear();
  xref->OpenSpace.clear();
  xref->Dictionary = dictionary;
  dictionary->parent_ = xref;
  return xref;
}

}  // namespace corvane
