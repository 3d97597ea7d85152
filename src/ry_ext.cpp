// RSA key encoding: fixed key records <-> PKCS#1 DER, the import wrapping,
// and subjectPublicKeyInfo decoding.
//
//   RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }
//   RSAPrivateKey ::= SEQUENCE { version INTEGER, modulus, publicExponent,
//       privateExponent, prime1, prime2, exponent1, exponent2,
//       coefficient }                                  (RFC 8017 A.1)
#include <array>
#include <cstring>

#include "ry_asn2.h"
#include "ry_oids.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_ext";

using Field = std::span<const uint8_t>;
using MutField = std::span<uint8_t>;

// The significant bytes of a right-aligned big-endian field.
Field significant(Field f) {
  size_t skip = 0;
  while (skip < f.size() && f[skip] == 0) {
    ++skip;
  }
  return f.subspan(skip);
}

// The fields of the key records in encoding order, one list for both
// directions (F is Field for encoding, MutField for decoding).
template <class F, class Key>
std::array<F, 2> publicFields(Key &k) {
  return {F(k.modulus), F(k.publicExponent)};
}
template <class F, class Key>
std::array<F, 8> privateFields(Key &k) {
  return {F(k.modulus),   F(k.publicExponent), F(k.privateExponent), F(k.prime1),
          F(k.prime2),    F(k.exponent1),      F(k.exponent2),       F(k.coefficient)};
}

// Encodes SEQUENCE { [INTEGER 0,] fields... } straight into `out` (or only
// measures it): no intermediate records.
template <size_t N>
Status encodeKey(const std::array<Field, N> &fields, bool withVersion, uint8_t *out,
                 uint32_t *outLen) {
  Field mags[N];
  for (size_t i = 0; i < N; ++i) {
    mags[i] = significant(fields[i]);
    if (mags[i].empty()) {
      return RY_FAILED(Status::Memory, "key field is zero");
    }
  }
  const char *failName = nullptr;
  const Status st = writeTwoCall(
      [&](DerWriter &w) {
        const DerWriter::Mark seq = w.open(kIdSequence);
        if (withVersion) {
          w.integer(0);
        }
        for (const Field &m : mags) {
          w.unsignedInteger(m);
        }
        w.close(seq);
        return Status::Ok;
      },
      out, *outLen, failName);
  return st == Status::Ok ? st : RY_FAILED(st, failName);
}

// Decodes the INTEGERs of a key SEQUENCE into right-aligned fields.
template <size_t N>
Status decodeKey(const uint8_t *der, int32_t derLen, bool withVersion,
                 const std::array<MutField, N> &fields) {
  if (derLen <= 0) {
    return RY_FAILED(Status::InvalidLength, "RYCERT_InvalidLengthErr");
  }
  for (const MutField &f : fields) {
    std::memset(f.data(), 0, f.size());
  }
  const char *fn = nullptr;
  DerReader top({der, size_t(derLen)});
  Tlv seq;
  if (Status st = RY_STEP(top.expect(kIdSequence, seq, fn), fn, "RyAsn1_ReadSequence");
      st != Status::Ok) {
    return st;
  }
  if (Status st = RY_STEP(top.finish(fn, Status::LengthNotEqual), fn, nullptr);
      st != Status::Ok) {
    return st;
  }
  DerReader elems(seq.content);
  Tlv e;
  // The version must be an INTEGER like every other field; its value is
  // not checked (two-prime keys say 0, multi-prime ones 1).
  if (withVersion) {
    if (Status st = RY_STEP(elems.expect(kIdInteger, e, fn, Status::KeyElementMissing), fn,
                            "RyAsn1_ReadInteger");
        st != Status::Ok) {
      return st;
    }
  }
  for (const MutField &f : fields) {
    if (Status st = RY_STEP(elems.expect(kIdInteger, e, fn, Status::KeyElementMissing), fn,
                            "RyAsn1_ReadIntegerArray");
        st != Status::Ok) {
      return st;
    }
    if (e.content.empty()) {
      return RY_FAILED(Status::InvalidLength, "RyAsn1_ReadIntegerArray");
    }
    const Field mag = significant(e.content);
    if (mag.size() > f.size()) {
      return RY_FAILED(Status::InvalidLength, "INTEGER longer than its field");
    }
    if (!mag.empty()) {
      std::memcpy(f.data() + f.size() - mag.size(), mag.data(), mag.size());
    }
  }
  // Elements after the last field (multi-prime extensions) are not kept.
  return Status::Ok;
}

// Takes a subjectPublicKeyInfo apart (RFC 5280 4.1.2.7):
//   SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier,
//                                       subjectPublicKey BIT STRING }
//   AlgorithmIdentifier ::= SEQUENCE { algorithm OBJECT IDENTIFIER,
//                                      parameters ANY OPTIONAL }
Status decodePubKey(const AnyBuf *enc, PubKeyInfo &info) {
  Tlv spki;
  if (Status st = RY_OPEN(enc, spki, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  if (spki.id != kIdSequence) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  const char *fn = nullptr;
  DerReader parts(spki.content);
  Tlv alg;
  Tlv bits;
  if (Status st = RY_STEP(parts.expect(kIdSequence, alg, fn), fn, "RyAsn1_ReadSequence");
      st != Status::Ok) {
    return st;
  }
  if (Status st = RY_STEP(parts.expect(kIdBitString, bits, fn), fn, "RyAsn1_ReadBitString");
      st != Status::Ok) {
    return st;
  }
  if (Status st = RY_STEP(parts.finish(fn), fn, nullptr); st != Status::Ok) {
    return RY_FAILED(st, "RyAsn1_ReadSequence");
  }
  DerReader algParts(alg.content);
  Tlv oidElem;
  if (Status st = RY_STEP(algParts.expect(kIdOid, oidElem, fn), fn, "RyAsn1_ReadObjectId");
      st != Status::Ok) {
    return st;
  }
  if (oidElem.content.empty()) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadObjectId");
  }
  // Parameters, when present, must at least be one well-formed element.
  while (!algParts.atEnd()) {
    Tlv param;
    if (Status st = RY_NEXT(algParts, param, "RyAsn1_ReadSequence"); st != Status::Ok) {
      return st;
    }
  }
  if (bits.content.empty() || bits.content[0] > 7) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadBitString");
  }
  AnyBuf algorithm{};
  AnyBuf key{};
  EmbeddedGuard algGuard(algorithm);
  EmbeddedGuard keyGuard(key);
  const AnyBuf algView{const_cast<uint8_t *>(oidElem.whole.data()), uint32_t(oidElem.whole.size()),
                       0, 2, oidElem.tag(), nullptr, nullptr};
  if (Status st = copyInto(algorithm, algView); st != Status::Ok) {
    return RY_FAILED(st, "Hx_CopyAnybuf");
  }
  const auto keyBytes = bits.content.subspan(1);
  const AnyBuf keyView{const_cast<uint8_t *>(keyBytes.data()), uint32_t(keyBytes.size()),
                       bits.content[0], 2, bits.tag(), nullptr, nullptr};
  if (Status st = copyInto(key, keyView); st != Status::Ok) {
    return RY_FAILED(st, "RyAsn1_ReadBitString");
  }
  info.algorithm = algorithm;
  info.key = key;
  algGuard.release();
  keyGuard.release();
  return Status::Ok;
}

// Wraps an RSAPrivateKey for import:
//   SEQUENCE { INTEGER 1, OBJECT IDENTIFIER rsaEncryption, OCTET STRING key }
// The OID stands directly in the SEQUENCE, as the token's import expects.
Status wrapPkcs1(std::span<const uint8_t> key, uint8_t *out, uint32_t *outLen) {
  const char *failName = nullptr;
  const Status st = writeTwoCall(
      [&](DerWriter &w) {
        const DerWriter::Mark seq = w.open(kIdSequence);
        w.integer(1);
        w.oid(oid::kRsaEncryption);
        w.element(kIdOctetString, key);
        w.close(seq);
        return Status::Ok;
      },
      out, *outLen, failName);
  return st == Status::Ok ? st : RY_FAILED(st, "RyAsn1_WriteOctetString");
}

}  // namespace
}  // namespace rycert2

using namespace rycert2;

extern "C" {

RYCERT_API uint32_t Ry_Encode_PublicKey(const RyRsaPublicKey *key, uint8_t *out,
                                        uint32_t *outLen) {
  return RY_C_BOUNDARY({
    RY_LOG("======>", "Ry_Encode_PublicKey");
    RY_REQUIRE(key, outLen);
    return encodeKey(publicFields<Field>(*key), false, out, outLen);
  });
}

RYCERT_API uint32_t Ry_Encode_PrivateKey(const RyRsaPrivateKey *key, uint8_t *out,
                                         uint32_t *outLen) {
  return RY_C_BOUNDARY({
    RY_LOG("======>", "Ry_Encode_PrivateKey");
    RY_REQUIRE(key, outLen);
    return encodeKey(privateFields<Field>(*key), true, out, outLen);
  });
}

RYCERT_API uint32_t Ry_Decode_PublicKey(RyRsaPublicKey *key, const uint8_t *der, int32_t derLen) {
  return RY_C_BOUNDARY({
    RY_LOG("======>", "Ry_Decode_PublicKey");
    RY_REQUIRE(key, der);
    return decodeKey(der, derLen, false, publicFields<MutField>(*key));
  });
}

RYCERT_API uint32_t Ry_Decode_PrivateKey(RyRsaPrivateKey *key, const uint8_t *der,
                                         int32_t derLen) {
  return RY_C_BOUNDARY({
    RY_LOG("======>", "Decode PrivateKey;");
    RY_REQUIRE(key, der);
    return decodeKey(der, derLen, true, privateFields<MutField>(*key));
  });
}

RYCERT_API uint32_t Hx_PKCS1to8KEY(const uint8_t *der, uint32_t derLen, uint8_t *out,
                                   uint32_t *outLen) {
  return RY_C_BOUNDARY({
    RY_LOG("======>", "Ry_PKCS1to8KEY");
    RY_REQUIRE(der, outLen);
    if (derLen == 0) {
      return RY_FAILED(Status::InvalidLength, "RYCERT_InvalidLengthErr");
    }
    return wrapPkcs1({der, derLen}, out, outLen);
  });
}

RYCERT_API uint32_t Hx_DecodePubKey(const AnyBuf *encoded, PubKeyInfo *info) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(info);
    return decodePubKey(encoded, *info);
  });
}

}  // extern "C"
