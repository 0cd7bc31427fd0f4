// The resources compiled into the executable, found by type and identifier
// as ("XML", 1262) or ("PNG", 1036).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

struct ResourceEntry {
  const char* szType;
  int nId;
  const unsigned char* pData;
  size_t nSize;
};

// The generated table; its last entry has a null type.
extern const ResourceEntry kResources[];

// The resource, or nullptr when there is none of that type and identifier.
const ResourceEntry* FindResource(std::string_view type, int nId);
// The same in another table ending with a null type (the "module"); a null
// table is the executable's own.
const ResourceEntry* FindResource(const ResourceEntry* pModule, std::string_view type, int nId);
