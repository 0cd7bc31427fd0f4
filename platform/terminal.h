// The terminal that a session without a display talks to.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"

namespace platform {

// True when standard error is a terminal (progress can be redrawn in place).
bool StandardErrorIsTerminal();

// The width of the terminal on standard error in columns; 0 when standard
// error is no terminal or does not say.
int StandardErrorColumns();

// A pseudo-terminal pair for tests: *pMaster reads what a program writes to
// *pSlave, whose window is `columns` wide. False when none can be made.
bool OpenPseudoTerminal(int columns, CFile* pMaster, CFile* pSlave);

// Appends what has arrived on a pipe or terminal to *pText, waiting up to
// the time-out for the first bytes; false at end of input or time-out.
bool ReadAvailable(FileHandle h, uint32_t dwMilliseconds, std::string* pText);

// Sends standard output nowhere from now on, as a program with windows and
// no console has it; standard error stays.
void DetachStandardOutput();

}  // namespace platform
