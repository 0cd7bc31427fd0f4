#include "update/process_control.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/engine_log.h"
#include "platform/clock.h"
#include "platform/crash_dump.h"
#include "platform/environment.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/program_start.h"
#include "platform/text.h"
#include "ui/language_texts.h"
#include "update/install_location.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

int32_t ReaderThread(const std::shared_ptr<CUpdate::Pipes>& pPipes, const std::function<void()>& onQuit) {
  for (;;) {
    char buffer[6] = {};
    if (platform::ReadPipe(pPipes->fromChild.readEnd.Get(), buffer, 5) <= 0) return 0;
    if (std::strcmp(buffer, "Quit") == 0) {
      pPipes->fromChild.readEnd.Close();
      pPipes->toChild.writeEnd.Close();
      TerminateP2pProcess();
      if (onQuit) onQuit();
      return 0;
    }
    platform::Sleep(200);
  }
}

}  // namespace

int32_t EnablePrivilege(const char* szName) {
  // The words go to standard output only: a caller never stops for them.
  switch (platform::EnablePrivilege(szName)) {
    case platform::PrivilegeResult::kEnabled:
      return 0;
    case platform::PrivilegeResult::kNoToken:
      std::fputs("OpenProcessToken error.\n", stdout);
      break;
    case platform::PrivilegeResult::kUnknownPrivilege:
      std::fputs("LookupPrivilege error!\n", stdout);
      break;
    case platform::PrivilegeResult::kNotAdjusted:
      std::fputs("AdjustTokenPrivileges error!\n", stdout);
      break;
  }
  return 1;
}

int PlainPrompt(const std::u16string& text, const std::u16string& caption,
                platform::PromptButtons buttons) {
  return platform::MessageBox(text, caption, buttons);
}

int32_t CloseRunningClients(const std::u16string& exeName, const AskFn& ask) {
  EnablePrivilege("SeDebugPrivilege");
  const std::string wanted = Lower(platform::Utf16ToUtf8(exeName));
  std::vector<platform::ProcessId> found;
  for (const platform::ProcessEntry& p : platform::SnapshotProcesses()) {
    if (Lower(p.exeName) == wanted) found.push_back(p.pid);
  }
  if (found.empty()) return 1;
  if (ask(GetText(TextKey::Updating), u"tips", platform::PromptButtons::kOkCancel) !=
      platform::IDOK) {
    return -1;
  }
  for (platform::ProcessId pid : found) {
    platform::Sleep(500);
    platform::TerminateProcess(pid);
  }
  return 1;
}

void TerminateP2pProcess() {
  EnablePrivilege("SeDebugPrivilege");
  for (const platform::ProcessEntry& p : platform::SnapshotProcesses()) {
    if (Lower(p.exeName) == "p2p.exe") {
      platform::Sleep(500);
      platform::TerminateProcess(p.pid);
      return;
    }
  }
}

namespace {

// The run-log note and the player's prompt for a program that could not
// be started (`what` names it in the note).
void NoteNotStarted(const std::string& what, const std::string& why, const AskFn& ask) {
  AppendRunLog(platform::Utf8ToUtf16(what + " not started: " + why));
  std::string format = platform::Utf16ToUtf8(GetText(TextKey::NoClientStart));
  std::u16string text = GetText(TextKey::NoClientStart);
  const size_t at = format.find("%s");
  if (at != std::string::npos) text = platform::Utf8ToUtf16(format.replace(at, 2, why));
  // Before the texts are loaded (the self-update check runs that early)
  // the reason is all there is to say.
  if (text.empty()) text = platform::Utf8ToUtf16(why);
  ask(text, u"tips", platform::PromptButtons::kOk);
}

}  // namespace

int32_t LaunchClient(const std::u16string& installDir, const AskFn& ask) {
  const std::string folder = platform::Utf16ToUtf8(installDir);
  // argv[0] is the real path, so a client that finds its files from it
  // looks in its own folder.
  const std::string program = platform::ToNativePath(folder + "/play.exe");
  std::string note;
  platform::Outcome started;
  const bool bStarted = platform::StartProgram(program, {"blacknull"}, folder, &note, &started) !=
                        platform::kInvalidProcess;
  const std::string why = started.text();
  if (!note.empty()) AppendRunLog(platform::Utf8ToUtf16(note));
  if (bStarted) return 1;
  NoteNotStarted("client", why, ask);
  return 0;
}

CUpdate::CUpdate(const std::string& argumentString, const std::string& exeFolder,
                 std::function<void()> onQuit) {
  Start(argumentString, exeFolder, std::move(onQuit));
}

CUpdate::CUpdate(std::function<void()> onQuit) {
  Start(platform::GetArgumentString(), platform::GetModuleFolder(), std::move(onQuit));
}

void CUpdate::Start(const std::string& argumentString, const std::string& exeFolder,
                    std::function<void()> onQuit) {
  bPipesOpen = false;
  if (argumentString.empty()) return;
  auto pPipes = std::make_shared<Pipes>();
  if (!platform::CreatePipe(&pPipes->toChild) || !platform::CreatePipe(&pPipes->fromChild)) return;
  pPipes_ = pPipes;
  bPipesOpen = true;
  // Started the way the system runs it, as the client is.
  const std::string program = exeFolder + "Update.exe";
  const platform::FileHandle out = pPipes->fromChild.writeEnd.Get();
  std::string note;
  platform::Outcome started;
  const bool bStarted =
      platform::StartProgramWithStdio(program, {}, {pPipes->toChild.readEnd.Get(), out, out}, &note,
                                      &started) != platform::kInvalidProcess;
  const std::string why = started.text();
  if (!note.empty()) AppendRunLog(platform::Utf8ToUtf16(note));
  if (!bStarted && platform::FileExists(program)) {
    // Only a program that is there but cannot run is worth a word; most
    // installations have no self-update program at all.
    NoteNotStarted("self-update program " + program, why, PlainPrompt);
  }
  hReaderThread = std::thread([pPipes, onQuit = std::move(onQuit)] {
    platform::PrepareThreadForCrashDump();
    ReaderThread(pPipes, onQuit);
  });
  // It blocks in its read for the life of the process.
  hReaderThread.detach();
}

CUpdate::~CUpdate() {
  // The reader is detached and ends with the process; it shares the pipes,
  // so they stay open under it and it never reads from a reused handle.
}
