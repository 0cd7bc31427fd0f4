// What the updater fetches and from where: the launch argument string
// "URL$SUFFIX$NAME", the update location and the download list.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

// Fields longer than the design's arrays are cut at kSettingCapacity - 1
// units, the install folder at kInstallDirCapacity - 1.
inline constexpr int kSettingCapacity = 1024;
inline constexpr int kInstallDirCapacity = 260;

// What one run of the updater works with. Built on the user-interface
// thread before any worker starts (ParseLaunchArguments, then
// DiscoverInstallDir), then handed to the worker that runs the update,
// which alone changes the download list.
struct UpdateSettings {
  // The launch argument's fields; HasLaunchArguments even when they are
  // empty.
  std::u16string ArgUrl;
  std::u16string EditionSuffix;
  std::u16string ShortcutName;
  bool HasLaunchArguments = false;
  // The update location in use (SelectUpdateUrl); the list download names
  // its files after it.
  std::u16string UpdateUrl;
  // File names relative to UpdateUrl, in code-unit order; the values are
  // always 0.
  std::map<std::u16string, int32_t> DownloadList;
  // The install folder, absolute, with "/" separators and no trailing one.
  std::u16string InstallDir;
};

// The update location used without an argument: "http://<host>/qarn".
std::u16string DefaultUpdateUrl();

// The settings of the process's argument string.
UpdateSettings ParseLaunchArguments();
// The settings of the given argument string (the process's one, or a
// test's).
UpdateSettings ParseLaunchArguments(std::u16string_view args);

// UpdateUrl = ArgUrl when started with arguments (even when empty), else the
// default location. Always true.
bool SelectUpdateUrl(UpdateSettings* pSettings);

// Selects the update location and puts "qarn.7z" on the list. -1 when
// szInstallDir is null, else 1. Does not clear the list.
int32_t PrepareDownloadList(UpdateSettings* pSettings, const char16_t* szInstallDir);

// The install folder as the settings keep it: "/" separators, cut at
// kInstallDirCapacity - 1 units.
std::u16string InstallFolderSetting(std::u16string folder);
