#include "bridge/WireJson.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "bridge/AudioDevice.h"
#include "bridge/AudioPermission.h"
#include "bridge/NativeAudioEvent.h"

namespace harkwell {

namespace {

// Insertion-ordered, so that "t" comes first and record fields keep their wire order.
using Json = nlohmann::ordered_json;

// Deeper documents could never be decoded by the codec either; the bound keeps
// a hostile document from exhausting the stack.
constexpr int maxDepth = 64;

constexpr char hexDigits[] = "0123456789abcdef";

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
// clang 14 does not deduce aggregate template arguments without a guide.
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

std::string bytesToHex(std::span<const std::uint8_t> bytes) {
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (std::uint8_t byte : bytes) {
    hex += hexDigits[byte >> 4];
    hex += hexDigits[byte & 0x0f];
  }
  return hex;
}

template <class U>
std::string bitsToHex(U bits) {
  std::string hex(sizeof(U) * 2, '0');
  for (std::size_t i = hex.size(); i-- > 0; bits >>= 4) hex[i] = hexDigits[bits & 0x0f];
  return hex;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    auto byte = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    std::uint32_t codePoint = 0;
    if (byte < 0x80) {
      ++i;
      continue;
    } else if ((byte & 0xe0) == 0xc0) {
      length = 2;
      codePoint = byte & 0x1f;
    } else if ((byte & 0xf0) == 0xe0) {
      length = 3;
      codePoint = byte & 0x0f;
    } else if ((byte & 0xf8) == 0xf0) {
      length = 4;
      codePoint = byte & 0x07;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      codePoint = (codePoint << 6) | (next & 0x3f);
    }
    constexpr std::uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < minimum[length] || codePoint > 0x10ffff ||
        (codePoint >= 0xd800 && codePoint <= 0xdfff)) {
      return false;
    }
    i += length;
  }
  return true;
}

Json sampleJson(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  return value;
}

Json tagged(std::string_view tag) {
  Json json = Json::object();
  json["t"] = tag;
  return json;
}

Json toJson(const CodecValue& value);

Json recordJson(const AudioDevice& device) {
  Json fields = Json::object();
  fields["name"] = device.name;
  fields["type"] = static_cast<std::int64_t>(device.type);
  fields["id"] = device.id;
  fields["isDefault"] = device.isDefault;
  return fields;
}

Json recordJson(const AudioPermission& permission) {
  Json fields = Json::object();
  fields["system"] = permission.system;
  fields["mic"] = permission.mic;
  return fields;
}

Json recordJson(const NativeAudioEvent& event) {
  Json fields = Json::object();
  fields["id"] = event.id;
  fields["type"] = static_cast<std::int64_t>(event.type);
  fields["eventType"] = static_cast<std::int64_t>(event.eventType);
  if (event.audioData.has_value()) {
    Json samples = Json::array();
    for (const std::optional<double>& sample : *event.audioData) {
      samples.push_back(sample.has_value() ? sampleJson(*sample) : Json(nullptr));
    }
    fields["audioData"] = std::move(samples);
  } else {
    fields["audioData"] = nullptr;
  }
  fields["error"] = event.error.has_value() ? Json(*event.error) : Json(nullptr);
  return fields;
}

Json stringJson(const std::string& text) {
  Json json = tagged("string");
  if (isValidUtf8(text)) {
    json["v"] = text;
    return json;
  }
  // Kept readable in "v" and exact in "hex". Dumping with replace gives a JSON
  // string literal with U+FFFD for each bad byte; parsing it back gives that text.
  json["v"] = Json::parse(Json(text).dump(-1, ' ', false, Json::error_handler_t::replace));
  json["hex"] = bytesToHex({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  return json;
}

Json toJson(const CodecValue& value) {
  return std::visit(Overloaded{
                        [](const CodecNull&) { return tagged("null"); },
                        [](bool v) {
                          Json json = tagged("bool");
                          json["v"] = v;
                          return json;
                        },
                        [](std::int32_t v) {
                          Json json = tagged("int32");
                          json["v"] = v;
                          return json;
                        },
                        [](std::int64_t v) {
                          Json json = tagged("int64");
                          json["v"] = std::to_string(v);
                          return json;
                        },
                        [](double v) {
                          Json json = tagged("float64");
                          json["bits"] = bitsToHex(std::bit_cast<std::uint64_t>(v));
                          json["v"] = sampleJson(v);
                          return json;
                        },
                        [](const std::string& v) { return stringJson(v); },
                        [](const std::vector<std::uint8_t>& v) {
                          Json json = tagged("uint8list");
                          json["hex"] = bytesToHex(v);
                          return json;
                        },
                        [](const std::vector<std::int32_t>& v) {
                          Json json = tagged("int32list");
                          json["v"] = v;
                          return json;
                        },
                        [](const std::vector<std::int64_t>& v) {
                          Json json = tagged("int64list");
                          Json items = Json::array();
                          for (std::int64_t item : v) items.push_back(std::to_string(item));
                          json["v"] = std::move(items);
                          return json;
                        },
                        [](const std::vector<float>& v) {
                          Json json = tagged("float32list");
                          Json items = Json::array();
                          for (float item : v)
                            items.push_back(bitsToHex(std::bit_cast<std::uint32_t>(item)));
                          json["bits"] = std::move(items);
                          return json;
                        },
                        [](const std::vector<double>& v) {
                          Json json = tagged("float64list");
                          Json items = Json::array();
                          for (double item : v)
                            items.push_back(bitsToHex(std::bit_cast<std::uint64_t>(item)));
                          json["bits"] = std::move(items);
                          return json;
                        },
                        [](const CodecList& v) {
                          Json json = tagged("list");
                          Json items = Json::array();
                          for (const CodecValue& item : v) items.push_back(toJson(item));
                          json["v"] = std::move(items);
                          return json;
                        },
                        [](const CodecMap& v) {
                          Json json = tagged("map");
                          Json entries = Json::array();
                          for (const auto& [key, item] : v)
                            entries.push_back(Json::array({toJson(key), toJson(item)}));
                          json["v"] = std::move(entries);
                          return json;
                        },
                        [&value](const CodecCustomValue&) {
                          Json json = tagged(wireTypeName(value));
                          if (auto* device = value.custom<AudioDevice>()) {
                            json["v"] = recordJson(*device);
                          } else if (auto* permission = value.custom<AudioPermission>()) {
                            json["v"] = recordJson(*permission);
                          } else if (auto* event = value.custom<NativeAudioEvent>()) {
                            json["v"] = recordJson(*event);
                          }
                          return json;
                        },
                    },
                    value.variant());
}

// Reads a tagged document back into a codec value; every failure names the
// JSON path of the offending part.
class Parser {
 public:
  CodecValue value(const Json& json, const std::string& path, int depth) {
    if (depth > maxDepth) fail(path, "nested deeper than " + std::to_string(maxDepth) + " levels");
    if (!json.is_object()) fail(path, "expected an object with a \"t\" tag");
    const Json& tagJson = member(json, "t", path);
    if (!tagJson.is_string()) fail(path + ".t", "expected a string");
    const std::string& tag = tagJson.get_ref<const std::string&>();

    if (tag == "null") {
      onlyKeys(json, path, {});
      return CodecNull{};
    }
    if (tag == "bool") {
      onlyKeys(json, path, {"v"});
      const Json& v = member(json, "v", path);
      if (!v.is_boolean()) fail(path + ".v", "expected true or false");
      return v.get<bool>();
    }
    if (tag == "int32") {
      onlyKeys(json, path, {"v"});
      return int32(member(json, "v", path), path + ".v");
    }
    if (tag == "int64") {
      onlyKeys(json, path, {"v"});
      return int64(member(json, "v", path), path + ".v");
    }
    if (tag == "float64") return float64(json, path);
    if (tag == "string") return string(json, path);
    if (tag == "uint8list") {
      onlyKeys(json, path, {"hex"});
      return hexBytes(member(json, "hex", path), path + ".hex");
    }
    if (tag == "int32list") {
      onlyKeys(json, path, {"v"});
      return typedList<std::int32_t>(
          json, path, "v", [](const Json& j, const std::string& p) { return int32(j, p); });
    }
    if (tag == "int64list") {
      onlyKeys(json, path, {"v"});
      return typedList<std::int64_t>(
          json, path, "v", [](const Json& j, const std::string& p) { return int64(j, p); });
    }
    if (tag == "float32list") return floatList<float, std::uint32_t>(json, path);
    if (tag == "float64list") return floatList<double, std::uint64_t>(json, path);
    if (tag == "list") {
      onlyKeys(json, path, {"v"});
      const Json& items = array(member(json, "v", path), path + ".v");
      CodecList list;
      list.reserve(items.size());
      for (std::size_t i = 0; i < items.size(); ++i) {
        list.push_back(value(items[i], index(path + ".v", i), depth + 1));
      }
      return list;
    }
    if (tag == "map") {
      onlyKeys(json, path, {"v"});
      const Json& entries = array(member(json, "v", path), path + ".v");
      CodecMap map;
      map.reserve(entries.size());
      for (std::size_t i = 0; i < entries.size(); ++i) {
        std::string entryPath = index(path + ".v", i);
        const Json& entry = entries[i];
        if (!entry.is_array() || entry.size() != 2) fail(entryPath, "expected [key, value]");
        map.emplace_back(value(entry[0], entryPath + "[0]", depth + 1),
                         value(entry[1], entryPath + "[1]", depth + 1));
      }
      return map;
    }
    if (tag == "AudioDevice") return audioDevice(json, path);
    if (tag == "AudioPermission") return audioPermission(json, path);
    if (tag == "NativeAudioEvent") return nativeAudioEvent(json, path);
    fail(path + ".t", "unknown type \"" + tag + "\"");
  }

 private:
  [[noreturn]] static void fail(const std::string& path, const std::string& what) {
    throw WireJsonError(path + ": " + what);
  }

  static std::string index(const std::string& path, std::size_t i) {
    return path + "[" + std::to_string(i) + "]";
  }

  static const Json& member(const Json& object, const char* key, const std::string& path) {
    auto it = object.find(key);
    if (it == object.end()) fail(path, std::string("missing \"") + key + "\"");
    return *it;
  }

  static void onlyKeys(const Json& object, const std::string& path,
                       std::initializer_list<std::string_view> allowed) {
    for (const auto& [key, unused] : object.items()) {
      if (key == "t") continue;
      bool known = false;
      for (std::string_view name : allowed) known = known || key == name;
      if (!known) fail(path, "unexpected key \"" + key + "\"");
    }
  }

  static const Json& array(const Json& json, const std::string& path) {
    if (!json.is_array()) fail(path, "expected an array");
    return json;
  }

  static std::int64_t integer(const Json& json, const std::string& path) {
    if (json.is_number_unsigned()) {
      auto v = json.get<std::uint64_t>();
      if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        fail(path, "integer out of the 64-bit range");
      }
      return static_cast<std::int64_t>(v);
    }
    if (json.is_number_integer()) return json.get<std::int64_t>();
    fail(path, "expected an integer");
  }

  static std::int32_t int32(const Json& json, const std::string& path) {
    std::int64_t v = integer(json, path);
    if (v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max()) {
      fail(path, "integer out of the 32-bit range");
    }
    return static_cast<std::int32_t>(v);
  }

  static std::int64_t int64(const Json& json, const std::string& path) {
    if (!json.is_string()) return integer(json, path);
    const std::string& text = json.get_ref<const std::string&>();
    std::int64_t v = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
      fail(path, "expected a decimal 64-bit integer, got \"" + text + "\"");
    }
    return v;
  }

  static double number(const Json& json, const std::string& path) {
    if (json.is_number()) return json.get<double>();
    if (json.is_string()) {
      const std::string& text = json.get_ref<const std::string&>();
      if (text == "NaN") return std::numeric_limits<double>::quiet_NaN();
      if (text == "Infinity") return std::numeric_limits<double>::infinity();
      if (text == "-Infinity") return -std::numeric_limits<double>::infinity();
    }
    fail(path, "expected a number, \"NaN\", \"Infinity\" or \"-Infinity\"");
  }

  static int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  static std::vector<std::uint8_t> hexBytes(const Json& json, const std::string& path) {
    if (!json.is_string()) fail(path, "expected a string of hex digits");
    const std::string& text = json.get_ref<const std::string&>();
    if (text.size() % 2 != 0) fail(path, "odd number of hex digits");
    std::vector<std::uint8_t> bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      int high = hexValue(text[2 * i]);
      int low = hexValue(text[2 * i + 1]);
      if (high < 0 || low < 0) fail(path, "not a hex digit at position " + std::to_string(2 * i));
      bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return bytes;
  }

  template <class U>
  static U hexBits(const Json& json, const std::string& path) {
    constexpr std::size_t digits = sizeof(U) * 2;
    if (!json.is_string() || json.get_ref<const std::string&>().size() != digits) {
      fail(path, "expected " + std::to_string(digits) + " hex digits");
    }
    U bits = 0;
    for (char c : json.get_ref<const std::string&>()) {
      int digit = hexValue(c);
      if (digit < 0) fail(path, "not a hex digit");
      bits = static_cast<U>(bits << 4 | static_cast<U>(digit));
    }
    return bits;
  }

  static CodecValue float64(const Json& json, const std::string& path) {
    onlyKeys(json, path, {"bits", "v"});
    bool hasBits = json.contains("bits");
    bool hasValue = json.contains("v");
    if (!hasBits && !hasValue) fail(path, "missing \"bits\" or \"v\"");
    if (!hasBits) return number(json["v"], path + ".v");
    double fromBits = std::bit_cast<double>(hexBits<std::uint64_t>(json["bits"], path + ".bits"));
    if (hasValue) {
      double v = number(json["v"], path + ".v");
      bool agree = std::isnan(v)
                       ? std::isnan(fromBits)
                       : std::bit_cast<std::uint64_t>(v) == std::bit_cast<std::uint64_t>(fromBits);
      if (!agree) fail(path, "\"bits\" and \"v\" disagree");
    }
    return fromBits;
  }

  static CodecValue string(const Json& json, const std::string& path) {
    onlyKeys(json, path, {"v", "hex"});
    if (json.contains("hex")) {
      // The exact bytes win: "v" of a string that is not UTF-8 is only a rendering.
      std::vector<std::uint8_t> bytes = hexBytes(json["hex"], path + ".hex");
      if (json.contains("v") && !json["v"].is_string()) fail(path + ".v", "expected a string");
      return std::string(bytes.begin(), bytes.end());
    }
    const Json& v = member(json, "v", path);
    if (!v.is_string()) fail(path + ".v", "expected a string");
    return v.get<std::string>();
  }

  template <class T, class Read>
  static std::vector<T> typedList(const Json& json, const std::string& path, const char* key,
                                  Read read) {
    const Json& items = array(member(json, key, path), path + "." + key);
    std::vector<T> values;
    values.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
      values.push_back(read(items[i], index(path + "." + key, i)));
    }
    return values;
  }

  template <class F, class U>
  CodecValue floatList(const Json& json, const std::string& path) {
    onlyKeys(json, path, {"bits", "v"});
    if (json.contains("bits")) {
      return typedList<F>(json, path, "bits", [](const Json& j, const std::string& p) {
        return std::bit_cast<F>(hexBits<U>(j, p));
      });
    }
    return typedList<F>(json, path, "v", [](const Json& j, const std::string& p) {
      return static_cast<F>(number(j, p));
    });
  }

  static const Json& fields(const Json& json, const std::string& path,
                            std::initializer_list<std::string_view> names) {
    onlyKeys(json, path, {"v"});
    const Json& v = member(json, "v", path);
    std::string fieldsPath = path + ".v";
    if (!v.is_object()) fail(fieldsPath, "expected an object of the record's fields");
    onlyKeys(v, fieldsPath, names);
    if (v.contains("t")) fail(fieldsPath, "unexpected key \"t\"");
    for (std::string_view name : names) member(v, std::string(name).c_str(), fieldsPath);
    return v;
  }

  static std::string text(const Json& json, const std::string& path) {
    if (!json.is_string()) fail(path, "expected a string");
    return json.get<std::string>();
  }

  static bool flag(const Json& json, const std::string& path) {
    if (!json.is_boolean()) fail(path, "expected true or false");
    return json.get<bool>();
  }

  static AudioDeviceType deviceType(const Json& json, const std::string& path) {
    std::optional<AudioDeviceType> type = fromRawValue<AudioDeviceType>(integer(json, path));
    if (!type.has_value()) fail(path, "not an AudioDeviceType (0 or 1)");
    return *type;
  }

  static CodecValue audioDevice(const Json& json, const std::string& path) {
    const Json& v = fields(json, path, {"name", "type", "id", "isDefault"});
    return CodecCustomValue::make(
        AudioDevice{text(v["name"], path + ".v.name"), deviceType(v["type"], path + ".v.type"),
                    text(v["id"], path + ".v.id"), flag(v["isDefault"], path + ".v.isDefault")});
  }

  static CodecValue audioPermission(const Json& json, const std::string& path) {
    const Json& v = fields(json, path, {"system", "mic"});
    return CodecCustomValue::make(
        AudioPermission{flag(v["system"], path + ".v.system"), flag(v["mic"], path + ".v.mic")});
  }

  static CodecValue nativeAudioEvent(const Json& json, const std::string& path) {
    const Json& v = fields(json, path, {"id", "type", "eventType", "audioData", "error"});
    NativeAudioEvent event;
    event.id = text(v["id"], path + ".v.id");
    event.type = deviceType(v["type"], path + ".v.type");
    std::optional<NativeAudioEventType> eventType =
        fromRawValue<NativeAudioEventType>(integer(v["eventType"], path + ".v.eventType"));
    if (!eventType.has_value()) fail(path + ".v.eventType", "not a NativeAudioEventType (0 to 5)");
    event.eventType = *eventType;
    if (!v["audioData"].is_null()) {
      std::string dataPath = path + ".v.audioData";
      const Json& samples = array(v["audioData"], dataPath);
      std::vector<std::optional<double>> audioData;
      audioData.reserve(samples.size());
      for (std::size_t i = 0; i < samples.size(); ++i) {
        if (samples[i].is_null()) {
          audioData.emplace_back(std::nullopt);
        } else {
          audioData.emplace_back(number(samples[i], index(dataPath, i)));
        }
      }
      event.audioData = std::move(audioData);
    }
    if (!v["error"].is_null()) event.error = text(v["error"], path + ".v.error");
    return CodecCustomValue::make(std::move(event));
  }
};

}  // namespace

std::string formatWireJson(const CodecValue& value) {
  // Strings that are not UTF-8 are already replaced in "v"; replace keeps dump
  // from throwing should anything else slip through.
  return toJson(value).dump(-1, ' ', false, Json::error_handler_t::replace);
}

CodecValue parseWireJson(std::string_view text) {
  Json json;
  try {
    json = Json::parse(text);
  } catch (const Json::exception& error) {
    throw WireJsonError(std::string("not JSON: ") + error.what());
  }
  Parser parser;
  return parser.value(json, "$", 0);
}

std::string_view wireTypeName(const CodecValue& value) {
  return std::visit(
      Overloaded{
          [](const CodecNull&) { return std::string_view("null"); },
          [](bool) { return std::string_view("bool"); },
          [](std::int32_t) { return std::string_view("int32"); },
          [](std::int64_t) { return std::string_view("int64"); },
          [](double) { return std::string_view("float64"); },
          [](const std::string&) { return std::string_view("string"); },
          [](const std::vector<std::uint8_t>&) { return std::string_view("uint8list"); },
          [](const std::vector<std::int32_t>&) { return std::string_view("int32list"); },
          [](const std::vector<std::int64_t>&) { return std::string_view("int64list"); },
          [](const std::vector<float>&) { return std::string_view("float32list"); },
          [](const std::vector<double>&) { return std::string_view("float64list"); },
          [](const CodecList&) { return std::string_view("list"); },
          [](const CodecMap&) { return std::string_view("map"); },
          [](const CodecCustomValue& custom) {
            if (custom.get<AudioDevice>() != nullptr) return std::string_view("AudioDevice");
            if (custom.get<AudioPermission>() != nullptr) {
              return std::string_view("AudioPermission");
            }
            if (custom.get<NativeAudioEvent>() != nullptr) {
              return std::string_view("NativeAudioEvent");
            }
            return std::string_view("custom");
          },
      },
      value.variant());
}

}  // namespace harkwell
