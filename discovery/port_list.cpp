#include "discovery/port_list.h"

namespace OpenPlotr {

namespace {

class PortListEnum final : public DevRegEnum {
 public:
  explicit PortListEnum(std::vector<PortListEntry> entries) : entries_(std::move(entries)) { nextIndex = 0; }

  bool Fetch(std::int32_t index) override {
    if (index < 0 || static_cast<std::size_t>(index) >= entries_.size()) return false;
    instanceId = entries_[index].instanceId;
    devicePath = entries_[index].path;
    return true;
  }

 private:
  std::vector<PortListEntry> entries_;
};

class PortListSource final : public PortSource {
 public:
  explicit PortListSource(std::vector<PortListEntry> entries) : entries_(std::move(entries)) {}
  std::unique_ptr<FtdiLookup> MakeFtdiLookup() override { return std::make_unique<NoConverterLookup>(); }
  std::unique_ptr<DevRegEnum> MakeEnumerator() override { return std::make_unique<PortListEnum>(entries_); }
  bool ReadPortName(const std::u16string &, std::u16string &portName) override {
    portName.clear();
    return false;
  }
  bool ReplacesSystemPorts() const override { return true; }

 private:
  std::vector<PortListEntry> entries_;
};

}  // namespace

std::vector<PortListEntry> ParsePortList(std::u16string_view text) {
  std::vector<PortListEntry> entries;
  while (!text.empty()) {
    const auto end = text.find(u';');
    const std::u16string_view entry = text.substr(0, end);
    const auto equals = entry.find(u'=');
    if (equals != std::u16string_view::npos) {
      entries.push_back({std::u16string(entry.substr(0, equals)), std::u16string(entry.substr(equals + 1))});
    }
    if (end == std::u16string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return entries;
}

std::unique_ptr<PortSource> MakePortListSource(std::u16string_view text) {
  return std::make_unique<PortListSource>(ParsePortList(text));
}

}  // namespace OpenPlotr
