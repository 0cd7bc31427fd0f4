// Helpers shared by every test: a private folder per test program and a
// capture of the engine log.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/debug_channel.h"
#include "platform/file.h"
#include "platform/process.h"

namespace tools {

// Captures every line of the debugger channel while it lives.
class CLogCapture {
 public:
  CLogCapture();
  ~CLogCapture();
  std::vector<std::string> Lines();
  // The messages with their "MM-DD hh:mm:ss\t\t" prefix removed.
  std::vector<std::string> Messages();
  int Count(const std::string& message);

 private:
  std::mutex lock_;
  std::vector<std::string> lines_;  // guarded by lock_
  platform::DebugSink previous_;
};

// The folder the test program runs in (its working folder, HOME and XDG_*).
const std::string& TestFolder();

// Reads a whole file; "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::string& bytes);

struct RunLogNote {
  std::string section;
  std::string text;
};

// The notes of the run log in the working folder, in file order. A note
// text may hold line ends of its own; it runs until the next section.
std::vector<RunLogNote> ReadRunLog();
// Only the note texts.
std::vector<std::string> RunLogTexts();
void DeleteRunLog();

// The smallest file a PE classification looks at: a DOS header whose
// e_lfanew points at a PE signature and a machine field (0x8664 x86-64,
// 0x014C i386).
std::string PeHeader(uint16_t machine, uint32_t lfanew = 0x40);

// For tests of a program installed for everybody: whether the test runs as
// the superuser, and handing a folder to another user (nobody's uid).
bool RunningAsSuperuser();
bool GiveToNobody(const std::string& path);

// A pseudo-terminal pair: *pMaster reads what a program writes to *pSlave,
// whose window is `columns` wide. False when none can be made.
bool OpenPseudoTerminal(int columns, platform::CFile* pMaster, platform::CFile* pSlave);
// Appends what has arrived on a pipe or terminal to *pText, waiting up to
// the time-out for the first bytes; false at end of input or time-out.
bool ReadAvailable(platform::FileHandle h, uint32_t dwMilliseconds, std::string* pText);

// Makes a symbolic link at linkPath that points at target (the trees a
// hostile package would leave).
bool CreateSymbolicLink(const std::string& target, const std::string& linkPath);

// A stand-in client for a package's play.exe: started with an argument, it
// writes a line beginning with that argument to "started.txt" beside
// itself (a script here, a Windows program on Windows). Its bytes.
std::string ClientStandInBytes();

// Starts a program at the path (which it copies there first) that runs
// until it is ended: a client the updater must close.
platform::ProcessId StartRunningStandIn(const std::string& path);

// Empties the registry the tests see: the registry file; on Windows, the
// keys the updater writes, in the tests' own Wine prefix.
void ForgetRegistry();

// Waits up to the time-out for the file to hold text; its content.
std::string WaitForFile(const std::string& path, unsigned dwMilliseconds);

// Waits up to the time-out until the file can be opened for writing: on
// Windows a program that still runs cannot be, nor replaced by an update.
// False when the time ran out.
bool WaitUntilReplaceable(const std::string& path, unsigned dwMilliseconds);

#ifdef _WIN32
// Whether the named privilege is enabled in the own process's token.
bool PrivilegeEnabled(const char* szName);
// Disables it there; false when the token cannot be changed.
bool DisablePrivilege(const char* szName);
#endif

}  // namespace tools
