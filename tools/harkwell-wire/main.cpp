// harkwell-wire: shows what travels on the bridge's channels.
//   harkwell-wire decode [--codec standard|host|event] [HEX]   bytes → tagged JSON
//   harkwell-wire encode [--codec standard|host|event] [JSON]  tagged JSON → bytes (lowercase hex)
// Without the argument the input is read from standard input. Malformed input
// gives one line on standard error and exit status 1; a usage error, status 2.

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/BridgeHostApiCodec.h"
#include "bridge/WireJson.h"
#include "platform/flutter/FlutterMessageCodec.h"
#include "platform/flutter/FlutterStandardMessageCodec.h"

namespace {

enum class CodecChoice { standard, host, event };

constexpr int malformedInput = 1;
constexpr int usageError = 2;

const FlutterMessageCodec& codecFor(CodecChoice choice) {
  switch (choice) {
    case CodecChoice::host:
      return harkwell::BridgeHostApiCodec::shared();
    case CodecChoice::event:
      return harkwell::BridgeFlutterApiCodec::shared();
    case CodecChoice::standard:
      break;
  }
  return FlutterStandardMessageCodec::sharedInstance();
}

// Thrown for input that cannot be used; the message is the one line printed.
struct InputError {
  std::string message;
};

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hex digits in either case; whitespace between bytes is allowed so that
// pasted dumps work.
std::vector<std::uint8_t> parseHex(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  int high = -1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (high >= 0) throw InputError{"odd hex digit before position " + std::to_string(i)};
      continue;
    }
    int digit = hexValue(c);
    if (digit < 0) throw InputError{"not a hex digit at position " + std::to_string(i)};
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high << 4 | digit));
      high = -1;
    }
  }
  if (high >= 0) throw InputError{"odd number of hex digits"};
  return bytes;
}

std::string toHex(const std::vector<std::uint8_t>& bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (std::uint8_t byte : bytes) {
    hex += digits[byte >> 4];
    hex += digits[byte & 0x0f];
  }
  return hex;
}

std::string readInput(const std::optional<std::string>& argument) {
  if (argument.has_value()) return *argument;
  std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  if (std::cin.bad()) throw InputError{"cannot read standard input"};
  return text;
}

std::string decode(CodecChoice choice, const std::string& input) {
  std::vector<std::uint8_t> bytes = parseHex(input);
  CodecDecodeResult decoded = codecFor(choice).decode(bytes);
  if (!decoded.ok()) throw InputError{"cannot decode: " + decoded.error};
  return harkwell::formatWireJson(*decoded.value);
}

const char* codecLabel(CodecChoice choice) {
  switch (choice) {
    case CodecChoice::host:
      return "host";
    case CodecChoice::event:
      return "event";
    case CodecChoice::standard:
      break;
  }
  return "standard";
}

std::string encode(CodecChoice choice, const std::string& input) {
  CodecValue value;
  try {
    value = harkwell::parseWireJson(input);
  } catch (const harkwell::WireJsonError& error) {
    throw InputError{error.what()};
  }
  try {
    return toHex(codecFor(choice).encode(value));
  } catch (const std::exception& error) {
    // Typically a record given to a codec that does not carry it.
    throw InputError{std::string("cannot encode with the ") + codecLabel(choice) +
                     " codec: " + error.what()};
  }
}

// Keeps every error message on one line, whatever the text inside it holds.
std::string oneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Shows the bytes on the Harkwell bridge's channels as tagged JSON, and back."};
  app.require_subcommand(1);

  std::string codecName = "standard";
  std::optional<std::string> input;

  CLI::App* decodeCommand =
      app.add_subcommand("decode", "Print the value of one message given in hex");
  CLI::App* encodeCommand =
      app.add_subcommand("encode", "Print the hex bytes of one tagged-JSON value");
  for (CLI::App* command : {decodeCommand, encodeCommand}) {
    command
        ->add_option("--codec", codecName,
                     "standard, host (host channels) or event (event channel)")
        ->check(CLI::IsMember({"standard", "host", "event"}))
        ->capture_default_str();
  }
  decodeCommand->add_option("HEX", input, "The message in hex; standard input if absent");
  encodeCommand->add_option("JSON", input, "One tagged-JSON value; standard input if absent");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    std::cerr << "harkwell-wire: " << oneLine(error.what()) << " (see --help)\n";
    return usageError;
  }

  const CodecChoice choice = codecName == "host"    ? CodecChoice::host
                             : codecName == "event" ? CodecChoice::event
                                                    : CodecChoice::standard;
  try {
    std::string text = readInput(input);
    std::string output = decodeCommand->parsed() ? decode(choice, text) : encode(choice, text);
    std::cout << output << '\n';
    std::cout.flush();
    return std::cout ? 0 : malformedInput;
  } catch (const InputError& error) {
    std::cerr << "harkwell-wire: " << oneLine(error.message) << '\n';
    return malformedInput;
  } catch (const std::exception& error) {
    std::cerr << "harkwell-wire: " << oneLine(error.what()) << '\n';
    return malformedInput;
  }
}
