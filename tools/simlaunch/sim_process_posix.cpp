#include "tools/simlaunch/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vorn_simlaunch {

namespace {

constexpr int kStopTimeoutMs = 2000;

void SleepMs(long ms) {
  timespec t{ms / 1000, (ms % 1000) * 1000000L};
  while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

int StatusCode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

std::string ExitText(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "was killed by signal " + std::to_string(WTERMSIG(status));
  return "ended";
}

SimProcess::SimProcess() = default;

SimProcess::~SimProcess() { Stop(); }

bool SimProcess::Spawn(const std::string &program, const std::vector<std::string> &args, std::string &error,
                       const SimStartOptions &options) {
  Stop();
  int fds[2];
  // Close-on-exec, so that a simulator started at the same time by another
  // thread does not hold this one's pipe open.
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
    if (options.ownProcessGroup) ::setpgid(0, 0);
    if (options.endWithParent) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(127);
    }
    ::dup2(fds[1], STDOUT_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  pid_ = pid;
  status_ = -1;
  output_ = fds[0];
  program_ = program;
  return true;
}

bool SimProcess::Start(const std::string &program, const std::vector<std::string> &args, std::string &error,
                       const SimStartOptions &options) {
  if (!Spawn(program, args, error, options)) return false;
  std::string line;
  switch (ReadLine(options.lineWait, line)) {
    case LineRead::kLine: break;
    case LineRead::kTimeout:
      error = "vorn-sim printed no SERIAL=PATH line within " + std::to_string(options.lineWait.count() / 1000) + " s";
      Stop();
      return false;
    case LineRead::kEnded:
      // A program that closed its output but goes on running is not waited for without end.
      if (WaitExit(std::chrono::milliseconds(kStopTimeoutMs)) < 0) Kill();
      error = program + " " + ExitText(status_) + " before it printed its port";
      Stop();
      return false;
  }
  const std::size_t eq = line.find('=');
  if (eq == std::string::npos || eq == 0) {
    error = "vorn-sim printed '" + line + "' instead of SERIAL=PATH";
    Stop();
    return false;
  }
  serial_ = line.substr(0, eq);
  path_ = line.substr(eq + 1);
  return true;
}

SimProcess::LineRead SimProcess::ReadLine(std::chrono::milliseconds wait, std::string &line) {
  line.clear();
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (const std::size_t end = pending_.find('\n'); end != std::string::npos) {
      line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return LineRead::kLine;
    }
    if (output_ < 0) return LineRead::kEnded;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return LineRead::kTimeout;
    pollfd p{output_, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready <= 0) continue;
    char chunk[256];
    const ssize_t n = ::read(output_, chunk, sizeof chunk);
    if (n > 0) {
      pending_.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    line = pending_;  // an unfinished last line
    pending_.clear();
    return LineRead::kEnded;
  }
}

void SimProcess::Terminate() {
  if (pid_ > 0) ::kill(pid_, SIGTERM);
}

int SimProcess::WaitExit(std::chrono::milliseconds wait) {
  if (pid_ <= 0) return status_ >= 0 ? StatusCode(status_) : -1;
  for (long waited = 0;; waited += 5) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      status_ = status;
      return StatusCode(status);
    }
    if (waited >= wait.count()) return -1;
    SleepMs(5);
  }
}

void SimProcess::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  status_ = status;
}

void SimProcess::Stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    if (WaitExit(std::chrono::milliseconds(kStopTimeoutMs)) < 0) Kill();
  }
  if (output_ >= 0) ::close(output_);
  output_ = -1;
  pending_.clear();
  serial_.clear();
  path_.clear();
}

std::string DescribeSim(const std::string &program, const std::vector<std::string> &deviceArgs) {
  std::vector<std::string> args = deviceArgs;
  args.push_back("--describe");
  SimProcess process;  // its destructor ends a simulator that outstays the wait
  std::string error, line, out;
  if (!process.Spawn(program, args, error)) return out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    const SimProcess::LineRead read = process.ReadLine(left, line);
    if (read == SimProcess::LineRead::kTimeout) break;
    if (read == SimProcess::LineRead::kLine) {
      out += line;
      out += '\n';
      continue;
    }
    out += line;  // an unfinished last line
    break;
  }
  return out;
}

}  // namespace vorn_simlaunch
