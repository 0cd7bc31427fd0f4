// Fuzz target: any launch-argument string (UTF-8 from the command line)
// parses into settings that fit their fields.
#include <cstdint>
#include <string>

#include "platform/text.h"
#include "update/install_location.h"
#include "update/launch_settings.h"

namespace {
size_t Length(const char16_t* sz, size_t nCapacity) {
  size_t n = 0;
  while (n < nCapacity && sz[n] != u'\0') ++n;
  return n;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  const std::string args(reinterpret_cast<const char*>(pData), nSize);
  ParseLaunchArguments(platform::Utf8ToUtf16(args));
  if (Length(ArgUrl, kSettingCapacity) >= kSettingCapacity ||
      Length(EditionSuffix, kSettingCapacity) >= kSettingCapacity ||
      Length(ShortcutName, kSettingCapacity) >= kSettingCapacity) {
    __builtin_trap();
  }
  SelectUpdateUrl();
  // The suffix names one folder under "Talvora": it must never lead out.
  const std::u16string base = u"program files (x86)/Talvora/";
  const std::u16string folder = DefaultFolderName();
  if (EditionSuffix[0] != u'\0') {
    if (folder.compare(0, base.size(), base) != 0) __builtin_trap();
    const std::u16string last = folder.substr(base.size());
    if (last.empty() || last == u"." || last == u".." ||
        last.find_first_of(u"/\\") != std::u16string::npos) {
      __builtin_trap();
    }
  }
  return 0;
}
