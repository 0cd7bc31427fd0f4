#include "update/launch_settings.h"

#include <algorithm>
#include <cwctype>

#include "platform/environment.h"
#include "platform/text.h"
#include "update/package_signature.h"

#ifndef QARNAUTO_UPDATE_HOST
#error "the build sets QARNAUTO_UPDATE_HOST, the default update server"
#endif

namespace {

// A field as the design's fixed arrays held it: cut at 1023 units, and at
// its first NUL.
std::u16string Setting(std::u16string_view text) {
  text = text.substr(0, std::min(text.find(u'\0'), static_cast<size_t>(kSettingCapacity - 1)));
  return std::u16string(text);
}

std::u16string_view Trim(std::u16string_view text) {
  auto blank = [](char16_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::u16string DefaultUpdateUrl() {
  return u"http://" + platform::Utf8ToUtf16(QARNAUTO_UPDATE_HOST) + u"/qarn";
}

UpdateSettings ParseLaunchArguments() {
  return ParseLaunchArguments(platform::Utf8ToUtf16(platform::GetArgumentString()));
}

UpdateSettings ParseLaunchArguments(std::u16string_view args) {
  UpdateSettings settings;
  if (args.empty()) return settings;
  std::u16string_view f1, f2, f3;
  const size_t first = args.find(u'$');
  if (first != std::u16string_view::npos) {
    f1 = args.substr(0, first);
    const std::u16string_view rest = args.substr(first + 1);
    const size_t second = rest.find(u'$');
    if (second != std::u16string_view::npos && second != 0) {
      f2 = rest.substr(0, second);
      f3 = rest.substr(second + 1);
    }
  }
  std::u16string url(Trim(f1));
  std::erase(url, u'"');
  settings.ArgUrl = Setting(url);
  settings.EditionSuffix = Setting(Trim(f2));
  settings.ShortcutName = Setting(f3);
  settings.HasLaunchArguments = true;
  return settings;
}

bool SelectUpdateUrl(UpdateSettings* pSettings) {
  pSettings->UpdateUrl =
      Setting(pSettings->HasLaunchArguments ? pSettings->ArgUrl : DefaultUpdateUrl());
  return true;
}

int32_t PrepareDownloadList(UpdateSettings* pSettings, const char16_t* szInstallDir) {
  if (szInstallDir == nullptr) return -1;
  SelectUpdateUrl(pSettings);
  pSettings->DownloadList.emplace(u"qarn.7z", 0);
  // A build that checks signatures fetches the package's beside it.
  if (!PackageKey().empty()) {
    pSettings->DownloadList.emplace(u"qarn.7z" + platform::Utf8ToUtf16(kSignatureSuffix), 0);
  }
  return 1;
}

std::u16string InstallFolderSetting(std::u16string folder) {
  // "/" separators, which every system's file calls take.
  std::replace(folder.begin(), folder.end(), u'\\', u'/');
  folder =
      folder.substr(0, std::min(folder.find(u'\0'), static_cast<size_t>(kInstallDirCapacity - 1)));
  return folder;
}
