#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/vorn-soak/host_session.h"
#include "tools/vorn-soak/scenarios.h"

namespace vorn_soak {

// Eight devices streaming at their fastest period at once, one host thread per device.
void Load(const Options &o, long seconds, Result &r) {
  r.unit = "seconds";
  constexpr int kDevices = 8;
  std::string error;
  std::vector<std::unique_ptr<Sim>> sims;
  std::string ports;
  for (int d = 0; d < kDevices; ++d) {
    auto sim = StartSim({"--profile", "crc"}, {}, error);
    if (!sim) return r.Fail(error);
    ports += (ports.empty() ? "" : ";") + sim->PortEntry();
    sims.push_back(std::move(sim));
  }
  VornLibrary lib;
  if (!LoadLibrary(lib, o, r)) return;
  Host host{lib};
  SetPorts(ports);
  std::vector<std::int32_t> indexes;
  for (int d = 0; d < kDevices; ++d) {
    std::int32_t index = -1;
    if (lib.FindDevice(&index) != 1 || lib.Initialise(index) != 1) {
      r.Fail("device " + std::to_string(d) + ": not found or not initialised: " + host.GeneralMessage());
      lib.CloseAll();
      return;
    }
    indexes.push_back(index);
  }
  std::vector<std::vector<int>> enabled(kDevices);
  for (int d = 0; d < kDevices; ++d) enabled[d] = host.PrepareStream(indexes[d], error);

  long total = 0, before = 0, after = 0;
  // Each host thread checks its own device's lines as it goes, so a long run keeps no stream in memory.
  auto phase = [&](Clock::duration span, const std::string &label) {
    std::vector<std::unique_ptr<InOrderChecker>> checkers;
    std::vector<long> sent(kDevices, 0);
    std::vector<int> started(kDevices, 0), stopped(kDevices, 0);
    for (int d = 0; d < kDevices; ++d) {
      sims[d]->NewSent();
      checkers.push_back(std::make_unique<InOrderChecker>(true));
    }
    auto takeSent = [&](int d) {
      for (const std::string &line : sims[d]->NewSent()) {
        ++sent[d];
        if (auto e = ExpectedHostLine(line, sims[d]->device, enabled[d])) checkers[d]->AddExpected(std::move(*e));
      }
    };
    std::vector<std::thread> threads;
    for (int d = 0; d < kDevices; ++d) {
      threads.emplace_back([&, d] {
        Host own{lib};
        char buffer[kReadBuffer];
        started[d] = own.Command(indexes[d], VORN_CMD_START);
        const auto end = Clock::now() + span;
        long n = 0;
        while (Clock::now() < end) {
          if (lib.ReadLine(indexes[d], buffer, sizeof buffer, 200) != 1) continue;
          checkers[d]->AddDelivered(std::string(buffer) + "\n");
          if (++n % 500 == 0) {
            takeSent(d);
            checkers[d]->Match(false);
          }
        }
        stopped[d] = own.Command(indexes[d], VORN_CMD_STOP);
        while (lib.ReadLine(indexes[d], buffer, sizeof buffer, 100) == 1)
          checkers[d]->AddDelivered(std::string(buffer) + "\n");
      });
    }
    for (auto &t : threads) t.join();
    for (int d = 0; d < kDevices; ++d) {
      const std::string where = label + " device " + std::to_string(d);
      if (!started[d] || !stopped[d]) r.Fail(where + ": start or stop failed");
      takeSent(d);
      checkers[d]->Match(true);
      const MatchResult &m = checkers[d]->result();
      r.linesChecked += static_cast<long>(m.matched);
      r.linesLost += static_cast<long>(m.skipped);
      if (!m.ok) r.Fail(where + ": " + m.detail);
      if (m.matched == 0) r.Fail(where + ": no line delivered");
      if (m.ok) {
        total += static_cast<long>(m.matched);
        before += static_cast<long>(m.before);
        after += sent[d] - static_cast<long>(m.before + m.matched);
      }
    }
  };
  phase(std::chrono::milliseconds(500), "warm-up");
  r.before = MeasureResources();
  total = before = after = 0;
  const auto t0 = Clock::now();
  phase(std::chrono::seconds(seconds), "run");
  const double took = Seconds(Clock::now() - t0);
  r.survived = r.failures.empty() ? seconds : 0;
  // Measured with the eight sessions still open, as before.
  r.after = Settled(r.before);
  if (lib.CloseAll() != 1) r.Fail("CloseAll failed");
  char note[200];
  std::snprintf(
      note, sizeof note,
      "%d devices, %.0f lines/s delivered in all; %ld sent before the first and %ld after the last delivered line",
      kDevices, static_cast<double>(total) / took, before, after);
  r.notes.push_back(note);
  lib.Unload();
}

}  // namespace vorn_soak
