#include "platform/appkit/NSWorkspace.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

namespace {

constexpr std::size_t maxLinkLength = 8192;

// An absolute link: a scheme ("x-apple.systempreferences", "https") then ':',
// no whitespace or control characters. The check also guarantees that the
// opener cannot mistake the link for an option of its own.
bool isWellFormedLink(std::string_view url) {
  if (url.empty() || url.size() > maxLinkLength) return false;
  const std::size_t colon = url.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!isAlpha(url[0])) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    const char c = url[i];
    if (!isAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  for (char c : url) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7f) return false;
  }
  return true;
}

std::string findOnPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string_view remaining = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    const std::size_t end = remaining.find(':');
    const std::string_view directory = remaining.substr(0, end);
    if (!directory.empty()) {
      std::string candidate = std::string(directory) + "/" + program;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    if (end == std::string_view::npos) return {};
    remaining.remove_prefix(end + 1);
  }
}

// Starts `program url` with its standard streams on /dev/null (standard output
// carries only the host's log lines) and default signal handling. Returns the
// child's pid, or -1.
pid_t spawnOpener(const std::string& program, const std::string& url) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return -1;
  }
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::string programArgument = program;
  std::string urlArgument = url;
  char* argv[] = {programArgument.data(), urlArgument.data(), nullptr};
  pid_t pid = -1;
  const int result = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return result == 0 ? pid : -1;
}

// Reaps the child on a thread of its own so that the caller never waits and
// no zombie is left behind.
void reapLater(pid_t pid) {
  try {
    std::thread([pid] {
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
  }
}

}  // namespace

NSWorkspace::NSWorkspace() {
  const char* disabled = std::getenv("HARKWELL_NO_XDG_OPEN");
  if (disabled != nullptr && std::strcmp(disabled, "1") == 0) {
    MutexLock lock(mutex_);
    opensLinks_ = false;
  }
}

NSWorkspace& NSWorkspace::sharedWorkspace() {
  static NSWorkspace* workspace = new NSWorkspace;
  return *workspace;
}

bool NSWorkspace::openURL(std::string_view url) {
  if (!isWellFormedLink(url)) return false;
  bool opensLinks = false;
  std::string opener;
  {
    MutexLock lock(mutex_);
    opened_.emplace_back(url);
    opensLinks = opensLinks_;
    opener = openerPath_;
  }
  if (!opensLinks) return true;
  // Spawning happens outside the lock: another thread's open need not wait.
  if (opener.empty()) opener = findOnPath("xdg-open");
  if (opener.empty()) return false;
  const pid_t pid = spawnOpener(opener, std::string(url));
  if (pid < 0) return false;
  // Without a thread for the reaper the child is left to be reaped at exit,
  // rather than waited for here; the hand-off has started either way.
  reapLater(pid);
  return true;
}

std::vector<std::string> NSWorkspace::openedURLs() const {
  MutexLock lock(mutex_);
  return opened_;
}

void NSWorkspace::clearOpenedURLs() {
  MutexLock lock(mutex_);
  opened_.clear();
}

void NSWorkspace::setOpensLinks(bool opensLinks) {
  MutexLock lock(mutex_);
  opensLinks_ = opensLinks;
}

void NSWorkspace::setOpenerPath(std::string path) {
  MutexLock lock(mutex_);
  openerPath_ = std::move(path);
}
