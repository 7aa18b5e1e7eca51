// Table-driven AES: the round function of FIPS-197 5.1 folded into four
// 32-bit lookups per column, decryption by the equivalent inverse cipher
// (FIPS-197 5.3.5). The tables are computed at compile time from the field
// arithmetic, so no hand-typed constant can be wrong.
#include "toolkit/crypto/CvAES.h"

#include <array>
#include <cstring>

#include "toolkit/common/CvErrors.h"

namespace corvane {

namespace {

constexpr uint8_t XTime(uint8_t x) {
  return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0));
}

constexpr uint8_t Mul(uint8_t a, uint8_t b) {
  uint8_t result = 0;
  while (b) {
    if (b & 1) result ^= a;
    a = XTime(a);
    b >>= 1;
  }
  return result;
}

constexpr uint8_t Rotl8(uint8_t x, int n) {
  return static_cast<uint8_t>((x << n) | (x >> (8 - n)));
}

// FIPS-197 5.1.1: multiplicative inverse in GF(2^8), then the affine map.
// The inverses come from powers of the generator 3 (x^-1 = 3^(255 - log x)),
// which keeps the work small enough for every compiler's constant evaluator.
constexpr std::array<uint8_t, 256> MakeSBox() {
  std::array<uint8_t, 256> power{}, log{};
  uint8_t p = 1;
  for (int i = 0; i < 255; ++i) {
    power[i] = p;
    log[p] = static_cast<uint8_t>(i);
    p = static_cast<uint8_t>(p ^ XTime(p));  // p * 3
  }
  std::array<uint8_t, 256> box{};
  for (int x = 0; x < 256; ++x) {
    const uint8_t inverse = x == 0 ? 0 : power[(255 - log[x]) % 255];
    box[x] = static_cast<uint8_t>(inverse ^ Rotl8(inverse, 1) ^ Rotl8(inverse, 2) ^
                                  Rotl8(inverse, 3) ^ Rotl8(inverse, 4) ^ 0x63);
  }
  return box;
}

constexpr std::array<uint8_t, 256> kSBox = MakeSBox();

constexpr std::array<uint8_t, 256> MakeInvSBox() {
  std::array<uint8_t, 256> box{};
  for (int x = 0; x < 256; ++x) box[kSBox[x]] = static_cast<uint8_t>(x);
  return box;
}

constexpr std::array<uint8_t, 256> kInvSBox = MakeInvSBox();

constexpr uint32_t Word(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return (uint32_t{b0} << 24) | (uint32_t{b1} << 16) | (uint32_t{b2} << 8) | b3;
}

constexpr uint32_t Ror(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// Te0[x] is the MixColumns column of SubBytes(x) in row 0; the other rows are
// rotations of it.
constexpr std::array<uint32_t, 256> MakeTe() {
  std::array<uint32_t, 256> t{};
  for (int x = 0; x < 256; ++x) {
    const uint8_t s = kSBox[x];
    t[x] = Word(Mul(s, 2), s, s, Mul(s, 3));
  }
  return t;
}

constexpr std::array<uint32_t, 256> MakeTd() {
  std::array<uint32_t, 256> t{};
  for (int x = 0; x < 256; ++x) {
    const uint8_t s = kInvSBox[x];
    t[x] = Word(Mul(s, 14), Mul(s, 9), Mul(s, 13), Mul(s, 11));
  }
  return t;
}

constexpr std::array<uint32_t, 256> kTe = MakeTe();
constexpr std::array<uint32_t, 256> kTd = MakeTd();

inline uint32_t Load32(const uint8_t* p) { return Word(p[0], p[1], p[2], p[3]); }

inline void Store32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

inline uint32_t SubWord(uint32_t w) {
  return Word(kSBox[w >> 24], kSBox[(w >> 16) & 0xFF], kSBox[(w >> 8) & 0xFF], kSBox[w & 0xFF]);
}

// InvMixColumns of one word, for the decryption key schedule.
inline uint32_t InvMixWord(uint32_t w) {
  return kTd[kSBox[w >> 24]] ^ Ror(kTd[kSBox[(w >> 16) & 0xFF]], 8) ^
         Ror(kTd[kSBox[(w >> 8) & 0xFF]], 16) ^ Ror(kTd[kSBox[w & 0xFF]], 24);
}

}  // namespace

TOvAESSymmetricCrypto::TOvAESSymmetricCrypto(std::string_view key, std::string_view iv) {
  SetKey(key);
  if (!iv.empty()) SetIV(iv);
}

TOvAESSymmetricCrypto::~TOvAESSymmetricCrypto() {
  volatile uint32_t* e = encKey_;
  volatile uint32_t* d = decKey_;
  for (size_t k = 0; k < 60; ++k) {
    e[k] = 0;
    d[k] = 0;
  }
}

// FIPS-197 5.2 (KeyExpansion).
void TOvAESSymmetricCrypto::SetKey(std::string_view key) {
  const size_t nk = key.size() / 4;
  if (key.size() != 16 && key.size() != 24 && key.size() != 32) {
    throw EOvSymmetricCryptoError("Invalid key length");
  }
  rounds_ = static_cast<int>(nk) + 6;
  keySize_ = key.size();
  const size_t total = 4 * static_cast<size_t>(rounds_ + 1);
  const auto* k = reinterpret_cast<const uint8_t*>(key.data());
  for (size_t i = 0; i < nk; ++i) encKey_[i] = Load32(k + 4 * i);
  uint8_t rcon = 1;
  for (size_t i = nk; i < total; ++i) {
    uint32_t temp = encKey_[i - 1];
    if (i % nk == 0) {
      temp = SubWord((temp << 8) | (temp >> 24)) ^ (uint32_t{rcon} << 24);
      rcon = XTime(rcon);
    } else if (nk > 6 && i % nk == 4) {
      temp = SubWord(temp);
    }
    encKey_[i] = encKey_[i - nk] ^ temp;
  }
  // Equivalent inverse cipher: round keys in reverse order, the inner ones
  // through InvMixColumns.
  for (int r = 0; r <= rounds_; ++r) {
    for (int c = 0; c < 4; ++c) {
      const uint32_t w = encKey_[4 * (rounds_ - r) + c];
      decKey_[4 * r + c] = (r == 0 || r == rounds_) ? w : InvMixWord(w);
    }
  }
  std::memset(iv_, 0, sizeof iv_);
}

void TOvAESSymmetricCrypto::SetIV(std::string_view iv) {
  if (iv.size() != AES_BLOCK_SIZE) throw EOvSymmetricCryptoError("Invalid IV length");
  std::memcpy(iv_, iv.data(), AES_BLOCK_SIZE);
}

std::string TOvAESSymmetricCrypto::IV() const {
  return std::string(reinterpret_cast<const char*>(iv_), AES_BLOCK_SIZE);
}

void TOvAESSymmetricCrypto::RequireKey() const {
  if (rounds_ == 0) throw EOvSymmetricCryptoError("Invalid key length");
}

void TOvAESSymmetricCrypto::EncryptBlock(const uint8_t in[AES_BLOCK_SIZE],
                                         uint8_t out[AES_BLOCK_SIZE]) const {
  RequireKey();
  const uint32_t* rk = encKey_;
  uint32_t s0 = Load32(in) ^ rk[0];
  uint32_t s1 = Load32(in + 4) ^ rk[1];
  uint32_t s2 = Load32(in + 8) ^ rk[2];
  uint32_t s3 = Load32(in + 12) ^ rk[3];
  for (int r = 1; r < rounds_; ++r) {
    rk += 4;
    const uint32_t t0 = kTe[s0 >> 24] ^ Ror(kTe[(s1 >> 16) & 0xFF], 8) ^
                        Ror(kTe[(s2 >> 8) & 0xFF], 16) ^ Ror(kTe[s3 & 0xFF], 24) ^ rk[0];
    const uint32_t t1 = kTe[s1 >> 24] ^ Ror(kTe[(s2 >> 16) & 0xFF], 8) ^
                        Ror(kTe[(s3 >> 8) & 0xFF], 16) ^ Ror(kTe[s0 & 0xFF], 24) ^ rk[1];
    const uint32_t t2 = kTe[s2 >> 24] ^ Ror(kTe[(s3 >> 16) & 0xFF], 8) ^
                        Ror(kTe[(s0 >> 8) & 0xFF], 16) ^ Ror(kTe[s1 & 0xFF], 24) ^ rk[2];
    const uint32_t t3 = kTe[s3 >> 24] ^ Ror(kTe[(s0 >> 16) & 0xFF], 8) ^
                        Ror(kTe[(s1 >> 8) & 0xFF], 16) ^ Ror(kTe[s2 & 0xFF], 24) ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  // The last round has no MixColumns.
  auto last = [](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return Word(kSBox[a >> 24], kSBox[(b >> 16) & 0xFF], kSBox[(c >> 8) & 0xFF], kSBox[d & 0xFF]);
  };
  Store32(out, last(s0, s1, s2, s3) ^ rk[0]);
  Store32(out + 4, last(s1, s2, s3, s0) ^ rk[1]);
  Store32(out + 8, last(s2, s3, s0, s1) ^ rk[2]);
  Store32(out + 12, last(s3, s0, s1, s2) ^ rk[3]);
}

void TOvAESSymmetricCrypto::DecryptBlock(const uint8_t in[AES_BLOCK_SIZE],
                                         uint8_t out[AES_BLOCK_SIZE]) const {
  RequireKey();
  const uint32_t* rk = decKey_;
  uint32_t s0 = Load32(in) ^ rk[0];
  uint32_t s1 = Load32(in + 4) ^ rk[1];
  uint32_t s2 = Load32(in + 8) ^ rk[2];
  uint32_t s3 = Load32(in + 12) ^ rk[3];
  for (int r = 1; r < rounds_; ++r) {
    rk += 4;
    const uint32_t t0 = kTd[s0 >> 24] ^ Ror(kTd[(s3 >> 16) & 0xFF], 8) ^
                        Ror(kTd[(s2 >> 8) & 0xFF], 16) ^ Ror(kTd[s1 & 0xFF], 24) ^ rk[0];
    const uint32_t t1 = kTd[s1 >> 24] ^ Ror(kTd[(s0 >> 16) & 0xFF], 8) ^
                        Ror(kTd[(s3 >> 8) & 0xFF], 16) ^ Ror(kTd[s2 & 0xFF], 24) ^ rk[1];
    const uint32_t t2 = kTd[s2 >> 24] ^ Ror(kTd[(s1 >> 16) & 0xFF], 8) ^
                        Ror(kTd[(s0 >> 8) & 0xFF], 16) ^ Ror(kTd[s3 & 0xFF], 24) ^ rk[2];
    const uint32_t t3 = kTd[s3 >> 24] ^ Ror(kTd[(s2 >> 16) & 0xFF], 8) ^
                        Ror(kTd[(s1 >> 8) & 0xFF], 16) ^ Ror(kTd[s0 & 0xFF], 24) ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  auto last = [](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return Word(kInvSBox[a >> 24], kInvSBox[(b >> 16) & 0xFF], kInvSBox[(c >> 8) & 0xFF],
                kInvSBox[d & 0xFF]);
  };
  Store32(out, last(s0, s3, s2, s1) ^ rk[0]);
  Store32(out + 4, last(s1, s0, s3, s2) ^ rk[1]);
  Store32(out + 8, last(s2, s1, s0, s3) ^ rk[2]);
  Store32(out + 12, last(s3, s2, s1, s0) ^ rk[3]);
}

// NIST SP 800-38A 6.2.
void TOvAESSymmetricCrypto::EncryptCBC(uint8_t* data, size_t size) {
  RequireKey();
  if (size % AES_BLOCK_SIZE != 0) throw EOvSymmetricCryptoError("Invalid data length");
  for (size_t at = 0; at < size; at += AES_BLOCK_SIZE) {
    uint8_t* block = data + at;
    for (size_t k = 0; k < AES_BLOCK_SIZE; ++k) block[k] ^= iv_[k];
    EncryptBlock(block, block);
    std::memcpy(iv_, block, AES_BLOCK_SIZE);
  }
}

void TOvAESSymmetricCrypto::DecryptCBC(uint8_t* data, size_t size) {
  RequireKey();
  if (size % AES_BLOCK_SIZE != 0) throw EOvSymmetricCryptoError("Invalid data length");
  uint8_t next[AES_BLOCK_SIZE];
  for (size_t at = 0; at < size; at += AES_BLOCK_SIZE) {
    uint8_t* block = data + at;
    std::memcpy(next, block, AES_BLOCK_SIZE);
    DecryptBlock(block, block);
    for (size_t k = 0; k < AES_BLOCK_SIZE; ++k) block[k] ^= iv_[k];
    std::memcpy(iv_, next, AES_BLOCK_SIZE);
  }
}

std::string TOvAESSymmetricCrypto::EncryptCBC(std::string_view data) {
  std::string out(data);
  EncryptCBC(reinterpret_cast<uint8_t*>(out.data()), out.size());
  return out;
}

std::string TOvAESSymmetricCrypto::DecryptCBC(std::string_view data) {
  std::string out(data);
  DecryptCBC(reinterpret_cast<uint8_t*>(out.data()), out.size());
  return out;
}

}  // namespace corvane
