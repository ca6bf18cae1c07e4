#pragma once

#include <string_view>

namespace harkwell {

// Stable codes of the error replies with which the host answers a message that
// breaks the bridge's contract, and of the failures it reports for a malformed
// reply from the UI. The UI side may match on them; the message text that goes
// with each names the channel and what was wrong, and may change.
namespace protocolError {

// The bytes do not decode as a value (truncated, unknown type byte, trailing
// bytes, nesting too deep).
constexpr std::string_view malformedMessage = "malformed-message";
// A record's type code is followed by something that is not the record's list
// (too short, a null or wrong-kind field, an enumeration value out of range).
constexpr std::string_view malformedRecord = "malformed-record";
// The message decodes but is not the list of the call's arguments.
constexpr std::string_view invalidMessage = "invalid-message";
// The argument list lacks the argument the call needs.
constexpr std::string_view missingArgument = "missing-argument";
// The argument is null.
constexpr std::string_view nullArgument = "null-argument";
// The argument is of the wrong kind (a string where an integer belongs, an
// AudioPermission where an AudioDevice belongs).
constexpr std::string_view invalidArgument = "invalid-argument";
// An integer argument is outside its enumeration's table.
constexpr std::string_view invalidEnumValue = "invalid-enum-value";
// The host lost the call without answering it (the implementation dropped its
// completion uncalled).
constexpr std::string_view noReply = "no-reply";
// The UI answered an event with an error reply that is not
// [string code, string-or-null message, string-or-null details].
constexpr std::string_view malformedReply = "malformed-reply";

}  // namespace protocolError

}  // namespace harkwell
