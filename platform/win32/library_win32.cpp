#include "platform/win32/win32_prelude.h"

#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/coding.h"
#include "platform/library.h"
#include "platform/win32/win32_util.h"

namespace platform {

LibraryHandle LoadLibrary(const std::string& path) {
  return ::LoadLibraryW(WidePath(path).c_str());
}

void* GetProcAddress(LibraryHandle hLibrary, const char* szName) {
  if (hLibrary == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(hLibrary), szName));
}

void FreeLibrary(LibraryHandle hLibrary) {
  if (hLibrary != nullptr) ::FreeLibrary(static_cast<HMODULE>(hLibrary));
}

namespace {

bool ResourceBytes(LPCWSTR szType, int nId, const unsigned char** ppData, size_t* pnSize) {
  HMODULE hModule = ::GetModuleHandleW(nullptr);
  HRSRC hFound = ::FindResourceW(hModule, MAKEINTRESOURCEW(nId), szType);
  if (!hFound) return false;
  const DWORD dwSize = ::SizeofResource(hModule, hFound);
  HGLOBAL hLoaded = ::LoadResource(hModule, hFound);
  const void* pData = hLoaded ? ::LockResource(hLoaded) : nullptr;
  if (!pData || dwSize == 0) return false;
  *ppData = static_cast<const unsigned char*>(pData);
  *pnSize = dwSize;
  return true;
}

// An icon resource is a directory (RT_GROUP_ICON) naming one RT_ICON
// resource per image; the .ico file puts the images after its directory.
bool IconFile(int nId, std::vector<unsigned char>* pOut) {
  const unsigned char* pGroup = nullptr;
  size_t nGroup = 0;
  if (!ResourceBytes(RT_GROUP_ICON, nId, &pGroup, &nGroup) || nGroup < 6) return false;
  const size_t nImages = DecodeFixed16(pGroup + 4);
  if (nGroup < 6 + 14 * nImages) return false;
  std::vector<std::pair<const unsigned char*, size_t>> images;
  for (size_t i = 0; i < nImages; ++i) {
    const unsigned char* pData = nullptr;
    size_t nSize = 0;
    if (!ResourceBytes(RT_ICON, static_cast<int>(DecodeFixed16(pGroup + 6 + 14 * i + 12)), &pData,
                       &nSize)) {
      return false;
    }
    images.emplace_back(pData, nSize);
  }
  pOut->assign(pGroup, pGroup + 6);
  size_t nOffset = 6 + 16 * nImages;
  for (size_t i = 0; i < nImages; ++i) {
    const unsigned char* pEntry = pGroup + 6 + 14 * i;
    pOut->insert(pOut->end(), pEntry, pEntry + 8);  // sizes, colours, planes, bits
    PutFixed32(pOut, static_cast<uint32_t>(images[i].second));
    PutFixed32(pOut, static_cast<uint32_t>(nOffset));
    nOffset += images[i].second;
  }
  for (const auto& [pData, nSize] : images) pOut->insert(pOut->end(), pData, pData + nSize);
  return true;
}

}  // namespace

bool FindOwnResource(const std::string& type, int nId, const unsigned char** ppData,
                     size_t* pnSize) {
  if (type != "ICON") return ResourceBytes(Wide(type).c_str(), nId, ppData, pnSize);
  // Rebuilt once, then kept for the process like the resources themselves.
  static std::mutex lock;
  static std::map<int, std::vector<unsigned char>> icons;
  std::lock_guard<std::mutex> guard(lock);
  auto it = icons.find(nId);
  if (it == icons.end()) {
    std::vector<unsigned char> file;
    if (!IconFile(nId, &file)) return false;
    it = icons.emplace(nId, std::move(file)).first;
  }
  *ppData = it->second.data();
  *pnSize = it->second.size();
  return true;
}

}  // namespace platform
