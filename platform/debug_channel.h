// The process-wide debugger channel that the engine log writes to.
#pragma once

#include <functional>
#include <string_view>

namespace platform {

// Receives whole lines exactly as written (no line end is added).
using DebugSink = std::function<void(std::string_view line)>;

// Name of the environment variable that makes the channel visible: "stderr"
// sends the lines to standard error, any other non-empty value is a file that
// the lines are appended to; there every record ends with a line break
// (added when the text has none). Unset or empty: the channel is silent.
inline constexpr const char* kDebugLogVariable = "QARNAUTO_DEBUG_LOG";

// Writes one line to the channel. Any thread; lines never interleave.
void OutputDebugText(std::string_view line);

// Replaces the channel's destination with `sink` (tests capture lines this
// way) and returns the previous sink; an empty sink goes back to the
// environment's choice. Any thread.
DebugSink SetDebugSink(DebugSink sink);

}  // namespace platform
