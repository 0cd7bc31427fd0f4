// The options a Linux user expects, answered before the updater touches
// anything: no lock, no folder, no network.
#pragma once

#include <cstdio>
#include <string>

// True when the argument string asks for an option rather than an update:
// its first argument begins with "-" (an update location never does).
bool IsOptionArgument(const std::string& firstArgument);

// Answers the option: -h/--help prints the usage on `out` and gives 0,
// -V/--version the version and 0; anything else the usage on `err` and 2.
int RunOption(const std::string& option, std::FILE* out, std::FILE* err);

// The usage text (argument, defaults, files and variables).
std::string UsageText();
