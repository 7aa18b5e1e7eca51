// Algorithm identifiers: the tables that map OIDs to the toolkit's algorithm
// constants and back, and the AlgorithmIdentifier objects (RFC 5280 4.1.1.2)
// that read and write each key family's parameters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "toolkit/common/CvConstants.h"

namespace corvane {

// Certificate key and signature algorithm codes. They are small integers that
// live beside the 0x7xxx constants; KeyFamilyOf maps them onto those.
inline constexpr int32_t CERT_ALG_RSA = 0;
inline constexpr int32_t CERT_ALG_MD2_RSA = 1;
inline constexpr int32_t CERT_ALG_MD5_RSA = 2;
inline constexpr int32_t CERT_ALG_SHA1_RSA = 3;
inline constexpr int32_t CERT_ALG_DSA = 4;
inline constexpr int32_t CERT_ALG_DSA_SHA1 = 5;
inline constexpr int32_t CERT_ALG_DH = 6;
inline constexpr int32_t CERT_ALG_SHA224_RSA = 7;
inline constexpr int32_t CERT_ALG_SHA256_RSA = 8;
inline constexpr int32_t CERT_ALG_SHA384_RSA = 9;
inline constexpr int32_t CERT_ALG_SHA512_RSA = 10;
inline constexpr int32_t CERT_ALG_RSAPSS = 11;
inline constexpr int32_t CERT_ALG_RSAOAEP = 12;
inline constexpr int32_t CERT_ALG_RIPEMD160_RSA = 13;
inline constexpr int32_t CERT_ALG_ECDSA_SHA1 = 15;
inline constexpr int32_t CERT_ALG_ECDSA_RECOMMENDED = 16;
inline constexpr int32_t CERT_ALG_ECDSA_SHA224 = 17;
inline constexpr int32_t CERT_ALG_ECDSA_SHA256 = 18;
inline constexpr int32_t CERT_ALG_ECDSA_SHA384 = 19;
inline constexpr int32_t CERT_ALG_ECDSA_SHA512 = 20;
inline constexpr int32_t CERT_ALG_EC = 21;
inline constexpr int32_t CERT_ALG_ECDSA_SPECIFIED = 22;
inline constexpr int32_t CERT_ALG_GOST94 = 23;
inline constexpr int32_t CERT_ALG_GOST2001 = 24;
inline constexpr int32_t CERT_ALG_GOST3411_GOST94 = 25;
inline constexpr int32_t CERT_ALG_GOST3411_GOST2001 = 26;
inline constexpr int32_t CERT_ALG_MGF1 = 513;

// Encoded OIDs (content octets of the OBJECT IDENTIFIER) used outside the tables.
namespace oid {
inline constexpr std::string_view RSA_ENCRYPTION{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x01", 9};
inline constexpr std::string_view RSA_X509{"\x55\x08\x01\x01", 4};
inline constexpr std::string_view MD2_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x02", 9};
inline constexpr std::string_view MD5_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x04", 9};
inline constexpr std::string_view SHA1_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x05", 9};
inline constexpr std::string_view SHA1_RSA_OIW{"\x2B\x0E\x03\x02\x1D", 5};
inline constexpr std::string_view RSAES_OAEP{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x07", 9};
inline constexpr std::string_view MGF1{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x08", 9};
inline constexpr std::string_view P_SPECIFIED{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x09", 9};
inline constexpr std::string_view RSASSA_PSS{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0A", 9};
inline constexpr std::string_view SHA256_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0B", 9};
inline constexpr std::string_view SHA384_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0C", 9};
inline constexpr std::string_view SHA512_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0D", 9};
inline constexpr std::string_view SHA224_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0E", 9};
inline constexpr std::string_view RIPEMD160_RSA{"\x2B\x24\x03\x03\x01\x02", 6};
inline constexpr std::string_view DSA{"\x2A\x86\x48\xCE\x38\x04\x01", 7};
inline constexpr std::string_view DSA_OIW{"\x2B\x0E\x03\x02\x0C", 5};
inline constexpr std::string_view DSA_SHA1{"\x2A\x86\x48\xCE\x38\x04\x03", 7};
inline constexpr std::string_view DSA_SHA1_OIW{"\x2B\x0E\x03\x02\x0D", 5};
inline constexpr std::string_view DH_PUBLIC_NUMBER{"\x2A\x86\x48\xCE\x3E\x02\x01", 7};
inline constexpr std::string_view EC_PUBLIC_KEY{"\x2A\x86\x48\xCE\x3D\x02\x01", 7};
inline constexpr std::string_view ECDSA_SHA1{"\x2A\x86\x48\xCE\x3D\x04\x01", 7};
inline constexpr std::string_view ECDSA_RECOMMENDED{"\x2A\x86\x48\xCE\x3D\x04\x02", 7};
inline constexpr std::string_view ECDSA_SPECIFIED{"\x2A\x86\x48\xCE\x3D\x04\x03", 7};
inline constexpr std::string_view ECDSA_SHA224{"\x2A\x86\x48\xCE\x3D\x04\x03\x01", 8};
inline constexpr std::string_view ECDSA_SHA256{"\x2A\x86\x48\xCE\x3D\x04\x03\x02", 8};
inline constexpr std::string_view ECDSA_SHA384{"\x2A\x86\x48\xCE\x3D\x04\x03\x03", 8};
inline constexpr std::string_view ECDSA_SHA512{"\x2A\x86\x48\xCE\x3D\x04\x03\x04", 8};
inline constexpr std::string_view EC_PRIME_FIELD{"\x2A\x86\x48\xCE\x3D\x01\x01", 7};
inline constexpr std::string_view EC_CHAR2_FIELD{"\x2A\x86\x48\xCE\x3D\x01\x02", 7};
inline constexpr std::string_view EC_BASIS_GN{"\x2A\x86\x48\xCE\x3D\x01\x02\x03\x01", 9};
inline constexpr std::string_view EC_BASIS_TP{"\x2A\x86\x48\xCE\x3D\x01\x02\x03\x02", 9};
inline constexpr std::string_view EC_BASIS_PP{"\x2A\x86\x48\xCE\x3D\x01\x02\x03\x03", 9};
inline constexpr std::string_view GOST3410_94{"\x2A\x85\x03\x02\x02\x14", 6};
inline constexpr std::string_view GOST3410_2001{"\x2A\x85\x03\x02\x02\x13", 6};
inline constexpr std::string_view GOST3411_GOST3410_94{"\x2A\x85\x03\x02\x02\x04", 6};
inline constexpr std::string_view GOST3411_GOST3410_2001{"\x2A\x85\x03\x02\x02\x03", 6};
inline constexpr std::string_view GOST28147_CRYPTOPRO_A{"\x2A\x85\x03\x02\x02\x1F\x01", 7};
inline constexpr std::string_view SHA1{"\x2B\x0E\x03\x02\x1A", 5};
inline constexpr std::string_view MD2{"\x2A\x86\x48\x86\xF7\x0D\x02\x02", 8};
inline constexpr std::string_view MD4{"\x2A\x86\x48\x86\xF7\x0D\x02\x04", 8};
inline constexpr std::string_view MD5{"\x2A\x86\x48\x86\xF7\x0D\x02\x05", 8};
inline constexpr std::string_view SHA224{"\x60\x86\x48\x01\x65\x03\x04\x02\x04", 9};
inline constexpr std::string_view SHA256{"\x60\x86\x48\x01\x65\x03\x04\x02\x01", 9};
inline constexpr std::string_view SHA384{"\x60\x86\x48\x01\x65\x03\x04\x02\x02", 9};
inline constexpr std::string_view SHA512{"\x60\x86\x48\x01\x65\x03\x04\x02\x03", 9};
inline constexpr std::string_view RIPEMD160{"\x2B\x24\x03\x02\x01", 5};
inline constexpr std::string_view GOST3411_94{"\x2A\x85\x03\x02\x02\x09", 6};
}  // namespace oid

// Maps a certificate signature or key code onto its public-key family constant
// (0, 2, 3, 7..13 -> ALG_RSA; 4, 5 -> ALG_DSA; 15..22 -> ALG_EC); other values
// pass unchanged, except 0xFFFF which becomes ALG_UNKNOWN.
int32_t KeyFamilyOf(int32_t code);

// The algorithm constant (or certificate code) of an encoded OID, ALG_UNKNOWN when
// the table has none; with collapse the result passes through KeyFamilyOf.
int32_t AlgorithmByOID(std::string_view oid, bool collapse = false);
// The encoded OID of an algorithm constant or certificate code; empty when unknown.
std::string OIDByAlgorithm(int32_t algorithm);

// The certificate code tables: key algorithms (0, 4, 6, 11, 12, 21, 23, 24) and
// signature algorithms; ALG_UNKNOWN for an OID of neither, empty for a code of neither.
int32_t KeyAlgorithmOfOID(std::string_view oid);
int32_t SignatureAlgorithmOfOID(std::string_view oid);
std::string OIDOfKeyAlgorithm(int32_t code);
std::string OIDOfSignatureAlgorithm(int32_t code);

// Digest OIDs and their hash constants; ALG_UNKNOWN / empty when not a digest.
int32_t HashAlgorithmOfOID(std::string_view oid);
std::string OIDOfHashAlgorithm(int32_t algorithm);

}  // namespace corvane
