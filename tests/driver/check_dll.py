#!/usr/bin/python3
"""Static checks of the built Windows DLL: identity, exports, imports, resources."""
import argparse
import sys

import pefile

EXPORTS = sorted("""GetDeviceClassInfo FindDevice Initialise CloseAll IsFailed CanUseBaudRate
SetBaudRate GetBaudRate ReadLine ReadBuffer WriteBuffer ReadBuffSize FlushReadBuffer
GetUniqueID DeviceCommand GetLastErrorMsg""".split())
# System DLLs the driver may import; the Setup API and the FTDI library are loaded at run time.
ALLOWED_IMPORTS = {"kernel32.dll", "msvcrt.dll", "user32.dll", "advapi32.dll", "ole32.dll",
                   "oleaut32.dll", "shell32.dll", "shlwapi.dll", "version.dll"}
VERSION_STRINGS = {
    "CompanyName": "Quintavix", "ExtensionCLSID": "{B6D4ABFC-A1CD-4886-99CD-51A11D194A44}",
    "ExtVersion": "1.0.2", "ExtensionType": "DevicePlugin", "FileDescription": "Vorn",
    "FileVersion": "1.0.2", "InternalID": "1", "InternalName": "Vorn", "InternalVersion": "16.10",
    "OriginalFilename": "Vorn.dll", "ProductName": "Wavedesk", "ProductVersion": "7.3.7",
}

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def resource_entries(pe, type_id):
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if t.id == type_id:
            for name in t.directory.entries:
                for lang in name.directory.entries:
                    yield name.id, lang.id, pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dll")
    ap.add_argument("--bits", type=int, default=32)
    ap.add_argument("--resources", required=True)
    args = ap.parse_args()
    pe = pefile.PE(args.dll)

    machine = pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386" if args.bits == 32 else "IMAGE_FILE_MACHINE_AMD64"]
    check(pe.FILE_HEADER.Machine == machine, "machine type")
    check(pe.is_dll(), "is a DLL")
    if args.bits == 32:
        check(pe.OPTIONAL_HEADER.Magic == 0x10B, "PE32 optional header")

    exp = pe.DIRECTORY_ENTRY_EXPORT
    check(pe.get_string_at_rva(exp.struct.Name) == b"Vorn(7u).dll", "export directory name")
    names = sorted(s.name.decode() for s in exp.symbols if s.name)
    check(names == EXPORTS, "exactly the sixteen exports, got %s" % names)

    imported = {e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT}
    check(imported <= ALLOWED_IMPORTS, "imports only system DLLs, got %s" % sorted(imported))
    check("kernel32.dll" in imported, "imports KERNEL32")
    for forbidden in ("setupapi.dll", "ftd2xx.dll", "libstdc++-6.dll", "libgcc_s_dw2-1.dll",
                      "libgcc_s_seh-1.dll", "libwinpthread-1.dll"):
        check(forbidden not in imported, "does not import %s" % forbidden)

    fixed = pe.VS_FIXEDFILEINFO[0]
    check((fixed.FileVersionMS, fixed.FileVersionLS) == ((1 << 16) | 0, (2400 << 16) | 0), "file version 1.0.2400.0")
    check((fixed.ProductVersionMS, fixed.ProductVersionLS) == ((7 << 16) | 3, (7400 << 16) | 0),
          "product version 7.3.7400.0")
    check(fixed.FileType == 2, "file type DLL")

    strings = {}
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                check(table.LangID.lower() == b"040904e4", "string block 040904e4")
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    for key, value in VERSION_STRINGS.items():
        check(strings.get(key) == value, "version string %s = %r, got %r" % (key, value, strings.get(key)))
    check(bool(strings.get("BuildDate")), "BuildDate present")
    check(len(strings) == len(VERSION_STRINGS) + 2, "one further standard key, got %s" % sorted(strings))

    rcdata = {rid: data for rid, _, data in resource_entries(pe, 10)}
    for rid, size in ((103, 221), (105, 347)):
        expected = open("%s/control_list_%d.txt" % (args.resources, rid), "rb").read()
        check(len(expected) == size, "source of RCDATA %d is %d bytes" % (rid, size))
        check(rcdata.get(rid) == expected, "RCDATA %d byte for byte" % rid)
        check(rcdata.get(rid, b"")[-2:] == b"\r\n", "RCDATA %d ends with CR LF, no zero" % rid)

    langs = {lang for _, lang, _ in resource_entries(pe, 10)} | {lang for _, lang, _ in resource_entries(pe, 16)}
    check(langs == {0x409}, "resources share the version block's language, got %s" % langs)

    # String table block 7 holds ids 96..111: 101 and 102 are entries 5 and 6.
    blocks = {rid: data for rid, _, data in resource_entries(pe, 6)}
    texts, data, pos = [], blocks.get(7, b""), 0
    while pos < len(data):
        n = int.from_bytes(data[pos:pos + 2], "little")
        texts.append(data[pos + 2:pos + 2 + 2 * n].decode("utf-16-le"))
        pos += 2 + 2 * n
    check(texts[5:7] == ["Vorn", "Vorn Scientific"], "string table 101/102, got %s" % texts[5:7])

    for f in failures:
        print("FAIL:", f)
    print("%d passed, %d failed" % (0 if failures else 1, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
