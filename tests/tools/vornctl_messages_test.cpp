// What vornctl tells a user whose device does not come up: one message for
// wrong firmware, a port another program holds, permission advice that fits
// the port, and devices whose unique identifiers collide.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "common/sim_process.h"
#include "vornctl_recording_check.h"
#include "vornctl_run.h"
#include "vornctl_scratch_test.h"

namespace vorn_test {
namespace {

namespace fs = std::filesystem;

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool CanDropPrivileges() { return ::geteuid() == 0 && fs::exists("/usr/bin/setpriv"); }

class MessagesTest : public vorn_test::ScratchFolderTest {
 protected:
  MessagesTest() : ScratchFolderTest("vornctl-messages-test") {}

  static RunResult RunOn(const std::string &ports, const std::vector<std::string> &args, bool asNobody = false) {
    RunOptions options;
    options.environment = {"VORN_PORTS=" + ports};
    options.asNobody = asNobody;
    return RunVornctl(args, options);
  }
};

TEST_F(MessagesTest, WrongFirmwareIsTheOneThingSaid) {
  vorn_test::SimProcess sim({"--fault", "wrong-firmware=2"});
  ASSERT_TRUE(sim.ok());
  for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
           {"info", "0"}, {"record", "0", "--seconds", "1", "--out", File("x.csv")}}) {
    const RunResult run = RunOn(sim.PortEntry(), args);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("the driver says: \"A Vorn Device is connected, but can't be used due to wrong firmware"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("Devices/VornFirmwareVer.ini"), std::string::npos) << run.err;
    // Nothing that sends the user to the power switch or the cable.
    for (const char *contradiction : {"switched on", "does not answer", "plugged in", "busy"}) {
      EXPECT_EQ(run.err.find(contradiction), std::string::npos) << contradiction << "\n" << run.err;
    }
  }
  EXPECT_FALSE(fs::exists(File("x.csv")));
}

TEST_F(MessagesTest, OnATerminalTheWaitIsALineThatCountsAndThenGoesAway) {
  vorn_test::SimProcess silent({"--fault", "silent"});
  vorn_test::SimProcess good;
  ASSERT_TRUE(silent.ok() && good.ok());
  RunOptions options;
  options.stderrOnTerminal = true;
  options.interruptAfterMs = 2600;
  options.environment = {"VORN_PORTS=" + silent.PortEntry()};
  const RunResult waiting = RunVornctl({"info", "0"}, options);
  EXPECT_EQ(waiting.exitCode, 130) << waiting.err;
  const std::string line =
      "\rvornctl: waiting for " + silent.serial() + " on " + silent.path() + " to answer (up to 21 s)...";
  for (const char *count : {" 0 s", " 1 s", " 2 s"}) {
    EXPECT_NE(waiting.err.find(line + count), std::string::npos) << count << "\n" << waiting.err;
  }
  EXPECT_NE(waiting.err.find("\nvornctl: stopped by Ctrl-C"), std::string::npos) << waiting.err;

  // A device that answers: the line is cleared and leaves nothing behind.
  options.interruptAfterMs = -1;
  options.environment = {"VORN_PORTS=" + good.PortEntry()};
  const RunResult listed = RunVornctl({"list"}, options);
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  const std::size_t at = listed.err.find(" 0 s");
  ASSERT_NE(at, std::string::npos) << listed.err;
  EXPECT_EQ(listed.err.find_first_not_of(" \r", at + 4), std::string::npos) << listed.err;
  EXPECT_EQ(listed.err.back(), '\r');
}

TEST_F(MessagesTest, PortHeldByAnotherProgramIsCalledBusyWithItsHolderAtOnce) {
  vorn_test::SimProcess sim;
  ASSERT_TRUE(sim.ok());
  // A normal user shares the pty too, for the case without privileges.
  ASSERT_EQ(::chmod(sim.path().c_str(), 0666), 0);
  fs::permissions(dir_, fs::perms::all);
  const std::string csv = File("first.csv");
  auto first = std::async(std::launch::async, [&] {
    return RunOn(sim.PortEntry(), {"record", "0", "--seconds", "6", "--out", csv, "--no-progress"});
  });
  // Until the first recorder has the port and writes rows (under the file's
  // temporary name until it is complete).
  const std::string writing = File("first.partial.csv");
  const auto waitStart = std::chrono::steady_clock::now();
  while ((!fs::exists(writing) || fs::file_size(writing) < 2000) && SecondsSince(waitStart) < 30) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(fs::exists(writing));
  std::vector<bool> users = {false};
  if (CanDropPrivileges()) users.push_back(true);
  for (bool asNobody : users) {
    const auto start = std::chrono::steady_clock::now();
    const RunResult second =
        RunOn(sim.PortEntry(), {"record", "0", "--seconds", "1", "--out", File("second.csv")}, asNobody);
    EXPECT_LT(SecondsSince(start), 5.0) << "as nobody: " << asNobody;  // not the driver's 26 s
    EXPECT_EQ(second.exitCode, 1) << second.err;
    EXPECT_NE(second.err.find(sim.path() + " is busy: process "), std::string::npos) << second.err;
    EXPECT_NE(second.err.find(" (vornctl) holds it"), std::string::npos) << second.err;
    EXPECT_EQ(second.err.find("switched on"), std::string::npos) << second.err;
    EXPECT_FALSE(fs::exists(File("second.csv")));
  }
  // The first recording never noticed.
  const RunResult firstRun = first.get();
  EXPECT_EQ(firstRun.exitCode, 0) << firstRun.err;
  EXPECT_EQ(ReadCsv(csv).rows.size(), 3000u);
}

TEST_F(MessagesTest, PermissionAdviceFitsThePortsOwnerGroupAndMode) {
  if (!CanDropPrivileges()) GTEST_SKIP() << "needs root and setpriv to drop to nobody";
  vorn_test::SimProcess sim;
  ASSERT_TRUE(sim.ok());
  fs::permissions(dir_, fs::perms::all);
  struct Case {
    gid_t group;
    mode_t mode;
    std::vector<std::string> said;
    std::vector<std::string> notSaid;
  };
  const std::vector<Case> cases = {
      // A simulator's pty that root started: only root may open it, and no group helps.
      {0,
       0600,
       {"only root may open", "joining a group does not help", "mode 0600", "Start vorn-sim as yourself"},
       {"dialout", "usermod"}},
      // A USB serial port as udev makes it: the dialout group may use it.
      {20, 0660, {"group dialout, mode 0660", "add yourself to the group dialout", "usermod -aG dialout nobody"}, {}},
  };
  for (const Case &c : cases) {
    ASSERT_EQ(::chown(sim.path().c_str(), 0, c.group), 0);
    ASSERT_EQ(::chmod(sim.path().c_str(), c.mode), 0);
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>>{{"list"}, {"record", "0", "--seconds", "1", "--out", File("x.csv")}}) {
      const auto start = std::chrono::steady_clock::now();
      const RunResult run = RunOn(sim.PortEntry(), args, true);
      EXPECT_LT(SecondsSince(start), 5.0);  // before any of Initialise's waiting
      EXPECT_EQ(run.exitCode, 1) << run.err;
      EXPECT_NE(run.err.find("you (nobody) may not open " + sim.path()), std::string::npos) << run.err;
      for (const std::string &text : c.said)
        EXPECT_NE(run.err.find(text), std::string::npos) << text << "\n" << run.err;
      for (const std::string &text : c.notSaid)
        EXPECT_EQ(run.err.find(text), std::string::npos) << text << "\n" << run.err;
    }
  }
  // Named through a link, as vorn-sim --link makes, the pty is still known for one.
  ASSERT_EQ(::chown(sim.path().c_str(), 0, 0), 0);
  ASSERT_EQ(::chmod(sim.path().c_str(), 0600), 0);
  fs::create_symlink(sim.path(), File("tty"));
  const RunResult linked = RunOn(sim.serial() + "=" + File("tty"), {"list"}, true);
  EXPECT_NE(linked.err.find("it is a pseudo-terminal that only root may open"), std::string::npos) << linked.err;
}

TEST_F(MessagesTest, SharedUniqueIdsAreFlaggedAndSerialTextsKeepDevicesApart) {
  // The identifier uses only the middle of the serial number: all three give 0.
  vorn_test::SimProcess a({"--serial", "VSC1000001"});
  vorn_test::SimProcess b({"--serial", "VSC1000002"});
  vorn_test::SimProcess c({"--serial", "VSC2345678"});
  ASSERT_TRUE(a.ok() && b.ok() && c.ok());
  const std::string ports = a.PortEntry() + ";" + b.PortEntry() + ";" + c.PortEntry();
  const RunResult list = RunOn(ports, {"list"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_NE(list.out.find("1000001  0x00000000 (shared)"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("1000002  0x00000000 (shared)"), std::string::npos) << list.out;
  EXPECT_EQ(list.out.find("2345678  0x00000000"), std::string::npos) << list.out;
  EXPECT_NE(list.err.find("warning: devices 0 and 1 share the unique id 0x00000000"), std::string::npos) << list.err;
  EXPECT_EQ(list.err.find("devices 0, 1"), std::string::npos) << list.err;

  const RunResult json = RunOn(ports, {"list", "--json"});
  EXPECT_NE(json.out.find("\"serial\": \"1000002\", \"unique_id\": \"0x00000000\", \"product\": \"Quellograph\", "
                          "\"version\": \"1.4.27.1\", \"shared_unique_id\": true"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"shared_unique_id\": false"), std::string::npos) << json.out;

  const RunResult info = RunOn(ports, {"info", "1000002"});
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("device 1: serial 1000002, unique id 0x00000000"), std::string::npos) << info.out;
  EXPECT_NE(info.err.find("share the unique id"), std::string::npos) << info.err;
  EXPECT_EQ(RunOn(ports, {"info", "2"}).err.find("share the unique id"), std::string::npos);

  // The serial number the port was named by picks the device too.
  const RunResult named =
      RunOn(ports, {"record", "VSC1000002", "--seconds", "0.2", "--out", File("b.csv"), "--no-progress"});
  ASSERT_EQ(named.exitCode, 0) << named.err;
  EXPECT_NE(ReadCsv(File("b.csv")).Comment("serial").find("1000002"), std::string::npos);
}

}  // namespace
}  // namespace vorn_test
