#include "ui/ConsoleOptions.h"

#include <CLI/CLI.hpp>

#include "ui/SourceChoice.h"

namespace harkwell {

std::optional<int> parseConsoleOptions(int argc, const char* const argv[],
                                       ConsoleOptions& options) {
  CLI::App app{
      "Harkwell host with its console UI: lists audio sources and records one to a WAV "
      "file (16000 Hz mono float)",
      "harkwell"};
  app.add_option("--backend", options.backend,
                 "Audio backend; default: HARKWELL_AUDIO_BACKEND, else PulseAudio when a server "
                 "answers, else simulated")
      ->check(CLI::IsMember({"simulated", "pulse"}));
  app.add_flag("--list", options.list, "Show permissions and sources, then stop");
  app.add_option("--source", options.source,
                 "input or output (the default microphone or display), or input:ID / output:ID")
      ->check(
          [](const std::string& text) -> std::string {
            if (parseSourceChoice(text)) return {};
            return "expected input or output, optionally followed by :ID";
          },
          "input|output[:ID]");
  app.add_option("--seconds", options.seconds, "Seconds of audio to record; 0 records until Ctrl-C")
      ->check(CLI::NonNegativeNumber);
  auto* wav = app.add_option("--wav", options.wavPath, "WAV file to write")
                  ->check([](const std::string& text) -> std::string {
                    return text.empty() ? "the WAV path is empty" : std::string();
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
  return std::nullopt;
}

}  // namespace harkwell
