#include "update/launch_settings.h"

#include <algorithm>
#include <cwctype>

#include "platform/environment.h"
#include "platform/text.h"
#include "update/package_signature.h"

#ifndef QARNAUTO_UPDATE_HOST
#error "the build sets QARNAUTO_UPDATE_HOST, the default update server"
#endif

char16_t UpdateUrl[kSettingCapacity] = u"";
char16_t ArgUrl[kSettingCapacity] = u"";
char16_t EditionSuffix[kSettingCapacity] = u"";
char16_t ShortcutName[kSettingCapacity] = u"";
bool HasLaunchArguments = false;
std::map<std::u16string, int32_t> DownloadList;

namespace {

// Fields longer than their array are cut at 1023 units.
void CopySetting(char16_t (&szTo)[kSettingCapacity], std::u16string_view text) {
  const size_t n = std::min(text.size(), static_cast<size_t>(kSettingCapacity - 1));
  std::copy_n(text.data(), n, szTo);
  szTo[n] = u'\0';
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

void ParseLaunchArguments() {
  ParseLaunchArguments(platform::Utf8ToUtf16(platform::GetArgumentString()));
}

void ParseLaunchArguments(std::u16string_view args) {
  if (args.empty()) {
    HasLaunchArguments = false;
    return;
  }
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
  CopySetting(ArgUrl, url);
  CopySetting(EditionSuffix, Trim(f2));
  CopySetting(ShortcutName, f3);
  HasLaunchArguments = true;
}

bool SelectUpdateUrl() {
  CopySetting(UpdateUrl, HasLaunchArguments ? std::u16string_view(ArgUrl) : DefaultUpdateUrl());
  return true;
}

int32_t PrepareDownloadList(const char16_t* szInstallDir) {
  if (szInstallDir == nullptr) return -1;
  SelectUpdateUrl();
  DownloadList.emplace(u"qarn.7z", 0);
  // A build that checks signatures fetches the package's beside it.
  if (!PackageKey().empty()) {
    DownloadList.emplace(u"qarn.7z" + platform::Utf8ToUtf16(kSignatureSuffix), 0);
  }
  return 1;
}
