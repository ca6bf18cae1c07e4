#pragma once

#include <string>
#include <string_view>

namespace harkwell {

// `text` with every control character (C0, DEL, and C1 as UTF-8) written as
// \xNN, so that names and messages from outside cannot move the cursor, clear
// the screen or retitle the terminal. Any thread.
std::string escapeControls(std::string_view text);

}  // namespace harkwell
