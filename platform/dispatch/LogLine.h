#pragma once

#include <string>
#include <string_view>

namespace harkwell {

// One log event, one line. Text from outside the host (device names and ids,
// platform and sound-server error texts, anything a user or a server chose)
// may hold control characters; written raw, a name "X\nstream start" would
// forge a second line, and an escape sequence would drive the reader's
// terminal. So every line is written with its control characters escaped:
//
//   newline, carriage return, tab     ->  \n  \r  \t
//   other C0 (0x00-0x1f) and DEL      ->  \xHH     (two lowercase hex digits)
//   C1 (U+0080-U+009F, UTF-8 c2 80-9f) ->  \u00HH
//
// Everything else passes unchanged, backslashes and other UTF-8 included, so
// a line without control characters stays byte for byte what it was. (A
// literal backslash in a name is therefore not told apart from an escape; the
// point is that one event stays one line.) Our own wording never holds control
// characters, so escaping a whole line changes only its outside parts.

// `text` with its control characters escaped as above. Any thread.
std::string escapeControlCharacters(std::string_view text);

// Writes `text`, escaped, and a newline to the file descriptor `fd` in one
// write(2), so that lines from different threads never interleave. A closed or
// broken reader loses the line; it never raises SIGPIPE or throws. Any thread.
void writeLogLine(int fd, std::string_view text) noexcept;

// Our own diagnostics: "harkwell: " and `text`, escaped, as one line on
// standard error. Any thread.
void writeDiagnostic(std::string_view text) noexcept;

}  // namespace harkwell
