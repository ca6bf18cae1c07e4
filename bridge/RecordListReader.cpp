#include "bridge/RecordListReader.h"

#include "bridge/NilOrValue.h"

namespace harkwell {

RecordListReader::RecordListReader(const CodecList& list, const char* record,
                                   std::size_t fieldCount)
    : list_(list), record_(record) {
  if (list.size() < fieldCount) {
    error_ = std::string(record) + ": list has " + std::to_string(list.size()) +
             " elements, needs " + std::to_string(fieldCount);
  }
}

std::string RecordListReader::string(std::size_t index, const char* field) {
  const CodecValue* value = element(index);
  if (value == nullptr) return {};
  if (const auto* text = value->getIf<std::string>()) return *text;
  failKind(field, "a string", *value);
  return {};
}

bool RecordListReader::boolean(std::size_t index, const char* field) {
  const CodecValue* value = element(index);
  if (value == nullptr) return false;
  if (const auto* flag = value->getIf<bool>()) return *flag;
  failKind(field, "a bool", *value);
  return false;
}

std::optional<std::int64_t> RecordListReader::integer(std::size_t index, const char* field) {
  const CodecValue* value = element(index);
  if (value == nullptr) return std::nullopt;
  // Older UIs write enumerations as int32, newer ones as int64.
  if (auto number = value->asInteger()) return number;
  failKind(field, "an integer", *value);
  return std::nullopt;
}

std::optional<std::string> RecordListReader::optionalString(std::size_t index, const char* field) {
  const CodecValue* value = element(index);
  if (value == nullptr) return std::nullopt;
  if (!value->isNull() && !value->is<std::string>()) {
    failKind(field, "a string or null", *value);
    return std::nullopt;
  }
  return nilOrValue<std::string>(*value);
}

std::optional<std::vector<std::optional<double>>> RecordListReader::optionalDoubles(
    std::size_t index, const char* field) {
  const CodecValue* value = element(index);
  if (value == nullptr || value->isNull()) return std::nullopt;
  auto samples = codecValueAs<std::vector<std::optional<double>>>(*value);
  if (!samples) failKind(field, "a list of doubles or null", *value);
  return samples;
}

const CodecValue* RecordListReader::element(std::size_t index) {
  if (!ok() || index >= list_.size()) return nullptr;
  return &list_[index];
}

void RecordListReader::fail(const char* field, const std::string& what) {
  if (ok()) error_ = std::string(record_) + "." + field + ": " + what;
}

void RecordListReader::failKind(const char* field, const char* expected, const CodecValue& actual) {
  fail(field, std::string("expected ") + expected + ", got " + codecValueKindName(actual));
}

}  // namespace harkwell
