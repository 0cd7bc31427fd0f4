// The program as the system shows and files it: the folder of its settings
// store (Linux's file registry), its windows' class (X11), and the colours
// of the plain prompt where the platform draws it (X11). The program sets it
// once, before its first window or registry call; the platform itself knows
// no program.
#pragma once

#include <string>

#include "platform/canvas.h"

namespace platform {

struct PromptColours {
  Argb rim = 0xFF808080;  // the thin frame
  Argb background = 0xFFF0F0F0;
  Argb header = 0xFFDCDCDC;     // behind the caption
  Argb accent = 0xFF303030;     // the caption, its rule and the default button's rim
  Argb buttonRim = 0xFF909090;  // the other button's rim
  Argb button = 0xFFE0E0E0;
  Argb buttonHot = 0xFFC8C8C8;
  Argb text = 0xFF000000;
};

struct ProgramIdentity {
  std::string name;       // the settings folder's name and the window instance name
  std::string className;  // the windows' class name
  PromptColours prompt;
};

// Written before any other thread starts; read-only afterwards.
void SetProgramIdentity(const ProgramIdentity& identity);
const ProgramIdentity& GetProgramIdentity();

}  // namespace platform
