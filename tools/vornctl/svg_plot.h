// A recording drawn as SVG: one panel per channel with its name and unit.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vornctl/envelope.h"
#include "tools/vornctl/output_file.h"
#include "tools/vornctl/recording.h"

namespace vornctl {

class SvgPlot : public SampleSink {
 public:
  explicit SvgPlot(std::string path, bool replace = false);
  ~SvgPlot() override;
  SvgPlot(const SvgPlot &) = delete;
  SvgPlot &operator=(const SvgPlot &) = delete;

  bool Begin(const RecordingHeader &header, std::string &error) override;
  bool Add(const std::vector<std::int32_t> *values, double hostSeconds, std::string &error) override;
  bool Gap(std::int64_t sets, const std::string &reason, std::string &error) override;
  bool Finish(const RecordingSummary &summary, std::string &error) override;
  std::optional<OutputOutcome> Outcome() const override;

 private:
  std::string path_;
  bool replace_;
  RecordingHeader header_;
  std::vector<Envelope> traces_;
  OutputFile file_;
  bool written_ = false;
};

// The whole document for these traces (one per channel, in physical units).
std::string RenderSvg(const RecordingHeader &header, const std::vector<Envelope> &traces);

// Text for SVG content and attribute values.
std::string XmlEscape(std::string_view text);

}  // namespace vornctl
