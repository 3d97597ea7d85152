/* The public header is plain C: this file must compile as C11 and run. */
#include <stddef.h>
#include <stdio.h>

#include "rycert2.h"

int main(void) {
  /* Record layout the callers rely on (64-bit Linux). */
  if (sizeof(AnyBuf) != 40 || offsetof(AnyBuf, length) != 8 || offsetof(AnyBuf, tag) != 20 ||
      offsetof(AnyBuf, next) != 24 || sizeof(OidBuf) != 48 || sizeof(RyRsaPublicKey) != 512 ||
      sizeof(RyRsaPrivateKey) != 1408 || offsetof(RyRsaPrivateKey, prime1) != 768 ||
      offsetof(RyRsaPrivateKey, coefficient) != 1280 || offsetof(RyNameNode, type) != 16) {
    fprintf(stderr, "record layout changed\n");
    return 1;
  }
  AnyBuf *rec = NULL;
  if (RyAsn1_WriteInteger(5, &rec) != RYCERT_OK || rec->length != 3) {
    return 1;
  }
  Hx_FreeAnybuf(rec);
  printf("1 passed, 0 failed\n");
  return 0;
}
