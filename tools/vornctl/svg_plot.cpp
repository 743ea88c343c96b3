#include "tools/vornctl/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "tools/vornctl/csv_writer.h"
#include "tools/vornctl/period_choices.h"
#include "tools/vornctl/unit_conversion.h"

namespace vornctl {

namespace {

constexpr double kWidth = 1000;
constexpr double kLeft = 90;
constexpr double kRight = 20;
constexpr double kTitle = 36;
constexpr double kPanel = 150;
constexpr double kPanelGap = 34;
constexpr double kBottom = 30;
// Buckets per trace: two per pixel of the plotting width is all a screen shows.
constexpr std::size_t kBuckets = 900;

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", v);
  return text;
}

std::string Label(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

}  // namespace

std::string XmlEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        // Control characters are not allowed in XML 1.0 at all.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
          out += '?';
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string RenderSvg(const RecordingHeader &header, const std::vector<Envelope> &traces) {
  const double plotWidth = kWidth - kLeft - kRight;
  const double height = kTitle + static_cast<double>(traces.size()) * (kPanel + kPanelGap) + kBottom;
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Number(kWidth) + "\" height=\"" + Number(height) +
         "\" viewBox=\"0 0 " + Number(kWidth) + " " + Number(height) +
         "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  const DeviceIdentity &id = header.identity;
  const std::int64_t slots = traces.empty() ? 0 : traces.front().Slots();
  const std::string duration = SampleTime(slots, header.periodUs);
  svg += "<text x=\"" + Number(kLeft) + "\" y=\"22\" font-size=\"15\">" +
         XmlEscape(id.product + " " + id.serial + ", every " + FormatPeriod(header.periodUs) + ", " + duration + " s") +
         "</text>\n";
  for (std::size_t t = 0; t < traces.size(); ++t) {
    const ChannelInfo &c = header.channels[t];
    const std::vector<EnvelopeBucket> &buckets = traces[t].Buckets();
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    for (const EnvelopeBucket &b : buckets) {
      if (!b.count) continue;
      lo = std::min(lo, b.minimum);
      hi = std::max(hi, b.maximum);
    }
    if (!(lo <= hi)) lo = hi = 0;
    if (hi - lo < 1e-12) {
      lo -= 0.5;
      hi += 0.5;
    }
    const double top = kTitle + static_cast<double>(t) * (kPanel + kPanelGap) + 18;
    const std::string unit = c.unit.empty() ? "" : " [" + c.unit + "]";
    svg += "<g>\n<text x=\"" + Number(kLeft) + "\" y=\"" + Number(top - 5) + "\" font-weight=\"bold\">" +
           XmlEscape(c.name + unit) + "</text>\n";
    svg += "<rect x=\"" + Number(kLeft) + "\" y=\"" + Number(top) + "\" width=\"" + Number(plotWidth) + "\" height=\"" +
           Number(kPanel) + "\" fill=\"none\" stroke=\"#999\"/>\n";
    svg += "<text x=\"" + Number(kLeft - 6) + "\" y=\"" + Number(top + 10) + "\" text-anchor=\"end\">" +
           XmlEscape(Label(hi)) + "</text>\n";
    svg += "<text x=\"" + Number(kLeft - 6) + "\" y=\"" + Number(top + kPanel) + "\" text-anchor=\"end\">" +
           XmlEscape(Label(lo)) + "</text>\n";
    const double slotsPerBucket = static_cast<double>(traces[t].SlotsPerBucket());
    const double totalSlots = std::max<double>(1, static_cast<double>(traces[t].Slots()));
    auto y = [&](double v) { return Number(top + kPanel - (v - lo) / (hi - lo) * kPanel); };
    std::string points;
    auto flush = [&]() {
      if (!points.empty()) {
        svg += "<polyline fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1\" points=\"" + points + "\"/>\n";
      }
      points.clear();
    };
    for (std::size_t b = 0; b < buckets.size(); ++b) {
      if (!buckets[b].count) {
        flush();  // a gap in the data stays a gap in the trace
        continue;
      }
      const std::string x = Number(kLeft + (static_cast<double>(b) + 0.5) * slotsPerBucket / totalSlots * plotWidth);
      points += x + "," + y(buckets[b].maximum) + " ";
      if (buckets[b].minimum != buckets[b].maximum) points += x + "," + y(buckets[b].minimum) + " ";
    }
    flush();
    svg += "</g>\n";
  }
  const double axis = height - kBottom + 16;
  svg += "<text x=\"" + Number(kLeft) + "\" y=\"" + Number(axis) + "\">0 s</text>\n";
  svg += "<text x=\"" + Number(kWidth - kRight) + "\" y=\"" + Number(axis) + "\" text-anchor=\"end\">" +
         XmlEscape(duration) + " s</text>\n";
  svg += "</svg>\n";
  return svg;
}

SvgPlot::SvgPlot(std::string path, bool replace) : path_(std::move(path)), replace_(replace) {}

SvgPlot::~SvgPlot() {
  if (file_.IsOpen()) {
    std::string ignored;
    file_.Close(ignored);
    RemoveFile(file_.Path());
  }
}

bool SvgPlot::Begin(const RecordingHeader &header, std::string &error) {
  header_ = header;
  traces_.assign(header.channels.size(), Envelope(kBuckets / 2));
  // Created now so a path that cannot be written fails before the recording, not after it.
  if (!file_.Create(PartialPath(path_), replace_, error)) {
    error = "the plot: " + error;
    return false;
  }
  return true;
}

bool SvgPlot::Add(const std::vector<std::int32_t> *values, double, std::string &) {
  for (std::size_t i = 0; i < traces_.size(); ++i) {
    if (values) {
      traces_[i].Add(ToPhysical(header_.channels[i], (*values)[i]));
    } else {
      traces_[i].AddGap();
    }
  }
  return true;
}

bool SvgPlot::Gap(std::int64_t sets, const std::string &, std::string &) {
  // The time axis stays true: a gap is drawn as time without values.
  for (Envelope &trace : traces_) {
    for (std::int64_t i = 0; i < sets; ++i) trace.AddGap();
  }
  return true;
}

bool SvgPlot::Finish(const RecordingSummary &, std::string &error) {
  if (!file_.IsOpen()) return true;
  const std::string svg = RenderSvg(header_, traces_);
  std::size_t written = 0;
  std::string reason;
  bool exists = false;
  if (!file_.Append(svg, written, reason) || !file_.Close(reason) ||
      !RenameFile(file_.Path(), path_, replace_, exists, reason)) {
    std::string ignored;
    file_.Close(ignored);
    RemoveFile(file_.Path());
    error = "cannot write the plot " + PathForMessage(path_) + ": " +
            (exists ? "it appeared while recording and is kept" : reason);
    return false;
  }
  written_ = true;
  return true;
}

std::optional<OutputOutcome> SvgPlot::Outcome() const {
  if (!written_) return std::nullopt;
  return OutputOutcome{path_, true, "the plot"};
}

}  // namespace vornctl
