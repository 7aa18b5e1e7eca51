#include "toolkit/crypto/CvAlgorithmIdentifier.h"

#include <array>

namespace corvane {

namespace {

struct OIDRow {
  int32_t code;
  std::string_view oid;
};

constexpr std::string_view Bytes(const char* s, size_t n) { return {s, n}; }

// The general table, searched in order: the first row with the OID wins, and the
// first row of a constant gives its written OID. Built on first use so callers in
// other units' static initialisers see it complete.
const auto& AlgorithmTable() {
  // Algorithms without an OID are named by a text with the vendor suffix.
  static const std::string kNames[] = {
      std::string("ssl-hash@") + CV_VENDOR_SUFFIX, std::string("umac32@") + CV_VENDOR_SUFFIX,
      std::string("umac64@") + CV_VENDOR_SUFFIX,   std::string("umac96@") + CV_VENDOR_SUFFIX,
      std::string("umac128@") + CV_VENDOR_SUFFIX,
  };
  static const std::array table{
      OIDRow{CERT_ALG_RSA, oid::RSA_ENCRYPTION},
      OIDRow{CERT_ALG_MD5_RSA, oid::MD5_RSA},
      OIDRow{CERT_ALG_SHA1_RSA, oid::SHA1_RSA},
      OIDRow{CERT_ALG_SHA1_RSA, oid::SHA1_RSA_OIW},
      OIDRow{CERT_ALG_SHA224_RSA, oid::SHA224_RSA},
      OIDRow{CERT_ALG_SHA256_RSA, oid::SHA256_RSA},
      OIDRow{CERT_ALG_SHA384_RSA, oid::SHA384_RSA},
      OIDRow{CERT_ALG_SHA512_RSA, oid::SHA512_RSA},
      OIDRow{CERT_ALG_RIPEMD160_RSA, oid::RIPEMD160_RSA},
      OIDRow{CERT_ALG_DSA, oid::DSA},
      OIDRow{CERT_ALG_DSA_SHA1, oid::DSA_SHA1},
      OIDRow{CERT_ALG_ECDSA_SHA1, oid::ECDSA_SHA1},
      OIDRow{CERT_ALG_ECDSA_RECOMMENDED, oid::ECDSA_RECOMMENDED},
      OIDRow{CERT_ALG_ECDSA_SHA224, oid::ECDSA_SHA224},
      OIDRow{CERT_ALG_ECDSA_SHA256, oid::ECDSA_SHA256},
      OIDRow{CERT_ALG_ECDSA_SHA384, oid::ECDSA_SHA384},
      OIDRow{CERT_ALG_ECDSA_SHA512, oid::ECDSA_SHA512},
      OIDRow{CERT_ALG_RSAPSS, oid::RSASSA_PSS},
      OIDRow{CERT_ALG_DH, oid::DH_PUBLIC_NUMBER},
      OIDRow{CERT_ALG_MGF1, oid::MGF1},
      OIDRow{ALG_RC4, Bytes("\x2A\x86\x48\x86\xF7\x0D\x03\x04", 8)},
      OIDRow{0x7003, Bytes("\x2A\x86\x48\x86\xF7\x0D\x03\x07", 8)},               // DES-EDE3-CBC
      OIDRow{0x7004, Bytes("\x2A\x86\x48\x86\xF7\x0D\x03\x02", 8)},               // RC2-CBC
      OIDRow{0x7002, Bytes("\x2B\x0E\x03\x02\x07", 5)},                           // DES-CBC
      OIDRow{0x7005, Bytes("\x60\x86\x48\x01\x65\x03\x04\x01\x02", 9)},           // AES-128-CBC
      OIDRow{0x7006, Bytes("\x60\x86\x48\x01\x65\x03\x04\x01\x16", 9)},           // AES-192-CBC
      OIDRow{0x7007, Bytes("\x60\x86\x48\x01\x65\x03\x04\x01\x2A", 9)},           // AES-256-CBC
      OIDRow{0x701C, Bytes("\x2B\x06\x01\x04\x01\xDA\x47\x0D\x02\x02", 10)},      // Serpent-128
      OIDRow{0x701D, Bytes("\x2B\x06\x01\x04\x01\xDA\x47\x0D\x02\x16", 10)},      // Serpent-192
      OIDRow{0x701E, Bytes("\x2B\x06\x01\x04\x01\xDA\x47\x0D\x02\x2A", 10)},      // Serpent-256
      OIDRow{0x7019, Bytes("\x2A\x83\x08\x8C\x9A\x4B\x3D\x01\x01\x01\x02", 11)},  // Camellia-128
      OIDRow{0x701A, Bytes("\x2A\x83\x08\x8C\x9A\x4B\x3D\x01\x01\x01\x03", 11)},  // Camellia-192
      OIDRow{0x701B, Bytes("\x2A\x83\x08\x8C\x9A\x4B\x3D\x01\x01\x01\x04", 11)},  // Camellia-256
      OIDRow{0x7013, Bytes("\x2A\x86\x48\x86\xF6\x7D\x07\x42\x0A", 9)},           // CAST-128-CBC
      OIDRow{0x7010, Bytes("\x2B\x06\x01\x04\x01\x97\x55\x01\x01\x02", 10)},      // Blowfish-CBC
      // Two historical rows kept byte for byte; nothing on the signing path uses them.
      OIDRow{0x7021, Bytes("\x00", 1)},
      OIDRow{0x7020, Bytes("\x2A\x83\x1A\x8C\x9A\x44\x01\x04\x05\x00", 10)},
      OIDRow{ALG_SHA1, oid::SHA1},
      OIDRow{ALG_MD2, oid::MD2},
      OIDRow{ALG_MD4, oid::MD4},
      OIDRow{ALG_MD5, oid::MD5},
      OIDRow{ALG_SHA224, oid::SHA224},
      OIDRow{ALG_SHA256, oid::SHA256},
      OIDRow{ALG_SHA384, oid::SHA384},
      OIDRow{ALG_SHA512, oid::SHA512},
      OIDRow{ALG_RIPEMD160, oid::RIPEMD160},
      OIDRow{ALG_HMAC_SHA1, Bytes("\x2B\x06\x01\x05\x05\x08\x01\x02", 8)},
      OIDRow{ALG_HMAC_SHA1, Bytes("\x2A\x86\x48\x86\xF7\x0D\x02\x07", 8)},
      OIDRow{ALG_HMAC_SHA224, Bytes("\x2B\x06\x01\x05\x05\x08\x01\x08", 8)},
      OIDRow{ALG_HMAC_SHA256, Bytes("\x2B\x06\x01\x05\x05\x08\x01\x09", 8)},
      OIDRow{ALG_HMAC_SHA384, Bytes("\x2B\x06\x01\x05\x05\x08\x01\x0A", 8)},
      OIDRow{ALG_HMAC_SHA512, Bytes("\x2B\x06\x01\x05\x05\x08\x01\x0B", 8)},
      OIDRow{ALG_SSL3_HASH, std::string_view(kNames[0])},
      OIDRow{ALG_UMAC32, std::string_view(kNames[1])},
      OIDRow{ALG_UMAC64, std::string_view(kNames[2])},
      OIDRow{ALG_UMAC96, std::string_view(kNames[3])},
      OIDRow{ALG_UMAC128, std::string_view(kNames[4])},
      OIDRow{0x7023, Bytes("\x2A\x85\x03\x02\x02\x15", 6)},  // GOST 28147-89
      OIDRow{ALG_GOST28147_MAC, Bytes("\x2A\x85\x03\x02\x02\x16", 6)},
      OIDRow{ALG_GOST3411_94, oid::GOST3411_94},
      OIDRow{CERT_ALG_GOST94, oid::GOST3410_94},
      OIDRow{CERT_ALG_GOST2001, oid::GOST3410_2001},
      OIDRow{CERT_ALG_GOST3411_GOST94, oid::GOST3411_GOST3410_94},
      OIDRow{CERT_ALG_GOST3411_GOST2001, oid::GOST3411_GOST3410_2001},
  };
  return table;
}

// Certificate key algorithms: the first row of a code is the OID written for it.
const std::array kKeyTable{
    OIDRow{CERT_ALG_RSA, oid::RSA_ENCRYPTION},
    OIDRow{CERT_ALG_RSA, oid::RSA_X509},
    OIDRow{CERT_ALG_DSA, oid::DSA},
    OIDRow{CERT_ALG_DSA, oid::DSA_OIW},
    OIDRow{CERT_ALG_DH, oid::DH_PUBLIC_NUMBER},
    OIDRow{CERT_ALG_RSAPSS, oid::RSASSA_PSS},
    OIDRow{CERT_ALG_RSAOAEP, oid::RSAES_OAEP},
    OIDRow{CERT_ALG_EC, oid::EC_PUBLIC_KEY},
    OIDRow{CERT_ALG_GOST94, oid::GOST3410_94},
    OIDRow{CERT_ALG_GOST2001, oid::GOST3410_2001},
};

// Certificate signature algorithms, same convention.
const std::array kSignatureTable{
    OIDRow{CERT_ALG_RSA, oid::RSA_ENCRYPTION},
    OIDRow{CERT_ALG_RSA, oid::RSA_X509},
    OIDRow{CERT_ALG_MD2_RSA, oid::MD2_RSA},
    OIDRow{CERT_ALG_MD5_RSA, oid::MD5_RSA},
    OIDRow{CERT_ALG_SHA1_RSA, oid::SHA1_RSA},
    OIDRow{CERT_ALG_SHA1_RSA, oid::SHA1_RSA_OIW},
    OIDRow{CERT_ALG_DSA_SHA1, oid::DSA_SHA1},
    OIDRow{CERT_ALG_DSA_SHA1, oid::DSA_SHA1_OIW},
    OIDRow{CERT_ALG_DSA, oid::DSA},
    OIDRow{CERT_ALG_DSA, oid::DSA_OIW},
    OIDRow{CERT_ALG_SHA224_RSA, oid::SHA224_RSA},
    OIDRow{CERT_ALG_SHA256_RSA, oid::SHA256_RSA},
    OIDRow{CERT_ALG_SHA384_RSA, oid::SHA384_RSA},
    OIDRow{CERT_ALG_SHA512_RSA, oid::SHA512_RSA},
    OIDRow{CERT_ALG_RSAPSS, oid::RSASSA_PSS},
    OIDRow{CERT_ALG_RIPEMD160_RSA, oid::RIPEMD160_RSA},
    OIDRow{CERT_ALG_ECDSA_SHA1, oid::ECDSA_SHA1},
    OIDRow{CERT_ALG_ECDSA_RECOMMENDED, oid::ECDSA_RECOMMENDED},
    OIDRow{CERT_ALG_ECDSA_SHA224, oid::ECDSA_SHA224},
    OIDRow{CERT_ALG_ECDSA_SHA256, oid::ECDSA_SHA256},
    OIDRow{CERT_ALG_ECDSA_SHA384, oid::ECDSA_SHA384},
    OIDRow{CERT_ALG_ECDSA_SHA512, oid::ECDSA_SHA512},
    OIDRow{CERT_ALG_ECDSA_SPECIFIED, oid::ECDSA_SPECIFIED},
    OIDRow{CERT_ALG_GOST3411_GOST94, oid::GOST3411_GOST3410_94},
    OIDRow{CERT_ALG_GOST3411_GOST2001, oid::GOST3411_GOST3410_2001},
};

const std::array kHashTable{
    OIDRow{ALG_SHA1, oid::SHA1},
    OIDRow{ALG_MD2, oid::MD2},
    OIDRow{ALG_MD4, oid::MD4},
    OIDRow{ALG_MD5, oid::MD5},
    OIDRow{ALG_SHA224, oid::SHA224},
    OIDRow{ALG_SHA256, oid::SHA256},
    OIDRow{ALG_SHA384, oid::SHA384},
    OIDRow{ALG_SHA512, oid::SHA512},
    OIDRow{ALG_RIPEMD160, oid::RIPEMD160},
    OIDRow{ALG_GOST3411_94, oid::GOST3411_94},
};

template <size_t N>
int32_t CodeOf(const std::array<OIDRow, N>& table, std::string_view oid) {
  for (const OIDRow& row : table) {
    if (row.oid == oid) return row.code;
  }
  return ALG_UNKNOWN;
}

template <size_t N>
std::string OIDOf(const std::array<OIDRow, N>& table, int32_t code) {
  for (const OIDRow& row : table) {
    if (row.code == code) return std::string(row.oid);
  }
  return {};
}

}  // namespace

int32_t KeyFamilyOf(int32_t code) {
  if (code == CERT_ALG_RSA || code == CERT_ALG_MD5_RSA || code == CERT_ALG_SHA1_RSA ||
      (code >= CERT_ALG_SHA224_RSA && code <= CERT_ALG_RIPEMD160_RSA)) {
    return ALG_RSA;
  }
  if (code == CERT_ALG_DSA || code == CERT_ALG_DSA_SHA1) return ALG_DSA;
  if (code >= CERT_ALG_ECDSA_SHA1 && code <= CERT_ALG_ECDSA_SPECIFIED) return ALG_EC;
  if (code == 0xFFFF) return ALG_UNKNOWN;
  return code;
}

int32_t AlgorithmByOID(std::string_view oid, bool collapse) {
  const int32_t code = CodeOf(AlgorithmTable(), oid);
  return collapse ? KeyFamilyOf(code) : code;
}

std::string OIDByAlgorithm(int32_t algorithm) {
  switch (algorithm) {
    case CERT_ALG_RSA:
    case ALG_RSA:
      return std::string(oid::RSA_ENCRYPTION);
    case CERT_ALG_DSA:
    case ALG_DSA:
      return std::string(oid::DSA);
    case CERT_ALG_DH:
    case ALG_DH:
      return std::string(oid::DH_PUBLIC_NUMBER);
    case ALG_GOST3410_94:
      return std::string(oid::GOST3410_94);
    case ALG_GOST3410_2001:
      return std::string(oid::GOST3410_2001);
    case ALG_ECDSA:
      return std::string(oid::ECDSA_RECOMMENDED);
    default:
      break;
  }
  std::string found = OIDOf(AlgorithmTable(), algorithm);
  if (found.empty()) found = OIDOfSignatureAlgorithm(algorithm);
  return found;
}

int32_t KeyAlgorithmOfOID(std::string_view oid) { return CodeOf(kKeyTable, oid); }

int32_t SignatureAlgorithmOfOID(std::string_view oid) { return CodeOf(kSignatureTable, oid); }

std::string OIDOfKeyAlgorithm(int32_t code) { return OIDOf(kKeyTable, code); }

std::string OIDOfSignatureAlgorithm(int32_t code) { return OIDOf(kSignatureTable, code); }

int32_t HashOfSignatureAlgorithm(int32_t code, int32_t keyFamily) {
  struct Row {
    int32_t signature, family, hash;
  };
  static constexpr std::array kRows{
      Row{CERT_ALG_MD2_RSA, ALG_RSA, ALG_MD2},
      Row{CERT_ALG_MD5_RSA, ALG_RSA, ALG_MD5},
      Row{CERT_ALG_SHA1_RSA, ALG_RSA, ALG_SHA1},
      Row{CERT_ALG_SHA224_RSA, ALG_RSA, ALG_SHA224},
      Row{CERT_ALG_SHA256_RSA, ALG_RSA, ALG_SHA256},
      Row{CERT_ALG_SHA384_RSA, ALG_RSA, ALG_SHA384},
      Row{CERT_ALG_SHA512_RSA, ALG_RSA, ALG_SHA512},
      Row{CERT_ALG_RIPEMD160_RSA, ALG_RSA, ALG_RIPEMD160},
      Row{CERT_ALG_DSA_SHA1, ALG_DSA, ALG_SHA1},
      Row{CERT_ALG_ECDSA_SHA1, ALG_EC, ALG_SHA1},
      Row{CERT_ALG_ECDSA_SHA224, ALG_EC, ALG_SHA224},
      Row{CERT_ALG_ECDSA_SHA256, ALG_EC, ALG_SHA256},
      Row{CERT_ALG_ECDSA_SHA384, ALG_EC, ALG_SHA384},
      Row{CERT_ALG_ECDSA_SHA512, ALG_EC, ALG_SHA512},
  };
  for (const Row& row : kRows) {
    if (row.signature == code)
      return keyFamily == ALG_UNKNOWN || keyFamily == row.family ? row.hash : ALG_UNKNOWN;
  }
  return ALG_UNKNOWN;
}

int32_t HashAlgorithmOfOID(std::string_view oid) { return CodeOf(kHashTable, oid); }

std::string OIDOfHashAlgorithm(int32_t algorithm) { return OIDOf(kHashTable, algorithm); }

}  // namespace corvane
