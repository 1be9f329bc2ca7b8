#!/usr/bin/env python3
"""The installer package under Wine, in a private prefix.

    run_package.py PACKAGE BUNDLE_DIR MAKE_MSI WINDRES

Silent install; removal with the tunnel service running and its
configuration file present; an upgrade from an older package built from the
same bundle, a rebuild of the same version over it, and the older package
refused over the newer one; and the removal an upgrade makes of the old
copy, which keeps the tunnel. Exits non-zero when any check fails.
"""

import filecmp
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "..", "tools"),
                os.path.join(HERE, "..", "e2e")]
import wine_app  # noqa: E402
from run_e2e import VALID, Checks  # noqa: E402

OLDER_VERSION = "0.0.1"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
SERVICE_KEY = "HKLM\\System\\CurrentControlSet\\Services\\" + \
    wine_app.SERVICE_NAME
# Wine hands exit codes on as a Unix status, which keeps the low byte.
ERROR_INSTALL_FAILURE = 1603 & 0xFF


class Machine:
    """The prefix with the msiexec runs' logs kept in `work`."""

    def __init__(self, prefix, work):
        self.prefix = prefix
        self.work = work
        self.app_dir = prefix.drive_c(wine_app.INSTALL_DIR)
        self.data_dir = prefix.drive_c("ProgramData", "VarnVPN")
        self.config = os.path.join(self.data_dir, "VarnVPN.conf")

    def msiexec(self, action, package, name, *properties):
        package = os.path.abspath(package)
        log = os.path.join(self.work, name + ".log")
        started = time.time()
        code = self.prefix.wine(
            ["msiexec", action, "Z:" + package.replace("/", "\\"), "/qn",
             "/l*v", "Z:" + log.replace("/", "\\")] + list(properties),
            capture=True, timeout=300).returncode
        print(f"msiexec {action} {os.path.basename(package)} "
              f"{' '.join(properties)}: exit {code} in "
              f"{time.time() - started:.1f} s")
        return code

    def installed(self):
        """Returns the version of every registered copy of the app."""
        output = self.prefix.wine(["reg", "query", UNINSTALL_KEY, "/s"],
                                  capture=True).stdout.decode("utf-8",
                                                              "replace")
        versions = []
        for key in output.replace("\r", "").split("\n\n"):
            values = dict(line.split(None, 2)[::2] for line in
                          key.splitlines() if len(line.split(None, 2)) == 3)
            if values.get("DisplayName", "").strip() == "Varn VPN":
                versions.append(values.get("DisplayVersion", "").strip())
        return versions

    def shortcut(self):
        """The shortcut's Unix path, in the Start-menu folder the install
        resolved: Wine takes the user's even for a per-machine package."""
        with open(os.path.join(self.work, "install.log"),
                  errors="replace") as log:
            found = re.search(r"ProgramMenuFolder = C:\\(.*)", log.read())
        folder = found.group(1).strip().strip("\\") if found else "none"
        return self.prefix.drive_c(*folder.split("\\"), "Varn VPN.lnk")

    def service_exists(self):
        return self.prefix.wine(["reg", "query", SERVICE_KEY],
                                capture=True).returncode == 0

    def provision_tunnel(self):
        """The service the end-to-end way and a configuration file, as a
        connect leaves them."""
        self.prefix.provision_service(self.app_dir)
        os.makedirs(self.data_dir, exist_ok=True)
        with open(self.config, "w", encoding="utf-8") as out:
            out.write(VALID.replace("\\n", "\n"))


def same_files(bundle, installed):
    def tree(root):
        return sorted(os.path.relpath(os.path.join(d, f), root)
                      for d, _, files in os.walk(root) for f in files)
    files = tree(bundle)
    return os.path.isdir(installed) and tree(installed) == files and \
        filecmp.cmpfiles(bundle, installed, files, shallow=False)[0] == files


def product_version(package):
    properties = subprocess.run(["msiinfo", "export", package, "Property"],
                                capture_output=True, text=True,
                                check=True).stdout
    found = re.search(r"^ProductVersion\t(\S+)", properties, re.M)
    return found.group(1) if found else None


def exe_version(exe, windres):
    script = subprocess.run([windres, "-J", "coff", "-O", "rc", "-i", exe],
                            capture_output=True, text=True, check=True).stdout
    found = re.search(r"FILEVERSION\s+(\d+),\s*(\d+),\s*(\d+)", script)
    return ".".join(found.groups()) if found else None


def check_install(checks, machine, package, bundle, windres):
    print("install:")
    version = product_version(package)
    code = machine.msiexec("/i", package, "install")
    checks.expect(code == 0, f"silent install exits 0 (got {code})")
    checks.expect(same_files(bundle, machine.app_dir),
                  "the whole bundle under Program Files\\Varn VPN")
    checks.expect(os.path.isfile(machine.shortcut()), "Start-menu shortcut")
    checks.expect(machine.installed() == [version],
                  f"registered once as Varn VPN {version}")
    exe = os.path.join(machine.app_dir, "varn_vpn.exe")
    if os.path.isfile(exe):
        checks.expect(version == exe_version(exe, windres),
                      f"package version {version} is the exe's "
                      f"({exe_version(exe, windres)})")
        code = machine.prefix.wine(["varn_vpn.exe", "/tunnel-uninstall"],
                                   cwd=machine.app_dir,
                                   capture=True).returncode
        checks.expect(code == 0, "the installed exe runs: /tunnel-uninstall "
                      f"without a service exits 0 (got {code})")


def check_uninstall(checks, machine, package):
    print("uninstall with the tunnel connected:")
    machine.provision_tunnel()
    # Running, the tunnel holds the installed exe and tunnel.dll open. Wine
    # can fail a start once right after the provisioning's stop.
    for _ in range(3):
        started = machine.prefix.wine(["sc", "start", wine_app.SERVICE_NAME],
                                      capture=True).returncode == 0
        if started:
            break
        time.sleep(1)
    checks.expect(started, "the tunnel service runs")
    code = machine.msiexec("/x", package, "uninstall")
    checks.expect(code == 0, f"silent uninstall exits 0 (got {code})")
    for gone, what in [(not machine.service_exists(), "the service"),
                       (not os.path.exists(machine.config),
                        "the configuration file"),
                       (not os.path.exists(machine.app_dir),
                        "the installed files"),
                       (not os.path.exists(machine.shortcut()),
                        "the shortcut"),
                       (machine.installed() == [], "the registration")]:
        checks.expect(gone, what + " gone")
    checks.expect(os.path.isdir(machine.data_dir), "the data directory stays")


def check_upgrade(checks, machine, package, bundle, make_msi):
    print("upgrade, downgrade, and the removal an upgrade makes:")
    version = product_version(package)

    def build(folder, version):
        return subprocess.run(
            [sys.executable, make_msi, "--bundle", bundle, "--output-dir",
             os.path.join(machine.work, folder), "--version", version],
            capture_output=True, text=True, check=True).stdout.strip()
    older = build("older", OLDER_VERSION)
    # Each build gets a product code of its own, so a rebuild of the same
    # version is another product to the installer.
    rebuilt = build("rebuilt", version)
    checks.expect(tuple(map(int, version.split("."))) > (0, 0, 1),
                  f"{version} is above {OLDER_VERSION}")

    machine.msiexec("/i", older, "install_older")
    checks.expect(machine.installed() == [OLDER_VERSION],
                  f"{OLDER_VERSION} installed")
    code = machine.msiexec("/i", package, "upgrade")
    checks.expect(code == 0 and same_files(bundle, machine.app_dir),
                  f"the upgrade exits 0 (got {code}), every file in place")
    checks.expect(machine.installed() == [version],
                  f"one installed copy, {version}")
    code = machine.msiexec("/i", rebuilt, "rebuilt")
    checks.expect(code == 0 and machine.installed() == [version],
                  f"a rebuilt {version} replaces it (got {code}, "
                  f"{machine.installed()})")

    code = machine.msiexec("/i", older, "downgrade")
    checks.expect(code & 0xFF == ERROR_INSTALL_FAILURE,
                  f"the older package refuses to install (got {code})")
    checks.expect(machine.installed() == [version] and
                  same_files(bundle, machine.app_dir),
                  f"{version} stays installed")

    # Windows removes the old copy in an upgrade with UPGRADINGPRODUCTCODE
    # set; Wine's upgrade leaves it out, so that removal is made by hand.
    machine.provision_tunnel()
    code = machine.msiexec(
        "/x", rebuilt, "removed_by_upgrade",
        "UPGRADINGPRODUCTCODE={00000000-0000-0000-0000-000000000001}")
    checks.expect(code == 0 and not os.path.exists(machine.app_dir),
                  f"removal by an upgrade exits 0 (got {code}), files gone")
    checks.expect(machine.service_exists() and
                  os.path.isfile(machine.config),
                  "and leaves the tunnel service and its configuration")


def main():
    package, bundle, make_msi, windres = sys.argv[1:5]
    if not os.path.isfile(package):
        print(f"no package at {package}")
        return 1
    checks = Checks()
    started = time.time()
    work = tempfile.mkdtemp(prefix="varn-package-work-")
    display = wine_app.VirtualDisplay()
    prefix = wine_app.WinePrefix(display.display)
    print(f"prefix ready in {time.time() - started:.1f} s")
    try:
        machine = Machine(prefix, work)
        check_install(checks, machine, package, bundle, windres)
        check_uninstall(checks, machine, package)
        check_upgrade(checks, machine, package, bundle, make_msi)
    finally:
        prefix.close()
        display.close()
    print(f"\npackage tests took {time.time() - started:.1f} s")
    if checks.failures:
        print(f"{len(checks.failures)} check(s) failed; msiexec logs in "
              f"{work}")
        return 1
    shutil.rmtree(work, ignore_errors=True)
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
