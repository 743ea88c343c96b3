#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tools/simlaunch/sim_process.h"
#include "tools/vornctl/sim_launcher.h"

namespace vornctl {

namespace {

bool Executable(const std::filesystem::path &path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

struct SimLauncher::Process {
  vorn_simlaunch::SimProcess sim;
};

SimLauncher::SimLauncher() = default;

SimLauncher::~SimLauncher() { Stop(); }

bool SimLauncher::Start(const std::string &program, const std::vector<std::string> &args, std::string &error) {
  Stop();
  if (program.empty()) {
    error = "vorn-sim was found neither beside vornctl, nor in the build tree, nor on $PATH";
    return false;
  }
  process_ = std::make_unique<Process>();
  vorn_simlaunch::SimStartOptions options;
  // Ctrl-C reaches only vornctl, which then stops the stream before it ends the
  // simulator; a vornctl that dies takes the simulator with it.
  options.ownProcessGroup = true;
  options.endWithParent = true;
  if (!process_->sim.Start(program, args, error, options)) {
    process_.reset();
    return false;
  }
  portEntry_ = process_->sim.PortEntry();
  return true;
}

void SimLauncher::Stop() {
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
