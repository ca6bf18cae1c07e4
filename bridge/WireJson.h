#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/flutter/CodecValue.h"

namespace harkwell {

// Tagged JSON: a lossless, human-readable text form of one codec value, for
// people debugging the bridge (the harkwell-wire tool, the console UI's
// channel trace). Every value is an object whose "t" names its wire type:
//   {"t":"null"}  {"t":"bool","v":true}  {"t":"int32","v":5}  {"t":"int64","v":"5"}
//   {"t":"float64","bits":"3ff8000000000000","v":1.5}  {"t":"string","v":"…"}
//   {"t":"uint8list","hex":"…"}  {"t":"int32list","v":[…]}  {"t":"int64list","v":["…"]}
//   {"t":"float32list","bits":["3f800000"]}  {"t":"float64list","bits":["…"]}
//   {"t":"list","v":[…]}  {"t":"map","v":[[key,value],…]} (wire order)
//   {"t":"AudioDevice","v":{"name":"…","type":1,"id":"…","isDefault":true}}
//   {"t":"AudioPermission","v":{"system":true,"mic":false}}
//   {"t":"NativeAudioEvent","v":{"id":"…","type":0,"eventType":5,"audioData":[…],"error":null}}
// int64 travels as a decimal string and floats by their bit patterns, so that
// no JSON reader rounds them. A non-finite double's "v" (and a non-finite
// audio sample) is the string "NaN", "Infinity" or "-Infinity". A string that
// is not valid UTF-8 is printed with U+FFFD replacements plus its exact bytes
// in "hex".
// Thread affinity: pure functions; any thread.

// Thrown by parseWireJson for text that is not one tagged value; the message is
// one line saying what was wrong and where (a JSON path such as "$.v[2]").
class WireJsonError : public std::runtime_error {
 public:
  explicit WireJsonError(const std::string& what) : std::runtime_error(what) {}
};

// One compact line of tagged JSON for `value`. Any thread.
std::string formatWireJson(const CodecValue& value);

// The value that `text` describes. Accepts everything formatWireJson prints,
// and also: float64 by "bits" or "v" alone (both given must agree), float lists
// by "v" (numbers or the non-finite strings), int64 "v" as a JSON integer, and
// strings by "hex" alone. Throws WireJsonError. Any thread.
CodecValue parseWireJson(std::string_view text);

// The "t" tag of `value`: "null", "int32", …, "map", or the record's name;
// "custom" for a custom value of no bridge record. Any thread.
std::string_view wireTypeName(const CodecValue& value);

}  // namespace harkwell
