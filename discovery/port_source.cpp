#include "discovery/port_source.h"

#include "discovery/environment_variable.h"
#include "discovery/platform_ports.h"
#include "discovery/port_list.h"

namespace OpenPlotr {

namespace {

PortSourceFactory portSourceFactory = nullptr;

class SystemPortSource final : public PortSource {
 public:
  std::unique_ptr<FtdiLookup> MakeFtdiLookup() override { return MakePlatformFtdiLookup(); }
  std::unique_ptr<DevRegEnum> MakeEnumerator() override { return MakePlatformEnumerator(); }
  bool ReadPortName(const std::u16string &instanceId, std::u16string &portName) override {
    return OpenPlotr::ReadPortName(instanceId, portName);
  }
};

}  // namespace

std::unique_ptr<PortSource> MakePlatformPortSource() { return std::make_unique<SystemPortSource>(); }

void SetPortSourceFactory(PortSourceFactory factory) { portSourceFactory = factory; }

std::unique_ptr<PortSource> MakePortSource() {
  if (portSourceFactory) return portSourceFactory();
  std::u16string list;
  if (ReadEnvironmentVariable(kPortListVariable, list)) return MakePortListSource(list);
  return MakePlatformPortSource();
}

}  // namespace OpenPlotr
