// The firmware revision a device must report, read from "VornFirmwareVer.ini"
// in the "Devices" folder beside the host executable.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace OpenPlotr {

class FirmwareRequirements {
 public:
  // Locates and loads the file beside the host executable, then reads the revision.
  FirmwareRequirements();
  // The same from a given file (tests, tools).
  explicit FirmwareRequirements(const std::u16string &path);
  ~FirmwareRequirements();
  FirmwareRequirements(const FirmwareRequirements &) = delete;
  FirmwareRequirements &operator=(const FirmwareRequirements &) = delete;

  // Where the file is looked for; empty when the host path is unusable.
  static std::u16string DefaultPath();

  bool loaded = false;
  std::int32_t requiredRevision = 0;

 private:
  struct Document;
  bool Load(const std::u16string &path);
  std::int32_t ReadRequiredRevision() const;

  std::unique_ptr<Document> document;
};

// The revision a device's firmware text stands for (the gate's reading of it).
std::int32_t RevisionFromText(const std::u16string &text);

}  // namespace OpenPlotr
