#include <locale.h>

#include "platform/text.h"

namespace platform {

// A thread locale: the process's own, and other threads, are untouched.
CUtf8TextScope::CUtf8TextScope() {
  // One locale for the process, made once and kept: readers on several
  // threads open and close at once, and the C library's own loading and
  // freeing of locales is not for that.
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (utf8 == static_cast<locale_t>(0)) return;
  pLocale_ = utf8;
  pPrevious_ = uselocale(utf8);
}

CUtf8TextScope::~CUtf8TextScope() {
  if (pLocale_ == nullptr) return;
  uselocale(static_cast<locale_t>(pPrevious_));
}

}  // namespace platform
