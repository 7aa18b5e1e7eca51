// Elliptic curves over prime fields (the named curves P-256, P-384 and P-521
// of FIPS 186-4 / SEC 2) and ECDSA verification (SEC1 4.1.4).
//
// Only public operations live here, so nothing is constant-time; every input
// is treated as hostile instead: points are decoded per SEC1 2.3.4 and must
// lie on the curve with coordinates below p, the point at infinity is never a
// key, and signature values are strict DER with r and s in [1, n-1]. Failures
// are false results, never exceptions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "toolkit/crypto/CvMath.h"

namespace corvane {

// A point in affine coordinates; never the point at infinity.
struct TCvECPoint {
  TOvMPInt X;
  TOvMPInt Y;
};

class TOvECCurve {
 public:
  // The named curve of a namedCurve OID (content octets); nullptr for curves
  // this toolkit does not compute on.
  static const TOvECCurve* ByOID(std::string_view oid);
  // "P-256", "P-384", "P-521"; nullptr when unknown.
  static const TOvECCurve* ByName(std::string_view name);

  ~TOvECCurve();
  TOvECCurve(const TOvECCurve&) = delete;
  TOvECCurve& operator=(const TOvECCurve&) = delete;

  const std::string& Name() const { return name_; }
  const std::string& OID() const { return oid_; }
  size_t FieldBits() const { return p_.Bits(); }
  size_t FieldOctets() const { return (p_.Bits() + 7) / 8; }
  const TOvMPInt& Prime() const { return p_; }
  const TOvMPInt& Order() const { return n_; }
  size_t OrderBits() const { return n_.Bits(); }
  const TCvECPoint& Generator() const { return g_; }

  // SEC1 2.3.4: 04 X Y or 02/03 X with coordinates of FieldOctets() octets.
  // The point at infinity (00), the hybrid forms, coordinates >= p and points
  // off the curve give false.
  bool DecodePoint(std::string_view encoded, TCvECPoint& point) const;
  // The uncompressed form 04 X Y.
  std::string EncodePoint(const TCvECPoint& point) const;
  // Both coordinates below p and y^2 = x^3 + ax + b.
  bool IsOnCurve(const TCvECPoint& point) const;
  // u1 * G + u2 * Q; false when the sum is the point at infinity.
  bool MulAdd(const TOvMPInt& u1, const TOvMPInt& u2, const TCvECPoint& q,
              TCvECPoint& result) const;

  class Field;

 private:
  TOvECCurve(std::string name, std::string_view oid, std::string_view p, std::string_view a,
             std::string_view b, std::string_view gx, std::string_view gy, std::string_view n);

  std::string name_;
  std::string oid_;
  TOvMPInt p_, a_, b_, n_;
  TCvECPoint g_;
  std::unique_ptr<Field> field_;
};

// The DER SEQUENCE { r INTEGER, s INTEGER } of an ECDSA signature, strictly:
// minimal non-negative INTEGERs and nothing before, between or after.
bool ECDSADecodeSignature(std::string_view der, TOvMPInt& r, TOvMPInt& s);
// The same, encoded.
std::string ECDSAEncodeSignature(const TOvMPInt& r, const TOvMPInt& s);

// SEC1 4.1.4 over a digest: the digest is cut to the order's bit length, r and
// s must lie in [1, n-1], the key must be a point on the curve.
bool ECDSAVerifyDigest(const TOvECCurve& curve, const TCvECPoint& publicPoint,
                       std::string_view digest, std::string_view signatureDER);

}  // namespace corvane
