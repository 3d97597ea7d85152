// DN strings: Ry_GenerateDN and Ry_ParseDN convert between ten separate
// name components and one flat text "C=..,O=..,OU=..,CN=..,E=..,S=..,L=..,
// PA=..,PC=..,Phone=..".
//
// The text form has no escaping and no quoting: a value runs from its key's
// '=' to the next ',' (or the end), so a value cannot hold a comma. Keys
// are matched exactly and case-sensitively, only right after a comma (or at
// the very start). Both functions return 0 or RYCERT_TEXT_FAILED, write no
// log lines, allocate nothing and never read or write past the lengths
// they are given.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include <array>

#include "ry_names.h"
#include "ry_core.h"
#include "rycert2.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_pem";

constexpr uint32_t kTextFailed = RYCERT_TEXT_FAILED;

// The sum of the component lengths (separators not counted) that a DN
// string may carry, and the text length Ry_ParseDN accepts.
constexpr uint64_t kDnLimit = 1024;

// The keys ("C", "O", ... "Phone") in the order in which Ry_GenerateDN
// writes them and in which the components are passed to both functions,
// taken from the name component table.
constexpr int kComponents = int(kDnStringSlots);
constexpr std::array<std::string_view, kDnStringSlots> kDnKeys = [] {
  std::array<std::string_view, kDnStringSlots> keys{};
  for (const NameComponent &c : kNameComponents) {
    keys[size_t(c.dnStringSlot)] = c.key;
  }
  return keys;
}();

// Does a key followed by '=' stand at the start of `text`?
bool keyAt(std::string_view text, std::string_view key) {
  return text.size() > key.size() && text.starts_with(key) && text[key.size()] == '=';
}

// One component as the caller passes it to Ry_GenerateDN.
struct InPart {
  const uint8_t *value;
  int32_t length;  // 0 or below: absent
};

// One component as Ry_ParseDN hands it back.
struct OutPart {
  uint8_t *buffer;   // may be NULL: length only
  uint32_t *length;  // may be NULL: component not wanted
};

uint32_t generateDn(const InPart (&parts)[kComponents], uint8_t *out, uint32_t *outLen) {
  if (outLen == nullptr) {
    return kTextFailed;
  }
  // Only present components count towards the limit; summing in 64 bits
  // keeps a negative (absent) length from offsetting an oversized one.
  uint64_t valueBytes = 0;
  uint64_t total = 0;
  for (int i = 0; i < kComponents; ++i) {
    if (parts[i].length <= 0) {
      continue;
    }
    if (parts[i].value == nullptr) {
      return kTextFailed;
    }
    valueBytes += static_cast<uint64_t>(parts[i].length);
    total += 1 + kDnKeys[i].size() + 1 + static_cast<uint64_t>(parts[i].length);
  }
  if (valueBytes > kDnLimit) {
    return kTextFailed;
  }
  // The first component gets no leading comma.
  const uint32_t length = total == 0 ? 0 : static_cast<uint32_t>(total - 1);
  if (out != nullptr) {
    uint8_t *w = out;
    for (int i = 0; i < kComponents; ++i) {
      if (parts[i].length <= 0) {
        continue;
      }
      if (w != out) {
        *w++ = ',';
      }
      std::memcpy(w, kDnKeys[i].data(), kDnKeys[i].size());
      w += kDnKeys[i].size();
      *w++ = '=';
      std::memcpy(w, parts[i].value, static_cast<size_t>(parts[i].length));
      w += parts[i].length;
    }
  }
  *outLen = length;
  return 0;
}

// Every comma of the text (and its start) is a place where a key may
// begin; every key is tried at each, so a key that occurs twice is found
// twice and the later value wins. Only the winning value of each component
// is copied, once the scan is over: a caller who sized a buffer from the
// reported length is never written past it by an earlier, longer
// occurrence.
uint32_t parseDn(const OutPart (&parts)[kComponents], const uint8_t *dn, int32_t dnLen) {
  for (const OutPart &part : parts) {
    if (part.length != nullptr) {
      *part.length = 0;
    }
  }
  if (dnLen < 0 || static_cast<uint64_t>(dnLen) > kDnLimit || (dn == nullptr && dnLen != 0)) {
    return kTextFailed;
  }
  const std::string_view text(reinterpret_cast<const char *>(dn), static_cast<size_t>(dnLen));

  struct Found {
    size_t start = 0;
    size_t length = 0;
    bool present = false;
  };
  Found found[kComponents];

  size_t at = 0;  // where a key may begin: the start of the text or just past a comma
  for (;;) {
    const std::string_view rest = text.substr(at);
    for (int i = 0; i < kComponents; ++i) {
      if (keyAt(rest, kDnKeys[i])) {
        const size_t valueStart = at + kDnKeys[i].size() + 1;
        size_t valueEnd = text.find(',', valueStart);
        if (valueEnd == std::string_view::npos) {
          valueEnd = text.size();
        }
        found[i] = {valueStart, valueEnd - valueStart, true};
      }
    }
    const size_t comma = text.find(',', at);
    if (comma == std::string_view::npos) {
      break;
    }
    at = comma + 1;
  }

  for (int i = 0; i < kComponents; ++i) {
    if (!found[i].present || parts[i].length == nullptr) {
      continue;
    }
    if (parts[i].buffer != nullptr) {
      std::memcpy(parts[i].buffer, dn + found[i].start, found[i].length);
    }
    *parts[i].length = static_cast<uint32_t>(found[i].length);
  }
  return 0;
}

}  // namespace
}  // namespace rycert2

using namespace rycert2;

extern "C" {

RYCERT_API uint32_t Ry_GenerateDN(const uint8_t *c, int32_t cLen, const uint8_t *o, int32_t oLen,
                                  const uint8_t *ou, int32_t ouLen, const uint8_t *cn,
                                  int32_t cnLen, const uint8_t *e, int32_t eLen, const uint8_t *s,
                                  int32_t sLen, const uint8_t *l, int32_t lLen, const uint8_t *pa,
                                  int32_t paLen, const uint8_t *pc, int32_t pcLen,
                                  const uint8_t *phone, int32_t phoneLen, uint8_t *out,
                                  uint32_t *outLen) {
  return cBoundary(kSrcFile, __LINE__, 0xFFFFFFFFu, [&]() -> uint32_t {
    const InPart parts[kComponents] = {
        {c, cLen}, {o, oLen}, {ou, ouLen}, {cn, cnLen}, {e, eLen},
        {s, sLen}, {l, lLen}, {pa, paLen}, {pc, pcLen}, {phone, phoneLen},
    };
    return generateDn(parts, out, outLen);
  });
}

RYCERT_API uint32_t Ry_ParseDN(uint8_t *c, uint32_t *cLen, uint8_t *o, uint32_t *oLen, uint8_t *ou,
                               uint32_t *ouLen, uint8_t *cn, uint32_t *cnLen, uint8_t *e,
                               uint32_t *eLen, uint8_t *s, uint32_t *sLen, uint8_t *l,
                               uint32_t *lLen, uint8_t *pa, uint32_t *paLen, uint8_t *pc,
                               uint32_t *pcLen, uint8_t *phone, uint32_t *phoneLen,
                               const uint8_t *dn, int32_t dnLen) {
  return cBoundary(kSrcFile, __LINE__, 0xFFFFFFFFu, [&]() -> uint32_t {
    const OutPart parts[kComponents] = {
        {c, cLen}, {o, oLen}, {ou, ouLen}, {cn, cnLen}, {e, eLen},
        {s, sLen}, {l, lLen}, {pa, paLen}, {pc, pcLen}, {phone, phoneLen},
    };
    return parseDn(parts, dn, dnLen);
  });
}

}  // extern "C"
