// Writes run-log notes: runlog_writer <tag> <count>. Each note is
// "<tag>-<i>" padded to a fixed width, so a torn note is easy to see.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/engine_log.h"
#include "platform/clock.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string tag = argv[1];
  const int n = std::atoi(argv[2]);
  for (int i = 0; i < n; ++i) {
    std::string note = tag + "-" + std::to_string(i) + std::string(64, '.');
    AppendRunLog(platform::Utf8ToUtf16(note));
    platform::Sleep(1);
  }
  return 0;
}
