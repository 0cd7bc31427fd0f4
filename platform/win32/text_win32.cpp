#include "platform/text.h"

namespace platform {

// The wide-character calls convert without the C library's locale.
CUtf8TextScope::CUtf8TextScope() = default;
CUtf8TextScope::~CUtf8TextScope() = default;

}  // namespace platform
