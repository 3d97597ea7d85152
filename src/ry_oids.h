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

// X.509 certificate extensions, 2.5.29.n (RFC 5280 4.2.1)
inline constexpr uint8_t kSubjectKeyIdentifier[] = {0x55, 0x1D, 0x0E};    // 2.5.29.14
inline constexpr uint8_t kKeyUsage[] = {0x55, 0x1D, 0x0F};                // 2.5.29.15
inline constexpr uint8_t kSubjectAltName[] = {0x55, 0x1D, 0x11};          // 2.5.29.17
inline constexpr uint8_t kIssuerAltName[] = {0x55, 0x1D, 0x12};           // 2.5.29.18
inline constexpr uint8_t kBasicConstraints[] = {0x55, 0x1D, 0x13};        // 2.5.29.19
inline constexpr uint8_t kCrlDistributionPoints[] = {0x55, 0x1D, 0x1F};   // 2.5.29.31
inline constexpr uint8_t kCertificatePolicies[] = {0x55, 0x1D, 0x20};     // 2.5.29.32
inline constexpr uint8_t kAuthorityKeyIdentifier[] = {0x55, 0x1D, 0x23};  // 2.5.29.35
inline constexpr uint8_t kExtKeyUsage[] = {0x55, 0x1D, 0x25};             // 2.5.29.37

// PKIX policy qualifier id-qt-cps, 1.3.6.1.5.5.7.2.1 (RFC 5280 4.2.1.4)
inline constexpr uint8_t kIdQtCps[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x02, 0x01};

// PKIX extended key usage purposes, 1.3.6.1.5.5.7.3.n (RFC 5280 4.2.1.12)
inline constexpr uint8_t kServerAuth[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x01};       // .1
inline constexpr uint8_t kClientAuth[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x02};       // .2
inline constexpr uint8_t kCodeSigning[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x03};      // .3
inline constexpr uint8_t kEmailProtection[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x04};  // .4
inline constexpr uint8_t kIpsecEndSystem[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x05};   // .5
inline constexpr uint8_t kIpsecTunnel[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x06};      // .6
inline constexpr uint8_t kIpsecUser[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x07};        // .7
inline constexpr uint8_t kTimeStamping[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x08};     // .8

inline bool equal(Octets a, Octets b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace rycert2::oid
