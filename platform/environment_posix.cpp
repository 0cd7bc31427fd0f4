#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

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
