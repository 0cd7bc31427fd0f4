#include "platform/help_line.h"

namespace platform {

void AddHelpLine(std::string* pText, int nColumn, const std::string& name, const std::string& what) {
  *pText += "  " + name;
  *pText += std::string(name.size() < static_cast<size_t>(nColumn) ? nColumn - name.size() : 0, ' ');
  *pText += "  " + what + "\n";
}

}  // namespace platform
