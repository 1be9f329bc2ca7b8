#!/usr/bin/env python3
"""Checks which DLLs varn_vpn.exe binds at load time and which on first use.

    check_imports.py EXE

At load time it may bind only KnownDLLs, which Windows never takes from the
exe's folder: the privileged one-shot modes run before any engine code, so a
library planted beside the exe must not load with them. The engine, the
plug-ins and dwmapi must be bound on first use instead.

GNU ld leaves the delay import directory entry empty, so the delay
descriptors are found by their shape.
"""

import struct
import sys

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


class Image:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        sections, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
        optional = pe + 24
        if struct.unpack_from("<H", data, optional)[0] != 0x20B:
            raise ValueError("not a 64-bit image")
        self.directories = [struct.unpack_from("<II", data, optional + 112 + 8 * i)
                            for i in range(16)]
        self.sections = []
        for i in range(sections):
            entry = optional + optional_size + 40 * i
            virtual_size, rva, raw_size, raw = struct.unpack_from(
                "<IIII", data, entry + 8)
            self.sections.append((rva, max(virtual_size, raw_size), raw,
                                  raw_size))

    def offset(self, rva):
        for start, size, raw, raw_size in self.sections:
            if start <= rva < start + size and rva - start < raw_size:
                return raw + rva - start
        return None

    def text(self, rva, limit=256):
        at = self.offset(rva)
        if at is None:
            return None
        end = self.data.find(b"\0", at, at + limit)
        if end < 0:
            return None
        try:
            return self.data[at:end].decode("ascii")
        except UnicodeDecodeError:
            return None

    def names(self, thunks):
        """The function names of an import name table."""
        result = []
        at = self.offset(thunks)
        while at is not None:
            value = struct.unpack_from("<Q", self.data, at)[0]
            if value == 0:
                break
            if not value >> 63:
                result.append(self.text(value + 2))
            at += 8
        return result

    def load_time(self):
        rva, _ = self.directories[1]
        result = {}
        at = self.offset(rva) if rva else None
        while at is not None:
            lookup, _, _, name, first = struct.unpack_from("<IIIII",
                                                           self.data, at)
            if name == 0:
                break
            result[self.text(name).lower()] = self.names(lookup or first)
            at += 20
        return result

    def delay_descriptor(self, at):
        """The (dll, names) of a delay descriptor at file offset `at`."""
        attributes, name, module, iat, int_, _, _, stamp = struct.unpack_from(
            "<IIIIIIII", self.data, at)
        if attributes != 1 or stamp != 0 or 0 in (name, module, iat, int_):
            return None
        if None in (self.offset(module), self.offset(iat), self.offset(int_)):
            return None
        dll = self.text(name)
        if not dll or not dll.lower().endswith(".dll"):
            return None
        names = self.names(int_)
        return (dll.lower(), names) if names and None not in names else None

    def delayed(self):
        result = {}
        for _, _, raw, raw_size in self.sections:
            for at in range(raw, raw + raw_size - 32, 4):
                found = self.delay_descriptor(at)
                if found:
                    result[found[0]] = found[1]
        return result


def main():
    image = Image(open(sys.argv[1], "rb").read())
    load_time, delayed = image.load_time(), image.delayed()
    failures = []
    for dll in sorted(set(load_time) - KNOWN_DLLS):
        failures.append(f"{dll} is bound at load time but is no KnownDLL")
    for dll, function in DELAYED.items():
        if function not in delayed.get(dll, []):
            failures.append(f"{dll} is not bound on first use ({function})")
    for dll in sorted(set(delayed) - set(DELAYED)):
        failures.append(f"unexpected delayed import {dll}")
    print("load time:", ", ".join(sorted(load_time)))
    print("first use:", ", ".join(sorted(delayed)))
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
