// Shared core of the library: status values, the log helpers, the
// allocator wrappers and the owners that release on every failure path.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <type_traits>

#include "mosk.h"
#include "rycert2.h"

namespace rycert2 {

// Status values equal the public constants; the enum only adds type safety.
enum class Status : uint32_t {
  Ok = RYCERT_OK,
  Memory = RYCERT_MemoryErr,
  InvalidLength = RYCERT_InvalidLengthErr,
  LengthNotEqual = RYCERT_LengthNotEqualErr,
  InvalidTimeField = RYCERT_InvalidTimeFieldErr,
  InvalidTimeEnd = RYCERT_InvalidTimeEndErr,
  TagNotMatch = RYCERT_TagNotMatchErr,
  InvalidSignatureLen = RYCERT_InvalidSignatureLenErr,
  ExtensionContent = RYCERT_ExtensionContentErr,
  CertNotEnd = RYCERT_CertNotEndErr,
  AttributeNotSupport = RYCERT_AttributeNotSupportErr,
  CrlNotEnd = RYCERT_CrlNotEndErr,
  CsrNotEnd = RYCERT_CsrNotEndErr,
  KeyElementMissing = RYCERT_KeyElementMissingErr,
  AttributeAlreadySet = RYCERT_AttributeAlreadySet,
  InvalidTime = RYCERT_InvalidTimeErr,
  DnNotEqual = RYCERT_DnNotEqualErr,
  TimeOutRange = RYCERT_TimeOutRangeErr,
  InvalidSignatureAlg = RYCERT_InvalidSignatureAlgErr,
  KeyIndexRange = RYCERT_KeyIndexRangeErr,
};
static_assert(sizeof(Status) == sizeof(uint32_t));

constexpr uint32_t code(Status st) { return static_cast<uint32_t>(st); }

// The nominal log file name that every debug message carries.
inline constexpr char kLogFile[] = "c:\\ry_ev11\\rycert.log";

// Writes "<prefix><name><suffix>" as one log line.
void logLine(const char *src, int line, std::string_view prefix, std::string_view name,
             std::string_view suffix = {});

// Logs "------>" + name and returns st unchanged.
inline Status failed(Status st, const char *src, int line, std::string_view name) {
  logLine(src, line, "------>", name);
  return st;
}

// Every source file defines `kSrcFile` (its area name, e.g. "ry_asn2") in an
// unnamed namespace; these macros pass it and the line to the runtime.
#define RY_FAILED(st, name) ::rycert2::failed((st), kSrcFile, __LINE__, (name))
#define RY_LOG(prefix, name) ::rycert2::logLine(kSrcFile, __LINE__, (prefix), (name))
#define RY_ALLOC(n) ::rycert2::allocBytes(kSrcFile, __LINE__, (n))
#define RY_NO_MEMORY() RY_FAILED(::rycert2::Status::Memory, "MOSK_Malloc")

inline uint8_t *allocBytes(const char *src, int line, size_t n) {
  return static_cast<uint8_t *>(MOSK_Malloc(src, line, n));
}

// ------------------------------------------------------------ C boundary

// Runs the body of an exported function. Library code does not throw;
// should anything thrown reach here all the same, it stops here, is
// logged, and the caller gets a failure status, never an exception.
template <class Body>
uint32_t cBoundary(const char *src, int line, uint32_t onThrow, Body &&body) noexcept {
  try {
    if constexpr (std::is_same_v<std::invoke_result_t<Body>, Status>) {
      return code(body());
    } else {
      return body();
    }
  } catch (...) {
    logLine(src, line, "------>", "exception");
    return onThrow;
  }
}
#define RY_C_BOUNDARY(...) \
  ::rycert2::cBoundary(kSrcFile, __LINE__, RYCERT_MemoryErr, [&]() -> ::rycert2::Status __VA_ARGS__)

template <class... P>
bool anyNull(const P *...p) {
  return ((p == nullptr) || ...);
}
// The argument check of an exported function: any NULL pointer gives 100
// and the line "------>Pointer is NULL".
#define RY_REQUIRE(...)                                                     \
  do {                                                                      \
    if (::rycert2::anyNull(__VA_ARGS__)) {                                  \
      return RY_FAILED(::rycert2::Status::Memory, "Pointer is NULL");       \
    }                                                                       \
  } while (0)

// ---------------------------------------------------------------- owners

struct MoskDeleter {
  void operator()(void *p) const { MOSK_Free(p); }
};
// A block from MOSK_Malloc.
using Block = std::unique_ptr<uint8_t, MoskDeleter>;

// Gives dst a fresh copy of src (fields and links as they stand).
Status copyInto(AnyBuf &dst, const AnyBuf &src);

// Releases a chain of stand-alone records and their data, following next.
void freeChain(AnyBuf *first);

struct ChainDeleter {
  void operator()(AnyBuf *p) const { freeChain(p); }
};
// One stand-alone record (and whatever follows it in its chain).
using RecordPtr = std::unique_ptr<AnyBuf, ChainDeleter>;

// A list under construction: appends at the tail in constant time and
// releases everything on destruction unless released.
class RecordChain {
 public:
  RecordChain() = default;
  RecordChain(const RecordChain &) = delete;
  RecordChain &operator=(const RecordChain &) = delete;
  ~RecordChain() { freeChain(head_); }

  void append(AnyBuf *rec) {
    rec->next = nullptr;
    rec->prev = tail_;
    if (tail_ != nullptr) {
      tail_->next = rec;
    } else {
      head_ = rec;
    }
    tail_ = rec;
  }
  AnyBuf *head() const { return head_; }
  AnyBuf *release() {
    AnyBuf *h = head_;
    head_ = tail_ = nullptr;
    return h;
  }

 private:
  AnyBuf *head_ = nullptr;
  AnyBuf *tail_ = nullptr;
};

// Clears an embedded record on scope exit unless released: for records
// that are filled in steps and committed at the end.
class EmbeddedGuard {
 public:
  explicit EmbeddedGuard(AnyBuf &b) : b_(&b) {}
  EmbeddedGuard(const EmbeddedGuard &) = delete;
  EmbeddedGuard &operator=(const EmbeddedGuard &) = delete;
  ~EmbeddedGuard() {
    if (b_ != nullptr) {
      Hx_ClearAnybuf(b_);
    }
  }
  void release() { b_ = nullptr; }

 private:
  AnyBuf *b_;
};

inline std::span<const uint8_t> bytesOf(const AnyBuf &b) {
  return {b.data, b.data == nullptr ? 0u : b.length};
}

// A record whose length claims bytes it has no block for is refused.
inline bool recordUsable(const AnyBuf *b) {
  return b != nullptr && (b->data != nullptr || b->length == 0);
}

}  // namespace rycert2
