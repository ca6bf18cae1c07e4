#include "bridge/WrapError.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
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
// its generated code can read: our own errors with code, message and details
// intact; anything else as its text, bare type name and stack.
TEST(WrapErrorTest, OurOwnErrorsKeepTheirFieldsAndAnythingElseGivesTextTypeAndStack) {
  const CodecValue details = CodecMap{{"k", std::int32_t{1}}};
  EXPECT_EQ(wrapError(std::make_exception_ptr(PigeonError("C"))),
            (CodecList{"C", CodecValue(), CodecValue()}));
  EXPECT_EQ(wrapError(std::make_exception_ptr(PigeonError("C", "M", details))),
            (CodecList{"C", "M", details}));
  EXPECT_EQ(wrapError(std::make_exception_ptr(FlutterError("F", std::nullopt, details))),
            (CodecList{"F", CodecValue(), details}));

  const CodecList odd = wrapError(std::make_exception_ptr(OddError()));
  EXPECT_EQ(odd[0], CodecValue("odd failure"));
  EXPECT_EQ(odd[1], CodecValue("OddError"));
  EXPECT_THAT(std::get<std::string>(odd[2]), MatchesRegex(R"(Stacktrace: \[".*", ".*"\])"));
  EXPECT_EQ(wrapError(std::make_exception_ptr(std::string("plain")))[0], CodecValue("plain"));
  for (const std::exception_ptr& error : {std::make_exception_ptr(42), std::exception_ptr()}) {
    const CodecList reply = wrapError(error);
    ASSERT_EQ(reply.size(), 3u);
    ASSERT_TRUE(reply[0].is<std::string>() && reply[1].is<std::string>());
    EXPECT_THAT(std::get<std::string>(reply[2]), MatchesRegex(R"(Stacktrace: \[(".*")?\])"));
  }
  EXPECT_EQ(wrapError(std::make_exception_ptr(42))[1], CodecValue("int"));

  EXPECT_EQ(unqualifiedTypeName(typeid(std::runtime_error)), "runtime_error");
  EXPECT_EQ(unqualifiedTypeName(typeid(Outer::Inner)), "Inner");
  EXPECT_EQ(unqualifiedTypeName(typeid(Box<std::runtime_error>)), "Box<std::runtime_error>");
}

}  // namespace
}  // namespace harkwell::test
