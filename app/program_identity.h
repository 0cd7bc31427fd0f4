// The updater as the system shows and files it: its settings under
// "qarnauto" (so a store written by any earlier version is found), its
// windows' class, and the plain prompt in the updater's night blue with a
// gold accent. Header-only, so the tests set the very same.
#pragma once

#include "platform/program_identity.h"

inline platform::ProgramIdentity QarnautoIdentity() {
  platform::ProgramIdentity identity;
  identity.name = "qarnauto";
  identity.className = "Qarnauto";
  identity.prompt.rim = 0xFF8A6A30;
  identity.prompt.background = 0xFF1A2140;
  identity.prompt.header = 0xFF242D55;
  identity.prompt.accent = 0xFFE8BE6A;
  identity.prompt.buttonRim = 0xFF5A6690;
  identity.prompt.button = 0xFF3A4670;
  identity.prompt.buttonHot = 0xFF4C5A8C;
  identity.prompt.text = 0xFFF2F2F6;
  return identity;
}
