#include <objbase.h>
#include <windows.h>

#include "tools/vornctl/host_environment.h"

namespace vornctl {

namespace {

// The host environment class and interface the driver's start-up asks COM for.
const GUID kClsidHostEnvironment = {0x09C5C1C7, 0x6AEE, 0x4EF7, {0xAD, 0x48, 0x53, 0x01, 0xE8, 0xBC, 0x37, 0x75}};
const GUID kIidHostEnvironment = {0x70380571, 0x34EA, 0x11D3, {0x80, 0x99, 0x00, 0x50, 0x04, 0xAD, 0x3C, 0x53}};

// The driver calls slot 51 (may it report its pre-release build?) and,
// when allowed, slot 57 (the report); the table has the 58 slots it indexes.
constexpr int kSlots = 58;
constexpr int kReportWantedSlot = 51;

struct EnvironmentObject {
  void *const *table;
};

HRESULT STDMETHODCALLTYPE QueryInterface(EnvironmentObject *self, REFIID iid, void **out) {
  if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, kIidHostEnvironment)) {
    *out = self;
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

// A static object: references need no counting.
ULONG STDMETHODCALLTYPE AddRef(EnvironmentObject *) { return 1; }
ULONG STDMETHODCALLTYPE Release(EnvironmentObject *) { return 1; }

// A recorder shows no pre-release notice: a non-zero flag declines the report.
HRESULT STDMETHODCALLTYPE ReportWanted(EnvironmentObject *, LONG, LONG *flag, LONG *second) {
  if (flag) *flag = 1;
  if (second) *second = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE NotOffered(EnvironmentObject *) { return E_NOTIMPL; }

struct Table {
  void *slots[kSlots];
  Table() {
    for (void *&slot : slots) slot = reinterpret_cast<void *>(&NotOffered);
    slots[0] = reinterpret_cast<void *>(&QueryInterface);
    slots[1] = reinterpret_cast<void *>(&AddRef);
    slots[2] = reinterpret_cast<void *>(&Release);
    slots[kReportWantedSlot] = reinterpret_cast<void *>(&ReportWanted);
  }
};

const Table table;
EnvironmentObject environment{table.slots};

}  // namespace

struct HostEnvironmentOffer::State {
  bool comStarted = false;
  DWORD cookie = 0;
};

HostEnvironmentOffer::HostEnvironmentOffer() : state_(std::make_unique<State>()) {
  state_->comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  if (FAILED(CoRegisterClassObject(kClsidHostEnvironment, reinterpret_cast<IUnknown *>(&environment),
                                   CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &state_->cookie))) {
    state_->cookie = 0;
  }
}

HostEnvironmentOffer::~HostEnvironmentOffer() {
  if (state_->cookie) CoRevokeClassObject(state_->cookie);
  if (state_->comStarted) CoUninitialize();
}

}  // namespace vornctl
