/* Vorn device driver: the sixteen exports a host application calls.
 *
 * The host loads the library (Vorn(7u).dll on Windows, libvorn.so on Linux)
 * and drives it in this order:
 *
 *   1. FindDevice until it returns 0: each 1 appends one device and writes
 *      its index (0, 1, 2, ... in order of discovery).
 *   2. Initialise(index) for each device to be used: opens the port, makes
 *      sure the device answers and that its firmware is the required one.
 *   3. DeviceCommand to read the device's self-description (channel names,
 *      units, limits, periods), to enable channels, to select the sample
 *      period and to start and stop the stream.
 *   4. ReadLine (or ReadBuffer) to take the stream: one "@ " text line per
 *      sample set.
 *   5. CloseAll, also before unloading the library.
 *
 * Results. Every export that answers yes or no returns exactly 1 for yes
 * (done, found, usable) and 0 for no; no export returns a negative error
 * code. Only GetBaudRate (a rate), ReadBuffSize (a byte count) and
 * GetLastErrorMsg (a size) return other numbers. A device index that no
 * FindDevice handed out since the last CloseAll (any negative index among
 * them) gives the failure result at once: 0, except IsFailed, which gives 1.
 * Why something failed is told by GetLastErrorMsg(-1, ...), not by the
 * result.
 *
 * Texts handed to the host are 8-bit and null-terminated, in the user's
 * default OEM code page on Windows and in the code page of the user's locale
 * on Linux (Latin-1 for a 7-bit locale such as C or POSIX). A device's own
 * bytes above 0x7F (a unit "°C" or "µV") are read as Latin-1 characters and
 * converted like every other text; a character the code page lacks becomes
 * '?'.
 *
 * Threads. No lock guards the device table: FindDevice and CloseAll must not
 * run while any other export runs, and two exports must not run on one
 * device at the same time. Different devices may be served from different
 * threads (for instance one reading thread per device); one thread at a
 * time reads a given device. Each initialised device has its own receive
 * thread inside the library, which decodes the stream into that device's
 * receive buffer (64 KiB) while the host is not reading.
 *
 * Where devices are looked for. FindDevice walks the machine's serial
 * ports, unless the environment variable VORN_PORTS is set: then it walks
 * exactly that list ("SERIAL=PATH;SERIAL=PATH", SERIAL beginning with VSC or
 * A800) and nothing else, so a set but empty or unusable VORN_PORTS hides
 * every device plugged in. It is read when a search starts (the first
 * FindDevice, the one after a FindDevice that returned 0, and after
 * CloseAll). Simulators and test set-ups use it; leave it unset otherwise.
 *
 * Unloading. Call CloseAll before unloading the library: it ends every
 * receive thread and waits until they have left the library's code. The
 * unload does the same work; on Windows it runs under the loader lock, where
 * only a thread's leaving the library's code can be awaited, not its end.
 *
 * Ending. A process that ends without CloseAll (return from main, exit())
 * has every device told to stop and closed by the library on its way out.
 * On Linux a thread of the host that is still inside ReadLine or
 * DeviceCommand then gets its call back within its time-out (later calls
 * find no device); on Windows the system ends such threads first.
 *
 * fork(). A child process made by fork() starts with no device of its own:
 * its parent's devices and receive threads stay the parent's, and the child
 * never sends to them or stops them, also when it exits or unloads the
 * library. The child may find and use devices of its own. */
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

/* Filled by GetDeviceClassInfo. The two UTF-16 strings ("Vorn Devices",
 * "Vorn") belong to the library: do not change or free them; they stay valid
 * while the library is loaded. */
typedef struct DeviceClassInfo {
  VornGuid classId;
  const VornChar16 *className;
  const VornChar16 *shortName;
} DeviceClassInfo;

/* Owned by the host and handed to DeviceCommand. The driver reads argument
 * and writes only the field that the command code fills (see the codes
 * below); the other fields keep what the host put there, so a host that
 * wants to tell "not written" from a value presets them (for instance
 * floatResult to NaN, textBuffer to an empty string).
 *
 * Text replies are copied into textBuffer, at most textLength - 1 bytes and
 * a terminating null (a longer reply is cut at a character boundary). An
 * empty reply leaves textBuffer untouched, so clear it before each call.
 * 4096 bytes hold every reply: the control list of code 28 is 348 bytes,
 * and names, units and version texts come from device lines of at most 4096
 * bytes. */
typedef struct CommandRecord {
  char *textBuffer;   /* receives text replies */
  int32_t textLength; /* size of textBuffer in bytes, terminator included */
  int32_t reserved1;  /* not used */
  int32_t argument;   /* the command's channel position or value */
  int32_t reserved2;  /* not used */
  int32_t intResult;  /* integer replies */
  float floatResult;  /* number replies */
} CommandRecord;

/* Command codes understood by DeviceCommand.
 *
 * Channels. A device's channels are numbered by position: position 0 is the
 * line's first field (the sample counter, never streamed), the measured
 * channels are positions 1 to n, where n is the intResult of
 * VORN_CMD_LAST_CHANNEL. Codes 17 to 28 do nothing, and still return 1,
 * when the position is outside the device's lists; 41 and 42 take any
 * number, but only positions 1 to n ever stream.
 *
 * Every code first waits, at most 15 s, until the device has sent its whole
 * self-description (it arrives in the background after Initialise); with no
 * description at all by then it returns 0 and GetLastErrorMsg(-1, ...)
 * reports the device as not responding. */
enum {
  /* textBuffer: the product name, e.g. "Quellograph". */
  VORN_CMD_PRODUCT_NAME = 0,
  /* textBuffer: the device's version text. */
  VORN_CMD_VERSION_TEXT = 3,
  /* textBuffer: the serial number without its "VSC" or "A800" prefix,
   * e.g. "1234567" for VSC1234567. */
  VORN_CMD_SERIAL_TEXT = 4,
  /* intResult: n, the last channel position (number of channel names - 1). */
  VORN_CMD_LAST_CHANNEL = 11,
  /* floatResult: the physical value that streams as 0, for channel
   * position argument; -32767 when the device gives no limit ("na"). */
  VORN_CMD_CHANNEL_MINIMUM = 17,
  /* floatResult: the physical value that streams as 32767, for channel
   * position argument; 32767 when the device gives no limit ("na"). */
  VORN_CMD_CHANNEL_MAXIMUM = 18,
  /* textBuffer: the unit of channel position argument, e.g. "mmHg". A
   * channel without a unit ("na" from the device) has the empty unit, so
   * textBuffer is left untouched. */
  VORN_CMD_CHANNEL_UNIT = 19,
  /* textBuffer: the name of channel position argument. */
  VORN_CMD_CHANNEL_NAME = 21,
  /* textBuffer: "MIN,MAX,UNIT;" for channel position argument, e.g.
   * "-32767,32767,mmHg;" (at most six significant digits, the user's
   * decimal separator). */
  VORN_CMD_CHANNEL_RANGE = 22,
  /* textBuffer: the host's settings control list for the device (the same
   * text for every valid position argument, 348 bytes). */
  VORN_CMD_CONTROL_LIST = 28,
  /* textBuffer: the sample periods the device offers, in microseconds,
   * decimal, comma-separated, in the reverse of the device's own order,
   * e.g. "2000000,1000000,500000". Empty (textBuffer untouched) when the
   * device offers only its own cycle. */
  VORN_CMD_PERIOD_LIST = 32,
  /* Selects the sample period: argument is one of the microsecond values of
   * VORN_CMD_PERIOD_LIST. A value the device does not offer is ignored.
   * Returns 1 either way; nothing is awaited from the device. */
  VORN_CMD_SELECT_PERIOD = 35,
  /* Starts the stream: empties the receive buffer, asks the device to start
   * and returns 1 once the request is sent (0 when the device did not answer
   * within 5 s). Lines follow as soon as the device starts. */
  VORN_CMD_START = 37,
  /* Stops the stream: decoding stops at once; 1 once the device answered
   * (at once when it already had; 0 after 5 s without an answer). Lines decoded before the stop stay in
   * the receive buffer: read them or call FlushReadBuffer. */
  VORN_CMD_STOP = 38,
  /* Stops streaming channel position argument, from the next line on. */
  VORN_CMD_DISABLE_CHANNEL = 41,
  /* Streams channel position argument (1..n), from the next line on. All
   * channels start disabled: until the host enables some, every line is
   * just "@ ". A device that Initialise starts again after a failure has
   * them all disabled again. */
  VORN_CMD_ENABLE_CHANNEL = 42,
  /* intResult: 0. */
  VORN_CMD_RESERVED_59 = 59
  /* Any other code: textBuffer "^Unsupported SDA command", result 0. */
};

/* The stream. While the device streams, every sample set becomes one text
 * line in the device's receive buffer:
 *
 *   "@ " then, for each enabled position in increasing order, its value as
 *   plain decimal digits followed by a comma, except that the last position
 *   of the device (n) has no comma after its value; then a line feed.
 *
 * So "@ 16384,32767\n" when positions 1 and n=2 are enabled, "@ 16384,\n"
 * when only position 1 of n=2 is (a trailing comma), and "@ \n" when none
 * is. A value the device could not measure arrives as "0," (a raw 0, always
 * with its comma, also at position n): it is indistinguishable from a
 * measured minimum. ReadLine drops the line feed from its copy.
 *
 * Values are raw, 0..32767, mapping the channel's MINIMUM..MAXIMUM (codes
 * 17 and 18) linearly; values outside the range are clamped to it:
 *
 *   physical = minimum + raw * (maximum - minimum) / 32767
 *
 * A channel without limits ("na") maps -32767..32767, so raw 16384 is 0. */

/* Fills *info (see DeviceClassInfo); needs no device. Returns 1. */
VORN_API int32_t VORN_CALL GetDeviceClassInfo(DeviceClassInfo *info);
/* An iterator over the Vorn devices present: each call that finds one more
 * appends it, writes its index to *indexOut and returns 1; once no further
 * device is found it returns 0 and leaves *indexOut alone. Indexes stay
 * valid until CloseAll. A FindDevice after the 0 starts the search afresh
 * and appends the same devices again under new indexes: call CloseAll
 * before searching again. */
VORN_API int32_t VORN_CALL FindDevice(int32_t *indexOut);
/* Must come before any DeviceCommand or read on that device (without it
 * DeviceCommand waits 15 s and returns 0, reads return 0). Opens the port
 * at 115200 baud, waits until the device answers and checks its firmware
 * revision against VornFirmwareVer.ini in the "Devices" folder beside the
 * host (1 when there is none). 1 when the device is ready (at once when it
 * already was and has not failed; a failed device is closed and started
 * again); 0 otherwise: GetLastErrorMsg(-1, ...) then tells why (wrong
 * firmware, not responding). It can take up to about 20 s for a device that
 * does not answer. The self-description keeps arriving in the background;
 * DeviceCommand waits for it. */
VORN_API int32_t VORN_CALL Initialise(int32_t index);
/* Closes every device (each is told to stop streaming), ends their receive
 * threads and forgets every index; the next FindDevice hands out 0 again.
 * Returns 1. Call it before unloading the library. */
VORN_API int32_t VORN_CALL CloseAll(void);
/* 1 once the device has failed (unplugged, port error, or an Initialise that
 * returned 0) and for an index that is not in the table; 0 while it works.
 * Initialise starts a failed device again. */
VORN_API int32_t VORN_CALL IsFailed(int32_t index);
/* 1 when the port accepts the rate in bits per second (probed, then the
 * previous rate is restored). The device speaks at 115200 only. */
VORN_API int32_t VORN_CALL CanUseBaudRate(int32_t index, int32_t rate);
/* Sets the port's rate; 1 when the port took it. */
VORN_API int32_t VORN_CALL SetBaudRate(int32_t index, int32_t rate);
/* The last rate set (115200 after Initialise), not read back from the port. */
VORN_API int32_t VORN_CALL GetBaudRate(int32_t index);
/* Takes one line from the device's receive buffer into buffer, which holds
 * maxLen bytes counting the terminating null; the line feed is not copied.
 * Waits until a whole line is there: up to timeoutMs from the call, and
 * from each part of the line that arrives (0: do not wait, 0xFFFFFFFF:
 * without limit); lines the device sends that never reach the buffer
 * (before a start, say) do not extend the wait. 1 when a line (or piece) was
 * copied, 0 on time-out with nothing taken and buffer untouched. A line of
 * maxLen - 1 bytes or more arrives in pieces of maxLen - 1 bytes; when a
 * piece fills the buffer exactly, the next call returns an empty string for
 * the line's end. Size the buffer for the longest line (6 bytes per enabled
 * channel, plus 3; 4096 is ample) to get whole lines. maxLen of 1 or less (0,
 * negative) waits the same way and returns 1 with only a terminating null
 * (nothing at all for maxLen <= 0) once a line is waiting, taking nothing. */
VORN_API int32_t VORN_CALL ReadLine(int32_t index, char *buffer, int32_t maxLen, uint32_t timeoutMs);
/* Takes up to count bytes, as they are, waiting up to timeoutMs for the
 * first when none is waiting. 1 when at least one byte was copied, else 0.
 * How many were copied is not returned: ask ReadBuffSize first and ask for
 * no more than that. */
VORN_API int32_t VORN_CALL ReadBuffer(int32_t index, char *buffer, int32_t count, uint32_t timeoutMs);
/* Accepts no data; its arguments are never read. Returns 0. */
VORN_API int32_t VORN_CALL WriteBuffer(int32_t index, const char *buffer, int32_t count);
/* Bytes waiting in the device's receive buffer (at most 65535). When the
 * host reads too slowly, lines that do not fit are dropped whole. */
VORN_API int32_t VORN_CALL ReadBuffSize(int32_t index);
/* Discards everything waiting in the device's receive buffer. */
VORN_API void VORN_CALL FlushReadBuffer(int32_t index);
/* Writes a number derived from the device's serial number (the same for the
 * same device on every run) to *idOut; 1, or 0 for an index not in the
 * table (*idOut untouched). */
VORN_API int32_t VORN_CALL GetUniqueID(int32_t index, int32_t *idOut);
/* Runs one command code (see the enum above) on the device. */
VORN_API int32_t VORN_CALL DeviceCommand(int32_t index, uint32_t code, CommandRecord *record);
/* Size-then-copy: called with buffer NULL it returns the size of the text in
 * bytes, terminating null included; called again with a buffer of at least
 * that size it copies the text and null and returns the same size.
 * index -1: the general message, computed afresh on each call: why no device
 * was found, or why the newest device found cannot be used (wrong firmware,
 * not responding), with line feeds between its lines; e.g. 87 bytes for "The
 * Vorn Device cannot be found." and its second line. It is meant for after
 * a 0 result: with a device found and nothing wrong with it, it still reads
 * "The Vorn Device is not responding or powered off."
 * When VORN_PORTS is set (see the top of this file), the last search walked its
 * entries and none named a device, the text says so after its first line.
 * A device's index: that device's own message, emptied by the copy; the
 * driver stores none, so this is always size 1, an empty string.
 * Any other index: 0. */
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
