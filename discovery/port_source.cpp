#include "discovery/port_source.h"

#include "discovery/environment_variable.h"
#include "discovery/system_ports.h"
#include "discovery/port_list.h"

namespace OpenPlotr {

namespace {

PortSourceFactory portSourceFactory = nullptr;

}  // namespace

std::unique_ptr<PortSource> MakePlatformPortSource() { return std::make_unique<SystemPorts>(); }

void SetPortSourceFactory(PortSourceFactory factory) { portSourceFactory = factory; }

std::unique_ptr<PortSource> MakePortSource() {
  if (portSourceFactory) return portSourceFactory();
  std::u16string list;
  if (ReadEnvironmentVariable(kPortListVariable, list)) return MakePortListSource(list);
  return MakePlatformPortSource();
}

}  // namespace OpenPlotr
