#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>

#include "vornctl_run.h"

extern char **environ;

namespace vorn_test {

RunResult RunVornctl(const std::vector<std::string> &args, const RunOptions &options) {
  RunResult result;
  int out[2], err[2];
  if (pipe(out) != 0) return result;
  if (options.stderrOnTerminal) {
    err[0] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    const char *name = err[0] >= 0 && grantpt(err[0]) == 0 && unlockpt(err[0]) == 0 ? ptsname(err[0]) : nullptr;
    err[1] = name ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    termios tio{};
    if (err[1] < 0 || tcgetattr(err[1], &tio) != 0) return result;
    cfmakeraw(&tio);
    tcsetattr(err[1], TCSANOW, &tio);
  } else if (pipe(err) != 0) {
    return result;
  }
  std::vector<std::string> all;
  if (options.asNobody) {
    // Root opens every port; what a normal user meets needs a normal user.
    all = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
  }
  all.insert(all.end(), options.wrapper.begin(), options.wrapper.end());
  all.insert(all.end(), {VORNCTL_PATH, "--library", VORN_LIBRARY_PATH});
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (auto &a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char **e = environ; *e; ++e) {
    // The tests say which ports discovery sees; an outer VORN_PORTS must not leak in.
    if (std::strncmp(*e, "VORN_PORTS=", 11) != 0) env.emplace_back(*e);
  }
  env.insert(env.end(), options.environment.begin(), options.environment.end());
  std::vector<char *> envp;
  for (auto &e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, err[0]);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  if (rc != 0) {
    close(out[0]);
    close(err[0]);
    return result;
  }
  const auto start = std::chrono::steady_clock::now();
  bool interrupted = false;
  bool killed = false;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    std::error_code ec;
    const bool grown =
        !options.interruptWhenFile.empty() &&
        static_cast<long>(std::filesystem::file_size(options.interruptWhenFile, ec)) >= options.interruptAtBytes && !ec;
    if (!interrupted && ((options.interruptAfterMs >= 0 && elapsed >= options.interruptAfterMs) || grown)) {
      kill(pid, options.interruptSignal);
      interrupted = true;
    }
    if (!killed && elapsed >= options.timeoutMs) {
      kill(pid, SIGKILL);
      killed = true;
    }
    const bool paused = elapsed < options.stdoutPauseMs;
    fds[0].events = paused ? 0 : POLLIN;
    if (poll(fds, 2, 20) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)) || (i == 0 && paused)) continue;
      char chunk[4096];
      const ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(chunk, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace vorn_test
