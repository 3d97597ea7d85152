// RyCert_DecodeCert on arbitrary bytes held in an exact-size block, then
// every query: RyCert_GetCertAttributeChar and RyCert_GetCertAttributeInt
// for every identifier from 0 to 130, the CRL distribution point iterator
// until it ends, each private extension, and RyCert_EncodeCert. The queries
// run whether the decode succeeded or not: a context that a failed decode
// left half filled must still answer safely. Invariants:
//   - nothing leaks once the context is destroyed;
//   - a query succeeds exactly for the identifiers it answers and refuses
//     every other one with RYCERT_AttributeNotSupportErr; a refused
//     integer query leaves its out-parameter as it was;
//   - the length a NULL-buffer query reports is the number of bytes the
//     second query copies, into a block of exactly that size, and the
//     length query does not move the distribution point iterator;
//   - on a decoded certificate, the TBSCertificate and the signature are
//     bytes of the input, and encoding returns the input's certificate
//     element unchanged, without a callback.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_support.h"

namespace {

void check(bool ok) { FUZZ_CHECK(ok); }

// Identifiers RyCert_GetCertAttributeChar answers.
bool charAnswered(int32_t id) {
  return (id >= CERT_TBS_CERTIFICATE && id <= CERT_ISSUER_TELEPHONE && id != CERT_VERSION) ||
         (id >= CERT_SUBJECT_DN && id <= CERT_SUBJECT_TELEPHONE) ||
         id == CERT_PUBLICKEY_ALGORITHM || id == CERT_SUBJECTPUBLICKEYINFO ||
         id == CERTEX_AUTHORITYKEYIDENTIFIER || id == CERTEX_SUBJECTKEYIDENTIFIER ||
         id == CERTEX_KEYUSAGE_CRITICAL || id == CERTEX_KEYUSAGE ||
         id == CERTEX_BASICCONSTRAINTS_CRITICAL || id == CERTEX_AUTHORITY ||
         id == CERTEX_PATHLENCONSTRAINT || id == CERTEX_EXTKEY_USAGE ||
         id == CERTEX_CRLDIST_FULLNAME;
}

bool intAnswered(int32_t id) {
  return id == CERT_VERSION || id == CERT_VALIDFROM || id == CERT_VALIDTO;
}

// A block of exactly n bytes (at least one, so that it is never NULL).
struct Block {
  explicit Block(size_t n) : p(static_cast<uint8_t *>(std::malloc(n == 0 ? 1 : n))) {
    check(p != nullptr);
  }
  ~Block() { std::free(p); }
  uint8_t *p;
};

bool within(const uint8_t *data, size_t size, const uint8_t *part, size_t n) {
  return n == 0 || memmem(data, size, part, n) != nullptr;
}

// The length query, then a copy into an exact-size block; the two agree.
// Returns the status; `out` keeps the bytes (NULL when none).
uint32_t readChar(CertCtx *ctx, int32_t id, std::unique_ptr<Block> &out, uint32_t &len) {
  len = 0xA5A5A5A5u;
  const uint32_t st = RyCert_GetCertAttributeChar(ctx, id, nullptr, &len);
  if (st != RYCERT_OK) {
    return st;
  }
  out = std::make_unique<Block>(len);
  uint32_t again = 0xA5A5A5A5u;
  check(RyCert_GetCertAttributeChar(ctx, id, out->p, &again) == RYCERT_OK);
  check(again == len);
  return st;
}

void queryAll(CertCtx *ctx, const uint8_t *data, size_t size, bool decoded) {
  for (int32_t id = 0; id <= 130; ++id) {
    if (id == CERTEX_CRLDIST_FULLNAME) {
      continue;  // the iterator, below
    }
    std::unique_ptr<Block> bytes;
    uint32_t len = 0;
    const uint32_t st = readChar(ctx, id, bytes, len);
    check(st == (charAnswered(id) ? RYCERT_OK : RYCERT_AttributeNotSupportErr));
    if (st == RYCERT_OK && decoded) {
      // Every answer but the DN texts is a piece of the input, or one of
      // the single criticality / cA bytes.
      if (id != CERT_ISSUER_DN && id != CERT_SUBJECT_DN && id != CERTEX_KEYUSAGE_CRITICAL &&
          id != CERTEX_BASICCONSTRAINTS_CRITICAL && id != CERTEX_AUTHORITY &&
          id != CERTEX_EXTKEY_USAGE) {
        check(within(data, size, bytes->p, len));
      }
      if (id == CERTEX_KEYUSAGE_CRITICAL || id == CERTEX_BASICCONSTRAINTS_CRITICAL ||
          id == CERTEX_AUTHORITY) {
        check(len <= 1);
      }
      if (id == CERTEX_EXTKEY_USAGE) {
        check(len == 0 || len == 4);
      }
    }

    uint32_t value = 0x5A5A5A5Au;
    const uint32_t ist = RyCert_GetCertAttributeInt(ctx, id, &value);
    check(ist == (intAnswered(id) ? RYCERT_OK : RYCERT_AttributeNotSupportErr));
    if (ist != RYCERT_OK) {
      check(value == 0x5A5A5A5Au);
    }
  }

  // The distribution points: a length query does not move, a copy does;
  // the iteration ends with length 0 and stays ended.
  for (size_t guard = 0;; ++guard) {
    check(guard <= size);
    uint32_t len = 0xA5A5A5A5u, again = 0xA5A5A5A5u;
    check(RyCert_GetCertAttributeChar(ctx, CERTEX_CRLDIST_FULLNAME, nullptr, &len) == RYCERT_OK);
    check(RyCert_GetCertAttributeChar(ctx, CERTEX_CRLDIST_FULLNAME, nullptr, &again) == RYCERT_OK);
    check(again == len);
    if (len == 0) {
      Block none(1);
      check(RyCert_GetCertAttributeChar(ctx, CERTEX_CRLDIST_FULLNAME, none.p, &again) == RYCERT_OK);
      check(again == 0);
      break;
    }
    Block name(len);
    check(RyCert_GetCertAttributeChar(ctx, CERTEX_CRLDIST_FULLNAME, name.p, &again) == RYCERT_OK);
    check(again == len);
    check(!decoded || within(data, size, name.p, len));
  }

  // The private extensions: the count, then each one, lengths first.
  uint32_t count = 0, oidLen = 0, critical = 0, valueLen = 0;
  check(RyCert_GetCertAttributePrivate(ctx, &count, nullptr, &oidLen, &critical, nullptr,
                                       &valueLen) == RYCERT_OK);
  check(count <= size);
  for (uint32_t i = 1; i <= count; ++i) {
    uint32_t index = i;
    check(RyCert_GetCertAttributePrivate(ctx, &index, nullptr, &oidLen, &critical, nullptr,
                                         &valueLen) == RYCERT_OK);
    check(index == i && critical <= 0xFF);
    Block oid(oidLen), value(valueLen);
    uint32_t oidAgain = 0, valueAgain = 0;
    check(RyCert_GetCertAttributePrivate(ctx, &index, oid.p, &oidAgain, &critical, value.p,
                                         &valueAgain) == RYCERT_OK);
    check(index == i && oidAgain == oidLen && valueAgain == valueLen);
    check(!decoded || (within(data, size, oid.p, oidLen) && within(data, size, value.p, valueLen)));
  }
  uint32_t past = count + 1;
  check(RyCert_GetCertAttributePrivate(ctx, &past, nullptr, &oidLen, &critical, nullptr,
                                       &valueLen) == RYCERT_OK);
  check(past == count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 1 << 16) {
    return 0;
  }
  const int64_t base = MOSK_TestLiveBlocks();
  AnyBuf in = fuzzRecord(data, size);
  CertCtx *ctx = nullptr;
  check(RyCert_CreateCertDecodeCtx(&ctx) == RYCERT_OK && ctx != nullptr);
  const uint32_t st = RyCert_DecodeCert(ctx, in.data, in.length);
  const bool decoded = st == RYCERT_OK;
  queryAll(ctx, data, size, decoded);

  if (decoded) {
    // The certificate element the decoder measured: encoding a decoded
    // context gives it back, whatever followed it in the input.
    uint32_t total = 0;
    check(RyAsn1_GetCertLength(data, &total) == RYCERT_OK && total <= size);
    uint32_t n = 0;
    check(RyCert_EncodeCert(ctx, nullptr, &n) == RYCERT_OK && n == total);
    Block out(n);
    check(RyCert_EncodeCert(ctx, out.p, &n) == RYCERT_OK && n == total);
    check(std::memcmp(out.p, data, n) == 0);
  }

  check(RyCert_DestroyCertDecodeCtx(ctx) == RYCERT_OK);
  Hx_ClearAnybuf(&in);
  check(MOSK_TestLiveBlocks() == base);
  return 0;
}
