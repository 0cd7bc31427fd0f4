#include "platform/debug_channel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform {
namespace {

std::mutex g_sinkLock;
DebugSink g_sink;  // guarded by g_sinkLock

// A debugger shows every call as a record of its own; in a stream the
// records would run together, so each one ends with a line break there.
void WriteRecord(FILE* f, std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), f);
  if (line.empty() || line.back() != '\n') std::fputc('\n', f);
}

void WriteToEnvironmentChoice(std::string_view line) {
  const char* target = std::getenv(kDebugLogVariable);
  if (target == nullptr || *target == '\0') return;
  if (std::strcmp(target, "stderr") == 0) {
    WriteRecord(stderr, line);
    std::fflush(stderr);
    return;
  }
  if (FILE* f = std::fopen(target, "ab")) {
    WriteRecord(f, line);
    std::fclose(f);
  }
}

}  // namespace

void OutputDebugText(std::string_view line) {
  std::lock_guard<std::mutex> lock(g_sinkLock);
  if (g_sink) {
    g_sink(line);
  } else {
    WriteToEnvironmentChoice(line);
  }
}

DebugSink SetDebugSink(DebugSink sink) {
  std::lock_guard<std::mutex> lock(g_sinkLock);
  DebugSink previous = std::move(g_sink);
  g_sink = std::move(sink);
  return previous;
}

}  // namespace platform
