#include "sim_server.h"

#include <poll.h>
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>

#include "pty_posix.h"
#include "sim_log.h"

namespace VornSim {

namespace {

volatile sig_atomic_t stopSignal = 0;

void OnStopSignal(int signal) { stopSignal = signal; }

// Signals stay blocked except inside WaitFor, so a stop request can never
// slip in between the check of stopSignal and the wait.
sigset_t InstallSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  sigset_t block, previous;
  sigemptyset(&block);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&block, s);
  sigprocmask(SIG_BLOCK, &block, &previous);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigdelset(&previous, s);
  return previous;
}

class Server {
 public:
  Server(const SimOptions &options, const DeviceSettings &settings)
      : options(options), traceFile(traceLog), device(settings, &traceFile), start(std::chrono::steady_clock::now()) {}

  int Run();

 private:
  SimMicros Now() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
  }
  bool OpenPort();
  void ClosePort();
  void ServeOnce();
  PtyPort::ReadStatus ReadHost();
  void WritePending();
  void HostOpened();
  void HostClosed();
  int WaitFor(pollfd *fds, nfds_t count, SimMicros timeout);

  const SimOptions &options;
  FileLog traceLog;
  FileLog sentLog;
  TraceFile traceFile;
  DeviceProtocol device;
  PtyPort pty;
  SlaveLink link;
  const std::chrono::steady_clock::time_point start;
  sigset_t waitMask{};
  std::deque<OutputChunk> writing;
  size_t writtenOfFront = 0;
  // In Inotify mode the host is there once it has opened the port; in
  // Hangup mode from the start (the master cannot tell before the first close).
  bool hostPresent = false;
  std::uint64_t droppedChunks = 0;
};

int Server::Run() {
  std::string error;
  if (!traceLog.Open(options.trace, error) || !sentLog.Open(options.sentLog, error)) {
    std::fprintf(stderr, "vorn-sim: %s\n", error.c_str());
    return 1;
  }
  waitMask = InstallSignals();
  if (!OpenPort()) return 1;
  const SimMicros deadline = options.exitAfter > 0 ? static_cast<SimMicros>(options.exitAfter * 1e6) : -1;

  while (!stopSignal && (deadline < 0 || Now() < deadline)) {
    if (device.VanishRequested()) {
      traceFile.Note(Now(), "port vanishes");
      ClosePort();
      if (!options.vanishReopen) return 0;
      WaitFor(nullptr, 0, MillisToMicros(options.reopenDelayMs));
      if (stopSignal) break;
      device.PowerCycle(Now());
      if (!OpenPort()) return 1;
      continue;
    }
    ServeOnce();
  }
  traceFile.Note(Now(),
                 stopSignal ? "stopped by signal " + std::to_string(stopSignal) : std::string("exit-after reached"));
  ClosePort();
  return 0;
}

bool Server::OpenPort() {
  std::string error;
  if (!pty.Open(options.portWatch, error)) {
    std::fprintf(stderr, "vorn-sim: %s\n", error.c_str());
    return false;
  }
  if (!options.link.empty() && !link.Create(options.link, pty.SlavePath(), error)) {
    std::fprintf(stderr, "vorn-sim: %s\n", error.c_str());
    pty.Close();
    return false;
  }
  hostPresent = pty.Watch() == PortWatch::Hangup;
  if (options.portWatch != pty.Watch())
    std::fprintf(stderr, "vorn-sim: inotify is not available; watching the port by hang-up instead\n");
  writing.clear();
  writtenOfFront = 0;
  std::printf("%s=%s\n", options.serial.c_str(), pty.SlavePath().c_str());
  std::fflush(stdout);
  traceFile.Note(Now(), "serving " + device.Settings().profile.name + " on " + pty.SlavePath());
  return true;
}

void Server::ClosePort() {
  link.Remove();
  pty.Close();
  writing.clear();
  sentLog.Flush();
}

void Server::ServeOnce() {
  SimMicros now = Now();
  device.Advance(now);
  // Take new output only once the previous is written, so a host that stops
  // reading holds the device's backlog where its bound applies.
  if (writing.empty()) {
    for (OutputChunk &chunk : device.TakeDue(now)) {
      if (hostPresent) writing.push_back(std::move(chunk));
      else ++droppedChunks;
    }
  }
  if (hostPresent) WritePending();

  SimMicros timeout = 50000;
  if (auto wake = device.NextWake()) timeout = std::clamp<SimMicros>(*wake - now, 0, timeout);

  if (pty.Watch() == PortWatch::Hangup && !hostPresent) {
    // poll reports POLLHUP at once while no slave is open; sleep instead of spinning.
    WaitFor(nullptr, 0, std::min<SimMicros>(timeout, 5000));
    if (!pty.HungUp()) HostOpened();
    return;
  }

  pollfd fds[2] = {{pty.Fd(), static_cast<short>(POLLIN | (writing.empty() ? 0 : POLLOUT)), 0},
                   {pty.WatchFd(), POLLIN, 0}};
  if (WaitFor(fds, pty.WatchFd() >= 0 ? 2 : 1, timeout) <= 0) return;
  if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
    const PtyPort::ReadStatus status = ReadHost();
    if (status == PtyPort::ReadStatus::HungUp || status == PtyPort::ReadStatus::Failed) HostClosed();
  }
  if (pty.WatchFd() >= 0 && (fds[1].revents & POLLIN)) {
    const PtyPort::HostEvents events = pty.ReadHostEvents();
    if (events.closedAll) {
      // What the host wrote before its close is still the device's to read (its X).
      ReadHost();
      HostClosed();
    }
    if (pty.HostOpens() > 0 && !hostPresent) HostOpened();
  }
}

PtyPort::ReadStatus Server::ReadHost() {
  std::string bytes;
  const PtyPort::ReadStatus status = pty.Read(bytes);
  if (!bytes.empty()) device.Receive(bytes, Now());
  return status;
}

void Server::WritePending() {
  const SimMicros now = Now();
  while (!writing.empty() && writing.front().due <= now) {
    OutputChunk &chunk = writing.front();
    const long n = pty.Write(std::string_view(chunk.bytes).substr(writtenOfFront));
    if (n < 0) {
      HostClosed();
      return;
    }
    writtenOfFront += static_cast<size_t>(n);
    if (writtenOfFront < chunk.bytes.size()) break;  // pty full: wait for POLLOUT
    for (const std::string &line : chunk.dataLines) sentLog.Write(line);
    writing.pop_front();
    writtenOfFront = 0;
  }
  sentLog.Flush();
}

void Server::HostOpened() {
  hostPresent = true;
  traceFile.Note(Now(), "port opened by the host" +
                            (droppedChunks ? " (" + std::to_string(droppedChunks) + " writes discarded while closed)"
                                           : std::string()));
  droppedChunks = 0;
}

void Server::HostClosed() {
  const SimMicros now = Now();
  device.PortClosed(now);
  pty.AfterHostClosed();
  if (!hostPresent) return;
  hostPresent = false;
  droppedChunks = writing.size();
  writing.clear();
  writtenOfFront = 0;
  traceFile.Note(now, "port closed by the host; unread output discarded");
}

int Server::WaitFor(pollfd *fds, nfds_t count, SimMicros timeout) {
  const timespec ts{static_cast<time_t>(timeout / 1000000), static_cast<long>(timeout % 1000000) * 1000};
  return ppoll(fds, count, &ts, &waitMask);
}

}  // namespace

int RunServer(const SimOptions &options, const DeviceSettings &settings) {
  Server server(options, settings);
  return server.Run();
}

}  // namespace VornSim
