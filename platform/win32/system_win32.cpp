#include <shlobj.h>
#include "platform/win32/win32_prelude.h"

#include "platform/env.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/system.h"
#include "platform/win32/win32_util.h"

namespace platform {
namespace {

std::string KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* pPath = nullptr;
  std::string folder;
  if (::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &pPath) == S_OK)
    folder = ToNativePath(Narrow(pPath));
  ::CoTaskMemFree(pPath);
  return folder;
}

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

}  // namespace

std::vector<DriveInfo> ListFixedDrives() { return CurrentEnv().FixedDrives(); }

// The fixed drives in letter order, as the design enumerates them; with
// the drive-scope variable set, only drives beneath that folder (tests).
std::vector<DriveInfo> MachineFixedDrives() {
  std::vector<DriveInfo> drives;
  const std::string scope = GetEnvironmentVariable(kDriveScopeVariable);
  wchar_t roots[512] = {};
  const DWORD n = ::GetLogicalDriveStringsW(511, roots);
  for (const wchar_t* p = roots; n > 0 && *p != L'\0'; p += wcslen(p) + 1) {
    if (::GetDriveTypeW(p) != DRIVE_FIXED) continue;
    const std::string root = WithSlash(ToNativePath(Narrow(p)));
    if (!scope.empty() && root.rfind(WithSlash(ToNativePath(scope)), 0) != 0) continue;
    ULARGE_INTEGER free{};
    ::GetDiskFreeSpaceExW(p, &free, nullptr, nullptr);
    drives.push_back({root, free.QuadPart});
  }
  if (!scope.empty() && drives.empty() && DirectoryExists(scope)) {
    ULARGE_INTEGER free{};
    ::GetDiskFreeSpaceExW(WidePath(scope).c_str(), &free, nullptr, nullptr);
    drives.push_back({WithSlash(ToNativePath(scope)), free.QuadPart});
  }
  return drives;
}

bool IsNative64Bit() {
  SYSTEM_INFO info{};
  ::GetNativeSystemInfo(&info);
  return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
         info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64 ||
         info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
}

std::string DesktopFolder() {
  const std::string desktop = KnownFolder(FOLDERID_Desktop);
  return DirectoryExists(desktop) ? desktop : std::string();
}

std::string ApplicationsFolder() {
  const std::string programs = KnownFolder(FOLDERID_Programs);
  return !programs.empty() && CreateDirectories(programs) ? programs : std::string();
}

}  // namespace platform
