#!/usr/bin/env python3
"""Builds the Windows Installer package of an application bundle.

    make_msi.py --bundle DIR --actions DLL --output-dir DIR [--version X.Y.Z]
                [--stand-ins]
                [--sign-cert FILE --sign-key FILE | --sign-pkcs12 FILE]
                [--sign-pass-file FILE] [--sign-timestamp URL]
                [--sign-pkcs11-module MODULE [--sign-pkcs11-engine ENGINE]]
                [--sign-ca FILE]

Writes DIR/VarnVPN-<version>-x64.msi and prints its path. The version is the
one in the bundle's varn_vpn.exe version resource, which the build takes
from the project's version, so package and exe cannot disagree; --version
overrides it (the tests build an older package that way).

A bundle holding our stand-in libraries (any of its PE files exports or
imports a StandIn function) is packaged only with --stand-ins, and then both
the file name (VarnVPN-<version>-x64-stand-ins.msi) and the product name say
so. Without --stand-ins the bundle must be complete (PRODUCTION_FILES).

The package's privileged steps run from its own custom-action library
(--actions, varn_vpn_actions.dll of the windows build), which goes into the
Binary table, never from an installed file someone could have replaced.
Signing signs a copy of it like the bundle's files.

Signing, when a certificate and key are given, signs every PE file of a
copy of the bundle that carries no signature yet (a vendor's stays, and
stdout says so), packages that copy, signs the package and verifies the
package's signature (against --sign-ca, or the system's certificates). The
options pass through to osslsigncode; with a PKCS#11 module, --sign-key is
the key's PKCS#11 URI.

One bundle and version give the same unsigned package, byte for byte: the
product and package codes derive from its contents, and the summary's and
the packaged files' times are fixed (SOURCE_DATE_EPOCH, or 1980).

The bundle's file list varies with the UI build's data tree, so the
components of every file but the exe are generated here and compiled by
wixl together with varn_vpn.wxs; what wixl cannot write (file versions, the
install folder's permissions) is added to the package afterwards with
msibuild. Needs Debian's python3-pefile and gir1.2-libmsi-1.0.
"""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import uuid
from xml.sax.saxutils import quoteattr

import gi

import pefile

gi.require_version("Libmsi", "1.0")
from gi.repository import Libmsi  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
EXE = "varn_vpn.exe"
# The custom-action library's name in the folder wixl runs in, which
# varn_vpn.wxs's Binary element names.
ACTIONS = "varn_vpn_actions.dll"
PRODUCT = "Varn VPN"
# The links in Add/Remove Programs and the signatures' "more info" link.
HELP_LINK = "https://varn.example/help"
ABOUT_LINK = "https://varn.example/"
# The install folder: SYSTEM, Administrators and TrustedInstaller full
# control, Users read and execute, nothing inherited from the parent, owned
# by the Administrators. The service runs the exe from here as SYSTEM.
INSTALL_DIR_SDDL = (
    "O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
    "(A;OICI;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-"
    "2271478464)(A;OICI;0x1200a9;;;BU)")
# What a production bundle cannot run without: the UI engine, the plug-ins
# it registers, the tunnel library and the engine's data.
PRODUCTION_FILES = (
    "flutter_windows.dll", "app_links_plugin.dll", "share_plus_plugin.dll",
    "url_launcher_windows_plugin.dll", "wireguard_flutter_plugin.dll",
    "tunnel.dll", "data/icudtl.dat", "data/app.so", "data/flutter_assets/")
# wixl's codes are random and its times the clock's: the package gets these
# in their place, then codes derived from its contents.
PLACEHOLDER_CODE = "{00000000-0000-0000-0000-000000000000}"
# The cabinet keeps each file's time as a DOS date, which starts in 1980.
DOS_EPOCH = 315532800


def is_pe(name):
    return name.lower().endswith((".exe", ".dll"))


def read_pe(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY[f"IMAGE_DIRECTORY_"
                                                      f"ENTRY_{d}"]
                               for d in ("EXPORT", "IMPORT", "RESOURCE")])
    return pe


def file_version(pe):
    """Returns ("a.b.c.d", language) from the version resource, or None."""
    if not hasattr(pe, "VS_FIXEDFILEINFO"):
        return None
    fixed = pe.VS_FIXEDFILEINFO[0]
    version = (f"{fixed.FileVersionMS >> 16}.{fixed.FileVersionMS & 0xFFFF}."
               f"{fixed.FileVersionLS >> 16}.{fixed.FileVersionLS & 0xFFFF}")
    language = ""
    for info in getattr(pe, "FileInfo", [[]])[0]:
        for var in getattr(info, "Var", []):
            translation = var.entry.get(b"Translation", "").split()
            if translation:
                language = str(int(translation[0], 16))
    return version, language


def stand_in_functions(pe):
    """The StandIn functions the file exports or imports."""
    names = [s.name for s in pe.DIRECTORY_ENTRY_EXPORT.symbols] \
        if hasattr(pe, "DIRECTORY_ENTRY_EXPORT") else []
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        names.extend(i.name for i in entry.imports)
    return [n.decode() for n in names if n and n.startswith(b"StandIn")]


def check_version(version):
    """Windows Installer compares three fields: major and minor below 256,
    build below 65536. A version beyond them would break upgrades."""
    parts = version.split(".")
    limits = (255, 255, 65535)
    if len(parts) != 3 or not all(p.isdigit() for p in parts) or \
            any(int(p) > limit for p, limit in zip(parts, limits)):
        raise ValueError(f"version {version!r} is not major.minor.patch "
                         "within 255.255.65535")


def next_version(version):
    """The smallest version above `version` in three fields."""
    major, minor, patch = map(int, version.split("."))
    if patch < 65535:
        return f"{major}.{minor}.{patch + 1}"
    return f"{major}.{minor + 1}.0" if minor < 255 else f"{major + 1}.0.0"


def element_id(prefix, relative):
    """A valid, stable identifier for a bundle path: readable, with a hash
    that keeps paths apart that differ only in dropped characters."""
    digest = hashlib.sha1(relative.encode("utf-8")).hexdigest()[:8]
    readable = re.sub(r"[^A-Za-z0-9_.]", "_", relative)[:48]
    return f"{prefix}_{readable}_{digest}"


def file_id(relative):
    return "VarnVpnExe" if relative == EXE else element_id("f", relative)


def wix_text(text):
    """Quotes an attribute value; wixl's preprocessor would expand $(...)."""
    return quoteattr(text.replace("$", "$$"))


def bundle_files(bundle):
    """Every file's path relative to the bundle, in a stable order."""
    return sorted(os.path.relpath(os.path.join(folder, name), bundle)
                  .replace(os.sep, "/")
                  for folder, _, names in os.walk(bundle) for name in names)


def components_fragment(bundle):
    """Returns the WiX fragment of every bundle file but the exe, with
    sources under bundle/."""
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">',
             "  <Fragment>"]
    components = []

    def directory(path, relative, indent):
        for name in sorted(os.listdir(path)):
            full = os.path.join(path, name)
            rel = f"{relative}/{name}" if relative else name
            if os.path.isdir(full):
                lines.append(f"{indent}<Directory Id="
                             f"{wix_text(element_id('d', rel))} "
                             f"Name={wix_text(name)}>")
                directory(full, rel, indent + "  ")
                lines.append(f"{indent}</Directory>")
            elif os.path.isfile(full) and rel != EXE:
                component = element_id("c", rel)
                components.append(component)
                lines.append(
                    f"{indent}<Component Id={wix_text(component)} "
                    f'Guid="*" Win64="yes"><File Id={wix_text(file_id(rel))} '
                    f"Name={wix_text(name)} "
                    f"Source={wix_text('bundle/' + rel)} "
                    f'KeyPath="yes"/></Component>')

    lines.append('    <DirectoryRef Id="INSTALLDIR">')
    directory(bundle, "", "      ")
    lines.append("    </DirectoryRef>")
    lines.append('    <ComponentGroup Id="BundleFiles">')
    lines.extend(f"      <ComponentRef Id={wix_text(c)}/>" for c in components)
    lines.append("    </ComponentGroup>")
    lines.append("  </Fragment>")
    lines.append("</Wix>")
    return "\n".join(lines) + "\n"


def table_fixes(package, versions):
    """SQL for what wixl leaves out: the File table's versions (a versioned
    file is compared by version, so it loses its hash), INSTALLDIR,
    TUNNELUSER and REMOVEDATA among the secure properties, the rollback
    action's type and the install folder's permissions."""
    properties = subprocess.run(["msiinfo", "export", package, "Property"],
                                capture_output=True, text=True,
                                check=True).stdout
    found = re.search(r"^SecureCustomProperties\t(.*)$", properties, re.M)
    secure = ";".join(([found.group(1).strip()] if found else []) +
                      ["INSTALLDIR", "TUNNELUSER", "REMOVEDATA"])
    queries = [
        "DELETE FROM `Property` WHERE `Property` = 'SecureCustomProperties'",
        "INSERT INTO `Property` (`Property`, `Value`) VALUES "
        f"('SecureCustomProperties', '{secure}')"]
    # wixl writes Execute="rollback" as an immediate action: the type of a
    # rollback action that runs the library as SYSTEM and whose failure is
    # ignored (in-script, rollback, no impersonation, continue, DLL).
    queries.append("UPDATE `CustomAction` SET `Type` = 3393 WHERE "
                   "`Action` = 'UndoTunnelGrant'")
    for key, (version, language) in sorted(versions.items()):
        queries.append(f"UPDATE `File` SET `Version` = '{version}', "
                       f"`Language` = '{language}' WHERE `File` = '{key}'")
        queries.append(f"DELETE FROM `MsiFileHash` WHERE `File_` = '{key}'")
    queries.append(
        "CREATE TABLE `MsiLockPermissionsEx` (`MsiLockPermissionsEx` "
        "CHAR(72) NOT NULL, `LockObject` CHAR(72) NOT NULL, `Table` CHAR(32) "
        "NOT NULL, `SDDLText` LONGCHAR NOT NULL, `Condition` CHAR(255) "
        "PRIMARY KEY `MsiLockPermissionsEx`)")
    queries.append(
        "INSERT INTO `MsiLockPermissionsEx` (`MsiLockPermissionsEx`, "
        "`LockObject`, `Table`, `SDDLText`) VALUES ('InstallDirAccess', "
        f"'INSTALLDIR', 'CreateFolder', '{INSTALL_DIR_SDDL}')")
    return queries


def missing_production_files(bundle, files):
    """The files of PRODUCTION_FILES the bundle lacks (a folder: lacks a
    file in it), compared as Windows compares names."""
    present = {f.lower() for f in files}
    folders = {f[:end + 1] for f in present
               for end, c in enumerate(f) if c == "/"}
    return [name for name in PRODUCTION_FILES
            if name.lower() not in (folders if name.endswith("/")
                                    else present)]


def upgrade_code():
    with open(os.path.join(HERE, "varn_vpn.wxs"), encoding="utf-8") as wxs:
        return re.search(r'UpgradeCode="([-0-9A-Fa-f]+)"', wxs.read()).group(1)


def content_code(path):
    """A GUID of the file's bytes, named under the upgrade code."""
    digest = hashlib.sha256()
    with open(path, "rb") as file:
        for block in iter(lambda: file.read(1 << 20), b""):
            digest.update(block)
    code = uuid.uuid5(uuid.UUID(upgrade_code()), digest.hexdigest())
    return "{" + str(code).upper() + "}"


def fixed_time():
    """The time a package states, in seconds since 1970, in UTC."""
    return max(int(os.environ.get("SOURCE_DATE_EPOCH", DOS_EPOCH)),
               DOS_EPOCH)


def stage(bundle, staged, signer):
    """Copies the bundle for wixl, signs the copy, and dates every file
    fixed_time(): the cabinet keeps the files' times, and a build's times
    differ from another's."""
    shutil.copytree(bundle, staged)
    if signer:
        sign_bundle(signer, staged, bundle_files(staged))
    for folder, _, names in os.walk(staged):
        for name in names:
            os.utime(os.path.join(folder, name),
                     (fixed_time(), fixed_time()))


def set_summary(package, package_code):
    """Fixes the summary's times and sets the package code."""
    seconds = fixed_time()
    filetime = (seconds + 11644473600) * 10_000_000  # from 1601, in 100 ns
    database = Libmsi.Database.new(package, Libmsi.DbFlags.TRANSACT, None)
    summary = Libmsi.SummaryInfo.new(database, 20)
    for field in (Libmsi.Property.CREATED_TM, Libmsi.Property.LASTSAVED_TM):
        summary.set_filetime(field, filetime)
    summary.set_string(Libmsi.Property.UUID, package_code)
    summary.persist()
    database.commit()


def make_reproducible(package):
    """Gives the package, built with PLACEHOLDER_CODE as its product code,
    the codes its contents decide: the product code from the whole package
    (files, version, upgrade code and tables), so any change of contents is
    another product and a rebuild of the same bundle the same one; then the
    package code from the finished tables."""
    set_summary(package, PLACEHOLDER_CODE)
    run(["msibuild", package, "-q", "UPDATE `Property` SET `Value` = "
         f"'{content_code(package)}' WHERE `Property` = 'ProductCode'"],
        quiet=True)
    set_summary(package, content_code(package))


def authenticode_signed(path):
    """Whether the PE file carries a signature (a security directory)."""
    pe = pefile.PE(path, fast_load=True)
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    return entry.VirtualAddress != 0 and entry.Size != 0


def signature_matches(path):
    """Whether the file's signature is of its bytes as they are, whoever
    issued its certificate."""
    result = subprocess.run(["osslsigncode", "verify", "-in", path],
                            capture_output=True, text=True)
    return "MISMATCH" not in result.stdout + result.stderr


def sign_bundle(signer, staged, files):
    """Signs the copy's PE files; one signed already (by its vendor) stays
    as it is, so it keeps the vendor's name and time stamp. One changed
    since it was signed is refused: ours would hide the change."""
    for relative in filter(is_pe, files):
        path = os.path.join(staged, relative)
        if authenticode_signed(path):
            if not signature_matches(path):
                sys.exit(f"make_msi: {relative} was changed after it was "
                         "signed: its signature does not match it")
            print(f"make_msi: {relative} is signed already: kept as it is")
        else:
            signer.sign(path)


class Signer:
    """osslsigncode with the packager's certificate and key."""

    def __init__(self, args):
        self.command = ["osslsigncode", "sign", "-h", "sha256",
                        "-n", args.product, "-i", ABOUT_LINK]
        if args.sign_pkcs11_engine:
            self.command += ["-pkcs11engine", args.sign_pkcs11_engine]
        if args.sign_pkcs11_module:
            self.command += ["-pkcs11module", args.sign_pkcs11_module]
        if args.sign_pkcs12:
            self.command += ["-pkcs12", args.sign_pkcs12]
        else:
            self.command += ["-certs", args.sign_cert, "-key", args.sign_key]
        if args.sign_pass_file:
            self.command += ["-readpass", args.sign_pass_file]
        if args.sign_timestamp:
            self.command += ["-ts", args.sign_timestamp]
        self.ca = args.sign_ca

    def sign(self, path, *extra):
        signed = path + ".signed"
        run(self.command + list(extra) + ["-in", path, "-out", signed],
            quiet=True)
        os.replace(signed, path)

    def verify(self, path):
        ca = ["-CAfile", self.ca] if self.ca else []
        run(["osslsigncode", "verify"] + ca + ["-in", path], quiet=True)


def run(command, quiet=False, **kwargs):
    """Runs a tool; a quiet one's output is shown only when it fails."""
    output = subprocess.PIPE if quiet else None
    result = subprocess.run(command, check=False, stdout=output,
                            stderr=subprocess.STDOUT if quiet else None,
                            text=True, **kwargs)
    if result.returncode != 0:
        sys.stderr.write(result.stdout or "")
        sys.exit(f"make_msi: {os.path.basename(command[0])} failed with exit "
                 f"code {result.returncode}")


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bundle", required=True)
    parser.add_argument("--actions", required=True,
                        help="the custom-action library, varn_vpn_actions.dll")
    parser.add_argument("--output-dir", required=True)
    parser.add_argument("--version")
    parser.add_argument("--wixl", default="wixl")
    parser.add_argument("--stand-ins", action="store_true",
                        help="allow a bundle of stand-in libraries")
    for option in ("cert", "key", "pkcs12", "pass-file", "timestamp",
                   "pkcs11-module", "pkcs11-engine", "ca"):
        parser.add_argument("--sign-" + option)
    args = parser.parse_args()
    if bool(args.sign_cert) != bool(args.sign_key) or \
            (args.sign_pkcs12 and args.sign_cert):
        parser.error("sign with --sign-cert and --sign-key, or --sign-pkcs12")
    args.sign = bool(args.sign_pkcs12 or args.sign_cert)
    return args


def main():
    args = parse_args()
    bundle = os.path.abspath(args.bundle)
    if not os.path.isfile(os.path.join(bundle, EXE)):
        sys.exit(f"make_msi: no {EXE} in {bundle}")
    if not os.path.isfile(args.actions):
        sys.exit(f"make_msi: no custom-action library at {args.actions}")
    files = bundle_files(bundle)
    versions, stand_ins = {}, []
    for relative in filter(is_pe, files):
        pe = read_pe(os.path.join(bundle, relative))
        stand_ins += [f"{relative}: {n}" for n in stand_in_functions(pe)]
        if file_version(pe):
            versions[file_id(relative)] = file_version(pe)
    missing = [] if args.stand_ins else missing_production_files(bundle,
                                                                 files)
    if missing:
        names = ", ".join(m.replace("/", "\\") for m in missing)
        sys.exit(f"make_msi: {bundle} is not a complete bundle: it lacks "
                 f"{names} (only a package of stand-ins, --stand-ins, may)")
    if stand_ins and not args.stand_ins:
        sys.exit("make_msi: the bundle holds stand-in libraries ("
                 f"{stand_ins[0]}); package them only with --stand-ins "
                 "(make package STAND_INS=1)")
    try:
        if args.version is None and "VarnVpnExe" not in versions:
            raise ValueError(f"{EXE} has no version resource")
        version = args.version or versions["VarnVpnExe"][0].rsplit(".", 1)[0]
        check_version(version)
    except ValueError as error:
        sys.exit(f"make_msi: {error}")
    args.product = PRODUCT + (" (stand-in libraries)" if stand_ins else "")
    suffix = "-stand-ins" if stand_ins else ""

    os.makedirs(args.output_dir, exist_ok=True)
    output = os.path.join(os.path.abspath(args.output_dir),
                          f"VarnVPN-{version}-x64{suffix}.msi")
    signer = Signer(args) if args.sign else None
    with tempfile.TemporaryDirectory(prefix="varn-msi-") as work:
        staged = os.path.join(work, "bundle")
        stage(bundle, staged, signer)
        # The custom-action library, signed like the bundle's files.
        shutil.copyfile(args.actions, os.path.join(work, ACTIONS))
        if signer:
            signer.sign(os.path.join(work, ACTIONS))
        run([sys.executable, os.path.join(HERE, "..", "make_icon.py"),
             os.path.join(work, "varn_vpn.ico")])
        fragment = os.path.join(work, "bundle_files.wxs")
        with open(fragment, "w", encoding="utf-8") as out:
            out.write(components_fragment(bundle))
        package = os.path.join(work, "package.msi")
        run([args.wixl, "--arch", "x64", "-D", f"Version={version}",
             "-D", f"ProductCode={PLACEHOLDER_CODE}",
             "-D", f"NextVersion={next_version(version)}",
             "-D", f"ProductName={args.product}",
             "-D", f"HelpLink={HELP_LINK}", "-D", f"AboutLink={ABOUT_LINK}",
             "-o", package, os.path.join(HERE, "varn_vpn.wxs"), fragment],
            cwd=work, env=dict(os.environ, TZ="UTC0"))  # files' times
        for query in table_fixes(package, versions):
            run(["msibuild", package, "-q", query], quiet=True)
        make_reproducible(package)
        if signer:
            signer.sign(package, "-add-msi-dse")
            signer.verify(package)
        shutil.move(package, output)
    print(output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
