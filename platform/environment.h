// The process environment: variables, working folder, temporary folders.
#pragma once

#include <string>

namespace platform {

// "" when unset.
std::string GetEnvironmentVariable(const std::string& name);
void SetEnvironmentVariable(const std::string& name, const std::string& value);
void UnsetEnvironmentVariable(const std::string& name);

// The arguments after the program name joined by single blanks ("" without
// arguments); readable from static initialisation on.
std::string GetArgumentString();

std::string GetCurrentDirectory();
bool SetCurrentDirectory(const std::string& path);

// Makes a new, empty, private folder under the system's temporary folder and
// returns its path ("" on failure).
std::string MakeTempFolder(const std::string& prefix);

// Deletes the folder and everything in it, not following links.
bool RemoveTree(const std::string& path);

}  // namespace platform
