// Runs vorn-sim as a child process: the simulator makes its own pty and prints
// one line SERIAL=PATH (again after each reopen), which is what VORN_PORTS takes.
// Used by vornctl's demo, the soak, the call fuzzer, the benches and the tests.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace vorn_simlaunch {

struct SimStartOptions {
  // Its own process group, so that a terminal's Ctrl-C reaches only the
  // program that started it, which then ends the simulator in its own order.
  bool ownProcessGroup = false;
  // The simulator gets SIGTERM when the starting thread ends; only for a
  // program that starts it from its main thread.
  bool endWithParent = false;
  // How long Start waits for the first SERIAL=PATH line.
  std::chrono::milliseconds lineWait{5000};
};

class SimProcess {
 public:
  enum class LineRead { kLine, kTimeout, kEnded };

  SimProcess();
  ~SimProcess();  // stops the simulator
  SimProcess(const SimProcess &) = delete;
  SimProcess &operator=(const SimProcess &) = delete;

  // Starts program with args and waits for its SERIAL=PATH line.
  bool Start(const std::string &program, const std::vector<std::string> &args, std::string &error,
             const SimStartOptions &options = {});
  // Starts program with args without waiting for any line.
  bool Spawn(const std::string &program, const std::vector<std::string> &args, std::string &error,
             const SimStartOptions &options = {});
  // The next line the simulator printed (without its newline), waiting at most wait.
  LineRead ReadLine(std::chrono::milliseconds wait, std::string &line);

  bool Running() const { return pid_ > 0; }
  const std::string &Serial() const { return serial_; }
  const std::string &Path() const { return path_; }
  // "SERIAL=PATH", as VORN_PORTS takes it; empty before a line was read.
  std::string PortEntry() const { return path_.empty() ? std::string() : serial_ + "=" + path_; }

  // Sends SIGTERM and returns at once.
  void Terminate();
  // The exit status (128 + signal when killed) once it ended within wait, else -1.
  int WaitExit(std::chrono::milliseconds wait);
  // Ends the simulator now, as a device that is unplugged.
  void Kill();
  // Ends the simulator (it removes its pty and links itself): SIGTERM, then
  // SIGKILL if it has not ended within two seconds. Safe to repeat.
  void Stop();

 private:
  int pid_ = -1;
  int status_ = -1;  // once reaped
  int output_ = -1;  // kept open: a simulator that writes again must not die of SIGPIPE
  std::string program_;
  std::string pending_;  // read past the last line returned
  std::string serial_;
  std::string path_;
};

// What `program deviceArgs... --describe` prints (the channel layout of the
// device those arguments make), read to its end; empty if it cannot start or
// says nothing within ten seconds.
std::string DescribeSim(const std::string &program, const std::vector<std::string> &deviceArgs);

// "exited with status N" or "was killed by signal N", for a status of waitpid.
std::string ExitText(int status);

}  // namespace vorn_simlaunch
