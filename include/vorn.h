/* Vorn device driver: the sixteen exports a host application calls.
 *
 * The host loads the library (Vorn(7u).dll on Windows, libvorn.so on Linux),
 * finds devices one at a time, initialises them, reads their self-description
 * through DeviceCommand and reads the sample stream as "@ " text lines.
 * Texts handed to the host are 8-bit, in the user's code page. */
#ifndef VORN_H
#define VORN_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define VORN_CALL __cdecl
#if defined(VORN_BUILDING)
#define VORN_API
#else
#define VORN_API __declspec(dllimport)
#endif
#else
#define VORN_CALL
#define VORN_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* UTF-16 code unit, the same as wchar_t on Windows. */
#ifdef __cplusplus
typedef char16_t VornChar16;
#else
typedef uint16_t VornChar16;
#endif

typedef struct VornGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
} VornGuid;

/* Filled by GetDeviceClassInfo; the strings belong to the library. */
typedef struct DeviceClassInfo {
  VornGuid classId;
  const VornChar16 *className;
  const VornChar16 *shortName;
} DeviceClassInfo;

/* Owned by the host; DeviceCommand reads argument and writes the replies. */
typedef struct CommandRecord {
  char *textBuffer;
  int32_t textLength;
  int32_t reserved1;
  int32_t argument;
  int32_t reserved2;
  int32_t intResult;
  float floatResult;
} CommandRecord;

/* Command codes understood by DeviceCommand. */
enum {
  VORN_CMD_PRODUCT_NAME = 0,
  VORN_CMD_VERSION_TEXT = 3,
  VORN_CMD_SERIAL_TEXT = 4,
  VORN_CMD_LAST_CHANNEL = 11,
  VORN_CMD_CHANNEL_MINIMUM = 17,
  VORN_CMD_CHANNEL_MAXIMUM = 18,
  VORN_CMD_CHANNEL_UNIT = 19,
  VORN_CMD_CHANNEL_NAME = 21,
  VORN_CMD_CHANNEL_RANGE = 22,
  VORN_CMD_CONTROL_LIST = 28,
  VORN_CMD_PERIOD_LIST = 32,
  VORN_CMD_SELECT_PERIOD = 35,
  VORN_CMD_START = 37,
  VORN_CMD_STOP = 38,
  VORN_CMD_DISABLE_CHANNEL = 41,
  VORN_CMD_ENABLE_CHANNEL = 42,
  VORN_CMD_RESERVED_59 = 59
};

VORN_API int32_t VORN_CALL GetDeviceClassInfo(DeviceClassInfo *info);
VORN_API int32_t VORN_CALL FindDevice(int32_t *indexOut);
VORN_API int32_t VORN_CALL Initialise(int32_t index);
VORN_API int32_t VORN_CALL CloseAll(void);
VORN_API int32_t VORN_CALL IsFailed(int32_t index);
VORN_API int32_t VORN_CALL CanUseBaudRate(int32_t index, int32_t rate);
VORN_API int32_t VORN_CALL SetBaudRate(int32_t index, int32_t rate);
VORN_API int32_t VORN_CALL GetBaudRate(int32_t index);
VORN_API int32_t VORN_CALL ReadLine(int32_t index, char *buffer, int32_t maxLen, uint32_t timeoutMs);
VORN_API int32_t VORN_CALL ReadBuffer(int32_t index, char *buffer, int32_t count, uint32_t timeoutMs);
/* Accepts no data; its arguments are never read. */
VORN_API int32_t VORN_CALL WriteBuffer(int32_t index, const char *buffer, int32_t count);
VORN_API int32_t VORN_CALL ReadBuffSize(int32_t index);
VORN_API void VORN_CALL FlushReadBuffer(int32_t index);
VORN_API int32_t VORN_CALL GetUniqueID(int32_t index, int32_t *idOut);
VORN_API int32_t VORN_CALL DeviceCommand(int32_t index, uint32_t code, CommandRecord *record);
VORN_API int32_t VORN_CALL GetLastErrorMsg(int32_t index, char *buffer);

/* Function-pointer types for hosts that load the library at run time. */
typedef int32_t(VORN_CALL *VornGetDeviceClassInfoFn)(DeviceClassInfo *);
typedef int32_t(VORN_CALL *VornFindDeviceFn)(int32_t *);
typedef int32_t(VORN_CALL *VornIndexFn)(int32_t);
typedef int32_t(VORN_CALL *VornCloseAllFn)(void);
typedef int32_t(VORN_CALL *VornRateFn)(int32_t, int32_t);
typedef int32_t(VORN_CALL *VornReadFn)(int32_t, char *, int32_t, uint32_t);
typedef int32_t(VORN_CALL *VornWriteBufferFn)(int32_t, const char *, int32_t);
typedef void(VORN_CALL *VornFlushFn)(int32_t);
typedef int32_t(VORN_CALL *VornGetUniqueIdFn)(int32_t, int32_t *);
typedef int32_t(VORN_CALL *VornDeviceCommandFn)(int32_t, uint32_t, CommandRecord *);
typedef int32_t(VORN_CALL *VornGetLastErrorMsgFn)(int32_t, char *);

#ifdef __cplusplus
}
#endif

/* The record layouts are part of the host interface. */
#if defined(__cplusplus)
#define VORN_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define VORN_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
#if UINTPTR_MAX == 0xFFFFFFFFu
VORN_STATIC_ASSERT(sizeof(DeviceClassInfo) == 24, "DeviceClassInfo is 24 bytes");
VORN_STATIC_ASSERT(offsetof(DeviceClassInfo, className) == 16, "className at 16");
VORN_STATIC_ASSERT(offsetof(DeviceClassInfo, shortName) == 20, "shortName at 20");
VORN_STATIC_ASSERT(sizeof(CommandRecord) == 28, "CommandRecord is 28 bytes");
VORN_STATIC_ASSERT(offsetof(CommandRecord, textLength) == 4, "textLength at 4");
VORN_STATIC_ASSERT(offsetof(CommandRecord, argument) == 12, "argument at 12");
VORN_STATIC_ASSERT(offsetof(CommandRecord, intResult) == 20, "intResult at 20");
VORN_STATIC_ASSERT(offsetof(CommandRecord, floatResult) == 24, "floatResult at 24");
#else
VORN_STATIC_ASSERT(sizeof(DeviceClassInfo) == 32, "DeviceClassInfo is 32 bytes");
VORN_STATIC_ASSERT(offsetof(DeviceClassInfo, className) == 16, "className at 16");
VORN_STATIC_ASSERT(offsetof(DeviceClassInfo, shortName) == 24, "shortName at 24");
VORN_STATIC_ASSERT(sizeof(CommandRecord) == 32, "CommandRecord is 32 bytes");
VORN_STATIC_ASSERT(offsetof(CommandRecord, textLength) == 8, "textLength at 8");
VORN_STATIC_ASSERT(offsetof(CommandRecord, argument) == 16, "argument at 16");
VORN_STATIC_ASSERT(offsetof(CommandRecord, intResult) == 24, "intResult at 24");
VORN_STATIC_ASSERT(offsetof(CommandRecord, floatResult) == 28, "floatResult at 28");
#endif
VORN_STATIC_ASSERT(sizeof(VornGuid) == 16, "GUID is 16 bytes");

#endif
