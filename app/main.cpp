// harkwell: the native host, with the console UI standing in for the Flutter UI.
//   harkwell [--backend simulated|pulse] [--list] [--source input|output[:ID]]...
//            [--mix] [--seconds S] [--wav PATH] [--trace] [--ui console|web] [--port P]
//            [--no-open]
// Standard output carries only the host's own log lines; everything the UI
// and the start-up say goes to standard error. The exit status is the UI's
// verdict (0: done; 1: a failure; 2: an unusable command line or source).

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/AppDelegate.h"
#include "app/BackendChoice.h"
#include "app/MainFlutterWindow.h"
#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSApplicationMain.h"
#include "platform/appkit/NSClassRegistry.h"
#include "platform/capture/CaptureBackend.h"
#include "platform/dispatch/LogLine.h"
#include "platform/flutter/FlutterEngine.h"
#include "ui/ConsoleOptions.h"
#include "ui/ConsoleUi.h"
#include "ui/web/WebUi.h"

namespace {

void say(const std::string& text) {
  harkwell::writeDiagnostic(text);
}

// A standard descriptor closed by the caller would be taken by the next file
// or pipe opened, and our own output written into it: each gets /dev/null.
void occupyStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened != fd && opened >= 0) ::close(opened);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  using namespace harkwell;

  occupyStandardDescriptors();
  // A reader that went away (stderr piped into `head`) must not end a
  // capture, nor must a file size limit: both become failed writes.
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);

  ConsoleOptions options;
  if (const std::optional<int> status = parseConsoleOptions(argc, argv, options)) return *status;

  // Chosen before the window wakes, so that the host only ever sees one backend.
  const BackendChoice choice = chooseBackend(options.backend, std::getenv("HARKWELL_AUDIO_BACKEND"),
                                             std::getenv("PULSE_SERVER"), pulseAudioProbe());
  if (!choice.backend) {
    say(choice.error);
    return ConsoleUi::failureExitStatus;
  }
  say("audio backend: " + choice.description);
  CaptureBackend::setCurrent(choice.backend);

  // Explicitly, so that the linker keeps both classes of the main interface.
  NSClassRegistry::registerClass<AppDelegate>("AppDelegate");
  NSClassRegistry::registerClass<MainFlutterWindow>("MainFlutterWindow");

  if (options.ui == "web") {
    WebUi::Settings webSettings{options.port, !options.noOpen, stderr, std::nullopt};
    if (options.wavGiven) webSettings.wavPath = options.wavPath;
    auto web = std::make_shared<WebUi>(
        webSettings, [](int status) { NSApplication::shared().terminate(status); });
    FlutterEngine::setDefaultUiProgram([web](FlutterUiSide& side) { web->run(side); });
    NSApplication::shared().setTerminationRequestHandler([web](int /*signalNumber*/, int count) {
      if (count > 1) return false;
      web->interrupt();
      return true;
    });
    return NSApplicationMain(argc, const_cast<const char**>(argv));
  }

  ConsoleUi::Settings settings;
  settings.output = stderr;
  settings.terminal = ::isatty(STDERR_FILENO) == 1;
  settings.backend = choice.description;
  settings.simulatedBackend = choice.simulated;
  // Kept by the engine's UI program and by the signal handler for the life of
  // the process; the UI outlives the engine, which is never destroyed.
  auto ui = std::make_shared<ConsoleUi>(
      options, [](int status) { NSApplication::shared().terminate(status); }, settings);
  FlutterEngine::setDefaultUiProgram([ui](FlutterUiSide& side) { ui->run(side); });

  // The first Ctrl-C (or SIGTERM, or SIGHUP from a closed terminal) goes to
  // the UI, which ends a capture cleanly; a second one is left to the
  // application, which then exits at once, the files' headers covering every
  // block written so far.
  NSApplication::shared().setTerminationRequestHandler([ui](int /*signalNumber*/, int count) {
    if (count > 1) return false;
    ui->interrupt();
    return true;
  });

  return NSApplicationMain(argc, const_cast<const char**>(argv));
}
