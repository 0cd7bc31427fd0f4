#include "ui/language_texts.h"

#include <tinyxml.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "platform/text.h"
#include "res/resources.h"

namespace {

constexpr const char* kKeyNames[kTextCount] = {
    "WindowsText",     "GameIsDowning", "DownloadKb",    "VerifyingClient", "PreparingResources",
    "DownloadDatMsg",  "DownloadFail",  "StartClient",   "StartDownload",   "Cancle",
    "Ok",              "Updating",      "Select",        "NoClientStart",   "DamagedPackage",
    "DamagedPackageTitle"};

char16_t g_szTexts[kTextCount][kTextCapacity] = {};

void SetSlot(int i, const std::u16string& text) {
  // Longer texts are cut at 259 units, never mid surrogate pair.
  size_t n = std::min(text.size(), static_cast<size_t>(kTextCapacity - 1));
  if (n > 0 && n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  std::copy_n(text.data(), n, g_szTexts[i]);
  g_szTexts[i][n] = u'\0';
}

}  // namespace

const char* TextKeyName(TextKey key) { return kKeyNames[static_cast<int>(key)]; }

int LanguageResourceId(int32_t nLanguageCode) {
  switch (nLanguageCode) {
    case 0:
    case 2:
      return 1260;
    case 3:
      return 1262;
    default:
      return 1259;
  }
}

int32_t LoadLanguageDocument(const unsigned char* pData, size_t nSize) {
  if (pData == nullptr || nSize == 0 || nSize >= kLanguageBufferSize) return -1;
  auto buffer = std::make_unique<char[]>(kLanguageBufferSize);  // zero-filled: terminated
  std::memcpy(buffer.get(), pData, nSize);
  TiXmlDocument doc;
  doc.Parse(buffer.get(), nullptr, TIXML_ENCODING_UTF8);
  const TiXmlElement* root = doc.FirstChildElement();
  if (doc.Error() || root == nullptr) return -1;
  for (int i = 0; i < kTextCount; ++i) {
    const TiXmlElement* element = root->FirstChildElement(kKeyNames[i]);
    const TiXmlNode* first = element == nullptr ? nullptr : element->FirstChild();
    const TiXmlText* text = first == nullptr ? nullptr : first->ToText();
    SetSlot(i, text == nullptr ? std::u16string() : platform::Utf8ToUtf16(text->Value()));
  }
  return 1;
}

int32_t LoadLanguageTexts(int32_t nLanguageCode) {
  const ResourceEntry* p = FindResource("XML", LanguageResourceId(nLanguageCode));
  if (p == nullptr) return -1;
  return LoadLanguageDocument(p->pData, p->nSize);
}

const char16_t* GetText(TextKey key) {
  const char16_t* szText = g_szTexts[static_cast<int>(key)];
  if (szText[0] != u'\0') return szText;
  // The texts the design wrote into its code, for documents made before
  // these slots existed.
  if (key == TextKey::DamagedPackage) return u"下载的包损坏";
  if (key == TextKey::DamagedPackageTitle) return u"网络错误";
  return szText;
}
