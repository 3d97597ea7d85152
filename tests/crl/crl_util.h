// What the CRL tests share: a decoding context and a builder, each released
// at scope exit, with the queries and setters as callers make them.
#pragma once

#include "sign_util.h"

namespace rytest {

struct Ctx {
  CrlCtx *c = nullptr;
  Ctx() { EXPECT_EQ(RyCert_CreateCrlDecodeCtx(&c), RYCERT_OK); }
  ~Ctx() { RyCert_DestroyCrlDecodeCtx(c); }
  Ctx(const Ctx &) = delete;
  Ctx &operator=(const Ctx &) = delete;
  uint32_t decode(const Bytes &der) {
    ExactBlock b(der);
    return RyCert_DecodeCrl(c, b.data(), uint32_t(b.size()));
  }
  // nullopt when the query leaves the length untouched.
  std::optional<Bytes> get(uint32_t id) { return getTwoCalls(RyCert_GetCrlAttributeChar, c, id); }
  std::optional<uint32_t> getInt(uint32_t id) {
    uint32_t v = 0xDEADBEEF;
    EXPECT_EQ(RyCert_GetCrlAttributeInt(c, id, &v), RYCERT_OK) << id;
    return v == 0xDEADBEEF ? std::nullopt : std::optional<uint32_t>(v);
  }
  void next() { EXPECT_EQ(RyCert_GetCrlAttributeChar(c, CRL_CERT_NEXT, nullptr, nullptr), 0u); }
};

struct Builder {
  CrlCtx *c = nullptr;
  Builder() { EXPECT_EQ(RyCert_CreateCrlEncodeCtx(&c), RYCERT_OK); }
  ~Builder() { RyCert_DestroyCrlEncodeCtx(c); }
  Builder(const Builder &) = delete;
  Builder &operator=(const Builder &) = delete;
  uint32_t set(uint32_t id, const Bytes &v) {
    return RyCert_SetCrlAttributeChar(c, id, v.data(), int32_t(v.size()));
  }
  uint32_t set(uint32_t id, const char *v) { return set(id, str(v)); }
  uint32_t setInt(uint32_t id, uint32_t v) { return RyCert_SetCrlAttributeInt(c, id, v); }
  uint32_t encode(Bytes &out) {
    uint32_t len = 0;
    if (uint32_t rc = RyCert_EncodeCrl(c, nullptr, &len); rc != RYCERT_OK) {
      return rc;
    }
    out.assign(len, 0);
    return RyCert_EncodeCrl(c, out.data(), &len);
  }
  // A v2 (version 1) or v1 (version 0) CRL's fields before the entries:
  // sha256WithRSAEncryption, issuer C=<country>, CN=<cn>, both updates.
  void basics(uint32_t version, const char *country, const char *cn, uint32_t thisUpdate,
              uint32_t nextUpdate) {
    EXPECT_EQ(setInt(CRL_VERSION, version), RYCERT_OK);
    EXPECT_EQ(set(CRL_INNER_SIGNATUREALGORITHM, kSha256Rsa), RYCERT_OK);
    EXPECT_EQ(set(CRL_OUTER_SIGNATUREALGORITHM, kSha256Rsa), RYCERT_OK);
    EXPECT_EQ(set(CRL_ISSUER_COUNTRYNAME, country), RYCERT_OK);
    EXPECT_EQ(set(CRL_ISSUER_COMMONNAME, cn), RYCERT_OK);
    EXPECT_EQ(setInt(CRL_THISUPDATE, thisUpdate), RYCERT_OK);
    EXPECT_EQ(setInt(CRL_NEXTUPDATE, nextUpdate), RYCERT_OK);
  }
  // One entry: serial, revocation date, and a reason when given.
  void entry(const Bytes &serial, uint32_t date, std::optional<uint8_t> reason = {}) {
    EXPECT_EQ(set(CRL_CERT_SERIALNUMBER, serial), RYCERT_OK);
    EXPECT_EQ(setInt(CRL_CERT_REVOCATIONDATE, date), RYCERT_OK);
    if (reason) {
      EXPECT_EQ(set(CRLEX_CRLREASON, Bytes{*reason}), RYCERT_OK);
    }
  }
};

}  // namespace rytest
