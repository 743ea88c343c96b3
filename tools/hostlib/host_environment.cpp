#include "tools/hostlib/host_environment.h"

#include "host/host_environment.h"
#include "support/qvx_string.h"

namespace vorn_host {

namespace {

constexpr int kSlots = 58;
constexpr int kReportWantedSlot = 51;
constexpr int kReportSlot = 57;

HostEnvironmentObject *Self(void *object) { return static_cast<HostEnvironmentObject *>(object); }

QVX::HResult QVX_COM_CALL QueryInterface(void *self, const QVX::Guid &iid, void **out) {
  if (iid == QVX::kIidIUnknown || iid == QVX::kIidHostEnvironment) {
    ++Self(self)->references;
    *out = self;
    return QVX::kOk;
  }
  *out = nullptr;
  return QVX::kNoInterface;
}
std::uint32_t QVX_COM_CALL AddRef(void *self) { return static_cast<std::uint32_t>(++Self(self)->references); }
std::uint32_t QVX_COM_CALL Release(void *self) { return static_cast<std::uint32_t>(--Self(self)->references); }

QVX::HResult QVX_COM_CALL ReportWanted(void *self, std::int32_t, std::int32_t *flag, std::int32_t *second) {
  ++Self(self)->flagCalls;
  if (flag) *flag = Self(self)->declineFlag;
  if (second) *second = 0;
  return QVX::kOk;
}

QVX::HResult QVX_COM_CALL Report(void *self, std::int32_t, IQVXString *label) {
  ++Self(self)->reportCalls;
  Self(self)->reported = label ? std::u16string(label->GetBuffer()) : u"<null>";
  return QVX::kOk;
}

QVX::HResult QVX_COM_CALL NotOffered(void *) { return QVX::kFail; }

struct Table {
  void *slots[kSlots];
  Table() {
    for (void *&slot : slots) slot = reinterpret_cast<void *>(&NotOffered);
    slots[0] = reinterpret_cast<void *>(&QueryInterface);
    slots[1] = reinterpret_cast<void *>(&AddRef);
    slots[2] = reinterpret_cast<void *>(&Release);
    slots[kReportWantedSlot] = reinterpret_cast<void *>(&ReportWanted);
    slots[kReportSlot] = reinterpret_cast<void *>(&Report);
  }
};

const Table table;

}  // namespace

HostEnvironmentObject::HostEnvironmentObject() : table_(table.slots) {}

}  // namespace vorn_host
