#include "tools/test_support.h"

#include <cstdio>

#include "platform/clock.h"
#include "platform/file.h"

namespace tools {

CLogCapture::CLogCapture() {
  previous_ = platform::SetDebugSink([this](std::string_view line) {
    std::lock_guard<std::mutex> lock(lock_);
    lines_.emplace_back(line);
  });
}

CLogCapture::~CLogCapture() { platform::SetDebugSink(std::move(previous_)); }

std::vector<std::string> CLogCapture::Lines() {
  std::lock_guard<std::mutex> lock(lock_);
  return lines_;
}

std::vector<std::string> CLogCapture::Messages() {
  std::vector<std::string> messages;
  for (const std::string& line : Lines()) {
    size_t tabs = line.find("\t\t");
    messages.push_back(tabs == std::string::npos ? line : line.substr(tabs + 2));
  }
  return messages;
}

int CLogCapture::Count(const std::string& message) {
  int n = 0;
  for (const std::string& m : Messages()) n += m == message;
  return n;
}

// Through the platform's calls, which take UTF-8 paths on every system.
std::string ReadWholeFile(const std::string& path) {
  platform::CFile in(
      platform::OpenFile(path, platform::kFileRead, platform::FileDisposition::kOpenExisting));
  std::string text;
  if (!in.IsValid()) return text;
  char buffer[1 << 16];
  int64_t n;
  while ((n = platform::ReadFileAt(in.Get(), buffer, sizeof buffer,
                                   static_cast<int64_t>(text.size()))) > 0) {
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  platform::CFile out(
      platform::OpenFile(path, platform::kFileWrite, platform::FileDisposition::kCreateAlways));
  return out.IsValid() &&
         platform::WriteFileAt(out.Get(), bytes.data(), bytes.size(), 0) == bytes.size();
}

std::vector<RunLogNote> ReadRunLog() {
  const std::string text = ReadWholeFile("qarnAutoLog.log");
  std::vector<RunLogNote> notes;
  size_t pos = 0;
  while (pos < text.size() && text[pos] == '[') {
    size_t close = text.find("]\n", pos);
    if (close == std::string::npos) break;
    RunLogNote note{text.substr(pos + 1, close - pos - 1), ""};
    size_t value = close + 2;
    if (text.compare(value, 4, "log=") == 0) value += 4;
    size_t next = text.find("\n[", value);
    size_t end = next == std::string::npos ? text.size() : next + 1;
    note.text = text.substr(value, end - value);
    if (!note.text.empty() && note.text.back() == '\n') note.text.pop_back();
    notes.push_back(note);
    pos = end;
  }
  return notes;
}

std::vector<std::string> RunLogTexts() {
  std::vector<std::string> texts;
  for (const RunLogNote& note : ReadRunLog()) texts.push_back(note.text);
  return texts;
}

void DeleteRunLog() { std::remove("qarnAutoLog.log"); }

std::string PeHeader(uint16_t machine, uint32_t lfanew) {
  std::string bytes(lfanew + 24, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  for (int i = 0; i < 4; ++i) bytes[0x3C + i] = static_cast<char>(lfanew >> (8 * i));
  if (lfanew + 6 <= bytes.size()) {
    bytes.replace(lfanew, 4, std::string("PE\0\0", 4));
    bytes[lfanew + 4] = static_cast<char>(machine & 0xFF);
    bytes[lfanew + 5] = static_cast<char>(machine >> 8);
  }
  return bytes;
}

std::string WaitForFile(const std::string& path, unsigned dwMilliseconds) {
  const uint32_t dwStart = platform::GetTickCount();
  std::string text;
  while ((text = ReadWholeFile(path)).empty() &&
         platform::GetTickCount() - dwStart < dwMilliseconds) {
    platform::Sleep(50);
  }
  return text;
}

bool WaitUntilReplaceable(const std::string& path, unsigned dwMilliseconds) {
  // Opened for writing, nothing written: the file and its time stay as
  // they are, and Windows refuses the opening exactly while the program
  // runs from it.
  const uint32_t dwStart = platform::GetTickCount();
  for (;;) {
    platform::CFile f(
        platform::OpenFile(path, platform::kFileWrite, platform::FileDisposition::kOpenExisting));
    if (f.IsValid()) return true;
    if (platform::GetTickCount() - dwStart >= dwMilliseconds) return false;
    platform::Sleep(50);
  }
}

}  // namespace tools
