#include "bridge/WrapError.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <typeinfo>

#include "platform/flutter/FlutterError.h"

namespace harkwell::test {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class OddError : public std::runtime_error {
 public:
  OddError() : std::runtime_error("odd failure") {}
};

struct Outer {
  struct Inner {};
};

template <class T>
struct Box {};

template <class E>
std::exception_ptr thrown(E error) {
  return std::make_exception_ptr(std::move(error));
}

// At stake: whatever goes wrong in the host reaches the UI as three elements
// its generated code can read, with the code and message of our own errors
// intact.
class WrapErrorTest : public ::testing::Test {};

TEST_F(WrapErrorTest, APigeonErrorWithOnlyACodeGivesNullMessageAndDetails) {
  EXPECT_EQ(wrapError(thrown(PigeonError("C"))), (CodecList{"C", CodecValue(), CodecValue()}));
}

TEST_F(WrapErrorTest, APigeonErrorKeepsItsMessageAndDetails) {
  CodecValue details = CodecMap{{"k", std::int32_t{1}}};
  EXPECT_EQ(wrapError(thrown(PigeonError("C", "M", details))), (CodecList{"C", "M", details}));
  EXPECT_EQ(wrapError(PigeonError("C", "M", details)), (CodecList{"C", "M", details}));
}

TEST_F(WrapErrorTest, AFlutterErrorGivesItsThreeFields) {
  EXPECT_EQ(wrapError(thrown(FlutterError("F", "m"))), (CodecList{"F", "m", CodecValue()}));
  EXPECT_EQ(wrapError(thrown(FlutterError("F", std::nullopt, CodecValue(std::int64_t{7})))),
            (CodecList{"F", CodecValue(), std::int64_t{7}}));
}

TEST_F(WrapErrorTest, AnyOtherErrorGivesDescriptionTypeAndStack) {
  CodecList reply = wrapError(thrown(OddError()));
  ASSERT_EQ(reply.size(), 3u);
  EXPECT_EQ(reply[0], CodecValue("odd failure"));
  EXPECT_EQ(reply[1], CodecValue("OddError"));
  ASSERT_TRUE(reply[2].is<std::string>());
  const std::string& stack = std::get<std::string>(reply[2]);
  EXPECT_THAT(stack, StartsWith("Stacktrace: [\""));
  EXPECT_THAT(stack, EndsWith("\"]"));
  EXPECT_THAT(stack, HasSubstr("\", \"")) << "expected several quoted frames";
}

TEST_F(WrapErrorTest, AThrownStringGivesItsText) {
  CodecList reply = wrapError(thrown(std::string("plain text")));
  ASSERT_EQ(reply.size(), 3u);
  EXPECT_EQ(reply[0], CodecValue("plain text"));
  EXPECT_THAT(std::get<std::string>(reply[1]), StartsWith("basic_string"));
}

TEST_F(WrapErrorTest, ANonErrorValueStillGivesThreeStrings) {
  for (const std::exception_ptr& error : {thrown(42), std::exception_ptr()}) {
    CodecList reply = wrapError(error);
    ASSERT_EQ(reply.size(), 3u);
    for (const CodecValue& element : reply) EXPECT_TRUE(element.is<std::string>());
    EXPECT_THAT(std::get<std::string>(reply[2]), StartsWith("Stacktrace: ["));
  }
  EXPECT_EQ(wrapError(thrown(42))[1], CodecValue("int"));
}

// At stake: the type name in an error reply is the bare name the developer
// wrote, without namespaces or enclosing classes, whatever the nesting.
struct TypeNameCase {
  const std::type_info* type;
  const char* expected;
};

class UnqualifiedTypeNameTest : public ::testing::TestWithParam<TypeNameCase> {};

TEST_P(UnqualifiedTypeNameTest, DropsEveryQualifier) {
  EXPECT_EQ(unqualifiedTypeName(*GetParam().type), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Types, UnqualifiedTypeNameTest,
    ::testing::Values(TypeNameCase{&typeid(std::runtime_error), "runtime_error"},
                      TypeNameCase{&typeid(OddError), "OddError"},
                      TypeNameCase{&typeid(Outer::Inner), "Inner"},
                      TypeNameCase{&typeid(Box<std::runtime_error>), "Box<std::runtime_error>"},
                      TypeNameCase{&typeid(PigeonError), "PigeonError"},
                      TypeNameCase{&typeid(int), "int"}));

}  // namespace
}  // namespace harkwell::test
