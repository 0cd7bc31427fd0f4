#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include "platform/win32/win32_prelude.h"

#include "platform/file.h"
#include "platform/launcher.h"
#include "platform/launcher_primitives.h"
#include "platform/system.h"
#include "platform/win32/win32_util.h"

namespace platform {
namespace {

// Writes the shell link at path, replacing an earlier one.
bool WriteShellLink(const std::string& path, const Launcher& launcher) {
  const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IShellLinkW* pLink = nullptr;
  bool ok = SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IShellLinkW, reinterpret_cast<void**>(&pLink)));
  if (ok) {
    pLink->SetPath(WidePath(launcher.program).c_str());
    pLink->SetWorkingDirectory(WidePath(launcher.workingFolder).c_str());
    pLink->SetDescription(Wide(launcher.comment).c_str());
    IPersistFile* pFile = nullptr;
    ok = SUCCEEDED(pLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pFile)));
    if (ok) {
      ok = SUCCEEDED(pFile->Save(WidePath(path).c_str(), TRUE));
      pFile->Release();
    }
    pLink->Release();
  }
  if (SUCCEEDED(init)) ::CoUninitialize();
  return ok;
}

}  // namespace

// The name becomes a file name on the desktop: nothing that names another
// folder, nothing Windows refuses in a name, no control characters.
bool sys::IsLauncherName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 200) return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F ||
        std::string("/\\:*?\"<>|").find(static_cast<char>(c)) != std::string::npos) {
      return false;
    }
  }
  return true;
}

std::string sys::LauncherFileName(const std::string& name) { return name + ".lnk"; }

bool sys::WriteLauncherFile(const std::string& path, const Launcher& launcher) {
  return WriteShellLink(path, launcher);
}

// The design's shortcut: on the desktop alone.
void sys::WriteOtherLaunchers(const Launcher&, std::vector<std::string>*) {}

}  // namespace platform
