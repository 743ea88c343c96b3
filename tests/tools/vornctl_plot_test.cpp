// Pictures of a recording: the bounded envelope, the sparkline, the SVG plot
// (well-formed XML whatever the device calls its channels), the text table.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tools/vornctl/envelope.h"
#include "tools/vornctl/sparkline.h"
#include "tools/vornctl/svg_plot.h"
#include "tools/vornctl/text_table.h"

namespace vorn_test {

using namespace vornctl;

namespace {

// A small XML 1.0 well-formedness check: one root, nested tags closed in
// order, quoted attributes without '<', only the predefined entities.
class XmlChecker {
 public:
  explicit XmlChecker(const std::string &text) : s_(text) {}

  bool WellFormed(std::string &why) {
    if (s_.rfind("<?xml", 0) == 0) {
      const std::size_t end = s_.find("?>");
      if (end == std::string::npos) return Fail(why, "unterminated declaration");
      at_ = end + 2;
    }
    int roots = 0;
    std::vector<std::string> open;
    while (at_ < s_.size()) {
      if (s_[at_] != '<') {
        if (open.empty() && !std::isspace(static_cast<unsigned char>(s_[at_]))) return Fail(why, "text outside root");
        if (!Text(why)) return false;
        continue;
      }
      if (s_.compare(at_, 2, "</") == 0) {
        const std::size_t end = s_.find('>', at_);
        if (end == std::string::npos || open.empty()) return Fail(why, "stray close tag");
        if (s_.substr(at_ + 2, end - at_ - 2) != open.back()) return Fail(why, "close tag of " + open.back());
        open.pop_back();
        at_ = end + 1;
        continue;
      }
      ++at_;
      const std::string name = Name();
      if (name.empty()) return Fail(why, "bad tag name");
      if (open.empty() && ++roots > 1) return Fail(why, "two roots");
      bool selfClosing = false;
      for (;;) {
        while (at_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[at_]))) ++at_;
        if (s_.compare(at_, 2, "/>") == 0) {
          selfClosing = true;
          at_ += 2;
          break;
        }
        if (at_ < s_.size() && s_[at_] == '>') {
          ++at_;
          break;
        }
        if (Name().empty() || at_ >= s_.size() || s_[at_++] != '=') return Fail(why, "bad attribute in " + name);
        if (at_ >= s_.size() || s_[at_] != '"') return Fail(why, "unquoted attribute in " + name);
        const std::size_t end = s_.find('"', at_ + 1);
        if (end == std::string::npos) return Fail(why, "unterminated attribute");
        const std::string value = s_.substr(at_ + 1, end - at_ - 1);
        if (value.find('<') != std::string::npos || !EntitiesOk(value)) return Fail(why, "bad attribute value");
        at_ = end + 1;
      }
      if (!selfClosing) open.push_back(name);
    }
    if (!open.empty()) return Fail(why, "unclosed " + open.back());
    return roots == 1 || Fail(why, "no root");
  }

 private:
  bool Fail(std::string &why, const std::string &text) {
    why = text + " at " + std::to_string(at_);
    return false;
  }
  std::string Name() {
    const std::size_t start = at_;
    while (at_ < s_.size() &&
           (std::isalnum(static_cast<unsigned char>(s_[at_])) || s_[at_] == '-' || s_[at_] == ':' || s_[at_] == '_'))
      ++at_;
    return s_.substr(start, at_ - start);
  }
  static bool EntitiesOk(const std::string &text) {
    for (std::size_t i = text.find('&'); i != std::string::npos; i = text.find('&', i + 1)) {
      bool known = false;
      for (const char *e : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"})
        known = known || text.compare(i, std::strlen(e), e) == 0;
      if (!known) return false;
    }
    return true;
  }
  bool Text(std::string &why) {
    const std::size_t end = std::min(s_.find('<', at_), s_.size());
    const std::string text = s_.substr(at_, end - at_);
    at_ = end;
    for (char c : text) {
      if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t' && c != '\r') return Fail(why, "control char");
    }
    return EntitiesOk(text) || Fail(why, "bad entity");
  }

  const std::string &s_;
  std::size_t at_ = 0;
};

TEST(Envelope, StaysBoundedAndKeepsExtremesAndMean) {
  Envelope envelope(8);
  for (int i = 0; i < 1000; ++i) envelope.Add(i == 500 ? 1e6 : i % 10);
  EXPECT_EQ(envelope.Slots(), 1000);
  EXPECT_LE(envelope.Buckets().size(), 16u);
  EXPECT_GE(envelope.Buckets().size(), 8u);
  double top = 0, sum = 0;
  std::int64_t count = 0;
  for (const EnvelopeBucket &b : envelope.Buckets()) {
    top = std::max(top, b.maximum);
    sum += b.sum;
    count += b.count;
  }
  EXPECT_EQ(top, 1e6);  // a one-sample spike survives any reduction
  EXPECT_EQ(count, 1000);
  EXPECT_DOUBLE_EQ(sum, 4500.0 + 1e6);
  // Every bucket but the last is full, so a bucket's place is its time.
  const auto buckets = static_cast<std::int64_t>(envelope.Buckets().size());
  EXPECT_LT(envelope.SlotsPerBucket() * (buckets - 1), 1000);
  EXPECT_GE(envelope.SlotsPerBucket() * buckets, 1000);
}

TEST(Envelope, GapsTakeTimeButHoldNoValues) {
  Envelope envelope(4);
  envelope.Add(1);
  envelope.AddGap();
  envelope.AddGap();
  envelope.Add(3);
  ASSERT_EQ(envelope.Buckets().size(), 4u);
  EXPECT_EQ(envelope.Buckets()[1].count, 0);
  EXPECT_EQ(envelope.Buckets()[3].Mean(), 3);
}

std::vector<EnvelopeBucket> Values(const std::vector<double> &values) {
  Envelope envelope(values.size());
  for (double v : values) {
    if (std::isnan(v)) {
      envelope.AddGap();
    } else {
      envelope.Add(v);
    }
  }
  return envelope.Buckets();
}

TEST(Sparkline, RampUsesAllEightLevelsLowToHigh) {
  EXPECT_EQ(Sparkline(Values({0, 1, 2, 3, 4, 5, 6, 7}), 8), "▁▂▃▄▅▆▇█");
  EXPECT_EQ(Sparkline(Values({7, 0}), 8), "█▁");
}

TEST(Sparkline, FlatTraceIsLowestLevelAndGapIsBlank) {
  EXPECT_EQ(Sparkline(Values({5, 5, 5}), 3), "▁▁▁");
  EXPECT_EQ(Sparkline(Values({0, NAN, 1}), 3), "▁ █");
  EXPECT_EQ(Sparkline({}, 10), "");
  // Averaging a constant that has no exact binary form must not draw steps.
  Envelope constant(50);
  for (int i = 0; i < 3001; ++i) constant.Add(98.00134281441695);
  std::string low;
  for (int i = 0; i < 50; ++i) low += "▁";
  EXPECT_EQ(Sparkline(constant.Buckets(), 50), low);
}

TEST(Sparkline, LongTraceIsAveragedIntoTheWidth) {
  std::vector<double> ramp;
  for (int i = 0; i < 400; ++i) ramp.push_back(i);
  const std::string line = Sparkline(Values(ramp), 10);
  EXPECT_EQ(line.size(), 10u * 3);  // each block is three UTF-8 bytes
  EXPECT_EQ(line.substr(0, 3), "▁");
  EXPECT_EQ(line.substr(27), "█");
}

RecordingHeader PlotHeader() {
  RecordingHeader header;
  header.identity.serial = "VSC<1>";
  header.identity.product = "Q & Co";
  header.periodUs = 2000;
  ChannelInfo a;
  a.name = "ECG";
  a.unit = "mV";
  ChannelInfo b;
  b.name = "<Flow> & \"Rate\"";
  b.unit = "l/'min'";
  header.channels = {a, b};
  return header;
}

TEST(SvgPlot, DocumentIsWellFormedWithAwkwardChannelNames) {
  const RecordingHeader header = PlotHeader();
  std::vector<Envelope> traces(2, Envelope(128));
  for (int i = 0; i < 100; ++i) {
    traces[0].Add(std::sin(i / 10.0));
    if (i == 40) {
      traces[1].AddGap();
    } else {
      traces[1].Add(i);
    }
  }
  const std::string svg = RenderSvg(header, traces);
  std::string why;
  EXPECT_TRUE(XmlChecker(svg).WellFormed(why)) << why;
  EXPECT_NE(svg.find("&lt;Flow&gt; &amp; &quot;Rate&quot; [l/&apos;min&apos;]"), std::string::npos);
  EXPECT_NE(svg.find("ECG [mV]"), std::string::npos);
  // The gap splits the second trace in two.
  std::size_t polylines = 0;
  for (std::size_t at = svg.find("<polyline"); at != std::string::npos; at = svg.find("<polyline", at + 1)) ++polylines;
  EXPECT_EQ(polylines, 3u);
}

TEST(SvgPlot, EmptyAndFlatTracesStillMakeAWellFormedDocument) {
  RecordingHeader header = PlotHeader();
  std::vector<Envelope> traces(2, Envelope(16));
  traces[0].Add(3);
  traces[0].Add(3);
  std::string why;
  const std::string svg = RenderSvg(header, traces);
  EXPECT_TRUE(XmlChecker(svg).WellFormed(why)) << why;
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  EXPECT_EQ(svg.find("inf"), std::string::npos);
  EXPECT_EQ(XmlEscape("a\x01"
                      "b"),
            "a?b");
}

TEST(XmlCheckerSelfTest, RejectsWhatIsNotWellFormed) {
  std::string why;
  for (const char *bad : {"<a><b></a></b>", "<a x=1/>", "<a>&nbsp;</a>", "<a/><b/>", "<a>", "<a x=\"<\"/>"}) {
    EXPECT_FALSE(XmlChecker(bad).WellFormed(why)) << bad;
  }
  EXPECT_TRUE(XmlChecker("<a x=\"1\"><b/>t &amp; u</a>").WellFormed(why)) << why;
}

TEST(TextTable, PadsColumnsAndAlignsNumbersRight) {
  TextTable table({"name", "min", "trace"}, 1);
  table.Add({"ECG", "-4.5", "▁█"});
  table.Add({"Temp", "30.25", ""});
  EXPECT_EQ(table.Text(), "name    min  trace\nECG    -4.5  ▁█\nTemp  30.25\n");
}

}  // namespace
}  // namespace vorn_test
