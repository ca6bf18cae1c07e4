#include "bridge/WrapError.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <typeinfo>

#include "platform/flutter/FlutterError.h"

namespace harkwell::test {
namespace {

using ::testing::MatchesRegex;

struct OddError : std::runtime_error {
  OddError() : std::runtime_error("odd failure") {}
};
struct Outer {
  struct Inner {};
};
template <class T>
struct Box {};

// At stake: whatever goes wrong in the host reaches the UI as three elements
// its generated code can read, with the code and message of our own errors
// intact, and anything else described by its text, bare type name and stack.
TEST(WrapErrorTest, OurOwnErrorsKeepTheirThreeFields) {
  const CodecValue details = CodecMap{{"k", std::int32_t{1}}};
  EXPECT_EQ(wrapError(std::make_exception_ptr(PigeonError("C"))),
            (CodecList{"C", CodecValue(), CodecValue()}));
  EXPECT_EQ(wrapError(std::make_exception_ptr(PigeonError("C", "M", details))),
            (CodecList{"C", "M", details}));
  EXPECT_EQ(wrapError(std::make_exception_ptr(FlutterError("F", std::nullopt, details))),
            (CodecList{"F", CodecValue(), details}));
}

TEST(WrapErrorTest, AnythingElseGivesTextTypeAndStack) {
  EXPECT_EQ(wrapError(std::make_exception_ptr(OddError()))[1], CodecValue("OddError"));
  EXPECT_EQ(wrapError(std::make_exception_ptr(std::string("plain")))[0], CodecValue("plain"));
  EXPECT_EQ(wrapError(std::make_exception_ptr(42))[1], CodecValue("int"));
  for (const std::exception_ptr& error :
       {std::make_exception_ptr(OddError()), std::make_exception_ptr(42), std::exception_ptr()}) {
    const CodecList reply = wrapError(error);
    ASSERT_EQ(reply.size(), 3u);
    for (const CodecValue& element : reply) ASSERT_TRUE(element.is<std::string>());
    EXPECT_THAT(std::get<std::string>(reply[2]), MatchesRegex(R"(Stacktrace: \[(".*")?\])"));
  }
  EXPECT_EQ(wrapError(std::make_exception_ptr(OddError()))[0], CodecValue("odd failure"));
  EXPECT_THAT(std::get<std::string>(wrapError(std::make_exception_ptr(OddError()))[2]),
              ::testing::HasSubstr("\", \""))
      << "expected several quoted frames";
}

TEST(WrapErrorTest, TypeNamesDropEveryQualifier) {
  EXPECT_EQ(unqualifiedTypeName(typeid(std::runtime_error)), "runtime_error");
  EXPECT_EQ(unqualifiedTypeName(typeid(Outer::Inner)), "Inner");
  EXPECT_EQ(unqualifiedTypeName(typeid(Box<std::runtime_error>)), "Box<std::runtime_error>");
}

}  // namespace
}  // namespace harkwell::test
