#pragma once

#include <string>
#include <utility>

#include "platform/flutter/CodecValue.h"
#include "platform/flutter/FlutterStandardReader.h"

namespace harkwell {

// Reads the list that follows a record's type code (just read by `reader`) and
// builds the record from it. A non-list or a list that breaks the record's
// shape fails the message, naming the record and the offset of its type code.
// Private to the bridge's codec readers. Any thread.
template <class Record>
CodecValue readRecord(FlutterStandardReader& reader, const char* recordName) {
  const std::size_t codeOffset = reader.offset() - 1;
  const CodecValue fields = reader.readValue();
  const auto* list = fields.getIf<CodecList>();
  if (list == nullptr) {
    reader.fail(std::string(recordName) + " code is followed by a " + codecValueKindName(fields) +
                    ", not a list",
                codeOffset);
  }
  std::string why;
  std::optional<Record> record = Record::fromList(*list, &why);
  if (!record) reader.fail("malformed " + std::string(recordName) + " (" + why + ")", codeOffset);
  return CodecCustomValue::make(std::move(*record));
}

}  // namespace harkwell
