// Under Wine the simulators are the native program, started for this process by
// tools/vorn-fuzz-calls/wine_sim_broker.py, which runs it: requests and answers are
// files in the folder VORN_FUZZ_BROKER names (a Linux path). A simulator serves COM
// port N of the prefix; its log is written where this program reads it through Z:.
//   VORN_FUZZ_COM_BASE   the first of the 50 COM port numbers this worker may use
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "tools/vorn-fuzz-calls/sim_device.h"

namespace vorn_fuzz {

namespace {

std::string Environment(const char *name) {
  const char *value = std::getenv(name);
  return value ? value : "";
}

// Z:\tmp\x for /tmp/x, and back.
std::string WindowsPath(const std::string &unix) {
  std::string out = "Z:" + unix;
  for (char &c : out)
    if (c == '/') c = '\\';
  return out;
}

std::string UnixPath(const std::string &windows) {
  std::string out = windows.rfind("Z:", 0) == 0 || windows.rfind("z:", 0) == 0 ? windows.substr(2) : windows;
  for (char &c : out)
    if (c == '\\') c = '/';
  return out;
}

// One request to the broker and its answer; an answer with "ok" false (or none within
// the bound) carries "error".
nlohmann::json Ask(nlohmann::json request, int boundMs) {
  const std::string folder = Environment("VORN_FUZZ_BROKER");
  if (folder.empty()) return {{"ok", false}, {"error", "VORN_FUZZ_BROKER is not set: run under wine_sim_broker.py"}};
  static int count = 0;
  const std::string id = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
  const std::string base = WindowsPath(folder) + "\\";
  { std::ofstream(base + "req-" + id + ".part") << request.dump(); }
  if (!MoveFileA((base + "req-" + id + ".part").c_str(), (base + "req-" + id + ".json").c_str())) {
    return {{"ok", false}, {"error", "cannot hand a request to the broker"}};
  }
  const std::string reply = base + "rep-" + id + ".json";
  for (int waited = 0; waited <= boundMs; waited += 5) {
    if (GetFileAttributesA(reply.c_str()) != INVALID_FILE_ATTRIBUTES) {
      nlohmann::json answer;
      {
        std::ifstream in(reply);
        answer = nlohmann::json::parse(in, nullptr, false);
      }
      DeleteFileA(reply.c_str());
      if (answer.is_discarded()) return {{"ok", false}, {"error", "unreadable answer from the broker"}};
      return answer;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return {{"ok", false}, {"error", "the broker did not answer"}};
}

class WineSim final : public SimDevice {
 public:
  // Ended as a device is unplugged: the simulator removes its link itself.
  ~WineSim() override { Ask({{"op", "stop"}, {"pid", pid}}, 15000); }
  std::string PortEntry() const override { return entry; }

  long pid = 0;
  std::string entry;
};

int ComNumber() {
  static int next = static_cast<int>(GetCurrentProcessId() * 7);
  const std::string base = Environment("VORN_FUZZ_COM_BASE");
  return (base.empty() ? 100 : std::atoi(base.c_str())) + (next++ % 50);
}

}  // namespace

std::unique_ptr<SimDevice> StartSimDevice(const std::vector<std::string> &args, const std::string &serial,
                                          const std::string &sentLog, const std::string &, std::string &error) {
  const int com = ComNumber();
  const nlohmann::json answer =
      Ask({{"op", "start"}, {"args", args}, {"serial", serial}, {"sent_log", UnixPath(sentLog)}, {"com", com}}, 15000);
  if (!answer.value("ok", false)) {
    error = answer.value("error", std::string("no answer"));
    return nullptr;
  }
  auto sim = std::make_unique<WineSim>();
  sim->pid = answer.value("pid", 0L);
  sim->entry = serial + "=\\\\.\\COM" + std::to_string(com);
  return sim;
}

std::string DescribeSimDevice(const std::vector<std::string> &args) {
  const nlohmann::json answer = Ask({{"op", "describe"}, {"args", args}}, 15000);
  const std::string file = WindowsPath(answer.value("file", std::string()));
  std::string text;
  if (answer.value("ok", false)) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    text = bytes.str();
  }
  DeleteFileA(file.c_str());
  return text;
}

}  // namespace vorn_fuzz
