// Distinguished names: Name <-> chain of RyNameNode, and the one-line text
// form of a Name.
//
//   Name ::= SEQUENCE OF RelativeDistinguishedName
//   RelativeDistinguishedName ::= SET SIZE (1..MAX) OF AttributeTypeAndValue
//   AttributeTypeAndValue ::= SEQUENCE { type OBJECT IDENTIFIER, value ANY }
#include <cstring>

#include "ry_asn2.h"
#include "ry_names.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_low";

bool printableChar(uint8_t c) {
  // X.680 41.4 PrintableString alphabet.
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
    return true;
  }
  switch (c) {
    case ' ': case '\'': case '(': case ')': case '+': case ',':
    case '-': case '.': case '/': case ':': case '=': case '?':
      return true;
    default:
      return false;
  }
}

bool allOf(std::span<const uint8_t> v, bool (*pred)(uint8_t)) {
  return std::all_of(v.begin(), v.end(), pred);
}

// The string type a value is written as. Strict parsers refuse a
// PrintableString holding '@' or '_', or non-ASCII bytes, so every value
// goes out as a type that can hold it: the caller's BMPString, UTF8String
// and IA5String are kept; an e-mail address is IA5String; anything else
// is PrintableString when it fits and UTF8String otherwise.
uint8_t stringIdFor(const RyNameNode &node) {
  const auto value = bytesOf(node.value);
  const auto ascii = [](uint8_t c) { return c < 0x80; };
  switch (node.value.tag) {
    case 30:
      return kIdBmpString;
    case 12:
      return kIdUtf8String;
    case 22:
      return allOf(value, ascii) ? kIdIa5String : kIdUtf8String;
    default:
      break;
  }
  const NameComponent *c = componentByCode(node.type.id);
  if (c != nullptr && c->rule == StringRule::Email) {
    return allOf(value, ascii) ? kIdIa5String : kIdUtf8String;
  }
  return allOf(value, printableChar) ? kIdPrintableString : kIdUtf8String;
}

struct NodeSizes {
  size_t atv;  // AttributeTypeAndValue content
  size_t set;  // RelativeDistinguishedName content
};

NodeSizes sizesOf(const RyNameNode &n) {
  const size_t atv = elementSize(n.type.oid.length) + elementSize(n.value.length);
  return {atv, size_t(elementSize(atv))};
}

Status checkNode(const RyNameNode &n) {
  if (!recordUsable(&n.type.oid) || !recordUsable(&n.value)) {
    return RY_FAILED(Status::Memory, "Pointer is NULL");
  }
  if (n.type.oid.length == 0) {
    return RY_FAILED(Status::InvalidLength, "RyAsn1_WriteObjectId");
  }
  // A BMPString is a sequence of two-octet characters.
  if (n.value.tag == 30 && n.value.length % 2 != 0) {
    return RY_FAILED(Status::InvalidLength, "RyAsn1_WritePrintableString");
  }
  return Status::Ok;
}

// Measures the whole Name first (checked sums), allocates once, then fills.
Status encodeName(const RyNameNode *first, AnyBuf *&out) {
  uint64_t content = 0;
  for (const RyNameNode *n = first; n != nullptr; n = n->next) {
    if (Status st = checkNode(*n); st != Status::Ok) {
      return st;
    }
    content += elementSize(sizesOf(*n).set);
    if (!fitsRecord(content)) {
      return RY_FAILED(Status::InvalidLength, "RyAsn1_WriteSequence");
    }
  }
  AnyBuf *rec = nullptr;
  uint8_t *p = nullptr;
  if (beginElement(kIdSequence, content, rec, p) != Status::Ok) {
    RY_NO_MEMORY();  // the size was checked above
    return RY_FAILED(Status::Memory, "RyAsn1_WriteSequence");
  }
  for (const RyNameNode *n = first; n != nullptr; n = n->next) {
    const NodeSizes s = sizesOf(*n);
    p = putHeader(p, kIdSet, s.set);
    p = putHeader(p, kIdSequence, s.atv);
    p = putHeader(p, kIdOid, n->type.oid.length);
    std::memcpy(p, n->type.oid.data, n->type.oid.length);
    p += n->type.oid.length;
    p = putHeader(p, stringIdFor(*n), n->value.length);
    if (n->value.length != 0) {
      std::memcpy(p, n->value.data, n->value.length);
      p += n->value.length;
    }
  }
  out = rec;
  return Status::Ok;
}

// Opens `t` as the constructed element `id` and returns its content.
Status expect(const Tlv &t, uint8_t id, const char *failName) {
  if (t.id != id) {
    return RY_FAILED(Status::TagNotMatch, failName);
  }
  return Status::Ok;
}

// Fills one node from an RDN: its first attribute (further values of a
// multi-valued RDN are not kept).
Status decodeRdn(const Tlv &rdn, RyNameNode &node) {
  if (Status st = expect(rdn, kIdSet, "RyAsn1_ReadSet"); st != Status::Ok) {
    return st;
  }
  DerReader attrs(rdn.content);
  Tlv atv;
  if (attrs.atEnd()) {
    return RY_FAILED(Status::InvalidLength, "RyAsn1_ReadSet");  // SET SIZE (1..MAX)
  }
  if (Status st = RY_NEXT(attrs, atv, "RyAsn1_ReadSet"); st != Status::Ok) {
    return st;
  }
  // The other values are still checked for well-formedness.
  while (!attrs.atEnd()) {
    Tlv more;
    if (Status st = RY_NEXT(attrs, more, "RyAsn1_ReadSet"); st != Status::Ok) {
      return st;
    }
  }
  if (Status st = expect(atv, kIdSequence, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  DerReader parts(atv.content);
  Tlv type;
  Tlv value;
  if (Status st = RY_NEXT(parts, type, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  if (Status st = RY_NEXT(parts, value, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  if (!parts.atEnd()) {
    return RY_FAILED(Status::InvalidLength, "RyAsn1_ReadSequence");
  }
  if (type.id != kIdOid || type.content.empty()) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadObjectId");
  }
  AnyBuf oidRec{};
  AnyBuf valueRec{};
  EmbeddedGuard oidGuard(oidRec);
  EmbeddedGuard valueGuard(valueRec);
  if (Status st = copyInto(oidRec, AnyBuf{const_cast<uint8_t *>(type.content.data()),
                                          uint32_t(type.content.size()), 0, 2, type.tag(),
                                          nullptr, nullptr});
      st != Status::Ok) {
    return RY_FAILED(st, "RyAsn1_ReadObjectId");
  }
  if (Status st = copyInto(valueRec, AnyBuf{const_cast<uint8_t *>(value.content.data()),
                                            uint32_t(value.content.size()), 0, 2, value.tag(),
                                            nullptr, nullptr});
      st != Status::Ok) {
    return RY_FAILED(st, "Hx_CopyAnybuf");
  }
  const NameComponent *c = componentByOid(type.content);
  node.type.id = c != nullptr ? c->code : 0;
  node.type.oid = oidRec;
  node.value = valueRec;
  oidGuard.release();
  valueGuard.release();
  return Status::Ok;
}

Status decodeName(const AnyBuf *enc, RyNameNode **first) {
  Tlv name;
  if (Status st = RY_OPEN(enc, name, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  if (name.id != kIdSequence) {
    RY_FAILED(Status::TagNotMatch, "TAG != RY_DER_ID_SEQUENCE");
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  // Append behind whatever the chain already holds.
  RyNameNode **tail = first;
  while (*tail != nullptr) {
    tail = &(*tail)->next;
  }
  DerReader rdns(name.content);
  while (!rdns.atEnd()) {
    Tlv rdn;
    if (Status st = RY_NEXT(rdns, rdn, "RyAsn1_ReadSequence"); st != Status::Ok) {
      return st;
    }
    auto *node = reinterpret_cast<RyNameNode *>(RY_ALLOC(sizeof(RyNameNode)));
    if (node == nullptr) {
      return RY_NO_MEMORY();
    }
    *node = RyNameNode{};
    *tail = node;
    tail = &node->next;
    if (Status st = decodeRdn(rdn, *node); st != Status::Ok) {
      return st;
    }
  }
  return Status::Ok;
}

Status composeDn(AnyBuf *out, const RyNameNode *first) {
  // Last occurrence of each shown code wins.
  const AnyBuf *slot[kTextSlots] = {};
  for (const RyNameNode *n = first; n != nullptr; n = n->next) {
    const NameComponent *c = componentByCode(n->type.id);
    if (c != nullptr && c->textSlot >= 0) {
      slot[c->textSlot] = &n->value;
    }
  }
  uint64_t size = 0;
  for (size_t i = 0; i < kTextSlots; ++i) {
    if (slot[i] != nullptr) {
      if (!recordUsable(slot[i])) {
        return RY_FAILED(Status::Memory, "Pointer is NULL");
      }
      size += componentAtTextSlot(i).key.size() + 2 + slot[i]->length;  // "K=" value ","
    }
  }
  if (size == 0) {
    return Status::Ok;
  }
  size -= 1;  // no "," after the last component
  if (size > 0xFFFFFFFFu) {
    return RY_FAILED(Status::InvalidLength, "Hx_GetDN");
  }
  Block text(RY_ALLOC(size_t(size)));
  if (!text) {
    return RY_NO_MEMORY();
  }
  uint8_t *p = text.get();
  bool firstPart = true;
  for (size_t i = 0; i < kTextSlots; ++i) {
    if (slot[i] == nullptr) {
      continue;
    }
    if (!firstPart) {
      *p++ = ',';
    }
    firstPart = false;
    const std::string_view key = componentAtTextSlot(i).key;
    std::memcpy(p, key.data(), key.size());
    p += key.size();
    *p++ = '=';
    if (slot[i]->length != 0) {
      std::memcpy(p, slot[i]->data, slot[i]->length);
      p += slot[i]->length;
    }
  }
  out->data = text.release();
  out->length = uint32_t(size);
  return Status::Ok;
}

}  // namespace
}  // namespace rycert2

using namespace rycert2;

extern "C" {

RYCERT_API uint32_t Hx_EncodeIssuerSuject(RyNameNode **name, AnyBuf **out) {
  if (name == nullptr || out == nullptr) {
    return code(RY_FAILED(Status::Memory, "Pointer is NULL"));
  }
  *out = nullptr;
  AnyBuf *rec = nullptr;
  if (Status st = encodeName(*name, rec); st != Status::Ok) {
    return code(st);
  }
  *out = rec;
  return RYCERT_OK;
}

RYCERT_API uint32_t Hx_DecodeIssuerSubject(const AnyBuf *encoded, RyNameNode **first) {
  if (first == nullptr) {
    return code(RY_FAILED(Status::Memory, "Pointer is NULL"));
  }
  return code(decodeName(encoded, first));
}

RYCERT_API void Hx_FreeName(RyNameNode *first) {
  while (first != nullptr) {
    RyNameNode *next = first->next;
    Hx_ClearAnybuf(&first->type.oid);
    Hx_ClearAnybuf(&first->value);
    MOSK_Free(first);
    first = next;
  }
}

RYCERT_API uint32_t Hx_GetDN(AnyBuf *out, RyNameNode **name) {
  if (out == nullptr || name == nullptr) {
    return code(RY_FAILED(Status::Memory, "Pointer is NULL"));
  }
  return code(composeDn(out, *name));
}

}  // extern "C"
