// The simulator's device side, driven without a pty: every exchange the host
// uses, byte for byte, and the stream it produces.

#include <gtest/gtest.h>

#include "device_lines.h"
#include "sim_test_harness.h"

namespace vorn_test {
namespace {

TEST(SimExchange, AnswersEveryDownloadCommandWithExactFrames) {
  Device d(SettingsFor("default"));
  EXPECT_EQ(d.Ask(":S\n", 0), "S\r\n");
  EXPECT_EQ(d.Ask(":V\n", 0), "V,1,4,27,1\r\n");
  EXPECT_EQ(d.Ask(":F\n", 0), "F\r\nCount,ECG,Resp,SpO2,Temp\r\nEndOfCycle,0.002,0.005,0.01\r\n");
  EXPECT_EQ(d.Ask(":U11111\r", 0), "U\r\n");
  EXPECT_EQ(d.Ask(":I\n", 0),
            "I\r\nCount,ECG,Resp,SpO2,Temp\r\ncnt,mV,l/min,%,degC\r\n4294967295,5,60,100,42\r\n0,-5,0,0,30\r\n");
  EXPECT_EQ(d.Ask(":P2\n", 0), "");
  EXPECT_EQ(d.Ask(":X\n", 0), "");
  EXPECT_EQ(d.Ask(":B\n", 0), "B\r\n");
}

TEST(SimExchange, ProfilesDescribeThemselvesConsistently) {
  Device crc(SettingsFor("crc"));
  EXPECT_EQ(crc.Ask(":V\n", 0), "V,1,4,27,1,Quellograph CRC\r\n");
  EXPECT_EQ(crc.Ask(":F\n", 0), "F\r\nCount,ECG,Resp,SpO2,Temp,CRC\r\nEndOfCycle,0.002,0.005,0.01\r\n");
  EXPECT_EQ(crc.Ask(":I\n", 0),
            "I\r\nCount,ECG,Resp,SpO2,Temp,CRC\r\ncnt,mV,l/min,%,degC,na\r\n"
            "4294967295,5,60,100,42,65535\r\n0,-5,0,0,30,0\r\n");

  // "na" on channels between named ones, so a host that drops "na" units shifts the later ones.
  Device na(SettingsFor("na"));
  EXPECT_EQ(na.Ask(":I\n", 0),
            "I\r\nCount,Pressure,Marker,Flow,Pulse\r\ncnt,mmHg,na,ml/s,na\r\n"
            "4294967295,300,na,na,250\r\n0,0,na,na,20\r\n");

  Device nocycle(SettingsFor("nocycle"));
  EXPECT_EQ(Lines(nocycle.Ask(":F\n", 0)).at(2), "0.001,0.002,0.005,0.01");

  // Every profile: field line, names, units, maxima and minima have one entry per field.
  for (const DeviceProfile &p : BuiltinProfiles()) {
    Device dev(SettingsFor(p.name.c_str()));
    std::vector<std::string> lines = Lines(dev.Ask(":F\n:I\n", 0));
    ASSERT_EQ(lines.size(), 8u) << p.name;
    for (int i : {1, 4, 5, 6, 7})
      EXPECT_EQ(Fields(lines[i]).size(), static_cast<size_t>(p.FieldCount())) << p.name << " line " << i;
  }
  EXPECT_EQ(FindProfile("many")->FieldCount(), 17);
  EXPECT_GT(FindProfile("wide")->FieldCount(), 28);
}

TEST(SimExchange, StreamStartsOnePeriodAfterBAndKeepsThePeriod) {
  Device d(SettingsFor("default"));
  EXPECT_EQ(d.Ask(":B\n", ms(100)), "B\r\n");
  EXPECT_EQ(d.Out(ms(101)), "");
  std::vector<std::string> lines = Lines(d.Out(ms(102)));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Fields(lines[0]).at(0), "0");
  lines = Lines(d.Out(ms(110)));
  ASSERT_EQ(lines.size(), 4u);
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(Fields(lines[i]).at(0), std::to_string(i + 1));
  EXPECT_EQ(d.proto.DataLinesGenerated(), 5u);
}

TEST(SimExchange, DataLinesStayInsideEveryChannelRange) {
  for (const char *name : {"default", "test", "crc", "na", "many", "nocycle"}) {
    Device d(SettingsFor(name));
    const DeviceProfile &p = d.proto.Settings().profile;
    d.Ask(":B\n", 0);
    std::string out;
    for (SimMicros t = 0; t <= ms(400); t += ms(10)) out += d.Out(t);
    const std::vector<std::string> lines = Lines(out);
    ASSERT_GE(lines.size(), 100u) << name;
    for (const std::string &line : lines) {
      const std::vector<std::string> f = Fields(line);
      ASSERT_EQ(f.size(), static_cast<size_t>(p.FieldCount())) << line;
      for (size_t c = 0; c < p.channels.size(); ++c) {
        const double v = std::stod(f[c + 1]);
        EXPECT_GE(v, p.channels[c].lo) << name << ": " << line;
        EXPECT_LE(v, p.channels[c].hi) << name << ": " << line;
      }
    }
  }
}

TEST(SimExchange, CrcFieldIsCrc16OfTheTextBeforeIt) {
  EXPECT_EQ(Crc16("123456789"), 0x29B1);  // the CCITT-FALSE check value
  Device d(SettingsFor("crc"));
  d.Ask(":B\n", 0);
  const std::vector<std::string> lines = Lines(d.Out(ms(40)));
  ASSERT_FALSE(lines.empty());
  for (const std::string &line : lines) {
    const size_t comma = line.rfind(',');
    EXPECT_EQ(line.substr(comma + 1), std::to_string(Crc16(line.substr(0, comma)))) << line;
  }
}

TEST(SimExchange, SameSeedRepeatsTheStreamAndOtherSeedsChangeOnlyNoise) {
  auto stream = [](std::uint64_t seed) {
    DeviceSettings s = SettingsFor("test");
    s.seed = seed;
    Device d(s);
    d.Ask(":B\n", 0);
    return Lines(d.Out(ms(200)));
  };
  const auto a = stream(1), b = stream(1), c = stream(2);
  EXPECT_EQ(a, b);
  ASSERT_EQ(a.size(), c.size());
  bool noiseDiffers = false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto fa = Fields(a[i]), fc = Fields(c[i]);
    for (size_t f = 0; f < 4; ++f) EXPECT_EQ(fa[f], fc[f]);  // counter, sine, ramp, square
    noiseDiffers = noiseDiffers || fa[4] != fc[4];
  }
  EXPECT_TRUE(noiseDiffers);
}

TEST(SimExchange, StopCommandsEndTheStream) {
  Device d(SettingsFor("default"));
  d.Ask(":B\n", 0);
  d.Out(ms(10));
  // S stops first, so its answer is the last thing sent.
  const std::string stopped = d.Ask(":S\n", ms(15));
  EXPECT_EQ(stopped.substr(stopped.size() - 3), "S\r\n");
  EXPECT_FALSE(d.proto.Streaming());
  EXPECT_EQ(d.Out(ms(500)), "");

  d.Ask(":B\n", ms(500));
  EXPECT_FALSE(d.Out(ms(510)).empty());
  EXPECT_EQ(d.Ask(":X\n", ms(510)), "");
  EXPECT_FALSE(d.proto.Streaming());
  EXPECT_EQ(d.Out(ms(900)), "");
}

TEST(SimExchange, PeriodPositionsFollowTheEndOfCycleOffer) {
  Device d(SettingsFor("default"));
  EXPECT_EQ(d.proto.PeriodPosition(), 1);  // power-on: the first numeric choice
  d.Ask(":P0\n", 0);
  EXPECT_EQ(d.proto.PeriodMicros(), 40000);  // the cycle
  d.Ask(":P3\n", 0);
  EXPECT_EQ(d.proto.PeriodMicros(), 10000);
  for (const char *bad : {":P4\n", ":P12\n", ":P\n", ":P123\n", ":Px\n"}) {
    d.Ask(bad, 0);
    EXPECT_EQ(d.proto.PeriodPosition(), 3) << bad;
  }
  EXPECT_TRUE(d.trace.Contains("no position 4"));

  Device n(SettingsFor("nocycle"));
  EXPECT_EQ(n.proto.PeriodMicros(), 1000);
  n.Ask(":P3\n", 0);
  EXPECT_EQ(n.proto.PeriodMicros(), 10000);
  n.Ask(":P4\n", 0);
  EXPECT_EQ(n.proto.PeriodPosition(), 3);
}

TEST(SimExchange, PeriodChangeWhileStreamingTakesEffectFromTheNextLine) {
  Device d(SettingsFor("default"));
  d.Ask(":B\n", 0);
  EXPECT_EQ(Lines(d.Out(ms(20))).size(), 10u);
  d.Ask(":P3\n", ms(20));
  EXPECT_EQ(Lines(d.Out(ms(29))).size(), 0u);
  EXPECT_EQ(Lines(d.Out(ms(60))).size(), 4u);
}

TEST(SimExchange, FieldMaskLeavesOutDeselectedFields) {
  Device d(SettingsFor("default"));
  EXPECT_EQ(d.Ask(":U10101\r", 0), "U\r\n");
  d.Ask(":B\n", 0);
  const std::vector<std::string> lines = Lines(d.Out(ms(10)));
  ASSERT_FALSE(lines.empty());
  for (const std::string &line : lines) EXPECT_EQ(Fields(line).size(), 3u) << line;

  // A mask of the wrong length is still answered; missing digits select their fields.
  Device w(SettingsFor("wide"));
  EXPECT_EQ(w.Ask(":U" + std::string(28, '1') + "\r", 0), "U\r\n");
  EXPECT_TRUE(w.trace.Contains("28 digits for 33 fields"));
  EXPECT_EQ(std::count(w.proto.FieldMask().begin(), w.proto.FieldMask().end(), true), 33);
  EXPECT_EQ(w.Ask(":U1x1\r", 0), "");
}

TEST(SimExchange, MalformedInputIsIgnoredAndTraced) {
  Device d(SettingsFor("default"));
  for (const char *bad : {":V\r", ":U11111\n", ":Q\n", ":Vx\n", "V\n", ":\n", "hello\n"})
    EXPECT_EQ(d.Ask(bad, 0), "") << bad;
  EXPECT_TRUE(d.trace.Contains("wrong line end"));
  EXPECT_TRUE(d.trace.Contains("unknown command"));
  EXPECT_TRUE(d.trace.Contains("not a command"));
  // An overlong run is dropped up to its line end; the next command works.
  EXPECT_EQ(d.Ask(std::string(200, 'z') + ":S\n", 0), "");
  EXPECT_EQ(d.Ask(":S\n", 0), "S\r\n");
  // Stray line ends between commands are harmless.
  EXPECT_EQ(d.Ask("\r\n\n:S\n", 0), "S\r\n");
}

TEST(SimExchange, CommandsMayArriveInPiecesButNotAcrossAPortClose) {
  Device d(SettingsFor("default"));
  d.Send(":", 0);
  d.Send("V", 0);
  EXPECT_EQ(d.Ask("\n", 0), "V,1,4,27,1\r\n");

  d.Send(":V", 0);
  d.proto.PortClosed(0);
  EXPECT_EQ(d.Ask("\n", 0), "");
  EXPECT_EQ(d.Ask(":S\n", 0), "S\r\n");
}

TEST(SimExchange, DeviceKeepsStreamingWhileTheHostIsAway) {
  Device d(SettingsFor("default"));
  d.Ask(":B\n", 0);
  d.proto.PortClosed(ms(5));
  EXPECT_TRUE(d.proto.Streaming());
  EXPECT_FALSE(d.Out(ms(20)).empty());
}

TEST(SimExchange, UnreadOutputPausesTheStreamInsteadOfGrowingForever) {
  Device d(SettingsFor("many"));
  d.Ask(":B\n", 0);
  for (SimMicros t = 0; t <= ms(60000); t += ms(100)) d.proto.Advance(t);
  const std::uint64_t lineBytes = 64;  // at least 17 fields of 3 or more characters
  EXPECT_LE(d.proto.DataLinesGenerated(), DeviceProtocol::kMaxBacklog / lineBytes + 100);
  EXPECT_TRUE(d.trace.Contains("host is not reading"));
  // Once drained, it goes on.
  d.proto.TakeDue(ms(60000));
  const std::uint64_t before = d.proto.DataLinesGenerated();
  d.proto.Advance(ms(60100));
  EXPECT_GT(d.proto.DataLinesGenerated(), before);
}

TEST(SimExchange, AStalledScheduleRestartsRatherThanFlooding) {
  Device d(SettingsFor("default"));
  d.Ask(":B\n", 0);
  EXPECT_LE(Lines(d.Out(ms(10000))).size(), 2u);  // B and one line
  EXPECT_TRUE(d.trace.Contains("fell"));
}

TEST(SimExchange, PowerCycleRestoresThePowerOnState) {
  Device d(SettingsFor("default"));
  d.Ask(":P3\n:U10001\r:B\n", 0);
  d.Out(ms(50));
  d.Send(":V", ms(50));
  d.proto.PowerCycle(ms(50));
  EXPECT_FALSE(d.proto.Streaming());
  EXPECT_EQ(d.proto.PeriodPosition(), 1);
  EXPECT_EQ(d.proto.DataLinesGenerated(), 0u);
  EXPECT_EQ(d.Out(ms(500)), "");
  EXPECT_EQ(d.Ask("\n:S\n", ms(500)), "S\r\n");
  d.Ask(":B\n", ms(500));
  const std::vector<std::string> lines = Lines(d.Out(ms(502)));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Fields(lines[0]).size(), 5u);
  EXPECT_EQ(Fields(lines[0])[0], "0");
}

}  // namespace
}  // namespace vorn_test
