// PEM2DER_data_format on arbitrary text (not zero-terminated, exact-size
// heap copy), and the armour round trip: DER2PEM_data_format of the input
// read back by PEM2DER_data_format must give the input again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "rycert2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > UINT32_MAX) {
    return 0;
  }
  const uint32_t len = static_cast<uint32_t>(size);

  // Take the armour off the input itself.
  {
    std::unique_ptr<char[]> pem(new char[size == 0 ? 1 : size]);
    std::memcpy(pem.get(), data, size);
    std::vector<uint8_t> der(size / 4 * 3);
    uint32_t n = 0xA5A5A5A5u;
    const uint32_t rc = PEM2DER_data_format(pem.get(), len, der.data(), &n);
    if (rc == 0 ? n > der.size() : (rc != RYCERT_TEXT_FAILED || n != 0xA5A5A5A5u)) {
      abort();
    }
  }

  // Put armour on the input and take it off again.
  static const char kHeader[] = "-----BEGIN CERTIFICATE-----";
  static const char kFooter[] = "-----END CERTIFICATE-----";
  const size_t b64 = (size + 2) / 3 * 4;
  const size_t pemSize =
      size == 0 ? 0 : sizeof kHeader + 1 + b64 + 2 * ((b64 + 63) / 64) + sizeof kFooter + 1 + 1;
  std::unique_ptr<char[]> pem(new char[pemSize == 0 ? 1 : pemSize]);
  uint32_t pemLen = 0;
  if (DER2PEM_data_format(data, len, pem.get(), &pemLen, kHeader, kFooter) != 0 ||
      (size != 0 && (pemLen + 1 != pemSize || pem[pemLen] != '\0'))) {
    abort();
  }
  std::unique_ptr<char[]> exact(new char[pemLen == 0 ? 1 : pemLen]);
  std::memcpy(exact.get(), pem.get(), pemLen);
  std::vector<uint8_t> back(size);
  uint32_t backLen = 0;
  if (PEM2DER_data_format(exact.get(), pemLen, back.data(), &backLen) != 0 || backLen != len ||
      (size != 0 && std::memcmp(back.data(), data, size) != 0)) {
    abort();
  }
  return 0;
}
