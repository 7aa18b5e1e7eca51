// Prime-field arithmetic in Montgomery form over fixed-size limb arrays, the
// Jacobian point arithmetic on top of it and the three named curves.
#include "toolkit/crypto/CvEC.h"

#include <algorithm>
#include <vector>

namespace corvane {

namespace {

using u128 = unsigned __int128;

// Enough 64-bit limbs for P-521.
constexpr size_t kMaxLimbs = 9;
using TLimbs = std::array<uint64_t, kMaxLimbs>;

std::string FromHex(std::string_view text) {
  std::string out;
  int pending = -1;
  for (const char c : text) {
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    if (v < 0) continue;
    if (pending < 0) {
      pending = v;
    } else {
      out.push_back(static_cast<char>(pending * 16 + v));
      pending = -1;
    }
  }
  return out;
}

}  // namespace

// Montgomery arithmetic modulo the curve prime; elements are always reduced.
class TOvECCurve::Field {
 public:
  explicit Field(const TOvMPInt& p) {
    const std::vector<uint64_t>& limbs = p.Limbs();
    size_ = limbs.size();
    for (size_t i = 0; i < size_; ++i) p_[i] = limbs[i];
    // -p^-1 mod 2^64 by Newton's iteration (p is odd).
    uint64_t inv = 1;
    for (int i = 0; i < 6; ++i) inv *= 2 - p_[0] * inv;
    n0inv_ = ~inv + 1;
    const TOvMPInt r = TOvMPInt::Mod(TOvMPInt::ShiftLeft(TOvMPInt(1), 64 * size_), p);
    one_ = Raw(r);
    r2_ = Raw(TOvMPInt::ModMul(r, r, p));
  }

  TLimbs FromInt(const TOvMPInt& a) const { return Mul(Raw(a), r2_); }

  TOvMPInt ToInt(const TLimbs& a) const {
    TLimbs one{};
    one[0] = 1;
    const TLimbs plain = Mul(a, one);
    std::string bytes(8 * size_, '\0');
    for (size_t i = 0; i < size_; ++i)
      for (size_t k = 0; k < 8; ++k)
        bytes[bytes.size() - 1 - (8 * i + k)] = static_cast<char>((plain[i] >> (8 * k)) & 0xFF);
    return TOvMPInt::FromBytes(bytes);
  }

  const TLimbs& One() const { return one_; }

  bool IsZero(const TLimbs& a) const {
    for (size_t i = 0; i < size_; ++i)
      if (a[i] != 0) return false;
    return true;
  }

  bool Equal(const TLimbs& a, const TLimbs& b) const {
    for (size_t i = 0; i < size_; ++i)
      if (a[i] != b[i]) return false;
    return true;
  }

  // Coarsely integrated operand scanning (CIOS).
  TLimbs Mul(const TLimbs& a, const TLimbs& b) const {
    uint64_t t[kMaxLimbs + 2] = {};
    const size_t n = size_;
    for (size_t i = 0; i < n; ++i) {
      uint64_t carry = 0;
      for (size_t j = 0; j < n; ++j) {
        const u128 s = static_cast<u128>(a[j]) * b[i] + t[j] + carry;
        t[j] = static_cast<uint64_t>(s);
        carry = static_cast<uint64_t>(s >> 64);
      }
      u128 s = static_cast<u128>(t[n]) + carry;
      t[n] = static_cast<uint64_t>(s);
      t[n + 1] = static_cast<uint64_t>(s >> 64);
      const uint64_t m = t[0] * n0inv_;
      s = static_cast<u128>(m) * p_[0] + t[0];
      carry = static_cast<uint64_t>(s >> 64);
      for (size_t j = 1; j < n; ++j) {
        s = static_cast<u128>(m) * p_[j] + t[j] + carry;
        t[j - 1] = static_cast<uint64_t>(s);
        carry = static_cast<uint64_t>(s >> 64);
      }
      s = static_cast<u128>(t[n]) + carry;
      t[n - 1] = static_cast<uint64_t>(s);
      t[n] = t[n + 1] + static_cast<uint64_t>(s >> 64);
    }
    TLimbs r{};
    for (size_t i = 0; i < n; ++i) r[i] = t[i];
    if (t[n] != 0 || !Below(r)) SubP(r);
    return r;
  }

  TLimbs Sqr(const TLimbs& a) const { return Mul(a, a); }

  TLimbs Add(const TLimbs& a, const TLimbs& b) const {
    TLimbs r{};
    uint64_t carry = 0;
    for (size_t i = 0; i < size_; ++i) {
      const u128 s = static_cast<u128>(a[i]) + b[i] + carry;
      r[i] = static_cast<uint64_t>(s);
      carry = static_cast<uint64_t>(s >> 64);
    }
    if (carry != 0 || !Below(r)) SubP(r);
    return r;
  }

  TLimbs Sub(const TLimbs& a, const TLimbs& b) const {
    TLimbs r{};
    uint64_t borrow = 0;
    for (size_t i = 0; i < size_; ++i) {
      const u128 d = static_cast<u128>(a[i]) - b[i] - borrow;
      r[i] = static_cast<uint64_t>(d);
      borrow = static_cast<uint64_t>(d >> 64) & 1;
    }
    if (borrow != 0) {
      uint64_t carry = 0;
      for (size_t i = 0; i < size_; ++i) {
        const u128 s = static_cast<u128>(r[i]) + p_[i] + carry;
        r[i] = static_cast<uint64_t>(s);
        carry = static_cast<uint64_t>(s >> 64);
      }
    }
    return r;
  }

  TLimbs Pow(const TLimbs& base, const TOvMPInt& exponent) const {
    TLimbs r = one_;
    for (size_t i = exponent.Bits(); i-- > 0;) {
      r = Sqr(r);
      if (exponent.Bit(i)) r = Mul(r, base);
    }
    return r;
  }

 private:
  // The limbs of a number below p.
  TLimbs Raw(const TOvMPInt& a) const {
    TLimbs r{};
    const std::vector<uint64_t>& limbs = a.Limbs();
    for (size_t i = 0; i < limbs.size() && i < size_; ++i) r[i] = limbs[i];
    return r;
  }

  bool Below(const TLimbs& a) const {
    for (size_t i = size_; i-- > 0;) {
      if (a[i] != p_[i]) return a[i] < p_[i];
    }
    return false;
  }

  void SubP(TLimbs& a) const {
    uint64_t borrow = 0;
    for (size_t i = 0; i < size_; ++i) {
      const u128 d = static_cast<u128>(a[i]) - p_[i] - borrow;
      a[i] = static_cast<uint64_t>(d);
      borrow = static_cast<uint64_t>(d >> 64) & 1;
    }
  }

  size_t size_ = 0;
  TLimbs p_{};
  uint64_t n0inv_ = 0;
  TLimbs one_{};
  TLimbs r2_{};
};

namespace {

using TField = TOvECCurve::Field;

// Jacobian coordinates (x = X/Z^2, y = Y/Z^3) in Montgomery form; Z = 0 is
// the point at infinity.
struct TJacobian {
  TLimbs X{}, Y{}, Z{};
};

TJacobian Double(const TField& f, const TLimbs& a, const TJacobian& p) {
  if (f.IsZero(p.Z)) return p;
  // dbl-2007-bl for any a.
  const TLimbs xx = f.Sqr(p.X);
  const TLimbs yy = f.Sqr(p.Y);
  const TLimbs yyyy = f.Sqr(yy);
  const TLimbs zz = f.Sqr(p.Z);
  TLimbs s = f.Sub(f.Sub(f.Sqr(f.Add(p.X, yy)), xx), yyyy);
  s = f.Add(s, s);
  const TLimbs m = f.Add(f.Add(f.Add(xx, xx), xx), f.Mul(a, f.Sqr(zz)));
  const TLimbs t = f.Sub(f.Sqr(m), f.Add(s, s));
  TJacobian r;
  r.X = t;
  TLimbs y8 = f.Add(yyyy, yyyy);
  y8 = f.Add(y8, y8);
  y8 = f.Add(y8, y8);
  r.Y = f.Sub(f.Mul(m, f.Sub(s, t)), y8);
  r.Z = f.Sub(f.Sub(f.Sqr(f.Add(p.Y, p.Z)), yy), zz);
  return r;
}

TJacobian AddPoints(const TField& f, const TLimbs& a, const TJacobian& p, const TJacobian& q) {
  if (f.IsZero(p.Z)) return q;
  if (f.IsZero(q.Z)) return p;
  // add-2007-bl.
  const TLimbs z1z1 = f.Sqr(p.Z);
  const TLimbs z2z2 = f.Sqr(q.Z);
  const TLimbs u1 = f.Mul(p.X, z2z2);
  const TLimbs u2 = f.Mul(q.X, z1z1);
  const TLimbs s1 = f.Mul(f.Mul(p.Y, q.Z), z2z2);
  const TLimbs s2 = f.Mul(f.Mul(q.Y, p.Z), z1z1);
  const TLimbs h = f.Sub(u2, u1);
  const TLimbs r = f.Sub(s2, s1);
  if (f.IsZero(h)) {
    if (f.IsZero(r)) return Double(f, a, p);
    return TJacobian{};  // P + (-P)
  }
  const TLimbs hh = f.Sqr(h);
  const TLimbs hhh = f.Mul(h, hh);
  const TLimbs v = f.Mul(u1, hh);
  TJacobian out;
  out.X = f.Sub(f.Sub(f.Sqr(r), hhh), f.Add(v, v));
  out.Y = f.Sub(f.Mul(r, f.Sub(v, out.X)), f.Mul(s1, hhh));
  out.Z = f.Mul(f.Mul(p.Z, q.Z), h);
  return out;
}

struct TCurveSet {
  std::unique_ptr<TOvECCurve> curves[3];
};

}  // namespace

TOvECCurve::TOvECCurve(std::string name, std::string_view oid, std::string_view p,
                       std::string_view a, std::string_view b, std::string_view gx,
                       std::string_view gy, std::string_view n)
    : name_(std::move(name)),
      oid_(oid),
      p_(TOvMPInt::FromBytes(FromHex(p))),
      a_(TOvMPInt::FromBytes(FromHex(a))),
      b_(TOvMPInt::FromBytes(FromHex(b))),
      n_(TOvMPInt::FromBytes(FromHex(n))),
      g_{TOvMPInt::FromBytes(FromHex(gx)), TOvMPInt::FromBytes(FromHex(gy))},
      field_(std::make_unique<Field>(p_)) {}

TOvECCurve::~TOvECCurve() = default;

const TOvECCurve* TOvECCurve::ByOID(std::string_view oid) {
  static const TCurveSet set = [] {
    TCurveSet s;
    s.curves[0].reset(
        new TOvECCurve("P-256", std::string_view("\x2A\x86\x48\xCE\x3D\x03\x01\x07", 8),
                       "FFFFFFFF 00000001 00000000 00000000 00000000 FFFFFFFF FFFFFFFF FFFFFFFF",
                       "FFFFFFFF 00000001 00000000 00000000 00000000 FFFFFFFF FFFFFFFF FFFFFFFC",
                       "5AC635D8 AA3A93E7 B3EBBD55 769886BC 651D06B0 CC53B0F6 3BCE3C3E 27D2604B",
                       "6B17D1F2 E12C4247 F8BCE6E5 63A440F2 77037D81 2DEB33A0 F4A13945 D898C296",
                       "4FE342E2 FE1A7F9B 8EE7EB4A 7C0F9E16 2BCE3357 6B315ECE CBB64068 37BF51F5",
                       "FFFFFFFF 00000000 FFFFFFFF FFFFFFFF BCE6FAAD A7179E84 F3B9CAC2 FC632551"));
    s.curves[1].reset(
        new TOvECCurve("P-384", std::string_view("\x2B\x81\x04\x00\x22", 5),
                       "FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFE"
                       "FFFFFFFF 00000000 00000000 FFFFFFFF",
                       "FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFE"
                       "FFFFFFFF 00000000 00000000 FFFFFFFC",
                       "B3312FA7 E23EE7E4 988E056B E3F82D19 181D9C6E FE814112 0314088F 5013875A"
                       "C656398D 8A2ED19D 2A85C8ED D3EC2AEF",
                       "AA87CA22 BE8B0537 8EB1C71E F320AD74 6E1D3B62 8BA79B98 59F741E0 82542A38"
                       "5502F25D BF55296C 3A545E38 72760AB7",
                       "3617DE4A 96262C6F 5D9E98BF 9292DC29 F8F41DBD 289A147C E9DA3113 B5F0B8C0"
                       "0A60B1CE 1D7E819D 7A431D7C 90EA0E5F",
                       "FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF C7634D81 F4372DDF"
                       "581A0DB2 48B0A77A ECEC196A CCC52973"));
    s.curves[2].reset(new TOvECCurve(
        "P-521", std::string_view("\x2B\x81\x04\x00\x23", 5),
        "01FF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF"
        "FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF",
        "01FF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF"
        "FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFC",
        "0051 953EB961 8E1C9A1F 929A21A0 B68540EE A2DA725B 99B315F3 B8B48991 8EF109E1"
        "56193951 EC7E937B 1652C0BD 3BB1BF07 3573DF88 3D2C34F1 EF451FD4 6B503F00",
        "00C6 858E06B7 0404E9CD 9E3ECB66 2395B442 9C648139 053FB521 F828AF60 6B4D3DBA"
        "A14B5E77 EFE75928 FE1DC127 A2FFA8DE 3348B3C1 856A429B F97E7E31 C2E5BD66",
        "0118 39296A78 9A3BC004 5C8A5FB4 2C7D1BD9 98F54449 579B4468 17AFBD17 273E662C"
        "97EE7299 5EF42640 C550B901 3FAD0761 353C7086 A272C240 88BE9476 9FD16650",
        "01FF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFA"
        "51868783 BF2F966B 7FCC0148 F709A5D0 3BB5C9B8 899C47AE BB6FB71E 91386409"));
    return s;
  }();
  for (const auto& curve : set.curves)
    if (curve->oid_ == oid) return curve.get();
  return nullptr;
}

const TOvECCurve* TOvECCurve::ByName(std::string_view name) {
  static const std::string_view kOIDs[] = {std::string_view("\x2A\x86\x48\xCE\x3D\x03\x01\x07", 8),
                                           std::string_view("\x2B\x81\x04\x00\x22", 5),
                                           std::string_view("\x2B\x81\x04\x00\x23", 5)};
  for (const std::string_view oid : kOIDs) {
    const TOvECCurve* curve = ByOID(oid);
    if (curve != nullptr && curve->Name() == name) return curve;
  }
  return nullptr;
}

bool TOvECCurve::IsOnCurve(const TCvECPoint& point) const {
  if (TOvMPInt::Compare(point.X, p_) >= 0 || TOvMPInt::Compare(point.Y, p_) >= 0) return false;
  const Field& f = *field_;
  const TLimbs x = f.FromInt(point.X);
  const TLimbs y = f.FromInt(point.Y);
  const TLimbs rhs =
      f.Add(f.Mul(f.Add(f.Sqr(x), f.FromInt(a_)), x), f.FromInt(b_));  // (x^2 + a) x + b
  return f.Equal(f.Sqr(y), rhs);
}

bool TOvECCurve::DecodePoint(std::string_view encoded, TCvECPoint& point) const {
  const size_t size = FieldOctets();
  if (encoded.empty()) return false;
  const auto form = static_cast<uint8_t>(encoded[0]);
  if (form == 0x04) {
    if (encoded.size() != 1 + 2 * size) return false;
    TCvECPoint candidate{TOvMPInt::FromBytes(encoded.substr(1, size)),
                         TOvMPInt::FromBytes(encoded.substr(1 + size, size))};
    if (!IsOnCurve(candidate)) return false;
    point = std::move(candidate);
    return true;
  }
  if (form != 0x02 && form != 0x03) return false;  // infinity (00) and hybrid forms
  if (encoded.size() != 1 + size) return false;
  const TOvMPInt x = TOvMPInt::FromBytes(encoded.substr(1));
  if (TOvMPInt::Compare(x, p_) >= 0) return false;
  const Field& f = *field_;
  const TLimbs xm = f.FromInt(x);
  const TLimbs rhs = f.Add(f.Mul(f.Add(f.Sqr(xm), f.FromInt(a_)), xm), f.FromInt(b_));
  // p = 3 mod 4 for every curve here: the root is rhs^((p + 1) / 4).
  const TLimbs root = f.Pow(rhs, TOvMPInt::ShiftRight(TOvMPInt::Add(p_, TOvMPInt(1)), 2));
  if (!f.Equal(f.Sqr(root), rhs)) return false;  // x is not on the curve
  TOvMPInt y = f.ToInt(root);
  if (y.IsOdd() != ((form & 1) != 0)) {
    if (y.IsZero()) return false;
    y = TOvMPInt::Sub(p_, y);
  }
  point = TCvECPoint{x, std::move(y)};
  return true;
}

std::string TOvECCurve::EncodePoint(const TCvECPoint& point) const {
  return std::string(1, '\x04') + point.X.ToBytes(FieldOctets()) + point.Y.ToBytes(FieldOctets());
}

bool TOvECCurve::MulAdd(const TOvMPInt& u1, const TOvMPInt& u2, const TCvECPoint& q,
                        TCvECPoint& result) const {
  if (!IsOnCurve(q)) return false;
  const Field& f = *field_;
  const TLimbs a = f.FromInt(a_);
  const TJacobian g{f.FromInt(g_.X), f.FromInt(g_.Y), f.One()};
  const TJacobian qj{f.FromInt(q.X), f.FromInt(q.Y), f.One()};
  const TJacobian both = AddPoints(f, a, g, qj);
  // Shamir's trick: one doubling chain for both scalars.
  TJacobian r;
  const size_t bits = std::max(u1.Bits(), u2.Bits());
  for (size_t i = bits; i-- > 0;) {
    r = Double(f, a, r);
    const bool b1 = u1.Bit(i);
    const bool b2 = u2.Bit(i);
    if (b1 && b2)
      r = AddPoints(f, a, r, both);
    else if (b1)
      r = AddPoints(f, a, r, g);
    else if (b2)
      r = AddPoints(f, a, r, qj);
  }
  if (f.IsZero(r.Z)) return false;
  const TLimbs zinv = f.Pow(r.Z, TOvMPInt::Sub(p_, TOvMPInt(2)));
  const TLimbs zinv2 = f.Sqr(zinv);
  result.X = f.ToInt(f.Mul(r.X, zinv2));
  result.Y = f.ToInt(f.Mul(r.Y, f.Mul(zinv2, zinv)));
  return true;
}

}  // namespace corvane
