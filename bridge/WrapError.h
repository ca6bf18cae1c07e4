#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <typeinfo>

#include "bridge/PigeonError.h"
#include "platform/flutter/CodecValue.h"

namespace harkwell {

// The three elements [code, message, details] of a host channel's error reply
// for any error:
//  - a PigeonError or a FlutterError: its code, message and details, null for
//    an absent message or details;
//  - anything else: its description (what(), or the text of a thrown string),
//    the unqualified name of its dynamic type, and "Stacktrace: " followed by
//    the calling thread's stack in list notation ["frame", "frame", …].
// Bridge-internal. Never throws (a failure to describe the error still yields
// three elements). Thread affinity: any thread.
CodecList wrapError(const std::exception_ptr& error) noexcept;
CodecList wrapError(const PigeonError& error) noexcept;

// The demangled name of `type` without its namespace and class qualifiers
// ("std::system_error" → "system_error"; template arguments are kept as they
// are). Any thread.
std::string unqualifiedTypeName(const std::type_info& type);

// The calling thread's stack, innermost frame first, as a bracketed,
// comma-separated list of quoted frame descriptions. Any thread.
std::string callStackSymbols();

}  // namespace harkwell
