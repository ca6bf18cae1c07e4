// harkwell_e2e_latency: plays clicks into a sink with libpulse and measures how
// long each takes to reach the UI side as a deviceAudioData event, through the
// PulseAudio capture backend, BridgeApi and the engine's channels. A bare
// libpulse reader on the same monitor, asking what the backend asks, times the
// same clicks as a yardstick for the server's share.
//   harkwell_e2e_latency [--clicks N] [--warmup N] [--sink NAME] [--seed S]
//                        [--player-latency-ms MS]
// Needs PULSE_SERVER (scripts/pulse-test-server prints it): the clicks are
// loud, and must never reach a desktop's speakers. Ends with KEY lines:
//   LATENCY p50_ms <x>, LATENCY p99_ms <x>, ... (see printSummary).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "backends/pulse/PulseDeviceList.h"
#include "bench/e2e/ClickPlayer.h"
#include "bench/e2e/HostUnderTest.h"
#include "bench/e2e/LatencySummary.h"
#include "bench/e2e/MonitorReader.h"
#include "bench/e2e/UiEventProbe.h"

namespace {

using namespace std::chrono_literals;
using harkwell::e2e::ClickPlayer;
using harkwell::e2e::HostUnderTest;
using harkwell::e2e::MonitorReader;
using harkwell::e2e::TimedOnset;
using harkwell::e2e::UiEventProbe;
using Clock = std::chrono::steady_clock;

struct Options {
  int clicks = 100;
  int warmup = 5;
  std::string sink = "test_speakers";
  unsigned seed = 1;
  int playerLatencyMs = 10;
};

struct Figures {
  std::vector<double> latencyMs;          // write → event at the UI
  std::vector<double> readerMs;           // write → chunk at the bare reader
  std::vector<double> hostShareMs;        // bare reader → event at the UI, per click
  std::vector<double> playbackLatencyMs;  // libpulse's own playback latency at the write
  int missed = 0;
  int readerMissed = 0;
  int spurious = 0;
};

int fail(const std::string& why) {
  std::fprintf(stderr, "harkwell_e2e_latency: %s\n", why.c_str());
  return 1;
}

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const char* value = argv[i + 1];
    if (key == "--clicks") {
      options.clicks = std::atoi(value);
    } else if (key == "--warmup") {
      options.warmup = std::atoi(value);
    } else if (key == "--sink") {
      options.sink = value;
    } else if (key == "--player-latency-ms") {
      options.playerLatencyMs = std::atoi(value);
    } else if (key == "--seed") {
      options.seed = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
    } else {
      return false;
    }
  }
  return argc % 2 == 1 && options.clicks > 0 && options.warmup >= 0 && options.playerLatencyMs >= 2;
}

double milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

// The first of `onsets[from...]` that arrived at or after `since`; those that
// arrived before it are added to `early`.
std::optional<TimedOnset> firstSince(const std::vector<TimedOnset>& onsets, std::size_t from,
                                     Clock::time_point since, int* early = nullptr) {
  for (std::size_t i = from; i < onsets.size(); ++i) {
    if (onsets[i].arrivedAt >= since) return onsets[i];
    if (early != nullptr) ++*early;
  }
  return std::nullopt;
}

// One click: request it, wait until its chunk is written, then until an onset
// reaches both the UI and the bare reader after that moment. Onsets stamped
// before the write cannot be this click and count as spurious.
void measureClick(HostUnderTest& host, ClickPlayer& player, const UiEventProbe& probe,
                  const MonitorReader& reader, bool counted, Figures& figures) {
  const std::size_t uiSeen = probe.onsets().size();
  const std::size_t readerSeen = reader.onsets().size();
  const std::size_t index = player.requestClick();
  std::optional<ClickPlayer::WrittenClick> written;
  if (!host.pumpUntil([&] { return (written = player.written(index)).has_value(); }, 1000ms)) {
    figures.missed += counted;
    return;
  }
  const Clock::time_point writtenAt = written->writtenAt;
  std::optional<TimedOnset> atUi;
  std::optional<TimedOnset> atReader;
  host.pumpUntil(
      [&] {
        atUi = firstSince(probe.onsets(), uiSeen, writtenAt);
        atReader = firstSince(reader.onsets(), readerSeen, writtenAt);
        return atUi && atReader;
      },
      1000ms);
  firstSince(probe.onsets(), uiSeen, writtenAt, &figures.spurious);
  firstSince(reader.onsets(), readerSeen, writtenAt, &figures.spurious);
  if (!counted) return;
  if (!atUi) {
    ++figures.missed;
    return;
  }
  figures.latencyMs.push_back(milliseconds(atUi->arrivedAt - writtenAt));
  if (atReader) {
    figures.readerMs.push_back(milliseconds(atReader->arrivedAt - writtenAt));
    figures.hostShareMs.push_back(milliseconds(atUi->arrivedAt - atReader->arrivedAt));
  } else {
    ++figures.readerMissed;
  }
  if (written->playbackLatency) {
    figures.playbackLatencyMs.push_back(
        std::chrono::duration<double, std::milli>(*written->playbackLatency).count());
  }
}

void printFigure(const char* name, const std::vector<double>& values, double percent) {
  if (auto value = harkwell::e2e::nearestRankPercentile(values, percent)) {
    std::printf("LATENCY %s %.2f\n", name, *value);
  }
}

void printSummary(const Figures& figures, const UiEventProbe& probe) {
  const std::size_t events = probe.audioEvents();
  std::printf("LATENCY clicks %zu missed %d reader_missed %d spurious %d\n",
              figures.latencyMs.size(), figures.missed, figures.readerMissed, figures.spurious);
  std::printf("LATENCY samples_per_event %.1f\n",
              events ? static_cast<double>(probe.audioSamples()) / events : 0.0);
  printFigure("min_ms", figures.latencyMs, 0.001);
  printFigure("p50_ms", figures.latencyMs, 50);
  printFigure("p99_ms", figures.latencyMs, 99);
  printFigure("max_ms", figures.latencyMs, 100);
  printFigure("bare_reader_p50_ms", figures.readerMs, 50);
  printFigure("bare_reader_p99_ms", figures.readerMs, 99);
  printFigure("host_share_p50_ms", figures.hostShareMs, 50);
  printFigure("host_share_p99_ms", figures.hostShareMs, 99);
  printFigure("playback_latency_p50_ms", figures.playbackLatencyMs, 50);
  printFigure("playback_latency_p99_ms", figures.playbackLatencyMs, 99);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    return fail(
        "usage: harkwell_e2e_latency [--clicks N] [--warmup N] [--sink NAME] [--seed S] "
        "[--player-latency-ms MS]");
  }
  if (std::getenv("PULSE_SERVER") == nullptr) {
    return fail("PULSE_SERVER is not set: export the lines of scripts/pulse-test-server start");
  }

  std::string whyNot;
  std::unique_ptr<HostUnderTest> host = HostUnderTest::create(whyNot);
  if (!host) return fail("no capture backend: " + whyNot);

  // Listed and listened to as the UI does it: by the id getDevices gives.
  const std::string displayId = std::to_string(harkwell::displayIdForSinkName(options.sink));
  const auto displays = host->displays();
  if (!displays) return fail("getDevices(output) got no usable reply");
  const harkwell::AudioDevice* device = nullptr;
  for (const auto& candidate : *displays) {
    if (candidate.id == displayId) device = &candidate;
  }
  if (device == nullptr) return fail("no display for sink " + options.sink);

  UiEventProbe probe(host->ui(), device->id, {});
  if (!host->listen(*device)) return fail("listen was not answered with [null]");
  // Half a second of audio first: the stream is running and the null sink has
  // settled on its latency before anything is timed.
  if (!host->pumpUntil([&] { return probe.audioSamples() >= 8000; }, 5000ms)) {
    return fail("no audio reached the UI within 5 s of listen");
  }

  std::unique_ptr<MonitorReader> reader = MonitorReader::open(options.sink + ".monitor", whyNot);
  if (!reader) return fail(whyNot);
  ClickPlayer::Settings playerSettings;
  playerSettings.sink = options.sink;
  playerSettings.targetLatency = std::chrono::milliseconds(options.playerLatencyMs);
  std::unique_ptr<ClickPlayer> player = ClickPlayer::open(playerSettings, whyNot);
  if (!player) return fail(whyNot);
  host->pumpFor(300ms);

  // Random gaps, so that clicks are not asked for at one fixed phase of the
  // sink's blocks; each still goes out in the next chunk the server asks for.
  std::mt19937 random(options.seed);
  std::uniform_int_distribution<int> gapMs(150, 250);
  Figures figures;
  for (int i = 0; i < options.warmup + options.clicks; ++i) {
    host->pumpFor(std::chrono::milliseconds(gapMs(random)));
    if (player->failed()) return fail("the playback stream failed");
    measureClick(*host, *player, probe, *reader, i >= options.warmup, figures);
  }
  player.reset();
  reader.reset();

  const bool unlistened = host->unlisten(*device);
  host->pumpUntil([&] { return probe.deviceEvents().size() >= 2; }, 2000ms);
  // deviceStop leaves before the stream's stop completes; let it complete,
  // or taking the host down stops the stream a second time.
  host->pumpFor(200ms);
  printSummary(figures, probe);
  if (!unlistened) return fail("unlisten was not answered with [null]");
  if (probe.undecodable() > 0) return fail("the UI got undecodable events");
  if (figures.latencyMs.size() < 50) return fail("fewer than 50 clicks were measured");
  return 0;
}
