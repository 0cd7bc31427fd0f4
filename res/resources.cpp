#include "res/resources.h"

const ResourceEntry* FindResource(std::string_view type, int nId) {
  return FindResource(nullptr, type, nId);
}

const ResourceEntry* FindResource(const ResourceEntry* pModule, std::string_view type, int nId) {
  for (const ResourceEntry* p = pModule ? pModule : kResources; p->szType != nullptr; ++p) {
    if (p->nId == nId && type == p->szType) return p;
  }
  return nullptr;
}
