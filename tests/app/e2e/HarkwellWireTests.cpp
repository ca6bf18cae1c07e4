// harkwell-wire as a user runs it: pasted hex dumps, the codec choice, and the
// exit status scripts rely on.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <utility>

namespace harkwell::test {
namespace {

// What harkwell-wire ARGUMENTS (through the shell) prints, and its exit status.
std::pair<std::string, int> runWire(const std::string& arguments) {
  FILE* pipe = ::popen((HARKWELL_WIRE_BINARY " " + arguments + " 2>/dev/null").c_str(), "r");
  std::string out;
  char buffer[256];
  while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  const int status = pipe != nullptr ? ::pclose(pipe) : -1;
  return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(HarkwellWireTest, DecodesPastedDumpsWithTheChosenCodecAndExitsWithItsStatus) {
  const std::string device =
      R"({"t":"AudioDevice","v":{"name":"Mic","type":0,"id":"m","isDefault":true}})";
  const std::string hex = "800c0407034d696304000000000000000007016d01";
  EXPECT_EQ(runWire("encode --codec host '" + device + "'"), std::pair(hex + "\n", 0));
  EXPECT_EQ(runWire("decode --codec host " + hex), std::pair(device + "\n", 0));
  EXPECT_EQ(runWire("decode " + hex).second, 1) << "the standard codec has no custom types";
  // Whitespace between bytes, as in a pasted dump; a digit cut off by it is refused.
  EXPECT_EQ(runWire("decode \"$(printf '0c 02\\t00\\n00')\"").first,
            "{\"t\":\"list\",\"v\":[{\"t\":\"null\"},{\"t\":\"null\"}]}\n");
  EXPECT_EQ(runWire("decode '0c0 2'").second, 1);
  EXPECT_EQ(runWire("decode 0c02").second, 1);
  EXPECT_EQ(runWire("--nonsense").second, 2);
}

}  // namespace
}  // namespace harkwell::test
