// Fuzz target: any launch-argument string (UTF-8 from the command line)
// parses into settings that fit their fields.
#include <cstdint>
#include <string>

#include "platform/text.h"
#include "update/install_location.h"
#include "update/launch_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  const std::string args(reinterpret_cast<const char*>(pData), nSize);
  UpdateSettings settings = ParseLaunchArguments(platform::Utf8ToUtf16(args));
  // No field outgrows the design's fixed arrays, nor holds their end mark.
  for (const std::u16string* field :
       {&settings.ArgUrl, &settings.EditionSuffix, &settings.ShortcutName}) {
    if (field->size() >= static_cast<size_t>(kSettingCapacity) ||
        field->find(u'\0') != std::u16string::npos) {
      __builtin_trap();
    }
  }
  SelectUpdateUrl(&settings);
  // The suffix names one folder under "Talvora": it must never lead out.
  const std::u16string base = u"program files (x86)/Talvora/";
  const std::u16string folder = DefaultFolderName(settings.EditionSuffix);
  if (!settings.EditionSuffix.empty()) {
    if (folder.compare(0, base.size(), base) != 0) __builtin_trap();
    const std::u16string last = folder.substr(base.size());
    if (last.empty() || last == u"." || last == u".." ||
        last.find_first_of(u"/\\") != std::u16string::npos) {
      __builtin_trap();
    }
  }
  return 0;
}
