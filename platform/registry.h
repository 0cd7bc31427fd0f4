// The registry: a per-user store of keys holding typed values, kept in
// $XDG_CONFIG_HOME/NAME/registry (default ~/.config/NAME/registry), NAME
// being the program's (program_identity.h: "qarnauto" for the updater).
// Keys are full paths ("HKEY_LOCAL_MACHINE\SOFTWARE\Morvanic") compared
// ignoring case. A key exists only once created; opening a missing one
// fails as the registry does. Every write replaces the file atomically under
// a lock, so two processes or a crash never leave a torn store. Any thread.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Result codes as the registry gives them.
inline constexpr int32_t kRegOk = 0;
inline constexpr int32_t kRegNotFound = 2;
inline constexpr int32_t kRegFailed = 1;  // the store cannot be read or written

std::string RegistryFilePath();

bool RegKeyExists(const std::u16string& key);
// Creates the key when missing; kRegOk when it exists afterwards.
int32_t RegCreateKey(const std::u16string& key);
int32_t RegQueryString(const std::u16string& key, const std::u16string& name,
                       std::u16string* pValue);
int32_t RegQueryDword(const std::u16string& key, const std::u16string& name, uint32_t* pValue);
// Sets a value of an existing key (kRegNotFound when the key is missing).
int32_t RegSetString(const std::u16string& key, const std::u16string& name,
                     const std::u16string& value);
int32_t RegSetDword(const std::u16string& key, const std::u16string& name, uint32_t value);

}  // namespace platform
