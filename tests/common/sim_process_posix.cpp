#include "common/sim_process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace vorn_test {

SimProcess::SimProcess(const std::vector<std::string> &args) {
  int out[2];
  if (pipe(out) != 0) return;
  std::vector<std::string> all{VORN_SIM_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (auto &a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    pid_ = -1;
    close(out[0]);
    return;
  }
  // The first line names the port; give a slow machine a few seconds.
  std::string line;
  for (;;) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) break;
    char c;
    if (read(out[0], &c, 1) != 1 || c == '\n') break;
    line += c;
  }
  // Kept open: the simulator prints a new line when it reopens after a vanish.
  out_ = out[0];
  const auto eq = line.find('=');
  if (eq != std::string::npos) {
    serial_ = line.substr(0, eq);
    path_ = line.substr(eq + 1);
  }
}

void SimProcess::Kill() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
}

SimProcess::~SimProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
}

}  // namespace vorn_test
