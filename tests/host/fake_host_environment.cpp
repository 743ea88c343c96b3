#include "fake_host_environment.h"

namespace VornTest {

namespace {

FakeHostEnvironment *Self(void *object) { return static_cast<FakeHostEnvironment *>(object); }

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

QVX::HResult QVX_COM_CALL Flag(void *self, std::int32_t, std::int32_t *flag, std::int32_t *second) {
  ++Self(self)->flagCalls;
  *flag = Self(self)->declineFlag;
  *second = 0;
  return QVX::kOk;
}

QVX::HResult QVX_COM_CALL Report(void *self, std::int32_t, IQVXString *label) {
  ++Self(self)->reportCalls;
  Self(self)->reported = label ? std::u16string(label->GetBuffer()) : u"<null>";
  return QVX::kOk;
}

QVX::HResult QVX_COM_CALL Unused(void *) { return QVX::kFail; }

struct Table {
  void *slots[58];
  Table() {
    for (void *&slot : slots) slot = reinterpret_cast<void *>(&Unused);
    slots[0] = reinterpret_cast<void *>(&QueryInterface);
    slots[1] = reinterpret_cast<void *>(&AddRef);
    slots[2] = reinterpret_cast<void *>(&Release);
    slots[51] = reinterpret_cast<void *>(&Flag);
    slots[57] = reinterpret_cast<void *>(&Report);
  }
};

const Table table;

}  // namespace

FakeHostEnvironment::FakeHostEnvironment() : table_(table.slots) {}

}  // namespace VornTest
