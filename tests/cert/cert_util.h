// What the certificate tests share: a context released at scope exit, the
// queries as callers make them, decoding from an exact-size block and
// encoding in two calls.
#pragma once

#include <ostream>

#include "x509_peer.h"

namespace rytest {

struct Ctx {
  CertCtx *p = nullptr;
  Ctx() { EXPECT_EQ(RyCert_CreateCertEncodeCtx(&p), RYCERT_OK); }
  ~Ctx() { RyCert_DestroyCertEncodeCtx(p); }
  Ctx(const Ctx &) = delete;
  Ctx &operator=(const Ctx &) = delete;
  operator CertCtx *() const { return p; }
};

// A char attribute read as callers read it: the length, then the bytes into
// a block of exactly that size. A refused query answers empty; its status
// goes to `rcOut`, or is a failure when `rcOut` is NULL.
inline Bytes getChar(CertCtx *c, int32_t id, uint32_t *rcOut = nullptr) {
  uint32_t n = 0xDEAD;
  const uint32_t rc = RyCert_GetCertAttributeChar(c, id, nullptr, &n);
  if (rcOut != nullptr) {
    *rcOut = rc;
  } else {
    EXPECT_EQ(rc, RYCERT_OK) << "id " << id;
  }
  if (rc != RYCERT_OK || n == 0) {
    return {};
  }
  ExactBlock b{Bytes(n)};
  uint32_t again = 0;
  EXPECT_EQ(RyCert_GetCertAttributeChar(c, id, b.data(), &again), RYCERT_OK) << "id " << id;
  EXPECT_EQ(again, n) << "id " << id;
  return Bytes(b.data(), b.data() + std::min(n, again));
}

inline uint32_t getInt(CertCtx *c, int32_t id) {
  uint32_t v = 0xDEADBEEF;
  EXPECT_EQ(RyCert_GetCertAttributeInt(c, id, &v), RYCERT_OK) << "id " << id;
  return v;
}

inline uint32_t setChar(CertCtx *c, uint32_t id, const Bytes &v) {
  return RyCert_SetCertAttributeChar(c, id, v.data(), int32_t(v.size()));
}

// A private extension as the query gives it: OID, the criticality byte as
// it stands, value.
struct Priv {
  Bytes oid;
  uint32_t critical = 0;
  Bytes value;
  bool operator==(const Priv &) const = default;
};
inline std::ostream &operator<<(std::ostream &os, const Priv &e) {
  return os << toHex(e.oid) << " critical " << e.critical << " " << toHex(e.value);
}

// Every private extension, by index from 1; the index must come back as given.
inline std::vector<Priv> privates(CertCtx *c) {
  uint32_t n = 0, oidLen = 0, crit = 0, valLen = 0;
  EXPECT_EQ(RyCert_GetCertAttributePrivate(c, &n, nullptr, &oidLen, &crit, nullptr, &valLen),
            RYCERT_OK);
  std::vector<Priv> out;
  for (uint32_t i = 1; i <= n; ++i) {
    uint32_t idx = i;
    EXPECT_EQ(RyCert_GetCertAttributePrivate(c, &idx, nullptr, &oidLen, &crit, nullptr, &valLen),
              RYCERT_OK);
    Priv p{Bytes(oidLen), 0, Bytes(valLen)};
    EXPECT_EQ(RyCert_GetCertAttributePrivate(c, &idx, p.oid.data(), &oidLen, &p.critical,
                                             p.value.data(), &valLen),
              RYCERT_OK);
    EXPECT_EQ(idx, i) << "index kept";
    out.push_back(p);
  }
  return out;
}

inline uint32_t decode(CertCtx *c, const Bytes &der) {
  ExactBlock block(der);
  return RyCert_DecodeCert(c, block.data(), uint32_t(block.size()));
}

// The length call, then the bytes; both must give the same length.
inline uint32_t encode(CertCtx *c, Bytes &out) {
  uint32_t len = 0;
  if (const uint32_t rc = RyCert_EncodeCert(c, nullptr, &len); rc != RYCERT_OK) {
    return rc;
  }
  out.assign(len, 0);
  uint32_t len2 = 0;
  const uint32_t rc = RyCert_EncodeCert(c, out.data(), &len2);
  EXPECT_EQ(len2, len);
  return rc;
}

}  // namespace rytest
