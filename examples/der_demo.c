/* der_demo: encodes a small structure with the DER codec, prints it as
 * hex and PEM, then decodes it again and prints what it found. */
#include <stdio.h>
#include <string.h>

#include "rycert2.h"

static void hexdump(const char *label, const uint8_t *p, uint32_t n) {
  printf("%s (%u bytes):", label, n);
  for (uint32_t i = 0; i < n; ++i) {
    printf("%s%02X", i % 16 == 0 ? "\n  " : " ", p[i]);
  }
  printf("\n");
}

int main(void) {
  AnyBuf *version = NULL, *when = NULL, *name = NULL, *seq = NULL, *children = NULL;
  uint32_t st, t = 1893456000u; /* 2030-01-01T00:00:00Z */
  RyNameNode cn;
  RyNameNode *names = &cn;
  static const uint8_t cnOid[] = {0x55, 0x04, 0x03};

  memset(&cn, 0, sizeof cn);
  cn.type.id = RY_DN_COMMONNAME;
  cn.type.oid.data = (uint8_t *)cnOid;
  cn.type.oid.length = sizeof cnOid;
  cn.value.data = (uint8_t *)"Demo CA";
  cn.value.length = 7;
  cn.value.tag = 19;

  if ((st = RyAsn1_WriteInteger(2, &version)) != RYCERT_OK ||
      (st = RyAsn1_WriteUtcTime(&t, &when)) != RYCERT_OK ||
      (st = Hx_EncodeIssuerSuject(&names, &name)) != RYCERT_OK) {
    fprintf(stderr, "encoding failed: %u\n", st);
    return 1;
  }
  version->next = when;
  when->next = name;
  if ((st = RyAsn1_WriteSequence(version, &seq)) != RYCERT_OK) {
    fprintf(stderr, "RyAsn1_WriteSequence failed: %u\n", st);
    return 1;
  }
  Hx_FreeAnybuf(version); /* releases when and name too */
  hexdump("SEQUENCE { INTEGER 2, UTCTime, Name }", seq->data, seq->length);

  {
    char pem[512];
    uint32_t pemLen = 0;
    if (DER2PEM_data_format(seq->data, seq->length, pem, &pemLen, "-----BEGIN DEMO-----",
                            "-----END DEMO-----") == 0) {
      printf("%s", pem);
    }
  }

  if ((st = RyAsn1_ReadSequence(seq, &children)) != RYCERT_OK) {
    fprintf(stderr, "RyAsn1_ReadSequence failed: %u\n", st);
    return 1;
  }
  {
    uint32_t v = 0, back = 0;
    RyNameNode *decoded = NULL;
    AnyBuf text;
    Hx_InitAnybuf(&text);
    if (RyAsn1_ReadInteger(children, &v) != RYCERT_OK ||
        RyAsn1_ReadUtcTime(children->next, &back) != RYCERT_OK ||
        Hx_DecodeIssuerSubject(children->next->next, &decoded) != RYCERT_OK ||
        Hx_GetDN(&text, &decoded) != RYCERT_OK) {
      fprintf(stderr, "decoding failed\n");
      return 1;
    }
    printf("decoded: version %u, time %u (%s), name %.*s\n", v, back,
           back == t ? "same" : "DIFFERENT", (int)text.length, (const char *)text.data);
    Hx_ClearAnybuf(&text);
    Hx_FreeName(decoded);
  }
  Hx_FreeAnybuf(children);
  Hx_FreeAnybuf(seq);
  return 0;
}
