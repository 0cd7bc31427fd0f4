#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include "platform/win32/win32_prelude.h"

#include <shellapi.h>

#include <cstdlib>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/win32/win32_util.h"

namespace platform {

std::string GetEnvironmentVariable(const std::string& name) {
  const std::wstring wide = Wide(name);
  const DWORD n = ::GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
  if (n == 0) return std::string();
  std::wstring value(n, L'\0');
  const DWORD got = ::GetEnvironmentVariableW(wide.c_str(), value.data(), n);
  value.resize(got);
  return Narrow(value);
}

void SetEnvironmentVariable(const std::string& name, const std::string& value) {
  ::SetEnvironmentVariableW(Wide(name).c_str(), Wide(value).c_str());
  // The C library keeps a copy that getenv reads.
  ::_wputenv_s(Wide(name).c_str(), Wide(value).c_str());
}

void UnsetEnvironmentVariable(const std::string& name) {
  ::SetEnvironmentVariableW(Wide(name).c_str(), nullptr);
  ::_wputenv_s(Wide(name).c_str(), L"");
}

std::string GetArgumentString() {
  // The arguments as the program receives them: a quoted argument loses its
  // quotes (a launcher quotes "URL$SUFFIX$NAME" when the name has blanks).
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv == nullptr) return std::string();
  std::wstring joined;
  for (int i = 1; i < argc; ++i) joined += (i > 1 ? L" " : L"") + std::wstring(argv[i]);
  ::LocalFree(argv);
  return Narrow(joined);
}

std::string GetCurrentDirectory() {
  const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  std::wstring folder(n, L'\0');
  folder.resize(::GetCurrentDirectoryW(n, folder.data()));
  return ToNativePath(Narrow(folder));
}

bool SetCurrentDirectory(const std::string& path) {
  return ::SetCurrentDirectoryW(WidePath(path).c_str()) != 0;
}

std::string MakeTempFolder(const std::string& prefix) {
  wchar_t base[MAX_PATH + 1] = {};
  if (::GetTempPathW(MAX_PATH + 1, base) == 0) return std::string();
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::wstring folder = std::wstring(base) + Wide(prefix) +
                                std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                std::to_wstring(::GetTickCount64() + attempt);
    if (::CreateDirectoryW(folder.c_str(), nullptr)) return ToNativePath(Narrow(folder));
    if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return std::string();
}

bool RemoveTree(const std::string& path) {
  const DWORD a = ::GetFileAttributesW(WidePath(path).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  // A link to a folder goes as a link; what it points at stays.
  if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0) return ::DeleteFileW(WidePath(path).c_str()) != 0;
  bool ok = true;
  if ((a & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    for (const DirEntry& e : ListDirectory(path)) ok = RemoveTree(path + "/" + e.name) && ok;
  }
  return ::RemoveDirectoryW(WidePath(path).c_str()) != 0 && ok;
}

}  // namespace platform
