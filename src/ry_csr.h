// The request context: what a decoded CertificationRequest holds (views
// into the context's one copy of the DER) and what a request being built
// holds (fields set by the setters, attributes appended at the tail).
//
//   CertificationRequest ::= SEQUENCE {
//        certificationRequestInfo CertificationRequestInfo,
//        signatureAlgorithm       AlgorithmIdentifier,
//        signature                BIT STRING }                (RFC 2986 4.2)
#pragma once

#include <cstdint>

#include "ry_x509.h"

namespace rycert2 {

// One request attribute: its type's OID content octets and its (first)
// value as one complete DER element.
struct CsrAttr {
  ByteField type;
  ByteField value;
};

// The attributes of a request, decoded or added, in order.
struct CsrAttrList {
  CsrAttrList() = default;
  ~CsrAttrList();
  CsrAttrList(const CsrAttrList &) = delete;
  CsrAttrList &operator=(const CsrAttrList &) = delete;

  PodArray<CsrAttr> items;
  AnyBuf own{};  // the attributes' own copy when decoded on their own
};

// The CertificationRequestInfo fields, decoded or set. Releases what it owns.
struct CsrInfo {
  CsrInfo();
  ~CsrInfo();
  CsrInfo(const CsrInfo &) = delete;
  CsrInfo &operator=(const CsrInfo &) = delete;

  AnyBuf own{};  // the info's own copy when it was decoded on its own
  ByteField tbs;
  uint32_t version = 0;
  NameField subject;
  // Decoded: the whole OID element of the key's algorithm; set: the OID's
  // content octets.
  ByteField keyAlgorithm;
  bool keyAlgorithmIsElement = false;
  ByteField key;  // subjectPublicKey bits
  CsrAttrList *attrs = nullptr;
};

void swapInfo(CsrInfo &a, CsrInfo &b);
// A new empty attribute list in `out`; 100 (logged) when memory runs out.
Status newAttrList(CsrAttrList *&out);
void freeAttrList(CsrAttrList *list);

// ---------------------------------------------------------------- attributes

enum CsrSlot : uint8_t {
  kCsrTbs,
  kCsrOuterAlg,
  kCsrSignature,
  kCsrVersion,
  kCsrSubject,
  kCsrKeyAlgorithm,
  kCsrKey,
};

inline constexpr int32_t kCsrSubjectFirst = CSR_SUBJECT_COUNTRYNAME;
inline constexpr uint16_t kCsrGetSet = kAttrGet | kAttrSet;

// One row per request identifier; setters, queries and their log lines read it.
inline constexpr AttrRow kCsrAttrs[] = {
    {CSR_TBS_CSR, "CSR_TBS_CSR", AttrKind::Bytes, kCsrTbs, 0, kAttrGet},
    {CSR_OUTER_SIGNATUREALGORITHM, "CSR_OUTER_SIGNATUREALGORITHM", AttrKind::Bytes, kCsrOuterAlg,
     0, kCsrGetSet},
    {CSR_SELF_SIGNATURE, "CSR_SELF_SIGNATURE", AttrKind::Bytes, kCsrSignature, 0, kCsrGetSet},
    {CSR_VERSION, "CSR_VERSION", AttrKind::Int, kCsrVersion, 0, kCsrGetSet},
    nameRow(CSR_SUBJECT_COUNTRYNAME, "CSR_SUBJECT_COUNTRYNAME", kCsrSubject, kCsrSubjectFirst,
            kCsrGetSet),
    nameRow(CSR_SUBJECT_STATEORPROVINCENAME, "CSR_SUBJECT_STATEORPROVINCENAME", kCsrSubject,
            kCsrSubjectFirst, kCsrGetSet),
    nameRow(CSR_SUBJECT_LOCALITYNAME, "CSR_SUBJECT_LOCALITYNAME", kCsrSubject, kCsrSubjectFirst,
            kCsrGetSet),
    nameRow(CSR_SUBJECT_ORGANIZATIONNAME, "CSR_SUBJECT_ORGANIZATIONNAME", kCsrSubject,
            kCsrSubjectFirst, kCsrGetSet),
    nameRow(CSR_SUBJECT_ORGANIZATIONALUNITNAME, "CSR_SUBJECT_ORGANIZATIONALUNITNAME", kCsrSubject,
            kCsrSubjectFirst, kCsrGetSet),
    nameRow(CSR_SUBJECT_COMMONNAME, "CSR_SUBJECT_COMMONNAME", kCsrSubject, kCsrSubjectFirst,
            kCsrGetSet),
    nameRow(CSR_SUBJECT_EMAIL, "CSR_SUBJECT_EMAIL", kCsrSubject, kCsrSubjectFirst, kCsrGetSet),
    nameRow(CSR_SUBJECT_POSTALADDRESS, "CSR_SUBJECT_POSTALADDRESS", kCsrSubject, kCsrSubjectFirst,
            kCsrGetSet),
    nameRow(CSR_SUBJECT_POSTALCODE, "CSR_SUBJECT_POSTALCODE", kCsrSubject, kCsrSubjectFirst,
            kCsrGetSet),
    nameRow(CSR_SUBJECT_TELEPHONE, "CSR_SUBJECT_TELEPHONE", kCsrSubject, kCsrSubjectFirst,
            kCsrGetSet),
    {CSR_PUBLICKEY_ALGORITHM, "CSR_PUBLICKEY_ALGORITHM", AttrKind::Bytes, kCsrKeyAlgorithm, 0,
     kCsrGetSet},
    {CSR_SUBJECTPUBLICKEYINFO, "CSR_SUBJECTPUBLICKEYINFO", AttrKind::Bytes, kCsrKey, 0,
     kCsrGetSet},
};
static_assert(sortedUnique(kCsrAttrs));

// The row of `id` for the Int functions (intKind) or the Char functions,
// when it allows `use`; NULL otherwise.
inline const AttrRow *csrRow(int64_t id, bool intKind, uint16_t use) {
  const AttrRow *row = findAttr(kCsrAttrs, id);
  if (row == nullptr || (row->kind == AttrKind::Int) != intKind || (row->flags & use) == 0) {
    return nullptr;
  }
  return row;
}

}  // namespace rycert2

struct CsrCtx {
  CsrCtx() = default;
  ~CsrCtx();
  CsrCtx(const CsrCtx &) = delete;
  CsrCtx &operator=(const CsrCtx &) = delete;

  rycert2::CsrInfo info;
  AnyBuf csrDer{};  // the request: decoding's copy or the encoder's result
  rycert2::ByteField outerAlg;
  rycert2::ByteField signature;
  rycert2::Signer signer;
};

namespace rycert2 {

// The attributes [0] element, its Attribute SEQUENCEs in DER SET OF order
// (X.690 11.6); A0 00 when there are none. 100 (logged) when the working
// block for sorting cannot be had; writer faults stay in `w`.
Status writeAttributes(DerWriter &w, const CsrAttrList *list);

}  // namespace rycert2
