#include <cstdio>

#include "tools/vornctl/commands.h"
#include "tools/vornctl/library_path.h"

namespace vornctl {

const char kVornctlVersion[] = VORNCTL_VERSION;

namespace {

// A recorder shows no pre-release notice: a non-zero flag declines the report.
vorn_host::HostEnvironmentObject &RecorderEnvironment() {
  static vorn_host::HostEnvironmentObject environment = [] {
    vorn_host::HostEnvironmentObject e;
    e.declineFlag = 1;
    return e;
  }();
  return environment;
}

}  // namespace

bool Context::LoadOrComplain() {
  std::string error;
  if (Load(error)) return true;
  Complain(error);
  return false;
}

bool Context::Load(std::string &error) {
  if (loaded) return true;
  libraryPath = FindLibrary(libraryOption, argv0);
  if (!hostEnvironment) hostEnvironment = std::make_unique<vorn_host::HostEnvironmentOffer>(RecorderEnvironment());
  std::string reason;
  if (!lib.Load(libraryPath, reason)) {
    error = "cannot load the driver " + libraryPath + ": " + reason;
    return false;
  }
  loaded = true;
  return true;
}

void Context::Unload() {
  if (loaded) {
    lib.CloseAll();
    lib.Unload();
    loaded = false;
  }
  hostEnvironment.reset();
}

void Complain(const std::string &text) { std::fprintf(stderr, "vornctl: %s\n", text.c_str()); }

}  // namespace vornctl
