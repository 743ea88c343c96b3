#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "tools/vornctl/sim_launcher.h"

namespace vornctl {

namespace {

// The simulator prints its line as soon as its pty exists.
constexpr int kStartTimeoutMs = 5000;
constexpr int kStopTimeoutMs = 2000;

void SleepMs(long ms) {
  timespec t{ms / 1000, (ms % 1000) * 1000000L};
  while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

std::string ExitText(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "was killed by signal " + std::to_string(WTERMSIG(status));
  return "ended";
}

bool Executable(const std::filesystem::path &path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

struct SimLauncher::Process {
  pid_t pid = -1;
  int output = -1;  // kept open: a simulator that writes again must not die of SIGPIPE
};

SimLauncher::SimLauncher() = default;

SimLauncher::~SimLauncher() { Stop(); }

bool SimLauncher::Start(const std::string &program, const std::vector<std::string> &args, std::string &error) {
  Stop();
  if (program.empty()) {
    error = "vorn-sim was found neither beside vornctl, nor in the build tree, nor on $PATH";
    return false;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return false;
  }
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    error = std::string("cannot start vorn-sim: ") + std::strerror(errno);
    ::close(fds[0]);
    ::close(fds[1]);
    return false;
  }
  if (pid == 0) {
    // Its own process group, so the terminal's Ctrl-C reaches only vornctl,
    // which then stops the stream before it ends the simulator.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    ::dup2(fds[1], STDOUT_FILENO);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  process_ = std::make_unique<Process>();
  process_->pid = pid;
  process_->output = fds[0];

  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (text.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      error = "vorn-sim printed no SERIAL=PATH line within " + std::to_string(kStartTimeoutMs / 1000) + " s";
      Stop();
      return false;
    }
    pollfd p{process_->output, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char chunk[256];
    const ssize_t n = ::read(process_->output, chunk, sizeof chunk);
    if (n > 0) {
      text.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    process_->pid = -1;
    error = program + " " + ExitText(status) + " before it printed its port";
    Stop();
    return false;
  }
  const std::string line = text.substr(0, text.find('\n'));
  if (line.find('=') == std::string::npos || line.find('=') == 0) {
    error = "vorn-sim printed '" + line + "' instead of SERIAL=PATH";
    Stop();
    return false;
  }
  portEntry_ = line;
  return true;
}

void SimLauncher::Stop() {
  if (!process_) return;
  if (process_->pid > 0) {
    ::kill(process_->pid, SIGTERM);
    int status = 0;
    bool ended = false;
    for (int waited = 0; waited < kStopTimeoutMs && !ended; waited += 20) {
      ended = ::waitpid(process_->pid, &status, WNOHANG) == process_->pid;
      if (!ended) SleepMs(20);
    }
    if (!ended) {
      ::kill(process_->pid, SIGKILL);
      ::waitpid(process_->pid, &status, 0);
    }
  }
  if (process_->output >= 0) ::close(process_->output);
  process_.reset();
  portEntry_.clear();
}

std::string FindSimulator(const char *argv0) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) self = fs::weakly_canonical(argv0, ec);
  if (const fs::path beside = self.parent_path() / "vorn-sim"; Executable(beside)) return beside.string();
#ifdef VORN_SIM_BUILD_PATH
  if (Executable(VORN_SIM_BUILD_PATH)) return VORN_SIM_BUILD_PATH;
#endif
  const char *path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t colon = dirs.find(':', start);
    const std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!dir.empty() && Executable(fs::path(dir) / "vorn-sim")) return (fs::path(dir) / "vorn-sim").string();
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return {};
}

bool SetEnvironment(const char *name, const std::string &value) { return ::setenv(name, value.c_str(), 1) == 0; }

}  // namespace vornctl
