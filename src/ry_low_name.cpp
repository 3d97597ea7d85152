// Distinguished names: Name <-> chain of RyNameNode, and the one-line text
// form of a Name.
//
//   Name ::= SEQUENCE OF RelativeDistinguishedName
//   RelativeDistinguishedName ::= SET SIZE (1..MAX) OF AttributeTypeAndValue
//   AttributeTypeAndValue ::= SEQUENCE { type OBJECT IDENTIFIER, value ANY }
#include <cstring>

#include "ry_low.h"
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

}  // namespace

//   RelativeDistinguishedName ::= SET SIZE (1..MAX) OF AttributeTypeAndValue
//   AttributeTypeAndValue ::= SEQUENCE { type OBJECT IDENTIFIER, value ANY }
Status writeName(DerWriter &w, const RyNameNode *first) {
  const DerWriter::Mark name = w.open(kIdSequence);
  for (const RyNameNode *n = first; n != nullptr && w.ok(); n = n->next) {
    if (Status st = checkNode(*n); st != Status::Ok) {
      return st;
    }
    const DerWriter::Mark rdn = w.open(kIdSet);
    const DerWriter::Mark atv = w.open(kIdSequence);
    w.oid(bytesOf(n->type.oid));
    w.element(stringIdFor(*n), bytesOf(n->value));
    w.close(atv);
    w.close(rdn);
  }
  w.close(name);
  return Status::Ok;
}

namespace {

// Measures the whole Name first, allocates once, then fills.
Status encodeName(const RyNameNode *first, AnyBuf *&out) {
  DerWriter measure = DerWriter::measuring();
  if (Status st = writeName(measure, first); st != Status::Ok) {
    return st;
  }
  if (!measure.ok()) {
    return RY_WRITER_FAILED(measure, "RyAsn1_WriteSequence");
  }
  DerWriter w;
  w.reserve(measure.size());
  writeName(w, first);
  if (Status st = w.toRecord(out); st != Status::Ok) {
    return RY_WRITER_FAILED(w, "RyAsn1_WriteSequence");
  }
  return Status::Ok;
}

// A view record over checked input, for copying into a node.
AnyBuf viewOf(const Tlv &t) {
  return AnyBuf{const_cast<uint8_t *>(t.content.data()), uint32_t(t.content.size()), 0, 2, t.tag(),
                nullptr, nullptr};
}

// Fills one node from an RDN: its first attribute (further values of a
// multi-valued RDN are checked for form but not kept).
Status decodeRdn(const Tlv &rdn, RyNameNode &node) {
  if (rdn.id != kIdSet) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSet");
  }
  const char *fn = nullptr;
  DerReader attrs(rdn.content);
  Tlv atv;
  if (attrs.atEnd()) {
    return RY_FAILED(Status::InvalidLength, "RyAsn1_ReadSet");  // SET SIZE (1..MAX)
  }
  if (Status st = RY_NEXT(attrs, atv, "RyAsn1_ReadSet"); st != Status::Ok) {
    return st;
  }
  while (!attrs.atEnd()) {
    Tlv more;
    if (Status st = RY_NEXT(attrs, more, "RyAsn1_ReadSet"); st != Status::Ok) {
      return st;
    }
  }
  if (atv.id != kIdSequence) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  DerReader parts(atv.content);
  Tlv type;
  Tlv value;
  // Both fields are read before the type is judged: a short SEQUENCE is a
  // length fault whatever its first element is.
  if (Status st = RY_STEP(parts.expect(DerReader::kAnyId, type, fn), fn, "RyAsn1_ReadSequence");
      st != Status::Ok) {
    return st;
  }
  if (Status st = RY_STEP(parts.expect(DerReader::kAnyId, value, fn), fn, "RyAsn1_ReadSequence");
      st != Status::Ok) {
    return st;
  }
  if (Status st = RY_STEP(parts.finish(fn), fn, nullptr); st != Status::Ok) {
    return RY_FAILED(st, "RyAsn1_ReadSequence");
  }
  if (type.id != kIdOid || type.content.empty()) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadObjectId");
  }
  AnyBuf oidRec{};
  AnyBuf valueRec{};
  EmbeddedGuard oidGuard(oidRec);
  EmbeddedGuard valueGuard(valueRec);
  if (Status st = copyInto(oidRec, viewOf(type)); st != Status::Ok) {
    return RY_FAILED(st, "RyAsn1_ReadObjectId");
  }
  if (Status st = copyInto(valueRec, viewOf(value)); st != Status::Ok) {
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

}  // namespace

Status readName(const Tlv &name, RyNameNode **&tail) {
  if (name.id != kIdSequence) {
    RY_FAILED(Status::TagNotMatch, "TAG != RY_DER_ID_SEQUENCE");
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
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

namespace {

Status decodeName(const AnyBuf *enc, RyNameNode **first) {
  Tlv name;
  if (Status st = RY_OPEN(enc, name, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  // Append behind whatever the chain already holds.
  RyNameNode **tail = first;
  while (*tail != nullptr) {
    tail = &(*tail)->next;
  }
  return readName(name, tail);
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
  return RY_C_BOUNDARY({
    RY_REQUIRE(name, out);
    *out = nullptr;
    AnyBuf *rec = nullptr;
    if (Status st = encodeName(*name, rec); st != Status::Ok) {
      return st;
    }
    *out = rec;
    return Status::Ok;
  });
}

RYCERT_API uint32_t Hx_DecodeIssuerSubject(const AnyBuf *encoded, RyNameNode **first) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(first);
    return decodeName(encoded, first);
  });
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
  return RY_C_BOUNDARY({
    RY_REQUIRE(out, name);
    return composeDn(out, *name);
  });
}

}  // extern "C"
