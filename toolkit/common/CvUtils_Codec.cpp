// Hex and Base64 codecs with the toolkit's in/out size convention: a call with
// too small a size stores the size needed and reports it, so callers may ask
// with size 0 first.
#include "toolkit/common/CvUtils.h"

#include <limits>

namespace corvane {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

constexpr size_t kBase64LineLength = 64;

// Characters needed for n octets; SIZE_MAX when that does not fit in size_t.
size_t Base64EncodedSize(size_t n, bool wrapLines) {
  constexpr size_t kMax = std::numeric_limits<size_t>::max();
  const size_t groups = n / 3 + (n % 3 != 0 ? 1 : 0);
  if (groups > kMax / 4) return kMax;
  size_t chars = groups * 4;
  if (wrapLines && chars > 0) {
    const size_t lines = (chars + kBase64LineLength - 1) / kBase64LineLength;
    if (chars > kMax - 2 * (lines - 1)) return kMax;
    chars += 2 * (lines - 1);
  }
  return chars;
}

}  // namespace

std::string BytesToHex(std::string_view bytes) {
  std::string out(bytes.size() * 2, '\0');
  for (size_t k = 0; k < bytes.size(); ++k) {
    const auto b = static_cast<uint8_t>(bytes[k]);
    out[2 * k] = kHexDigits[b >> 4];
    out[2 * k + 1] = kHexDigits[b & 0x0F];
  }
  return out;
}

bool HexToBytes(std::string_view text, void* buffer, size_t& size) {
  if (text.size() % 2 != 0) return false;
  const size_t needed = text.size() / 2;
  const bool fits = size >= needed;
  size = needed;
  if (!fits) return false;
  auto* out = static_cast<uint8_t*>(buffer);
  for (size_t k = 0; k < needed; ++k) {
    const int hi = HexValue(text[2 * k]);
    const int lo = HexValue(text[2 * k + 1]);
    if (hi < 0 || lo < 0) throw EConvertError("String contains non-hexadecimal characters");
    out[k] = static_cast<uint8_t>((hi << 4) | lo);
  }
  return true;
}

bool HexToBytes(std::string_view text, ByteString& bytes) {
  if (text.size() % 2 != 0) return false;
  ByteString out(text.size() / 2, '\0');
  size_t size = out.size();
  HexToBytes(text, out.data(), size);
  bytes = std::move(out);
  return true;
}

bool Base64Encode(const void* data, size_t n, char* buffer, size_t& size, bool wrapLines) {
  const size_t needed = Base64EncodedSize(n, wrapLines);
  if (size < needed || needed == std::numeric_limits<size_t>::max()) {
    size = needed;
    return false;
  }
  const auto* in = static_cast<const uint8_t*>(data);
  size_t out = 0;
  size_t line = 0;
  auto put = [&](char c) {
    if (wrapLines && line == kBase64LineLength) {
      buffer[out++] = '\r';
      buffer[out++] = '\n';
      line = 0;
    }
    buffer[out++] = c;
    ++line;
  };
  size_t k = 0;
  for (; k + 3 <= n; k += 3) {
    const uint32_t v = (in[k] << 16) | (in[k + 1] << 8) | in[k + 2];
    put(kBase64Alphabet[(v >> 18) & 0x3F]);
    put(kBase64Alphabet[(v >> 12) & 0x3F]);
    put(kBase64Alphabet[(v >> 6) & 0x3F]);
    put(kBase64Alphabet[v & 0x3F]);
  }
  if (n - k == 1) {
    const uint32_t v = in[k] << 16;
    put(kBase64Alphabet[(v >> 18) & 0x3F]);
    put(kBase64Alphabet[(v >> 12) & 0x3F]);
    put('=');
    put('=');
  } else if (n - k == 2) {
    const uint32_t v = (in[k] << 16) | (in[k + 1] << 8);
    put(kBase64Alphabet[(v >> 18) & 0x3F]);
    put(kBase64Alphabet[(v >> 12) & 0x3F]);
    put(kBase64Alphabet[(v >> 6) & 0x3F]);
    put('=');
  }
  size = out;
  return true;
}

std::string Base64EncodeString(std::string_view data, bool wrapLines) {
  size_t size = 0;
  Base64Encode(data.data(), data.size(), nullptr, size, wrapLines);
  std::string out(size, '\0');
  Base64Encode(data.data(), data.size(), out.data(), size, wrapLines);
  out.resize(size);
  return out;
}

int Base64Decode(const char* text, size_t n, void* buffer, size_t& size) {
  size_t ignored = 0;
  for (size_t k = 0; k < n; ++k)
    if (text[k] == '\0' || text[k] == '\n' || text[k] == '\r') ++ignored;
  if ((n - ignored) % 4 != 0) {
    size = 0;
    return BASE64_INVALID_LENGTH;
  }
  const size_t needed = (n - ignored) / 4 * 3;
  if (size < needed) {
    size = needed;
    return BASE64_BUFFER_TOO_SMALL;
  }
  auto* out = static_cast<uint8_t*>(buffer);
  size_t written = 0;
  uint32_t group = 0;
  int pending = 0;
  int padding = 0;
  for (size_t k = 0; k < n; ++k) {
    const char c = text[k];
    if (c == '\0' || c == '\t' || c == '\n' || c == '\r' || c == ' ') continue;
    if (c == '=') {
      if (++padding > 2) break;
      continue;
    }
    const int v = Base64Value(c);
    // Data after padding would be decoded into the wrong positions.
    if (v < 0 || padding > 0) {
      padding = 3;
      break;
    }
    group = (group << 6) | static_cast<uint32_t>(v);
    if (++pending == 4) {
      out[written++] = static_cast<uint8_t>(group >> 16);
      out[written++] = static_cast<uint8_t>(group >> 8);
      out[written++] = static_cast<uint8_t>(group);
      group = 0;
      pending = 0;
    }
  }
  bool valid = false;
  if (padding == 0) {
    valid = pending == 0;
  } else if (padding == 1 && pending == 3) {
    out[written++] = static_cast<uint8_t>(group >> 10);
    out[written++] = static_cast<uint8_t>(group >> 2);
    valid = true;
  } else if (padding == 2 && pending == 2) {
    out[written++] = static_cast<uint8_t>(group >> 4);
    valid = true;
  }
  if (!valid) {
    size = 0;
    return BASE64_INVALID_DATA;
  }
  size = written;
  return BASE64_OK;
}

int Base64DecodeString(std::string_view text, ByteString& bytes) {
  size_t size = 0;
  int result = Base64Decode(text.data(), text.size(), nullptr, size);
  if (result != BASE64_BUFFER_TOO_SMALL && result != BASE64_OK) return result;
  ByteString out(size, '\0');
  result = Base64Decode(text.data(), text.size(), out.data(), size);
  if (result != BASE64_OK) return result;
  out.resize(size);
  bytes = std::move(out);
  return BASE64_OK;
}

int Base64DecodeUTF16(const void* text, size_t n, void* buffer, size_t& size) {
  if (n % 2 != 0) return BASE64_INVALID_LENGTH;
  const auto* in = static_cast<const uint8_t*>(text);
  const size_t units = n / 2;
  size_t line_breaks = 0;
  for (size_t k = 0; k < units; ++k) {
    const uint16_t unit = static_cast<uint16_t>(in[2 * k] | (in[2 * k + 1] << 8));
    if (unit == '\r' || unit == '\n') ++line_breaks;
  }
  const size_t estimate = (units - line_breaks) / 4 * 3 + (units - line_breaks) % 4 * 3 / 4;
  if (size < estimate) {
    size = estimate + 1;
    return BASE64_BUFFER_TOO_SMALL;
  }
  std::string narrow(units, '\0');
  for (size_t k = 0; k < units; ++k) {
    // A unit beyond Latin-1 is no Base64 character; taking only its low octet
    // would turn, say, U+0141 into "A".
    if (in[2 * k + 1] != 0) {
      size = 0;
      return BASE64_INVALID_DATA;
    }
    narrow[k] = static_cast<char>(in[2 * k]);
  }
  return Base64Decode(narrow.data(), narrow.size(), buffer, size);
}

}  // namespace corvane
