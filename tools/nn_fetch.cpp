// nn_fetch: downloads through the engine's exported entry points, for tests
// that need a separate process (to kill it) and for the benchmarks.
//   nn_fetch nn <folder> <url>...   a list download (names after each URL's last "/")
//   nn_fetch n1 <folder> <url>...   one file from mirrors
// Prints the entry point's result; exits 0 when it is 1, else 1.
#include <cstdio>
#include <string>

#include "engine/nn_down.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: nn_fetch nn|n1 <folder> <url>...\n");
    return 2;
  }
  const std::string kind = argv[1];
  std::string list;
  for (int i = 3; i < argc; ++i) list += std::string(argv[i]) + "\r\n";
  const int32_t result = kind == "n1" ? NN_Down_n1(list.c_str(), argv[2], 0, 1, 500)
                                      : NN_Down_nn(list.c_str(), argv[2], 0, 1, 500);
  std::printf("%d\n", result);
  return result == 1 ? 0 : 1;
}
