#!/usr/bin/env python3
"""Builds the Windows Installer package of an application bundle.

    make_msi.py --bundle DIR --output-dir DIR [--version X.Y.Z]

Writes DIR/VarnVPN-<version>-x64.msi and prints its path. The version is the
one in the bundle's varn_vpn.exe version resource, which the build takes
from the project's version, so package and exe cannot disagree; --version
overrides it (the tests build an older package that way). The bundle's file
list varies with the UI build's data tree, so the components of every file
but the exe are generated here and compiled by wixl together with
varn_vpn.wxs. wixl runs in the bundle folder: it takes no absolute file
sources.

Standard library only.
"""

import argparse
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile
from xml.sax.saxutils import quoteattr

HERE = os.path.dirname(os.path.abspath(__file__))
EXE = "varn_vpn.exe"


def exe_version(path):
    """Returns "major.minor.patch" from the exe's fixed version record."""
    with open(path, "rb") as exe:
        data = exe.read()
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    at = data.find(key)
    if at < 0:
        raise ValueError(f"{path} has no version resource")
    # The fixed record follows the key, aligned to four bytes.
    at = (at + len(key) + 3) & ~3
    signature, _, file_ms, file_ls = struct.unpack_from("<4I", data, at)
    if signature != 0xFEEF04BD:
        raise ValueError(f"{path}: malformed version resource")
    return f"{file_ms >> 16}.{file_ms & 0xFFFF}.{file_ls >> 16}"


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


def wix_text(text):
    """Quotes an attribute value; wixl's preprocessor would expand $(...)."""
    return quoteattr(text.replace("$", "$$"))


def components_fragment(bundle):
    """Returns the WiX fragment of every bundle file but the exe."""
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
                    f'Guid="*" Win64="yes"><File Id='
                    f"{wix_text(element_id('f', rel))} "
                    f"Name={wix_text(name)} Source={wix_text(rel)} "
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bundle", required=True)
    parser.add_argument("--output-dir", required=True)
    parser.add_argument("--version")
    parser.add_argument("--wixl", default="wixl")
    args = parser.parse_args()

    bundle = os.path.abspath(args.bundle)
    exe = os.path.join(bundle, EXE)
    if not os.path.isfile(exe):
        sys.exit(f"make_msi: no {EXE} in {bundle}")
    try:
        version = args.version or exe_version(exe)
        check_version(version)
    except ValueError as error:
        sys.exit(f"make_msi: {error}")

    os.makedirs(args.output_dir, exist_ok=True)
    output = os.path.join(os.path.abspath(args.output_dir),
                          f"VarnVPN-{version}-x64.msi")
    with tempfile.TemporaryDirectory(prefix="varn-msi-") as work:
        fragment = os.path.join(work, "bundle_files.wxs")
        with open(fragment, "w", encoding="utf-8") as out:
            out.write(components_fragment(bundle))
        result = subprocess.run(
            [args.wixl, "--arch", "x64", "-D", f"Version={version}",
             "-D", f"NextVersion={next_version(version)}",
             "-o", output, os.path.join(HERE, "varn_vpn.wxs"), fragment],
            cwd=bundle, check=False)
    if result.returncode != 0:
        sys.exit(f"make_msi: wixl failed with exit code {result.returncode}")
    print(output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
