// Builds without EDFlib (the Windows cross build): EDF+ output is refused
// with a message rather than silently written as something else.
#include "tools/vornctl/edf_writer.h"

namespace vornctl {

namespace {

class UnavailableEdfWriter : public SampleSink {
 public:
  explicit UnavailableEdfWriter(std::string path) : path_(std::move(path)) {}
  bool Begin(const RecordingHeader &, std::string &error) override {
    error = "cannot write " + path_ + ": this vornctl was built without EDF+ support (EDFlib); write CSV instead";
    return false;
  }
  bool Add(const std::vector<std::int32_t> *, double, std::string &) override { return false; }
  bool Finish(const RecordingSummary &, std::string &) override { return true; }

 private:
  std::string path_;
};

}  // namespace

bool EdfAvailable() { return false; }

std::unique_ptr<SampleSink> MakeEdfWriter(std::string path) {
  return std::make_unique<UnavailableEdfWriter>(std::move(path));
}

}  // namespace vornctl
