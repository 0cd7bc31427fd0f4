#include <windows.h>
#include <tlhelp32.h>
#include "platform/win32/win32_prelude.h"

#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/env.h"
#include "platform/environment.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/process.h"
#include "platform/win32/win32_util.h"

namespace platform {
namespace {

// The handles of the children we started, so that waiting for one by its
// id finds the very process and its exit code.
std::mutex g_childLock;
std::map<ProcessId, HANDLE> g_children;  // guarded by g_childLock

// One argument as the C library of the child splits the command line:
// quoted when it holds blanks or quotes, backslashes doubled before a quote.
std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

// An inheritable copy of the handle for the child; the caller closes it.
HANDLE Inheritable(HANDLE h) {
  HANDLE copy = nullptr;
  if (h == nullptr || h == INVALID_HANDLE_VALUE ||
      !::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

ProcessId Spawn(const std::string& program, const std::vector<std::string>& args,
                const std::string& workingFolder, const StandardHandles& stdio, bool bDetached,
                Outcome* pWhy) {
  std::wstring commandLine;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) commandLine += L' ';
    commandLine += QuoteArgument(Wide(args[i]));
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  HANDLE given[3] = {nullptr, nullptr, nullptr};
  const bool bStdio = stdio.in.IsValid() || stdio.out.IsValid() || stdio.err.IsValid();
  // Handles are inherited one start at a time, so no other child started
  // meanwhile receives them.
  static std::mutex inheritLock;
  std::lock_guard<std::mutex> inherit(inheritLock);
  if (bStdio) {
    const FileHandle wanted[3] = {stdio.in, stdio.out, stdio.err};
    const DWORD ours[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
      given[i] = Inheritable(wanted[i].IsValid() ? AsHandle(wanted[i].h) : ::GetStdHandle(ours[i]));
    }
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = given[0];
    startup.hStdOutput = given[1];
    startup.hStdError = given[2];
  }
  PROCESS_INFORMATION info{};
  const std::wstring folder = WidePath(workingFolder);
  const DWORD flags =
      CREATE_UNICODE_ENVIRONMENT | (bDetached ? DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP : 0);
  const BOOL ok = ::CreateProcessW(
      WidePath(program).c_str(), commandLine.data(), nullptr, nullptr, bStdio ? TRUE : FALSE, flags,
      nullptr, workingFolder.empty() ? nullptr : folder.c_str(), &startup, &info);
  const DWORD error = ::GetLastError();
  for (HANDLE h : given) {
    if (h != nullptr) ::CloseHandle(h);
  }
  if (!ok) {
    if (pWhy != nullptr) *pWhy = Outcome::System(static_cast<int>(error), program);
    return kInvalidProcess;
  }
  ::CloseHandle(info.hThread);
  const auto pid = static_cast<ProcessId>(info.dwProcessId);
  if (bDetached) {
    ::CloseHandle(info.hProcess);  // nobody waits for it
  } else {
    std::lock_guard<std::mutex> lock(g_childLock);
    g_children[pid] = info.hProcess;
  }
  return pid;
}

// The process's handle for waiting: ours from its start, else opened.
HANDLE TakeHandle(ProcessId pid, bool* pOwned) {
  {
    std::lock_guard<std::mutex> lock(g_childLock);
    const auto it = g_children.find(pid);
    if (it != g_children.end()) {
      *pOwned = true;
      return it->second;
    }
  }
  *pOwned = false;
  return ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                       static_cast<DWORD>(pid));
}

void Forget(ProcessId pid, HANDLE h, bool bOwned) {
  if (bOwned) {
    std::lock_guard<std::mutex> lock(g_childLock);
    g_children.erase(pid);
  }
  ::CloseHandle(h);
}

}  // namespace

ProcessId StartProcess(const std::string& program, const std::vector<std::string>& args,
                       const std::string& workingFolder, Outcome* pWhy) {
  return Spawn(program, args, workingFolder, StandardHandles{}, false, pWhy);
}

ProcessId StartDetachedProcess(const std::string& program, const std::vector<std::string>& args,
                               const std::string& workingFolder, Outcome* pWhy) {
  return Spawn(program, args, workingFolder, StandardHandles{}, true, pWhy);
}

ProcessId StartProcessWithStdio(const std::string& program, const std::vector<std::string>& args,
                                const std::string& workingFolder, const StandardHandles& stdio,
                                Outcome* pWhy) {
  return Spawn(program, args, workingFolder, stdio, false, pWhy);
}

std::string FindProgramOnPath(const std::string& name) {
  if (name.empty()) return std::string();
  if (name.find_first_of("/\\") != std::string::npos)
    return FileExists(name) ? name : std::string();
  wchar_t found[MAX_PATH + 1] = {};
  if (::SearchPathW(nullptr, Wide(name).c_str(), L".exe", MAX_PATH + 1, found, nullptr) == 0) {
    return std::string();
  }
  return ToNativePath(Narrow(found));
}

int WaitProcess(ProcessId pid) {
  bool bOwned = false;
  const HANDLE h = TakeHandle(pid, &bOwned);
  if (h == nullptr) return -1;
  DWORD code = 0;
  const bool ok =
      ::WaitForSingleObject(h, INFINITE) == WAIT_OBJECT_0 && ::GetExitCodeProcess(h, &code);
  Forget(pid, h, bOwned);
  return ok ? static_cast<int>(code) : -1;
}

bool PollProcess(ProcessId pid, int* pCode) {
  bool bOwned = false;
  const HANDLE h = TakeHandle(pid, &bOwned);
  if (h == nullptr) {
    *pCode = -1;
    return false;
  }
  if (::WaitForSingleObject(h, 0) == WAIT_TIMEOUT) {
    if (!bOwned) ::CloseHandle(h);
    return true;
  }
  DWORD code = 0;
  *pCode = ::GetExitCodeProcess(h, &code) ? static_cast<int>(code) : -1;
  Forget(pid, h, bOwned);
  return false;
}

ProcessId GetCurrentProcessId() { return static_cast<ProcessId>(::GetCurrentProcessId()); }

std::vector<ProcessEntry> SnapshotProcesses() { return CurrentEnv().Processes(); }

std::vector<ProcessEntry> MachineProcessSnapshot() {
  std::vector<ProcessEntry> processes;
  const std::string scope = GetEnvironmentVariable(kProcessScopeVariable);
  const long scopeParent = scope.empty() ? -1 : std::strtol(scope.c_str(), nullptr, 10);
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return processes;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
       more = ::Process32NextW(snapshot, &entry)) {
    if (scopeParent > 0 && static_cast<long>(entry.th32ParentProcessID) != scopeParent) continue;
    processes.push_back({static_cast<ProcessId>(entry.th32ProcessID), Narrow(entry.szExeFile)});
  }
  ::CloseHandle(snapshot);
  return processes;
}

Outcome CreatePipe(Pipe* pPipe) {
  HANDLE read = nullptr, write = nullptr;
  if (!::CreatePipe(&read, &write, nullptr, 0))
    return Outcome::System(static_cast<int>(::GetLastError()), "pipe");
  pPipe->readEnd = CFile(FileHandle{FromHandle(read)});
  pPipe->writeEnd = CFile(FileHandle{FromHandle(write)});
  return Outcome::OK();
}

int64_t ReadPipe(FileHandle h, void* buffer, size_t n) {
  DWORD got = 0;
  const DWORD step = static_cast<DWORD>(n > 0x40000000u ? 0x40000000u : n);
  if (!::ReadFile(AsHandle(h.h), buffer, step, &got, nullptr)) {
    // The writer's end closed: the end of the pipe, not a failure.
    return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  }
  return got;
}

void ExitProcess(int nCode) {
  // At once, as the other system's _exit: no exit handlers, no library
  // detach notifications.
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(nCode));
  std::abort();
}

bool TerminateProcess(ProcessId pid) {
  const HANDLE h = ::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
  if (h == nullptr) return false;
  const bool ok = ::TerminateProcess(h, 1) != 0;
  ::CloseHandle(h);
  return ok;
}

PrivilegeResult EnablePrivilege(const char* szName) {
  HANDLE hToken = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &hToken)) {
    return PrivilegeResult::kNoToken;
  }
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  PrivilegeResult result = PrivilegeResult::kEnabled;
  if (!::LookupPrivilegeValueW(nullptr, Wide(szName).c_str(), &privileges.Privileges[0].Luid)) {
    result = PrivilegeResult::kUnknownPrivilege;
  } else if (!::AdjustTokenPrivileges(hToken, FALSE, &privileges, 0, nullptr, nullptr)) {
    // A token that lacks the privilege altogether still answers success
    // (ERROR_NOT_ALL_ASSIGNED); only a failed call counts, as callers go on
    // either way.
    result = PrivilegeResult::kNotAdjusted;
  }
  ::CloseHandle(hToken);
  return result;
}

std::string GetModuleFileName() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::string();
    if (n < path.size()) {
      path.resize(n);
      return ToNativePath(Narrow(path));
    }
    path.resize(path.size() * 2);
  }
}

std::string GetModuleFolder() {
  const std::string exe = GetModuleFileName();
  return exe.substr(0, exe.rfind('/') + 1);
}

}  // namespace platform
