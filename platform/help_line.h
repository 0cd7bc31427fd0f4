// For the platform's own use: one line of a help text's table, the name
// padded to its column, as both systems' help texts lay them out.
#pragma once

#include <string>

namespace platform {

void AddHelpLine(std::string* pText, int nColumn, const std::string& name, const std::string& what);

}  // namespace platform
