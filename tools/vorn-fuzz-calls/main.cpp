// vorn-fuzz-calls: drives the sixteen exports in orders and with arguments no
// well-behaved host uses, against simulated devices that misbehave, and checks
// after every call that the library neither crashes, hangs, nor hands out
// wrong results, broken buffers or lines its devices never sent.
//
// A seeded random driver rather than a libFuzzer target: every initialised
// session runs its own receive thread, and the written waits run to tens of
// seconds, so one input cannot be undone and replayed within a process the way
// libFuzzer needs; a sequence is instead drawn from a seed, written as text,
// and replayed or shortened in a fresh process.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/hostcheck/host_resources.h"
#include "tools/vorn-fuzz-calls/platform.h"
#include "tools/vorn-fuzz-calls/runner.h"
#include "tools/vorn-fuzz-calls/sequence.h"

namespace vorn_fuzz {
namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  RunOptions run;
  std::vector<std::string> replay;
  std::string minimise, out, findings = "build/fuzz-calls";
  std::uint64_t seed = 1;
  long seconds = 60;
  int calls = 30;
  long rssToleranceKiB = 16384;  // 0: not checked (a sanitizer's quarantine grows on its own)
  bool inProcess = false;        // replay here rather than one process per sequence
};

const char kUsage[] =
    "Usage: vorn-fuzz-calls [OPTION]...\n"
    "Calls the driver's exports in random orders with random arguments against\n"
    "one to three simulated devices with random faults, checking every call.\n"
    "  --seed N            first seed of a fuzzing run (default 1)\n"
    "  --seconds N         length of a fuzzing run, or of a shortening (default 60)\n"
    "  --calls N           at most N calls per sequence (default 30)\n"
    "  --findings DIR      where findings and figures go (default build/fuzz-calls)\n"
    "  --replay PATH       run the sequence file (or every *.seq in the folder) once;\n"
    "                      may be repeated; exit 1 on a finding\n"
    "  --minimise FILE     shorten a failing sequence to one that fails alike (--out)\n"
    "  --out FILE          where --minimise writes (default FILE.min)\n"
    "  --library PATH      the driver library (default: the one built beside this)\n"
    "  --slack-ms N        added to every written wait before a call is a hang\n"
    "                      (default 10000)\n"
    "  --rss-tolerance-kib N  resident growth allowed over a run (0: not checked;\n"
    "                      default 16384)\n"
    "  --verbose           print each call as it is made\n"
    "  --in-process        replay in this process (one sequence; an Exit call ends it)\n"
    "Exit status: 0 without a finding, 1 with one, 2 on a usage error, 3 on a hang.\n";

bool ReadText(const std::string &path, std::string &text) {
  std::ifstream in(path);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  text = s.str();
  return true;
}

void WriteText(const std::string &path, const std::string &text) { std::ofstream(path) << text; }

std::string Header(const Finding &f, const Sequence &s) {
  std::string call = f.call < s.calls.size() ? FormatCall(s.calls[f.call]) : "the closing CloseAll";
  // Every line a comment, so that the finding file replays as it is.
  std::string detail;
  for (char c : f.detail) detail += c == '\n' ? std::string("\n#   ") : std::string(1, c);
  return "# " + f.kind + " at call " + std::to_string(f.call) + " (" + call + "): " + detail + "\n";
}

// ---- one sequence in a child process ----

struct ChildResult {
  bool ok = true;
  std::string kind, detail;
};

ChildResult RunChild(const Options &o, const std::string &file, long boundSeconds) {
  const std::string errPath = file + ".stderr";
  const ChildEnd end = RunProcess({SelfPath(), "--in-process", "--replay", file, "--library", o.run.library,
                                   "--slack-ms", std::to_string(o.run.slackMs)},
                                  errPath, boundSeconds);
  if (end.kind == ChildEnd::Kind::kNotStarted) return {false, "load", "cannot start " + SelfPath()};
  if (end.kind == ChildEnd::Kind::kHung) {
    std::remove(errPath.c_str());
    return {false, "hang", "the process did not end within " + std::to_string(boundSeconds) + " s"};
  }
  std::string err;
  ReadText(errPath, err);
  std::remove(errPath.c_str());
  const std::string tail = err.size() > 1500 ? err.substr(err.size() - 1500) : err;
  if (end.kind == ChildEnd::Kind::kSignalled)
    return {false, "crash", "signal " + std::to_string(end.code) + "\n" + tail};
  const int code = end.code;
  ChildResult r;
  if (code == 0 && err.find("Sanitizer") == std::string::npos && err.find("runtime error") == std::string::npos)
    return r;
  if (err.find("Sanitizer") != std::string::npos || err.find("runtime error") != std::string::npos)
    return {false, "sanitizer", tail};
  if (code == 3) return {false, "hang", tail};
  const auto at = err.find("FINDING ");
  if (at != std::string::npos) {
    const auto colon = err.find(':', at);
    return {false, err.substr(at + 8, colon - at - 8), tail};
  }
  return {false, "exit", "status " + std::to_string(code) + "\n" + tail};
}

// ---- modes ----

long ChildBound(const Sequence &s) { return 60 + 40 * static_cast<long>(s.calls.size()); }

int Replay(const Options &o) {
  std::vector<std::string> files;
  for (const std::string &p : o.replay) {
    if (std::filesystem::is_directory(p)) {
      std::vector<std::string> here;
      for (const auto &e : std::filesystem::directory_iterator(p))
        if (e.path().extension() == ".seq") here.push_back(e.path().string());
      std::sort(here.begin(), here.end());
      files.insert(files.end(), here.begin(), here.end());
    } else {
      files.push_back(p);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "vorn-fuzz-calls: no sequence to replay\n");
    return 2;
  }
  if (o.inProcess) StartWatchdog("");
  int status = 0;
  for (const std::string &file : files) {
    std::string text, error;
    Sequence s;
    if (!ReadText(file, text) || !ParseSequence(text, s, error)) {
      std::fprintf(stderr, "vorn-fuzz-calls: %s: %s\n", file.c_str(), error.empty() ? "cannot read" : error.c_str());
      return 2;
    }
    const auto t0 = Clock::now();
    std::printf("%s: ", file.c_str());
    std::fflush(stdout);
    if (!o.inProcess) {
      // Each case in a process of its own, as a crash, a hang or an exit ends one.
      const ChildResult r = RunChild(o, file, ChildBound(s));
      if (r.ok) {
        std::printf("ok (%zu calls, %.1f s)\n", s.calls.size(),
                    std::chrono::duration<double>(Clock::now() - t0).count());
      } else {
        std::printf("FAILED: %s\n%s\n", r.kind.c_str(), r.detail.c_str());
        status = 1;
      }
      std::fflush(nullptr);
      continue;
    }
    SetWatchdogSequence(text);
    Finding f;
    long calls = 0;
    if (RunSequence(s, o.run, f, calls)) {
      std::printf("ok (%ld calls, %.1f s)\n", calls, std::chrono::duration<double>(Clock::now() - t0).count());
    } else {
      std::printf("FAILED\n");
      std::fprintf(stderr, "FINDING %s", Header(f, s).substr(2).c_str());
      status = 1;
    }
    std::fflush(nullptr);
  }
  return status;
}

int Minimise(const Options &o) {
  std::string text, error;
  Sequence s;
  if (!ReadText(o.minimise, text) || !ParseSequence(text, s, error)) {
    std::fprintf(stderr, "vorn-fuzz-calls: %s: %s\n", o.minimise.c_str(),
                 error.empty() ? "cannot read" : error.c_str());
    return 2;
  }
  const std::string out = o.out.empty() ? o.minimise + ".min" : o.out;
  const std::string scratchFile = out + ".try";
  auto attempt = [&](const Sequence &candidate) {
    WriteText(scratchFile, FormatSequence(candidate));
    return RunChild(o, scratchFile, ChildBound(candidate));
  };
  const ChildResult first = attempt(s);
  if (first.ok) {
    std::printf("%s: does not fail again; kept as it is\n", o.minimise.c_str());
    std::remove(scratchFile.c_str());
    return 0;
  }
  std::printf("%s: fails with %s; shortening %zu calls\n", o.minimise.c_str(), first.kind.c_str(), s.calls.size());
  const auto end = Clock::now() + std::chrono::seconds(o.seconds);
  ChildResult last = first;
  for (std::size_t chunk = std::max<std::size_t>(1, s.calls.size() / 2); chunk >= 1 && Clock::now() < end;) {
    bool shorter = false;
    for (std::size_t start = 0; start < s.calls.size() && Clock::now() < end;) {
      Sequence candidate = s;
      const auto from = candidate.calls.begin() + static_cast<std::ptrdiff_t>(start);
      candidate.calls.erase(from, from + static_cast<std::ptrdiff_t>(std::min(chunk, s.calls.size() - start)));
      const ChildResult r = attempt(candidate);
      if (!r.ok && r.kind == first.kind) {
        s = std::move(candidate);
        last = r;
        shorter = true;
      } else {
        start += chunk;
      }
    }
    if (!shorter) {
      if (chunk == 1) break;
      chunk /= 2;
    }
  }
  std::remove(scratchFile.c_str());
  std::string detail = last.detail.substr(0, last.detail.find('\n'));
  WriteText(out, "# " + last.kind + ": " + detail + "\n" + FormatSequence(s));
  std::printf("%s: %zu calls, written to %s\n", o.minimise.c_str(), s.calls.size(), out.c_str());
  return 1;
}

vorn_soak::Resources Settled(const vorn_soak::Resources &before) {
  vorn_soak::Resources now = vorn_soak::MeasureResources();
  for (int i = 0; i < 40 && (now.threads > before.threads || now.descriptors > before.descriptors); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    now = vorn_soak::MeasureResources();
  }
  return now;
}

int Fuzz(const Options &o) {
  std::error_code ec;
  std::filesystem::create_directories(o.findings, ec);
  const std::string tag = std::to_string(o.seed);
  const std::string current = o.findings + "/current-" + tag + ".seq";
  StartWatchdog(o.findings + "/finding-hang-" + tag + ".seq");
  long calls = 0, sequences = 0, findings = 0, inChild = 0;
  // How often the moves of more than one thread or process were drawn.
  long forks = 0, readers = 0, exitsWhileReading = 0;
  vorn_soak::Resources before, after;
  const auto end = Clock::now() + std::chrono::seconds(o.seconds);
  RunOptions run = o.run;
  run.stopAt = end;
  auto writeFigures = [&](bool done) {
    nlohmann::ordered_json figures;
    figures["seed"] = o.seed;
    figures["done"] = done;
    figures["sequences"] = sequences;
    figures["calls"] = calls;
    figures["in_child"] = inChild;
    figures["forks"] = forks;
    figures["readers"] = readers;
    figures["exits_while_reading"] = exitsWhileReading;
    figures["findings"] = findings;
    figures["threads"] = {before.threads, after.threads};
    figures["descriptors"] = {before.descriptors, after.descriptors};
    figures["resident_kib"] = {before.residentKiB, after.residentKiB};
    const std::string line = figures.dump() + "\n";
    WriteText(o.findings + "/figures-" + tag + ".json", line);
    return line;
  };
  for (std::uint64_t n = 0; Clock::now() < end; ++n) {
    const std::uint64_t seed = o.seed * 1000003ULL + n;
    const Sequence s = Generate(seed, o.calls, SystemForks());
    const std::string text = "# seed " + std::to_string(seed) + "\n" + FormatSequence(s);
    WriteText(current, text);
    SetWatchdogSequence(text);
    for (std::size_t k = 0; k < s.calls.size(); ++k) {
      forks += s.calls[k].op == Op::Fork;
      readers += s.calls[k].op == Op::Reader && s.calls[k].a >= 0;
      exitsWhileReading += s.calls[k].op == Op::Exit && k > 0 && s.calls[k - 1].op == Op::Reader;
    }
    Finding f;
    bool ok;
    if (!s.calls.empty() && s.calls.back().op == Op::Exit) {
      // Ending the process is the point of the sequence: it runs in one of its own.
      const ChildResult r = RunChild(o, current, ChildBound(s));
      ok = r.ok;
      f = {r.kind, s.calls.size() - 1, r.detail};
      calls += static_cast<long>(s.calls.size());
      ++inChild;
    } else {
      ok = RunSequence(s, run, f, calls);
    }
    ++sequences;
    if (!ok) {
      ++findings;
      const std::string file = o.findings + "/finding-" + f.kind + "-" + std::to_string(seed) + ".seq";
      WriteText(file, Header(f, s) + text);
      std::printf("finding: %s\n  %s", file.c_str(), Header(f, s).c_str());
      std::fflush(stdout);
    }
    // The first sequences load what stays loaded (allocator pools, the sanitizer's own threads).
    if (sequences == 3) before = vorn_soak::MeasureResources();
    if (sequences >= 3) after = vorn_soak::MeasureResources();
    writeFigures(false);
  }
  std::remove(current.c_str());
  int status = findings ? 1 : 0;
  if (sequences > 3) {
    after = Settled(before);
    if (after.threads > before.threads || after.descriptors > before.descriptors ||
        (o.rssToleranceKiB > 0 && after.residentKiB > before.residentKiB + o.rssToleranceKiB)) {
      ++findings;
      std::printf("finding: leak: threads %ld>%ld, descriptors %ld>%ld, resident %ld>%ld KiB\n", before.threads,
                  after.threads, before.descriptors, after.descriptors, before.residentKiB, after.residentKiB);
      status = 1;
    }
  }
  std::printf("RESULT %s", writeFigures(true).c_str());
  // Where the time went: calls and seconds by export, in this process.
  std::printf("TIME %s\n", TimeByCall().c_str());
  return status;
}

}  // namespace
}  // namespace vorn_fuzz

int main(int argc, char **argv) {
  using namespace vorn_fuzz;
  Options o;
  o.run.library = VORN_LIBRARY_PATH;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vorn-fuzz-calls: %s needs a value\n%s", a.c_str(), kUsage);
        std::exit(2);
      }
      return argv[++i];
    };
    auto number = [&]() {
      const std::string v = value();
      char *end = nullptr;
      const long long n = std::strtoll(v.c_str(), &end, 10);
      if (*end || n < 0) {
        std::fprintf(stderr, "vorn-fuzz-calls: %s needs a number, not %s\n", a.c_str(), v.c_str());
        std::exit(2);
      }
      return n;
    };
    if (a == "--seed") o.seed = static_cast<std::uint64_t>(number());
    else if (a == "--seconds") o.seconds = static_cast<long>(number());
    else if (a == "--calls") o.calls = static_cast<int>(std::max(2LL, number()));
    else if (a == "--findings") o.findings = value();
    else if (a == "--replay") o.replay.push_back(value());
    else if (a == "--minimise") o.minimise = value();
    else if (a == "--out") o.out = value();
    else if (a == "--library") o.run.library = value();
    else if (a == "--slack-ms") o.run.slackMs = static_cast<long>(number());
    else if (a == "--rss-tolerance-kib") o.rssToleranceKiB = static_cast<long>(number());
    else if (a == "--verbose") o.run.verbose = true;
    else if (a == "--in-process") o.inProcess = true;
    else if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      std::fprintf(stderr, "vorn-fuzz-calls: unknown argument %s\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  o.run.keepLoaded = !LibraryReloadsInOneProcess();
  o.run.scratch = MakeScratchFolder();
  if (o.run.scratch.empty()) {
    std::fprintf(stderr, "vorn-fuzz-calls: cannot make a scratch folder\n");
    return 1;
  }
  // A sequence that ends with Exit leaves through exit(), past the removal below;
  // a forked child's exit must leave the folder to its parent.
  static std::string scratchPath = o.run.scratch;
  std::atexit([] {
    if (InStartingProcess()) RemoveFolder(scratchPath);
  });
  IgnoreBrokenPipes();
  int status;
  if (!o.minimise.empty()) status = Minimise(o);
  else if (!o.replay.empty()) status = Replay(o);
  else status = Fuzz(o);
  return status;
}
