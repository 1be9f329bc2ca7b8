#!/usr/bin/python3
"""The simulated access check held to Samba's (samba.security.access_check).

access_cases.txt and a seeded generator give the cases; access_check_runner
answers them through the simulated CreateFileW under Wine, Samba here, with
what Windows adds around its check. The answers must agree except where
DEVIATIONS says Samba differs from Windows, and every deviation must still
be needed.  Usage: access_differential.py <wine_run.sh> <runner.exe> <cases>
"""
import collections
import random
import re
import subprocess
import sys
import time

import samba.dcerpc.security as security
import samba.security

SEED, GENERATED = 0x5EED, 3000
NAMES = {"A": "S-1-5-21-100-200-300-1001", "B": "S-1-5-21-100-200-300-1002",
         "TI": "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
         "WD": "S-1-1-0", "AU": "S-1-5-11", "BU": "S-1-5-32-545",
         "IU": "S-1-5-4", "BA": "S-1-5-32-544", "SY": "S-1-5-18"}
DELETE, SYNCHRONIZE = 0x10000, 0x100000
LIST, DELETE_CHILD, READ_ATTRIBUTES = 0x1, 0x40, 0x80
# Generic rights as NTFS stores them ("File Security and Access Rights");
# Samba's check maps none.
GENERIC = {0x80000000: 0x120089, 0x40000000: 0x120116, 0x20000000: 0x1200A0,
           0x10000000: 0x1F01FF}
CODES = dict(CC=0x1, DC=0x2, LC=0x4, SW=0x8, RP=0x10, WP=0x20, DT=0x40,
             LO=0x80, CR=0x100, SD=0x10000, RC=0x20000, WD=0x40000,
             WO=0x80000, GA=0x10000000, GX=0x20000000, GW=0x40000000,
             GR=0x80000000, FA=0x1F01FF, FR=0x120089, FW=0x120116,
             FX=0x1200A0)
DENIED = 5
# Where Samba's check answers unlike Windows (which the simulation follows):
# name: (source, the cases it covers, Samba's answer there).
DEVIATIONS = {
    "no DACL": ('"Null DACLs and Empty DACLs": no DACL grants all access',
                lambda case: case.dacl == "-", DENIED),
}
Case = collections.namedtuple(
    "Case", "id caller parent kind owner dacl mask expect", defaults=[None])


def expand(text):
    """A, B and TI, as owner or trustee, to their SIDs."""
    if text in ("A", "B", "TI"):
        return NAMES[text]
    return re.sub(r";;;(A|B|TI)\)", lambda m: ";;;%s)" % NAMES[m[1]], text)


def map_generic(mask):
    for bit, rights in GENERIC.items():
        mask = (mask & ~bit) | rights if mask & bit else mask
    return mask


def stored(dacl):
    """The DACL with its entries' generic rights mapped, as NTFS keeps it."""
    def mapped(m):
        text = m[3]
        mask = int(text, 16) if text.lower().startswith("0x") else sum(
            CODES[text[i:i + 2]] for i in range(0, len(text), 2))
        return "(%s;%s;0x%X;%s)" % (m[1], m[2], map_generic(mask), m[4])
    return re.sub(r"\(([AD]);([A-Z]*);([^;]*);(;;[^)]*)\)", mapped, dacl)


class Samba:
    def __init__(self, tokens):
        self.tokens, self.descriptors = {}, {}
        for caller, sids in tokens.items():
            self.tokens[caller] = token = security.token()
            token.sids = [security.dom_sid(sid) for sid in sids]
            token.num_sids, token.privilege_mask = len(sids), 0

    def allows(self, caller, owner, dacl, mask):
        if (owner, dacl) not in self.descriptors:
            self.descriptors[owner, dacl] = security.descriptor.from_sddl(
                "O:" + owner + ("" if dacl == "-" else stored(dacl)),
                security.dom_sid("S-1-5-21-100-200-300"))
        try:
            samba.security.access_check(self.descriptors[owner, dacl],
                                        self.tokens[caller], mask)
            return True
        except Exception as error:  # samba.NTSTATUSError
            if error.args[0] != 0xC0000022:  # STATUS_ACCESS_DENIED
                raise
            return False

    def answer(self, case):
        """CreateFileW adds SYNCHRONIZE and FILE_READ_ATTRIBUTES; the
        parent's delete-child gives DELETE, its list right
        FILE_READ_ATTRIBUTES ("File Security and Access Rights")."""
        wanted = map_generic(case.mask) | SYNCHRONIZE | READ_ATTRIBUTES
        if self.allows(case.caller, "SY", case.parent, DELETE_CHILD):
            wanted &= ~DELETE
        if self.allows(case.caller, "SY", case.parent, LIST):
            wanted &= ~READ_ATTRIBUTES
        allowed = self.allows(case.caller, case.owner, case.dacl, wanted)
        return 0 if allowed else DENIED


def generated(rng, masks):
    single = [1 << bit for bit in list(range(9)) + list(range(16, 21))]
    codes = "FA FA FA FR FW FX GA GR GW GX RCWD SDWO".split()

    def mask():
        pick = rng.random()
        return (rng.choice(masks) if pick < 0.3 else
                rng.choice(single) if pick < 0.6 else
                sum(rng.sample(single, rng.randint(2, 4))) if pick < 0.8 else
                rng.randint(0, 0x1F01FF) & 0x1F01FF)

    def entries(count):
        return "".join("(%s;%s;%s;;;%s)" % (
            rng.choice("AAAD"),
            rng.choice(["", "", "", "OICI", "IO", "OICIIO", "CIIO", "ID",
                        "NP"]),
            rng.choice(codes) if rng.random() < 0.5 else "0x%X" % mask(),
            rng.choice("OW CO AU BU WD BA SY IU A B TI".split()))
            for _ in range(count))

    parents = ["D:(A;;0x1200A9;;;BU)", "D:(A;;DT;;;AU)", "D:(A;;FA;;;AU)",
               "D:P(A;;FA;;;SY)", "D:(A;;0x41;;;A)(A;;FA;;;BA)"]
    for number in range(GENERATED):
        dacl = "-" if rng.random() < 0.02 else (
            "D:" + rng.choice(["", "P", "AI"]) + entries(rng.randint(0, 4)))
        yield Case("seed%d" % number, rng.choice(["user", "admin", "system"]),
                   rng.choice(parents + ["D:" + entries(rng.randint(1, 3))]),
                   rng.choice("fd"), rng.choice(["A", "B", "BA", "SY", "TI"]),
                   dacl, mask())


def read_cases(path):
    tokens, masks, objects, cases = {}, [], [], []
    for line in open(path, encoding="utf-8"):
        kind, *fields = line.split() or ["#"]
        if kind == "token":
            tokens[fields[0]] = [NAMES[name.rstrip("!")] + "!" * (
                name[-1] == "!") for name in fields[1:]]
        elif kind == "masks":
            masks = [int(mask, 16) for mask in fields]
        elif kind == "object":
            objects.append(fields)
        elif kind == "expect":
            cases.append(Case("expect%d" % len(cases), *fields[:5],
                              int(fields[5], 16), int(fields[6])))
    cases += [Case("%s/%s/%X" % (name, caller, mask), caller, parent, kind,
                   owner, dacl, mask)
              for name, parent, kind, owner, dacl in objects
              for caller in ("user", "admin", "system") for mask in masks]
    return tokens, masks, objects, cases


def main(wine_run, runner, cases_path):
    started = time.monotonic()
    tokens, masks, objects, cases = read_cases(cases_path)
    cases += generated(random.Random(SEED), masks)
    cases = [case._replace(parent=expand(case.parent), owner=expand(
        case.owner), dacl=expand(case.dacl)) for case in cases]
    lines = ["token %s %s" % (c, " ".join(s)) for c, s in tokens.items()]
    lines += ["case %s %s %s %s %s %s %X" % case[:7] for case in cases]
    run = subprocess.run([wine_run, runner], input="\n".join(lines) + "\n",
                         capture_output=True, text=True, check=True)
    simulated = {}
    for line in run.stdout.replace("\r", "").splitlines():
        words = line.split(" ", 2 if line.startswith(("token ", "default ")) else 1)
        simulated[" ".join(words[:-1])] = words[-1]

    failures = ["token of %s: the simulation's is %s" % (c, simulated.get(
        "token " + c)) for c in tokens if simulated.get("token " + c) != "ok"]
    failures += ["the simulation's %s: %s" % (name, simulated[
        "default " + name]) for name, _, _, owner, dacl in objects
        if simulated.get("default " + name, expand(owner) + " " +
                         expand(dacl)) != expand(owner) + " " + expand(dacl)]
    reference = Samba({caller: sids for caller, sids in tokens.items()
                       if not any(sid.endswith("!") for sid in sids)})
    needed = dict.fromkeys(DEVIATIONS, 0)
    for case in cases:
        sim = int(simulated[case.id])
        real = case.expect if case.expect is not None else reference.answer(
            case)
        excuse = next((name for name, (_, covers, answer) in DEVIATIONS.items()
                       if case.expect is None and covers(case) and
                       real == answer), None)
        if excuse and sim != real:
            needed[excuse] += 1
        elif sim != real:
            failures.append("%s: simulation %d, %s %d: %s" % (
                case.id, sim, "Samba" if case.expect is None else "expected",
                real, case))
    failures += ["deviation no longer needed: " + name
                 for name, count in needed.items() if count == 0]
    print("%d cases (%d seeded from %#x), deviations excused: %s, "
          "%d failures, %.1f s" % (len(cases), GENERATED, SEED, needed,
                                   len(failures), time.monotonic() - started))
    for failure in failures[:40]:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
