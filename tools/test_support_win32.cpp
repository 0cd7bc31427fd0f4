// What the Windows tests need of the system beyond the platform layer.
#include "platform/win32/win32_prelude.h"

#include <cwchar>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tools/test_support.h"

namespace tools {

bool CreateSymbolicLink(const std::string& target, const std::string& linkPath) {
  std::u16string from = platform::Utf8ToUtf16(linkPath), to = platform::Utf8ToUtf16(target);
  for (char16_t& c : from) c = c == u'/' ? u'\\' : c;
  for (char16_t& c : to) c = c == u'/' ? u'\\' : c;
  const std::wstring wideFrom(from.begin(), from.end()), wideTo(to.begin(), to.end());
  const DWORD attributes = ::GetFileAttributesW(wideTo.c_str());
  DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
  }
  // Wine answers success and makes nothing: only a link that is there counts.
  return ::CreateSymbolicLinkW(wideFrom.c_str(), wideTo.c_str(), flags) != 0 &&
         (::GetFileAttributesW(wideFrom.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         ::GetFileAttributesW(wideFrom.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The stand-in (tools/win_client.c) lies beside the test programs.
std::string ClientStandInBytes() {
  return ReadWholeFile(platform::GetModuleFolder() + "win_client.exe");
}

platform::ProcessId StartRunningStandIn(const std::string& path) {
  WriteWholeFile(path, ClientStandInBytes());
  return platform::StartProcess(path, {path, "wait"}, "");
}

void ForgetRegistry() {
  HKEY software = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                      &software) != ERROR_SUCCESS) {
    return;
  }
  ::RegDeleteTreeW(software, L"Morvanic");
  HKEY microsoft = nullptr;
  if (::RegOpenKeyExW(software, L"Microsoft", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &microsoft) ==
      ERROR_SUCCESS) {
    std::vector<std::wstring> startupKeys;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
      DWORD n = 256;
      if (::RegEnumKeyExW(microsoft, i, name, &n, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      if (wcsncmp(name, L"QARN_STARTUP_", 13) == 0) startupKeys.emplace_back(name);
    }
    for (const std::wstring& key : startupKeys) ::RegDeleteTreeW(microsoft, key.c_str());
    ::RegCloseKey(microsoft);
  }
  ::RegCloseKey(software);
}

bool PrivilegeEnabled(const char* szName) {
  HANDLE hToken = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &hToken)) return false;
  const std::u16string name = platform::Utf8ToUtf16(szName);
  LUID luid = {};
  bool bEnabled = false;
  if (::LookupPrivilegeValueW(nullptr, reinterpret_cast<const wchar_t*>(name.c_str()), &luid)) {
    PRIVILEGE_SET set = {};
    set.PrivilegeCount = 1;
    set.Privilege[0].Luid = luid;
    BOOL bResult = FALSE;
    bEnabled = ::PrivilegeCheck(hToken, &set, &bResult) && bResult;
  }
  ::CloseHandle(hToken);
  return bEnabled;
}

bool DisablePrivilege(const char* szName) {
  HANDLE hToken = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &hToken)) return false;
  const std::u16string name = platform::Utf8ToUtf16(szName);
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = 0;
  const bool ok = ::LookupPrivilegeValueW(nullptr, reinterpret_cast<const wchar_t*>(name.c_str()),
                                          &privileges.Privileges[0].Luid) &&
                  ::AdjustTokenPrivileges(hToken, FALSE, &privileges, 0, nullptr, nullptr) &&
                  ::GetLastError() == ERROR_SUCCESS;
  ::CloseHandle(hToken);
  return ok;
}

}  // namespace tools
