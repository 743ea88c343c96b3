// The files a recording will write, checked before any device is touched:
// a mistake in a file name must cost the user nothing, not a half-minute
// initialisation and then an error. The check only looks: it never opens,
// creates or removes what it checks.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/vornctl/recording.h"

namespace vornctl {

enum class OutputKind { Csv, Edf, Svg };

struct OutputTarget {
  std::string path;  // "-" for stdout
  OutputKind kind = OutputKind::Csv;
};

// --out names: ".csv" or ".edf" in any case, or "-" (CSV on stdout, once);
// --plot: ".svg". No file may be named twice (also through another
// spelling of the same path). Each must be a new name in an existing folder
// this user may write in; an existing file, or a recording left under its
// temporary name, is kept unless force (--force) says to replace it; a
// symbolic link is refused unless force (which replaces the link, never
// what it points to); FIFOs, devices and sockets are refused always.
// The error says which name is wrong and why.
bool CheckOutputs(const std::vector<std::string> &outputs, const std::string &plot, bool force,
                  std::vector<OutputTarget> &checked, std::string &error);
// The same rules for one more file (a device's own in a run of several).
bool CheckOutputPath(const std::string &path, bool force, std::string &error);

// The writer for a checked output; a recording hands it the header, the
// sample sets and the summary (record, and anything else that records).
// replace: an existing file of that name is replaced when it is complete.
std::unique_ptr<SampleSink> MakeOutputWriter(const OutputTarget &file, bool replace);

// The path of one device's file in a recording of several: the serial text
// goes before the extension ("run.csv" -> "run-VSC1234567.csv").
std::string PathForDevice(const std::string &path, const std::string &serial);

}  // namespace vornctl
