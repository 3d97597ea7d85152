// Shared X.509 pieces of the certificate, CRL and request contexts: byte
// fields that view a context's DER or own a copy, growable arrays, names
// kept as DER plus appended nodes, attribute tables, the length protocol
// of the queries, time and AlgorithmIdentifier writing and reading, and the
// ONE signing step of the three encoders.
//
// Layering: this header sits above ry_asn2.h / ry_low.h / ry_names.h and
// below ry_cert*, ry_crl*, ry_csr*. Interfaces here are only added to,
// never renamed (the CRL and request code build on them).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "ry_asn2.h"
#include "ry_low.h"
#include "ry_names.h"

namespace rycert2 {

using ByteSpan = std::span<const uint8_t>;

// ------------------------------------------------------------ byte fields

// A field's bytes: either a view into DER the context owns (decoding keeps
// one copy of the input and points into it) or a block the field owns (a
// setter's copy). Zero-initialised = empty.
struct ByteField {
  const uint8_t *data = nullptr;
  uint32_t length = 0;
  bool owned = false;

  ByteSpan view() const { return {data, data == nullptr ? 0u : length}; }
  bool empty() const { return length == 0; }
};
// Replaces the field with a fresh copy of `bytes` (an empty span empties
// it). 100 ("------>MOSK_Malloc" logged) when the copy cannot be made; the
// field is then unchanged.
Status setCopy(ByteField &f, ByteSpan bytes);
// Replaces the field with a view (no copy); the viewed bytes must outlive it.
void setView(ByteField &f, ByteSpan bytes);
// Releases an owned block and empties the field.
void clearField(ByteField &f);

// ---------------------------------------------------------- growable array

// An array of trivially copyable records from the runtime allocator,
// doubled as it grows (appends are amortised O(1), lookups by index O(1)).
// Zero-initialised = empty. Elements are not destroyed one by one: callers
// release what an element owns before clear().
template <class T>
class PodArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  PodArray() = default;
  PodArray(const PodArray &) = delete;
  PodArray &operator=(const PodArray &) = delete;
  ~PodArray() { clear(); }

  // Room for n more elements in one block; 100 (not logged) when memory runs out.
  Status reserve(size_t n) {
    if (size_ + n <= cap_) {
      return Status::Ok;
    }
    size_t want = cap_ < 4 ? 4 : cap_ * 2;
    if (want < size_ + n) {
      want = size_ + n;
    }
    if (want > (size_t(1) << 40) / sizeof(T)) {
      return Status::Memory;
    }
    auto *p = static_cast<T *>(MOSK_Malloc("ry_x509", __LINE__, want * sizeof(T)));
    if (p == nullptr) {
      return Status::Memory;
    }
    if (size_ != 0) {
      std::memcpy(static_cast<void *>(p), items_, size_ * sizeof(T));
    }
    MOSK_Free(items_);
    items_ = p;
    cap_ = want;
    return Status::Ok;
  }
  // Appends a copy of `v`; 100 (not logged) when memory runs out, the
  // array then unchanged.
  Status push(const T &v) {
    if (Status st = reserve(1); st != Status::Ok) {
      return st;
    }
    items_[size_++] = v;
    return Status::Ok;
  }
  void popBack() { --size_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T &operator[](size_t i) { return items_[i]; }
  const T &operator[](size_t i) const { return items_[i]; }
  T &back() { return items_[size_ - 1]; }
  T *begin() { return items_; }
  T *end() { return items_ + size_; }
  const T *begin() const { return items_; }
  const T *end() const { return items_ + size_; }
  void clear() {
    MOSK_Free(items_);
    items_ = nullptr;
    size_ = cap_ = 0;
  }

 private:
  T *items_ = nullptr;
  size_t size_ = 0;
  size_t cap_ = 0;
};

// ------------------------------------------------------------------ names

// A name as a context keeps it: the DER of a decoded Name (content octets
// of the SEQUENCE, a view into the context's DER) followed by the nodes
// that setters appended (RyNameNode chain, tail kept so appends are O(1)).
// Queries see the decoded components first, then the appended ones, as if
// both were one chain in that order.
struct NameField {
  ByteSpan der;                // RDNs of a decoded Name; checked by checkName
  RyNameNode *head = nullptr;  // appended nodes, owned
  RyNameNode **tail = &head;   // where the next node goes
  // Zero-initialise then call initName (tail must point at head).

  // Index of the decoded RDNs that checkName fills in the same pass: per
  // name component (kNameComponents order) the first and the last value,
  // as offsets into `der`, so that queries do not walk the DER. It is used
  // only while `indexed == der.data()`: a field-wise swap or copy of `der`
  // leaves it unused (the queries then walk `der`), never wrong.
  static constexpr uint32_t kNoValue = 0xFFFFFFFFu;
  struct Seen {
    uint32_t firstAt = kNoValue, firstLen = 0, lastAt = kNoValue, lastLen = 0;
  };
  const uint8_t *indexed = nullptr;
  Seen seen[std::size(kNameComponents)];
};
void initName(NameField &n);
// Exchanges two names, index included (a chain's tail is re-pointed).
void swapNames(NameField &a, NameField &b);
// Releases the appended nodes and forgets the DER view.
void clearName(NameField &n);
// Appends a node for component `c` whose value is a copy of `value`, with
// string tag 19 (PrintableString; the Name writer picks the string type
// that can hold it). 100 ("------>MOSK_Malloc") on allocation
// failure, the name then unchanged.
Status appendComponent(NameField &n, const NameComponent &c, ByteSpan value);
// Checks a Name element as Hx_DecodeIssuerSubject would read it (each RDN
// a non-empty SET, its first attribute SEQUENCE { OID, ANY }), without
// building nodes, and on success stores the view of its content in `n.der`.
// Failures are logged as the node decoder logs them; the last line names
// `as` ("Hx_DecodeIssuerSubject").
Status checkName(const Tlv &name, NameField &n, const char *as);
// The value (string content octets) of the first component with attribute
// code `code`: decoded RDNs first (only types the Name decoder recognises,
// so postal address, postal code and telephone are not found there), then
// appended nodes. Empty span when none.
ByteSpan firstComponent(const NameField &n, uint32_t code);
// The same for a component of kNameComponents (no lookup by code).
ByteSpan firstComponent(const NameField &n, const NameComponent &c);
// The DN text of Hx_GetDN (C=..,O=..,OU=..,CN=..,E=..,S=..,L=.., last
// occurrence wins) into an empty `out` (data allocated, length set). No
// component shown: Ok and `out` untouched. 100 on allocation failure.
Status renderDn(const NameField &n, AnyBuf &out);
// Writes the Name SEQUENCE: the decoded RDNs as they stand, then one RDN
// per appended node (writeName of ry_low.h). Node faults are returned and
// logged; writer faults stay in `w`.
Status writeNameField(DerWriter &w, const NameField &n);

// The order of name components within an identifier family: every family
// numbers its components country, state or province, locality,
// organization, organizational unit, common name, e-mail, postal address,
// postal code, telephone, from a first identifier on (CERT_ISSUER_* from 8,
// CERT_SUBJECT_* from 31, CRL_ISSUER_* from 1007, CSR_SUBJECT_* from 2006;
// the alternative-name families stop after e-mail).
inline constexpr uint32_t kNameIdOrder[] = {
    RY_DN_COUNTRY,    RY_DN_STATEORPROVINCE, RY_DN_LOCALITY, RY_DN_ORGANIZATION,
    RY_DN_ORGUNIT,    RY_DN_COMMONNAME,      RY_DN_EMAIL,    RY_DN_POSTALADDRESS,
    RY_DN_POSTALCODE, RY_DN_TELEPHONE};
// The component an identifier names: offset (id - firstId) into
// kNameIdOrder, then the name-component table. NULL when out of range.
const NameComponent *componentAtOffset(int64_t id, int64_t firstId);

// ------------------------------------------------------- attribute tables

// What an attribute row reads or writes. `slot` is the family's own field
// selector (an enum of the family's source file); `arg` is family data: for
// Name rows the offset into kNameIdOrder.
enum class AttrKind : uint8_t {
  Bytes,    // a byte field: char query / char setter
  Int,      // an unsigned 32-bit value: int query / int setter
  Name,     // a name component: first value on query, node appended on set
  DnText,   // the DN text of a name, produced on first query
  Special,  // handled by the family's own code (iterators, policies, ...)
};

enum AttrFlag : uint16_t {
  kAttrGet = 1u << 0,              // answered by the family's query
  kAttrSet = 1u << 1,              // accepted by the family's setter
  kAttrOnceOnly = 1u << 2,         // a second set gives 114 RYCERT_AttributeAlreadySet
  kAttrMarksExtensions = 1u << 3,  // setting it gives the object an extensions field
  kAttrUpperLen = 1u << 4,         // length queries log " LEN" instead of " Len"
};

struct AttrRow {
  int32_t id;                // public identifier, never renumbered
  std::string_view logName;  // the identifier's name in the public header
  AttrKind kind;
  uint8_t slot;    // family field selector
  uint8_t arg;     // Name rows: offset into kNameIdOrder
  uint16_t flags;  // AttrFlag bits
};

// A Name row: `arg` is the offset of `id` from the family's first id.
constexpr AttrRow nameRow(int32_t id, std::string_view logName, uint8_t slot, int32_t firstId,
                          uint16_t flags) {
  return AttrRow{id, logName, AttrKind::Name, slot, uint8_t(id - firstId), flags};
}

// Tables are sorted by id with no id twice (static_assert at each table).
constexpr bool sortedUnique(std::span<const AttrRow> rows) {
  for (size_t i = 1; i < rows.size(); ++i) {
    if (rows[i - 1].id >= rows[i].id) {
      return false;
    }
  }
  return true;
}
// The row of `id` (binary search), NULL when the family has none.
const AttrRow *findAttr(std::span<const AttrRow> rows, int64_t id);
// The name component of a Name row.
// kNameIdOrder mapped to positions in kNameComponents, at compile time.
inline constexpr auto kNameIdComponent = [] {
  std::array<int8_t, std::size(kNameIdOrder)> at{};
  for (size_t i = 0; i < std::size(kNameIdOrder); ++i) {
    at[i] = -1;
    for (size_t k = 0; k < std::size(kNameComponents); ++k) {
      if (kNameComponents[k].code == kNameIdOrder[i]) {
        at[i] = int8_t(k);
      }
    }
  }
  return at;
}();
inline const NameComponent *rowComponent(const AttrRow &row) {
  return row.arg < std::size(kNameIdOrder) && kNameIdComponent[row.arg] >= 0
             ? &kNameComponents[kNameIdComponent[row.arg]]
             : nullptr;
}

// Log lines of the attribute operations, in the caller's source file:
// "======>Set <name>", "======>Get <name>" (+ " Len" / " LEN" for a
// length query).
void logSet(const char *src, int line, const AttrRow &row);
void logGet(const char *src, int line, const AttrRow &row, bool lengthQuery);
#define RY_LOG_SET(row) ::rycert2::logSet(kSrcFile, __LINE__, (row))
#define RY_LOG_GET(row, lenQuery) ::rycert2::logGet(kSrcFile, __LINE__, (row), (lenQuery))

// The query log lines of a table, composed at compile time, so that a
// query's line costs no composition: for row i, get[i] is
// "======>Get <name>" and getLen[i] the same with " Len" (" LEN" for
// kAttrUpperLen rows).
inline constexpr size_t kLogLineMax = 80;
template <size_t N>
struct GetLogLines {
  char get[N][kLogLineMax];
  char getLen[N][kLogLineMax];
};
template <size_t N>
consteval GetLogLines<N> composeGetLines(const AttrRow (&rows)[N]) {
  GetLogLines<N> out{};
  constexpr std::string_view prefix = "======>Get ";
  for (size_t i = 0; i < N; ++i) {
    const std::string_view suffix = (rows[i].flags & kAttrUpperLen) != 0 ? " LEN" : " Len";
    if (prefix.size() + rows[i].logName.size() + suffix.size() >= kLogLineMax) {
      throw "log name too long";  // refused at compile time
    }
    size_t n = 0;
    for (char c : prefix) {
      out.get[i][n] = c;
      out.getLen[i][n++] = c;
    }
    for (char c : rows[i].logName) {
      out.get[i][n] = c;
      out.getLen[i][n++] = c;
    }
    for (char c : suffix) {
      out.getLen[i][n++] = c;
    }
  }
  return out;
}
// Whether a debug line would go anywhere. The runtime's flag is read
// inline (MOSK_DebugFlag); only while it is not clear is the runtime asked,
// so a query or decode step with the log off costs one load, no call.
inline const volatile int *debugFlag() {
  static const volatile int *const flag = MOSK_DebugFlag();
  return flag;
}
inline bool logOn() {
  return __atomic_load_n(debugFlag(), __ATOMIC_RELAXED) != 0 && MOSK_DebugEnabled() != 0;
}
// Writes one precomposed line, in the caller's source file.
void logText(const char *src, int line, const char *text);
#define RY_LOG_TEXT(text)                             \
  do {                                                \
    if (::rycert2::logOn()) {                         \
      ::rycert2::logText(kSrcFile, __LINE__, (text)); \
    }                                                 \
  } while (0)

// The length protocol of the char queries and of the encoders' results:
// *outLen := size of `value`; when `buffer` is not NULL the bytes are
// copied into it (the caller sized it with a first, NULL-buffer call).
inline void answerBytes(ByteSpan value, uint8_t *buffer, uint32_t *outLen) {
  *outLen = uint32_t(value.size());
  if (buffer != nullptr && !value.empty()) {
    std::memcpy(buffer, value.data(), value.size());
  }
}

// --------------------------------------------------------------- time

// Integer time of 2050-01-01T00:00:00Z: from here on a validity, update or
// revocation time is written as GeneralizedTime even when UTCTime was
// chosen (RFC 5280 4.1.2.5, 5.1.2.4).
inline constexpr uint32_t kGeneralizedTimeFrom = 2524608000u;
// Writes `t` as UTCTime when `utcForm` and t < 2050, else GeneralizedTime
// (X.690 11.7, 11.8: YYMMDDhhmmssZ / YYYYMMDDhhmmssZ). Faults stay in `w`,
// named "RyAsn1_WriteUtcTime" or "RyAsn1_WriteGeneralizedTime".
void writeTime(DerWriter &w, uint32_t t, bool utcForm);
// Reads a Time element:  Time ::= CHOICE { utcTime UTCTime, generalTime
// GeneralizedTime }. `utcForm` true for UTCTime. A wrong identifier gives
// 106 named "RyAsn1_ReadUtcTime"; a malformed text the reader's status,
// named after the reader of its type. Nothing logged.
Status readTime(const Tlv &t, uint32_t &time, bool &utcForm, const char *&failName);

// ------------------------------------------------- AlgorithmIdentifier

//   AlgorithmIdentifier ::= SEQUENCE { algorithm OBJECT IDENTIFIER,
//                                      parameters ANY OPTIONAL }
// Writes the OID content `oid` and, when `nullParams`, a NULL (RFC 4055 2.1
// for the RSA signature algorithms). Faults stay in `w`.
void writeAlgorithm(DerWriter &w, ByteSpan oid, bool nullParams);
// Reads an AlgorithmIdentifier element (identifier 30) and gives the OID
// content octets; parameters, when present, must be one well-formed
// element. Nothing logged; failName names the failing reader
// ("RyAsn1_ReadSequence", "RyAsn1_ReadObjectId").
Status readAlgorithm(const Tlv &alg, ByteSpan &oid, const char *&failName);

// ------------------------------------------------------ the signing step

// The callback and its parameter as a context keeps them.
struct Signer {
  RyCertSignFunc fn = nullptr;
  ByteField param;  // owned copy of the caller's parameter bytes
};
// RyCert_Set*SignFunc: stores `fn` (NULL too); when `param` is not NULL and
// paramLen >= 1 replaces the parameter with a copy. 100 ("------>MOSK_Malloc")
// when the copy fails, the signer then unchanged.
Status setSigner(Signer &s, RyCertSignFunc fn, const uint8_t *param, int32_t paramLen);
void clearSigner(Signer &s);

// Status of an encode without a callback: returned before any call, with
// the line "------>RyCertSignFunc is NULL".
inline constexpr Status kNoSignFunc = Status::Memory;
// Signature lengths from this size on are refused with 107.
inline constexpr uint32_t kMaxSignatureLen = 10240;

// How one kind of object is signed.
struct SignSpec {
  // The signatureAlgorithm after the TBS: OID content octets, and whether a
  // NULL parameters element follows (certificates and requests) or none
  // (CRLs).
  ByteSpan algorithmOid;
  bool nullParams;
  // Storing the signature is logged as the Parts log their setter call:
  // "======>Set <signatureAttr>" on success, "------><setterName>" with 101
  // when the callback reports 0 bytes.
  const char *setterName;          // "RyCert_SetCertAttributeChar"
  std::string_view signatureAttr;  // "CERT_CA_SIGNATURE"
};

// Where the parts of a signed object stand inside its DER.
struct SignedParts {
  ByteSpan tbs;        // the complete TBS element
  ByteSpan signature;  // the signature value (BIT STRING content after the unused-bits octet)
};

// The one signing step of the three encoders:
//   Certificate / CertificateList / CertificationRequest ::= SEQUENCE {
//     tbs ..., signatureAlgorithm AlgorithmIdentifier, signature BIT STRING }
// `tbs` is the complete encoded TBS element. Protocol with the callback:
//   1. no callback: kNoSignFunc before any call;
//   2. fn(tbs, tbsLen, NULL, &len, NULL): the needed length; nonzero
//      result returned unchanged ("------>RyCertSignFunc");
//   3. len >= 10240: 107 ("------>RYCERT_InvalidSignatureLenErr");
//   4. a buffer of exactly len bytes (at least one block) is allocated;
//      fn(tbs, tbsLen, buffer, &len (= capacity), param): nonzero result
//      returned unchanged ("------>RyCertSignFunc");
//   5. reported length above the capacity: 107; 0: 101 ("------>" setterName);
//   6. the outer SEQUENCE is written in one block.
// On success `der` (empty on entry) owns the whole DER, and `parts` views
// the TBS and signature inside it. On failure `der` stays empty.
Status signAndWrap(const Signer &signer, ByteSpan tbs, const SignSpec &spec, AnyBuf &der,
                   SignedParts &parts);

// The same over a writer that already holds the start of the signed object:
// the caller opened the outer SEQUENCE at offset 0 of `w` (growing mode,
// `w.open(kIdSequence)` first) and then wrote the complete TBS element.
// The TBS is signed where it stands, the signatureAlgorithm and signature
// are appended and the outer length is fixed with one move; nothing is
// copied. `w` is consumed (empty afterwards, also on failure).
Status signAndWrapWriter(const Signer &signer, DerWriter &w, const SignSpec &spec, AnyBuf &der,
                         SignedParts &parts);

// Step 1 of every encoder: when `cache` holds bytes (an earlier encode, or a
// decoded object) answers with them under the length protocol and sets
// `done`.
void answerCached(const AnyBuf &cache, uint8_t *buffer, uint32_t *outLen, bool &done);

}  // namespace rycert2

// ------------------------------------- decoding shared by CRLs and requests

namespace rycert2 {

// The one copy a decode keeps: the element `bytes` into `own` (empty on
// entry). 100 ("------>MOSK_Malloc") when the copy cannot be made.
Status ownCopy(ByteSpan bytes, AnyBuf &own);

// An element handed over on its own (Hx_*_Decode* of one part): opened as
// `as` reads it (failures logged, the last line naming `as`), copied into
// `own`, and opened again from there, so that `out` views `own`.
Status openOwnCopy(const AnyBuf *rec, AnyBuf &own, Tlv &out, const char *as);

//   Version ::= INTEGER
// The INTEGER `v` as an unsigned value (a leading 00 octet dropped). 101
// ("------>RyAsn1_ReadInteger") when it has no content (X.690 8.3.1) or
// needs more than 32 bits: no known version does.
Status readVersion(const Tlv &v, uint32_t &out);

// readAlgorithm with its failure logged. An AlgorithmIdentifier without any
// element (30 00) lacks its OID: `missing`, the family's status for an
// element that is not there, with its own name and "RyAsn1_ReadObjectId".
Status readAlgorithmOf(const Tlv &alg, Status missing, ByteSpan &oid);

//   SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier,
//                                       subjectPublicKey BIT STRING }
// (RFC 5280 4.1.2.7) Views of the algorithm's whole OID element and of the
// key bits after the unused-bits octet. A field that is not there gives
// `missing`; an empty OID or an unused-bits octet above 7 (X.690 8.6.2)
// 101; parameters, when present, must be well-formed elements. Failures
// are logged, the last line naming Hx_DecodePubKey.
Status readSpki(const Tlv &spki, Status missing, ByteSpan &algorithm, ByteSpan &key);

// The start of decoding a signed object handed over as (der, derLen): its
// outer header must be readable and lie within derLen (101, the last line
// "------>RyAsn1_GetCertLength") and be a SEQUENCE (106, "TAG !=
// RY_DER_ID_SEQUENCE" and "RyAsn1_ReadSequence"). Then the element is
// copied into `copy` (empty on entry; 100 logged) and `content` views its
// content octets there.
Status openSignedCopy(const uint8_t *der, uint32_t derLen, AnyBuf &copy, ByteSpan &content);

// The end of a signed object, after its TBS:
//   signatureAlgorithm AlgorithmIdentifier, signature BIT STRING
// and nothing but well-formed elements after them. `algOid` views the
// OID content octets, `signature` the bits after the unused-bits octet. A
// field that is not there gives `missing`. Failures are logged.
Status readSignatureFields(DerReader &r, Status missing, ByteSpan &algOid, ByteSpan &signature);

// The creators and destroyers of the three families' contexts: a context
// from the runtime allocator, constructed in place (100 logged when none
// can be had; NULL `out` 100, "------>Pointer is NULL"); destroying NULL
// does nothing. The lines "======><name> Begin" and "... End" are logged
// in the caller's source file `src`.
template <class Ctx>
Status newContext(Ctx **out, const char *src, std::string_view name) {
  logLine(src, __LINE__, "======>", name, " Begin");
  if (out == nullptr) {
    return failed(Status::Memory, src, __LINE__, "Pointer is NULL");
  }
  void *block = allocBytes(src, __LINE__, sizeof(Ctx));
  if (block == nullptr) {
    return failed(Status::Memory, src, __LINE__, "MOSK_Malloc");
  }
  *out = new (block) Ctx();
  logLine(src, __LINE__, "======>", name, " End");
  return Status::Ok;
}
template <class Ctx>
Status deleteContext(Ctx *ctx, const char *src, std::string_view name) {
  logLine(src, __LINE__, "======>", name, " Begin");
  if (ctx == nullptr) {
    return Status::Ok;
  }
  ctx->~Ctx();
  MOSK_Free(ctx);
  logLine(src, __LINE__, "======>", name, " End");
  return Status::Ok;
}

}  // namespace rycert2
