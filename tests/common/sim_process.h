// Runs vorn-sim as a child process for integration tests.
#pragma once

#include <string>
#include <vector>

namespace vorn_test {

class SimProcess {
 public:
  // Starts vorn-sim with args and reads its SERIAL=PATH line; ok() tells whether it did.
  explicit SimProcess(const std::vector<std::string> &args = {});
  ~SimProcess();
  SimProcess(const SimProcess &) = delete;
  SimProcess &operator=(const SimProcess &) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string &serial() const { return serial_; }
  const std::string &path() const { return path_; }
  // "SERIAL=PATH", as VORN_PORTS takes it.
  std::string PortEntry() const { return serial_ + "=" + path_; }
  // Ends the simulator now (as a device that is unplugged).
  void Kill();

 private:
  int pid_ = -1;
  int out_ = -1;
  std::string serial_;
  std::string path_;
};

}  // namespace vorn_test
