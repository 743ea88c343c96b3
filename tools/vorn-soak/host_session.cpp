#include "tools/vorn-soak/host_session.h"

#include <cstdlib>

namespace vorn_soak {

void SetPorts(const std::string &value) { setenv("VORN_PORTS", value.c_str(), 1); }

bool LoadLibrary(VornLibrary &lib, const Options &o, Result &r) {
  std::string error;
  if (!lib.Load(o.library, error)) {
    r.Fail("cannot load " + o.library + ": " + error);
    return false;
  }
  return true;
}

void ReadFor(VornLibrary &lib, std::int32_t index, Clock::duration span, std::vector<std::string> &delivered,
             std::uint32_t timeoutMs) {
  char buffer[kReadBuffer];
  const auto end = Clock::now() + span;
  while (Clock::now() < end) {
    if (lib.ReadLine(index, buffer, sizeof buffer, timeoutMs) == 1)
      delivered.push_back(std::string(buffer) + "\n");  // ReadLine takes the line end off
  }
}

void Drain(VornLibrary &lib, std::int32_t index, std::vector<std::string> &delivered, std::uint32_t timeoutMs) {
  char buffer[kReadBuffer];
  while (lib.ReadLine(index, buffer, sizeof buffer, timeoutMs) == 1)
    delivered.push_back(std::string(buffer) + "\n");  // ReadLine takes the line end off
}

MatchResult Check(Sim &sim, const std::vector<int> &enabled, const std::vector<std::string> &delivered,
                  bool consecutive, Result &result, const std::string &where, long *sentOut) {
  const std::vector<std::string> sent = sim.NewSent();
  std::vector<std::string> expected;
  expected.reserve(sent.size());
  for (const std::string &line : sent) {
    if (auto e = ExpectedHostLine(line, sim.device, enabled)) expected.push_back(std::move(*e));
  }
  if (sentOut) *sentOut = static_cast<long>(sent.size());
  MatchResult m = MatchDelivered(expected, delivered, consecutive);
  result.linesChecked += static_cast<long>(m.ok ? m.matched : m.firstBad);
  result.linesLost += static_cast<long>(m.skipped);
  if (!m.ok) result.Fail(where + ": " + m.detail);
  return m;
}

std::vector<int> StartStream(Host &host, Sim &sim, std::int32_t index, Result &result, const std::string &where) {
  std::string error;
  const std::vector<int> enabled = host.PrepareStream(index, error);
  if (enabled.empty()) {
    result.Fail(where + ": " + error);
    return {};
  }
  sim.NewSent();  // lines of earlier sessions are not this one's
  if (!host.Command(index, VORN_CMD_START)) {
    result.Fail(where + ": start failed");
    return {};
  }
  return enabled;
}

bool StreamChecked(Host &host, Sim &sim, std::int32_t index, Clock::duration span, bool consecutive, Result &result,
                   const std::string &where, long *sentOut) {
  const std::vector<int> enabled = StartStream(host, sim, index, result, where);
  if (enabled.empty()) return false;
  std::vector<std::string> delivered;
  ReadFor(host.lib, index, span, delivered);
  const bool stopped = host.Command(index, VORN_CMD_STOP);
  Drain(host.lib, index, delivered);
  if (!stopped) result.Fail(where + ": stop failed");
  if (delivered.empty()) result.Fail(where + ": no line delivered");
  return Check(sim, enabled, delivered, consecutive, result, where, sentOut).ok && stopped && !delivered.empty();
}

}  // namespace vorn_soak
