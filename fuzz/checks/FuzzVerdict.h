#pragma once

#include <optional>
#include <string>

namespace harkwell::fuzz {

// What a fuzz check concluded about one input: nullopt when every invariant
// held, else one line saying which invariant broke and how. The libFuzzer
// targets abort on a verdict; the regression replay test reports it.
using FuzzVerdict = std::optional<std::string>;

}  // namespace harkwell::fuzz
