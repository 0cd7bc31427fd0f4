#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/locked_file.h"
#include "platform/program_identity.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace platform {
namespace {

struct Value {
  std::string name;
  std::string raw;  // "sz:<escaped text>" or "dword:<n>"
};
struct Key {
  std::string name;
  std::vector<Value> values;
};
using Store = std::vector<Key>;

// Key names keep their backslashes as they are (stores already written rely
// on it); only what would break the section line is percent-escaped.
std::string EscapeKey(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c == '\n') {
      out += "%0A";
    } else if (c == '\r') {
      out += "%0D";
    } else if (c == ']') {
      out += "%5D";
    } else if (c == '%') {
      out += "%25";
    } else {
      out += c;
    }
  }
  return out;
}

std::string UnescapeKey(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const std::string_view code = text.substr(i, 3);
    if (code == "%0A" || code == "%0D" || code == "%5D" || code == "%25") {
      out += code == "%0A" ? '\n' : code == "%0D" ? '\r' : code == "%5D" ? ']' : '%';
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

Store Parse(const std::string& text) {
  Store store;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + pos, end - pos);
    pos = end + 1;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      store.push_back(Key{UnescapeKey(line.substr(1, line.size() - 2)), {}});
    } else if (!store.empty()) {
      const size_t eq = line.find('=');
      if (eq != std::string_view::npos) {
        store.back().values.push_back(
            Value{UnescapeLineText(line.substr(0, eq)), std::string(line.substr(eq + 1))});
      }
    }
  }
  return store;
}

std::string Serialise(const Store& store) {
  std::string text;
  for (const Key& key : store) {
    text += '[';
    text += EscapeKey(key.name);
    text += "]\n";
    for (const Value& v : key.values) text += EscapeLineText(v.name) + "=" + v.raw + "\n";
  }
  return text;
}

Key* FindKey(Store& store, const std::string& name) {
  for (Key& k : store) {
    if (EqualIgnoringAsciiCase(k.name, name)) return &k;
  }
  return nullptr;
}

std::string ReadText(const std::string& path) { return ReadTextFile(path); }

// Reads the store under its lock, lets `change` edit it and writes it back
// when asked.
template <class F>
int32_t Update(F change) {
  const std::string path = RegistryFilePath();
  if (path.empty()) return kRegFailed;
  CreateDirectories(path.substr(0, path.rfind('/')));
  int32_t r = kRegOk;
  const Outcome written = RewriteLocked(path, [&](std::string* pText) {
    Store store = Parse(*pText);
    bool bWrite = false;
    r = change(store, &bWrite);
    if (r != kRegOk || !bWrite) return false;
    *pText = Serialise(store);
    return true;
  });
  return written ? r : kRegFailed;
}

int32_t Query(const std::u16string& key, const std::u16string& name, std::string* pRaw) {
  const std::string path = RegistryFilePath();
  if (path.empty()) return kRegFailed;
  Store store = Parse(ReadText(path));
  Key* k = FindKey(store, Utf16ToUtf8(key));
  if (k == nullptr) return kRegNotFound;
  const std::string n = Utf16ToUtf8(name);
  for (const Value& v : k->values) {
    if (EqualIgnoringAsciiCase(v.name, n)) {
      *pRaw = v.raw;
      return kRegOk;
    }
  }
  return kRegNotFound;
}

int32_t Set(const std::u16string& key, const std::u16string& name, const std::string& raw) {
  return Update([&](Store& store, bool* pWrite) {
    Key* k = FindKey(store, Utf16ToUtf8(key));
    if (k == nullptr) return kRegNotFound;
    const std::string n = Utf16ToUtf8(name);
    *pWrite = true;
    for (Value& v : k->values) {
      if (EqualIgnoringAsciiCase(v.name, n)) {
        v.raw = raw;
        return kRegOk;
      }
    }
    k->values.push_back(Value{n, raw});
    return kRegOk;
  });
}

}  // namespace

std::string RegistryFilePath() {
  // Named by the program (SetProgramIdentity), which sets it first. Without
  // a name, or without a home to put it in, there is no store: a path of
  // "//registry" or "/.config/..." would be another program's or nobody's.
  const std::string& name = GetProgramIdentity().name;
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
    return std::string();
  std::string base = GetEnvironmentVariable("XDG_CONFIG_HOME");
  if (base.empty() || base[0] != '/') {
    const std::string home = GetEnvironmentVariable("HOME");
    if (home.empty() || home[0] != '/') return std::string();
    base = home + "/.config";
  }
  return base + "/" + name + "/registry";
}

bool RegKeyExists(const std::u16string& key) {
  const std::string path = RegistryFilePath();
  if (path.empty()) return false;
  Store store = Parse(ReadText(path));
  return FindKey(store, Utf16ToUtf8(key)) != nullptr;
}

int32_t RegCreateKey(const std::u16string& key) {
  return Update([&](Store& store, bool* pWrite) {
    if (FindKey(store, Utf16ToUtf8(key)) == nullptr) {
      store.push_back(Key{Utf16ToUtf8(key), {}});
      *pWrite = true;
    }
    return kRegOk;
  });
}

int32_t RegQueryString(const std::u16string& key, const std::u16string& name,
                       std::u16string* pValue) {
  std::string raw;
  const int32_t r = Query(key, name, &raw);
  if (r != kRegOk) return r;
  if (raw.rfind("sz:", 0) != 0) return kRegFailed;
  *pValue = Utf8ToUtf16(UnescapeLineText(std::string_view(raw).substr(3)));
  return kRegOk;
}

int32_t RegQueryDword(const std::u16string& key, const std::u16string& name, uint32_t* pValue) {
  std::string raw;
  const int32_t r = Query(key, name, &raw);
  if (r != kRegOk) return r;
  if (raw.rfind("dword:", 0) != 0) return kRegFailed;
  *pValue = static_cast<uint32_t>(std::strtoul(raw.c_str() + 6, nullptr, 10));
  return kRegOk;
}

int32_t RegSetString(const std::u16string& key, const std::u16string& name,
                     const std::u16string& value) {
  return Set(key, name, "sz:" + EscapeLineText(Utf16ToUtf8(value)));
}

int32_t RegSetDword(const std::u16string& key, const std::u16string& name, uint32_t value) {
  return Set(key, name, "dword:" + std::to_string(value));
}

}  // namespace platform
