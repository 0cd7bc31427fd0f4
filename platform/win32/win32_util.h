// What the Windows implementations share: UTF-8 and the system's wide
// strings, and paths in the form every wide call takes.
#pragma once

#include "platform/win32/win32_prelude.h"

#include <string>

namespace platform {

inline std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

inline std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}

// A path with "\" separators, as a wide string.
inline std::wstring WidePath(const std::string& path) {
  std::wstring wide = Wide(path);
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  return wide;
}

inline HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
inline intptr_t FromHandle(HANDLE h) {
  return h == INVALID_HANDLE_VALUE || h == nullptr ? -1 : reinterpret_cast<intptr_t>(h);
}

}  // namespace platform
