#!/usr/bin/env python3
"""End-to-end test of the shipped bundle under Wine.

    run_e2e.py BUNDLE_DIR OBJDUMP WINDRES

Installs the bundle in a private prefix, provisions the tunnel service with
the installer's definition (tools/wine_app.py), and lets the stand-in
engine's scenarios play the UI: the flow of the tunnel channel, the window's
start-up, the plug-ins, the entry arguments, closing, a dwmapi.dll planted
beside the exe, a bundle without its data folder or its engine library, the
window thread's responsiveness while a slow connect waits, and closing the
app while that connect runs. Exits non-zero when any check fails.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..",
                                "tools"))
import wine_app  # noqa: E402

PRIVATE_KEY = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8="
PUBLIC_KEY = "AQIDBAUGBwgJCgsMDQ4PEBESExQVFhcYGRobHB0eHyA="


def config(extra=""):
    """Returns a configuration the stand-in tunnel accepts, JSON-escaped."""
    return ("[Interface]\\nPrivateKey = " + PRIVATE_KEY +
            "\\nAddress = 10.8.0.2/32\\n\\n[Peer]\\nPublicKey = " +
            PUBLIC_KEY + "\\nAllowedIPs = 0.0.0.0/0\\n"
            "Endpoint = 198.51.100.7:51820\\n" + extra)


VALID = config()
SLOW = config("\\n[StandIn]\\nStartDelayMs = 3000\\n")
# Well-formed for the app, refused by the tunnel (no [Peer] section).
REJECTED = ("[Interface]\\nPrivateKey = " + PRIVATE_KEY +
            "\\nAddress = 10.8.0.2/32\\n")

FLOW_SCENARIO = f"""
wait_visible
call stage
call connect {{"config":"{VALID}"}}
call stage
call connect [1,2]
send connect {{"config":"{SLOW}"}}
sleep 300
call connect {{"config":"{VALID}"}}
call disconnect
wait_reply
call stage
call connect {{"config":"{REJECTED}"}}
call disconnect
call stage
close
"""

# Only the slow connect runs while the probe measures, so the figure is the
# window thread's lateness while an operation waits in the background.
RESPONSIVENESS_SCENARIO = f"""
wait_visible
sleep 200
call connect {{"config":"{SLOW}"}}
close
"""

RESPONSIVENESS_LIMIT_MS = 50

# The app is closed while the slow connect waits for the service to start.
CLOSE_DURING_CONNECT_SCENARIO = f"""
wait_visible
call disconnect
# Wine may refuse a service start that follows a stop too closely.
sleep 1000
send connect {{"config":"{SLOW}"}}
sleep 500
close
"""

# A later run of the app finds the service where the closed one left it
# heading, then takes the tunnel down again.
AFTER_CLOSE_SCENARIO = """
wait_stage connected 15000
call disconnect
call stage
close
"""

# From the posted WM_CLOSE to the end of the process. Without Wine's virtual
# desktop Wine's X11 driver alone takes about 2 s to let a window go.
CLOSE_LIMIT_S = 4.0

THEME_KEY = ("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\"
             "Themes\\Personalize")


class Checks:
    def __init__(self):
        self.failures = []

    def expect(self, condition, what):
        print(("  ok    " if condition else "  FAIL  ") + what)
        if not condition:
            self.failures.append(what)


def replies_by_call(events):
    """Pairs each scenario call with its reply, in call order."""
    replies = {e["id"]: e for e in events
               if e["event"] == "reply" and e.get("source") == "scenario"}
    return [(e, replies.get(e["id"])) for e in events
            if e["event"] == "call" and e.get("source") == "scenario"]


def check_reply(checks, pair, method, kind, value=None, code=None):
    call, reply = pair
    label = f"#{call['id']} {method}"
    checks.expect(call["method"] == method, f"{label}: call order")
    if reply is None:
        checks.expect(False, f"{label}: answered")
        return
    outcome = reply["kind"] + (" " + str(reply.get("code"))
                               if reply["kind"] == "error" else "")
    checks.expect(reply["kind"] == kind, f"{label}: {kind} (got {outcome})")
    if kind == "success":
        checks.expect(reply.get("value") == value,
                      f"{label}: value {value!r} (got {reply.get('value')!r})")
    if code is not None:
        checks.expect(reply.get("code") == code,
                      f"{label}: code {code!r} (got {reply.get('code')!r})")


def check_flow(checks, exit_code, events):
    print("flow:")
    checks.expect(exit_code == 0, f"closing the window exits 0 (got {exit_code})")
    kinds = [e["event"] for e in events]

    created = [e for e in events if e["event"] == "engine_created"]
    checks.expect(len(created) == 1, "one engine created")
    if created:
        checks.expect(created[0]["entry_arguments"] ==
                      ["/Service", "/service", "--flag"],
                      "entry arguments arrive whole and in order")
        checks.expect(created[0]["assets_path"] == "data\\flutter_assets",
                      "assets from data\\flutter_assets")

    plugins = [e for e in events if e["event"] == "plugin_registered"]
    checks.expect([p["plugin"] for p in plugins] == [
        "AppLinksPluginCApi", "SharePlusWindowsPluginCApi",
        "UrlLauncherWindows", "WireguardFlutterPluginCApi"],
        "plug-ins registered once each, in order")
    checks.expect(all(p["registrar_plugin"] == p["plugin"] for p in plugins),
                  "each plug-in got the registrar for its own name")
    channel = kinds.index("channel_set") if "channel_set" in kinds else -1
    last_plugin = max((i for i, k in enumerate(kinds)
                       if k == "plugin_registered"), default=len(kinds))
    checks.expect(last_plugin < channel and
                  events[channel]["channel"] == "varn/wintunnel",
                  "tunnel channel attached after them")

    visible = kinds.index("window_visible") if "window_visible" in kinds else -1
    first_frame = kinds.index("next_frame_callback") \
        if "next_frame_callback" in kinds else -1
    checks.expect(visible > first_frame >= 0,
                  "window hidden until the first frame, then shown")

    pairs = replies_by_call(events)
    expected = [
        ("stage", "success", "disconnected", None),
        ("connect", "success", None, None),
        ("stage", "success", "connected", None),
        ("connect", "error", None, "bad_args"),
        ("connect", "success", None, None),    # the slow one, sent
        ("connect", "error", None, "busy"),
        ("disconnect", "error", None, "busy"),
        ("stage", "success", "connected", None),
        ("connect", "error", None, "tunnel_failed"),
        ("disconnect", "success", None, None),
        ("stage", "success", "disconnected", None),
    ]
    checks.expect(len(pairs) == len(expected),
                  f"{len(expected)} calls made (got {len(pairs)})")
    for pair, (method, kind, value, code) in zip(pairs, expected):
        check_reply(checks, pair, method, kind, value, code)
    if len(pairs) > 8 and pairs[8][1] is not None:
        message = pairs[8][1].get("message") or ""
        checks.expect(message != "", f"tunnel_failed carries its message: "
                      f"{message!r}")
    if len(pairs) > 5 and pairs[4][1] and pairs[5][1]:
        checks.expect(pairs[5][1]["t_ms"] < pairs[4][1]["t_ms"],
                      "busy is answered while the slow connect still runs")

    checks.expect(not any(e["event"] in ("fault", "timeout") for e in events),
                  "no faults and no timeouts")
    checks.expect("engine_destroyed" in kinds, "engine shut down on close")


def check_close_during_connect(checks, prefix, app_dir, work):
    print("closing during a connect:")
    closed = []

    def note_close(transcript):
        if not closed and any(e["event"] == "close_posted"
                              for e in wine_app.read_transcript(transcript)):
            closed.append(time.monotonic())

    exit_code, events = wine_app.run_app(
        prefix, app_dir, [], CLOSE_DURING_CONNECT_SCENARIO, work,
        "close_during_connect", while_running=note_close)
    took = time.monotonic() - closed[0] if closed else float("inf")
    checks.expect(exit_code == 0, f"exits 0 (got {exit_code})")
    stamps = {e["event"]: e["t_ms"] for e in events}
    teardown = stamps.get("view_destroyed", 0) - stamps.get("close_posted", 0)
    print(f"  close to view destroyed {teardown} ms, to process end "
          f"{took:.1f} s (polled every 0.1 s)")
    checks.expect(took <= CLOSE_LIMIT_S,
                  f"ends within {CLOSE_LIMIT_S} s of the close")
    checks.expect(not any(e["event"] in ("fault", "timeout") for e in events),
                  "no faults and no timeouts")
    pairs = replies_by_call(events)
    checks.expect([p[1] is None for p in pairs] == [False, True],
                  "the connect is left unanswered")
    config_file = prefix.drive_c("ProgramData", "VarnVPN", "VarnVPN.conf")
    written = None
    if os.path.exists(config_file):
        with open(config_file, encoding="utf-8", newline="") as text:
            written = text.read()
    checks.expect(written == SLOW.replace("\\n", "\n"),
                  "the configuration file holds the connect's text")

    exit_code, events = wine_app.run_app(
        prefix, app_dir, [], AFTER_CLOSE_SCENARIO, work, "after_close")
    checks.expect([e["ok"] for e in events if e["event"] == "wait_stage"] ==
                  [True], "the service still comes up after the app has gone")
    pairs = replies_by_call(events)
    checks.expect(exit_code == 0 and len(pairs) == 2 and pairs[1][1] and
                  pairs[1][1].get("value") == "disconnected" and
                  not os.path.exists(config_file),
                  "a later disconnect takes it down and deletes the file")


def check_imports(checks, exe, objdump, prefix):
    print("imports:")
    output = subprocess.run([objdump, "-p", exe], capture_output=True,
                            text=True, check=True).stdout
    dlls = [line.split(":", 1)[1].strip() for line in output.splitlines()
            if "DLL Name:" in line]
    bundled = {"flutter_windows.dll", "app_links_plugin.dll",
               "share_plus_plugin.dll", "url_launcher_windows_plugin.dll",
               "wireguard_flutter_plugin.dll"}
    system32 = {name.lower() for name in
                os.listdir(prefix.drive_c("windows", "system32"))}
    for dll in dlls:
        checks.expect(dll.lower() in bundled or dll.lower() in system32,
                      f"imports {dll}: bundled or a system library")
    # The one-shot modes must not load them: the exe binds them on first use.
    checks.expect(not bundled & {d.lower() for d in dlls},
                  "binds neither the engine nor a plug-in at load time")


def check_resources(checks, exe, windres):
    print("resources:")
    # windres reads the .rsrc section back as resource script text, where
    # quotes inside strings are doubled.
    script = subprocess.run([windres, "-J", "coff", "-O", "rc", "-i", exe],
                            capture_output=True, text=True,
                            check=True).stdout.replace('""', '"')
    checks.expect("101 14 /* RT_GROUP_ICON */" in script,
                  "application icon as icon group 101")
    checks.expect("VERSIONINFO" in script and '"varn_vpn.exe"' in script,
                  "version information")
    checks.expect("1 24 /* RT_MANIFEST */" in script, "manifest")
    for text, what in [
            (">PerMonitorV2<", "per-monitor (v2) DPI awareness"),
            ('level="asInvoker" uiAccess="false"', "asInvoker, no UI access"),
            ("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "Windows 10 supported")]:
        checks.expect(text in script, "manifest: " + what)


def main():
    bundle, objdump, windres = sys.argv[1], sys.argv[2], sys.argv[3]
    checks = Checks()
    work = tempfile.mkdtemp(prefix="varn-e2e-work-")
    display = wine_app.VirtualDisplay()
    prefix = wine_app.WinePrefix(display.display)
    try:
        app_dir = prefix.install_bundle(bundle)
        # Marks its own load: neither the app nor the service may take a
        # system library from the app's folder.
        planted = os.path.join(app_dir, "dwmapi.dll")
        shutil.copy(os.path.join(bundle, "..", "bin", "planted",
                                 "planted.dll"), planted)
        # A theme value, so the window calls into dwmapi.dll.
        prefix.wine(["reg", "add", THEME_KEY, "/v", "AppsUseLightTheme",
                     "/t", "REG_DWORD", "/d", "0", "/f"], capture=True)
        prefix.provision_service(app_dir)
        print("service provisioned")
        check_imports(checks, os.path.join(bundle, "varn_vpn.exe"), objdump,
                      prefix)
        check_resources(checks, os.path.join(bundle, "varn_vpn.exe"), windres)

        exit_code, events = wine_app.run_app(
            prefix, app_dir, ["/Service", "/service", "--flag"],
            FLOW_SCENARIO, work, "flow")
        print("\n".join("    " + line
                        for line in wine_app.format_transcript(events)))
        check_flow(checks, exit_code, events)

        checks.expect(not os.path.exists(planted + ".loaded"),
                      "dwmapi.dll planted beside the exe stays unloaded")

        print("responsiveness:")
        exit_code, events = wine_app.run_app(
            prefix, app_dir, [], RESPONSIVENESS_SCENARIO, work,
            "responsiveness")
        figures = [e for e in events if e["event"] == "responsiveness"]
        pairs = replies_by_call(events)
        checks.expect(len(pairs) == 1 and pairs[0][1] is not None and
                      pairs[0][1]["kind"] == "success" and
                      pairs[0][1]["ms"] >= 3000,
                      "the slow connect succeeds after its start delay")
        if figures:
            late = figures[0]["max_late_ms"]
            print(f"  window thread at most {late} ms late over "
                  f"{figures[0]['samples']} probes")
            checks.expect(late <= RESPONSIVENESS_LIMIT_MS,
                          f"at most {RESPONSIVENESS_LIMIT_MS} ms late "
                          f"(got {late})")
        else:
            checks.expect(False, "responsiveness reported")
        checks.expect(exit_code == 0, "exits 0")

        check_close_during_connect(checks, prefix, app_dir, work)

        print("without data:")
        bare_dir = prefix.install_bundle(bundle, "Program Files/Varn Bare",
                                         with_data=False)
        exit_code, events = wine_app.run_app(
            prefix, bare_dir, [], "close\n", work, "no_data", timeout=60)
        checks.expect(exit_code == 1, f"exits 1 (got {exit_code})")
        checks.expect(any(e["event"] == "engine_refused" for e in events),
                      "the engine refused to start")

        print("without the engine library:")
        no_engine_dir = prefix.install_bundle(bundle,
                                              "Program Files/Varn No Engine")
        os.remove(os.path.join(no_engine_dir, "flutter_windows.dll"))
        exit_code, events = wine_app.run_app(
            prefix, no_engine_dir, [], "close\n", work, "no_engine",
            timeout=60)
        checks.expect(exit_code == 1, f"exits 1 (got {exit_code})")
    finally:
        prefix.close()
        display.close()

    if checks.failures:
        print(f"\n{len(checks.failures)} check(s) failed; transcripts in "
              f"{work}")
        return 1
    shutil.rmtree(work, ignore_errors=True)
    print("\nall checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
