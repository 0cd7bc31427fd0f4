// Reading what an HTTP server answered: the status, a header's value, the
// Content-Length, and a one-line form for the run log. Pure functions on
// the received bytes, which a hostile server chooses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The status code: the 3 characters at offset 9 read as atoi would, or -1
// when the status line is too short to hold them.
int HttpStatus(std::string_view response);

// The first line of a response (at most 200 characters), without its line
// end.
std::string_view StatusLine(std::string_view response);

// The value of a header written exactly as `name` (blank included), up to
// its "\r\n" or the end of what was received.
bool HttpHeaderValue(std::string_view response, std::string_view name, std::string_view* pValue);

// A Content-Length as a size below 2 GiB: digits only after blanks, or -1.
int64_t ParseContentLength(std::string_view value);

// The response header alone (never body bytes), its lines joined by " | "
// and anything but printable ASCII as "?", for a one-line run-log note.
std::string HeaderForLog(std::string_view response);
