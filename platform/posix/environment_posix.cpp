#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "platform/environment.h"
#include "platform/file.h"

namespace platform {

std::string GetEnvironmentVariable(const std::string& name) {
  const char* value = ::getenv(name.c_str());
  return value == nullptr ? std::string() : std::string(value);
}

void SetEnvironmentVariable(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}

void UnsetEnvironmentVariable(const std::string& name) { ::unsetenv(name.c_str()); }

std::string GetArgumentString() {
  std::FILE* f = std::fopen("/proc/self/cmdline", "rb");
  if (f == nullptr) return std::string();
  std::string all;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) all.append(buffer, n);
  std::fclose(f);
  // argv[0], then each argument, every one ended by a zero byte.
  const size_t first = all.find('\0');
  if (first == std::string::npos || first + 1 >= all.size()) return std::string();
  std::string args = all.substr(first + 1);
  if (!args.empty() && args.back() == '\0') args.pop_back();
  std::replace(args.begin(), args.end(), '\0', ' ');
  return args;
}

std::string GetCurrentDirectory() {
  char buffer[4096];
  return ::getcwd(buffer, sizeof buffer) == nullptr ? std::string() : std::string(buffer);
}

bool SetCurrentDirectory(const std::string& path) {
  return ::chdir(ToNativePath(path).c_str()) == 0;
}

std::string MakeTempFolder(const std::string& prefix) {
  std::string base = GetEnvironmentVariable("TMPDIR");
  if (base.empty()) base = "/tmp";
  std::string pattern = base + "/" + prefix + "XXXXXX";
  return ::mkdtemp(pattern.data()) == nullptr ? std::string() : pattern;
}

bool RemoveTree(const std::string& path) {
  auto remove = [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); };
  return ::nftw(ToNativePath(path).c_str(), remove, 16, FTW_DEPTH | FTW_PHYS) == 0;
}

}  // namespace platform
