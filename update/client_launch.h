// How the client is started on Linux: a native program directly, a Windows
// program (a PE file) through Wine.
#pragma once

#include <string>
#include <vector>

enum class ClientKind { kMissing, kNative, kWindows32, kWindows64 };

// Looks at the file: an "MZ" header whose e_lfanew points at a "PE\0\0"
// signature is a Windows program, its machine field telling 32 from 64 bit.
ClientKind ClassifyClient(const std::string& path);

// The Wine to start Windows programs with: QARNAUTO_WINE when set, else
// "wine" on PATH, else "wine64" on PATH. "" when there is none.
std::string FindWine();

// True when a 32-bit Windows program can run: Debian's wine32 loader (from
// the i386 architecture) is installed, or the Wine found has a 32-bit loader
// beside it.
bool WineRuns32Bit(const std::string& wine);

// The command that starts the program with the arguments: a native program
// is its own command, a Windows one runs through Wine. False with the reason
// (for the player and the run log) when it cannot be started; *pNote
// receives a warning that does not stop the start (a 32-bit client without a
// 32-bit Wine).
bool ClientCommand(const std::string& program, const std::vector<std::string>& args,
                   std::vector<std::string>* pCommand, std::string* pWhy, std::string* pNote);
