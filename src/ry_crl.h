// The CRL context: what a decoded CertificateList holds (views into the
// context's one copy of the DER) and what a CRL being built holds (fields
// set by the setters, entries appended at the tail).
//
//   CertificateList ::= SEQUENCE {
//        tbsCertList          TBSCertList,
//        signatureAlgorithm   AlgorithmIdentifier,
//        signatureValue       BIT STRING }                  (RFC 5280 5.1)
#pragma once

#include <cstdint>
#include <utility>

#include "ry_x509.h"

namespace rycert2 {

// An update or revocation time: the integer time and the form it was read
// in or chosen for (UTCTime or GeneralizedTime).
struct CrlTime {
  uint32_t value = 0;
  bool utcForm = false;
};

}  // namespace rycert2

// One revoked certificate as the entry encoder writes it and the cursor
// reads it:
//   revokedCertificates SEQUENCE OF SEQUENCE {
//        userCertificate      CertificateSerialNumber,
//        revocationDate       Time,
//        crlEntryExtensions   Extensions OPTIONAL }
// The spans view the context's DER (decoded) or its entry store (built).
struct RevokedEntry {
  rycert2::ByteSpan serial;  // magnitude, without the INTEGER's 00 pad octet
  rycert2::CrlTime date;
  bool hasEntryExtensions = false;
  bool hasReason = false;
  rycert2::ByteSpan reason;  // content octets of the reasonCode ENUMERATED
};

namespace rycert2 {

// One decoded entry as the cursor answers it, filled in the checking pass
// so that walking parses nothing: 16 bytes whatever the entry's size.
// Offsets count from the start of the revokedCertificates content.
struct RevokedSlot {
  uint32_t serialAt;  // the serial's magnitude
  uint32_t serialLen;
  uint32_t date;      // revocationDate as integer time
  uint32_t reasonAt;  // 1 + offset of the reasonCode ENUMERATED element; 0: no reason
};
static_assert(sizeof(RevokedSlot) == 16);

// The decoded revokedCertificates, walked by the cursor: the entries stay
// in the DER, their slots in one block from the runtime allocator.
struct RevokedWalk {
  RevokedWalk() = default;
  ~RevokedWalk() { MOSK_Free(slots); }
  RevokedWalk(const RevokedWalk &) = delete;
  RevokedWalk &operator=(const RevokedWalk &) = delete;
  void swap(RevokedWalk &o) {
    std::swap(entries, o.entries);
    std::swap(slots, o.slots);
    std::swap(count, o.count);
    std::swap(at, o.at);
  }
  bool onEntry() const { return at < count; }
  // The entry under the cursor (onEntry() only).
  ByteSpan serial() const { return entries.subspan(slots[at].serialAt, slots[at].serialLen); }
  uint32_t date() const { return slots[at].date; }
  // The reasonCode's content octets; empty when the entry has none.
  ByteSpan reason() const;

  ByteSpan entries;              // content octets of revokedCertificates
  RevokedSlot *slots = nullptr;  // one per entry, in CRL order
  size_t count = 0;
  size_t at = 0;  // the cursor; `count` once past the last entry
};

// An entry the builder holds: offsets into the builder's byte store.
struct BuiltEntry {
  uint32_t serialAt;
  uint32_t serialLen;
  uint32_t reasonAt;
  uint32_t reasonLen;
  uint32_t date;
  uint8_t form;  // 1: UTCTime chosen, 0: never set (GeneralizedTime of 0)
  uint8_t hasReason;
};

// The TBSCertList fields, decoded or set. Releases what it owns.
struct CrlTbs {
  CrlTbs();
  ~CrlTbs();
  CrlTbs(const CrlTbs &) = delete;
  CrlTbs &operator=(const CrlTbs &) = delete;

  AnyBuf own{};  // the TBS's own copy when it was decoded on its own
  ByteField tbs;
  bool versionSet = false;
  uint32_t version = 0;
  ByteField innerAlg;
  NameField issuer;
  CrlTime thisUpdate;
  CrlTime nextUpdate;
  bool nextUpdateSet = false;
  AnyBuf revokedOwn{};  // the entries' own copy when decoded on their own
  RevokedWalk revoked;
};

// Exchanges two TBS states (names included, whose tails point into them).
void swapTbs(CrlTbs &a, CrlTbs &b);

// Decodes the TBSCertList element `tbs`, whose bytes the caller keeps alive
// for as long as `out` lives. Every failure is logged.
Status decodeTbs(const Tlv &tbs, CrlTbs &out);
// Decodes the revokedCertificates element into `out` (cursor on the first
// entry); `out` is replaced only on success. Every failure is logged.
Status decodeRevoked(const Tlv &revoked, RevokedWalk &out);

}  // namespace rycert2

struct CrlCtx {
  CrlCtx() = default;
  ~CrlCtx();
  CrlCtx(const CrlCtx &) = delete;
  CrlCtx &operator=(const CrlCtx &) = delete;

  rycert2::CrlTbs t;
  AnyBuf crlDer{};  // the CertificateList: decoding's copy or the encoder's result
  rycert2::ByteField outerAlg;
  rycert2::ByteField signature;
  AnyBuf issuerDnText{};  // built on the first CRL_ISSUER_DN query
  rycert2::Signer signer;
  // The builder's entries, appended at the tail, and their bytes.
  rycert2::PodArray<rycert2::BuiltEntry> built;
  rycert2::PodArray<uint8_t> builtBytes;
  bool hasRevoked = false;
};

namespace rycert2 {

// ---------------------------------------------------------------- attributes

// The field a CRL attribute row reads or writes.
enum CrlSlot : uint8_t {
  kCrlTbs,
  kCrlOuterAlg,
  kCrlSignature,
  kCrlVersion,
  kCrlInnerAlg,
  kCrlIssuer,
  kCrlThisUpdate,
  kCrlNextUpdate,
  kCrlSerial,
  kCrlRevocationDate,
  kCrlNext,
  kCrlReason,
};

inline constexpr int32_t kCrlIssuerFirst = CRL_ISSUER_COUNTRYNAME;
inline constexpr uint16_t kGetSet = kAttrGet | kAttrSet;

// One row per CRL identifier; the setters, the queries and their log lines
// read it. Char rows are those that are not Int.
inline constexpr AttrRow kCrlAttrs[] = {
    {CRL_TBS_CERTLIST, "CRL_TBS_CERTLIST", AttrKind::Bytes, kCrlTbs, 0, kAttrGet},
    {CRL_OUTER_SIGNATUREALGORITHM, "CRL_OUTER_SIGNATUREALGORITHM", AttrKind::Bytes, kCrlOuterAlg,
     0, kGetSet},
    {CRL_CA_SIGNATURE, "CRL_CA_SIGNATURE", AttrKind::Bytes, kCrlSignature, 0, kGetSet},
    {CRL_VERSION, "CRL_VERSION", AttrKind::Int, kCrlVersion, 0, kGetSet},
    {CRL_INNER_SIGNATUREALGORITHM, "CRL_INNER_SIGNATUREALGORITHM", AttrKind::Bytes, kCrlInnerAlg,
     0, kGetSet},
    {CRL_ISSUER_DN, "CRL_ISSUER_DN", AttrKind::DnText, kCrlIssuer, 0, kAttrGet},
    nameRow(CRL_ISSUER_COUNTRYNAME, "CRL_ISSUER_COUNTRYNAME", kCrlIssuer, kCrlIssuerFirst, kGetSet),
    nameRow(CRL_ISSUER_STATEORPROVINCENAME, "CRL_ISSUER_STATEORPROVINCENAME", kCrlIssuer,
            kCrlIssuerFirst, kGetSet),
    nameRow(CRL_ISSUER_LOCALITYNAME, "CRL_ISSUER_LOCALITYNAME", kCrlIssuer, kCrlIssuerFirst,
            kGetSet),
    nameRow(CRL_ISSUER_ORGANIZATIONNAME, "CRL_ISSUER_ORGANIZATIONNAME", kCrlIssuer,
            kCrlIssuerFirst, kGetSet),
    nameRow(CRL_ISSUER_ORGANIZATIONALUNITNAME, "CRL_ISSUER_ORGANIZATIONALUNITNAME", kCrlIssuer,
            kCrlIssuerFirst, kGetSet),
    nameRow(CRL_ISSUER_COMMONNAME, "CRL_ISSUER_COMMONNAME", kCrlIssuer, kCrlIssuerFirst, kGetSet),
    // Queried only; the setter refuses it.
    nameRow(CRL_ISSUER_EMAIL, "CRL_ISSUER_EMAIL", kCrlIssuer, kCrlIssuerFirst, kAttrGet),
    nameRow(CRL_ISSUER_POSTALADDRESS, "CRL_ISSUER_POSTALADDRESS", kCrlIssuer, kCrlIssuerFirst,
            kGetSet),
    nameRow(CRL_ISSUER_POSTALCODE, "CRL_ISSUER_POSTALCODE", kCrlIssuer, kCrlIssuerFirst, kGetSet),
    nameRow(CRL_ISSUER_TELEPHONE, "CRL_ISSUER_TELEPHONE", kCrlIssuer, kCrlIssuerFirst, kGetSet),
    {CRL_THISUPDATE, "CRL_THISUPDATE", AttrKind::Int, kCrlThisUpdate, 0, kGetSet},
    {CRL_NEXTUPDATE, "CRL_NEXTUPDATE", AttrKind::Int, kCrlNextUpdate, 0, kGetSet},
    {CRL_CERT_SERIALNUMBER, "CRL_CERT_SERIALNUMBER", AttrKind::Special, kCrlSerial, 0, kGetSet},
    {CRL_CERT_REVOCATIONDATE, "CRL_CERT_REVOCATIONDATE", AttrKind::Int, kCrlRevocationDate, 0,
     kGetSet},
    {CRL_CERT_NEXT, "CRL_CERT_NEXT", AttrKind::Special, kCrlNext, 0, kAttrGet},
    {CRLEX_CRLREASON, "CRLEX_CRLREASON", AttrKind::Special, kCrlReason, 0, kGetSet},
};
static_assert(sortedUnique(kCrlAttrs));

// Rows by id, for the queries of the entry walk (called per entry): the
// ids lie in 1001..1063, so a dense index of kCrlAttrs answers in one step.
inline constexpr int32_t kCrlFirstId = CRL_TBS_CERTLIST;
inline constexpr int32_t kCrlLastId = CRLEX_CRLREASON;
struct CrlRowIndex {
  int8_t at[kCrlLastId - kCrlFirstId + 1];
};
constexpr CrlRowIndex makeCrlRowIndex() {
  CrlRowIndex ix{};
  for (auto &a : ix.at) {
    a = -1;
  }
  for (size_t i = 0; i < std::size(kCrlAttrs); ++i) {
    ix.at[kCrlAttrs[i].id - kCrlFirstId] = int8_t(i);
  }
  return ix;
}
inline constexpr CrlRowIndex kCrlRowIndex = makeCrlRowIndex();

// The row of `id` when `kind` answers it: Int rows for the Int functions,
// every other row for the Char functions; NULL otherwise.
inline const AttrRow *crlRow(int64_t id, bool intKind, uint16_t use) {
  if (id < kCrlFirstId || id > kCrlLastId || kCrlRowIndex.at[id - kCrlFirstId] < 0) {
    return nullptr;
  }
  const AttrRow *row = &kCrlAttrs[kCrlRowIndex.at[id - kCrlFirstId]];
  if (row == nullptr || (row->kind == AttrKind::Int) != intKind || (row->flags & use) == 0) {
    return nullptr;
  }
  return row;
}

// The entry encoder: one RevokedCertificate element.
void writeEntry(DerWriter &w, const RevokedEntry &e);
// The crlEntryExtensions of an entry that carries a reason:
//   Extensions ::= SEQUENCE SIZE (1..MAX) OF Extension
//   Extension ::= SEQUENCE { extnID OBJECT IDENTIFIER (id-ce-cRLReasons),
//                            extnValue OCTET STRING (DER of CRLReason) }
void writeEntryExtensions(DerWriter &w, const RevokedEntry &e);
// The builder's entry `i` as the entry encoder reads it.
RevokedEntry builtEntry(const CrlCtx &ctx, size_t i);
// revokedCertificates of the builder's entries (30 00 when there are none).
void writeRevoked(DerWriter &w, const CrlCtx &ctx);

}  // namespace rycert2
