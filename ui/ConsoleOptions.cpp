#include "ui/ConsoleOptions.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>

#include "ui/SourceChoice.h"
#include "platform/dispatch/LogLine.h"

namespace harkwell {

std::optional<double> parseSeconds(const std::string& text, std::string& whyNot) {
  double value = 0;
  // Decimal only: from_chars takes no hexadecimal, sign or spaces in this
  // format, but it does take "nan" and "inf", refused below.
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::general);
  if (text.empty() || stop != end ||
      (error != std::errc() && error != std::errc::result_out_of_range) || std::isnan(value)) {
    whyNot = "'" + text + "' is not a number of seconds";
    return std::nullopt;
  }
  if (value == 0 && error == std::errc()) return 0.0;
  if (error != std::errc() || !(value >= minimumSeconds && value <= maximumSeconds)) {
    whyNot = "'" + text + "' is out of range: 0 (until Ctrl-C), or 0.001 to " +
             std::to_string(static_cast<int>(maximumSeconds)) + " seconds";
    return std::nullopt;
  }
  return value;
}

std::optional<int> parseConsoleOptions(int argc, const char* const argv[],
                                       ConsoleOptions& options) {
  CLI::App app{
      "Harkwell host with its console UI: lists audio sources and records them to WAV "
      "files (16000 Hz float)",
      "harkwell"};
  app.add_option("--backend", options.backend,
                 "Audio backend; default: HARKWELL_AUDIO_BACKEND, else PulseAudio when a server "
                 "answers, else simulated")
      ->check(CLI::IsMember({"simulated", "pulse"}));
  app.add_flag("--list", options.list, "Show permissions and sources, then stop");
  app.add_option("--source", options.sources,
                 "input or output (the default microphone or display), or input:ID / output:ID; "
                 "repeat it to record several sources at once")
      ->check(
          [](const std::string& text) -> std::string {
            if (parseSourceChoice(text)) return {};
            return "expected input or output, optionally followed by :ID";
          },
          "input|output[:ID]")
      ->take_all()
      ->allow_extra_args(false);
  app.add_flag("--mix", options.mix,
               "With several sources: one WAV file, one channel per source, aligned by arrival");
  std::string seconds;
  app.add_option("--seconds", seconds,
                 "Seconds of audio to record (decimal, at most 28800); 0 records until Ctrl-C");
  auto* wav = app.add_option("--wav", options.wavPath,
                 "WAV file to write; with several sources and no --mix, each source's file is "
                 "this name with -input, -output, -input_ID ... before the extension")
      ->check([](const std::string& text) -> std::string {
        if (text.empty()) return "the WAV path is empty";
        if (text == "-") {
          return "harkwell does not write WAV to standard output (its header is rewritten "
                 "while recording); name a file";
        }
        return {};
      });
  app.add_flag("--trace", options.trace,
               "Print every channel message in both directions as tagged JSON");
  app.add_option("--ui", options.ui, "console, or web: a page in the browser")
      ->check(CLI::IsMember({"console", "web"}));
  app.add_option("--port", options.port, "Port of the page on 127.0.0.1 (--ui web); default: any");
  app.add_flag("--no-open", options.noOpen, "Print the page's address without opening it");
  try {
    app.parse(argc, argv);
    options.wavGiven = wav->count() > 0;
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : usageExitStatus;
  }
  if (!seconds.empty() || app.count("--seconds") > 0) {
    std::string whyNot;
    const std::optional<double> value = parseSeconds(seconds, whyNot);
    if (!value) {
      const std::string line = "--seconds: " + escapeControlCharacters(whyNot) + "\n";
      std::fputs(line.c_str(), stderr);
      return usageExitStatus;
    }
    options.seconds = *value;
  }
  return std::nullopt;
}

}  // namespace harkwell
