// harkwell-wire as a user runs it: pasted hex dumps, the codec choice, and the
// exit status scripts rely on.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace harkwell::test {
namespace {

struct WireRun {
  std::string out;
  int status;
};

WireRun runWire(const std::string& arguments) {
  const std::string command = std::string(HARKWELL_WIRE_BINARY) + " " + arguments + " 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  WireRun run{{}, -1};
  if (pipe == nullptr) return run;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) run.out += buffer;
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(HarkwellWireTest, DecodesPastedDumpsWithTheChosenCodecAndExitsWithItsStatus) {
  const std::string device =
      R"('{"t":"AudioDevice","v":{"name":"Mic","type":0,"id":"m","isDefault":true}}')";
  const WireRun encoded = runWire("encode --codec host " + device);
  ASSERT_EQ(encoded.status, 0);
  const std::string hex = "800c0407034d696304000000000000000007016d01";
  EXPECT_EQ(encoded.out, hex + "\n");
  const WireRun decoded = runWire("decode --codec host " + hex);
  EXPECT_EQ(decoded.status, 0);
  EXPECT_EQ("'" + decoded.out.substr(0, decoded.out.size() - 1) + "'", device);
  // The standard codec has no custom types.
  EXPECT_EQ(runWire("decode " + hex).status, 1);

  // Whitespace between bytes, as in a pasted dump; a digit cut off by it is refused.
  EXPECT_EQ(runWire("decode \"$(printf '0c 02\\t00\\n00')\"").out,
            R"({"t":"list","v":[{"t":"null"},{"t":"null"}]})"
            "\n");
  EXPECT_EQ(runWire("decode '0c0 2'").status, 1);
  EXPECT_EQ(runWire("decode 0c02").status, 1);
  EXPECT_EQ(runWire("--nonsense").status, 2);
}

}  // namespace
}  // namespace harkwell::test
