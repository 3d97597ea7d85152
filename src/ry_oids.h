// Object identifiers the library knows, as DER content octets. Each is
// named once here, with its dotted form; no OID bytes appear inline
// elsewhere.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

namespace rycert2::oid {

using Octets = std::span<const uint8_t>;

// X.520 attribute types, 2.5.4.n
inline constexpr uint8_t kCommonName[] = {0x55, 0x04, 0x03};              // 2.5.4.3
inline constexpr uint8_t kCountryName[] = {0x55, 0x04, 0x06};             // 2.5.4.6
inline constexpr uint8_t kLocalityName[] = {0x55, 0x04, 0x07};            // 2.5.4.7
inline constexpr uint8_t kStateOrProvinceName[] = {0x55, 0x04, 0x08};     // 2.5.4.8
inline constexpr uint8_t kOrganizationName[] = {0x55, 0x04, 0x0A};        // 2.5.4.10
inline constexpr uint8_t kOrganizationalUnitName[] = {0x55, 0x04, 0x0B};  // 2.5.4.11
inline constexpr uint8_t kPostalAddress[] = {0x55, 0x04, 0x10};           // 2.5.4.16
inline constexpr uint8_t kPostalCode[] = {0x55, 0x04, 0x11};              // 2.5.4.17
inline constexpr uint8_t kTelephoneNumber[] = {0x55, 0x04, 0x14};         // 2.5.4.20

// PKCS#9 emailAddress, 1.2.840.113549.1.9.1
inline constexpr uint8_t kEmailAddress[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01};

// PKCS#1 rsaEncryption, 1.2.840.113549.1.1.1
inline constexpr uint8_t kRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};

// PKCS#1 signature algorithms, 1.2.840.113549.1.1.n (RFC 8017 A.2.4)
inline constexpr uint8_t kMd2WithRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                    0x0D, 0x01, 0x01, 0x02};  // .2
inline constexpr uint8_t kMd5WithRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                    0x0D, 0x01, 0x01, 0x04};  // .4
inline constexpr uint8_t kSha1WithRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                     0x0D, 0x01, 0x01, 0x05};  // .5
inline constexpr uint8_t kSha256WithRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                       0x0D, 0x01, 0x01, 0x0B};  // .11
inline constexpr uint8_t kSha384WithRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                       0x0D, 0x01, 0x01, 0x0C};  // .12
inline constexpr uint8_t kSha512WithRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                       0x0D, 0x01, 0x01, 0x0D};  // .13

// id-ce-cRLReasons, 2.5.29.21 (RFC 5280 5.3.1)
inline constexpr uint8_t kCrlReason[] = {0x55, 0x1D, 0x15};

inline bool equal(Octets a, Octets b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace rycert2::oid
