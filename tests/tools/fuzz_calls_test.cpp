// The call fuzzer's own parts: sequences that replay exactly as they were drawn,
// and the line check that must catch a wrong line without blaming a right one.
#include <gtest/gtest.h>

#include <set>

#include "tools/vorn-fuzz-calls/delivered_lines.h"
#include "tools/vorn-fuzz-calls/sequence.h"

namespace vorn_test {

using namespace vorn_fuzz;

namespace {

TEST(FuzzCallsSequence, DrawnSequencesReadBackAsWritten) {
  std::set<Op> seen;
  for (std::uint64_t seed = 1; seed <= 200; ++seed) {
    const Sequence s = Generate(seed, 40);
    ASSERT_GE(s.devices.size(), 1u);
    ASSERT_LE(s.devices.size(), 3u);
    const std::string text = FormatSequence(s);
    Sequence back;
    std::string error;
    ASSERT_TRUE(ParseSequence(text, back, error)) << error << "\n" << text;
    EXPECT_EQ(FormatSequence(back), text);
    // The same seed draws the same sequence, so a finding can be drawn again.
    EXPECT_EQ(FormatSequence(Generate(seed, 40)), text);
    for (std::size_t i = 0; i < s.calls.size(); ++i) {
      seen.insert(s.calls[i].op);
      if (s.calls[i].op == Op::Exit) {
        EXPECT_EQ(i + 1, s.calls.size()) << "Exit must be the last call";
      }
    }
  }
  // Every export and action is drawn somewhere in two hundred sequences.
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(Op::Exit) + 1);
}

// The second reader's session is its own until a call that changes the table
// stops it: the first thread's calls go elsewhere, as the threading rules have it.
TEST(FuzzCallsSequence, NoCallNamesTheSecondReadersSessionAndForksOnlyWhereAsked) {
  for (std::uint64_t seed = 1; seed <= 300; ++seed) {
    const Sequence s = Generate(seed, 40);
    std::int64_t reader = -1;
    // The table as discovery fills it: one more session per device, then a search that ends.
    int table = 0, cursor = 0;
    const int devices = static_cast<int>(s.devices.size());
    for (const Call &c : s.calls) {
      if (c.op == Op::FindDevice) {
        if (cursor < devices) {
          ++table;
          ++cursor;
        } else {
          cursor = 0;
        }
      }
      if (c.op == Op::FindDevice || c.op == Op::CloseAll || c.op == Op::Reload) reader = -1;
      if (c.op == Op::CloseAll || c.op == Op::Reload) table = cursor = 0;
      if (c.op == Op::Reader) {
        reader = c.a;
        continue;
      }
      const bool indexed = c.op != Op::Sleep && c.op != Op::Fork && c.op != Op::Exit && c.op != Op::FindDevice &&
                           c.op != Op::CloseAll && c.op != Op::Reload && c.op != Op::GetDeviceClassInfo &&
                           !(c.op == Op::GetLastErrorMsg && c.a == -1);
      // With one session there is no other to go to: the runner stops the reader then.
      if (indexed && reader >= 0 && table > 1) {
        EXPECT_NE(c.a, reader) << seed << ": " << FormatCall(c);
      }
    }
    for (const Call &c : Generate(seed, 40, false).calls) EXPECT_NE(c.op, Op::Fork) << seed;
  }
}

TEST(FuzzCallsSequence, MalformedTextIsRefusedWithTheLine) {
  Sequence s;
  std::string error;
  EXPECT_FALSE(ParseSequence("device --profile crc\nReadLine 0 512\n", s, error));
  EXPECT_NE(error.find("line 2"), std::string::npos) << error;
  EXPECT_FALSE(ParseSequence("device\nFrobnicate 1\n", s, error));
  EXPECT_NE(error.find("Frobnicate"), std::string::npos) << error;
  EXPECT_FALSE(ParseSequence("FindDevice\n", s, error)) << "no device";
  EXPECT_FALSE(ParseSequence("device\ndevice\ndevice\ndevice\nFindDevice\n", s, error)) << "four devices";
  ASSERT_TRUE(ParseSequence("# comment\n\ndevice --profile na\nDeviceCommand -1 4294967295 -2147483648 0\n", s, error))
      << error;
  ASSERT_EQ(s.calls.size(), 1u);
  EXPECT_EQ(s.calls[0].a, -1);
  EXPECT_EQ(s.calls[0].b, 4294967295LL);
  EXPECT_EQ(s.calls[0].c, -2147483648LL);
}

// Two channels (positions 1 and 2) from 0 to 100, no CRC.
vorn_soak::DeviceDescription TwoChannels() {
  vorn_soak::DeviceDescription d;
  d.fieldCount = 3;
  d.nameCount = 3;
  d.minima = {0, 0, 0};
  d.maxima = {100, 100, 100};
  return d;
}

void Read(SessionModel &s, const std::string &bytes, std::size_t call = 0) {
  Take(s, bytes.data(), bytes.size(), call);
}

TEST(FuzzCallsLines, LinesReadInPiecesAreCheckedWhole) {
  const auto device = TwoChannels();
  const std::vector<std::string> sent{"1,0,100", "2,50,50", "3,100,0"};
  SessionModel s;
  s.history = {{1, 2}};
  Read(s, "@ 0,32");
  Read(s, "767\n@ 16384,16384\n");  // a line split across two reads
  Finding f;
  EXPECT_TRUE(CheckLines(s, sent, device, f)) << f.detail;
  Read(s, "@ 16384,16384\n", 7);  // the second line again: a repeat
  EXPECT_FALSE(CheckLines(s, sent, device, f));
  EXPECT_EQ(f.kind, "line");
  EXPECT_EQ(f.call, 7u);
}

TEST(FuzzCallsLines, CorruptedOrReorderedLinesAreFindings) {
  const auto device = TwoChannels();
  const std::vector<std::string> sent{"1,0,100", "2,50,50", "3,100,0"};
  Finding f;
  SessionModel corrupt;
  corrupt.history = {{1, 2}};
  Read(corrupt, "@ 0,32767\n@ 1638,16384\n");
  EXPECT_FALSE(CheckLines(corrupt, sent, device, f));
  SessionModel reordered;
  reordered.history = {{1, 2}};
  Read(reordered, "@ 32767,0\n@ 0,32767\n");
  EXPECT_FALSE(CheckLines(reordered, sent, device, f));
  // Lines lost between delivered ones (a full ring) are no finding.
  SessionModel gap;
  gap.history = {{1, 2}};
  Read(gap, "@ 0,32767\n@ 32767,0\n");
  EXPECT_TRUE(CheckLines(gap, sent, device, f)) << f.detail;
  // Lines sent before the session existed cannot be its lines.
  SessionModel late;
  late.history = {{1, 2}};
  late.sentBase = 1;
  Read(late, "@ 0,32767\n");
  EXPECT_FALSE(CheckLines(late, sent, device, f));
}

TEST(FuzzCallsLines, ChannelChangesMoveForwardOnly) {
  const auto device = TwoChannels();
  const std::vector<std::string> sent{"1,10,20", "2,30,40", "3,50,60"};
  Finding f;
  SessionModel s;
  s.history = {{1}, {1, 2}};  // channel 2 enabled while streaming
  Read(s, "@ 3277,\n@ 9830,13107\n");
  EXPECT_TRUE(CheckLines(s, sent, device, f)) << f.detail;
  // A line decoded with the first set after one decoded with the second is no order the driver can make.
  Read(s, "@ 16384,\n");
  EXPECT_FALSE(CheckLines(s, sent, device, f));
}

TEST(FuzzCallsLines, OnlyTheFirstLineAfterAFlushMayBeATail) {
  const auto device = TwoChannels();
  const std::vector<std::string> sent{"1,0,100", "2,50,50"};
  Finding f;
  SessionModel s;
  s.history = {{1, 2}};
  Read(s, "767\n@ 16384,16384\n");
  EXPECT_TRUE(CheckLines(s, sent, device, f)) << f.detail;
  Read(s, "@ 0,3");
  Reset(s);  // what was read of that line goes with the flush
  Read(s, "384\n");
  EXPECT_TRUE(CheckLines(s, sent, device, f)) << f.detail;
  Read(s, "16384\n");
  EXPECT_FALSE(CheckLines(s, sent, device, f));
}

}  // namespace
}  // namespace vorn_test
