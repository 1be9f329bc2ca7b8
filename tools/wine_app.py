"""Runs the application bundle under Wine, the way the end-to-end test and
the demo need it: a private prefix, the bundle installed under Program Files,
the tunnel service provisioned with the installer's definition, and runs
with a scenario for the stand-in engine whose transcript is read back.

Standard library only.
"""

import json
import os
import shutil
import subprocess
import tempfile
import time

SERVICE_NAME = "WireGuardTunnel$VarnVPN"
INSTALL_DIR = "Program Files/Varn VPN"
# The user Wine creates in a fresh prefix.
WINE_USER_SID = "S-1-5-21-0-0-0-1000"
# Built with the test sources into the bin folder beside the bundle; this
# one when no bundle was installed through install_bundle.
PROVISIONER = "provision_service.exe"
DEFAULT_BIN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                           "build", "windows", "bin")


class WinePrefix:
    """A private Wine prefix, booted on creation and removed by close()."""

    def __init__(self, display, path=None):
        self.keep = path is not None
        self.bundle_dir = None  # the bundle last installed, on the host
        self.path = os.path.abspath(path or tempfile.mkdtemp(prefix="varn-"))
        os.makedirs(self.path, exist_ok=True)
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": self.path,
            "WINEDEBUG": os.environ.get("WINEDEBUG", "-all"),
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "LC_ALL": "C.UTF-8",
            # Every process of the prefix, from wineboot on, sees the same
            # display; a desktop process started without one stays broken.
            "DISPLAY": display,
        })
        self.env.pop("VARN_STANDIN_SCENARIO", None)
        self.env.pop("VARN_STANDIN_TRANSCRIPT", None)
        if not os.path.exists(os.path.join(self.path, "system.reg")):
            subprocess.run(["wineboot", "-i"], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           check=False)
            self.wait_server()

    def wait_server(self):
        subprocess.run(["wineserver", "-w"], env=self.env, check=False)

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=False)
        self.wait_server()
        if not self.keep:
            shutil.rmtree(self.path, ignore_errors=True)

    def use_virtual_desktop(self, size):
        """Runs every later window of the prefix inside one Wine desktop of
        `size` ("WxH"), where Wine draws the frames and title bars itself;
        without a window manager a plain X window shows no frame."""
        key = "HKCU\\Software\\Wine\\Explorer"
        self.wine(["reg", "add", key, "/v", "Desktop", "/d", "Default", "/f"],
                  capture=True)
        self.wine(["reg", "add", key + "\\Desktops", "/v", "Default", "/d",
                   size, "/f"], capture=True)
        self.wait_server()

    def drive_c(self, *parts):
        return os.path.join(self.path, "drive_c", *parts)

    def install_bundle(self, bundle_dir, folder=INSTALL_DIR, with_data=True):
        """Copies the bundle into the prefix; returns the Unix path."""
        self.bundle_dir = os.path.abspath(bundle_dir)
        target = self.drive_c(folder)
        shutil.rmtree(target, ignore_errors=True)
        ignore = None if with_data else shutil.ignore_patterns("data")
        shutil.copytree(bundle_dir, target, ignore=ignore)
        return target

    def wine(self, args, cwd=None, extra_env=None, timeout=120,
             capture=False):
        """Runs `wine args...`; returns the CompletedProcess."""
        env = dict(self.env)
        env.update(extra_env or {})
        return subprocess.run(
            ["wine"] + list(args), cwd=cwd, env=env, timeout=timeout,
            stdout=subprocess.PIPE if capture else None,
            stderr=subprocess.PIPE if capture else None, check=False)

    def windows_path(self, unix_path):
        """The C: drive path of a file inside the prefix."""
        relative = os.path.relpath(unix_path, self.drive_c())
        return "C:\\" + relative.replace("/", "\\")

    def provision_service(self, app_dir):
        """Creates the data directory and the tunnel service for the app in
        `app_dir` with the installer's definition, straight through the
        service manager: the installer itself refuses every location under
        Wine, where every file reads as owned by the user. Then warms the
        service manager up: the first service start in a fresh prefix can
        time out."""
        bin_dir = DEFAULT_BIN if self.bundle_dir is None else \
            os.path.join(os.path.dirname(self.bundle_dir), "bin")
        provisioner = os.path.join(bin_dir, PROVISIONER)
        if not os.path.exists(provisioner):
            raise RuntimeError(f"{provisioner} is not built")
        exe = self.windows_path(os.path.join(app_dir, "varn_vpn.exe"))
        result = self.wine([provisioner, exe, WINE_USER_SID])
        if result.returncode != 0:
            raise RuntimeError(
                f"provisioning exited with {result.returncode}")
        # No configuration file yet, so the service host ends at once; this
        # only brings the service manager's helpers up.
        self.wine(["sc", "start", SERVICE_NAME], capture=True)
        time.sleep(1)
        self.wine(["sc", "stop", SERVICE_NAME], capture=True)


class VirtualDisplay:
    """An Xvfb server on a free display number, stopped by close()."""

    def __init__(self, size="1920x1080x24"):
        for number in range(90, 140):
            if not os.path.exists(f"/tmp/.X11-unix/X{number}") and \
                    not os.path.exists(f"/tmp/.X{number}-lock"):
                break
        else:
            raise RuntimeError("no free X display number")
        self.display = f":{number}"
        self.process = subprocess.Popen(
            ["Xvfb", self.display, "-screen", "0", size, "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 10
        while not os.path.exists(f"/tmp/.X11-unix/X{number}"):
            if time.time() > deadline or self.process.poll() is not None:
                raise RuntimeError("Xvfb did not start")
            time.sleep(0.05)

    def screenshot(self, path):
        """Saves the whole screen as an image file."""
        subprocess.run(["import", "-display", self.display, "-window", "root",
                        path], check=True)

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.process.kill()


def run_app(prefix, app_dir, arguments, scenario_text, work_dir, name,
            timeout=180, while_running=None):
    """Runs the app with a scenario; returns (exit code, transcript events).

    `while_running`, if given, is called with the transcript path every
    100 ms until the app ends."""
    scenario = os.path.join(work_dir, name + ".scenario")
    transcript = os.path.join(work_dir, name + ".jsonl")
    with open(scenario, "w", encoding="utf-8") as out:
        out.write(scenario_text)
    if os.path.exists(transcript):
        os.remove(transcript)
    env = dict(prefix.env)
    env.update({"VARN_STANDIN_SCENARIO": scenario,
                "VARN_STANDIN_TRANSCRIPT": transcript})
    process = subprocess.Popen(["wine", "varn_vpn.exe"] + list(arguments),
                               cwd=app_dir, env=env)
    deadline = time.time() + timeout
    while process.poll() is None:
        if time.time() > deadline:
            process.kill()
            process.wait()
            raise RuntimeError(f"{name}: the app did not end in {timeout} s")
        if while_running is not None:
            while_running(transcript)
        time.sleep(0.1)
    return process.returncode, read_transcript(transcript)


def read_transcript(path):
    """Returns the transcript's events; a torn last line is skipped."""
    events = []
    if not os.path.exists(path):
        return events
    with open(path, encoding="utf-8") as lines:
        for line in lines:
            try:
                events.append(json.loads(line))
            except json.JSONDecodeError:
                pass
    return events


def _short(value, limit=60):
    text = json.dumps(value, ensure_ascii=False)
    text = text.replace("\\n", "\u23ce")
    return text if len(text) <= limit else text[:limit - 1] + "\u2026"


def format_transcript(events):
    """Renders the transcript as a readable log, one line per event that a
    person cares about."""
    lines = []
    for event in events:
        kind = event.get("event")
        t = f"{event.get('t_ms', 0):>6} ms  "
        if kind == "call":
            args = event.get("arguments")
            shown = "" if args is None else " " + _short(args)
            lines.append(f"{t}-> #{event['id']} {event['method']}{shown}"
                         f"  [{event.get('source')}]")
        elif kind == "reply":
            if event["kind"] == "success":
                outcome = "success " + _short(event.get("value"))
            elif event["kind"] == "error":
                outcome = (f"error {event.get('code')!r}: "
                           f"{event.get('message')}")
            else:
                outcome = "not implemented"
            lines.append(f"{t}<- #{event['id']} {event['method']}: {outcome}"
                         f"  ({event.get('ms')} ms)")
        elif kind == "engine_created":
            lines.append(f"{t}engine started, entry arguments "
                         f"{_short(event.get('entry_arguments'), 80)}")
        elif kind == "engine_refused":
            lines.append(f"{t}engine refused: {event.get('reason')}")
        elif kind == "plugin_registered":
            lines.append(f"{t}plug-in {event['order']}: {event['plugin']}")
        elif kind == "channel_set":
            lines.append(f"{t}channel {event['channel']} attached")
        elif kind == "window_visible":
            lines.append(f"{t}window shown")
        elif kind == "wait_stage":
            lines.append(f"{t}stage became {event['value']!r}: "
                         f"{'yes' if event['ok'] else 'NO'} after "
                         f"{event['polls']} polls")
        elif kind == "timeout":
            lines.append(f"{t}TIMEOUT in step: {event.get('text')}")
        elif kind == "fault":
            lines.append(f"{t}FAULT {event.get('kind')}: {event.get('detail')}")
        elif kind == "responsiveness":
            lines.append(f"{t}window thread: at most {event['max_late_ms']} ms "
                         f"late over {event['samples']} probes")
        elif kind == "close_posted":
            lines.append(f"{t}window closed")
        elif kind == "engine_destroyed":
            lines.append(f"{t}engine shut down")
    return lines
