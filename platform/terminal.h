// The terminal that a session without a display talks to.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// True when standard error is a terminal (progress can be redrawn in place).
bool StandardErrorIsTerminal();

// The width of the terminal on standard error in columns; 0 when standard
// error is no terminal or does not say.
int StandardErrorColumns();

// Sends standard output nowhere from now on, as a program with windows and
// no console has it; standard error stays.
void DetachStandardOutput();

}  // namespace platform
