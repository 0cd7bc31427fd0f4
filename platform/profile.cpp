#include <string_view>

#include "platform/locked_file.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace platform {
namespace {

std::string_view TrimLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
    line.remove_suffix(1);
  }
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  return line;
}

bool IsKeyLine(std::string_view line, const std::string& key) {
  line = TrimLine(line);
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  std::string_view name = TrimLine(line.substr(0, eq));
  return EqualIgnoringAsciiCase(name, key);
}

// Rewrites `text` with the key set; returns false when the section is absent.
bool ReplaceInSection(std::string& text, const std::string& section, const std::string& key,
                      const std::string& value) {
  const std::string header = "[" + section + "]";
  const std::string entry = key + "=" + value;
  size_t pos = 0;
  bool bInSection = false;
  size_t headerEnd = std::string::npos;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    size_t next = end == std::string::npos ? text.size() : end + 1;
    std::string_view line = TrimLine(std::string_view(text).substr(pos, next - pos));
    if (!line.empty() && line.front() == '[') {
      if (bInSection) break;  // the section ended without the key
      bInSection = EqualIgnoringAsciiCase(line, header);
      if (bInSection) headerEnd = next;
    } else if (bInSection && IsKeyLine(line, key)) {
      size_t lineEnd = end == std::string::npos ? text.size() : end;
      if (lineEnd > pos && text[lineEnd - 1] == '\r') --lineEnd;
      text.replace(pos, lineEnd - pos, entry);
      return true;
    }
    pos = next;
  }
  if (headerEnd == std::string::npos) return false;
  std::string insert = entry + "\n";
  if (headerEnd == text.size() && !text.empty() && text.back() != '\n') insert = "\n" + insert;
  text.insert(headerEnd, insert);
  return true;
}

}  // namespace

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path) {
  return RewriteLocked(path,
                       [&](std::string* pText) {
                         std::string& text = *pText;
                         if (!ReplaceInSection(text, section, key, value)) {
                           if (!text.empty() && text.back() != '\n') text += '\n';
                           text += "[" + section + "]\n" + key + "=" + value + "\n";
                         }
                         return true;
                       })
      .ok();
}

}  // namespace platform
