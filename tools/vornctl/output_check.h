// The files a recording will write, checked before any device is touched:
// a mistake in a file name must cost the user nothing, not a half-minute
// initialisation and then an error.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/vornctl/recording.h"

namespace vornctl {

enum class OutputKind { Csv, Edf, Svg };

struct OutputFile {
  std::string path;  // "-" for stdout
  OutputKind kind = OutputKind::Csv;
};

// --out names: ".csv" or ".edf" in any case, or "-" (CSV on stdout, once);
// --plot: ".svg". No file may be named twice (also through another
// spelling of the same path), its folder must exist and it must be writable.
// The error says which name is wrong and why.
bool CheckOutputs(const std::vector<std::string> &outputs, const std::string &plot, std::vector<OutputFile> &checked,
                  std::string &error);

// The writer for a checked output; a recording hands it the header, the
// sample sets and the summary (record, and anything else that records).
std::unique_ptr<SampleSink> MakeOutputWriter(const OutputFile &file);

// The path of one device's file in a recording of several: the serial text
// goes before the extension ("run.csv" -> "run-VSC1234567.csv").
std::string PathForDevice(const std::string &path, const std::string &serial);

}  // namespace vornctl
