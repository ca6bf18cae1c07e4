#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace harkwell::test {

// What a finished run of the binary left behind.
struct ProcessResult {
  int exitStatus = -1;  // -1: killed at the deadline
  std::string out;      // standard output
  std::string err;      // standard error
};

inline std::string readWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// One run of `binary` in `directory`, with standard input closed and both
// output streams captured in files there. The environment is ours plus
// `extraEnvironment` ("NAME=value").
// Thread affinity: the test's thread.
class HarkwellProcess {
 public:
  static constexpr std::chrono::seconds deadline{60};

  HarkwellProcess(const std::string& binary, const std::vector<std::string>& arguments,
                  const std::filesystem::path& directory,
                  const std::vector<std::string>& extraEnvironment)
      : directory_(directory) {
    std::vector<std::string> argv{binary};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
    envStrings.insert(envStrings.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> env;
    for (auto& e : envStrings) env.push_back(e.data());
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath().c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath().c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    const int failed =
        posix_spawn(&pid_, binary.c_str(), &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) throw std::runtime_error("cannot start " + binary);
  }

  ~HarkwellProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  HarkwellProcess(const HarkwellProcess&) = delete;
  HarkwellProcess& operator=(const HarkwellProcess&) = delete;

  void signal(int signalNumber) { ::kill(pid_, signalNumber); }

  // Waits (bounded) until standard error holds `text`; false at the deadline
  // or when the process ended first.
  bool waitForError(const std::string& text) {
    return pollUntil([&] { return readWholeFile(errPath()).find(text) != std::string::npos; });
  }

  // Waits for the end, killing the process at the deadline.
  ProcessResult finish() {
    int status = 0;
    bool ended = pollUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; });
    ProcessResult result;
    if (!ended) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    } else if (WIFEXITED(status)) {
      result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
      result.exitStatus = 128 + WTERMSIG(status);
    }
    pid_ = -1;
    result.out = readWholeFile(outPath());
    result.err = readWholeFile(errPath());
    return result;
  }

 private:
  std::filesystem::path outPath() const { return directory_ / "stdout.txt"; }
  std::filesystem::path errPath() const { return directory_ / "stderr.txt"; }

  // A child process can only be watched by asking; a short poll, bounded.
  static bool pollUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  std::filesystem::path directory_;
  pid_t pid_ = -1;
};

}  // namespace harkwell::test
