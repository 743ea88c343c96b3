#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tools/vorn-fuzz-calls/platform.h"

extern char **environ;

namespace {
const pid_t startingProcess = getpid();
}  // namespace

// A forked child ends through exit() with the parent's other threads gone: what
// they alone held would look leaked to the leak checker.
extern "C" __attribute__((visibility("default"))) int __lsan_is_turned_off() { return getpid() != startingProcess; }

namespace vorn_fuzz {

void SetEnvironment(const std::string &name, const std::string &value) { setenv(name.c_str(), value.c_str(), 1); }

std::string SelfPath() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).string();
}

std::string MakeScratchFolder() {
  char scratch[] = "/tmp/vorn-fuzz-calls-XXXXXX";
  return mkdtemp(scratch) ? std::string(scratch) : std::string();
}

void RemoveFolder(const std::string &path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

void IgnoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }

bool InStartingProcess() { return getpid() == startingProcess; }

ChildEnd RunProcess(const std::vector<std::string> &args, const std::string &errPath, long boundSeconds) {
  std::vector<std::string> copies = args;
  std::vector<char *> argv;
  for (auto &a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return {};
  int status = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(boundSeconds);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return {ChildEnd::Kind::kHung, 0};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (WIFSIGNALED(status)) return {ChildEnd::Kind::kSignalled, WTERMSIG(status)};
  return {ChildEnd::Kind::kExited, WEXITSTATUS(status)};
}

bool SystemForks() { return true; }

bool LibraryReloadsInOneProcess() { return true; }

bool ForkAndExit(bool failedExec, long boundMs, std::string &problem) {
  // The child's exit flushes what it inherited of the buffers: nothing must be pending.
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    problem = "fork failed";
    return false;
  }
  if (child == 0) {
    if (failedExec) execl("/nonexistent/vorn-helper", "vorn-helper", static_cast<char *>(nullptr));
    std::exit(0);
  }
  int status = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      problem = "the forked child did not end within " + std::to_string(boundMs) + " ms";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFSIGNALED(status)) {
    problem = "the forked child was ended by signal " + std::to_string(WTERMSIG(status));
    return false;
  }
  if (WEXITSTATUS(status) != 0) {
    problem = "the forked child exited with " + std::to_string(WEXITSTATUS(status));
    return false;
  }
  return true;
}

}  // namespace vorn_fuzz
