// Record helpers: initialise, empty, release and copy AnyBuf and OidBuf
// records; the log line composer shared by every area.
#include <cstring>

#include "ry_asn2.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_low";
}  // namespace

void logLine(const char *src, int line, std::string_view prefix, std::string_view name,
             std::string_view suffix) {
  // A disabled log costs one inline load of the runtime's flag: no call,
  // nothing composed. The runtime is asked only while the flag is set.
  static const volatile int *const flag = MOSK_DebugFlag();
  if (__atomic_load_n(flag, __ATOMIC_RELAXED) == 0 || MOSK_DebugEnabled() == 0) {
    return;
  }
  // Composed on the stack: an enabled log costs no allocation either.
  char text[512];
  size_t n = 0;
  for (std::string_view part : {prefix, name, suffix}) {
    const size_t take = std::min(part.size(), sizeof text - 1 - n);
    if (take != 0) {
      std::memcpy(text + n, part.data(), take);
    }
    n += take;
  }
  text[n] = '\0';
  MOSK_DebugMessage(kLogFile, src, line, text);
}

void freeChain(AnyBuf *first) {
  while (first != nullptr) {
    AnyBuf *next = first->next;
    MOSK_Free(first->data);
    MOSK_Free(first);
    first = next;
  }
}

Status copyInto(AnyBuf &dst, const AnyBuf &src) {
  uint8_t *data = nullptr;
  if (src.length != 0) {
    data = RY_ALLOC(src.length);
    if (data == nullptr) {
      return RY_NO_MEMORY();
    }
    std::memcpy(data, src.data, src.length);
  }
  dst.data = data;
  dst.length = src.length;
  dst.unusedBits = src.unusedBits;
  dst.reserved = src.reserved;
  dst.tag = src.tag;
  dst.next = src.next;
  dst.prev = src.prev;
  return Status::Ok;
}

}  // namespace rycert2

using namespace rycert2;

extern "C" {

RYCERT_API void Hx_InitAnybuf(AnyBuf *buf) {
  if (buf != nullptr) {
    *buf = AnyBuf{};
  }
}

RYCERT_API void Hx_ClearAnybuf(AnyBuf *buf) {
  if (buf == nullptr) {
    return;
  }
  AnyBuf *rest = buf->next;
  MOSK_Free(buf->data);
  *buf = AnyBuf{};
  freeChain(rest);
}

RYCERT_API void Hx_FreeAnybuf(AnyBuf *first) { freeChain(first); }

RYCERT_API uint32_t Hx_CopyAnybuf(AnyBuf *dst, const AnyBuf *src) {
  return RY_C_BOUNDARY({
    if (dst == nullptr || !recordUsable(src)) {
      return RY_FAILED(Status::Memory, "Pointer is NULL");
    }
    return copyInto(*dst, *src);
  });
}

RYCERT_API uint32_t Hx_CopyAlgorithm(OidBuf *dst, const OidBuf *src) {
  return RY_C_BOUNDARY({
    if (dst == nullptr || src == nullptr || !recordUsable(&src->oid)) {
      return RY_FAILED(Status::Memory, "Pointer is NULL");
    }
    if (Status st = copyInto(dst->oid, src->oid); st != Status::Ok) {
      return st;
    }
    dst->id = src->id;
    return Status::Ok;
  });
}

RYCERT_API uint32_t Hx_SetAttributeCharValue(AnyBuf *dst, const uint8_t *bytes, uint32_t count) {
  return RY_C_BOUNDARY({
    if (dst == nullptr || (bytes == nullptr && count != 0)) {
      return RY_FAILED(Status::Memory, "Pointer is NULL");
    }
    uint8_t *data = nullptr;
    if (count != 0) {
      data = RY_ALLOC(count);
      if (data == nullptr) {
        return RY_NO_MEMORY();
      }
      std::memcpy(data, bytes, count);
    }
    dst->data = data;
    dst->length = count;
    dst->unusedBits = 0;
    dst->reserved = 0;
    dst->next = nullptr;
    dst->prev = nullptr;
    return Status::Ok;
  });
}

}  // extern "C"
