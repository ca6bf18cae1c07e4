#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bridge/RawValue.h"
#include "platform/flutter/CodecValue.h"

namespace harkwell {

// Reads a record's fields from its list form and remembers the first protocol
// violation ("AudioDevice.type: 7 is not an AudioDeviceType"). After a failure
// every accessor returns a default value, so fromList can read all fields
// straight through and check ok() once. Private to the bridge's records.
// Thread affinity: a local helper, used on one thread.
class RecordListReader {
 public:
  // `list` must outlive the reader. A list shorter than `fieldCount` fails at
  // once; elements past it are ignored.
  RecordListReader(const CodecList& list, const char* record, std::size_t fieldCount);

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  std::string string(std::size_t index, const char* field);
  bool boolean(std::size_t index, const char* field);

  template <class E>
  E enumeration(std::size_t index, const char* field, const char* enumerationName) {
    const std::optional<std::int64_t> raw = integer(index, field);
    if (!raw) return E{};
    const std::optional<E> value = fromRawValue<E>(*raw);
    if (!value) fail(field, std::to_string(*raw) + " is not " + enumerationName);
    return value.value_or(E{});
  }

  std::optional<std::string> optionalString(std::size_t index, const char* field);
  std::optional<std::vector<std::optional<double>>> optionalDoubles(std::size_t index,
                                                                    const char* field);

 private:
  std::optional<std::int64_t> integer(std::size_t index, const char* field);
  // The element, or nullptr once the reader has failed.
  const CodecValue* element(std::size_t index);
  void fail(const char* field, const std::string& what);
  void failKind(const char* field, const char* expected, const CodecValue& actual);

  const CodecList& list_;
  const char* record_;
  std::string error_;
};

}  // namespace harkwell
