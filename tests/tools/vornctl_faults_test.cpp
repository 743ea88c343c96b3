// What tripped vornctl's users, each against vorn-sim's fault modes: an
// incomplete self-description, Ctrl-C and SIGTERM before the recording, a
// late start, a device that falls silent, output mistakes, the EDF+
// annotations, the demo's files and the advice on VORN_PORTS.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include "common/sim_process.h"
#include "vornctl_mne_check.h"
#include "vornctl_recording_check.h"
#include "vornctl_run.h"
#include "vornctl_scratch_test.h"

#if VORNCTL_HAVE_EDFLIB
#include <edflib.h>
#endif

namespace vorn_test {
namespace {

namespace fs = std::filesystem;

const std::vector<ExpectedChannel> kDefaultChannels = {
    {"ECG", "mV", -5, 5}, {"Resp", "l/min", 0, 60}, {"SpO2", "%", 0, 100}, {"Temp", "degC", 30, 42}};

std::string Slurp(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class FaultTest : public vorn_test::ScratchFolderTest {
 protected:
  FaultTest() : ScratchFolderTest("vornctl-fault-test") {}

  static RunResult RunOn(const vorn_test::SimProcess &sim, const std::vector<std::string> &args,
                         RunOptions options = {}) {
    options.environment.push_back("VORN_PORTS=" + sim.PortEntry());
    return RunVornctl(args, options);
  }
};

TEST_F(FaultTest, IncompleteSelfDescriptionFailsAfterOneWaitWithWhatIsMissing) {
  // Three devices, so list, info and record run side by side.
  vorn_test::SimProcess a({"--fault", "names-mismatch"});
  vorn_test::SimProcess b({"--fault", "names-mismatch"});
  vorn_test::SimProcess c({"--fault", "names-mismatch"});
  // And, beside them, a device that never answers.
  vorn_test::SimProcess silent({"--fault", "silent"});
  ASSERT_TRUE(a.ok() && b.ok() && c.ok() && silent.ok());
  const auto start = std::chrono::steady_clock::now();
  auto list = std::async(std::launch::async, [&] { return RunOn(a, {"list"}); });
  auto info = std::async(std::launch::async, [&] { return RunOn(b, {"info", "0"}); });
  auto record = std::async(std::launch::async, [&] {
    return RunOn(c, {"record", "0", "--seconds", "1", "--out", File("never.csv"), "--no-progress"});
  });
  auto unanswered = std::async(std::launch::async, [&] { return RunOn(silent, {"info", "0"}); });
  const RunResult listed = list.get();
  const RunResult informed = info.get();
  const RunResult recorded = record.get();
  // One 15 s wait of the driver, not one per question.
  EXPECT_LT(SecondsSince(start), 40.0);
  for (const RunResult *run : {&listed, &informed, &recorded}) {
    EXPECT_EQ(run->exitCode, 1) << run->err;
    EXPECT_NE(run->err.find("self-description is incomplete"), std::string::npos) << run->err;
    EXPECT_NE(run->err.find("channel names do not match its channel count"), std::string::npos) << run->err;
  }
  EXPECT_NE(listed.out.find("(incomplete)"), std::string::npos) << listed.out;
  EXPECT_FALSE(fs::exists(File("never.csv")));
  const RunResult quiet = unanswered.get();
  EXPECT_EQ(quiet.exitCode, 1);
  EXPECT_NE(quiet.err.find("Initialise failed; the driver says: \"The Vorn Device is not responding"),
            std::string::npos)
      << quiet.err;
  EXPECT_NE(quiet.err.find(silent.path() + " opens, but the device does not answer"), std::string::npos) << quiet.err;
}

TEST_F(FaultTest, OutputMistakesAreRefusedBeforeTheDeviceHearsAnything) {
  const std::string trace = File("sim.trace");
  vorn_test::SimProcess sim({"--trace", trace});
  ASSERT_TRUE(sim.ok());
  const std::vector<std::vector<std::string>> traps = {
      {"--out", File("b.csv"), "--plot", File("b.csv")},
      {"--out", File("a.csv"), "--plot", "-"},
      {"--out", File("x.png.csv"), "--plot", File("x.png")},
      {"--out", File("run.txt")},
      {"--out", "/nonexistent/dir/x.csv"},
      {"--out", "-", "--out", "-"},
  };
  for (std::vector<std::string> args : traps) {
    args.insert(args.begin(), {"record", "0", "--seconds", "1"});
    const RunResult run = RunOn(sim, args);
    EXPECT_EQ(run.exitCode, 2) << args[5] << "\n" << run.err;
    EXPECT_NE(run.err.find("vornctl: "), std::string::npos);
  }
  EXPECT_EQ(Slurp(trace).find(" rx "), std::string::npos) << Slurp(trace);
  EXPECT_TRUE(fs::is_empty(dir_) || (fs::directory_iterator(dir_)->path() == trace &&
                                     std::distance(fs::directory_iterator(dir_), fs::directory_iterator()) == 1));
#if VORNCTL_HAVE_EDFLIB
  // Capitals name EDF+ too.
  const RunResult edf = RunOn(sim, {"record", "0", "--seconds", "0.2", "--out", File("x.EDF"), "--no-progress"});
  ASSERT_EQ(edf.exitCode, 0) << edf.err;
  EXPECT_EQ(Slurp(File("x.EDF")).substr(0, 8), "0       ");
#endif
}

TEST_F(FaultTest, ExistingFilesLinksAndFifosAreNeverWrittenThrough) {
  const std::string trace = File("sim.trace");
  vorn_test::SimProcess sim({"--trace", trace});
  ASSERT_TRUE(sim.ok());
  std::ofstream(File("old.csv")) << "an earlier recording\n";
  std::ofstream(File("victim.txt")) << "precious\n";
  fs::create_symlink(File("victim.txt"), File("link.csv"));
  ASSERT_EQ(::mkfifo(File("pipe.csv").c_str(), 0600), 0);
  const auto start = std::chrono::steady_clock::now();
  for (const char *name : {"old.csv", "link.csv", "pipe.csv"}) {
    const RunResult run = RunOn(sim, {"record", "0", "--seconds", "0.2", "--out", File(name), "--no-progress"});
    EXPECT_EQ(run.exitCode, 2) << name << "\n" << run.err;
    EXPECT_NE(run.err.find(File(name)), std::string::npos) << run.err;
  }
  EXPECT_LT(SecondsSince(start), 20.0) << "a FIFO was opened";
  // Refused before the device heard anything; nothing written or followed.
  EXPECT_EQ(Slurp(trace).find(" rx "), std::string::npos);
  EXPECT_EQ(Slurp(File("old.csv")), "an earlier recording\n");
  EXPECT_EQ(Slurp(File("victim.txt")), "precious\n");

  // --force (or --overwrite) replaces the file, and a link itself, never what it points to.
  for (const char *option : {"--force", "--overwrite"}) {
    for (const char *name : {"old.csv", "link.csv"}) {
      const RunResult run =
          RunOn(sim, {"record", "0", "--seconds", "0.2", "--out", File(name), option, "--no-progress"});
      ASSERT_EQ(run.exitCode, 0) << option << " " << name << "\n" << run.err;
      const CsvRecording csv = ReadCsv(File(name));
      CheckRecording(csv, kDefaultChannels, 0.002);
      EXPECT_EQ(csv.rows.size(), 100u);
    }
  }
  EXPECT_FALSE(fs::is_symlink(File("link.csv")));
  EXPECT_EQ(Slurp(File("victim.txt")), "precious\n");
  EXPECT_EQ(fs::status(File("pipe.csv")).type(), fs::file_type::fifo);

  const RunResult tooLong =
      RunOn(sim, {"record", "0", "--out", File(std::string(5000, 'x') + ".csv"), "--no-progress"});
  EXPECT_EQ(tooLong.exitCode, 2);
  EXPECT_NE(tooLong.err.find("too long"), std::string::npos) << tooLong.err;
}

TEST_F(FaultTest, KilledRecordingKeepsWholeRowsAndAReadableEdfUnderTheTemporaryNames) {
  vorn_test::SimProcess sim;
  ASSERT_TRUE(sim.ok());
  RunOptions options;
  options.interruptWhenFile = File("run.partial.csv");
  options.interruptAtBytes = 150000;  // about three seconds
  options.interruptSignal = SIGKILL;
  const RunResult run = RunOn(
      sim, {"record", "0", "--seconds", "60", "--out", File("run.csv"), "--out", File("run.edf"), "--no-progress"},
      options);
  ASSERT_EQ(run.exitCode, 128 + SIGKILL) << run.err;
  // Nothing under the names given: those are for complete recordings.
  EXPECT_FALSE(fs::exists(File("run.csv")));
  EXPECT_FALSE(fs::exists(File("run.edf")));
  const CsvRecording csv = ReadCsv(File("run.partial.csv"));
  EXPECT_TRUE(csv.endsWithLineFeed);
  CheckRecording(csv, kDefaultChannels, 0.002);
  EXPECT_GE(csv.rows.size(), 1000u);
#if VORNCTL_HAVE_EDFLIB
  // EDFlib's reader demands a record count that matches the file exactly.
  edf_hdr_struct header{};
  ASSERT_EQ(edfopen_file_readonly(File("run.partial.edf").c_str(), &header, EDFLIB_READ_ALL_ANNOTATIONS), 0)
      << "EDFlib error " << header.filetype;
  EXPECT_GE(header.datarecords_in_file, 2);
  edfclose_file(header.handle);
#endif
  MneReading mne = ReadWithMne(File("run.partial.edf"));
  if (mne.status != 77) {
    ASSERT_EQ(mne.status, 0) << mne.output;
    EXPECT_EQ(mne.Number("warnings"), 0) << mne.output;
    EXPECT_GE(mne.Number("duration"), 2.0);
  }
  // The next run says where the cut recording is and keeps it.
  const RunResult next = RunOn(sim, {"record", "0", "--seconds", "0.2", "--out", File("run.csv"), "--no-progress"});
  EXPECT_EQ(next.exitCode, 2);
  EXPECT_NE(next.err.find(File("run.partial.csv") + " is there"), std::string::npos) << next.err;
  EXPECT_EQ(ReadCsv(File("run.partial.csv")).rows.size(), csv.rows.size());
}

TEST_F(FaultTest, FullDiskEndsTheRecordingSayingWhatEachFileHolds) {
  vorn_test::SimProcess sim;
  ASSERT_TRUE(sim.ok());
  RunOptions options;
  // A file-size limit stands in for a disk that fills.
  options.wrapper = {"/usr/bin/prlimit", "--fsize=60000", "--"};
  const RunResult csvRun =
      RunOn(sim, {"record", "0", "--seconds", "10", "--out", File("run.csv"), "--no-progress"}, options);
  EXPECT_EQ(csvRun.exitCode, 1) << csvRun.err;
  EXPECT_NE(csvRun.err.find("cannot write " + File("run.csv") + ": " + std::strerror(EFBIG)), std::string::npos)
      << csvRun.err;
  const CsvRecording csv = ReadCsv(File("run.csv"));
  EXPECT_TRUE(csv.endsWithLineFeed);
  CheckRecording(csv, kDefaultChannels, 0.002);
  EXPECT_NE(csvRun.err.find(File("run.csv") +
                            " holds what was recorded until then: " + std::to_string(csv.rows.size()) + " rows"),
            std::string::npos)
      << csvRun.err;
  EXPECT_EQ(csvRun.err.find("wrote "), std::string::npos) << csvRun.err;

  options.wrapper = {"/usr/bin/prlimit", "--fsize=20000", "--"};
  const RunResult edfRun =
      RunOn(sim, {"record", "0", "--seconds", "10", "--out", File("run.edf"), "--no-progress"}, options);
  EXPECT_EQ(edfRun.exitCode, 1) << edfRun.err;
  EXPECT_NE(edfRun.err.find("cannot write the EDF+ file " + File("run.edf") + ": " + std::strerror(EFBIG)),
            std::string::npos)
      << edfRun.err;
  const std::uintmax_t size = fs::file_size(File("run.edf"));
  const std::uintmax_t header = 256 * 6;
  const std::uintmax_t record = 4 * 500 * 2 + 512;
  ASSERT_EQ((size - header) % record, 0u) << size;
  const std::uintmax_t records = (size - header) / record;
  EXPECT_NE(edfRun.err.find(File("run.edf") + " holds what was recorded until then: " + std::to_string(records) +
                            " data record(s)"),
            std::string::npos)
      << edfRun.err;
#if VORNCTL_HAVE_EDFLIB
  edf_hdr_struct edf{};
  ASSERT_EQ(edfopen_file_readonly(File("run.edf").c_str(), &edf, EDFLIB_DO_NOT_READ_ANNOTATIONS), 0);
  EXPECT_EQ(edf.datarecords_in_file, static_cast<long long>(records));
  edfclose_file(edf.handle);
#endif
}

TEST_F(FaultTest, RecordingWithoutDataLeavesAHeaderOnlyCsvAndNoEdf) {
  vorn_test::SimProcess sim({"--fault", "stop-after=0"});
  ASSERT_TRUE(sim.ok());
  const RunResult run = RunOn(
      sim, {"record", "0", "--seconds", "1", "--out", File("none.csv"), "--out", File("none.edf"), "--no-progress"});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find("sent no data"), std::string::npos) << run.err;
  const CsvRecording csv = ReadCsv(File("none.csv"));
  EXPECT_EQ(csv.header, ExpectedHeader(kDefaultChannels));
  EXPECT_TRUE(csv.rows.empty());
  EXPECT_FALSE(fs::exists(File("none.edf")));
  EXPECT_FALSE(fs::exists(File("none.partial.edf")));
  EXPECT_NE(run.err.find(File("none.edf") + " was not written: no sample set arrived"), std::string::npos) << run.err;
}

TEST_F(FaultTest, FolderTheUserMayNotWriteInIsRefusedBeforeAnyDevice) {
  if (::geteuid() != 0 || !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs root and setpriv to drop to nobody";
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                            fs::perms::others_exec);
  RunOptions options;
  options.asNobody = true;
  options.environment = {"VORN_PORTS=VSC0000001=/dev/null"};
  const auto start = std::chrono::steady_clock::now();
  const RunResult run = RunVornctl({"record", "0", "--out", File("x.csv")}, options);
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_EQ(run.exitCode, 2) << run.err;
  EXPECT_NE(run.err.find("you may not make files there"), std::string::npos) << run.err;
}

TEST_F(FaultTest, CtrlCOrSigtermWhileTheDeviceIsInitialisedEndsAtOnce) {
  vorn_test::SimProcess sim({"--fault", "silent"});
  ASSERT_TRUE(sim.ok());
  for (int signal : {SIGINT, SIGTERM}) {
    RunOptions options;
    options.interruptAfterMs = 1000;
    options.interruptSignal = signal;
    const auto start = std::chrono::steady_clock::now();
    const RunResult run =
        RunOn(sim, {"record", "0", "--seconds", "5", "--out", File("silent.csv"), "--no-progress"}, options);
    EXPECT_LT(SecondsSince(start), 6.0);  // Initialise alone would take 21 s
    EXPECT_EQ(run.exitCode, 128 + signal) << run.err;
    // Said before the wait, not after it.
    EXPECT_NE(run.err.find("waiting for " + sim.serial() + " on " + sim.path() + " to answer (up to 21 s)"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find(signal == SIGINT ? "stopped by Ctrl-C" : "stopped by SIGTERM"), std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(File("silent.csv")));
  }
}

TEST_F(FaultTest, LateStartCountsNothingMissingAndRecordsTheSecondsAskedFor) {
  vorn_test::SimProcess sim({"--fault", "late=300"});
  ASSERT_TRUE(sim.ok());
  const RunResult run =
      RunOn(sim, {"record", "0", "--seconds", "1", "--period", "2ms", "--out", File("late.csv"), "--no-progress"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err.find("never arrived"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(" 0 missing"), std::string::npos) << run.err;
  const CsvRecording csv = ReadCsv(File("late.csv"));
  CheckRecording(csv, kDefaultChannels, 0.002);
  EXPECT_EQ(csv.rows.size(), 500u);
}

TEST_F(FaultTest, DeviceThatFallsSilentIsReportedAsSuchNotAsMissingSets) {
  vorn_test::SimProcess sim({"--fault", "stop-after=200"});
  ASSERT_TRUE(sim.ok());
  const RunResult run = RunOn(sim, {"record", "0", "--seconds", "10", "--out", File("silent.csv"), "--no-progress"});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find("fell silent after 0.4 s of data"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(" 0 missing"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("never arrived"), std::string::npos) << run.err;
  EXPECT_EQ(ReadCsv(File("silent.csv")).rows.size(), 200u);
}

#if VORNCTL_HAVE_EDFLIB
TEST_F(FaultTest, EdfAnnotationsAreWholeAndTheStopSitsAtTheEndOfTheData) {
  vorn_test::SimProcess sim;
  ASSERT_TRUE(sim.ok());
  RunOptions options;
  options.interruptWhenFile = File("run.partial.csv");
  options.interruptAtBytes = 20000;
  const RunResult run =
      RunOn(sim,
            {"record", "0", "--seconds", "30", "--out", File("run.csv"), "--out", File("run.edf"), "--subject", "P-17",
             "--subject-name", "Jane Doe", "--recording", "bench", "--no-progress"},
            options);
  ASSERT_EQ(run.exitCode, 130) << run.err;
  const double rows = static_cast<double>(ReadCsv(File("run.csv")).rows.size());
  edf_hdr_struct header{};
  ASSERT_EQ(edfopen_file_readonly(File("run.edf").c_str(), &header, EDFLIB_READ_ALL_ANNOTATIONS), 0);
  // The subject is the patient code, where readers look for a subject's identifier.
  EXPECT_STREQ(header.patientcode, "P-17");
  EXPECT_STREQ(header.patient_name, "Jane Doe");
  EXPECT_NE(std::string(header.admincode).find("bench"), std::string::npos) << header.admincode;
  EXPECT_NE(std::string(header.technician).find("vornctl"), std::string::npos) << header.technician;
  EXPECT_NE(std::string(header.equipment).find("1234567"), std::string::npos) << header.equipment;
  bool stopped = false;
  bool ends = false;
  bool versions = false;
  for (long long a = 0; a < header.annotations_in_file; ++a) {
    edf_annotation_struct note{};
    ASSERT_EQ(edf_get_annotation(header.handle, static_cast<int>(a), &note), 0);
    const std::string text = note.annotation;
    const double onset = static_cast<double>(note.onset) / EDFLIB_TIME_DIMENSION;
    if (text.rfind("Device ", 0) == 0) {
      EXPECT_NE(text.find(" uid 0x"), std::string::npos) << text;
    }
    if (text.rfind("Firmware ", 0) == 0) {
      versions = true;
      EXPECT_EQ(note.onset, 0);
      EXPECT_NE(text.find(", vornctl "), std::string::npos) << text;
    }
    if (text == "Stopped by Ctrl-C") {
      stopped = true;
      EXPECT_NEAR(onset, rows * 0.002, 0.0011);
    }
    if (text.rfind("Recording ends", 0) == 0) {
      ends = true;
      EXPECT_NE(text.find("samples padded"), std::string::npos) << text;
      EXPECT_NEAR(onset, rows * 0.002, 0.0011);
    }
  }
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(ends);
  EXPECT_TRUE(versions);
  edfclose_file(header.handle);
  MneReading mne = ReadWithMne(File("run.edf"));
  if (mne.status == 77) GTEST_SKIP() << mne.output;
  ASSERT_EQ(mne.status, 0) << mne.output;
  EXPECT_EQ(mne.values["subject_id"], "P-17");
  EXPECT_EQ(mne.values["subject_name"], "Jane_Doe");
  EXPECT_EQ(mne.Number("good_samples"), rows) << "the padding after the end is left out of analysis";
}
#endif

TEST_F(FaultTest, DemoSaysWhereItsFilesAreAndKeepsThemInOneFolder) {
  const RunResult run = RunVornctl({"demo", "--seconds", "0.3", "--no-progress"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string marker = "the demo's recording goes to ";
  const std::size_t at = run.err.find(marker);
  ASSERT_NE(at, std::string::npos) << run.err;
  const std::string path = run.err.substr(at + marker.size(), run.err.find('\n', at) - at - marker.size());
  EXPECT_EQ(fs::path(path).parent_path().filename(), "vornctl-demo");
  EXPECT_TRUE(fs::exists(path));
  EXPECT_NE(run.err.find("wrote " + path), std::string::npos) << run.err;
  fs::remove(path);
}

TEST_F(FaultTest, SkippedPortEntriesAndAMissingPortAreExplained) {
  RunOptions options;
  options.environment = {"VORN_PORTS=nonsense;FTX123=/dev/null"};
  const RunResult none = RunVornctl({"list"}, options);
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_NE(none.err.find("'nonsense' was skipped: it has no '='"), std::string::npos) << none.err;
  EXPECT_NE(none.err.find("FTX123 is not a Vorn serial number"), std::string::npos) << none.err;

  options.environment = {"VORN_PORTS=VSC0000001=" + File("no-such-tty")};
  const auto start = std::chrono::steady_clock::now();
  const RunResult missing = RunVornctl({"info", "0"}, options);
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("does not exist: is the device plugged in?"), std::string::npos) << missing.err;
}

}  // namespace
}  // namespace vorn_test
