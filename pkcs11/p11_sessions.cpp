// Sessions: integer handles, never reused within a process, each bound to one slot.
#include "p11_internal.h"

namespace rypkcs11 {

CK_SESSION_HANDLE SessionManager::open(CK_SLOT_ID slot, CK_FLAGS flags) {
  auto s = std::make_shared<Session>();
  s->slot = slot;
  s->flags = flags;
  std::lock_guard lock(mu_);
  s->handle = next_++;
  sessions_.emplace(s->handle, s);
  return s->handle;
}

SessionPtr SessionManager::get(CK_SESSION_HANDLE h) const {
  std::lock_guard lock(mu_);
  auto it = sessions_.find(h);
  return it == sessions_.end() ? nullptr : it->second;
}

bool SessionManager::close(CK_SESSION_HANDLE h) {
  std::lock_guard lock(mu_);
  return sessions_.erase(h) == 1;
}

std::vector<CK_SESSION_HANDLE> SessionManager::handlesOf(CK_SLOT_ID slot) const {
  std::lock_guard lock(mu_);
  std::vector<CK_SESSION_HANDLE> out;
  for (const auto& [h, s] : sessions_) {
    if (s->slot == slot) {
      out.push_back(h);
    }
  }
  return out;
}

size_t SessionManager::count(CK_SLOT_ID slot, bool rwOnly) const {
  std::lock_guard lock(mu_);
  size_t n = 0;
  for (const auto& [h, s] : sessions_) {
    n += (s->slot == slot && (!rwOnly || s->readWrite())) ? 1 : 0;
  }
  return n;
}

void SessionManager::clear() {
  std::lock_guard lock(mu_);
  sessions_.clear();
}

}  // namespace rypkcs11
