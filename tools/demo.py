#!/usr/bin/env python3
"""The demo: the bundle under Wine with the service provisioned, a short
scenario played by the stand-in engine, the transcript as a readable log and
a screenshot of the window while the tunnel is connected.

    demo.py BUNDLE_DIR OUTPUT_DIR
"""

import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_app  # noqa: E402

SAMPLE_CONFIG = (
    "[Interface]\\n"
    "PrivateKey = AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=\\n"
    "Address = 10.8.0.2/32\\n"
    "DNS = 10.8.0.1\\n\\n"
    "[Peer]\\n"
    "PublicKey = AQIDBAUGBwgJCgsMDQ4PEBESExQVFhcYGRobHB0eHyA=\\n"
    "AllowedIPs = 0.0.0.0/0\\n"
    "Endpoint = 198.51.100.7:51820\\n")

# The pause after "connected" leaves time for the screenshot.
SCENARIO = f"""
wait_visible
call stage
call connect {{"config":"{SAMPLE_CONFIG}"}}
call stage
sleep 2500
call disconnect
call stage
sleep 500
close
"""


class ConnectedScreenshot:
    """Takes one screenshot once the transcript shows "connected"."""

    def __init__(self, display, path):
        self.display = display
        self.path = path
        self.connected_at = None
        self.taken = False

    def __call__(self, transcript):
        if self.taken:
            return
        if self.connected_at is None:
            for event in wine_app.read_transcript(transcript):
                if (event["event"] == "reply" and event["method"] == "stage"
                        and event.get("value") == "connected"):
                    self.connected_at = time.time()
            return
        # Give the panel a moment to draw the new stage.
        if time.time() - self.connected_at >= 0.8:
            self.display.screenshot(self.path)
            self.taken = True


def main():
    bundle, output = sys.argv[1], os.path.abspath(sys.argv[2])
    os.makedirs(output, exist_ok=True)
    screenshot = os.path.join(output, "varn_vpn.png")
    if os.path.exists(screenshot):
        os.remove(screenshot)
    prefix_dir = os.path.join(output, "wineprefix")
    shutil.rmtree(prefix_dir, ignore_errors=True)

    print("demo: starting a virtual display and a private Wine prefix", flush=True)
    display = wine_app.VirtualDisplay("1300x740x24")
    # The prefix lives under the output folder while the demo runs and is
    # removed afterwards unless VARN_DEMO_KEEP_PREFIX=1 (it takes ~700 MB).
    prefix = wine_app.WinePrefix(display.display, prefix_dir)
    prefix.keep = os.environ.get("VARN_DEMO_KEEP_PREFIX") == "1"
    try:
        prefix.use_virtual_desktop("1300x740")
        app_dir = prefix.install_bundle(bundle)
        prefix.provision_service(app_dir)
        print("demo: tunnel service provisioned with the installer's "
              "definition")
        print("demo: running varn_vpn.exe with the demo scenario\n")
        shooter = ConnectedScreenshot(display, screenshot)
        work = tempfile.mkdtemp(prefix="varn-demo-")
        exit_code, events = wine_app.run_app(
            prefix, app_dir, [], SCENARIO, work, "demo",
            while_running=shooter)
        shutil.copy(os.path.join(work, "demo.jsonl"),
                    os.path.join(output, "transcript.jsonl"))
        shutil.rmtree(work, ignore_errors=True)
    finally:
        prefix.close()
        display.close()

    for line in wine_app.format_transcript(events):
        print("  " + line)
    print(f"\ndemo: varn_vpn.exe exited with {exit_code}")
    print(f"demo: transcript saved as {output}/transcript.jsonl")
    if shooter.taken:
        print(f"demo: screenshot while connected saved as {screenshot}")
    else:
        print("demo: no screenshot: the tunnel never reported connected")
    failed = exit_code != 0 or not shooter.taken or any(
        e["event"] in ("fault", "timeout") for e in events)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
