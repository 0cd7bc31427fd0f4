#include "platform/win32/win32_prelude.h"

#include <string>

#include "platform/registry.h"

namespace platform {
namespace {

// The key path split into its root and the rest; false for an unknown root.
bool Split(const std::u16string& key, HKEY* pRoot, std::wstring* pSub) {
  const size_t cut = key.find(u'\\');
  const std::u16string root = key.substr(0, cut);
  const std::u16string sub = cut == std::u16string::npos ? u"" : key.substr(cut + 1);
  if (root == u"HKEY_LOCAL_MACHINE" || root == u"HKLM") {
    *pRoot = HKEY_LOCAL_MACHINE;
  } else if (root == u"HKEY_CURRENT_USER" || root == u"HKCU") {
    *pRoot = HKEY_CURRENT_USER;
  } else {
    return false;
  }
  pSub->assign(sub.begin(), sub.end());
  return true;
}

// The design's program is 32-bit: its keys live in the 32-bit view on a
// 64-bit system, whichever build reads them.
constexpr REGSAM kView = KEY_WOW64_32KEY;

int32_t Result(LONG r) {
  if (r == ERROR_SUCCESS) return kRegOk;
  if (r == ERROR_FILE_NOT_FOUND || r == ERROR_PATH_NOT_FOUND) return kRegNotFound;
  return static_cast<int32_t>(r);
}

class CKey {
 public:
  CKey(const std::u16string& key, REGSAM access) {
    HKEY root;
    std::wstring sub;
    r_ = Split(key, &root, &sub) ? ::RegOpenKeyExW(root, sub.c_str(), 0, access | kView, &h_)
                                 : ERROR_FILE_NOT_FOUND;
  }
  ~CKey() {
    if (r_ == ERROR_SUCCESS) ::RegCloseKey(h_);
  }
  CKey(const CKey&) = delete;
  CKey& operator=(const CKey&) = delete;
  LONG Status() const { return r_; }
  HKEY Get() const { return h_; }

 private:
  HKEY h_ = nullptr;
  LONG r_;
};

std::wstring W(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

// The real registry has no file of its own.
std::string RegistryFilePath() { return std::string(); }

bool RegKeyExists(const std::u16string& key) {
  return CKey(key, KEY_READ).Status() == ERROR_SUCCESS;
}

int32_t RegCreateKey(const std::u16string& key) {
  HKEY root;
  std::wstring sub;
  if (!Split(key, &root, &sub)) return kRegNotFound;
  HKEY h = nullptr;
  const LONG r =
      ::RegCreateKeyExW(root, sub.c_str(), 0, nullptr, 0, KEY_WRITE | kView, nullptr, &h, nullptr);
  if (r == ERROR_SUCCESS) ::RegCloseKey(h);
  return Result(r);
}

int32_t RegQueryString(const std::u16string& key, const std::u16string& name,
                       std::u16string* pValue) {
  const CKey k(key, KEY_READ);
  if (k.Status() != ERROR_SUCCESS) return Result(k.Status());
  DWORD type = 0, size = 0;
  LONG r = ::RegQueryValueExW(k.Get(), W(name).c_str(), nullptr, &type, nullptr, &size);
  if (r != ERROR_SUCCESS) return Result(r);
  if (type != REG_SZ && type != REG_EXPAND_SZ) return kRegFailed;
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  r = ::RegQueryValueExW(k.Get(), W(name).c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(value.data()), &size);
  if (r != ERROR_SUCCESS) return Result(r);
  value.resize(size / sizeof(wchar_t));
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  pValue->assign(value.begin(), value.end());
  return kRegOk;
}

int32_t RegQueryDword(const std::u16string& key, const std::u16string& name, uint32_t* pValue) {
  const CKey k(key, KEY_READ);
  if (k.Status() != ERROR_SUCCESS) return Result(k.Status());
  DWORD type = 0, value = 0, size = sizeof value;
  const LONG r = ::RegQueryValueExW(k.Get(), W(name).c_str(), nullptr, &type,
                                    reinterpret_cast<BYTE*>(&value), &size);
  if (r != ERROR_SUCCESS) return Result(r);
  if (type != REG_DWORD) return kRegFailed;
  *pValue = value;
  return kRegOk;
}

int32_t RegSetString(const std::u16string& key, const std::u16string& name,
                     const std::u16string& value) {
  const CKey k(key, KEY_SET_VALUE);
  if (k.Status() != ERROR_SUCCESS) return Result(k.Status());
  const std::wstring wide = W(value);
  return Result(::RegSetValueExW(k.Get(), W(name).c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(wide.c_str()),
                                 static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))));
}

int32_t RegSetDword(const std::u16string& key, const std::u16string& name, uint32_t value) {
  const CKey k(key, KEY_SET_VALUE);
  if (k.Status() != ERROR_SUCCESS) return Result(k.Status());
  const DWORD v = value;
  return Result(::RegSetValueExW(k.Get(), W(name).c_str(), 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&v), sizeof v));
}

}  // namespace platform
