/*
 * rycert2.h - the public interface of librycert2.
 *
 * A certificate library with its own DER codec. Every exported function is
 * plain C. Unless a comment says otherwise a function returns an unsigned
 * 32-bit status: RYCERT_OK (0) on success, one of the RYCERT_* codes below on
 * failure. Out-parameters are written only on success.
 *
 * Memory: every block the library hands out (records, encodings, texts)
 * comes from the runtime allocator (libmosk) and is released with the
 * library's own release functions (Hx_FreeAnybuf, Hx_FreeName, ...).
 *
 * Results copied into caller buffers follow the two-call pattern: a call
 * with a NULL buffer returns the length only; a second call with a buffer
 * of that length copies the bytes. Buffer capacities are not passed.
 *
 * Integer times are unsigned 32-bit counts of seconds since
 * 1970-01-01T00:00:00Z (0 .. 0xFFFFFFFF = 2106-02-07T06:28:15Z), always UTC.
 */
#ifndef RYCERT2_H
#define RYCERT2_H

#include <stdint.h>

#if defined(RYCERT2_BUILDING)
#define RYCERT_API __attribute__((visibility("default")))
#else
#define RYCERT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ */
/* Status codes                                                        */
/* ------------------------------------------------------------------ */

#define RYCERT_OK                     0u
#define RYCERT_MemoryErr              100u /* allocation failed; NULL key pointer */
#define RYCERT_InvalidLengthErr       101u /* length out of range, overrun, indefinite length */
#define RYCERT_LengthNotEqualErr      102u /* record length differs from its element */
#define RYCERT_InvalidTimeFieldErr    103u /* a time field that is not two digits in range */
#define RYCERT_InvalidTimeEndErr      104u /* a time text not ending in Z, or of wrong length */
#define RYCERT_TagNotMatchErr         106u /* unexpected element, multi-octet identifier */
#define RYCERT_InvalidSignatureLenErr 107u
#define RYCERT_ExtensionContentErr    108u
#define RYCERT_CertNotEndErr          109u
#define RYCERT_AttributeNotSupportErr 110u
#define RYCERT_CrlNotEndErr           111u
#define RYCERT_CsrNotEndErr           112u
#define RYCERT_KeyElementMissingErr   113u
#define RYCERT_AttributeAlreadySet    114u
#define RYCERT_InvalidTimeErr         115u /* integer time not representable */
#define RYCERT_DnNotEqualErr          116u
#define RYCERT_TimeOutRangeErr        117u
#define RYCERT_InvalidSignatureAlgErr 118u
#define RYCERT_KeyIndexRangeErr       120u

/* Failure value of the six text converters (Base64, PEM, DN strings). */
#define RYCERT_TEXT_FAILED            0xFFFFFFFFu

/* ------------------------------------------------------------------ */
/* Records                                                             */
/* ------------------------------------------------------------------ */

/*
 * AnyBuf - the record in which every DER value travels.
 *   data/length  the owned byte block (NULL/0 when empty)
 *   unusedBits   BIT STRING unused bits (0..7), else 0
 *   reserved     2 in records the codec creates; never tested
 *   tag          low five bits of the identifier for universal and
 *                application class, the whole identifier octet for
 *                context-specific and private class (0xA0 -> 160)
 *   next/prev    list links; releasing a record releases what follows it
 * An "encoded" record holds a complete element (identifier, length,
 * content); a "value" record holds content octets only.
 */
typedef struct AnyBuf {
  uint8_t *data;
  uint32_t length;
  uint32_t unusedBits;
  int32_t reserved;
  uint32_t tag;
  struct AnyBuf *next;
  struct AnyBuf *prev;
} AnyBuf;

/* OidBuf - an object identifier: caller-defined id plus content octets. */
typedef struct OidBuf {
  uint32_t id;
  AnyBuf oid;
} OidBuf;

/* RyNameNode - one attribute of a distinguished name (one RDN). */
typedef struct RyNameNode {
  struct RyNameNode *next;
  uint32_t spare;
  OidBuf type;  /* id: attribute code (RY_DN_*), oid: type OID content octets */
  AnyBuf value; /* content octets; tag: string type */
} RyNameNode;

/* Attribute codes of name components (RyNameNode.type.id). */
#define RY_DN_EMAIL            13u
#define RY_DN_COMMONNAME       22u
#define RY_DN_COUNTRY          25u
#define RY_DN_LOCALITY         26u
#define RY_DN_STATEORPROVINCE  27u
#define RY_DN_ORGANIZATION     29u
#define RY_DN_ORGUNIT          30u
#define RY_DN_POSTALADDRESS    34u
#define RY_DN_POSTALCODE       35u
#define RY_DN_TELEPHONE        38u

/* RSA keys: big-endian numbers, right-aligned, zero-padded in front. */
typedef struct RyRsaPublicKey {
  uint8_t modulus[256];
  uint8_t publicExponent[256];
} RyRsaPublicKey;

typedef struct RyRsaPrivateKey {
  uint8_t modulus[256];
  uint8_t publicExponent[256];
  uint8_t privateExponent[256];
  uint8_t prime1[128];
  uint8_t prime2[128];
  uint8_t exponent1[128];
  uint8_t exponent2[128];
  uint8_t coefficient[128];
} RyRsaPrivateKey;

/* PubKeyInfo - a subjectPublicKeyInfo taken apart. */
typedef struct PubKeyInfo {
  uint32_t kind;
  AnyBuf algorithm;  /* algorithm OID */
  AnyBuf parameters; /* not used */
  AnyBuf key;        /* subjectPublicKey bits (RSA: RSAPublicKey DER) */
} PubKeyInfo;

/* Opaque contexts of certificates, CRLs and requests. */
typedef struct CertCtx CertCtx;
typedef struct CrlCtx CrlCtx;
typedef struct CsrCtx CsrCtx;

/* ------------------------------------------------------------------ */
/* DER codec: identifier and length octets                             */
/*                                                                     */
/* The codec handles single-octet identifiers (tag numbers 0..30) and  */
/* definite lengths of at most four length octets. A multi-octet       */
/* identifier is refused with RYCERT_TagNotMatchErr, the indefinite    */
/* length form (0x80), five or more length octets and a length in more */
/* octets than it needs (81 05, 82 00 FF) with RYCERT_InvalidLengthErr.*/
/* ------------------------------------------------------------------ */

/* RyAsn1_Low_CreateAnyBuf: allocates a record, every field 0 except
 * reserved = 2. RYCERT_MemoryErr when no memory is left. */
RYCERT_API uint32_t RyAsn1_Low_CreateAnyBuf(AnyBuf **out);

/* RyAsn1_Low_WriteTagAndLength: allocates an encoded record for `value`
 * under identifier `id`, with the identifier, the length octets and, for a
 * BIT STRING the unused-bits octet, for an INTEGER whose first content
 * byte has bit 7 set a leading 0x00, already written. *content points
 * where the caller copies value->length content bytes. */
RYCERT_API uint32_t RyAsn1_Low_WriteTagAndLength(const AnyBuf *value, uint8_t id,
                                                 AnyBuf **out, uint8_t **content);

/* RyAsn1_Low_ReadTagAndLength: *cursor must equal encoded->data. Reads
 * the identifier and length, checks that they and the content make up
 * exactly encoded->length (RYCERT_LengthNotEqualErr otherwise), and
 * returns a value record with an allocated, unfilled block of the content
 * length in *out and *content; *cursor then points at the content bytes
 * to copy. BIT STRING (encoded->tag 3): the unused-bits octet is skipped
 * and unusedBits copied from `encoded`. INTEGER: a leading 0x00 that only
 * marks a positive number is skipped. */
RYCERT_API uint32_t RyAsn1_Low_ReadTagAndLength(const AnyBuf *encoded, uint8_t **cursor,
                                                AnyBuf **out, uint8_t **content);

/* RyAsn1_Low_GetTagInfo: reads the identifier octet at *cursor and
 * advances the cursor. *tag and *tagSize receive two separately allocated
 * 4-byte blocks that the caller releases with MOSK_Free. The caller
 * guarantees one readable byte at the cursor. */
RYCERT_API uint32_t RyAsn1_Low_GetTagInfo(uint8_t **cursor, uint32_t **tag, uint32_t **tagSize);

/* RyAsn1_Low_GetLengthInfo: reads the length octets at *cursor and
 * advances the cursor past them; results in two allocated 4-byte blocks as
 * for RyAsn1_Low_GetTagInfo. The caller guarantees that the length octets
 * the first one announces are readable. */
RYCERT_API uint32_t RyAsn1_Low_GetLengthInfo(uint8_t **cursor, uint32_t **length,
                                             uint32_t **lengthSize);

/* RyAsn1_GetCertLength: total size (identifier + length octets + content)
 * of the DER element starting at `der`. Reads at most six bytes. */
RYCERT_API uint32_t RyAsn1_GetCertLength(const uint8_t *der, uint32_t *totalLength);

/* RyAsn1_GetLengthInfo: for the element whose identifier octet is at
 * `cursor`, the content length and the number of length octets. The
 * cursor is not moved. */
RYCERT_API uint32_t RyAsn1_GetLengthInfo(const uint8_t *cursor, uint32_t *length,
                                         uint32_t *lengthSize);

/* ------------------------------------------------------------------ */
/* DER codec: primitive values                                         */
/* Writers return a new encoded record (caller releases it with        */
/* Hx_FreeAnybuf); readers take an encoded record and return a new     */
/* value record. Readers do not compare the identifier with their type.*/
/* ------------------------------------------------------------------ */

RYCERT_API uint32_t RyAsn1_WriteIntegerArray(const AnyBuf *value, AnyBuf **out);
/* RyAsn1_ReadIntegerArray: fills the caller's record `out` (its previous
 * data is overwritten, not released) with a fresh copy of the magnitude;
 * a sign-only leading 0x00 is dropped. */
RYCERT_API uint32_t RyAsn1_ReadIntegerArray(const AnyBuf *encoded, AnyBuf *out);
RYCERT_API uint32_t RyAsn1_WriteOctetString(const AnyBuf *value, AnyBuf **out);
RYCERT_API uint32_t RyAsn1_ReadOctetString(const AnyBuf *encoded, AnyBuf **out);
RYCERT_API uint32_t RyAsn1_WriteBitString(const AnyBuf *value, AnyBuf **out);
/* RyAsn1_ReadBitString: the unused-bits octet is not part of the value;
 * unusedBits comes from the record read. */
RYCERT_API uint32_t RyAsn1_ReadBitString(const AnyBuf *encoded, AnyBuf **out);
RYCERT_API uint32_t RyAsn1_WriteEnumerated(const AnyBuf *value, AnyBuf **out);
RYCERT_API uint32_t RyAsn1_ReadEnumerated(const AnyBuf *encoded, AnyBuf **out);
/* PrintableString (0x13). */
RYCERT_API uint32_t RyAsn1_WriteCharString(const AnyBuf *value, AnyBuf **out);
RYCERT_API uint32_t RyAsn1_ReadCharString(const AnyBuf *encoded, AnyBuf **out);
RYCERT_API uint32_t RyAsn1_WriteIa5String(const AnyBuf *value, AnyBuf **out);
RYCERT_API uint32_t RyAsn1_ReadIa5String(const AnyBuf *encoded, AnyBuf **out);
RYCERT_API uint32_t RyAsn1_WriteBmpString(const AnyBuf *value, AnyBuf **out);
RYCERT_API uint32_t RyAsn1_ReadBmpString(const AnyBuf *encoded, AnyBuf **out);
/* RyAsn1_WritePrintableString: BMPString when value->tag is 30, else
 * PrintableString. The reader takes any string type; the value's tag says
 * which was read. */
RYCERT_API uint32_t RyAsn1_WritePrintableString(const AnyBuf *value, AnyBuf **out);
RYCERT_API uint32_t RyAsn1_ReadPrintableString(const AnyBuf *encoded, AnyBuf **out);

/* RyAsn1_WriteInteger: a non-negative INTEGER of 1 to 5 content octets. */
RYCERT_API uint32_t RyAsn1_WriteInteger(uint32_t value, AnyBuf **out);
/* RyAsn1_ReadInteger: the content folded big-endian into 32 bits (only the
 * last four octets count; a sign-only leading 0x00 is dropped). An empty
 * content is refused with RYCERT_InvalidLengthErr. */
RYCERT_API uint32_t RyAsn1_ReadInteger(const AnyBuf *encoded, uint32_t *value);
/* RyAsn1_WriteBoolean: 01 01 and the byte as given. */
RYCERT_API uint32_t RyAsn1_WriteBoolean(const uint8_t *value, AnyBuf **out);
/* RyAsn1_ReadBoolean: the first content byte; RYCERT_InvalidLengthErr when
 * the content is not exactly one byte. */
RYCERT_API uint32_t RyAsn1_ReadBoolean(const AnyBuf *encoded, uint8_t *value);
RYCERT_API uint32_t RyAsn1_WriteNull(AnyBuf **out);
/* RyAsn1_WriteObjectId: the content octets of oid->oid under 0x06. */
RYCERT_API uint32_t RyAsn1_WriteObjectId(const OidBuf *oid, AnyBuf **out);
/* RyAsn1_ReadObjectId: a new OidBuf (release: Hx_ClearAnybuf(&o->oid) then
 * MOSK_Free(o)) whose oid holds the content octets; id is 0. */
RYCERT_API uint32_t RyAsn1_ReadObjectId(const AnyBuf *encoded, OidBuf **out);

/* RyAsn1_Low_IntToChar: shortest non-negative INTEGER content of `value`
 * in an allocated block, its size (1..5) in a separate allocated block. */
RYCERT_API uint32_t RyAsn1_Low_IntToChar(uint32_t value, uint8_t **octets, uint32_t **count);
/* RyAsn1_Low_CharToInt: INTEGER content folded into 32 bits, returned in
 * an allocated block. */
RYCERT_API uint32_t RyAsn1_Low_CharToInt(const uint8_t *content, uint32_t length,
                                         uint32_t **value);

/* ------------------------------------------------------------------ */
/* DER codec: time values (UTC)                                        */
/*                                                                     */
/* UTCTime text: YYMMDDhhmmssZ, years 1970..2069 (YY 70..99, 00..69).  */
/* GeneralizedTime text: YYYYMMDDhhmmssZ. Readers refuse a non-digit   */
/* or out-of-range field with RYCERT_InvalidTimeFieldErr and a text    */
/* not ending in Z, or of the wrong length, with                       */
/* RYCERT_InvalidTimeEndErr. A GeneralizedTime after 2106-02-07        */
/* 06:28:15Z reads as 0xFFFFFFFF, one before 1970 as 0.                */
/* ------------------------------------------------------------------ */

/* RyAsn1_WriteUtcTime: RYCERT_InvalidTimeErr for a time after 2069. */
RYCERT_API uint32_t RyAsn1_WriteUtcTime(const uint32_t *time, AnyBuf **out);
/* RyAsn1_ReadUtcTime: RYCERT_TagNotMatchErr when encoded->tag is not 23. */
RYCERT_API uint32_t RyAsn1_ReadUtcTime(const AnyBuf *encoded, uint32_t *time);
RYCERT_API uint32_t RyAsn1_WriteGeneralizedTime(const uint32_t *time, AnyBuf **out);
/* RyAsn1_ReadGeneralizedTime: RYCERT_TagNotMatchErr when the tag is not 24. */
RYCERT_API uint32_t RyAsn1_ReadGeneralizedTime(const AnyBuf *encoded, uint32_t *time);
/* RyAsn1_Low_WriteLongTime: id 0x18 writes GeneralizedTime text, any other
 * identifier the UTCTime text. */
RYCERT_API uint32_t RyAsn1_Low_WriteLongTime(uint32_t time, uint8_t id, AnyBuf **out);
/* RyAsn1_Low_ReadLongTime: reads either form (by the content length). */
RYCERT_API uint32_t RyAsn1_Low_ReadLongTime(const AnyBuf *encoded, uint32_t *time);
/* RyAsn1_Low_ItoCTime: the 13-character UTCTime text in an allocated block
 * and its length (13) in a separately allocated block. */
RYCERT_API uint32_t RyAsn1_Low_ItoCTime(uint32_t time, uint8_t **text, uint32_t **length);
/* RyAsn1_Low_CtoITime: a 13-character UTCTime or 15-character
 * GeneralizedTime text to an integer time in an allocated block. */
RYCERT_API uint32_t RyAsn1_Low_CtoITime(const uint8_t *text, uint32_t length, uint32_t **time);
/* RyAsn1_Low_TimeIntToChar: two decimal digits of value (0..99) at out;
 * RYCERT_InvalidTimeFieldErr above 99. */
RYCERT_API uint32_t RyAsn1_Low_TimeIntToChar(uint32_t value, uint8_t *out);
/* RyAsn1_Low_TimeCharToInt: the number two digits spell;
 * RYCERT_InvalidTimeFieldErr when either is not a digit. */
RYCERT_API uint32_t RyAsn1_Low_TimeCharToInt(const uint8_t *text, uint32_t *value);

/* ------------------------------------------------------------------ */
/* DER codec: constructed values                                       */
/* ------------------------------------------------------------------ */

/* RyAsn1_WriteSequence / RyAsn1_WriteSet: the encoded records of the list
 * starting at `first` (NULL: empty) joined in list order. */
RYCERT_API uint32_t RyAsn1_WriteSequence(const AnyBuf *first, AnyBuf **out);
RYCERT_API uint32_t RyAsn1_WriteSet(const AnyBuf *first, AnyBuf **out);
/* RyAsn1_ReadSequence / RyAsn1_ReadSet: the children as a list of encoded
 * records (NULL for an empty value). RYCERT_TagNotMatchErr for another
 * type, RYCERT_LengthNotEqualErr when the record is longer or shorter
 * than its element, RYCERT_InvalidLengthErr when a child overruns. */
RYCERT_API uint32_t RyAsn1_ReadSequence(const AnyBuf *encoded, AnyBuf **first);
RYCERT_API uint32_t RyAsn1_ReadSet(const AnyBuf *encoded, AnyBuf **first);
/* RyAsn1_WriteExplicit: [n] EXPLICIT around the whole inner element
 * (n = 0..30). */
RYCERT_API uint32_t RyAsn1_WriteExplicit(const AnyBuf *inner, uint32_t n, AnyBuf **out);
/* RyAsn1_ReadExplicit: the inner element, complete; *id and (*out)->tag
 * are the outer identifier octet. */
RYCERT_API uint32_t RyAsn1_ReadExplicit(const AnyBuf *encoded, AnyBuf **out, uint32_t *id);
/* RyAsn1_WriteImplicit: [n] IMPLICIT around the content of `inner`,
 * keeping its form: constructed when inner is constructed (SEQUENCE, SET,
 * an explicitly tagged value), primitive otherwise (n = 0..30). */
RYCERT_API uint32_t RyAsn1_WriteImplicit(const AnyBuf *inner, uint32_t n, AnyBuf **out);
/* RyAsn1_ReadImplicit: primitive: one value record of the content
 * (tag = identifier octet); constructed: the list of children. *n is the
 * tag number. */
RYCERT_API uint32_t RyAsn1_ReadImplicit(const AnyBuf *encoded, AnyBuf **out, uint32_t *n);

/* ------------------------------------------------------------------ */
/* Record helpers                                                      */
/* ------------------------------------------------------------------ */

/* Hx_InitAnybuf: every field 0; nothing released; NULL ignored. */
RYCERT_API void Hx_InitAnybuf(AnyBuf *buf);
/* Hx_ClearAnybuf: releases buf's data and every record after it, then
 * sets every field of buf to 0 (buf itself stays); NULL ignored. */
RYCERT_API void Hx_ClearAnybuf(AnyBuf *buf);
/* Hx_FreeAnybuf: releases each record of the chain and its data. */
RYCERT_API void Hx_FreeAnybuf(AnyBuf *first);
/* Hx_CopyAnybuf: dst gets src's fields (links included) and a fresh copy
 * of its data; dst's previous data is overwritten, not released.
 * RYCERT_MemoryErr on allocation failure or a NULL argument. */
RYCERT_API uint32_t Hx_CopyAnybuf(AnyBuf *dst, const AnyBuf *src);
/* Hx_CopyAlgorithm: id, then oid with Hx_CopyAnybuf. */
RYCERT_API uint32_t Hx_CopyAlgorithm(OidBuf *dst, const OidBuf *src);
/* Hx_SetAttributeCharValue: dst gets a copy of `count` bytes; unusedBits,
 * reserved and links are set to 0, tag is kept. */
RYCERT_API uint32_t Hx_SetAttributeCharValue(AnyBuf *dst, const uint8_t *bytes, uint32_t count);

/* ------------------------------------------------------------------ */
/* Distinguished names                                                 */
/* ------------------------------------------------------------------ */

/* Hx_EncodeIssuerSuject: the Name SEQUENCE of the chain at *name (one
 * attribute per RDN, in chain order). *out is set to NULL first. Values
 * are written as BMPString (tag 30), UTF8String (tag 12), IA5String
 * (e-mail, or tag 22, when 7-bit), PrintableString (when every byte is in
 * its alphabet) or else UTF8String. */
RYCERT_API uint32_t Hx_EncodeIssuerSuject(RyNameNode **name, AnyBuf **out);
/* Hx_DecodeIssuerSubject: appends one node per RDN (its first attribute)
 * to *first. On failure the nodes already linked stay on *first, on
 * purpose (an exception to "out-parameters only on success" that callers
 * rely on): the caller releases the chain with Hx_FreeName, as on
 * success. */
RYCERT_API uint32_t Hx_DecodeIssuerSubject(const AnyBuf *encoded, RyNameNode **first);
/* Hx_FreeName: releases every node of the chain and what it owns. */
RYCERT_API void Hx_FreeName(RyNameNode *first);
/* Hx_GetDN: the text C=..,O=..,OU=..,CN=..,E=..,S=..,L=.. (fixed order,
 * last occurrence of each wins, absent ones left out) in out->data and
 * out->length (no terminator). No text: RYCERT_OK and out untouched. */
RYCERT_API uint32_t Hx_GetDN(AnyBuf *out, RyNameNode **name);

/* ------------------------------------------------------------------ */
/* DN strings: return 0, or RYCERT_TEXT_FAILED                          */
/* ------------------------------------------------------------------ */

/* Ry_GenerateDN: joins ten components (value, length; a length of 0 or
 * below means absent, and its value may be NULL) as "C=..,O=..,OU=..,
 * CN=..,E=..,S=..,L=..,PA=..,PC=..,Phone=..". *outLen gets the length;
 * out (may be NULL) the bytes, no terminator; it must hold 1061 bytes.
 * Fails, writing nothing, when the present lengths add up to more than
 * 1024, a present value is NULL or outLen is NULL. */
RYCERT_API uint32_t Ry_GenerateDN(const uint8_t *c, int32_t cLen, const uint8_t *o, int32_t oLen,
                                  const uint8_t *ou, int32_t ouLen, const uint8_t *cn,
                                  int32_t cnLen, const uint8_t *e, int32_t eLen,
                                  const uint8_t *s, int32_t sLen, const uint8_t *l, int32_t lLen,
                                  const uint8_t *pa, int32_t paLen, const uint8_t *pc,
                                  int32_t pcLen, const uint8_t *phone, int32_t phoneLen,
                                  uint8_t *out, uint32_t *outLen);
/* Ry_ParseDN: splits a DN string into the ten components (same order as
 * Ry_GenerateDN). Every length is set (0 when absent); a NULL buffer
 * gets only the length, a NULL length pointer skips its component; a key
 * found twice gives the later value, and only that value is copied, so a
 * buffer of the reported length suffices. Fails, with every length 0,
 * for a text longer than 1024 bytes, a negative length or a NULL text
 * with a non-zero length. */
RYCERT_API uint32_t Ry_ParseDN(uint8_t *c, uint32_t *cLen, uint8_t *o, uint32_t *oLen,
                               uint8_t *ou, uint32_t *ouLen, uint8_t *cn, uint32_t *cnLen,
                               uint8_t *e, uint32_t *eLen, uint8_t *s, uint32_t *sLen,
                               uint8_t *l, uint32_t *lLen, uint8_t *pa, uint32_t *paLen,
                               uint8_t *pc, uint32_t *pcLen, uint8_t *phone,
                               uint32_t *phoneLen, const uint8_t *dn, int32_t dnLen);

/* ------------------------------------------------------------------ */
/* Base64 and PEM: return 0, or RYCERT_TEXT_FAILED                      */
/* ------------------------------------------------------------------ */

/* base64_encode: 4*ceil(inLen/3) characters and a terminating zero at
 * out, no line breaks. in may be NULL when inLen is 0. Fails only for a
 * NULL out or a NULL in with inLen above 0. */
RYCERT_API uint32_t base64_encode(const uint8_t *in, uint32_t inLen, char *out);
/* base64_decode: decodes the zero-terminated text `in`, skipping
 * characters outside the alphabet; a group with '=' ends the decoding (a
 * '=' before an alphabet character of its group counts as 0 there). out
 * must hold 3 bytes per four alphabet characters. Fails, *outLen then
 * unchanged, when the text ends inside a begun group, for a NULL
 * argument, or for a count that would not fit in 32 bits. */
RYCERT_API uint32_t base64_decode(const char *in, uint8_t *out, uint32_t *outLen);
/* DER2PEM_data_format: header line, Base64 in 64-column lines, footer
 * line, each ended by CR LF, then a zero (not counted in *pemLen). An
 * empty header or footer leaves that line out. derLen 0: *pemLen = 0, pem
 * untouched (der and pem may then be NULL). pem must hold len(header)+2 +
 * B + 2*ceil(B/64) + len(footer)+2 + 1 bytes, B = 4*ceil(derLen/3).
 * Fails, writing nothing, for a NULL argument or a text whose length
 * would not fit in 32 bits. */
RYCERT_API uint32_t DER2PEM_data_format(const uint8_t *der, uint32_t derLen, char *pem,
                                        uint32_t *pemLen, const char *header,
                                        const char *footer);
/* PEM2DER_data_format: the body between the header line and the footer
 * line (or the whole text when it has no '-') decoded; characters outside
 * the alphabet and a last incomplete group are ignored; pem need not be
 * zero-terminated. The header line ends at the five dashes that close it
 * on that line, so its label may contain '-'. der must hold 3 bytes per
 * four alphabet characters. pemLen 0: *derLen = 0 (pem and der may then
 * be NULL). Fails, *derLen then unchanged, for a header line not closed by
 * five dashes on its line, RFC 1421 header fields after it (a line with
 * ':', such as "Proc-Type: 4,ENCRYPTED" in an encrypted key), a missing
 * footer or a NULL argument. */
RYCERT_API uint32_t PEM2DER_data_format(const char *pem, uint32_t pemLen, uint8_t *der,
                                        uint32_t *derLen);

/* ------------------------------------------------------------------ */
/* RSA key encoding                                                    */
/* ------------------------------------------------------------------ */

/* Ry_Encode_PublicKey: PKCS#1 RSAPublicKey DER of the record; out may be
 * NULL (length only). RYCERT_MemoryErr for a NULL key or a field of all
 * zeros. */
RYCERT_API uint32_t Ry_Encode_PublicKey(const RyRsaPublicKey *key, uint8_t *out,
                                        uint32_t *outLen);
/* Ry_Encode_PrivateKey: PKCS#1 RSAPrivateKey DER (version 0). */
RYCERT_API uint32_t Ry_Encode_PrivateKey(const RyRsaPrivateKey *key, uint8_t *out,
                                         uint32_t *outLen);
/* Ry_Decode_PublicKey: fills the record from RSAPublicKey DER.
 * RYCERT_InvalidLengthErr for derLen <= 0 or an INTEGER longer than its
 * field, RYCERT_KeyElementMissingErr for too few elements,
 * RYCERT_TagNotMatchErr for an element that is not an INTEGER,
 * RYCERT_MemoryErr for a NULL key or der. A NULL argument or derLen <= 0
 * leaves the record untouched. A failure after
 * that leaves it partly filled, on purpose (an exception to
 * "out-parameters only on success"): the fields decoded before the fault
 * hold their values and the rest are zero. */
RYCERT_API uint32_t Ry_Decode_PublicKey(RyRsaPublicKey *key, const uint8_t *der, int32_t derLen);
/* Ry_Decode_PrivateKey: fills the record from RSAPrivateKey DER, with the
 * statuses of Ry_Decode_PublicKey. As there, a NULL argument or
 * derLen <= 0 leaves the record untouched, and a failure after that
 * leaves it partly filled on purpose: the fields decoded before the fault
 * hold their values and the rest are zero. */
RYCERT_API uint32_t Ry_Decode_PrivateKey(RyRsaPrivateKey *key, const uint8_t *der,
                                         int32_t derLen);
/* Hx_PKCS1to8KEY: SEQUENCE { INTEGER 1, OID rsaEncryption, OCTET STRING
 * der } for key import; out may be NULL (length only). */
RYCERT_API uint32_t Hx_PKCS1to8KEY(const uint8_t *der, uint32_t derLen, uint8_t *out,
                                   uint32_t *outLen);
/* Hx_DecodePubKey: from a subjectPublicKeyInfo element, info->algorithm
 * gets the algorithm OID element, info->key the subjectPublicKey bits.
 * kind and parameters are not touched; algorithm and key must be empty. */
RYCERT_API uint32_t Hx_DecodePubKey(const AnyBuf *encoded, PubKeyInfo *info);

#ifdef __cplusplus
}
#endif

#endif /* RYCERT2_H */
