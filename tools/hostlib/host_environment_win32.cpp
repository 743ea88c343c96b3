#include <objbase.h>
#include <windows.h>

#include "host/host_environment.h"
#include "tools/hostlib/host_environment.h"

namespace vorn_host {

struct HostEnvironmentOffer::State {
  bool comStarted = false;
  DWORD cookie = 0;
};

HostEnvironmentOffer::HostEnvironmentOffer(HostEnvironmentObject &object) : state_(std::make_unique<State>()) {
  state_->comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  if (FAILED(CoRegisterClassObject(reinterpret_cast<const GUID &>(QVX::kClsidHostEnvironment),
                                   reinterpret_cast<IUnknown *>(object.Interface()), CLSCTX_INPROC_SERVER,
                                   REGCLS_MULTIPLEUSE, &state_->cookie))) {
    state_->cookie = 0;
  }
}

HostEnvironmentOffer::~HostEnvironmentOffer() {
  if (state_->cookie) CoRevokeClassObject(state_->cookie);
  if (state_->comStarted) CoUninitialize();
}

}  // namespace vorn_host
