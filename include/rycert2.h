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

/* ------------------------------------------------------------------ */
/* Signing callback and signature algorithms                           */
/* ------------------------------------------------------------------ */

/*
 * RyCertSignFunc - the signing callback of the certificate, CRL and
 * request encoders (RyCert_SetCertSignFunc, RyCert_SetCrlSignFunc,
 * RyCert_SetCsrSignFunc). Each encode calls it twice on the caller's
 * thread:
 *   1. fn(tbs, tbsLen, NULL, &len, NULL): store the signature length that
 *      will be needed in *len;
 *   2. fn(tbs, tbsLen, buf, &len, param): *len holds the capacity of buf
 *      (the length answered in call 1); write the signature value (the
 *      BIT STRING content, no unused-bits octet) into buf and its length
 *      into *len.
 * tbs is the complete encoded to-be-signed element; param is the
 * library's copy of the bytes given to the Set*SignFunc call (NULL when
 * none were given). A length of 10240 or more in call 1, or more than the
 * capacity in call 2, fails the encode with RYCERT_InvalidSignatureLenErr;
 * 0 bytes in call 2 with RYCERT_InvalidLengthErr. Return 0 on success; any
 * other value fails the encode and is returned by it unchanged. The
 * callback keeps no pointer after returning.
 */
typedef uint32_t (*RyCertSignFunc)(const uint8_t *data, uint32_t dataLen, uint8_t *signature,
                                   uint32_t *signatureLen, const uint8_t *param);

/* Signature algorithm codes (token signing and verification). */
#define SIGALG_RSA         200 /* rsaEncryption 1.2.840.113549.1.1.1: raw PKCS#1 v1.5 */
#define SIGALG_MD2_RSA     201 /* md2WithRSAEncryption 1.2.840.113549.1.1.2 */
#define SIGALG_MD5_RSA     202 /* md5WithRSAEncryption 1.2.840.113549.1.1.4 */
#define SIGALG_SHA1_RSA    203 /* sha1WithRSAEncryption 1.2.840.113549.1.1.5 */
#define SIGALG_SHA256_RSA  204 /* sha256WithRSAEncryption 1.2.840.113549.1.1.11 */
#define SIGALG_SHA384_RSA  205 /* sha384WithRSAEncryption 1.2.840.113549.1.1.12 */
#define SIGALG_SHA512_RSA  206 /* sha512WithRSAEncryption 1.2.840.113549.1.1.13 */

/* Content octets (9 bytes each) of those OIDs, for CERT_*_SIGNATUREALGORITHM,
 * CERT_PUBLICKEY_ALGORITHM and their CRL and request counterparts. */
#define RY_OID_RSA_ENCRYPTION   "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x01"
#define RY_OID_MD2_WITH_RSA     "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x02"
#define RY_OID_MD5_WITH_RSA     "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x04"
#define RY_OID_SHA1_WITH_RSA    "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x05"
#define RY_OID_SHA256_WITH_RSA  "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0B"
#define RY_OID_SHA384_WITH_RSA  "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0C"
#define RY_OID_SHA512_WITH_RSA  "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0D"
#define RY_OID_RSA_LEN          9

/* ------------------------------------------------------------------ */
/* Certificates: attribute identifiers                                 */
/*                                                                     */
/* One numbering serves the setters and the queries. "char" attributes */
/* travel as bytes (RyCert_SetCertAttributeChar, ..GetCertAttributeChar)*/
/* "int" ones as an unsigned 32-bit value (..AttributeInt). [G] the    */
/* query answers it, [S] a setter accepts it; any other identifier is  */
/* refused with RYCERT_AttributeNotSupportErr.                         */
/* ------------------------------------------------------------------ */

#define CERT_TBS_CERTIFICATE                    1  /* char [G]: the encoded TBSCertificate */
#define CERT_OUTER_SIGNATUREALGORITHM           2  /* char [GS]: signatureAlgorithm OID content */
#define CERT_CA_SIGNATURE                       3  /* char [GS]: signature value (BIT STRING content) */
#define CERT_VERSION                            4  /* int [GS]: 0 = v1, 2 = v3 */
#define CERT_SERIALNUMBER                       5  /* char [GS]: INTEGER content (magnitude) */
#define CERT_INNER_SIGNATUREALGORITHM           6  /* char [GS]: TBS signature OID content */
#define CERT_ISSUER_DN                          7  /* char [G]: DN text of the issuer (Hx_GetDN) */
#define CERT_ISSUER_COUNTRYNAME                 8  /* char [GS]: issuer components 8..17 */
#define CERT_ISSUER_STATEORPROVINCENAME         9
#define CERT_ISSUER_LOCALITYNAME                10
#define CERT_ISSUER_ORGANIZATIONNAME            11
#define CERT_ISSUER_ORGANIZATIONALUNITNAME      12
#define CERT_ISSUER_COMMONNAME                  13
#define CERT_ISSUER_EMAIL                       14
#define CERT_ISSUER_POSTALADDRESS               15
#define CERT_ISSUER_POSTALCODE                  16
#define CERT_ISSUER_TELEPHONE                   17
#define CERT_VALIDFROM                          28 /* int [GS]: notBefore, integer time */
#define CERT_VALIDTO                            29 /* int [GS]: notAfter, integer time */
#define CERT_SUBJECT_DN                         30 /* char [G]: DN text of the subject */
#define CERT_SUBJECT_COUNTRYNAME                31 /* char [GS]: subject components 31..40 */
#define CERT_SUBJECT_STATEORPROVINCENAME        32
#define CERT_SUBJECT_LOCALITYNAME               33
#define CERT_SUBJECT_ORGANIZATIONNAME           34
#define CERT_SUBJECT_ORGANIZATIONALUNITNAME     35
#define CERT_SUBJECT_COMMONNAME                 36
#define CERT_SUBJECT_EMAIL                      37
#define CERT_SUBJECT_POSTALADDRESS              38
#define CERT_SUBJECT_POSTALCODE                 39
#define CERT_SUBJECT_TELEPHONE                  40
#define CERT_PUBLICKEY_ALGORITHM                51 /* char [GS]: decoded: the OID element (06 ..);
                                                      set: OID content octets */
#define CERT_SUBJECTPUBLICKEYINFO               52 /* char [GS]: subjectPublicKey BIT STRING
                                                      content (RSA: RSAPublicKey DER) */
#define CERTEX_AUTHORITYKEYIDENTIFIER           63 /* char [GS], once: keyIdentifier octets */
#define CERTEX_SUBJECTKEYIDENTIFIER             83 /* char [GS], once: key identifier octets */
#define CERTEX_KEYUSAGE_CRITICAL                84 /* char [G]: 1 byte, the criticality byte */
#define CERTEX_KEYUSAGE                         85 /* char [GS], once: decoded: the BIT STRING
                                                      content (unused-bits octet first); set: the
                                                      bit bytes (written critical) */
#define CERTEX_CERTPOLICYID                     90 /* char [S]: policy OID content (first call only) */
#define CERTEX_CERTPOLICY_CPS                   91 /* char [S]: a CPS URI qualifier of that policy */
#define CERT_SUBJECT_ALT_COUNTRYNAME            99 /* char [S]: subjectAltName directoryName */
#define CERT_SUBJECT_ALT_STATEORPROVINCENAME    100 /*   components 99..105 */
#define CERT_SUBJECT_ALT_LOCALITYNAME           101
#define CERT_SUBJECT_ALT_ORGANIZATIONNAME       102
#define CERT_SUBJECT_ALT_ORGANIZATIONALUNITNAME 103
#define CERT_SUBJECT_ALT_COMMONNAME             104
#define CERT_SUBJECT_ALT_EMAIL                  105
#define CERT_ISSUER_ALT_COUNTRYNAME             107 /* char [S]: issuerAltName directoryName */
#define CERT_ISSUER_ALT_STATEORPROVINCENAME     108 /*   components 107..113 */
#define CERT_ISSUER_ALT_LOCALITYNAME            109
#define CERT_ISSUER_ALT_ORGANIZATIONNAME        110
#define CERT_ISSUER_ALT_ORGANIZATIONALUNITNAME  111
#define CERT_ISSUER_ALT_COMMONNAME              112
#define CERT_ISSUER_ALT_EMAIL                   113
#define CERTEX_BASICCONSTRAINTS_CRITICAL        117 /* char [GS]: G: 1 byte criticality; S: a
                                                       critical basicConstraints, cA FALSE */
#define CERTEX_AUTHORITY                        118 /* char [GS]: G: 1 byte cA; S: cA TRUE,
                                                       non-critical (only one of 117/118) */
#define CERTEX_PATHLENCONSTRAINT                119 /* char [GS]: INTEGER content (first byte used) */
#define CERTEX_EXTKEY_USAGE                     127 /* char [GS], once: 4-byte purpose field */
#define CERTEX_CRLDIST_FULLNAME                 129 /* char [GS]: G: iterator over the points'
                                                       first GeneralName (86 len URI); S: a URI */

/* Extended key usage purpose flags: byte 1 and byte 2 of the 4-byte
 * CERTEX_EXTKEY_USAGE field. */
#define RY_EKU1_SERVERAUTH      0x40 /* 1.3.6.1.5.5.7.3.1 */
#define RY_EKU1_CLIENTAUTH      0x80 /* 1.3.6.1.5.5.7.3.2 */
#define RY_EKU2_CODESIGNING     0x01 /* 1.3.6.1.5.5.7.3.3 */
#define RY_EKU2_EMAILPROTECTION 0x02 /* 1.3.6.1.5.5.7.3.4 */
#define RY_EKU2_IPSECENDSYSTEM  0x04 /* 1.3.6.1.5.5.7.3.5 */
#define RY_EKU2_IPSECTUNNEL     0x08 /* 1.3.6.1.5.5.7.3.6 */
#define RY_EKU2_IPSECUSER       0x10 /* 1.3.6.1.5.5.7.3.7 */
#define RY_EKU2_TIMESTAMPING    0x20 /* 1.3.6.1.5.5.7.3.8 */

/* ------------------------------------------------------------------ */
/* Certificates: contexts                                              */
/*                                                                     */
/* One opaque CertCtx serves as encode and as decode context. The      */
/* context functions log "======><name> Begin" and " End"; a NULL      */
/* handle or required pointer gives RYCERT_MemoryErr ("------>Pointer  */
/* is NULL"). The context owns everything reachable from it.           */
/* ------------------------------------------------------------------ */

/* RyCert_CreateCertEncodeCtx: allocates an empty context into *ctx
 * (version 0, no fields, no callback). RYCERT_MemoryErr when memory runs
 * out; *ctx is then NULL. */
RYCERT_API uint32_t RyCert_CreateCertEncodeCtx(CertCtx **ctx);
/* RyCert_CreateCertDecodeCtx: exactly RyCert_CreateCertEncodeCtx. */
RYCERT_API uint32_t RyCert_CreateCertDecodeCtx(CertCtx **ctx);
/* RyCert_DestroyCertEncodeCtx: releases the context and all it owns.
 * NULL is accepted. Always RYCERT_OK. */
RYCERT_API uint32_t RyCert_DestroyCertEncodeCtx(CertCtx *ctx);
/* RyCert_DestroyCertDecodeCtx: exactly RyCert_DestroyCertEncodeCtx. */
RYCERT_API uint32_t RyCert_DestroyCertDecodeCtx(CertCtx *ctx);

/* RyCert_DecodeCert: parses the certificate at der into a fresh context
 * (one not encoded or decoded before). The element's own length counts:
 * bytes after it are ignored; a length shorter than the element's
 * header or the length it announces gives RYCERT_InvalidLengthErr. The
 * context keeps one copy of the certificate. Accepts v1 certificates
 * without the [0] version (version 0), skips issuerUniqueID [1] and
 * subjectUniqueID [2]. Statuses: the failing reader's (106 wrong type,
 * 101/102 bad lengths, 103/104 bad times), RYCERT_CertNotEndErr for a
 * TBSCertificate that ends before subjectPublicKeyInfo, failures of the
 * extension decoders (Hx_Cert_DecodeExtensions), RYCERT_MemoryErr. A
 * Certificate of only a TBSCertificate, or an empty SEQUENCE, decodes
 * with the missing parts empty. A context that already holds a
 * certificate (decoded or encoded) is refused with
 * RYCERT_AttributeAlreadySet. On failure the fields decoded before the
 * fault stay; the caller destroys the context. */
RYCERT_API uint32_t RyCert_DecodeCert(CertCtx *ctx, const uint8_t *der, uint32_t length);
/* Hx_Cert_DecodeTBS: parses the TBSCertificate element held by the
 * encoded record tbs (a copy is kept as CERT_TBS_CERTIFICATE) into the
 * context, with the statuses of RyCert_DecodeCert (RYCERT_LengthNotEqualErr
 * for a record longer or shorter than its element); logs
 * "======>Hx_Cert_DecodeTBS". The Hx_Cert_Decode* routines keep their own
 * copy of the record, which the caller may release at once. */
RYCERT_API uint32_t Hx_Cert_DecodeTBS(CertCtx *ctx, const AnyBuf *tbs);

/* Hx_Cert_DecodeExtensions: the [3] extensions element (encoded record)
 * into the context: basicConstraints, authorityKeyIdentifier,
 * subjectKeyIdentifier, keyUsage, extKeyUsage and cRLDistributionPoints
 * into their fields (a repeated one is skipped), any other extension kept
 * whole as a private extension. RYCERT_CertNotEndErr for an Extension
 * without extnValue; the readers' statuses for malformed DER;
 * RYCERT_MemoryErr. Logs "======>Hx_Cert_DecodeExtensions". */
RYCERT_API uint32_t Hx_Cert_DecodeExtensions(const AnyBuf *extensions, CertCtx *ctx);
/* The type decoders: one Extension element (encoded record) of their
 * type into the context, criticality from a BOOLEAN after the OID.
 * Given an Extension of another type, BasicConstraint returns
 * RYCERT_ExtensionContentErr and the others RYCERT_OK without marking
 * anything. Hx_Cert_DecodeExtension_Private keeps any Extension as the
 * next private extension (RyCert_GetCertAttributePrivate). */
RYCERT_API uint32_t Hx_Cert_DecodeExtension_BasicConstraint(const AnyBuf *extension, CertCtx *ctx);
RYCERT_API uint32_t Hx_Cert_DecodeExtension_AuthorityKeyIdentifyer(const AnyBuf *extension,
                                                                   CertCtx *ctx);
RYCERT_API uint32_t Hx_Cert_DecodeExtension_SubjectKeyIdentifier(const AnyBuf *extension,
                                                                 CertCtx *ctx);
RYCERT_API uint32_t Hx_Cert_DecodeExtension_KeyUsage(const AnyBuf *extension, CertCtx *ctx);
RYCERT_API uint32_t Hx_Cert_DecodeExtension_ExtKeyUsage(const AnyBuf *extension, CertCtx *ctx);
RYCERT_API uint32_t Hx_Cert_DecodeExtension_CrlDistributionPoint(const AnyBuf *extension,
                                                                 CertCtx *ctx);
RYCERT_API uint32_t Hx_Cert_DecodeExtension_Private(const AnyBuf *extension, CertCtx *ctx);

/* ------------------------------------------------------------------ */
/* Certificates: queries                                               */
/* ------------------------------------------------------------------ */

/* RyCert_GetCertAttributeChar: the bytes of a char attribute [G]. *outLen
 * is set to 0 first, then to the attribute's length; when buffer is not
 * NULL that many bytes are copied into it. An attribute the certificate
 * does not carry gives RYCERT_OK with length 0. CERT_ISSUER_DN and
 * CERT_SUBJECT_DN are rendered on the first query and kept.
 * CERTEX_CRLDIST_FULLNAME iterates: a query with a buffer copies the
 * current distribution point and moves to the next; a length query does
 * not move. RYCERT_AttributeNotSupportErr for another identifier. Logs
 * "======>Get <name>" (+ " Len", or " LEN" for identifiers 1, 3 and 5,
 * for a length query). */
RYCERT_API uint32_t RyCert_GetCertAttributeChar(CertCtx *ctx, int32_t id, uint8_t *buffer,
                                                uint32_t *outLen);
/* RyCert_GetCertAttributeInt: CERT_VERSION (0 when never set or
 * decoded), CERT_VALIDFROM, CERT_VALIDTO into *value.
 * RYCERT_AttributeNotSupportErr, *value untouched, for another id. */
RYCERT_API uint32_t RyCert_GetCertAttributeInt(CertCtx *ctx, int32_t id, uint32_t *value);
/* RyCert_GetCertAttributePrivate: the private extension number *index
 * (1-based, in certificate or call order): *oidLen, *critical (the
 * criticality byte) and *valueLen are set, the OID content octets and the
 * extnValue content copied when oid / value are not NULL; *index is kept.
 * When there is no extension of that number (index 0 or past the end)
 * *index gets the number of private extensions and nothing else is
 * written. Always RYCERT_OK for a valid context and pointers. */
RYCERT_API uint32_t RyCert_GetCertAttributePrivate(CertCtx *ctx, uint32_t *index, uint8_t *oid,
                                                   uint32_t *oidLen, uint32_t *critical,
                                                   uint8_t *value, uint32_t *valueLen);

/* ------------------------------------------------------------------ */
/* Certificates: setters                                               */
/* ------------------------------------------------------------------ */

/* RyCert_SetCertAttributeInt: CERT_VERSION, CERT_VALIDFROM, CERT_VALIDTO
 * (validity written as UTCTime, or GeneralizedTime from 2050 on).
 * RYCERT_AttributeNotSupportErr for another identifier. */
RYCERT_API uint32_t RyCert_SetCertAttributeInt(CertCtx *ctx, int32_t id, uint32_t value);
/* RyCert_SetCertAttributeChar: stores a copy of length bytes under a
 * char identifier [S]. Name components are appended in call order; the
 * other fields are replaced, except: once-only extensions (63, 83, 85,
 * 127, and 117/118 which share basicConstraints) give
 * RYCERT_AttributeAlreadySet when already present, context unchanged;
 * CERTEX_CERTPOLICYID after the first call and CERTEX_CERTPOLICY_CPS
 * without a policy do nothing and return RYCERT_OK; the values of 117 and
 * 118 are not used. Statuses: RYCERT_InvalidLengthErr (no log) for a
 * length below 1, checked first; RYCERT_AttributeNotSupportErr for
 * another identifier; RYCERT_MemoryErr, context unchanged. Logs
 * "======>Set <name>". */
RYCERT_API uint32_t RyCert_SetCertAttributeChar(CertCtx *ctx, uint32_t id, const uint8_t *value,
                                                int32_t length);
/* RyCert_SetCertAttributePrivate: appends a private extension: OID content
 * octets, criticality (written as BOOLEAN TRUE when not 0) and the
 * extnValue content (the extension's own DER), written after the standard
 * extensions in call order. RYCERT_InvalidLengthErr for an OID or value
 * length below 1; RYCERT_MemoryErr, context unchanged. */
RYCERT_API uint32_t RyCert_SetCertAttributePrivate(CertCtx *ctx, const uint8_t *oid,
                                                   int32_t oidLen, uint8_t critical,
                                                   const uint8_t *value, int32_t valueLen);

/* ------------------------------------------------------------------ */
/* Certificates: encoding and signing                                  */
/* ------------------------------------------------------------------ */

/* RyCert_SetCertSignFunc: installs the signing callback (NULL too) and,
 * when param is not NULL and paramLen >= 1, keeps a copy of the parameter
 * bytes for it. RYCERT_MemoryErr when the copy fails. */
RYCERT_API uint32_t RyCert_SetCertSignFunc(CertCtx *ctx, RyCertSignFunc fn, const uint8_t *param,
                                           int32_t paramLen);
/* RyCert_EncodeCert: the signed certificate DER: *outLen gets its length
 * and, when out is not NULL, the bytes are copied there. The first
 * successful call builds the TBSCertificate, calls the callback twice
 * (length, then signature, see RyCertSignFunc) and keeps the result;
 * later calls (and calls on a decoded context) return the kept bytes
 * without signing again, whatever was set in between. Without a callback
 * it fails with RYCERT_MemoryErr ("------>RyCertSignFunc is NULL") before
 * any call. Other statuses: the callback's own nonzero value,
 * RYCERT_InvalidSignatureLenErr, RYCERT_InvalidLengthErr (0-byte
 * signature), RYCERT_ExtensionContentErr (a policy without a CPS
 * qualifier, an extended key usage without a purpose), the writers'
 * statuses, RYCERT_MemoryErr. A failed encode keeps nothing and can be
 * retried. What is written is DER: version omitted for v1, BOOLEAN TRUE
 * as FF, cA FALSE omitted, minimal INTEGERs, GeneralizedTime from 2050. */
RYCERT_API uint32_t RyCert_EncodeCert(CertCtx *ctx, uint8_t *out, uint32_t *outLen);
/* Hx_Cert_EncodeValidity: SEQUENCE { notBefore, notAfter } of the
 * context into a new encoded record *out (UTCTime where the setter chose
 * it and the time is before 2050, else GeneralizedTime; never-set times
 * are GeneralizedTime 0). Logs "======>Hx_Cert_EncodeValidity". */
RYCERT_API uint32_t Hx_Cert_EncodeValidity(CertCtx *ctx, AnyBuf **out);
/* Hx_Cert_EncodeExtensions: the [3] EXPLICIT Extensions element into a new
 * encoded record *out, extensions in the order AKI, SKI, policies,
 * issuerAltName, subjectAltName, basicConstraints, keyUsage, extKeyUsage,
 * CRL distribution points, private ones. Without extension attributes
 * RYCERT_OK and *out untouched. RYCERT_ExtensionContentErr for a policy
 * without a CPS qualifier ("------>NO CPS INFO") or an extended key usage
 * without a purpose ("------>NO EXTKEYUSAGE PURPOSE"). */
RYCERT_API uint32_t Hx_Cert_EncodeExtensions(CertCtx *ctx, AnyBuf **out);
/* The single extension encoders: one Extension SEQUENCE of their type
 * into a new encoded record *out, built from the context as the setters
 * filled it (whether or not the extension is marked present);
 * Hx_Cert_EncodeExtension_Private gives a chain of one Extension per
 * private extension (*out NULL when there is none). Statuses as
 * Hx_Cert_EncodeExtensions. */
RYCERT_API uint32_t Hx_Cert_EncodeExtension_AuthorityKeyIdentifyer(CertCtx *ctx, AnyBuf **out);
RYCERT_API uint32_t Hx_Cert_EncodeExtension_SubjectKeyIdentifier(CertCtx *ctx, AnyBuf **out);
RYCERT_API uint32_t Hx_Cert_EncodeExtension_CertificatePolicies(CertCtx *ctx, AnyBuf **out);
RYCERT_API uint32_t Hx_Cert_EncodeExtension_IssuerAltName(CertCtx *ctx, AnyBuf **out);
RYCERT_API uint32_t Hx_Cert_EncodeExtension_SubjectAltName(CertCtx *ctx, AnyBuf **out);
RYCERT_API uint32_t Hx_Cert_EncodeExtension_BasicConstraint(CertCtx *ctx, AnyBuf **out);
RYCERT_API uint32_t Hx_Cert_EncodeExtension_KeyUsage(CertCtx *ctx, AnyBuf **out);
RYCERT_API uint32_t Hx_Cert_EncodeExtension_ExtKeyUsage(CertCtx *ctx, AnyBuf **out);
RYCERT_API uint32_t Hx_Cert_EncodeExtension_CrlDistributePoint(CertCtx *ctx, AnyBuf **out);
RYCERT_API uint32_t Hx_Cert_EncodeExtension_Private(CertCtx *ctx, AnyBuf **out);

/* ------------------------------------------------------------------ */
/* CRLs (RFC 5280 CertificateList)                                     */
/*                                                                     */
/* One context type serves decoding and building. Char queries follow  */
/* the two-call pattern through *length; Int queries write *value.     */
/* Queries of a value the CRL does not hold return RYCERT_OK without   */
/* writing (issuer components, the reason, the version of a v1 CRL,    */
/* nextUpdate when absent): preset the output to detect absence.       */
/* ------------------------------------------------------------------ */

/* CRL attribute identifiers: Char (bytes) unless marked Int. */
#define CRL_TBS_CERTLIST                   1001u /* query: DER of TBSCertList */
#define CRL_OUTER_SIGNATUREALGORITHM       1002u /* OID content octets */
#define CRL_CA_SIGNATURE                   1003u /* signature value bytes */
#define CRL_VERSION                        1004u /* Int: 1 for a v2 CRL */
#define CRL_INNER_SIGNATUREALGORITHM       1005u /* OID content octets */
#define CRL_ISSUER_DN                      1006u /* query: issuer text as Hx_GetDN */
#define CRL_ISSUER_COUNTRYNAME             1007u
#define CRL_ISSUER_STATEORPROVINCENAME     1008u
#define CRL_ISSUER_LOCALITYNAME            1009u
#define CRL_ISSUER_ORGANIZATIONNAME        1010u
#define CRL_ISSUER_ORGANIZATIONALUNITNAME  1011u
#define CRL_ISSUER_COMMONNAME              1012u
#define CRL_ISSUER_EMAIL                   1013u /* query only */
#define CRL_ISSUER_POSTALADDRESS           1014u
#define CRL_ISSUER_POSTALCODE              1015u
#define CRL_ISSUER_TELEPHONE               1016u
#define CRL_THISUPDATE                     1027u /* Int: integer time */
#define CRL_NEXTUPDATE                     1028u /* Int: integer time */
#define CRL_CERT_SERIALNUMBER              1029u /* entry serial (magnitude) */
#define CRL_CERT_REVOCATIONDATE            1030u /* Int: entry date */
#define CRL_CERT_NEXT                      1031u /* query: cursor to the next entry */
#define CRLEX_CRLREASON                    1063u /* entry reason: ENUMERATED content */

/* One revoked entry as the entry encoder reads it (opaque). */
typedef struct RevokedEntry RevokedEntry;

/* RyCert_CreateCrlEncodeCtx / RyCert_CreateCrlDecodeCtx: a new empty
 * context in *ctx, released with RyCert_DestroyCrl*Ctx.
 * RYCERT_MemoryErr when it cannot be allocated (or ctx is NULL). */
RYCERT_API uint32_t RyCert_CreateCrlEncodeCtx(CrlCtx **ctx);
RYCERT_API uint32_t RyCert_CreateCrlDecodeCtx(CrlCtx **ctx);
/* RyCert_DestroyCrlEncodeCtx / RyCert_DestroyCrlDecodeCtx: releases the
 * context and everything it holds; NULL is accepted. Returns RYCERT_OK. */
RYCERT_API uint32_t RyCert_DestroyCrlEncodeCtx(CrlCtx *ctx);
RYCERT_API uint32_t RyCert_DestroyCrlDecodeCtx(CrlCtx *ctx);

/* RyCert_DecodeCrl: decodes the CertificateList at der. Its length is the
 * one its outer header gives; bytes after it are ignored, and a derLen
 * shorter than it is refused with RYCERT_InvalidLengthErr. v1 CRLs (no
 * version), CRLs without nextUpdate or without revokedCertificates are
 * read; thisUpdate, nextUpdate and revocation dates may be UTCTime or
 * GeneralizedTime. A missing element gives RYCERT_CrlNotEndErr, a wrong
 * one RYCERT_TagNotMatchErr or the failing reader's status. The context
 * keeps its own copy; the entry cursor stands on the first entry. On
 * failure the context is left as it was. */
RYCERT_API uint32_t RyCert_DecodeCrl(CrlCtx *ctx, const uint8_t *der, uint32_t derLen);
/* Hx_CRL_DecodeTBS: decodes a TBSCertList element (encoded record) into
 * the context's TBS fields, entries included. */
RYCERT_API uint32_t Hx_CRL_DecodeTBS(CrlCtx *ctx, const AnyBuf *tbs);
/* Hx_CRL_DecodeRevokedCerts: decodes a revokedCertificates element
 * (encoded record) into the context's entries; cursor on the first. */
RYCERT_API uint32_t Hx_CRL_DecodeRevokedCerts(const AnyBuf *revoked, CrlCtx *ctx);

/* RyCert_GetCrlAttributeChar: *length gets the attribute's length and,
 * when buffer is not NULL, buffer gets its bytes (size it with a first,
 * NULL-buffer call). CRL_CERT_SERIALNUMBER, CRLEX_CRLREASON and
 * CRL_CERT_REVOCATIONDATE read the entry under the cursor; CRL_CERT_NEXT
 * moves the cursor on (buffer and length unused); past the last entry
 * CRL_CERT_SERIALNUMBER gives length 0. RYCERT_AttributeNotSupportErr for
 * an identifier that is not a Char query. */
RYCERT_API uint32_t RyCert_GetCrlAttributeChar(CrlCtx *ctx, uint32_t id, uint8_t *buffer,
                                               uint32_t *length);
/* RyCert_GetCrlAttributeInt: CRL_VERSION, CRL_THISUPDATE, CRL_NEXTUPDATE,
 * CRL_CERT_REVOCATIONDATE into *value; RYCERT_AttributeNotSupportErr for
 * any other identifier. */
RYCERT_API uint32_t RyCert_GetCrlAttributeInt(CrlCtx *ctx, uint32_t id, uint32_t *value);

/* RyCert_SetCrlAttributeInt: CRL_VERSION (0 for v1, written without the
 * field; 1 for v2), CRL_THISUPDATE, CRL_NEXTUPDATE (integer times, written
 * as UTCTime, from 2050 as GeneralizedTime) and CRL_CERT_REVOCATIONDATE
 * (the last added entry). RYCERT_AttributeNotSupportErr for other
 * identifiers and for a revocation date before any entry. */
RYCERT_API uint32_t RyCert_SetCrlAttributeInt(CrlCtx *ctx, uint32_t id, uint32_t value);
/* RyCert_SetCrlAttributeChar: stores a copy of length bytes.
 * CRL_CERT_SERIALNUMBER appends an entry (big-endian magnitude);
 * CRLEX_CRLREASON sets the last entry's reason (ENUMERATED content, one
 * octet with the CRLReason value); issuer components are appended in call
 * order. RYCERT_InvalidLengthErr for length < 1 (no log line),
 * RYCERT_AttributeNotSupportErr for identifiers that cannot be set
 * (CRL_TBS_CERTLIST, CRL_ISSUER_DN, CRL_ISSUER_EMAIL, Int identifiers) and
 * for a reason before any entry, RYCERT_MemoryErr when the copy fails; the
 * context is then unchanged. */
RYCERT_API uint32_t RyCert_SetCrlAttributeChar(CrlCtx *ctx, uint32_t id, const uint8_t *value,
                                               int32_t length);
/* RyCert_SetCrlSignFunc: the callback of RyCert_EncodeCrl (NULL too) and
 * a copy of its parameter bytes when param is not NULL and paramLen >= 1.
 * RYCERT_MemoryErr when the copy fails. */
RYCERT_API uint32_t RyCert_SetCrlSignFunc(CrlCtx *ctx, RyCertSignFunc fn, const uint8_t *param,
                                          int32_t paramLen);
/* RyCert_EncodeCrl: builds the TBSCertList, has the callback sign it
 * (length, then signature, see RyCertSignFunc) and keeps the
 * CertificateList; every later call, and a call on a decoded context,
 * answers with the kept bytes without signing again. *length gets its
 * length; buffer, when not NULL, its bytes. Without a callback it fails
 * with RYCERT_MemoryErr before any call; a signature of 10240 bytes or
 * more gives RYCERT_InvalidSignatureLenErr; a callback's own failure
 * status is returned unchanged. */
RYCERT_API uint32_t RyCert_EncodeCrl(CrlCtx *ctx, uint8_t *buffer, uint32_t *length);
/* Hx_CRL_EncodeRevokedCRL: the revokedCertificates SEQUENCE of the
 * entries added so far (30 00 when none) in a new record *out. */
RYCERT_API uint32_t Hx_CRL_EncodeRevokedCRL(CrlCtx *ctx, AnyBuf **out);
/* Hx_CRL_WriteEntryExtension: the crlEntryExtensions of an entry with a
 * reason code, SEQUENCE { SEQUENCE { OID 2.5.29.21, OCTET STRING {
 * ENUMERATED } } }, in a new record *out; RYCERT_InvalidLengthErr for an
 * entry without a reason. */
RYCERT_API uint32_t Hx_CRL_WriteEntryExtension(const RevokedEntry *entry, AnyBuf **out);

/* ------------------------------------------------------------------ */
/* Certification requests (RFC 2986 CertificationRequest)              */
/* ------------------------------------------------------------------ */

/* Request attribute identifiers: Char (bytes) unless marked Int. */
#define CSR_TBS_CSR                         2001u /* query: DER of CertificationRequestInfo */
#define CSR_OUTER_SIGNATUREALGORITHM        2002u /* OID content octets */
#define CSR_SELF_SIGNATURE                  2003u /* signature value bytes */
#define CSR_VERSION                         2004u /* Int: 0 for PKCS#10 v1 */
#define CSR_SUBJECT_COUNTRYNAME             2006u
#define CSR_SUBJECT_STATEORPROVINCENAME     2007u
#define CSR_SUBJECT_LOCALITYNAME            2008u
#define CSR_SUBJECT_ORGANIZATIONNAME        2009u
#define CSR_SUBJECT_ORGANIZATIONALUNITNAME  2010u
#define CSR_SUBJECT_COMMONNAME              2011u
#define CSR_SUBJECT_EMAIL                   2012u
#define CSR_SUBJECT_POSTALADDRESS           2013u
#define CSR_SUBJECT_POSTALCODE              2014u
#define CSR_SUBJECT_TELEPHONE               2015u
#define CSR_PUBLICKEY_ALGORITHM             2026u /* decoded: OID element; set: OID content */
#define CSR_SUBJECTPUBLICKEYINFO            2027u /* subjectPublicKey bits (RSAPublicKey DER) */

/* RyCert_CreateCsrEncodeCtx / RyCert_CreateCsrDecodeCtx: a new empty
 * context in *ctx; RYCERT_MemoryErr when it cannot be allocated. */
RYCERT_API uint32_t RyCert_CreateCsrEncodeCtx(CsrCtx **ctx);
RYCERT_API uint32_t RyCert_CreateCsrDecodeCtx(CsrCtx **ctx);
/* RyCert_DestroyCsrEncodeCtx / RyCert_DestroyCsrDecodeCtx: releases the
 * context and everything it holds; NULL is accepted. */
RYCERT_API uint32_t RyCert_DestroyCsrEncodeCtx(CsrCtx *ctx);
RYCERT_API uint32_t RyCert_DestroyCsrDecodeCtx(CsrCtx *ctx);

/* RyCert_DecodeCsr: decodes the CertificationRequest at der (its length
 * from its outer header; bytes after it ignored, a shorter derLen refused
 * with RYCERT_InvalidLengthErr). The caller's bytes are only read. A
 * missing element gives RYCERT_CsrNotEndErr. On failure the context is
 * left as it was. */
RYCERT_API uint32_t RyCert_DecodeCsr(CsrCtx *ctx, const uint8_t *der, uint32_t derLen);
/* Hx_CSR_DecodeTBS: decodes a CertificationRequestInfo element. */
RYCERT_API uint32_t Hx_CSR_DecodeTBS(CsrCtx *ctx, const AnyBuf *tbs);
/* Hx_CSR_DecodeAttributes: decodes the attributes [0] element into the
 * context's attribute list (the first value of each attribute). */
RYCERT_API uint32_t Hx_CSR_DecodeAttributes(const AnyBuf *attrs, CsrCtx *ctx);

/* RyCert_GetCsrAttributeChar: the two-call pattern through *length; a
 * subject component the request lacks returns RYCERT_OK without writing.
 * RYCERT_AttributeNotSupportErr for CSR_VERSION and unknown identifiers. */
RYCERT_API uint32_t RyCert_GetCsrAttributeChar(CsrCtx *ctx, uint32_t id, uint8_t *buffer,
                                               uint32_t *length);
/* RyCert_GetCsrAttributeInt: CSR_VERSION into *value. */
RYCERT_API uint32_t RyCert_GetCsrAttributeInt(CsrCtx *ctx, uint32_t id, uint32_t *value);
/* RyCert_GetCsrAttributePrivate: request attribute *index (1-based): its
 * type (OID content octets) and value (one complete DER element), lengths
 * always, bytes when the buffer is not NULL; *index unchanged. An index of
 * 0 or past the last sets *index to the number of attributes and writes
 * nothing else. */
RYCERT_API uint32_t RyCert_GetCsrAttributePrivate(CsrCtx *ctx, uint32_t *index,
                                                  uint8_t *typeBuffer, uint32_t *typeLength,
                                                  uint8_t *valueBuffer, uint32_t *valueLength);

/* RyCert_SetCsrAttributeInt: CSR_VERSION only. */
RYCERT_API uint32_t RyCert_SetCsrAttributeInt(CsrCtx *ctx, uint32_t id, uint32_t value);
/* RyCert_SetCsrAttributeChar: stores a copy of length bytes; subject
 * components are appended in call order. RYCERT_MemoryErr for length < 1
 * (no log line) or when the copy fails, RYCERT_AttributeNotSupportErr for
 * identifiers that cannot be set. */
RYCERT_API uint32_t RyCert_SetCsrAttributeChar(CsrCtx *ctx, uint32_t id, const uint8_t *value,
                                               int32_t length);
/* RyCert_SetCsrAttributePrivate: appends a request attribute: type is the
 * OID's content octets, value one complete DER element (the attribute's
 * only value). RYCERT_InvalidLengthErr for a length below 1 or a value
 * that is not exactly one element; the context is then unchanged. */
RYCERT_API uint32_t RyCert_SetCsrAttributePrivate(CsrCtx *ctx, const uint8_t *type,
                                                  int32_t typeLen, const uint8_t *value,
                                                  int32_t valueLen);
/* RyCert_SetCsrSignFunc: as RyCert_SetCrlSignFunc. */
RYCERT_API uint32_t RyCert_SetCsrSignFunc(CsrCtx *ctx, RyCertSignFunc fn, const uint8_t *param,
                                          int32_t paramLen);
/* RyCert_EncodeCsr: builds CertificationRequestInfo (attributes always
 * present, A0 00 when none, in DER SET OF order), has the callback sign
 * it and keeps the request; later calls answer with the kept bytes.
 * Statuses as RyCert_EncodeCrl. */
RYCERT_API uint32_t RyCert_EncodeCsr(CsrCtx *ctx, uint8_t *buffer, uint32_t *length);
/* Hx_Csr_EncodeAttributes: the attributes [0] element in a new record. */
RYCERT_API uint32_t Hx_Csr_EncodeAttributes(CsrCtx *ctx, AnyBuf **out);

/* ------------------------------------------------------------------ */
/* Token operations (PKCS#11)                                          */
/*                                                                     */
/* Every primitive runs in the PKCS#11 module the library is linked    */
/* with. Ry_Initialize lists up to four slots holding a token; each     */
/* operation then opens its own sessions (read-only, no login) on the  */
/* first and, where it needs one, the second listed slot, and closes   */
/* them before it returns. A status that is neither 0 nor a RYCERT_*   */
/* code is the module's CK_RV, passed on unchanged. Token keys are     */
/* found by label, "RY_QLM_RSA_PRIKEY<n>" / "RY_QLM_RSA_PUBKEY<n>" for */
/* key index n (1..100) on the second slot; a key index with no such   */
/* object gives CKR_KEY_HANDLE_INVALID (0x60). Key index 0 means the   */
/* key comes as PKCS#1 DER (2048 bits at most). Failures are logged as */
/* "---->" followed by the failing step. Lengths marked in/out hold    */
/* the capacity on entry and receive the length, and are written only */
/* on success.                                                         */
/* ------------------------------------------------------------------ */

/* Ry_SignData and Ry_VerifyData take the SIGALG_* codes above: with
 * 201 to 206 the module hashes the data and builds the DigestInfo; with
 * SIGALG_RSA the data is padded (PKCS#1 v1.5, block type 1) and signed as
 * given. Any other code is refused with RYCERT_InvalidSignatureAlgErr. */

/* Envelope algorithm codes (Ry_EncodeEnvelope; any other code is 1). */
#define ENVALG_IDEA 1u /* CKM_IDEA_CBC_PAD */
#define ENVALG_DES  2u /* CKM_DES_CBC_PAD */
#define ENVALG_DES3 3u /* CKM_DES3_CBC_PAD */

/* Password-based encryption codes (Ry_EncodePBE, Ry_DecodePBE; any other
 * code is 100). */
#define PBEALG_MD2_DES 100u /* CKM_PBE_MD2_DES_CBC */
#define PBEALG_MD5_DES 101u /* CKM_PBE_MD5_DES_CBC */

/* Ry_Initialize: C_Initialize, then C_GetSlotList(CK_TRUE) with room for
 * four slots. 0 on success (also when no slot holds a token); otherwise
 * the module's CK_RV (CKR_CRYPTOKI_ALREADY_INITIALIZED when called twice,
 * CKR_BUFFER_TOO_SMALL for more than four tokens). The module is told
 * that callers may use it from several threads (CKF_OS_LOCKING_OK). */
RYCERT_API uint32_t Ry_Initialize(void);
/* Ry_Finalize: C_Finalize; 0 or the module's CK_RV. */
RYCERT_API uint32_t Ry_Finalize(void);

/* Ry_SignData: signs data with the private key `keyDer` (PKCS#1
 * RSAPrivateKey DER, key index 0) or the token key of keyIndex.
 * signatureLen in/out; with signature NULL only the length is set.
 * Statuses: RYCERT_MemoryErr for a NULL pointer, RYCERT_InvalidLengthErr
 * for a public exponent over four bytes, the key decoder's statuses, the
 * module's CK_RV (CKR_BUFFER_TOO_SMALL when the capacity is short). */
RYCERT_API uint32_t Ry_SignData(int32_t keyIndex, const uint8_t *keyDer, uint32_t keyDerLen,
                                const uint8_t *data, uint32_t dataLen, uint8_t *signature,
                                uint32_t *signatureLen, uint32_t algorithm);
/* Ry_VerifyData: 0 when `signature` is a valid signature over data under
 * the public key `keyDer` (PKCS#1 RSAPublicKey DER, key index 0) or the
 * token key of keyIndex; a wrong signature gives the module's CK_RV
 * (CKR_SIGNATURE_INVALID, CKR_SIGNATURE_LEN_RANGE). */
RYCERT_API uint32_t Ry_VerifyData(int32_t keyIndex, const uint8_t *keyDer, uint32_t keyDerLen,
                                  const uint8_t *data, uint32_t dataLen,
                                  const uint8_t *signature, uint32_t signatureLen,
                                  uint32_t algorithm);

/* Ry_GenKeypair: the token generates an RSA key pair of modulusBits
 * (at most 2048; exponent 65537) in the first session (slotChoice 0) or
 * the second, reads it back, destroys it and returns both keys as PKCS#1
 * DER under the two-call form of Ry_Encode_PublicKey and
 * Ry_Encode_PrivateKey (NULL outputs: lengths only). Every call makes a
 * new pair. `reserved` is not read. */
RYCERT_API uint32_t Ry_GenKeypair(uint32_t slotChoice, uint32_t modulusBits, uint32_t reserved,
                                  uint8_t *publicKeyDer, uint32_t *publicKeyDerLen,
                                  uint8_t *privateKeyDer, uint32_t *privateKeyDerLen);
/* Ry_PutKeypair: hands a private key to the token of the second slot
 * under keyIndex (1..100, RYCERT_KeyIndexRangeErr otherwise). keyFormat 1:
 * privateKey is already wrapped as Hx_PKCS1to8KEY writes it; any other
 * value: PKCS#1 RSAPrivateKey DER. A wrapped key over 2048 bytes gives
 * RYCERT_InvalidLengthErr. */
RYCERT_API uint32_t Ry_PutKeypair(int32_t keyIndex, uint32_t keyFormat, uint32_t reserved1,
                                  uint32_t reserved2, const uint8_t *privateKey,
                                  uint32_t privateKeyLen);

/* Ry_VerifyCert: checks a certificate against its issuer's certificate:
 * issuer DN text equal to the issuer's subject DN text
 * (RYCERT_DnNotEqualErr), validity within the issuer's
 * (RYCERT_TimeOutRangeErr), a known RSA signature algorithm
 * (RYCERT_InvalidSignatureAlgErr), and the signature (Ry_VerifyData).
 * RYCERT_CertNotEndErr for a NULL certificate; decoder and query
 * statuses are passed on. No check of the current time, extensions or
 * revocation. */
RYCERT_API uint32_t Ry_VerifyCert(const uint8_t *issuerCert, uint32_t issuerCertLen,
                                  const uint8_t *cert, uint32_t certLen);
/* Ry_VerifyCrl: as Ry_VerifyCert for a CRL, without the time check. */
RYCERT_API uint32_t Ry_VerifyCrl(const uint8_t *issuerCert, uint32_t issuerCertLen,
                                 const uint8_t *crl, uint32_t crlLen);
/* Ry_VerifyCsr: checks a PKCS#10 request's signature with its own key. */
RYCERT_API uint32_t Ry_VerifyCsr(const uint8_t *csr, uint32_t csrLen);
/* Ry_VerifySignatureByCert: Ry_VerifyData with the certificate's public
 * key and the signature algorithm code `algorithm`. */
RYCERT_API uint32_t Ry_VerifySignatureByCert(const uint8_t *cert, uint32_t certLen,
                                             const uint8_t *data, uint32_t dataLen,
                                             const uint8_t *signature, uint32_t signatureLen,
                                             uint32_t algorithm);

/* Ry_EncData: raw RSA (CKM_RSA_X_509, no padding) of data with the public
 * key `keyDer` (key index 0) or the token key of keyIndex; encryptedLen
 * in/out. */
RYCERT_API uint32_t Ry_EncData(int32_t keyIndex, const uint8_t *keyDer, uint32_t keyDerLen,
                               const uint8_t *data, uint32_t dataLen, uint8_t *encrypted,
                               uint32_t *encryptedLen);
/* Ry_EncodeEnvelope: seals data for the recipient's public key (`keyDer`
 * or the token key of keyIndex): a fresh secret key of `algorithm`
 * encrypts the data (CBC with padding); the recipient's key encrypts the
 * algorithm code and the secret key (PKCS#1 v1.5). The envelope is the
 * RSA block (as long as the modulus) followed by the ciphertext. With
 * envelope NULL only *envelopeLen is set; else it is in/out, and a
 * capacity below the RSA block gives RYCERT_InvalidLengthErr. */
RYCERT_API uint32_t Ry_EncodeEnvelope(int32_t keyIndex, const uint8_t *keyDer, uint32_t keyDerLen,
                                      const uint8_t *data, uint32_t dataLen, uint8_t *envelope,
                                      uint32_t *envelopeLen, uint32_t algorithm);
/* Ry_DecodeEnvelop: opens an envelope with the recipient's private key
 * (`keyDer` or the token key of keyIndex). With data NULL only *dataLen
 * is set (an upper bound); else it is in/out. RYCERT_InvalidLengthErr for
 * an envelope shorter than its RSA block, RYCERT_CsrNotEndErr (112) for
 * an RSA block naming no envelope algorithm. */
RYCERT_API uint32_t Ry_DecodeEnvelop(int32_t keyIndex, const uint8_t *keyDer, uint32_t keyDerLen,
                                     const uint8_t *envelope, uint32_t envelopeLen, uint8_t *data,
                                     uint32_t *dataLen);

/* Ry_EncodePBE / Ry_DecodePBE: PKCS#5 v1 password-based DES-CBC with
 * padding; the key and IV are derived by the module from password, salt
 * and iterations. The output is the bare ciphertext (or plaintext):
 * decrypt with the same password, salt, iterations and algorithm.
 * outputLen in/out; with output NULL only the length is set. */
RYCERT_API uint32_t Ry_EncodePBE(const uint8_t *password, uint32_t passwordLen,
                                 const uint8_t *salt, uint32_t saltLen, uint32_t iterations,
                                 const uint8_t *input, uint32_t inputLen, uint8_t *output,
                                 uint32_t *outputLen, uint32_t algorithm);
RYCERT_API uint32_t Ry_DecodePBE(const uint8_t *password, uint32_t passwordLen,
                                 const uint8_t *salt, uint32_t saltLen, uint32_t iterations,
                                 const uint8_t *input, uint32_t inputLen, uint8_t *output,
                                 uint32_t *outputLen, uint32_t algorithm);
/* Ry_GenerateMac: an 8-byte DES MAC (CKM_DES_MAC_GENERAL) of data under a
 * key derived from the password (CKM_PBE_MD2_DES_CBC, no salt, one
 * iteration). macLen in/out; with mac NULL only the length is set.
 * `reserved` is not read. */
RYCERT_API uint32_t Ry_GenerateMac(const uint8_t *password, uint32_t passwordLen,
                                   const uint8_t *data, uint32_t dataLen, uint8_t *mac,
                                   uint32_t *macLen, uint32_t reserved);
/* Ry_VerifyMac: 0 when mac is the MAC Ry_GenerateMac makes; otherwise the
 * module's CK_RV (CKR_SIGNATURE_INVALID). */
RYCERT_API uint32_t Ry_VerifyMac(const uint8_t *password, uint32_t passwordLen,
                                 const uint8_t *data, uint32_t dataLen, const uint8_t *mac,
                                 uint32_t macLen);

#ifdef __cplusplus
}
#endif

#endif /* RYCERT2_H */
