// Replacements that could not be made while a file was in use, carried out
// at the next start.
#pragma once

#include <string>

// Moves that could not be done now, recorded for the next start.
std::string PendingMovesPath(const std::u16string& installDir);
// Records "replace target with source" (source empty: delete target) in
// the list of the install folder; false when there is no install folder yet.
bool ScheduleMoveAtRestart(const std::u16string& installDir, const std::string& source,
                           const std::string& target);
// Carries out and forgets the recorded moves. Returns how many were done.
int RunPendingMoves(const std::u16string& installDir);
