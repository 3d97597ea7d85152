// CRLs: decoding and walking every revoked entry (serial, date, reason) at
// 1,000 / 100,000 / 1,000,000 entries (every tenth with a reason), against
// Mbed TLS (mbedtls_x509_crl_parse_der and its entry list) and OpenSSL
// (d2i_X509_CRL and its getters); building and encoding such CRLs against
// OpenSSL (TBS encoding, the signature step excluded on both sides).
// Counters: ns_per_entry, and mem_x_der = heap held after decoding, above
// what was held before, over the DER size.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <mbedtls/x509_crl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "rycert2.h"

namespace {

using Bytes = std::vector<uint8_t>;

[[noreturn]] void die(const char *what) {
  std::fprintf(stderr, "bench_crl: %s\n", what);
  std::abort();
}

constexpr uint32_t kThis = 1704067200;  // 2024-01-01T00:00:00Z
const uint8_t kSha256Rsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0B};

// A fixed 256-byte signature: the signing step is not what is measured.
uint32_t fixedSign(const uint8_t *, uint32_t, uint8_t *sig, uint32_t *len, const uint8_t *) {
  if (sig != nullptr) {
    std::memset(sig, 0x5A, 256);
  }
  *len = 256;
  return 0;
}

// Serial of entry i: 16 bytes, as CAs issue them.
void serialOf(size_t i, uint8_t out[16]) {
  uint64_t x = 0x9E3779B97F4A7C15ull * (i + 1);
  for (int k = 0; k < 16; ++k) {
    out[k] = uint8_t(x >> ((k % 8) * 8)) ^ uint8_t(k * 37);
  }
  out[0] = uint8_t(0x10 | (out[0] & 0x3F));
}

// Builds (and, with `out`, encodes) a CRL of n entries with our builder.
uint32_t buildOurs(size_t n, Bytes *out) {
  CrlCtx *c = nullptr;
  if (RyCert_CreateCrlEncodeCtx(&c) != RYCERT_OK) {
    die("create");
  }
  RyCert_SetCrlAttributeInt(c, CRL_VERSION, 1);
  RyCert_SetCrlAttributeChar(c, CRL_INNER_SIGNATUREALGORITHM, kSha256Rsa, 9);
  RyCert_SetCrlAttributeChar(c, CRL_OUTER_SIGNATUREALGORITHM, kSha256Rsa, 9);
  RyCert_SetCrlAttributeChar(c, CRL_ISSUER_COUNTRYNAME, reinterpret_cast<const uint8_t *>("DE"), 2);
  RyCert_SetCrlAttributeChar(c, CRL_ISSUER_COMMONNAME,
                             reinterpret_cast<const uint8_t *>("Bench CA"), 8);
  RyCert_SetCrlAttributeInt(c, CRL_THISUPDATE, kThis);
  RyCert_SetCrlAttributeInt(c, CRL_NEXTUPDATE, kThis + 86400 * 7);
  const uint8_t reason = 1;
  for (size_t i = 0; i < n; ++i) {
    uint8_t serial[16];
    serialOf(i, serial);
    RyCert_SetCrlAttributeChar(c, CRL_CERT_SERIALNUMBER, serial, 16);
    RyCert_SetCrlAttributeInt(c, CRL_CERT_REVOCATIONDATE, kThis - uint32_t(i));
    if (i % 10 == 0) {
      RyCert_SetCrlAttributeChar(c, CRLEX_CRLREASON, &reason, 1);
    }
  }
  RyCert_SetCrlSignFunc(c, fixedSign, nullptr, 0);
  uint32_t len = 0;
  uint32_t rc = RyCert_EncodeCrl(c, nullptr, &len);
  if (rc == RYCERT_OK && out != nullptr) {
    out->resize(len);
    rc = RyCert_EncodeCrl(c, out->data(), &len);
  }
  RyCert_DestroyCrlEncodeCtx(c);
  return rc;
}

const Bytes &crlOf(size_t n) {
  static std::map<size_t, Bytes> cache;
  auto it = cache.find(n);
  if (it == cache.end()) {
    Bytes der;
    if (buildOurs(n, &der) != RYCERT_OK) {
      die("build");
    }
    it = cache.emplace(n, std::move(der)).first;
  }
  return it->second;
}

size_t heapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

void setCounters(benchmark::State &state, size_t n, size_t der, size_t held) {
  state.SetItemsProcessed(int64_t(state.iterations() * n));
  state.counters["ns_per_entry"] = benchmark::Counter(
      double(state.iterations() * n), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["mem_x_der"] = double(held) / double(der);
}

// Decode, then every entry: serial (length, then bytes), date, reason.
void oursDecodeWalk(benchmark::State &state) {
  const size_t n = size_t(state.range(0));
  const Bytes &der = crlOf(n);
  size_t held = 0;
  for (auto _ : state) {
    const size_t before = heapInUse();
    CrlCtx *c = nullptr;
    RyCert_CreateCrlDecodeCtx(&c);
    if (RyCert_DecodeCrl(c, der.data(), uint32_t(der.size())) != RYCERT_OK) {
      die("RyCert_DecodeCrl");
    }
    held = heapInUse() - before;
    size_t walked = 0;
    uint8_t serial[64];
    uint8_t reason[8];
    for (;; ++walked) {
      uint32_t len = 0;
      RyCert_GetCrlAttributeChar(c, CRL_CERT_SERIALNUMBER, nullptr, &len);
      if (len == 0 || len > sizeof serial) {
        break;
      }
      RyCert_GetCrlAttributeChar(c, CRL_CERT_SERIALNUMBER, serial, &len);
      uint32_t date = 0;
      RyCert_GetCrlAttributeInt(c, CRL_CERT_REVOCATIONDATE, &date);
      uint32_t rlen = 0;
      RyCert_GetCrlAttributeChar(c, CRLEX_CRLREASON, nullptr, &rlen);
      if (rlen != 0 && rlen <= sizeof reason) {
        RyCert_GetCrlAttributeChar(c, CRLEX_CRLREASON, reason, &rlen);
      }
      benchmark::DoNotOptimize(date);
      benchmark::DoNotOptimize(serial[0]);
      RyCert_GetCrlAttributeChar(c, CRL_CERT_NEXT, nullptr, nullptr);
    }
    if (walked != n) {
      die("walk");
    }
    RyCert_DestroyCrlDecodeCtx(c);
  }
  setCounters(state, n, der.size(), held);
}

void mbedtlsDecodeWalk(benchmark::State &state) {
  const size_t n = size_t(state.range(0));
  const Bytes &der = crlOf(n);
  size_t held = 0;
  for (auto _ : state) {
    const size_t before = heapInUse();
    mbedtls_x509_crl crl;
    mbedtls_x509_crl_init(&crl);
    if (mbedtls_x509_crl_parse_der(&crl, der.data(), der.size()) != 0) {
      die("mbedtls_x509_crl_parse_der");
    }
    held = heapInUse() - before;
    size_t walked = 0;
    for (const mbedtls_x509_crl_entry *e = &crl.entry; e != nullptr && e->serial.len != 0;
         e = e->next, ++walked) {
      benchmark::DoNotOptimize(e->serial.p[0]);
      benchmark::DoNotOptimize(e->revocation_date.year);
      // Mbed TLS keeps the entry extensions raw: the reason is its last octet.
      if (e->entry_ext.len != 0) {
        benchmark::DoNotOptimize(e->entry_ext.p[e->entry_ext.len - 1]);
      }
    }
    if (walked != n) {
      die("mbedtls walk");
    }
    mbedtls_x509_crl_free(&crl);
  }
  setCounters(state, n, der.size(), held);
}

void opensslDecodeWalk(benchmark::State &state) {
  const size_t n = size_t(state.range(0));
  const Bytes &der = crlOf(n);
  size_t held = 0;
  for (auto _ : state) {
    const size_t before = heapInUse();
    const unsigned char *p = der.data();
    X509_CRL *crl = d2i_X509_CRL(nullptr, &p, long(der.size()));
    if (crl == nullptr) {
      die("d2i_X509_CRL");
    }
    held = heapInUse() - before;
    STACK_OF(X509_REVOKED) *revoked = X509_CRL_get_REVOKED(crl);
    const int count = sk_X509_REVOKED_num(revoked);
    for (int i = 0; i < count; ++i) {
      X509_REVOKED *r = sk_X509_REVOKED_value(revoked, i);
      benchmark::DoNotOptimize(ASN1_STRING_get0_data(X509_REVOKED_get0_serialNumber(r)));
      struct tm tm;
      ASN1_TIME_to_tm(X509_REVOKED_get0_revocationDate(r), &tm);
      benchmark::DoNotOptimize(tm.tm_year);
      auto *reason = static_cast<ASN1_ENUMERATED *>(
          X509_REVOKED_get_ext_d2i(r, NID_crl_reason, nullptr, nullptr));
      if (reason != nullptr) {
        benchmark::DoNotOptimize(ASN1_ENUMERATED_get(reason));
        ASN1_ENUMERATED_free(reason);
      }
    }
    if (size_t(count) != n) {
      die("openssl walk");
    }
    X509_CRL_free(crl);
  }
  setCounters(state, n, der.size(), held);
}

void oursBuildEncode(benchmark::State &state) {
  const size_t n = size_t(state.range(0));
  for (auto _ : state) {
    if (buildOurs(n, nullptr) != RYCERT_OK) {
      die("build");
    }
  }
  setCounters(state, n, 1, 0);
}

void opensslBuildEncode(benchmark::State &state) {
  const size_t n = size_t(state.range(0));
  for (auto _ : state) {
    // From an empty CRL of ours: libcrypto offers no setter for the TBS
    // signature algorithm without signing.
    const Bytes &empty = crlOf(0);
    const unsigned char *p = empty.data();
    X509_CRL *crl = d2i_X509_CRL(nullptr, &p, long(empty.size()));
    if (crl == nullptr) {
      die("d2i_X509_CRL template");
    }
    X509_CRL_set_version(crl, 1);
    X509_NAME *name = X509_NAME_new();
    X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("DE"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("Bench CA"), -1, -1, 0);
    X509_CRL_set_issuer_name(crl, name);
    X509_NAME_free(name);
    ASN1_TIME *t = ASN1_TIME_set(nullptr, kThis);
    X509_CRL_set1_lastUpdate(crl, t);
    ASN1_TIME_set(t, kThis + 86400 * 7);
    X509_CRL_set1_nextUpdate(crl, t);
    ASN1_ENUMERATED *reason = ASN1_ENUMERATED_new();
    ASN1_ENUMERATED_set(reason, 1);
    for (size_t i = 0; i < n; ++i) {
      X509_REVOKED *r = X509_REVOKED_new();
      uint8_t serial[16];
      serialOf(i, serial);
      ASN1_INTEGER *s = ASN1_INTEGER_new();
      ASN1_STRING_set(s, serial, 16);
      X509_REVOKED_set_serialNumber(r, s);
      ASN1_INTEGER_free(s);
      ASN1_TIME_set(t, kThis - time_t(i));
      X509_REVOKED_set_revocationDate(r, t);
      if (i % 10 == 0) {
        X509_REVOKED_add1_ext_i2d(r, NID_crl_reason, reason, 0, 0);
      }
      X509_CRL_add0_revoked(crl, r);
    }
    ASN1_ENUMERATED_free(reason);
    ASN1_TIME_free(t);
    unsigned char *der = nullptr;
    const int len = i2d_re_X509_CRL_tbs(crl, &der);
    if (len <= 0) {
      die("i2d_re_X509_CRL_tbs");
    }
    benchmark::DoNotOptimize(der);
    OPENSSL_free(der);
    X509_CRL_free(crl);
  }
  setCounters(state, n, 1, 0);
}

const bool kRegistered = [] {
  struct Side {
    const char *what;
    const char *side;
    void (*fn)(benchmark::State &);
  };
  const Side sides[] = {
      {"BM_CrlDecodeWalk", "ours", oursDecodeWalk},
      {"BM_CrlDecodeWalk", "mbedtls", mbedtlsDecodeWalk},
      {"BM_CrlDecodeWalk", "openssl", opensslDecodeWalk},
      {"BM_CrlBuildEncode", "ours", oursBuildEncode},
      {"BM_CrlBuildEncode", "openssl", opensslBuildEncode},
  };
  for (const Side &s : sides) {
    benchmark::RegisterBenchmark((std::string(s.what) + "/" + s.side).c_str(), s.fn)
        ->Arg(1000)
        ->Arg(100000)
        ->Arg(1000000)
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace
