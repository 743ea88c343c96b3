"""A minimal host in Python: finds a Vorn device, describes it, records ten
lines and closes.   python3 host.py /path/to/libvorn.so"""
import ctypes
import sys

CMD_PRODUCT_NAME, CMD_SERIAL_TEXT, CMD_LAST_CHANNEL = 0, 4, 11
CMD_MINIMUM, CMD_MAXIMUM, CMD_UNIT, CMD_NAME = 17, 18, 19, 21
CMD_PERIOD_LIST, CMD_SELECT_PERIOD, CMD_START, CMD_STOP, CMD_ENABLE = 32, 35, 37, 38, 42


class CommandRecord(ctypes.Structure):
    _fields_ = [("textBuffer", ctypes.c_char_p), ("textLength", ctypes.c_int32),
                ("reserved1", ctypes.c_int32), ("argument", ctypes.c_int32),
                ("reserved2", ctypes.c_int32), ("intResult", ctypes.c_int32),
                ("floatResult", ctypes.c_float)]


class Vorn:
    def __init__(self, path):
        self.lib = ctypes.CDLL(path)
        i32, p = ctypes.c_int32, ctypes.POINTER
        for name, args in {"FindDevice": [p(i32)], "Initialise": [i32], "CloseAll": [],
                           "ReadLine": [i32, ctypes.c_char_p, i32, ctypes.c_uint32],
                           "FlushReadBuffer": [i32], "GetLastErrorMsg": [i32, ctypes.c_char_p],
                           "DeviceCommand": [i32, ctypes.c_uint32, p(CommandRecord)]}.items():
            getattr(self.lib, name).argtypes = args
            getattr(self.lib, name).restype = None if name == "FlushReadBuffer" else i32

    def general_message(self):
        size = self.lib.GetLastErrorMsg(-1, None)  # size first, then the copy
        buffer = ctypes.create_string_buffer(size)
        self.lib.GetLastErrorMsg(-1, buffer)
        return buffer.value.decode("ascii", "replace")

    def command(self, device, code, argument=0):
        """(result, text, intResult, floatResult); an empty reply leaves the text empty."""
        text = ctypes.create_string_buffer(4096)
        record = CommandRecord(ctypes.cast(text, ctypes.c_char_p), len(text), 0, argument, 0, 0, 0.0)
        ok = self.lib.DeviceCommand(device, code, ctypes.byref(record))
        return ok, text.value.decode("ascii", "replace"), record.intResult, record.floatResult


def main():
    vorn = Vorn(sys.argv[1])
    found, index = [], ctypes.c_int32(-1)
    while vorn.lib.FindDevice(ctypes.byref(index)) == 1:  # one device per call, until 0
        found.append(index.value)
    if not found or vorn.lib.Initialise(found[0]) != 1:
        print(vorn.general_message(), file=sys.stderr)
        vorn.lib.CloseAll()
        return 1
    device = found[0]
    try:
        print("product:", vorn.command(device, CMD_PRODUCT_NAME)[1])
        print("serial:", vorn.command(device, CMD_SERIAL_TEXT)[1])
        ok, _, last, _ = vorn.command(device, CMD_LAST_CHANNEL)
        if ok != 1 or last < 1:
            print(vorn.general_message(), file=sys.stderr)
            return 1
        channels = []
        for position in range(1, last + 1):
            name = vorn.command(device, CMD_NAME, position)[1]
            unit = vorn.command(device, CMD_UNIT, position)[1]
            low = vorn.command(device, CMD_MINIMUM, position)[3]
            high = vorn.command(device, CMD_MAXIMUM, position)[3]
            channels.append((name, unit, low, high))
            print(f"channel {position}: {name} [{unit}] {low:g}..{high:g}")
            vorn.command(device, CMD_ENABLE, position)  # channels start disabled
        periods = vorn.command(device, CMD_PERIOD_LIST)[1]  # microseconds, e.g. "10000,5000,2000"
        print("periods (us):", periods or "(the device's own cycle only)")
        if periods:
            vorn.command(device, CMD_SELECT_PERIOD, int(periods.split(",")[0]))

        if vorn.command(device, CMD_START)[0] != 1:
            print("the device did not start", file=sys.stderr)
            return 1
        line = ctypes.create_string_buffer(4096)
        lines = 0
        while lines < 10 and vorn.lib.ReadLine(device, line, len(line), 3000) == 1:
            text = line.value.decode("ascii")
            if not text.startswith("@ "):
                continue
            # Raw 0..32767 per enabled channel in position order; "0" also stands for a missing value.
            raws = [int(v) for v in text[2:].split(",") if v]
            values = [low + raw * (high - low) / 32767 for raw, (_, _, low, high) in zip(raws, channels)]
            lines += 1
            print(f"line {lines}:", " ".join(f"{v:.2f}" for v in values))
        vorn.command(device, CMD_STOP)
        vorn.lib.FlushReadBuffer(device)  # lines decoded before the stop
        print(f"recorded {lines} lines")
        return 0 if lines == 10 else 1
    finally:
        vorn.lib.CloseAll()  # before the library is unloaded


if __name__ == "__main__":
    sys.exit(main())
