#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace harkwell::test {

inline std::string readWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// One run of the harkwell binary in `directory`, through a shell that sets
// `environment` ("NAME=value ...") and execs it, by default with standard
// input empty and both output streams in files there. The arguments hold no
// quotes.
// Thread affinity: the test's thread.
class HarkwellProcess {
 public:
  HarkwellProcess(const std::filesystem::path& directory, const std::vector<std::string>& arguments,
                  const std::string& environment,
                  const std::string& redirections = "</dev/null >stdout.txt 2>stderr.txt")
      : directory_(directory) {
    std::string command =
        "cd '" + directory.string() + "' && exec env " + environment + " '" + HARKWELL_BINARY + "'";
    for (const auto& argument : arguments) command += " '" + argument + "'";
    command += " " + redirections;
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    if (posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
      throw std::runtime_error("cannot start " + command);
  }
  ~HarkwellProcess() { finish(std::chrono::seconds(0)); }
  HarkwellProcess(const HarkwellProcess&) = delete;
  HarkwellProcess& operator=(const HarkwellProcess&) = delete;

  void signal(int signalNumber) { ::kill(pid_, signalNumber); }
  std::string err() const { return readWholeFile(directory_ / "stderr.txt"); }

  // Waits (bounded) until standard error holds `text`.
  bool waitForError(const std::string& text) {
    return poll(std::chrono::seconds(60), [&] { return err().find(text) != std::string::npos; });
  }

  // The exit status, or -1 when killed at the deadline.
  int finish(std::chrono::seconds patience = std::chrono::seconds(60)) {
    if (pid_ <= 0) return exitStatus_;
    int status = 0;
    const bool exited = poll(patience, [&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; });
    if (!exited && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return exitStatus_ = exited && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  // A child process can only be watched by asking: a short poll, bounded.
  template <typename Done>
  static bool poll(std::chrono::seconds patience, Done done) {
    const auto end = std::chrono::steady_clock::now() + patience;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  std::filesystem::path directory_;
  pid_t pid_ = -1;
  int exitStatus_ = -1;
};

}  // namespace harkwell::test
