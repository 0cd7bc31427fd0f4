// Pieces of HTTP for scripted servers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tools/script_server.h"

namespace tools {

// The first and last byte of a request's "Range: bytes=a-b"; false without one.
bool RequestRange(const std::string& request, int64_t* pFirst, int64_t* pLast);

// Reads one request and answers it from `content` as a well-behaved server
// would: 206 with the asked range, or 200 with everything without a range.
// A rate above 0 sends the body at about that many bytes per second.
void ServeContent(CScriptConnection& c, const std::string& content, int64_t llBytesPerSecond = 0);

// A script that answers the size probe (a request without a range) with a
// 200 that gives `llSize` and no body, and hands each ranged request to
// `ranged` with its first and last byte.
ScriptFn AnswerProbeThen(int64_t llSize,
                         std::function<void(CScriptConnection&, int64_t, int64_t)> ranged);

// Deterministic file contents that differ at every offset.
std::string PatternBytes(size_t n, uint32_t seed = 1);

}  // namespace tools
