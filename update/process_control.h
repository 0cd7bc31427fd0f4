// What the updater does to other processes: closes running clients after
// asking, ends the companion program, starts the client, and hands over to
// the self-update program when started with arguments.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/process.h"
#include "update/prompt.h"

// Enables the privilege for the process scans that follow: 0 on success,
// 1 (with the failed step's words on standard output) on failure. Linux has
// no privilege to take: always 0.
int32_t EnablePrivilege(const char* szName);

// Finds every process named exeName (ignoring case); when there are any,
// asks once with the "Updating" prompt and ends them 500 ms apart. -1 when
// the player refused, 1 when done (or none ran), 0 when the process list
// cannot be read.
int32_t CloseRunningClients(const std::u16string& exeName, const AskFn& ask = PlainPrompt);

// Ends the first process named "p2p.exe" (any case) after 500 ms.
void TerminateP2pProcess();

// Starts <installDir>/play.exe with the argument "blacknull" in installDir,
// detached so it outlives the updater, the way the system runs it.
// 1 when it was started; 0 when it could not be, after a run-log note and a
// prompt (OK alone) that tells the player why.
int32_t LaunchClient(const std::u16string& installDir, const AskFn& ask = PlainPrompt);

// The self-update check. Built once in the updater's static initialisation:
// when the process was started with arguments, it starts "Update.exe" from
// the executable's folder with piped standard handles and a reader thread
// that, when the program writes "Quit" and a zero byte, ends "p2p.exe" and
// calls onQuit (the application ends the process there, with code 0).
class CUpdate {
 public:
  // argumentString: the process's arguments joined by blanks; exeFolder:
  // the folder of the executable, ending in "/". onQuit runs on the reader
  // thread.
  CUpdate(const std::string& argumentString, const std::string& exeFolder, std::function<void()> onQuit);
  explicit CUpdate(std::function<void()> onQuit);  // the running process's own
  virtual ~CUpdate();
  CUpdate(const CUpdate&) = delete;
  CUpdate& operator=(const CUpdate&) = delete;

  // Both pipes, ours and the program's ends: the program's own are held
  // too, so the reader never sees end of input while the updater runs.
  struct Pipes {
    platform::Pipe toChild;    // its input, never written
    platform::Pipe fromChild;  // its output and errors
  };

  bool bPipesOpen = false;
  std::thread hReaderThread;

 private:
  void Start(const std::string& argumentString, const std::string& exeFolder, std::function<void()> onQuit);
  std::shared_ptr<Pipes> pPipes_;  // shared with the reader thread
};
