// Certificate, CRL and request verification: the decode contexts give
// the names, validity, algorithm, signature and signed bytes through their
// public queries; the signature is checked in the token (Ry_VerifyData
// with the issuer's RSAPublicKey DER). No check looks at the current
// time, at extensions or at revocation (RFC 5280 6 is the caller's).
#include "ry_enc.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_enc_verify";

// Fixed areas for the values read; longer ones are refused before they
// are copied.
constexpr uint32_t kDnRoom = 1024;
constexpr uint32_t kKeyRoom = 512;
constexpr uint32_t kSigRoom = 512;
constexpr uint32_t kOidRoom = 128;

Status fromCall(uint32_t st, const char *logName) {
  return st == 0 ? Status::Ok : RY_FAILED(static_cast<Status>(st), logName);
}

// One family's decode context: created and decoded by open(), destroyed on
// every path (checked by release() on the success path).
template <class T, uint32_t (*Create)(T **), uint32_t (*Decode)(T *, const uint8_t *, uint32_t),
          uint32_t (*Destroy)(T *)>
class DecodeCtx {
 public:
  DecodeCtx() = default;
  DecodeCtx(const DecodeCtx &) = delete;
  DecodeCtx &operator=(const DecodeCtx &) = delete;
  ~DecodeCtx() {
    if (p_ != nullptr) {
      Destroy(p_);
    }
  }
  T *get() const { return p_; }
  // A new context holding `der` decoded; the calls' names are the log text.
  Status open(const uint8_t *der, uint32_t len, const char *createName, const char *decodeName) {
    if (Status st = fromCall(Create(&p_), createName); st != Status::Ok) {
      return st;
    }
    return fromCall(Decode(p_, der, len), decodeName);
  }
  // The checked release of the success path.
  Status release(const char *logName) {
    T *p = p_;
    p_ = nullptr;
    const Status st = static_cast<Status>(Destroy(p));
    return st == Status::Ok ? st : RY_FAILED(st, logName);
  }

 private:
  T *p_ = nullptr;
};
using CertDecode =
    DecodeCtx<CertCtx, RyCert_CreateCertDecodeCtx, RyCert_DecodeCert, RyCert_DestroyCertDecodeCtx>;
using CrlDecode =
    DecodeCtx<CrlCtx, RyCert_CreateCrlDecodeCtx, RyCert_DecodeCrl, RyCert_DestroyCrlDecodeCtx>;
using CsrDecode =
    DecodeCtx<CsrCtx, RyCert_CreateCsrDecodeCtx, RyCert_DecodeCsr, RyCert_DestroyCsrDecodeCtx>;

// A value read into a fixed area.
template <uint32_t Room>
struct Area {
  uint8_t bytes[Room] = {};
  uint32_t length = 0;
};

// The two-call query `q(buffer, &length)`: the length first, then the
// bytes into `area` when they fit.
template <uint32_t Room, class Query>
Status readArea(Query &&q, Area<Room> &area, const char *logName) {
  uint32_t len = 0;
  if (Status st = fromCall(q(nullptr, &len), logName); st != Status::Ok) {
    return st;
  }
  if (len > Room) {
    return RY_FAILED(Status::InvalidLength, "value longer than its area");
  }
  if (Status st = fromCall(q(area.bytes, &len), logName); st != Status::Ok) {
    return st;
  }
  area.length = len;
  return Status::Ok;
}

// The signed part, in a block of exactly its length.
template <class Query>
Status readBlock(Query &&q, Block &block, uint32_t &length, const char *logName) {
  uint32_t len = 0;
  if (Status st = fromCall(q(nullptr, &len), logName); st != Status::Ok) {
    return st;
  }
  Block b(RY_ALLOC(len == 0 ? 1 : len));
  if (!b) {
    return RY_NO_MEMORY();
  }
  if (Status st = fromCall(q(b.get(), &len), logName); st != Status::Ok) {
    return st;
  }
  block = std::move(b);
  length = len;
  return Status::Ok;
}

// signatureAlgorithm OID content -> signature algorithm code; the whole
// OID must be one of the table's.
Status recognise(const Area<kOidRoom> &oid, uint32_t &code) {
  const SigAlgRow *row = sigAlgByOid({oid.bytes, oid.length});
  if (row == nullptr) {
    return RY_FAILED(Status::InvalidSignatureAlg, "RYCERT_InvalidSignatureAlgErr");
  }
  code = row->code;
  return Status::Ok;
}

// What is read of an issuer's certificate (or of the one certificate of
// Ry_VerifySignatureByCert).
struct Issuer {
  Area<kDnRoom> subject;
  Area<kKeyRoom> key;  // RSAPublicKey DER
  uint32_t notBefore = 0;
  uint32_t notAfter = 0;
};

Status readIssuer(const uint8_t *der, uint32_t len, Issuer &out) {
  CertDecode ctx;
  if (Status st = ctx.open(der, len, "RyCert_CreateCertDecodeCtx", "RyCert_DecodeCert");
      st != Status::Ok) {
    return st;
  }
  CertCtx *c = ctx.get();
  auto query = [c](int32_t id) {
    return [c, id](uint8_t *b, uint32_t *n) { return RyCert_GetCertAttributeChar(c, id, b, n); };
  };
  if (Status st = readArea(query(CERT_SUBJECT_DN), out.subject, "RyCert_GetCertAttributeChar");
      st != Status::Ok) {
    return st;
  }
  if (Status st =
          readArea(query(CERT_SUBJECTPUBLICKEYINFO), out.key, "RyCert_GetCertAttributeChar");
      st != Status::Ok) {
    return st;
  }
  if (Status st = fromCall(RyCert_GetCertAttributeInt(c, CERT_VALIDFROM, &out.notBefore),
                           "RyCert_GetCertAttributeInt");
      st != Status::Ok) {
    return st;
  }
  if (Status st = fromCall(RyCert_GetCertAttributeInt(c, CERT_VALIDTO, &out.notAfter),
                           "RyCert_GetCertAttributeInt");
      st != Status::Ok) {
    return st;
  }
  return ctx.release("RyCert_DestroyCertDecodeCtx");
}

// The signed object's part: its algorithm, signature and signed bytes,
// then the token's verdict with `key`.
template <class Query>
Status checkSignature(Query &&query, int32_t algId, int32_t sigId, int32_t tbsId,
                      const char *logName, const Area<kKeyRoom> &key) {
  Area<kOidRoom> oid;
  uint32_t code = 0;
  if (Status st = readArea(query(algId), oid, logName); st != Status::Ok) {
    return st;
  }
  if (Status st = recognise(oid, code); st != Status::Ok) {
    return st;
  }
  Area<kSigRoom> sig;
  if (Status st = readArea(query(sigId), sig, logName); st != Status::Ok) {
    return st;
  }
  Block tbs;
  uint32_t tbsLen = 0;
  if (Status st = readBlock(query(tbsId), tbs, tbsLen, logName); st != Status::Ok) {
    return st;
  }
  return fromCall(
      Ry_VerifyData(0, key.bytes, key.length, tbs.get(), tbsLen, sig.bytes, sig.length, code),
      "Ry_VerifyData");
}

// The issuer name a certificate or CRL gives (the two-call query `q`) must
// be the issuer certificate's subject, as text.
template <class Query>
Status checkIssuerName(Query &&q, const char *logName, const Area<kDnRoom> &subject) {
  Area<kDnRoom> name;
  if (Status st = readArea(q, name, logName); st != Status::Ok) {
    return st;
  }
  if (name.length != subject.length || std::memcmp(name.bytes, subject.bytes, name.length) != 0) {
    return RY_FAILED(Status::DnNotEqual, "RYCERT_DnNotEqualErr");
  }
  return Status::Ok;
}

Status verifyCert(const uint8_t *issuerDer, uint32_t issuerLen, const uint8_t *der, uint32_t len) {
  Issuer issuer;
  if (Status st = readIssuer(issuerDer, issuerLen, issuer); st != Status::Ok) {
    return st;
  }
  CertDecode ctx;
  if (Status st = ctx.open(der, len, "RyCert_CreateCertDecodeCtx", "RyCert_DecodeCert");
      st != Status::Ok) {
    return st;
  }
  CertCtx *c = ctx.get();
  auto query = [c](int32_t id) {
    return [c, id](uint8_t *b, uint32_t *n) { return RyCert_GetCertAttributeChar(c, id, b, n); };
  };
  if (Status st =
          checkIssuerName(query(CERT_ISSUER_DN), "RyCert_GetCertAttributeChar", issuer.subject);
      st != Status::Ok) {
    return st;
  }
  // The validity must lie within the issuer's; equal times pass.
  uint32_t notBefore = 0;
  uint32_t notAfter = 0;
  if (Status st = fromCall(RyCert_GetCertAttributeInt(c, CERT_VALIDFROM, &notBefore),
                           "RyCert_GetCertAttributeInt");
      st != Status::Ok) {
    return st;
  }
  if (notBefore < issuer.notBefore) {
    return RY_FAILED(Status::TimeOutRange, "RYCERT_TimeOutRangeErr");
  }
  if (Status st = fromCall(RyCert_GetCertAttributeInt(c, CERT_VALIDTO, &notAfter),
                           "RyCert_GetCertAttributeInt");
      st != Status::Ok) {
    return st;
  }
  if (notAfter > issuer.notAfter) {
    return RY_FAILED(Status::TimeOutRange, "RYCERT_TimeOutRangeErr");
  }
  if (Status st = checkSignature(query, CERT_OUTER_SIGNATUREALGORITHM, CERT_CA_SIGNATURE,
                                 CERT_TBS_CERTIFICATE, "RyCert_GetCertAttributeChar", issuer.key);
      st != Status::Ok) {
    return st;
  }
  return ctx.release("RyCert_DestroyCertDecodeCtx");
}

Status verifyCrl(const uint8_t *issuerDer, uint32_t issuerLen, const uint8_t *der, uint32_t len) {
  Issuer issuer;
  if (Status st = readIssuer(issuerDer, issuerLen, issuer); st != Status::Ok) {
    return st;
  }
  CrlDecode ctx;
  if (Status st = ctx.open(der, len, "RyCert_CreateCrlDecodeCtx", "RyCert_DecodeCrl");
      st != Status::Ok) {
    return st;
  }
  CrlCtx *c = ctx.get();
  auto query = [c](int32_t id) {
    return [c, id](uint8_t *b, uint32_t *n) {
      return RyCert_GetCrlAttributeChar(c, uint32_t(id), b, n);
    };
  };
  if (Status st =
          checkIssuerName(query(CRL_ISSUER_DN), "RyCert_GetCrlAttributeChar", issuer.subject);
      st != Status::Ok) {
    return st;
  }
  if (Status st = checkSignature(query, CRL_OUTER_SIGNATUREALGORITHM, CRL_CA_SIGNATURE,
                                 CRL_TBS_CERTLIST, "RyCert_GetCrlAttributeChar", issuer.key);
      st != Status::Ok) {
    return st;
  }
  return ctx.release("RyCert_DestroyCrlDecodeCtx");
}

Status verifyCsr(const uint8_t *der, uint32_t len) {
  CsrDecode ctx;
  if (Status st = ctx.open(der, len, "RyCert_CreateCsrDecodeCtx", "RyCert_DecodeCsr");
      st != Status::Ok) {
    return st;
  }
  CsrCtx *c = ctx.get();
  auto query = [c](int32_t id) {
    return [c, id](uint8_t *b, uint32_t *n) {
      return RyCert_GetCsrAttributeChar(c, uint32_t(id), b, n);
    };
  };
  // The request's own key, read before its algorithm.
  Area<kKeyRoom> key;
  if (Status st = readArea(query(CSR_SUBJECTPUBLICKEYINFO), key, "RyCert_GetCsrAttributeChar");
      st != Status::Ok) {
    return st;
  }
  if (Status st = checkSignature(query, CSR_OUTER_SIGNATUREALGORITHM, CSR_SELF_SIGNATURE,
                                 CSR_TBS_CSR, "RyCert_GetCsrAttributeChar", key);
      st != Status::Ok) {
    return st;
  }
  return ctx.release("RyCert_DestroyCsrDecodeCtx");
}

Status verifyByCert(const uint8_t *der, uint32_t len, const uint8_t *data, uint32_t dataLen,
                    const uint8_t *signature, uint32_t signatureLen, uint32_t algorithm) {
  Issuer cert;
  if (Status st = readIssuer(der, len, cert); st != Status::Ok) {
    return st;
  }
  return fromCall(Ry_VerifyData(0, cert.key.bytes, cert.key.length, data, dataLen, signature,
                                signatureLen, algorithm),
                  "Ry_VerifyData");
}

}  // namespace
}  // namespace rycert2

using namespace rycert2;

extern "C" {

// A NULL among the required inputs gives RYCERT_CertNotEndErr at once,
// without a log line.
RYCERT_API uint32_t Ry_VerifyCert(const uint8_t *issuerCert, uint32_t issuerCertLen,
                                  const uint8_t *cert, uint32_t certLen) {
  return RY_C_BOUNDARY({
    if (anyNull(issuerCert, cert)) {
      return Status::CertNotEnd;
    }
    return verifyCert(issuerCert, issuerCertLen, cert, certLen);
  });
}

RYCERT_API uint32_t Ry_VerifyCrl(const uint8_t *issuerCert, uint32_t issuerCertLen,
                                 const uint8_t *crl, uint32_t crlLen) {
  return RY_C_BOUNDARY({
    if (anyNull(issuerCert, crl)) {
      return Status::CertNotEnd;
    }
    return verifyCrl(issuerCert, issuerCertLen, crl, crlLen);
  });
}

RYCERT_API uint32_t Ry_VerifyCsr(const uint8_t *csr, uint32_t csrLen) {
  return RY_C_BOUNDARY({
    if (csr == nullptr) {
      return Status::CertNotEnd;
    }
    return verifyCsr(csr, csrLen);
  });
}

RYCERT_API uint32_t Ry_VerifySignatureByCert(const uint8_t *cert, uint32_t certLen,
                                             const uint8_t *data, uint32_t dataLen,
                                             const uint8_t *signature, uint32_t signatureLen,
                                             uint32_t algorithm) {
  return RY_C_BOUNDARY({
    if (anyNull(cert, signature) || bytesMissing(data, dataLen)) {
      return Status::CertNotEnd;
    }
    return verifyByCert(cert, certLen, data, dataLen, signature, signatureLen, algorithm);
  });
}

}  // extern "C"
