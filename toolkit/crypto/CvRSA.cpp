#include "toolkit/crypto/CvRSA.h"

#include <cstring>

#include "platform/PlatformSystem.h"
#include "toolkit/common/CvRandom.h"
#include "toolkit/crypto/CvCryptoProvBuiltInHash.h"

namespace corvane {

namespace {

void FillRandom(void* buffer, size_t size) {
  if (!platform::SystemRandomBytes(buffer, size)) SharedRandomGenerate(buffer, size);
}

void WipeString(std::string& s) {
  volatile char* p = s.data();
  for (size_t i = 0; i < s.size(); ++i) p[i] = 0;
}

// 0xFF when a == b, else 0; no branch.
uint8_t EqualMask(uint32_t a, uint32_t b) {
  const uint32_t x = a ^ b;
  return static_cast<uint8_t>(((x | (0u - x)) >> 31) - 1);
}

}  // namespace

void TCvRSAComponents::Wipe() {
  for (TOvMPInt* v : {&d, &p, &q, &dP, &dQ, &qInv}) v->Wipe();
}

// ---------------------------------------------------------------------------
// Primitives

TOvRSAPrivateOperation::TOvRSAPrivateOperation(const TCvRSAComponents& key)
    : key_(key), k_(key.n.Octets()), mont_p_(key.p), mont_q_(key.q), mont_n_(key.n) {}

TOvRSAPrivateOperation::~TOvRSAPrivateOperation() {
  key_.Wipe();
  blind_.Wipe();
  unblind_.Wipe();
}

void TOvRSAPrivateOperation::RefreshBlinding() {
  if (blind_.IsZero()) {
    // A fresh r costs an inverse; later operations square the pair instead.
    for (;;) {
      TOvMPInt r = TOvMPInt::RandomBelow(key_.n);
      if (!TOvMPInt::Gcd(r, key_.n).IsOne()) continue;
      unblind_ = TOvMPInt::ModInverse(r, key_.n);
      mont_n_.Pow(r, key_.e, blind_);
      r.Wipe();
      return;
    }
  }
  blind_ = TOvMPInt::ModMul(blind_, blind_, key_.n);
  unblind_ = TOvMPInt::ModMul(unblind_, unblind_, key_.n);
}

std::string TOvRSAPrivateOperation::Apply(std::string_view input) {
  const TOvMPInt c = TOvMPInt::FromBytes(input);
  if (TOvMPInt::Compare(c, key_.n) >= 0) return {};
  std::lock_guard<std::mutex> guard(lock_);
  // Blinding: the exponentiations see c * r^e, never c itself.
  RefreshBlinding();
  TOvMPInt x = TOvMPInt::ModMul(c, blind_, key_.n);
  last_exponentiated_ = x;
  TOvMPInt m1, m2;
  // Exponents are walked over the full prime length, not their own.
  mont_p_.Pow(TOvMPInt::Mod(x, key_.p), key_.dP, m1, {}, key_.p.Bits());
  mont_q_.Pow(TOvMPInt::Mod(x, key_.q), key_.dQ, m2, {}, key_.q.Bits());
  // h = (m1 - m2) * qInv mod p, s = m2 + h * q.
  const TOvMPInt m2p = TOvMPInt::Mod(m2, key_.p);
  TOvMPInt diff = TOvMPInt::Compare(m1, m2p) >= 0 ? TOvMPInt::Sub(m1, m2p)
                                                  : TOvMPInt::Sub(TOvMPInt::Add(m1, key_.p), m2p);
  TOvMPInt h = TOvMPInt::ModMul(diff, key_.qInv, key_.p);
  TOvMPInt s = TOvMPInt::Add(m2, TOvMPInt::Mul(h, key_.q));
  s = TOvMPInt::ModMul(s, unblind_, key_.n);
  m1.Wipe();
  m2.Wipe();
  diff.Wipe();
  h.Wipe();
  x.Wipe();
  // A wrong CRT half (a corrupted dP, a hardware fault) gives a value that
  // reveals a factor of n; it must never leave.
  TOvMPInt back;
  mont_n_.Pow(s, key_.e, back);
  if (!(back == c) || TOvMPInt::Compare(s, key_.n) >= 0) {
    s.Wipe();
    return {};
  }
  std::string out = s.ToBytes(k_);
  s.Wipe();
  return out;
}

std::string RSAPublicApply(const TOvMPInt& n, const TOvMPInt& e, std::string_view input) {
  const TOvMPInt m = TOvMPInt::FromBytes(input);
  if (TOvMPInt::Compare(m, n) >= 0) return {};
  return TOvMPInt::ModPow(m, e, n).ToBytes(n.Octets());
}

bool ConstantTimeEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  uint8_t diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<uint8_t>(a[i] ^ b[i]);
  return diff == 0;
}

// ---------------------------------------------------------------------------
// Hashing

std::string RSAHash(int32_t hashAlgorithm, std::string_view data) {
  TOvBuiltInHashFunction hash(hashAlgorithm);
  hash.Update(data);
  return hash.Finish();
}

size_t RSAHashSize(int32_t hashAlgorithm) {
  const int32_t bits = TOvBuiltInHashFunction::DigestSizeBits(hashAlgorithm);
  return bits > 0 ? static_cast<size_t>(bits) / 8 : 0;
}

std::string MGF1(int32_t hashAlgorithm, std::string_view seed, size_t length) {
  std::string out;
  out.reserve(length + 64);
  std::string block(seed);
  block.append(4, '\0');
  for (uint32_t counter = 0; out.size() < length; ++counter) {
    for (int i = 0; i < 4; ++i) block[seed.size() + i] = static_cast<char>(counter >> (24 - 8 * i));
    out += RSAHash(hashAlgorithm, block);
  }
  out.resize(length);
  return out;
}

// ---------------------------------------------------------------------------
// Signature encodings

std::string BuildDigestInfo(std::string_view hashOID, std::string_view digest, bool withNull) {
  const size_t l2 = hashOID.size() + (withNull ? 4 : 2);
  const size_t l1 = l2 + digest.size() + 4;
  if (hashOID.size() > 127 || digest.size() > 127 || l1 > 127) return {};
  std::string out;
  out += '\x30';
  out += static_cast<char>(l1);
  out += '\x30';
  out += static_cast<char>(l2);
  out += '\x06';
  out += static_cast<char>(hashOID.size());
  out += hashOID;
  if (withNull) out += std::string("\x05\x00", 2);
  out += '\x04';
  out += static_cast<char>(digest.size());
  out += digest;
  return out;
}

std::optional<std::string> EncodePKCS1Signature(std::string_view t, size_t k) {
  if (k < t.size() + 11) return std::nullopt;
  std::string em(k, '\xFF');
  em[0] = '\0';
  em[1] = '\x01';
  em[k - t.size() - 1] = '\0';
  std::memcpy(em.data() + (k - t.size()), t.data(), t.size());
  return em;
}

std::optional<std::string> EncodePSS(int32_t hashAlgorithm, std::string_view mHash, size_t emBits,
                                     size_t saltLength) {
  const size_t hLen = RSAHashSize(hashAlgorithm);
  const size_t emLen = (emBits + 7) / 8;
  if (hLen == 0 || mHash.size() != hLen || emLen < hLen + saltLength + 2) return std::nullopt;
  std::string salt(saltLength, '\0');
  FillRandom(salt.data(), salt.size());
  std::string mPrime(8, '\0');
  mPrime += mHash;
  mPrime += salt;
  const std::string h = RSAHash(hashAlgorithm, mPrime);
  std::string db(emLen - saltLength - hLen - 2, '\0');
  db += '\x01';
  db += salt;
  const std::string mask = MGF1(hashAlgorithm, h, db.size());
  for (size_t i = 0; i < db.size(); ++i) db[i] = static_cast<char>(db[i] ^ mask[i]);
  db[0] = static_cast<char>(static_cast<uint8_t>(db[0]) & (0xFF >> (8 * emLen - emBits)));
  return db + h + '\xBC';
}

bool VerifyPSS(int32_t hashAlgorithm, std::string_view mHash, std::string_view em, size_t emBits,
               size_t saltLength) {
  const size_t hLen = RSAHashSize(hashAlgorithm);
  const size_t emLen = (emBits + 7) / 8;
  if (hLen == 0 || mHash.size() != hLen || em.size() != emLen || emLen < hLen + saltLength + 2)
    return false;
  if (static_cast<uint8_t>(em.back()) != 0xBC) return false;
  const std::string_view maskedDB = em.substr(0, emLen - hLen - 1);
  const std::string_view h = em.substr(emLen - hLen - 1, hLen);
  const uint8_t topMask = static_cast<uint8_t>(0xFF << (8 - (8 * emLen - emBits)));
  if ((8 * emLen - emBits) != 0 && (static_cast<uint8_t>(maskedDB[0]) & topMask) != 0) return false;
  const std::string mask = MGF1(hashAlgorithm, h, maskedDB.size());
  std::string db(maskedDB);
  for (size_t i = 0; i < db.size(); ++i) db[i] = static_cast<char>(db[i] ^ mask[i]);
  db[0] = static_cast<char>(static_cast<uint8_t>(db[0]) & (0xFF >> (8 * emLen - emBits)));
  const size_t psLen = emLen - hLen - saltLength - 2;
  for (size_t i = 0; i < psLen; ++i) {
    if (db[i] != 0) return false;
  }
  if (db[psLen] != '\x01') return false;
  std::string mPrime(8, '\0');
  mPrime += mHash;
  mPrime.append(db, db.size() - saltLength, saltLength);
  return ConstantTimeEqual(RSAHash(hashAlgorithm, mPrime), h);
}

// ---------------------------------------------------------------------------
// Encryption encodings

std::optional<std::string> EncodeOAEP(int32_t hashAlgorithm, std::string_view label,
                                      std::string_view message, size_t k) {
  const size_t hLen = RSAHashSize(hashAlgorithm);
  if (hLen == 0 || k < 2 * hLen + 2 || message.size() > k - 2 * hLen - 2) return std::nullopt;
  std::string db = RSAHash(hashAlgorithm, label);
  db.append(k - message.size() - 2 * hLen - 2, '\0');
  db += '\x01';
  db += message;
  std::string seed(hLen, '\0');
  FillRandom(seed.data(), seed.size());
  const std::string dbMask = MGF1(hashAlgorithm, seed, db.size());
  for (size_t i = 0; i < db.size(); ++i) db[i] = static_cast<char>(db[i] ^ dbMask[i]);
  const std::string seedMask = MGF1(hashAlgorithm, db, hLen);
  for (size_t i = 0; i < hLen; ++i) seed[i] = static_cast<char>(seed[i] ^ seedMask[i]);
  std::string em(1, '\0');
  em += seed;
  em += db;
  WipeString(seed);
  return em;
}

std::optional<std::string> DecodeOAEP(int32_t hashAlgorithm, std::string_view label,
                                      std::string_view em) {
  const size_t hLen = RSAHashSize(hashAlgorithm);
  const size_t k = em.size();
  if (hLen == 0 || k < 2 * hLen + 2) return std::nullopt;
  std::string seed(em.substr(1, hLen));
  std::string db(em.substr(1 + hLen));
  const std::string seedMask = MGF1(hashAlgorithm, db, hLen);
  for (size_t i = 0; i < hLen; ++i) seed[i] = static_cast<char>(seed[i] ^ seedMask[i]);
  const std::string dbMask = MGF1(hashAlgorithm, seed, db.size());
  for (size_t i = 0; i < db.size(); ++i) db[i] = static_cast<char>(db[i] ^ dbMask[i]);
  // Every check runs to the end, so the time does not say which one failed.
  uint8_t good = EqualMask(static_cast<uint8_t>(em[0]), 0);
  const std::string lHash = RSAHash(hashAlgorithm, label);
  uint8_t hashDiff = 0;
  for (size_t i = 0; i < hLen; ++i) hashDiff |= static_cast<uint8_t>(db[i] ^ lHash[i]);
  good &= EqualMask(hashDiff, 0);
  uint8_t lookingForOne = 0xFF;
  size_t index = 0;
  uint8_t invalid = 0;
  for (size_t i = hLen; i < db.size(); ++i) {
    const uint8_t v = static_cast<uint8_t>(db[i]);
    const uint8_t isOne = EqualMask(v, 1);
    const uint8_t isZero = EqualMask(v, 0);
    const uint8_t hit = lookingForOne & isOne;
    index |= i & (static_cast<size_t>(0) - (hit >> 7));
    invalid |= lookingForOne & static_cast<uint8_t>(~isOne) & static_cast<uint8_t>(~isZero);
    lookingForOne &= static_cast<uint8_t>(~isOne);
  }
  good &= static_cast<uint8_t>(~lookingForOne) & static_cast<uint8_t>(~invalid);
  WipeString(seed);
  if (good != 0xFF) {
    WipeString(db);
    return std::nullopt;
  }
  std::string message = db.substr(index + 1);
  WipeString(db);
  return message;
}

std::optional<std::string> EncodePKCS1Encryption(std::string_view message, size_t k) {
  if (k < 11 || message.size() > k - 11) return std::nullopt;
  std::string em(k, '\0');
  em[1] = '\x02';
  const size_t psLen = k - message.size() - 3;
  for (size_t i = 0; i < psLen; ++i) {
    uint8_t b = 0;
    while (b == 0) FillRandom(&b, 1);
    em[2 + i] = static_cast<char>(b);
  }
  std::memcpy(em.data() + 3 + psLen, message.data(), message.size());
  return em;
}

std::optional<std::string> DecodePKCS1Encryption(std::string_view em) {
  const size_t k = em.size();
  if (k < 11) return std::nullopt;
  uint8_t good =
      EqualMask(static_cast<uint8_t>(em[0]), 0) & EqualMask(static_cast<uint8_t>(em[1]), 2);
  uint8_t lookingForZero = 0xFF;
  size_t index = 0;
  for (size_t i = 2; i < k; ++i) {
    const uint8_t isZero = EqualMask(static_cast<uint8_t>(em[i]), 0);
    const uint8_t hit = lookingForZero & isZero;
    index |= i & (static_cast<size_t>(0) - (hit >> 7));
    lookingForZero &= static_cast<uint8_t>(~isZero);
  }
  good &= static_cast<uint8_t>(~lookingForZero);
  // At least eight padding octets.
  good &= static_cast<uint8_t>(0) - static_cast<uint8_t>(index >= 10);
  if (good != 0xFF) return std::nullopt;
  return std::string(em.substr(index + 1));
}

}  // namespace corvane
