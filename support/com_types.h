// The few COM types the shared string's object model needs, laid out as the
// host's (GUID, BSTR, VARIANT) so the same method table serves a Windows host.
// QVX_COM_CALL is the interface calling convention, set by the build.
#pragma once

#include <cstdint>

#ifndef QVX_COM_CALL
#define QVX_COM_CALL
#endif

namespace QVX {

using HResult = std::int32_t;
using VariantBool = std::int16_t;  // -1 true, 0 false

inline constexpr HResult kOk = 0;
inline constexpr HResult kNoInterface = static_cast<HResult>(0x80004002u);
inline constexpr HResult kPointer = static_cast<HResult>(0x80004003u);
inline constexpr HResult kFail = static_cast<HResult>(0x80004005u);
inline constexpr HResult kOutOfMemory = static_cast<HResult>(0x8007000Eu);

inline constexpr VariantBool kVariantTrue = -1;
inline constexpr VariantBool kVariantFalse = 0;

struct Guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];

  friend bool operator==(const Guid &a, const Guid &b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
    for (int i = 0; i < 8; ++i)
      if (a.data4[i] != b.data4[i]) return false;
    return true;
  }
};

inline constexpr Guid kIidIUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// A length-prefixed UTF-16 text owned by the system allocator (SysAllocStringLen on Windows).
using Bstr = char16_t *;

inline constexpr std::uint16_t kVarTypeEmpty = 0;
inline constexpr std::uint16_t kVarTypeBstr = 8;

struct Variant {
  std::uint16_t vt;
  std::uint16_t reserved1;
  std::uint16_t reserved2;
  std::uint16_t reserved3;
  union {
    Bstr bstrVal;
    std::int64_t llVal;
    double dblVal;
    void *record[2];  // the widest member of the system's union
  };
};

class IUnknownBase {
 public:
  virtual HResult QVX_COM_CALL QueryInterface(const Guid &iid, void **out) = 0;
  virtual std::uint32_t QVX_COM_CALL AddRef() = 0;
  virtual std::uint32_t QVX_COM_CALL Release() = 0;

 protected:
  ~IUnknownBase() = default;
};

}  // namespace QVX
