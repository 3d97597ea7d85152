// The token object store: one file per object under <store>/slot<N>/, written to a temporary
// file, flushed and renamed into place, so a crash leaves either the old state or the new one.
// The directories are 0700 and the files 0600: private keys are kept in the clear.
//
// File layout (integers little-endian):
//   magic "RYP11OB1" | u32 count | count * (u64 type | u32 length | value) | SHA-256 of all before
#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "p11_internal.h"

namespace rypkcs11 {
namespace {

constexpr char kMagic[8] = {'R', 'Y', 'P', '1', '1', 'O', 'B', '1'};
constexpr size_t kMaxFile = 1 << 20;

void putLe(Bytes& out, uint64_t v, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
}

bool getLe(ByteView& in, size_t n, uint64_t& v) {
  if (in.size() < n) {
    return false;
  }
  v = 0;
  for (size_t i = 0; i < n; ++i) {
    v |= static_cast<uint64_t>(in[i]) << (8 * i);
  }
  in = in.subspan(n);
  return true;
}

bool sha256(ByteView in, uint8_t out[32]) {
  unsigned int len = 0;
  EVP_MD* md = EVP_MD_fetch(libCtx(), "SHA256", nullptr);
  const bool ok = md != nullptr && EVP_Digest(in.data(), in.size(), out, &len, md, nullptr) == 1;
  EVP_MD_free(md);
  return ok && len == 32;
}

std::string slotDir(const std::string& dir, CK_SLOT_ID slot) {
  return dir + "/slot" + std::to_string(slot);
}

bool makeDir(const std::string& path) {
  if (mkdir(path.c_str(), 0700) == 0) {
    return true;
  }
  struct stat st {};
  return errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates each missing component of `path` with mode 0700.
bool makeDirs(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') {
      if (!makeDir(path.substr(0, pos))) {
        return false;
      }
    }
  }
  return true;
}

bool writeAll(int fd, ByteView data) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    data = data.subspan(static_cast<size_t>(n));
  }
  return true;
}

void syncDir(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

Bytes encode(const Object& obj) {
  Bytes out(kMagic, kMagic + sizeof kMagic);
  putLe(out, obj.attrs.size(), 4);
  for (const auto& [type, value] : obj.attrs) {
    putLe(out, type, 8);
    putLe(out, value.size(), 4);
    out.insert(out.end(), value.begin(), value.end());
  }
  uint8_t digest[32];
  if (!sha256(out, digest)) {
    return {};
  }
  out.insert(out.end(), digest, digest + sizeof digest);
  return out;
}

bool decode(ByteView in, AttrMap& attrs) {
  uint8_t digest[32];
  if (in.size() < sizeof kMagic + 4 + 32 || std::memcmp(in.data(), kMagic, sizeof kMagic) != 0 ||
      !sha256(in.first(in.size() - 32), digest) ||
      std::memcmp(digest, in.data() + in.size() - 32, 32) != 0) {
    return false;
  }
  ByteView rest = in.subspan(sizeof kMagic, in.size() - sizeof kMagic - 32);
  uint64_t count = 0;
  if (!getLe(rest, 4, count)) {
    return false;
  }
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t type = 0;
    uint64_t len = 0;
    if (!getLe(rest, 8, type) || !getLe(rest, 4, len) || rest.size() < len) {
      return false;
    }
    attrs[type] = Bytes(rest.begin(), rest.begin() + static_cast<ptrdiff_t>(len));
    rest = rest.subspan(len);
  }
  return rest.empty();
}

bool readFile(const std::string& path, Bytes& out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    return false;
  }
  out.clear();
  uint8_t buf[4096];
  bool ok = true;
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 || out.size() + static_cast<size_t>(n) > kMaxFile) {
      ok = false;
      break;
    }
    if (n == 0) {
      break;
    }
    out.insert(out.end(), buf, buf + n);
  }
  close(fd);
  return ok;
}

}  // namespace

std::string storeDirectory() {
  if (const char* env = std::getenv("RYPKCS11_STORE"); env != nullptr && *env != '\0') {
    return env;
  }
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
    return std::string(xdg) + "/rypkcs11";
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : ".") + "/.local/share/rypkcs11";
}

CK_RV storeWrite(const std::string& dir, const Object& obj) {
  const std::string sdir = slotDir(dir, obj.slot);
  // The store and slot folders are the token's own: owner-only even if made beforehand.
  if (!makeDirs(sdir) || chmod(dir.c_str(), 0700) != 0 || chmod(sdir.c_str(), 0700) != 0) {
    return CKR_DEVICE_ERROR;
  }
  const Bytes data = encode(obj);
  if (data.empty()) {
    return CKR_DEVICE_ERROR;
  }
  const std::string target = sdir + "/" + obj.storeName + ".obj";
  const std::string tmp = target + ".tmp";
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    return CKR_DEVICE_ERROR;
  }
  const bool ok = fchmod(fd, 0600) == 0 && writeAll(fd, data) && fsync(fd) == 0;
  if (close(fd) != 0 || !ok || rename(tmp.c_str(), target.c_str()) != 0) {
    unlink(tmp.c_str());
    return CKR_DEVICE_ERROR;
  }
  syncDir(sdir);
  return CKR_OK;
}

void storeRemove(const std::string& dir, const Object& obj) {
  const std::string sdir = slotDir(dir, obj.slot);
  if (unlink((sdir + "/" + obj.storeName + ".obj").c_str()) == 0) {
    syncDir(sdir);
  }
}

// C_Initialize: every well-formed object file of each slot directory; files that fail their
// checksum (or leftovers of an interrupted write, *.tmp) are skipped.
void storeLoad(const std::string& dir, std::vector<std::shared_ptr<Object>>& out) {
  for (CK_SLOT_ID slot = kFirstSlot; slot < kFirstSlot + kSlotCount; ++slot) {
    const std::string sdir = slotDir(dir, slot);
    DIR* d = opendir(sdir.c_str());
    if (d == nullptr) {
      continue;
    }
    while (const dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".obj") != 0) {
        continue;
      }
      Bytes data;
      auto obj = std::make_shared<Object>();
      if (!readFile(sdir + "/" + name, data) || !decode(data, obj->attrs)) {
        continue;
      }
      obj->slot = slot;
      obj->owner = 0;
      obj->storeName = name.substr(0, name.size() - 4);
      out.push_back(std::move(obj));
    }
    closedir(d);
  }
}

}  // namespace rypkcs11
