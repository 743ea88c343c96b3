// Fault modes of the simulator's device side: what each one puts on the wire.

#include <gtest/gtest.h>

#include <algorithm>

#include "sim_test_harness.h"

namespace vorn_test {
namespace {

FaultSet Faults(std::initializer_list<const char *> specs, int every = 20) {
  FaultSet f;
  f.every = every;
  std::string error;
  for (const char *s : specs) EXPECT_TRUE(ApplyFault(s, f, error)) << s << ": " << error;
  return f;
}

bool IsDataLine(const std::string &line, int fields) {
  return !line.empty() && line[0] >= '0' && line[0] <= '9' && static_cast<int>(Fields(line).size()) >= fields;
}

TEST(SimFaults, SilentDeviceAnswersNothingButTracesEveryCommand) {
  Device d(SettingsFor("default", Faults({"silent"})));
  EXPECT_EQ(d.Ask(":S\n:V\n:F\n:U11111\r:I\n:B\n", 0), "");
  EXPECT_EQ(d.Out(ms(1000)), "");
  EXPECT_TRUE(d.trace.Contains("rx :S\\n (silent"));
  EXPECT_TRUE(d.trace.Contains("rx :B\\n (silent"));
}

TEST(SimFaults, LateAnswersKeepTheirOrderAndHoldBackTheStream) {
  Device d(SettingsFor("default", Faults({"late=100"})));
  EXPECT_EQ(d.Ask(":S\n", 0), "");
  EXPECT_EQ(d.Ask(":V\n", ms(10)), "");
  EXPECT_EQ(d.Out(ms(99)), "");
  EXPECT_EQ(d.Out(ms(100)), "S\r\n");
  EXPECT_EQ(d.Out(ms(110)), "V,1,4,27,1\r\n");
  d.Ask(":B\n", ms(200));
  EXPECT_EQ(d.Out(ms(299)), "");
  EXPECT_EQ(d.Out(ms(301)), "B\r\n");
  EXPECT_EQ(Lines(d.Out(ms(302))).size(), 1u);
}

TEST(SimFaults, WrongFirmwareReportsTheGivenRevision) {
  Device two(SettingsFor("default", Faults({"wrong-firmware"})));
  EXPECT_EQ(two.Ask(":V\n", 0), "V,1,4,27,2\r\n");
  Device text(SettingsFor("crc", Faults({"wrong-firmware=abc"})));
  EXPECT_EQ(text.Ask(":V\n", 0), "V,1,4,27,abc,Quellograph CRC\r\n");
}

TEST(SimFaults, NamesMismatchChangesOnlyTheNamesLine) {
  Device fewer(SettingsFor("crc", Faults({"names-mismatch"})));
  std::vector<std::string> lines = Lines(fewer.Ask(":F\n:I\n", 0));
  EXPECT_EQ(lines.at(1), "Count,ECG,Resp,SpO2,Temp,CRC");
  EXPECT_EQ(lines.at(4), "Count,ECG,Resp,SpO2,CRC");
  EXPECT_EQ(lines.at(5), "cnt,mV,l/min,%,degC,na");

  Device more(SettingsFor("default", Faults({"names-mismatch=-2"})));
  EXPECT_EQ(Lines(more.Ask(":I\n", 0)).at(1), "Count,ECG,Resp,SpO2,Temp,Extra1,Extra2");
}

TEST(SimFaults, JunkLinesHaveNoCommaAndLeaveTheDataLinesWhole) {
  Device d(SettingsFor("default", Faults({"garbage", "overlong=5000"}, 5)));
  d.Ask(":B\n", 0);
  const std::vector<std::string> lines = Lines(d.Out(ms(40)));
  int data = 0, junk = 0, overlong = 0;
  for (const std::string &line : lines) {
    if (line == "B") continue;
    if (IsDataLine(line, 5)) {
      EXPECT_EQ(Fields(line)[0], std::to_string(data++));
      continue;
    }
    EXPECT_EQ(line.find(','), std::string::npos) << line;
    EXPECT_EQ(line[0], '#');
    ++junk;
    if (line.size() == 5000) ++overlong;
  }
  EXPECT_EQ(data, 20);
  EXPECT_EQ(junk, 8);
  EXPECT_EQ(overlong, 4);
}

TEST(SimFaults, HighBytesArriveInsideLinesAndInAnExtraField) {
  Device d(SettingsFor("default", Faults({"high-bytes"}, 4)));
  d.Ask(":B\n", 0);
  const std::vector<std::string> lines = Lines(d.Out(ms(16)));
  auto high = [](const std::string &s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  };
  int highLines = 0, extraFields = 0;
  for (const std::string &line : lines) {
    if (high(line)) ++highLines;
    const std::vector<std::string> f = Fields(line);
    if (f.size() == 6) {
      EXPECT_TRUE(high(f[5])) << line;
      EXPECT_NO_THROW(std::stod(f[1])) << line;
      ++extraFields;
    }
  }
  EXPECT_EQ(highLines, 2);
  EXPECT_EQ(extraFields, 2);
}

TEST(SimFaults, SplitCrLfSendsTheLineFeedInALaterWrite) {
  Device d(SettingsFor("default", Faults({"split-crlf=3"})));
  d.Send(":V\n", 0);
  std::vector<OutputChunk> now = d.Chunks(0);
  ASSERT_EQ(now.size(), 1u);
  EXPECT_EQ(now[0].bytes, "V,1,4,27,1\r");
  EXPECT_TRUE(d.Chunks(ms(2)).empty());
  now = d.Chunks(ms(3));
  ASSERT_EQ(now.size(), 1u);
  EXPECT_EQ(now[0].bytes, "\n");

  // Every line of a multi-line answer is split the same way.
  d.Send(":F\n", ms(10));
  std::vector<std::string> writes;
  for (SimMicros t = ms(10); t <= ms(30); t += ms(1))
    for (const OutputChunk &c : d.Chunks(t)) writes.push_back(c.bytes);
  EXPECT_EQ(writes, (std::vector<std::string>{"F\r", "\n", "Count,ECG,Resp,SpO2,Temp\r", "\n",
                                              "EndOfCycle,0.002,0.005,0.01\r", "\n"}));
}

TEST(SimFaults, TrickleWritesOneByteAtATime) {
  Device d(SettingsFor("default", Faults({"trickle=2"})));
  d.Send(":S\n", 0);
  std::string seen;
  std::vector<SimMicros> times;
  for (SimMicros t = 0; t <= ms(10); t += ms(1))
    for (const OutputChunk &c : d.Chunks(t)) {
      EXPECT_EQ(c.bytes.size(), 1u);
      seen += c.bytes;
      times.push_back(c.due);
    }
  EXPECT_EQ(seen, "S\r\n");
  EXPECT_EQ(times, (std::vector<SimMicros>{0, ms(2), ms(4)}));
}

TEST(SimFaults, TrickledDataLineCountsAsSentWithItsLastByte) {
  Device d(SettingsFor("default", Faults({"trickle=0"})));
  d.Send(":B\n", 0);
  std::string bytes;
  std::vector<std::string> sent;
  for (const OutputChunk &c : d.Chunks(ms(2))) {
    bytes += c.bytes;
    if (!c.dataLines.empty()) {
      EXPECT_EQ(c.bytes, "\n");
      sent.insert(sent.end(), c.dataLines.begin(), c.dataLines.end());
    }
  }
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(bytes, "B\r\n" + sent[0] + "\r\n");
}

TEST(SimFaults, BurstWritesManyLinesAtOnceAboveTheHostReadSize) {
  Device d(SettingsFor("default", Faults({"burst=9000"})));
  d.Ask(":B\n", 0);
  int bursts = 0;
  std::uint64_t next = 0;
  for (SimMicros t = ms(10); t <= ms(3000); t += ms(10)) {
    for (const OutputChunk &c : d.Chunks(t)) {
      EXPECT_GE(c.bytes.size(), 9000u);
      EXPECT_GT(c.bytes.size(), 8191u);
      std::string joined;
      for (const std::string &line : c.dataLines) {
        EXPECT_EQ(Fields(line)[0], std::to_string(next++));
        joined += line + "\r\n";
      }
      EXPECT_EQ(joined, c.bytes);
      ++bursts;
    }
  }
  EXPECT_GE(bursts, 2);
  // Stopping writes out what was held back before the S answer.
  const std::string stop = d.Ask(":S\n", ms(3001));
  EXPECT_EQ(stop.substr(stop.size() - 3), "S\r\n");
}

TEST(SimFaults, StopAfterHangsTheDeviceForGood) {
  Device d(SettingsFor("default", Faults({"stop-after=5"})));
  d.Ask(":B\n", 0);
  EXPECT_EQ(Lines(d.Out(ms(100))).size(), 5u);
  EXPECT_TRUE(d.proto.Hung());
  EXPECT_EQ(d.Ask(":S\n:V\n", ms(100)), "");
  EXPECT_EQ(d.Out(ms(1000)), "");
  EXPECT_TRUE(d.trace.Contains("hung: no answer"));
}

TEST(SimFaults, VanishIsRequestedOnceAfterTheGivenLines) {
  Device d(SettingsFor("default", Faults({"vanish=3"})));
  d.Ask(":B\n", 0);
  EXPECT_EQ(Lines(d.Out(ms(100))).size(), 3u);
  EXPECT_TRUE(d.proto.VanishRequested());
  d.proto.PowerCycle(ms(100));
  EXPECT_FALSE(d.proto.VanishRequested());
  d.Ask(":B\n", ms(100));
  EXPECT_EQ(Lines(d.Out(ms(120))).size(), 10u);
  EXPECT_FALSE(d.proto.VanishRequested());
}

TEST(SimFaults, VanishEachComesBackAfterEveryPowerUp) {
  Device d(SettingsFor("default", Faults({"vanish-each=3"})));
  for (int round = 0; round < 3; ++round) {
    const int t = round * 100;
    d.Ask(":B\n", ms(t));
    EXPECT_EQ(Lines(d.Out(ms(t + 50))).size(), 3u) << round;
    EXPECT_TRUE(d.proto.VanishRequested()) << round;
    d.proto.PowerCycle(ms(t + 60));
    EXPECT_FALSE(d.proto.VanishRequested());
  }
}

TEST(SimFaults, MissingValuesRotateThroughTheChannels) {
  Device d(SettingsFor("default", Faults({"missing=3"})));
  d.Ask(":B\n", 0);
  const std::vector<std::string> lines = Lines(d.Out(ms(30)));
  ASSERT_EQ(lines.size(), 15u);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::vector<std::string> f = Fields(lines[i]);
    const size_t number = i + 1;
    for (size_t c = 1; c < f.size(); ++c) {
      const bool expectStar = number % 3 == 0 && c == 1 + (number / 3 - 1) % 4;
      EXPECT_EQ(f[c] == "*", expectStar) << lines[i];
    }
  }
}

TEST(SimFaults, LoseBAnswerStreamsWithoutTheFirstBLineOnly) {
  Device d(SettingsFor("default", Faults({"lose-b-answer"})));
  EXPECT_EQ(d.Ask(":B\n", 0), "");
  EXPECT_TRUE(d.proto.Streaming());
  std::vector<std::string> lines = Lines(d.Out(ms(10)));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_TRUE(IsDataLine(lines.front(), 5)) << lines.front();
  EXPECT_TRUE(d.trace.Contains("answer B not sent"));
  EXPECT_EQ(Lines(d.Ask(":S\n", ms(10))), std::vector<std::string>{"S"});
  EXPECT_FALSE(d.proto.Streaming());
  // Only the first: the next start is answered, also after a power-up the fault comes back.
  EXPECT_EQ(Lines(d.Ask(":B\n", ms(20))).at(0), "B");
  d.proto.PowerCycle(ms(30));
  EXPECT_EQ(d.Ask(":B\n", ms(30)), "");
  EXPECT_TRUE(d.proto.Streaming());
}

TEST(SimFaults, BadFaultSpecsAreRejected) {
  FaultSet f;
  std::string error;
  for (const char *bad : {"nope", "silent=1", "late=abc", "late=-1", "burst=0", "trickle=", "missing=0",
                          "wrong-firmware=a,b", "lose-b-answer=1"})
    EXPECT_FALSE(ApplyFault(bad, f, error)) << bad;
  EXPECT_TRUE(ApplyFault("stop-after=0", f, error));
  EXPECT_EQ(f.stopAfter, 0);
}

}  // namespace
}  // namespace vorn_test
