#pragma once

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bridge/WireJson.h"

// The golden and malformed messages shared with the page's JS codec tests
// (tests/vectors/codec.json). Values are in tagged JSON (bridge/WireJson.h).
namespace harkwell::testing {

struct CodecVector {
  std::string name;
  std::string codec;  // "standard", "host" or "event"
  std::string hex;
  CodecValue value;       // golden only
  bool canonical = true;  // golden only: false for forms read but never written
  std::string error;      // malformed only: a fragment of the reader's reason
};

// The vectors of `group` ("golden" or "malformed") whose codec is one of `codecs`.
inline std::vector<CodecVector> codecVectors(const std::string& group,
                                             const std::vector<std::string>& codecs) {
  std::ifstream file(HARKWELL_CODEC_VECTORS);
  const nlohmann::json all = nlohmann::json::parse(file);
  std::vector<CodecVector> vectors;
  for (const auto& entry : all.at(group)) {
    const std::string codec = entry.at("codec");
    if (std::find(codecs.begin(), codecs.end(), codec) == codecs.end()) continue;
    CodecVector v{entry.at("name"), codec, entry.at("hex"), CodecValue(), true, ""};
    if (entry.contains("value")) v.value = parseWireJson(entry["value"].dump());
    if (entry.contains("canonical")) v.canonical = entry["canonical"];
    if (entry.contains("error")) v.error = entry["error"];
    vectors.push_back(std::move(v));
  }
  return vectors;
}

}  // namespace harkwell::testing
