#!/usr/bin/env python3
"""Checks the shipped varn_vpn.exe as a packager would, with pefile.

    check_exe.py EXE DEBUG_FILE

Imports: at load time the exe may bind only KnownDLLs, which Windows never
takes from the exe's folder: the privileged one-shot modes run before any
engine code, so a library planted beside the exe must not load with them.
The engine, the plug-ins and dwmapi must be bound on first use instead. GNU
ld leaves the delay import directory entry empty, so the delay descriptors
are found by their shape.

Hardening: ASLR with high entropy, NX, terminal-server aware, no section
both writable and executable, the handlers of the stack protector and of
the checked C library calls linked in, and every unit of our own code
compiled with the stack protector (the debug file records the options).

Symbols: none in the exe, no debug sections, and a build id and debug link
that name the debug file.
"""

import os
import re
import struct
import sys
import zlib

import pefile

KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll",
    "gdi32.dll", "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll",
    "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll", "ole32.dll",
    "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll",
    "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll",
    "user32.dll", "wldap32.dll", "ws2_32.dll",
}
DELAYED = {
    "flutter_windows.dll": "FlutterDesktopEngineCreate",
    "app_links_plugin.dll": "AppLinksPluginCApiRegisterWithRegistrar",
    "share_plus_plugin.dll": "SharePlusWindowsPluginCApiRegisterWithRegistrar",
    "url_launcher_windows_plugin.dll":
        "UrlLauncherWindowsRegisterWithRegistrar",
    "wireguard_flutter_plugin.dll":
        "WireguardFlutterPluginCApiRegisterWithRegistrar",
    "dwmapi.dll": "DwmSetWindowAttribute",
}
DLL_FLAGS = ("DYNAMIC_BASE", "HIGH_ENTROPY_VA", "NX_COMPAT",
             "TERMINAL_SERVER_AWARE")
# The static runtime's failure messages, present only when linked in.
HANDLERS = {b"*** stack smashing detected ***": "stack protector",
            b"*** buffer overflow detected ***": "checked C library calls"}
# How the compiler records our own units' options in the debug file.
OWN_UNIT = re.compile(rb"GNU C\+\+20 [^\0]*")
STACK_PROTECTOR = b"-fstack-protector-strong"
KEPT_SECTIONS = {".gnu_debuglink", ".buildid"}


def offset(pe, rva):
    """The file offset of `rva` inside a section's raw data, or None."""
    section = pe.get_section_by_rva(rva)
    if section is None or rva - section.VirtualAddress >= \
            section.SizeOfRawData:
        return None
    return section.PointerToRawData + rva - section.VirtualAddress


def text(pe, rva):
    if offset(pe, rva) is None:
        return None
    try:
        return pe.get_string_at_rva(rva, 256).decode("ascii")
    except UnicodeDecodeError:
        return None


def names(pe, thunks):
    """The function names of an import name table."""
    result = []
    while offset(pe, thunks) is not None:
        value = pe.get_qword_at_rva(thunks)
        if value == 0:
            break
        if not value >> 63:
            result.append(text(pe, value + 2))
        thunks += 8
    return result


def delay_descriptor(pe, at):
    """The (dll, names) of a delay descriptor at file offset `at`."""
    attributes, name, module, iat, int_, _, _, stamp = struct.unpack_from(
        "<8I", pe.__data__, at)
    if attributes != 1 or stamp != 0 or 0 in (name, module, iat, int_) or \
            None in (offset(pe, module), offset(pe, iat), offset(pe, int_)):
        return None
    dll = text(pe, name)
    if not dll or not dll.lower().endswith(".dll"):
        return None
    found = names(pe, int_)
    return (dll.lower(), found) if found and None not in found else None


def check_imports(pe, failures):
    load_time = {entry.dll.decode().lower():
                 [i.name and i.name.decode() for i in entry.imports]
                 for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}
    delayed = {}
    for section in pe.sections:
        start = section.PointerToRawData
        for at in range(start, start + section.SizeOfRawData - 32, 4):
            found = delay_descriptor(pe, at)
            if found:
                delayed[found[0]] = found[1]
    for dll in sorted(set(load_time) - KNOWN_DLLS):
        failures.append(f"{dll} is bound at load time but is no KnownDLL")
    for dll, function in DELAYED.items():
        if function not in delayed.get(dll, []):
            failures.append(f"{dll} is not bound on first use ({function})")
    for dll in sorted(set(delayed) - set(DELAYED)):
        failures.append(f"unexpected delayed import {dll}")
    print("load time:", ", ".join(sorted(load_time)))
    print("first use:", ", ".join(sorted(delayed)))


def section_names(pe):
    """Section names; a long one is kept in the COFF string table."""
    header = pe.FILE_HEADER
    table = header.PointerToSymbolTable + 18 * header.NumberOfSymbols
    result = {}
    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode("ascii", "replace")
        if name.startswith("/") and name[1:].isdigit() and table:
            at = table + int(name[1:])
            name = pe.__data__[at:pe.__data__.find(b"\0", at)].decode()
        result[name] = section
    return result


def build_id(pe):
    for entry in getattr(pe, "DIRECTORY_ENTRY_DEBUG", []):
        if entry.struct.Type == pefile.DEBUG_TYPE["IMAGE_DEBUG_TYPE_CODEVIEW"]:
            at = entry.struct.PointerToRawData
            return pe.__data__[at:at + entry.struct.SizeOfData]
    return None


def check_hardening(pe, exe_data, debug_data, failures):
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    for flag in DLL_FLAGS:
        if not flags & pefile.DLL_CHARACTERISTICS[
                "IMAGE_DLLCHARACTERISTICS_" + flag]:
            failures.append(f"{flag} is not set")
    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    if not relocations.Size:
        failures.append("no relocations: ASLR cannot move the exe")
    writable = pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_WRITE"]
    executable = pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_EXECUTE"]
    for name, section in section_names(pe).items():
        if section.Characteristics & writable and \
                section.Characteristics & executable:
            failures.append(f"section {name} is writable and executable")
    for message, what in HANDLERS.items():
        if message not in exe_data:
            failures.append(f"no {what}: its handler is not linked in")
    units = OWN_UNIT.findall(debug_data)
    unprotected = [u for u in units if STACK_PROTECTOR not in u.split()]
    if not units or unprotected:
        failures.append(f"{len(unprotected)} of {len(units)} units of our "
                        "code compiled without the stack protector")


def check_symbols(pe, debug_pe, debug_path, debug_data, failures):
    if pe.FILE_HEADER.NumberOfSymbols:
        failures.append(f"{pe.FILE_HEADER.NumberOfSymbols} COFF symbols")
    sections = section_names(pe)
    for name in sorted(set(sections) - KEPT_SECTIONS):
        if name.startswith((".debug", ".zdebug", "/")):
            failures.append(f"debug section {name}")
    if build_id(pe) is None or build_id(pe) != build_id(debug_pe):
        failures.append("no build id, or not the debug file's")
    link = sections.get(".gnu_debuglink")
    data = link.get_data()[:link.Misc_VirtualSize] if link else b"\0" * 8
    name = data[:data.find(b"\0")].decode()
    crc = struct.unpack_from("<I", data, len(data) - 4)[0]
    if name != os.path.basename(debug_path) or crc != zlib.crc32(debug_data):
        failures.append("the debug link does not name the debug file")


def main():
    exe, debug = sys.argv[1:3]
    with open(exe, "rb") as file:
        exe_data = file.read()
    pe = pefile.PE(data=exe_data)
    debug_pe = pefile.PE(debug, fast_load=True)
    debug_pe.parse_data_directories(
        [pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DEBUG"]])
    with open(debug, "rb") as file:
        debug_data = file.read()
    failures = []
    check_imports(pe, failures)
    check_hardening(pe, exe_data, debug_data, failures)
    check_symbols(pe, debug_pe, debug, debug_data, failures)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
