// Reading a signature dictionary's bytes as they stand in the file.
#include "toolkit/pdf/CvPDF_SignatureShape.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "toolkit/common/CvScope.h"
#include "toolkit/pdf/CvPDFCore.h"

namespace corvane {

namespace {

constexpr int kMaxDepth = 256;
// Longer tokens than this are no numbers, keywords or keys we look at.
constexpr size_t kMaxToken = 4096;
constexpr int kMaxDigits = 18;

// Byte access to a stream through a window that moves with the reads.
class TWindow {
 public:
  explicit TWindow(TOvStream& file) : file_(file), size_(file.Size()) {}
  // The byte at pos, -1 outside the file.
  int At(int64_t pos) {
    if (pos < 0 || pos >= size_) return -1;
    if (pos < start_ || pos >= start_ + static_cast<int64_t>(data_.size())) {
      start_ = pos >= kBack ? pos - kBack : 0;
      file_.SetPosition(start_);
      data_ = file_.ReadString(kBlock);
      if (pos >= start_ + static_cast<int64_t>(data_.size())) return -1;
    }
    return static_cast<uint8_t>(data_[static_cast<size_t>(pos - start_)]);
  }
  int64_t Size() const { return size_; }

 private:
  static constexpr size_t kBlock = size_t{1} << 16;
  static constexpr int64_t kBack = 1024;  // for the look back before %%EOF
  TOvStream& file_;
  int64_t size_;
  int64_t start_ = 0;
  std::string data_;
};

bool IsSpace(int c) {
  return c == 0 || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}
bool IsDelimiter(int c) {
  return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
         c == '}' || c == '/' || c == '%';
}
bool IsRegular(int c) { return c >= 0 && !IsSpace(c) && !IsDelimiter(c); }
int HexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
bool AllDigits(std::string_view text) {
  if (text.empty() || text.size() > kMaxDigits) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}
int64_t DigitsValue(std::string_view text) {
  int64_t value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  return value;
}

class TScanner {
 public:
  explicit TScanner(TWindow& window) : w_(window) {}

  void SkipSpace(int64_t& pos) {
    for (;;) {
      const int c = w_.At(pos);
      if (IsSpace(c)) {
        ++pos;
      } else if (c == '%') {
        while (w_.At(pos) >= 0 && w_.At(pos) != '\r' && w_.At(pos) != '\n') ++pos;
      } else {
        return;
      }
    }
  }

  // A run of regular characters (empty when there is none or it is too long).
  std::string Token(int64_t& pos) {
    std::string text;
    while (IsRegular(w_.At(pos))) {
      if (text.size() == kMaxToken) return {};
      text.push_back(static_cast<char>(w_.At(pos++)));
    }
    return text;
  }

  // A name after its "/", with #xx escapes decoded.
  bool Name(int64_t& pos, std::string& name) {
    if (w_.At(pos) != '/') return false;
    ++pos;
    const std::string raw = Token(pos);
    name.clear();
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '#' && i + 2 < raw.size() && HexValue(raw[i + 1]) >= 0 &&
          HexValue(raw[i + 2]) >= 0) {
        name.push_back(static_cast<char>(HexValue(raw[i + 1]) * 16 + HexValue(raw[i + 2])));
        i += 2;
      } else {
        name.push_back(raw[i]);
      }
    }
    return true;
  }

  // Skips one value; false when the bytes are no value.
  bool SkipValue(int64_t& pos, int depth) {
    if (depth > kMaxDepth) return false;
    SkipSpace(pos);
    const int c = w_.At(pos);
    if (c == '/') {
      std::string name;
      return Name(pos, name);
    }
    if (c == '(') return SkipLiteral(pos);
    if (c == '<' && w_.At(pos + 1) == '<') return SkipUntil(pos, 2, ">>", depth);
    if (c == '<') {
      int64_t end = 0;
      return HexString(pos, end, nullptr) && (pos = end, true);
    }
    if (c == '[') return SkipUntil(pos, 1, "]", depth);
    return !Token(pos).empty();
  }

  // A hex string from its "<" at pos: end is just after its ">".
  bool HexString(int64_t pos, int64_t& end, ByteString* decoded) {
    if (w_.At(pos) != '<') return false;
    int high = -1;
    for (++pos;; ++pos) {
      const int c = w_.At(pos);
      if (c == '>') break;
      if (IsSpace(c)) continue;
      const int digit = HexValue(c);
      if (digit < 0) return false;
      if (high < 0) {
        high = digit;
      } else {
        if (decoded) decoded->push_back(static_cast<char>(high * 16 + digit));
        high = -1;
      }
    }
    if (high >= 0 && decoded) decoded->push_back(static_cast<char>(high * 16));
    end = pos + 1;
    return true;
  }

 private:
  bool SkipLiteral(int64_t& pos) {
    int open = 0;
    for (;; ++pos) {
      const int c = w_.At(pos);
      if (c < 0) return false;
      if (c == '\\') {
        ++pos;
      } else if (c == '(') {
        ++open;
      } else if (c == ')' && --open == 0) {
        ++pos;
        return true;
      }
    }
  }

  bool SkipUntil(int64_t& pos, int64_t opener, std::string_view close, int depth) {
    pos += opener;
    for (;;) {
      SkipSpace(pos);
      if (w_.At(pos) < 0) return false;
      if (w_.At(pos) == close[0] && (close.size() == 1 || w_.At(pos + 1) == close[1])) {
        pos += static_cast<int64_t>(close.size());
        return true;
      }
      const int64_t before = pos;
      if (!SkipValue(pos, depth + 1) || pos == before) return false;
    }
  }

  TWindow& w_;
};

// Just after the %%EOF line that closes the revision: the first %%EOF at or
// after from that follows "startxref" and an offset; -1 when there is none.
int64_t RevisionEndAfter(TWindow& w, int64_t from) {
  static constexpr std::string_view kEOF = "%%EOF";
  static constexpr std::string_view kStartXRef = "startxref";
  for (int64_t at = from; at + static_cast<int64_t>(kEOF.size()) <= w.Size(); ++at) {
    if (w.At(at) != '%') continue;
    bool match = true;
    for (size_t i = 1; i < kEOF.size() && match; ++i)
      match = w.At(at + static_cast<int64_t>(i)) == kEOF[i];
    if (!match) continue;
    // Back over the offset's line to "startxref".
    // (Each run is bounded, so a file full of "%%EOF" stays linear.)
    const int64_t floor = std::max(from, at - 512);
    int64_t back = at - 1;
    while (back >= floor && IsSpace(w.At(back))) --back;
    const int64_t digitsEnd = back;
    while (back >= floor && w.At(back) >= '0' && w.At(back) <= '9') --back;
    if (back == digitsEnd || back < floor || !IsSpace(w.At(back))) continue;
    while (back >= floor && IsSpace(w.At(back))) --back;
    const int64_t keyword = back - static_cast<int64_t>(kStartXRef.size()) + 1;
    if (keyword < floor) continue;
    for (size_t i = 0; i < kStartXRef.size() && match; ++i)
      match = w.At(keyword + static_cast<int64_t>(i)) == kStartXRef[i];
    if (!match) continue;
    int64_t end = at + static_cast<int64_t>(kEOF.size());
    if (w.At(end) == '\r') {
      ++end;
      if (w.At(end) == '\n') ++end;
    } else if (w.At(end) == '\n') {
      ++end;
    }
    return end;
  }
  return -1;
}

}  // namespace

TOvPDFSignatureShape ReadSignatureShape(TOvStream& file, int64_t objectOffset) {
  TOvPDFSignatureShape shape;
  const TCvPositionGuard restore(file);
  TWindow w(file);
  TScanner scan(w);
  int64_t pos = objectOffset;
  auto fail = [&](const char* problem) {
    shape.Problem = problem;
    return shape;
  };
  // N G obj << (or from "obj", where the object reader leaves the offset)
  scan.SkipSpace(pos);
  std::string token = scan.Token(pos);
  if (AllDigits(token)) {
    scan.SkipSpace(pos);
    const bool generation = AllDigits(scan.Token(pos));
    scan.SkipSpace(pos);
    token = generation ? scan.Token(pos) : std::string();
  }
  const bool header = token == "obj";
  scan.SkipSpace(pos);
  if (!header || w.At(pos) != '<' || w.At(pos + 1) != '<')
    return fail("the signature dictionary cannot be read");
  pos += 2;
  std::unordered_set<std::string> keys;
  int ranges = -1;
  for (;;) {
    scan.SkipSpace(pos);
    if (w.At(pos) == '>' && w.At(pos + 1) == '>') {
      pos += 2;
      break;
    }
    std::string key;
    if (!scan.Name(pos, key)) return fail("the signature dictionary cannot be read");
    if (!keys.insert(key).second) return fail("a key of the signature dictionary is given twice");
    scan.SkipSpace(pos);
    if (key == "Contents") {
      if (w.At(pos) != '<' || w.At(pos + 1) == '<' ||
          !scan.HexString(pos, shape.ContentsEnd, &shape.Contents))
        return fail("the signature value is not a hex string");
      shape.ContentsStart = pos;
      pos = shape.ContentsEnd;
    } else if (key == "ByteRange") {
      if (w.At(pos) != '[') return fail("the byte range is not four non-negative integers");
      ++pos;
      ranges = 0;
      for (;;) {
        scan.SkipSpace(pos);
        if (w.At(pos) == ']') {
          ++pos;
          break;
        }
        const std::string number = scan.Token(pos);
        if (ranges == 4 || !AllDigits(number))
          return fail("the byte range is not four non-negative integers");
        shape.ByteRange[ranges++] = DigitsValue(number);
      }
      if (ranges != 4) return fail("the byte range is not four non-negative integers");
    } else {
      const int64_t before = pos;
      if (!scan.SkipValue(pos, 0) || pos == before)
        return fail("the signature dictionary cannot be read");
      // An indirect reference: number, generation, R.
      int64_t after = pos;
      scan.SkipSpace(after);
      const std::string generation = scan.Token(after);
      scan.SkipSpace(after);
      if (AllDigits(generation) && scan.Token(after) == "R") pos = after;
    }
  }
  if (shape.ContentsStart < 0) return fail("the signature value is not a hex string");
  if (ranges != 4) return fail("the byte range is not four non-negative integers");
  shape.RevisionEnd = RevisionEndAfter(w, pos);
  const int64_t* r = shape.ByteRange;
  if (r[0] != 0) return fail("the byte range does not start at the beginning of the file");
  if (r[1] != shape.ContentsStart || r[2] != shape.ContentsEnd)
    return fail("the byte range does not leave out exactly the signature value");
  if (shape.RevisionEnd < 0 || r[2] + r[3] != shape.RevisionEnd)
    return fail("the byte range does not end with the revision of the signature");
  return shape;
}

TOvPDFSignatureShape ReadSignatureShape(TOvStream& file, const TOvPDFDictionary* sigDict) {
  const auto* indirect = sigDict ? dynamic_cast<const TOvPDFIndirect*>(sigDict->Parent()) : nullptr;
  if (!indirect || indirect->InObjectStream) {
    TOvPDFSignatureShape shape;
    shape.Problem = "the signature dictionary is not an object of its own in the file";
    return shape;
  }
  return ReadSignatureShape(file, indirect->SourceOffset);
}

}  // namespace corvane
