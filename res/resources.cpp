#include "res/resources.h"

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/library.h"

namespace {

// The executable's own resources where the system keeps them in it; each
// entry made once and kept, so the pointers handed out stay valid.
const ResourceEntry* FindOwn(std::string_view type, int nId) {
  static std::mutex lock;
  static std::map<std::pair<std::string, int>, ResourceEntry> found;
  std::lock_guard<std::mutex> guard(lock);
  const std::pair<std::string, int> key{std::string(type), nId};
  auto it = found.find(key);
  if (it != found.end()) return &it->second;
  const unsigned char* pData = nullptr;
  size_t nSize = 0;
  if (!platform::FindOwnResource(key.first, nId, &pData, &nSize)) return nullptr;
  it = found.emplace(key, ResourceEntry{nullptr, nId, pData, nSize}).first;
  it->second.szType = it->first.first.c_str();
  return &it->second;
}

}  // namespace

const ResourceEntry* FindResource(std::string_view type, int nId) {
  return FindResource(nullptr, type, nId);
}

const ResourceEntry* FindResource(const ResourceEntry* pModule, std::string_view type, int nId) {
  if (!pModule) {
    if (const ResourceEntry* pOwn = FindOwn(type, nId)) return pOwn;
    pModule = kResources;
  }
  for (const ResourceEntry* p = pModule; p->szType != nullptr; ++p) {
    if (p->nId == nId && type == p->szType) return p;
  }
  return nullptr;
}
