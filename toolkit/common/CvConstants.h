// Algorithm constants. The family of a code is code & 0x7FFFFF00.
#pragma once

#include <cstdint>

namespace corvane {

inline constexpr int32_t ALG_FAMILY_MASK = 0x7FFFFF00;
inline constexpr int32_t ALG_FAMILY_SYMMETRIC = 0x7000;
inline constexpr int32_t ALG_FAMILY_HASH = 0x7100;
inline constexpr int32_t ALG_FAMILY_MAC = 0x7300;
inline constexpr int32_t ALG_FAMILY_PUBLICKEY = 0x7400;

inline constexpr int32_t ALG_UNKNOWN = 0x7FFF;

// Symmetric ciphers start at RC4; the others are not used on the signing path.
inline constexpr int32_t ALG_RC4 = 0x7001;

// Hash functions.
inline constexpr int32_t ALG_SHA1 = 0x7101;
inline constexpr int32_t ALG_MD5 = 0x7102;
inline constexpr int32_t ALG_MD2 = 0x7103;
inline constexpr int32_t ALG_SHA256 = 0x7104;
inline constexpr int32_t ALG_SHA384 = 0x7105;
inline constexpr int32_t ALG_SHA512 = 0x7106;
inline constexpr int32_t ALG_SHA224 = 0x7107;
inline constexpr int32_t ALG_MD4 = 0x7108;
inline constexpr int32_t ALG_RIPEMD160 = 0x7109;
inline constexpr int32_t ALG_SSL3_HASH = 0x710B;
inline constexpr int32_t ALG_GOST3411_94 = 0x710C;
// Listed with a 32-bit digest size but without an implementation.
inline constexpr int32_t ALG_HASH_32BIT = 0x710A;

// MAC algorithms.
inline constexpr int32_t ALG_HMAC_SHA1 = 0x7301;
inline constexpr int32_t ALG_HMAC_SHA224 = 0x7302;
inline constexpr int32_t ALG_HMAC_SHA256 = 0x7303;
inline constexpr int32_t ALG_HMAC_SHA384 = 0x7304;
inline constexpr int32_t ALG_HMAC_SHA512 = 0x7305;
inline constexpr int32_t ALG_HMAC_MD5 = 0x7306;
inline constexpr int32_t ALG_HMAC_RIPEMD160 = 0x7307;
// The generic HMAC key algorithm: keys of this code serve every HMAC.
inline constexpr int32_t ALG_HMAC_KEY = 0x7308;
inline constexpr int32_t ALG_UMAC32 = 0x7310;
inline constexpr int32_t ALG_UMAC64 = 0x7311;
inline constexpr int32_t ALG_UMAC96 = 0x7312;
inline constexpr int32_t ALG_UMAC128 = 0x7313;
inline constexpr int32_t ALG_GOST28147_MAC = 0x7314;

// Public-key algorithms.
inline constexpr int32_t ALG_RSA = 0x7401;
inline constexpr int32_t ALG_DSA = 0x7402;
inline constexpr int32_t ALG_ELGAMAL = 0x7403;
inline constexpr int32_t ALG_GOST3410_94 = 0x7404;
inline constexpr int32_t ALG_EC = 0x7405;
inline constexpr int32_t ALG_ECDSA = 0x7406;
inline constexpr int32_t ALG_DH = 0x7407;
inline constexpr int32_t ALG_GOST3410_2001 = 0x740A;

// The vendor suffix of property identifiers ("hash-algorithm@" + suffix) and of the
// OID-less algorithm names ("ssl-hash@" + suffix). One value everywhere, since the
// texts are compared byte for byte.
inline constexpr char CV_VENDOR_SUFFIX[] = "corvane.tavra";

inline constexpr int32_t AlgorithmFamily(int32_t algorithm) { return algorithm & ALG_FAMILY_MASK; }

}  // namespace corvane
