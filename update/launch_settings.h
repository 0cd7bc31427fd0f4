// What the updater fetches and from where: the launch argument string
// "URL$SUFFIX$NAME", the update location and the download list.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

// Written on the user-interface thread before any worker starts, read-only
// afterwards. UpdateUrl is the update location in use; the list download
// names its files after it.
inline constexpr int kSettingCapacity = 1024;
extern char16_t UpdateUrl[kSettingCapacity];
extern char16_t ArgUrl[kSettingCapacity];
extern char16_t EditionSuffix[kSettingCapacity];
extern char16_t ShortcutName[kSettingCapacity];
extern bool HasLaunchArguments;

// The update location used without an argument: "http://<host>/qarn".
std::u16string DefaultUpdateUrl();

// File names relative to UpdateUrl, in code-unit order; the values are
// always 0. Touched by one worker thread at a time.
extern std::map<std::u16string, int32_t> DownloadList;

// Parses the process's argument string into the settings above.
void ParseLaunchArguments();
// Parses the given argument string (the process's one, or a test's).
void ParseLaunchArguments(std::u16string_view args);

// UpdateUrl = ArgUrl when started with arguments (even when empty), else the
// default location. Always true.
bool SelectUpdateUrl();

// Selects the update location and puts "qarn.7z" on the list. -1 when
// szInstallDir is null, else 1. Does not clear the list.
int32_t PrepareDownloadList(const char16_t* szInstallDir);
