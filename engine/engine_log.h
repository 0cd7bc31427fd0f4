// The engine log (time-stamped lines to the debugger channel) and the run log
// (one-line notes for support staff in ".\qarnAutoLog.log", or where the
// program using the engine chose).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Writes "MM-DD hh:mm:ss\t\t" followed by the formatted message, which is cut
// at 1023 characters; no line end is added. Any thread.
void DebugLog(const char* szFormat, ...) __attribute__((format(printf, 1, 2)));

inline constexpr const char* kRunLogPath = ".\\qarnAutoLog.log";

// Where the notes go: kRunLogPath in the working folder unless a chooser is
// set, which is asked before every note (a path, or empty for the default).
// Set once, before any note is written.
void SetRunLogChooser(std::string (*pfnChoose)());

// Writes the note as the "log" value of a section named by the current tick
// count. A note whose tick already has a note of this process takes the
// next number instead of replacing that one, so no note is lost. Line
// breaks inside the text are stored as blanks (those at its end stay), so
// the file stays an INI file that reads back. Serialised
// against every other writer, in this process and others. Any thread.
// Returns 1.
int32_t AppendRunLog(std::u16string_view text);

// The section a note written at dwTick takes after the process's last one
// (llLast, -1 before the first): the tick, or the number after the last when
// the tick is not ahead of it.
uint32_t RunLogSection(uint32_t dwTick, int64_t llLast);
