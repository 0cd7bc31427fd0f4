#include "platform/debug_channel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform {
namespace {

std::mutex g_sinkLock;
DebugSink g_sink;  // guarded by g_sinkLock

void WriteToEnvironmentChoice(std::string_view line) {
  const char* target = std::getenv(kDebugLogVariable);
  if (target == nullptr || *target == '\0') return;
  if (std::strcmp(target, "stderr") == 0) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return;
  }
  if (FILE* f = std::fopen(target, "ab")) {
    std::fwrite(line.data(), 1, line.size(), f);
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
