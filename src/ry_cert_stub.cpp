// Temporary stubs so the exported-symbol test stays green while the
// certificate core is implemented; replaced by ry_cert*.cpp.
#include "rycert2.h"

extern "C" {
RYCERT_API uint32_t RyCert_CreateCertEncodeCtx(CertCtx **ctx) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t RyCert_CreateCertDecodeCtx(CertCtx **ctx) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t RyCert_DestroyCertEncodeCtx(CertCtx *ctx) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t RyCert_DestroyCertDecodeCtx(CertCtx *ctx) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t RyCert_DecodeCert(CertCtx *ctx, const uint8_t *der, uint32_t length) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_DecodeTBS(CertCtx *ctx, const AnyBuf *tbs) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_DecodeExtensions(const AnyBuf *extensions, CertCtx *ctx) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_DecodeExtension_BasicConstraint(const AnyBuf *extension, CertCtx *ctx) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_DecodeExtension_AuthorityKeyIdentifyer(const AnyBuf *extension, CertCtx *ctx) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_DecodeExtension_SubjectKeyIdentifier(const AnyBuf *extension, CertCtx *ctx) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_DecodeExtension_KeyUsage(const AnyBuf *extension, CertCtx *ctx) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_DecodeExtension_ExtKeyUsage(const AnyBuf *extension, CertCtx *ctx) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_DecodeExtension_CrlDistributionPoint(const AnyBuf *extension, CertCtx *ctx) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_DecodeExtension_Private(const AnyBuf *extension, CertCtx *ctx) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t RyCert_GetCertAttributeChar(CertCtx *ctx, int32_t id, uint8_t *buffer, uint32_t *outLen) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t RyCert_GetCertAttributeInt(CertCtx *ctx, int32_t id, uint32_t *value) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t RyCert_GetCertAttributePrivate(CertCtx *ctx, uint32_t *index, uint8_t *oid, uint32_t *oidLen, uint32_t *critical, uint8_t *value, uint32_t *valueLen) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t RyCert_SetCertAttributeInt(CertCtx *ctx, int32_t id, uint32_t value) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t RyCert_SetCertAttributeChar(CertCtx *ctx, uint32_t id, const uint8_t *value, int32_t length) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t RyCert_SetCertAttributePrivate(CertCtx *ctx, const uint8_t *oid, int32_t oidLen, uint8_t critical, const uint8_t *value, int32_t valueLen) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t RyCert_SetCertSignFunc(CertCtx *ctx, RyCertSignFunc fn, const uint8_t *param, int32_t paramLen) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t RyCert_EncodeCert(CertCtx *ctx, uint8_t *out, uint32_t *outLen) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_EncodeValidity(CertCtx *ctx, AnyBuf **out) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_EncodeExtensions(CertCtx *ctx, AnyBuf **out) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_EncodeExtension_AuthorityKeyIdentifyer(CertCtx *ctx, AnyBuf **out) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_EncodeExtension_SubjectKeyIdentifier(CertCtx *ctx, AnyBuf **out) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_EncodeExtension_CertificatePolicies(CertCtx *ctx, AnyBuf **out) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_EncodeExtension_IssuerAltName(CertCtx *ctx, AnyBuf **out) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_EncodeExtension_SubjectAltName(CertCtx *ctx, AnyBuf **out) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_EncodeExtension_BasicConstraint(CertCtx *ctx, AnyBuf **out) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_EncodeExtension_KeyUsage(CertCtx *ctx, AnyBuf **out) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_EncodeExtension_ExtKeyUsage(CertCtx *ctx, AnyBuf **out) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_EncodeExtension_CrlDistributePoint(CertCtx *ctx, AnyBuf **out) { return RYCERT_AttributeNotSupportErr; }
RYCERT_API uint32_t Hx_Cert_EncodeExtension_Private(CertCtx *ctx, AnyBuf **out) { return RYCERT_AttributeNotSupportErr; }
}
