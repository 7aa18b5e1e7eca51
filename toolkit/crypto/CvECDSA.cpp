// ECDSA verification (SEC1 4.1.4) and the DER form of its signature value.
#include <exception>

#include "toolkit/asn1/CvASN1.h"
#include "toolkit/asn1/CvDERReader.h"
#include "toolkit/crypto/CvEC.h"

namespace corvane {

namespace {

// The longest INTEGER content accepted for r and s: P-521 orders take 66
// octets, plus the 0x00 in front of a set top bit.
constexpr size_t kMaxScalarOctets = 67;

std::string DERLength(size_t length) {
  if (length < 0x80) return std::string(1, static_cast<char>(length));
  std::string octets;
  for (size_t l = length; l > 0; l >>= 8)
    octets.insert(octets.begin(), static_cast<char>(l & 0xFF));
  return std::string(1, static_cast<char>(0x80 | octets.size())) + octets;
}

std::string DERUnsigned(const TOvMPInt& value) {
  std::string content = value.ToBytes();
  if (static_cast<uint8_t>(content[0]) & 0x80) content.insert(content.begin(), '\0');
  return std::string(1, static_cast<char>(ASN1_INTEGER)) + DERLength(content.size()) + content;
}

bool InRange(const TOvMPInt& v, const TOvMPInt& n) {
  return !v.IsZero() && TOvMPInt::Compare(v, n) < 0;
}

}  // namespace

bool ECDSADecodeSignature(std::string_view der, TOvMPInt& r, TOvMPInt& s) {
  TCvDERReader outer(der);
  std::string_view sequence;
  if (!outer.Read(ASN1_SEQUENCE, sequence) || !outer.AtEnd()) return false;
  TCvDERReader inner(sequence);
  std::string_view rBytes, sBytes;
  if (!inner.ReadUnsigned(rBytes) || !inner.ReadUnsigned(sBytes) || !inner.AtEnd()) return false;
  if (rBytes.size() > kMaxScalarOctets || sBytes.size() > kMaxScalarOctets) return false;
  r = TOvMPInt::FromBytes(rBytes);
  s = TOvMPInt::FromBytes(sBytes);
  return true;
}

std::string ECDSAEncodeSignature(const TOvMPInt& r, const TOvMPInt& s) {
  const std::string body = DERUnsigned(r) + DERUnsigned(s);
  return std::string(1, static_cast<char>(ASN1_SEQUENCE)) + DERLength(body.size()) + body;
}

bool ECDSAVerifyDigest(const TOvECCurve& curve, const TCvECPoint& publicPoint,
                       std::string_view digest, std::string_view signatureDER) {
  try {
    TOvMPInt r, s;
    if (!ECDSADecodeSignature(signatureDER, r, s)) return false;
    const TOvMPInt& n = curve.Order();
    if (!InRange(r, n) || !InRange(s, n)) return false;
    // The leftmost OrderBits() bits of the digest.
    const size_t bits = curve.OrderBits();
    const std::string_view head = digest.substr(0, (bits + 7) / 8);
    TOvMPInt e = TOvMPInt::FromBytes(head);
    if (8 * head.size() > bits) e = TOvMPInt::ShiftRight(e, 8 * head.size() - bits);
    const TOvMPInt w = TOvMPInt::ModInverse(s, n);
    const TOvMPInt u1 = TOvMPInt::ModMul(TOvMPInt::Mod(e, n), w, n);
    const TOvMPInt u2 = TOvMPInt::ModMul(r, w, n);
    TCvECPoint sum;
    if (!curve.MulAdd(u1, u2, publicPoint, sum)) return false;
    return TOvMPInt::Mod(sum.X, n) == r;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace corvane
