#!/usr/bin/env python3
"""The installer package, on the host and under Wine in a private prefix.

    run_package.py PACKAGE BUNDLE_DIR ACTIONS_DLL MAKE_MSI WINDRES

On the host: the package's icon and file versions, a stand-in or incomplete
bundle refused unless asked for, two unsigned runs giving the same bytes,
signing with a throwaway certificate authority, and a library its vendor
signed keeping that signature alone. Under
Wine, set to Windows 10: Windows 8.1 refused; silent install of the signed
package; a repair that leaves a running tunnel alone; removal with the
tunnel service running and its configuration file present, the removal step
run from the package's custom-action library; a custom install folder the
location rules refuse (Wine reports every file as the user's, so it refuses
them all), which installs nothing; an upgrade from an older package built
from the same bundle, a rebuild of the same version over it, and the older
package refused over the newer one; and the removal an upgrade makes of the
old copy, which keeps the tunnel; then managed deployment: TUNNELUSER and
REMOVEDATA secure, a TUNNELUSER the installer mode refuses failing the
install with nothing left, a running tunnel running again after an upgrade,
and REMOVEDATA=1 judging only the data directory and the aside folders.
The registry's Version throughout. Exits non-zero when any check fails.
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
PRODUCT_NAME = "Varn VPN (stand-in libraries)"
CUSTOM_DIR = "Apps/Varn VPN"
# What the custom-action library writes in the verbose log.
LOG_PREFIX = "Varn VPN: "
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
SERVICE_KEY = "HKLM\\System\\CurrentControlSet\\Services\\" + \
    wine_app.SERVICE_NAME
PRODUCT_KEY = "HKLM\\Software\\Varn\\Varn VPN"
# Wine hands exit codes on as a Unix status, which keeps the low byte.
ERROR_INSTALL_FAILURE = 1603 & 0xFF


class Machine:
    """The prefix with the msiexec runs' logs kept in `work`."""

    def __init__(self, prefix, work):
        self.prefix = prefix
        self.work = work
        self.set_windows("win10")
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

    def log(self, name):
        """The verbose log of the msiexec run `name`, or ""."""
        path = os.path.join(self.work, name + ".log")
        if not os.path.isfile(path):
            return ""
        with open(path, "rb") as log:
            data = log.read()
        encoding = "utf-16" if data[:2] in (b"\xff\xfe", b"\xfe\xff") \
            else "utf-8"
        return data.decode(encoding, "replace")

    def set_windows(self, version):
        self.prefix.wine(["winecfg", "-v", version], capture=True)
        self.prefix.wait_server()

    def registrations(self):
        """The Add/Remove Programs values of every registered copy."""
        output = self.prefix.wine(["reg", "query", UNINSTALL_KEY, "/s"],
                                  capture=True).stdout.decode("utf-8",
                                                              "replace")
        found = []
        for key in output.replace("\r", "").split("\n\n"):
            values = {name: value.strip() for name, value in
                      (line.split(None, 2)[::2] for line in key.splitlines()
                       if len(line.split(None, 2)) == 3)}
            if values.get("DisplayName") == PRODUCT_NAME:
                found.append(values)
        return found

    def installed(self):
        """Returns the version of every registered copy of the app."""
        return [r.get("DisplayVersion") for r in self.registrations()]

    def registry_version(self):
        """The Version value detection rules read, or None."""
        output = self.prefix.wine(["reg", "query", PRODUCT_KEY, "/v",
                                   "Version"], capture=True).stdout
        found = re.search(rb"Version\s+REG_SZ\s+(\S+)", output)
        return found.group(1).decode() if found else None

    def tunnel_running(self):
        return b"RUNNING" in self.prefix.wine(
            ["sc", "query", wine_app.SERVICE_NAME], capture=True).stdout

    def shortcut(self):
        """The shortcut's Unix path, in the Start-menu folder the install
        resolved: Wine takes the user's even for a per-machine package."""
        with open(os.path.join(self.work, "install.log"),
                  errors="replace") as log:
            found = re.search(r"ProgramMenuFolder = C:\\(.*)", log.read())
        folder = found.group(1).strip().strip("\\") if found else "none"
        return self.prefix.drive_c(*folder.split("\\"), "Varn VPN.lnk")

    def start_tunnel(self):
        """Starts the provisioned tunnel; Wine can fail a start once right
        after the provisioning's stop."""
        for _ in range(3):
            if self.prefix.wine(["sc", "start", wine_app.SERVICE_NAME],
                                capture=True).returncode == 0:
                return True
            time.sleep(1)
        return False

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


def signed(path, ca):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in",
                           path], capture_output=True).returncode == 0


def same_files(bundle, installed, ca=None):
    """Whether `installed` holds the bundle's files; signed by `ca`'s
    certificate, the PE files must carry a valid signature instead."""
    def tree(root):
        return sorted(os.path.relpath(os.path.join(d, f), root)
                      for d, _, files in os.walk(root) for f in files)
    files = tree(bundle)
    pe = [f for f in files if ca and f.endswith((".exe", ".dll"))]
    plain = [f for f in files if f not in pe]
    return os.path.isdir(installed) and tree(installed) == files and \
        filecmp.cmpfiles(bundle, installed, plain, shallow=False)[0] == \
        plain and all(signed(os.path.join(installed, f), ca) for f in pe)


def make_certificates(work):
    """A throwaway certificate authority and a code-signing certificate it
    issued, as PEM files: returns (ca, certificate, key)."""
    ca, cert, key = (os.path.join(work, name) for name in
                     ("ca.pem", "sign.pem", "sign.key"))
    new = ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
           "-days", "2"]
    for extra in (["-keyout", ca + ".key", "-out", ca, "-subj",
                   "/CN=Varn test CA", "-addext",
                   "basicConstraints=critical,CA:TRUE"],
                  ["-CA", ca, "-CAkey", ca + ".key", "-keyout", key, "-out",
                   cert, "-subj", "/CN=Varn test signer", "-addext",
                   "basicConstraints=critical,CA:FALSE", "-addext",
                   "extendedKeyUsage=codeSigning"]):
        subprocess.run(new + extra, capture_output=True, check=True)
    return ca, cert, key


def package_property(package, name):
    properties = subprocess.run(["msiinfo", "export", package, "Property"],
                                capture_output=True, text=True).stdout
    found = re.search(rf"^{name}\t(\S+)", properties, re.M)
    return found.group(1) if found else None


def product_version(package):
    return package_property(package, "ProductVersion")


def product_code(package):
    return package_property(package, "ProductCode")


def check_vendor_signature(checks, build, bundle, ours, work):
    """A tunnel.dll its vendor signed comes out of our signing unchanged;
    one changed after its signing is refused."""
    vendor = os.path.join(work, "vendor")
    os.makedirs(vendor)
    vendor_ca, vendor_cert, vendor_key = make_certificates(vendor)
    source = os.path.join(vendor, "bundle")
    shutil.copytree(bundle, source)
    library = os.path.join(source, "tunnel.dll")
    subprocess.run(["osslsigncode", "sign", "-h", "sha256", "-certs",
                    vendor_cert, "-key", vendor_key, "-in", library, "-out",
                    library + ".signed"], capture_output=True, check=True)
    os.replace(library + ".signed", library)
    package, output = build("vendor_signed", *ours, source=source)
    ca = ours[-1]
    extracted = os.path.join(vendor, "extracted")
    subprocess.run(["msiextract", "-C", extracted, package],
                   capture_output=True)
    folder = os.path.join(extracted, "Varn VPN")
    packaged = os.path.join(folder, "tunnel.dll")
    checks.expect(os.path.isfile(packaged) and
                  filecmp.cmp(library, packaged, shallow=False) and
                  signed(packaged, vendor_ca) and not signed(packaged, ca)
                  and "tunnel.dll is signed already" in output.stdout,
                  "a library its vendor signed keeps that signature alone, "
                  "and the output says so")
    checks.expect(signed(os.path.join(folder, "flutter_windows.dll"), ca),
                  "the unsigned libraries beside it get ours")
    with open(library, "r+b") as file:
        file.seek(0x400)  # the first section's code or data
        byte = file.read(1)
        file.seek(0x400)
        file.write(bytes([byte[0] ^ 0xFF]))
    _, output = build("vendor_changed", *ours, source=source)
    checks.expect(output.returncode != 0 and "tunnel.dll" in output.stderr,
                  "a signed library changed since is refused: "
                  f"{output.stderr.strip()}")


def exe_version(exe, windres):
    script = subprocess.run([windres, "-J", "coff", "-O", "rc", "-i", exe],
                            capture_output=True, text=True, check=True).stdout
    found = re.search(r"FILEVERSION\s+(\d+),\s*(\d+),\s*(\d+)", script)
    return ".".join(found.groups()) if found else None


def check_on_host(checks, package, bundle, make_msi, windres, work):
    """The package's contents, and signing: returns the signed package and
    the authority's certificate file."""
    print("package contents and signing:")
    incomplete = os.path.join(work, "incomplete")
    shutil.copytree(bundle, incomplete)
    for name in ("tunnel.dll", "data/app.so"):
        os.remove(os.path.join(incomplete, name))
    # (bundle, what the one line of refusal must name)
    for refused_bundle, named in [(bundle, ["stand-in"]),
                                  (incomplete, ["tunnel.dll",
                                                "data\\app.so"])]:
        refused = os.path.join(work, "refused")
        result = subprocess.run(make_msi + ["--bundle", refused_bundle,
                                            "--output-dir", refused],
                                capture_output=True, text=True)
        line = result.stderr.strip()
        checks.expect(result.returncode != 0 and
                      not os.path.exists(refused) and "\n" not in line and
                      all(n in line for n in named),
                      f"without --stand-ins refused: {line}")

    def build(folder, *options, source=bundle):
        """Packages `source` into work/folder: returns the package's path
        (the last line of output) and make_msi's outcome."""
        result = subprocess.run(
            make_msi + ["--bundle", source, "--output-dir",
                        os.path.join(work, folder), "--stand-ins"] +
            list(options),
            capture_output=True, text=True)
        return (result.stdout.strip().splitlines() or [""])[-1], result

    # The second run as another clone's build would make it: the same
    # files, built at another time.
    redated = os.path.join(work, "redated")
    shutil.copytree(bundle, redated)
    for folder, _, names in os.walk(redated):
        for name in names:
            os.utime(os.path.join(folder, name), (86400 * 365 * 40,) * 2)
    first, second = build("unsigned1")[0], build("unsigned2",
                                                   source=redated)[0]
    checks.expect(os.path.isfile(first) and filecmp.cmp(first, second,
                                                        shallow=False),
                  "two unsigned runs give the same package")
    icon = subprocess.run(["msiinfo", "extract", package,
                           "Icon.VarnVpnIcon"], capture_output=True).stdout
    checks.expect(icon[:4] == b"\0\0\1\0" and len(icon) < 100_000,
                  f"the icon entry is an icon file ({len(icon)} bytes)")
    files = subprocess.run(["msiinfo", "export", package, "File"],
                           capture_output=True, text=True).stdout
    found = re.search(r"\tvarn_vpn\.exe\t\d+\t(\S*)", files)
    version = exe_version(os.path.join(bundle, "varn_vpn.exe"), windres)
    checks.expect(found and found.group(1) == version + ".0",
                  "the exe's version in the File table")

    ca, cert, key = make_certificates(work)
    ours = ["--sign-cert", cert, "--sign-key", key, "--sign-ca", ca]
    signed_package = build("signed", *ours)[0]
    checks.expect(signed(signed_package, ca),
                  "the signed package's signature verifies")
    codes = [product_code(p) for p in (first, signed_package)]
    checks.expect(None not in codes and codes[0] != codes[1],
                  f"signed and unsigned are two products ({codes})")
    check_vendor_signature(checks, build, bundle, ours, work)
    actions = os.path.join(work, "actions.dll")
    with open(actions, "wb") as out:
        out.write(subprocess.run(["msiinfo", "extract", signed_package,
                                  "Binary.VarnVpnActions"],
                                 capture_output=True).stdout)
    checks.expect(signed(actions, ca),
                  "the custom-action library in its Binary table is signed")
    with open(signed_package, "rb") as file:
        data = bytearray(file.read())
    data[data.find(b"MSCF") + 300] ^= 0xFF  # in the files' cabinet
    changed = os.path.join(work, "changed.msi")
    with open(changed, "wb") as out:
        out.write(data)
    checks.expect(not signed(changed, ca),
                  "a one-byte change in the package is refused")
    return signed_package, ca


def check_install(checks, machine, package, bundle, windres, ca):
    print("install:")
    version = product_version(package)
    machine.set_windows("win81")
    code = machine.msiexec("/i", package, "install_on_8.1")
    checks.expect(code & 0xFF == ERROR_INSTALL_FAILURE and
                  machine.installed() == [],
                  f"Windows 8.1 refuses the package (got {code})")
    machine.set_windows("win10")
    custom = machine.prefix.drive_c(CUSTOM_DIR)
    code = machine.msiexec("/i", package, "install_refused",
                           "INSTALLDIR=" + machine.prefix.windows_path(custom))
    log = machine.log("install_refused")
    checks.expect(code & 0xFF == ERROR_INSTALL_FAILURE and
                  machine.installed() == [] and not os.path.exists(custom),
                  f"a custom folder the location rules refuse fails the "
                  f"install (got {code}) and installs nothing")
    checks.expect(LOG_PREFIX + "refused the install folder C:\\Apps" in log,
                  "the log says why: " + "".join(
                      line for line in log.splitlines(True)
                      if LOG_PREFIX in line).strip())
    code = machine.msiexec("/i", package, "install")
    checks.expect(code == 0, f"silent install exits 0 (got {code})")
    checks.expect(same_files(bundle, machine.app_dir, ca),
                  "the whole bundle under Program Files\\Varn VPN, signed")
    checks.expect(os.path.isfile(machine.shortcut()), "Start-menu shortcut")
    checks.expect(machine.installed() == [version] and
                  machine.registry_version() == version,
                  f"registered once as {PRODUCT_NAME} {version}, and "
                  f"Version {machine.registry_version()} under {PRODUCT_KEY}")
    checks.expect(machine.log("install").count(
        LOG_PREFIX + "the install folder ") == 2,
        "the custom-action library checked the default folder twice")
    entry = (machine.registrations() or [{}])[0]
    checks.expect(entry.get("InstallLocation") == machine.prefix.windows_path(
        machine.app_dir) + "\\" and entry.get("HelpLink") and
        entry.get("URLInfoAbout"), "Add/Remove Programs has the install "
        "location, help and about links")
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
    print("repair and uninstall with the tunnel connected:")
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
    # A repair from the package, as /fa would make it: Wine's /f finds no
    # installed product.
    code = machine.msiexec("/i", package, "repair", "REINSTALL=ALL",
                           "REINSTALLMODE=omus")
    checks.expect(code == 0 and machine.tunnel_running(),
                  f"a repair exits 0 (got {code}) and leaves the tunnel "
                  "running")
    code = machine.msiexec("/x", package, "uninstall")
    checks.expect(code == 0, f"silent uninstall exits 0 (got {code})")
    checks.expect(LOG_PREFIX + "removing the tunnel service exited 0" in
                  machine.log("uninstall"),
                  "the removal step ran from the custom-action library")
    for gone, what in [(not machine.service_exists(), "the service"),
                       (not os.path.exists(machine.config),
                        "the configuration file"),
                       (not os.path.exists(machine.app_dir),
                        "the installed files"),
                       (not os.path.exists(machine.shortcut()),
                        "the shortcut"),
                       (machine.installed() == [], "the registration"),
                       (machine.registry_version() is None,
                        "the registry's Version")]:
        checks.expect(gone, what + " gone")
    checks.expect(os.path.isdir(machine.data_dir), "the data directory stays")


def check_upgrade(checks, machine, package, bundle, make_msi):
    print("upgrade, downgrade, and the removal an upgrade makes:")
    version = product_version(package)

    def build(folder, version, source=bundle):
        return subprocess.run(
            make_msi + ["--bundle", source, "--output-dir",
                        os.path.join(machine.work, folder), "--version",
                        version, "--stand-ins"],
            capture_output=True, text=True,
            check=True).stdout.strip().splitlines()[-1]
    older = build("older", OLDER_VERSION)
    # A rebuild of the same version with one file changed is another product
    # to the installer.
    changed = os.path.join(machine.work, "changed_bundle")
    shutil.copytree(bundle, changed)
    with open(os.path.join(changed, "data", "flutter_assets",
                           "AssetManifest.json"), "a") as out:
        out.write("\n")
    rebuilt = build("rebuilt", version, changed)
    checks.expect(tuple(map(int, version.split("."))) > (0, 0, 1),
                  f"{version} is above {OLDER_VERSION}")

    machine.msiexec("/i", older, "install_older")
    checks.expect(machine.installed() == [OLDER_VERSION] and
                  machine.registry_version() == OLDER_VERSION,
                  f"{OLDER_VERSION} installed")
    code = machine.msiexec("/i", package, "upgrade")
    checks.expect(code == 0 and same_files(bundle, machine.app_dir),
                  f"the upgrade exits 0 (got {code}), every file in place")
    location = [r.get("InstallLocation") for r in machine.registrations()]
    checks.expect(machine.installed() == [version] and location == [
        machine.prefix.windows_path(machine.app_dir) + "\\"],
        f"one installed copy, {version}, in the same folder ({location})")
    checks.expect(machine.registry_version() == version,
                  f"the upgrade writes Version {version} "
                  f"(got {machine.registry_version()})")
    code = machine.msiexec("/i", rebuilt, "rebuilt")
    checks.expect(code == 0 and machine.installed() == [version],
                  f"a rebuilt {version} replaces it (got {code}, "
                  f"{machine.installed()})")

    code = machine.msiexec("/i", older, "downgrade")
    checks.expect(code & 0xFF == ERROR_INSTALL_FAILURE,
                  f"the older package refuses to install (got {code})")
    checks.expect(machine.installed() == [version] and
                  same_files(changed, machine.app_dir),
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


def check_deployment(checks, machine, package, bundle, make_msi):
    """TUNNELUSER and REMOVEDATA as secure properties, a grant the installer
    mode refuses, a running tunnel across an upgrade and REMOVEDATA=1."""
    print("managed deployment:")
    properties = subprocess.run(["msiinfo", "export", package, "Property"],
                                capture_output=True, text=True).stdout
    found = re.search(r"^SecureCustomProperties\t(.*)$", properties, re.M)
    secure = found.group(1).strip().split(";") if found else []
    checks.expect("TUNNELUSER" in secure and "REMOVEDATA" in secure,
                  f"TUNNELUSER and REMOVEDATA are secure ({secure})")
    machine.prefix.wine(["sc", "delete", wine_app.SERVICE_NAME], capture=True)

    # Not a user's SID (10), and a user's SID, which Wine's location check
    # refuses (21): each fails the install and leaves nothing behind.
    for sid, exit_code in (("S-1-1-0", 10), (wine_app.WINE_USER_SID, 21)):
        name = "grant_" + str(exit_code)
        code = machine.msiexec("/i", package, name, "TUNNELUSER=" + sid)
        log = machine.log(name)
        checks.expect(code & 0xFF == ERROR_INSTALL_FAILURE and
                      machine.installed() == [] and
                      not os.path.exists(machine.app_dir) and
                      not machine.service_exists(),
                      f"TUNNELUSER={sid} fails the install (got {code}) and "
                      "installs nothing")
        checks.expect(f"with exit code {exit_code}" in log and
                      LOG_PREFIX + "rollback: removing the tunnel service "
                      "exited 0" in log, f"the log names exit code "
                      f"{exit_code} and the rollback ran")

    older = subprocess.run(
        make_msi + ["--bundle", bundle, "--output-dir",
                    os.path.join(machine.work, "deploy_older"), "--version",
                    OLDER_VERSION, "--stand-ins"],
        capture_output=True, text=True, check=True).stdout.strip()
    # Windows removes the old copy in an upgrade with UPGRADINGPRODUCTCODE
    # set, which skips its removal step; Wine's removal sets nothing of the
    # kind, so this older package leaves the step out, as Windows would.
    subprocess.run(["msibuild", older, "-q",
                    "DELETE FROM `InstallExecuteSequence` WHERE "
                    "`Action` = 'RemoveTunnel'"], check=True)
    machine.msiexec("/i", older, "deploy_older")
    machine.provision_tunnel()
    started = machine.start_tunnel()
    code = machine.msiexec("/i", package, "upgrade_running")
    log = machine.log("upgrade_running")
    checks.expect(started and code == 0 and machine.tunnel_running() and
                  "started again" in log,
                  f"a tunnel running before an upgrade runs after it (got "
                  f"{code}): " + "".join(
                      line for line in log.splitlines(True)
                      if LOG_PREFIX in line).strip())

    # A repair starts nothing: the tunnel stays as the user left it.
    machine.prefix.wine(["sc", "stop", wine_app.SERVICE_NAME], capture=True)
    time.sleep(1)
    code = machine.msiexec("/i", package, "repair_stopped", "REINSTALL=ALL",
                           "REINSTALLMODE=omus")
    checks.expect(code == 0 and not machine.tunnel_running() and
                  "tunnel restart" not in machine.log("repair_stopped"),
                  f"a repair exits 0 (got {code}) and starts no stopped "
                  "tunnel")

    # The installer's aside folder goes with REMOVEDATA=1; a folder of
    # another name stays.
    program_data = machine.prefix.drive_c("ProgramData")
    aside = os.path.join(program_data, "VarnVPN.old-0123456789abcdef")
    other = os.path.join(program_data, "VarnVPN.keep")
    for folder in (aside, other):
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "log.bin"), "wb") as out:
            out.write(b"old")
    code = machine.msiexec("/x", package, "remove_data", "REMOVEDATA=1")
    log = machine.log("remove_data")
    lines = "".join(line for line in log.splitlines(True)
                    if LOG_PREFIX + "REMOVEDATA" in line)
    checks.expect(code == 0 and machine.installed() == [],
                  f"removal with REMOVEDATA=1 exits 0 (got {code})")
    # Wine reads every folder as owned by the user, so both stay there; the
    # simulated platform shows the installer's own folders going.
    checks.expect("VarnVPN.old-0123456789abcdef kept: owned by" in lines and
                  "VarnVPN kept: owned by" in lines and
                  "VarnVPN.keep" not in lines and os.path.isdir(other),
                  "REMOVEDATA=1 judges the data directory and the aside "
                  "folder by owner, nothing else: " + lines.strip())


def main():
    package, bundle, actions, make_msi, windres = sys.argv[1:6]
    # make_msi.py with the custom-action library the package was built with.
    make_msi = [sys.executable, make_msi, "--actions", actions]
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
        signed_package, ca = check_on_host(checks, package, bundle,
                                           make_msi, windres, work)
        check_install(checks, machine, signed_package, bundle, windres, ca)
        check_uninstall(checks, machine, signed_package)
        check_upgrade(checks, machine, package, bundle, make_msi)
        check_deployment(checks, machine, package, bundle, make_msi)
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
