#include "platform/message_box.h"

#include <atomic>
#include <cstdio>
#include <iostream>
#include <mutex>

#include "platform/env.h"
#include "platform/prompt_window.h"
#include "platform/text.h"

namespace platform {
namespace {

std::mutex g_promptLock;  // one terminal prompt at a time
std::atomic<PromptWindowFunction> g_pWindowPrompt{nullptr};

bool IsYes(std::string answer) {
  while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
  while (!answer.empty() && answer.front() == ' ') answer.erase(0, 1);
  for (char& c : answer) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return answer == "y" || answer == "yes" || answer == "ok";
}

}  // namespace

void SetPromptWindowFunction(PromptWindowFunction pFunction) { g_pWindowPrompt = pFunction; }

int MessageBox(const std::u16string& text, const std::u16string& caption, PromptButtons buttons) {
  const bool bOkOnly = buttons == PromptButtons::kOk;
  // Windows do not wait for each other: each prompt has its own.
  if (PromptWindowFunction pWindowPrompt = g_pWindowPrompt) {
    const int nAnswer = pWindowPrompt(text, caption, bOkOnly);
    if (nAnswer > 0) return nAnswer;
  }
  std::lock_guard<std::mutex> lock(g_promptLock);
  std::fprintf(stderr, "[%s] %s\n%s ", Utf16ToUtf8(caption).c_str(), Utf16ToUtf8(text).c_str(),
               bOkOnly ? "[ok]" : "[ok/cancel]");
  std::fflush(stderr);
  std::string line;
  const bool bGot = CurrentEnv().ReadAnswerLine(&line);
  if (bOkOnly) return IDOK;
  return bGot && IsYes(line) ? IDOK : IDCANCEL;
}

}  // namespace platform
