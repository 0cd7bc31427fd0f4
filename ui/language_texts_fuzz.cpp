// Fuzz target: a hostile language document never writes outside a text slot
// or the working buffer, and every slot stays terminated.
#include <cstdint>
#include <cstddef>

#include "ui/language_texts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  LoadLanguageDocument(pData, nSize);
  for (int i = 0; i < kTextCount; ++i) {
    const char16_t* szText = GetText(static_cast<TextKey>(i));
    size_t n = 0;
    while (szText[n] != u'\0') {
      if (++n >= static_cast<size_t>(kTextCapacity)) __builtin_trap();
    }
  }
  return 0;
}
