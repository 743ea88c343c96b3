// Runs vorn-sim for the demo: the simulator makes its own pty and prints one
// line SERIAL=PATH, which is what VORN_PORTS takes.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vornctl {

class SimLauncher {
 public:
  SimLauncher();
  ~SimLauncher();  // stops the simulator
  SimLauncher(const SimLauncher &) = delete;
  SimLauncher &operator=(const SimLauncher &) = delete;

  // Starts program with args and waits for its SERIAL=PATH line.
  bool Start(const std::string &program, const std::vector<std::string> &args, std::string &error);
  const std::string &PortEntry() const { return portEntry_; }
  // Ends the simulator (it removes its pty and links itself); safe to repeat.
  void Stop();

 private:
  struct Process;
  std::unique_ptr<Process> process_;
  std::string portEntry_;
};

// vorn-sim beside vornctl, else the build tree's, else the first on $PATH;
// empty when there is none.
std::string FindSimulator(const char *argv0);

// Sets a variable of this process's environment for the driver to read.
bool SetEnvironment(const char *name, const std::string &value);

}  // namespace vornctl
