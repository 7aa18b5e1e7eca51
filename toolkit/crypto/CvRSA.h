// RSA below the provider: the primitives (RFC 8017 5), the encoding methods
// (EMSA-PKCS1-v1_5, EMSA-PSS, EME-OAEP, EME-PKCS1-v1_5) and the DigestInfo.
// Messages and encoded messages are octet strings; k is the modulus length
// in octets. Failures are reported by result, the engine chooses the texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/crypto/CvMath.h"

namespace corvane {

struct TCvRSAComponents {
  TOvMPInt n, e, d, p, q, dP, dQ, qInv;
  void Wipe();
};

// The secret-key operation: CRT with blinding, and the result is checked with
// the public exponent before it leaves (a fault in one CRT half would
// otherwise hand out a value that factors n).
class TOvRSAPrivateOperation {
 public:
  explicit TOvRSAPrivateOperation(const TCvRSAComponents& key);
  ~TOvRSAPrivateOperation();
  TOvRSAPrivateOperation(const TOvRSAPrivateOperation&) = delete;
  TOvRSAPrivateOperation& operator=(const TOvRSAPrivateOperation&) = delete;

  size_t ModulusOctets() const { return k_; }
  // input is an integer below n (k octets at most); the result is exactly k
  // octets. Empty when input >= n or the check fails.
  std::string Apply(std::string_view input);

  // The value the CRT halves last exponentiated (the blinded input); lets
  // tests see that blinding happens. Holds nothing secret: r stays hidden.
  const TOvMPInt& LastExponentiated() const { return last_exponentiated_; }

 private:
  void RefreshBlinding();

  TCvRSAComponents key_;
  size_t k_;
  TOvMontgomery mont_p_, mont_q_, mont_n_;
  std::mutex lock_;
  TOvMPInt blind_, unblind_;  // r^e mod n and r^-1 mod n
  TOvMPInt last_exponentiated_;
};

// m^e mod n written as exactly k octets; empty when input >= n.
std::string RSAPublicApply(const TOvMPInt& n, const TOvMPInt& e, std::string_view input);

// Octet strings equal in length and content, in time that depends on the length only.
bool ConstantTimeEqual(std::string_view a, std::string_view b);

// DigestInfo ::= SEQUENCE { SEQUENCE { OID, NULL }, OCTET STRING } with one-octet
// lengths; withNull false omits the NULL parameters. Empty when too long.
std::string BuildDigestInfo(std::string_view hashOID, std::string_view digest,
                            bool withNull = true);

// EMSA-PKCS1-v1_5 over T (a DigestInfo or raw data): 00 01 FF..FF 00 T, k octets.
std::optional<std::string> EncodePKCS1Signature(std::string_view t, size_t k);

// MGF1 (RFC 8017 B.2.1) with the given hash constant.
std::string MGF1(int32_t hashAlgorithm, std::string_view seed, size_t length);

// EMSA-PSS (RFC 8017 9.1) for a message hash; emBits = modBits - 1.
std::optional<std::string> EncodePSS(int32_t hashAlgorithm, std::string_view mHash, size_t emBits,
                                     size_t saltLength);
bool VerifyPSS(int32_t hashAlgorithm, std::string_view mHash, std::string_view em, size_t emBits,
               size_t saltLength);

// EME-OAEP (RFC 8017 7.1) and EME-PKCS1-v1_5 (7.2).
std::optional<std::string> EncodeOAEP(int32_t hashAlgorithm, std::string_view label,
                                      std::string_view message, size_t k);
std::optional<std::string> DecodeOAEP(int32_t hashAlgorithm, std::string_view label,
                                      std::string_view em);
std::optional<std::string> EncodePKCS1Encryption(std::string_view message, size_t k);
std::optional<std::string> DecodePKCS1Encryption(std::string_view em);

// A digest with the built-in hash engine.
std::string RSAHash(int32_t hashAlgorithm, std::string_view data);
size_t RSAHashSize(int32_t hashAlgorithm);

}  // namespace corvane
