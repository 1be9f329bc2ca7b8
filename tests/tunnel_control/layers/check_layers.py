#!/usr/bin/env python3
"""Fails when a file includes from a folder its process may not use, when
units of app/ include each other in a cycle, or when a file includes a
Windows SDK header other than through win/windows_api.h.

    check_layers.py SOURCE_ROOT
"""
import pathlib
import re
import sys

TUNNEL = "app/tunnel_control/"
# Folder -> the folders its files may include from (besides its own).
ALLOWED = {
    "win/": [],
    "codec/": [],
    "engine_client/": ["win/", "codec/"],
    TUNNEL + "os/": ["win/"],
    TUNNEL + "common/": ["win/", TUNNEL + "os/"],
    TUNNEL + "client/": ["win/", TUNNEL + "os/", TUNNEL + "common/"],
    TUNNEL + "installer/": ["win/", TUNNEL + "os/", TUNNEL + "common/"],
    TUNNEL + "service_host/": ["win/", TUNNEL + "os/", TUNNEL + "common/"],
    TUNNEL + "package_action/": ["win/", TUNNEL + "os/", TUNNEL + "common/",
                                 TUNNEL + "installer/"],
    TUNNEL + "channel/": ["win/", TUNNEL + "os/", TUNNEL + "common/",
                          TUNNEL + "client/", "engine_client/", "codec/"],
}
SDK_HEADERS = re.compile(
    r"#include <(windows|aclapi|dwmapi|ntsecapi|objbase|sddl|shellapi|"
    r"shellscalingapi|shlobj|tlhelp32|winioctl|winres|winternl|wtsapi32)\.h>")
QUOTED = re.compile(r'#include "([^"]+)"')


def main(root):
    root = pathlib.Path(root)
    sources = [p for p in root.glob("**/*") if p.suffix in (".h", ".cpp", ".c")
               and not p.relative_to(root).parts[0].startswith(("build", "."))]
    errors = []
    units = {}  # unit of app/ -> units of app/ it includes
    for path in sources:
        name = path.relative_to(root).as_posix()
        text = path.read_text(encoding="utf-8")
        if name != "win/windows_api.h":
            errors += [f"{name}: {m.group(0)} (include win/windows_api.h)"
                       for m in SDK_HEADERS.finditer(text)]
        included = QUOTED.findall(text)
        folder = max((f for f in ALLOWED if name.startswith(f)), key=len,
                     default=None)
        for header in included if folder else []:
            allowed = [folder] + ALLOWED[folder]
            if "/" in header and not any(header.startswith(f) for f in allowed):
                errors.append(f"{name}: includes {header}")
        if name.startswith("app/"):
            unit = name.rsplit(".", 1)[0]
            units.setdefault(unit, set()).update(
                h.rsplit(".", 1)[0] for h in included
                if h.startswith("app/") and h.rsplit(".", 1)[0] != unit)

    # A cycle shows as an edge back to a unit still on the walk's path.
    state = {}

    def walk(unit, path):
        state[unit] = "open"
        for next_unit in sorted(units.get(unit, ())):
            if state.get(next_unit) == "open":
                cycle = path[path.index(next_unit):] + [next_unit]
                errors.append("include cycle: " + " -> ".join(cycle))
            elif next_unit not in state:
                walk(next_unit, path + [next_unit])
        state[unit] = "done"

    for unit in sorted(units):
        if unit not in state:
            walk(unit, [unit])

    for error in errors:
        print(error)
    print(f"{len(sources)} files read, {len(errors)} problems")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
