// Building a request: the setters, the attributes writer and the
// CertificationRequest encoder, which signs through the shared signing step
// and caches the result in the context.
#include <algorithm>

#include "ry_csr.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_csr";

// The set-side log name where it differs from the identifier's name.
std::string_view setLogName(const AttrRow &row) {
  return row.id == CSR_SUBJECT_TELEPHONE ? std::string_view(" CSR_SUBJECT_TELEPHONE")
                                         : row.logName;
}

Status setInt(CsrCtx &ctx, uint32_t id, uint32_t value) {
  RY_LOG("======>", "RyCert_SetCsrAttributeInt Begin");
  const AttrRow *row = csrRow(id, true, kAttrSet);
  if (row == nullptr) {
    return RY_FAILED(Status::AttributeNotSupport, "Set RYCERT_AttributeNotSupportErr");
  }
  ctx.info.version = value;  // CSR_VERSION is the one Int row
  RY_LOG("======>Set ", setLogName(*row));
  RY_LOG("======>", "RyCert_SetCsrAttributeInt End");
  return Status::Ok;
}

Status setChar(CsrCtx &ctx, uint32_t id, ByteSpan value) {
  const AttrRow *row = csrRow(id, false, kAttrSet);
  if (row == nullptr) {
    return RY_FAILED(Status::AttributeNotSupport, "Set RYCERT_AttributeNotSupportErr");
  }
  Status st = Status::Ok;
  if (row->kind == AttrKind::Name) {
    const NameComponent *c = rowComponent(*row);
    if (c == nullptr) {
      return RY_FAILED(Status::AttributeNotSupport, "Set RYCERT_AttributeNotSupportErr");
    }
    st = appendComponent(ctx.info.subject, *c, value);
  } else {
    switch (row->slot) {
      case kCsrOuterAlg:
        st = setCopy(ctx.outerAlg, value);
        break;
      case kCsrSignature:
        st = setCopy(ctx.signature, value);
        break;
      case kCsrKeyAlgorithm:
        st = setCopy(ctx.info.keyAlgorithm, value);
        if (st == Status::Ok) {
          ctx.info.keyAlgorithmIsElement = false;
        }
        break;
      case kCsrKey:
        st = setCopy(ctx.info.key, value);
        break;
      default:
        return RY_FAILED(Status::AttributeNotSupport, "Set RYCERT_AttributeNotSupportErr");
    }
  }
  if (st != Status::Ok) {
    return st;
  }
  RY_LOG("======>Set ", setLogName(*row));
  return Status::Ok;
}

// An OID's content octets: at least one subidentifier, the last one ended
// (bit 8 of its last octet clear, X.690 8.19.2).
bool oidContent(ByteSpan b) { return !b.empty() && (b.back() & 0x80) == 0; }

// Exactly one element (the attribute's value as it will be written).
bool oneElement(ByteSpan b) {
  DerReader r(b);
  Tlv t;
  const char *fn = nullptr;
  return r.next(t, fn) == Status::Ok && r.atEnd();
}

Status setPrivate(CsrCtx &ctx, ByteSpan type, ByteSpan value) {
  // What is stored is written as it stands: a type that is no OID or a
  // value that is not one element would make the request unreadable.
  if (!oidContent(type)) {
    return RY_FAILED(Status::InvalidLength, "RyAsn1_WriteObjectId");
  }
  if (!oneElement(value)) {
    return RY_FAILED(Status::InvalidLength, "RyAsn1_WriteSet");
  }
  CsrAttrList *fresh = nullptr;
  if (ctx.info.attrs == nullptr) {
    if (Status st = newAttrList(fresh); st != Status::Ok) {
      return st;
    }
  }
  CsrAttrList &list = fresh != nullptr ? *fresh : *ctx.info.attrs;
  CsrAttr a{};
  Status st = list.items.reserve(1) == Status::Ok ? Status::Ok : RY_NO_MEMORY();
  if (st == Status::Ok) {
    st = setCopy(a.type, type);
  }
  if (st == Status::Ok) {
    st = setCopy(a.value, value);
  }
  if (st != Status::Ok) {
    // A record whose later copies failed is released, not left behind.
    clearField(a.type);
    clearField(a.value);
    freeAttrList(fresh);
    return st;
  }
  list.items.push(a);  // room reserved: cannot fail
  if (fresh != nullptr) {
    ctx.info.attrs = fresh;
  }
  RY_LOG("======>", "RyCsr_SetCertAttributePrivate End");
  return Status::Ok;
}

//   Attribute ::= SEQUENCE { type OBJECT IDENTIFIER, values SET OF AttributeValue }
void writeAttribute(DerWriter &w, const CsrAttr &a) {
  const DerWriter::Mark attr = w.open(kIdSequence);
  w.oid(a.type.view());
  const DerWriter::Mark values = w.open(kIdSet);
  w.raw(a.value.view());
  w.close(values);
  w.close(attr);
}

//   CertificationRequestInfo ::= SEQUENCE { version INTEGER { v1(0) },
//        subject Name, subjectPKInfo SubjectPublicKeyInfo,
//        attributes [0] Attributes }                              (RFC 2986 4.1)
// Written into `w` after the outer SEQUENCE was opened there.
Status writeInfo(DerWriter &w, const CsrCtx &ctx) {
  const CsrInfo &i = ctx.info;
  const DerWriter::Mark cri = w.open(kIdSequence);
  w.integer(i.version);
  if (Status st = writeNameField(w, i.subject); st != Status::Ok) {
    return RY_FAILED(st, "Hx_EncodeIssuerSuject");
  }
  // SubjectPublicKeyInfo: the algorithm with NULL parameters (RFC 3279 2.3.1).
  ByteSpan keyAlg = i.keyAlgorithm.view();
  if (i.keyAlgorithmIsElement) {
    Header h;
    if (parseHeader(keyAlg, h) == HeaderFault::None) {
      keyAlg = keyAlg.subspan(h.headerLen);
    }
  }
  const DerWriter::Mark spki = w.open(kIdSequence);
  writeAlgorithm(w, keyAlg, true);
  w.bitString(0, i.key.view());
  w.close(spki);
  if (Status st = writeAttributes(w, i.attrs); st != Status::Ok) {
    return RY_FAILED(st, "Hx_Csr_EncodeAttributes");
  }
  w.close(cri);
  return Status::Ok;
}

Status encodeCsr(CsrCtx &ctx, uint8_t *buffer, uint32_t *length) {
  RY_LOG("======>", "RyCert_EncodeCsr Begin");
  bool done = false;
  answerCached(ctx.csrDer, buffer, length, done);
  if (done) {
    RY_LOG("======>", "RyCert_EncodeCsr End");
    return Status::Ok;
  }
  DerWriter w;
  w.reserve(1024);
  w.open(kIdSequence);
  if (Status st = writeInfo(w, ctx); st != Status::Ok) {
    return st;
  }
  if (!w.ok()) {
    return RY_WRITER_FAILED(w, "RyAsn1_WriteSequence");
  }
  const SignSpec spec{ctx.outerAlg.view(), true, "RyCert_SetCsrAttributeChar",
                      "CSR_SELF_SIGNATURE"};
  AnyBuf der{};
  SignedParts parts;
  if (Status st = signAndWrapWriter(ctx.signer, w, spec, der, parts); st != Status::Ok) {
    return st;
  }
  Hx_ClearAnybuf(&ctx.csrDer);
  ctx.csrDer = der;
  clearField(ctx.info.tbs);
  setView(ctx.info.tbs, parts.tbs);
  clearField(ctx.signature);
  setView(ctx.signature, parts.signature);
  answerBytes(bytesOf(ctx.csrDer), buffer, length);
  RY_LOG("======>", "RyCert_EncodeCsr End");
  return Status::Ok;
}

}  // namespace

Status writeAttributes(DerWriter &w, const CsrAttrList *list) {
  const size_t n = list != nullptr ? list->items.size() : 0;
  const DerWriter::Mark a0 = w.open(kIdContext | kIdConstructed);
  if (n == 1) {
    writeAttribute(w, list->items[0]);
  } else if (n > 1) {
    // DER orders a SET OF by the encodings of its members (X.690 11.6):
    // each Attribute is written apart, then they are put in order.
    DerWriter each;
    PodArray<size_t> ends;
    if (ends.reserve(n) != Status::Ok) {
      return RY_NO_MEMORY();
    }
    for (const CsrAttr &a : list->items) {
      writeAttribute(each, a);
      ends.push(each.size());
    }
    if (!each.ok()) {
      w.fail(each.status(), each.failName());
      return Status::Ok;
    }
    PodArray<ByteSpan> order;
    if (order.reserve(n) != Status::Ok) {
      return RY_NO_MEMORY();
    }
    const ByteSpan all = each.bytes();
    for (size_t i = 0, at = 0; i < n; at = ends[i], ++i) {
      order.push(all.subspan(at, ends[i] - at));
    }
    std::sort(order.begin(), order.end(), [](ByteSpan a, ByteSpan b) {
      return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
    });
    for (const ByteSpan &a : order) {
      w.raw(a);
    }
  }
  w.close(a0);
  return Status::Ok;
}

}  // namespace rycert2

using namespace rycert2;

extern "C" {

RYCERT_API uint32_t RyCert_SetCsrAttributeInt(CsrCtx *ctx, uint32_t id, uint32_t value) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx);
    return setInt(*ctx, id, value);
  });
}

RYCERT_API uint32_t RyCert_SetCsrAttributeChar(CsrCtx *ctx, uint32_t id, const uint8_t *value,
                                               int32_t length) {
  return RY_C_BOUNDARY({
    if (length < 1) {
      return Status::Memory;  // no log line; the request setter's status for an empty value
    }
    RY_REQUIRE(ctx, value);
    return setChar(*ctx, id, ByteSpan(value, size_t(length)));
  });
}

RYCERT_API uint32_t RyCert_SetCsrAttributePrivate(CsrCtx *ctx, const uint8_t *type,
                                                  int32_t typeLen, const uint8_t *value,
                                                  int32_t valueLen) {
  return RY_C_BOUNDARY({
    RY_LOG("======>", "RyCert_SetCsrAttributePrivate Begin");
    if (typeLen < 1 || valueLen < 1) {
      return Status::InvalidLength;  // no further line
    }
    RY_REQUIRE(ctx, type, value);
    return setPrivate(*ctx, ByteSpan(type, size_t(typeLen)), ByteSpan(value, size_t(valueLen)));
  });
}

RYCERT_API uint32_t RyCert_SetCsrSignFunc(CsrCtx *ctx, RyCertSignFunc fn, const uint8_t *param,
                                          int32_t paramLen) {
  return RY_C_BOUNDARY({
    RY_LOG("======>", "RyCert_SetCsrSignFunc Begin");
    RY_REQUIRE(ctx);
    if (Status st = setSigner(ctx->signer, fn, param, paramLen); st != Status::Ok) {
      return st;
    }
    RY_LOG("======>", "RyCert_SetCsrSignFunc End");
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyCert_EncodeCsr(CsrCtx *ctx, uint8_t *buffer, uint32_t *length) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, length);
    return encodeCsr(*ctx, buffer, length);
  });
}

RYCERT_API uint32_t Hx_Csr_EncodeAttributes(CsrCtx *ctx, AnyBuf **out) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, out);
    DerWriter w;
    if (Status st = writeAttributes(w, ctx->info.attrs); st != Status::Ok) {
      return RY_FAILED(st, "Hx_Csr_EncodeAttributes");
    }
    AnyBuf *rec = nullptr;
    if (w.toRecord(rec) != Status::Ok) {
      RY_WRITER_FAILED(w, nullptr);
      return RY_FAILED(w.status(), "Hx_Csr_EncodeAttributes");
    }
    *out = rec;
    RY_LOG("======>", "Hx_Csr_EncodeAttributes");
    return Status::Ok;
  });
}

}  // extern "C"
