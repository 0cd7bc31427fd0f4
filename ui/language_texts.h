// The texts the player sees, loaded once from a language document compiled
// into the executable, and held in slots read by key.
#pragma once

#include <cstddef>
#include <cstdint>

enum class TextKey {
  WindowsText,
  GameIsDowning,
  DownloadKb,
  VerifyingClient,
  PreparingResources,
  DownloadDatMsg,
  DownloadFail,
  StartClient,
  StartDownload,
  Cancle,
  Ok,
  Updating,
  Select,
  // Not one of the design's texts: the player learns why the client did
  // not start (the system could not run it); "%s" takes the reason.
  NoClientStart,
  // The damaged-package box, text and caption. A document without them
  // gives the design's own Chinese texts.
  DamagedPackage,
  DamagedPackageTitle,
};
inline constexpr int kTextCount = 16;
inline constexpr int kTextCapacity = 260;          // UTF-16 units, terminator included
inline constexpr size_t kLanguageBufferSize = 4864;  // a document must be shorter

// The element name of each key, in loading order.
const char* TextKeyName(TextKey key);

// The identifier of the language document a code selects: 0 and 2 give
// 1260, 3 gives 1262, anything else 1259.
int LanguageResourceId(int32_t nLanguageCode);

// Loads the document the code selects into the slots. 1 when found and
// read; -1 when missing, too large or not a document (slots unchanged).
// Called on the start-up thread before any worker exists.
int32_t LoadLanguageTexts(int32_t nLanguageCode);

// Loads the given document bytes the same way.
int32_t LoadLanguageDocument(const unsigned char* pData, size_t nSize);

// The slot's text; empty until loaded (the damaged-package texts: the
// design's own until a document gives others). Read-only after start-up.
const char16_t* GetText(TextKey key);
