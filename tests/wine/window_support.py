"""What the window tests share: an X server of their own, the prefix's screen DPI, the window
probe (tests/support/window_probe.cpp) and screenshots.

Wine 8 takes the screen DPI from the LogPixels value under HKCU\\Control Panel\\Desktop, and
without it from HKLM\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts
(96 when neither is set). Every process reads it when it starts; GetDpiForSystem and
GetDpiForWindow then both report it.

Wine's desktop process (explorer.exe) takes the X display of the program that started it. A
program run without a display (as the other end-to-end tests are) leaves a desktop that can
make no windows, and windows then fail until it ends by itself a few seconds after its last
program. VirtualDisplay.start waits for that, and every program the window tests run gets
the test's display.

Wine's windows are made unmanaged (HKCU\\Software\\Wine\\X11 Driver, Managed=N): Wine then
draws the caption and frame itself, so screenshots show them, and hiding a window does not
wait two seconds for a window manager that Xvfb does not have.
"""
import json
import os
import pathlib
import shutil
import subprocess
import tempfile
import time

import harness

PROBE = harness.SUPPORT_DIR / "window_probe.exe"
SCREENSHOT_DIR = harness.BUILD_DIR / "ui-screenshots"

DESKTOP_KEY = r"HKCU\Control Panel\Desktop"
X11_KEY = r"HKCU\Software\Wine\X11 Driver"
COLORS_KEY = r"HKCU\Control Panel\Colors"
THEME_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager"
METRICS_KEY = r"HKCU\Control Panel\Desktop\WindowMetrics"

# A high-contrast scheme in the manner of Windows' "High Contrast Black", visual styles off,
# as registry values for RegistryValues.
HIGH_CONTRAST = {(COLORS_KEY, name): ("REG_SZ", value) for name, value in {
    "Window": "0 0 0", "WindowText": "255 255 255", "ButtonFace": "0 0 0",
    "ButtonText": "255 255 255", "GrayText": "63 242 63", "Hilight": "26 235 255",
    "HilightText": "0 0 0", "ActiveTitle": "128 0 128", "TitleText": "255 255 255",
    "InactiveTitle": "0 128 0", "InactiveTitleText": "255 255 255", "WindowFrame": "255 255 255",
    "ButtonShadow": "128 128 128", "ButtonHilight": "192 192 192", "ButtonLight": "255 255 255",
    "ButtonDkShadow": "255 255 255", "ActiveBorder": "0 0 0", "InactiveBorder": "0 0 0",
}.items()}
HIGH_CONTRAST[(THEME_KEY, "ThemeActive")] = ("REG_SZ", "0")

# Windows' default message font is 12 pixels high at 96 DPI (Segoe UI 9 pt).
DEFAULT_MESSAGE_FONT_HEIGHT = 12

ID_CANCEL = 101
ID_TRY_AGAIN = 102
IDCANCEL = 2
WM_INSTALL_STEP = 0x8001
WM_INSTALL_PROGRESS = 0x8002
WM_INSTALL_DONE = 0x8003

STATUS_TEXTS = [
    "Checking this computer\u2026",
    "Checking for the latest Vantile\u2026",
    "Downloading Vantile\u2026",
    "Unpacking Vantile\u2026",
    "Installing Vantile\u2026",
]


class VirtualDisplay:
    """An Xvfb server on a display number that no other server uses (Xvfb picks it)."""

    def __init__(self, width=1280, height=1024):
        self.width = width
        self.height = height
        self.process = None
        self.name = None

    def start(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
             "%dx%dx24" % (self.width, self.height), "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            self.stop()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number.decode().strip()
        wait_for_desktop(self.name)
        return self

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
            self.process = None

    @property
    def env(self):
        return {"DISPLAY": self.name}


def prefix_desktops():
    """(pid, DISPLAY or None) of each desktop process (explorer.exe) of the test prefix."""
    prefix = os.path.realpath(str(harness.PREFIX))
    found = []
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if b"explorer.exe" not in (entry / "cmdline").read_bytes():
                continue
            environment = (entry / "environ").read_bytes().split(b"\0")
        except OSError:
            continue
        values = dict(item.split(b"=", 1) for item in environment if b"=" in item)
        wineprefix = values.get(b"WINEPREFIX", b"").decode(errors="replace")
        if not wineprefix or os.path.realpath(wineprefix) != prefix:
            continue
        display = values.get(b"DISPLAY")
        found.append((int(entry.name), display.decode(errors="replace") if display else None))
    return found


def wait_for_desktop(display_name, timeout=60.0):
    """Waits until the prefix has no desktop tied to another display (or to none)."""
    if not harness.wait_for(lambda: all(display == display_name for _, display in prefix_desktops()),
                            timeout=timeout, interval=0.2):
        raise AssertionError("the prefix's desktop still belongs to another display: %s"
                             % prefix_desktops())


def reg(display_env, *arguments):
    subprocess.run(harness.wine_command("reg", arguments), env=harness.wine_env(display_env), check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)


def set_log_pixels(display_env, dpi):
    """The prefix's screen DPI for programs started from now on; None removes the setting."""
    harness.start_wineserver()
    if dpi is None:
        reg(display_env, "delete", DESKTOP_KEY, "/v", "LogPixels", "/f")
    else:
        reg(display_env, "add", DESKTOP_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")


def set_unmanaged_windows(display_env, unmanaged):
    harness.start_wineserver()
    if unmanaged:
        reg(display_env, "add", X11_KEY, "/v", "Managed", "/t", "REG_SZ", "/d", "N", "/f")
    else:
        reg(display_env, "delete", X11_KEY, "/v", "Managed", "/f")


def reg_value(display_env, key, name):
    """(type, data) of a registry value as `reg query` prints it, or None when it is not set."""
    harness.start_wineserver()
    result = subprocess.run(harness.wine_command("reg", ["query", key, "/v", name]), env=harness.wine_env(display_env),
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120, check=False)
    for line in result.stdout.decode(errors="replace").splitlines():
        parts = line.split(None, 2)
        if len(parts) >= 2 and parts[0] == name and parts[1].startswith("REG_"):
            return parts[1], parts[2] if len(parts) > 2 else ""
    return None


def message_font_at(display_env, percent):
    """Registry values that make the prefix's message font `percent` of Windows' default
    height, as "Make text bigger" does; the face and the rest stay the prefix's."""
    kind, data = reg_value(display_env, METRICS_KEY, "MessageFont")
    height = -(DEFAULT_MESSAGE_FONT_HEIGHT * percent // 100)
    # A LOGFONTW: its height comes first, 4 bytes little-endian.
    return {(METRICS_KEY, "MessageFont"): (kind, (height & 0xFFFFFFFF).to_bytes(4, "little").hex().upper() + data[8:])}


# Where Wine keeps a system parameter that a program set for the session only
# (SystemParametersInfo without SPIF_UPDATEINIFILE, as the Win32 unit tests do): a volatile
# copy that every program reads before the registry value, for as long as the wineserver runs.
SESSION_PARAMETERS_KEY = r"HKCU\Software\Wine\Temporary System Parameters"


def session_copy_key(key):
    """The key of Wine's session copy of an HKCU\\Control Panel value, else None."""
    user_prefix = "HKCU\\"
    if not key.startswith(user_prefix + "Control Panel"):
        return None
    return SESSION_PARAMETERS_KEY + "\\" + key[len(user_prefix):]


class RegistryValues:
    """Sets registry values in the test prefix for programs started from now on, and puts back
    what was there before (or removes them) at the end of the with-block. A session copy of a
    value that an earlier program left goes, so that the value set here is the one read."""

    def __init__(self, display_env, values):
        self.env = display_env
        self.values = values  # {(key, name): (type, data)}
        self.saved = {}

    def __enter__(self):
        for (key, name), (kind, data) in self.values.items():
            self.saved[(key, name)] = reg_value(self.env, key, name)
            reg(self.env, "add", key, "/v", name, "/t", kind, "/d", data, "/f")
            session_key = session_copy_key(key)
            if session_key is not None:
                reg(self.env, "delete", session_key, "/v", name, "/f")
            # `reg` says nothing when it fails: a program started now must find the value, or
            # the test would check the prefix's own setting and blame the program.
            written = reg_value(self.env, key, name)
            shadow = reg_value(self.env, session_key, name) if session_key is not None else None
            if written != (kind, data) or shadow is not None:
                self.__exit__()
                raise AssertionError("%s\\%s is %r after setting it to %r (session copy: %r)" % (
                    key, name, written, (kind, data), shadow))
        return self

    def __exit__(self, *exc):
        for (key, name), old in self.saved.items():
            if old is None:
                reg(self.env, "delete", key, "/v", name, "/f")
            else:
                reg(self.env, "add", key, "/v", name, "/t", old[0], "/d", old[1], "/f")


class WindowSession:
    """One X server and the prefix set up for window tests; a test class holds one."""

    def __init__(self, test_name):
        self.display = VirtualDisplay()
        self.screenshots = SCREENSHOT_DIR / test_name
        self.installers = []
        self.wine_errors = {}  # installer process: the file with Wine's errors
        self.desktop_holders = []  # window_probe desktop processes, the last one usable

    def start(self):
        self.display.start()
        set_unmanaged_windows(self.display.env, True)
        set_log_pixels(self.display.env, None)
        shutil.rmtree(self.screenshots, ignore_errors=True)
        self.screenshots.mkdir(parents=True, exist_ok=True)
        self.hold_desktop()
        return self

    def hold_desktop(self, timeout=180.0):
        """Wine's desktop, held open for the session. Its explorer loads the display driver
        and ends about a second after the last program that used the desktop; the next program
        starts it again, and one started while it was starting again was seen with no windows
        at all. A holder that came too early stays until one finds the desktop usable, so that
        the explorer it started goes on starting."""
        deadline = time.monotonic() + timeout
        while True:
            harness.start_wineserver()
            holder = subprocess.Popen(harness.wine_command(PROBE, ["desktop"]),
                                      env=harness.wine_env(self.display.env),
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      stderr=subprocess.DEVNULL)
            self.desktop_holders.append(holder)
            answer = holder.stdout.readline()
            if answer and json.loads(answer)["desktop"]:
                break
            if time.monotonic() > deadline:
                raise AssertionError("Wine's desktop on %s could not be used" % self.display.name)
            time.sleep(1.0)
        for early in self.desktop_holders[:-1]:
            self.release_desktop_holder(early)
        del self.desktop_holders[:-1]

    @staticmethod
    def release_desktop_holder(holder):
        holder.stdin.close()
        try:
            holder.wait(timeout=30)
        except subprocess.TimeoutExpired:
            holder.kill()
            holder.wait()
        holder.stdout.close()

    def stop(self):
        for process in self.installers:
            if process.poll() is None:
                process.kill()
                process.wait()
        for errors in self.wine_errors.values():
            errors.close()
        for holder in self.desktop_holders:
            self.release_desktop_holder(holder)
        set_log_pixels(self.display.env, None)
        set_unmanaged_windows(self.display.env, False)
        self.display.stop()

    def set_log_pixels(self, dpi):
        set_log_pixels(self.display.env, dpi)

    def env(self, extra=None):
        merged = dict(self.display.env)
        merged.update(extra or {})
        return merged

    # -- the installer ------------------------------------------------------------------

    def start_installer(self, args=(), env=None):
        """Starts the installer (window mode by default); the caller waits for it."""
        harness.start_wineserver()
        # Wine's own errors go to a file (a pipe would be held open by what Wine starts on the
        # way), so that a window that never came says why.
        errors = tempfile.TemporaryFile()
        process = subprocess.Popen(harness.wine_command(harness.EXE, args),
                                   env=harness.wine_env(self.env({**harness.WINE_ERRORS, **(env or {})})),
                                   stdout=subprocess.DEVNULL, stderr=errors)
        self.installers.append(process)
        self.wine_errors[process] = errors
        return process

    def last_installer_said(self):
        """The exit code and Wine's errors of the installer started last, for a failure."""
        if not self.installers or self.installers[-1] not in self.wine_errors:
            return None
        process = self.installers[-1]
        errors = self.wine_errors[process]
        errors.seek(0)
        return process.poll(), errors.read().decode(errors="replace")[-2000:]

    def run_installer(self, args=(), env=None, timeout=120):
        return harness.run_program(harness.EXE, args, env=self.env(env), timeout=timeout).returncode

    # -- the probe ----------------------------------------------------------------------

    def probe(self, *arguments):
        result = harness.run_program(PROBE, [str(a) for a in arguments], env=self.env(), timeout=60)
        output = result.stdout.decode("utf-8").strip()
        if not output:
            raise AssertionError("window_probe %s printed nothing (exit %d): %s" % (
                " ".join(map(str, arguments)), result.returncode,
                result.stderr.decode(errors="replace")[-2000:]))
        return json.loads(output.splitlines()[-1])

    def state(self):
        return WindowState(self.probe("state"))

    def wait_state(self, predicate, timeout=60.0, what="the window"):
        """Polls the window until predicate(state) holds; returns that state."""
        deadline = time.monotonic() + timeout
        last = None
        while time.monotonic() < deadline:
            last = self.state()
            if last.found and predicate(last):
                return last
            time.sleep(0.1)
        raise AssertionError("timed out waiting for %s; last state: %s; lock: %s; log: %s; "
                             "installer (exit code, Wine's errors): %s" % (
                                 what, last, self.probe("lock"), harness.read_log()[-6:],
                                 self.last_installer_said()))

    def wait_for_status(self, text, timeout=60.0):
        return self.wait_state(lambda s: s.visible and s.status.text == text, timeout,
                               "status %r" % text)

    def wait_for_exit(self, process, timeout=120):
        return process.wait(timeout=timeout)

    def error_box(self, dismiss=False):
        return self.probe("errorbox", "dismiss") if dismiss else self.probe("errorbox")

    # -- screenshots --------------------------------------------------------------------

    def window_ids(self, name="Install Vantile"):
        result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                                env=dict(os.environ, **self.display.env),
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30)
        return result.stdout.decode().split()

    def ink_box(self, screenshot, state, control):
        """(width, height) of what is drawn inside a control in a screenshot of the window:
        the box around every pixel that differs from the control's background."""
        x = state.client_origin[0] - state.window[0] + control.rect[0]
        y = state.client_origin[1] - state.window[1] + control.rect[1]
        result = subprocess.run(
            ["convert", str(screenshot), "-crop", "%dx%d+%d+%d" % (control.rect[2], control.rect[3], x, y),
             "+repage", "-fuzz", "20%", "-format", "%@", "info:"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30, check=True)
        size = result.stdout.decode().split("+")[0]
        width, height = size.split("x")
        return int(width), int(height)

    def pixel(self, screenshot, state, x, y):
        """The colour at a client-area point of a screenshot of the window, as ImageMagick
        names it (for example "srgb(255,255,255)" or "white")."""
        x += state.client_origin[0] - state.window[0]
        y += state.client_origin[1] - state.window[1]
        result = subprocess.run(["convert", str(screenshot), "-format", "%%[pixel:p{%d,%d}]" % (x, y),
                                 "info:"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                timeout=30, check=True)
        return result.stdout.decode().strip()

    def brightness(self, screenshot, state, rect):
        """(darkest, lightest) grey level, 0 to 1, inside a client-area rectangle of a
        screenshot of the window."""
        x = state.client_origin[0] - state.window[0] + rect[0]
        y = state.client_origin[1] - state.window[1] + rect[1]
        result = subprocess.run(
            ["convert", str(screenshot), "-crop", "%dx%d+%d+%d" % (rect[2], rect[3], x, y), "+repage",
             "-colorspace", "gray", "-format", "%[fx:minima] %[fx:maxima]", "info:"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30, check=True)
        darkest, lightest = result.stdout.decode().split()
        return float(darkest), float(lightest)

    def assert_label_in_window_colour(self, test, screenshot, state):
        """The status label's empty right end has the colour of the client area around it."""
        x, y, w, h = state.status.rect
        test.assertEqual(self.pixel(screenshot, state, x + w - 2, y + h // 2),
                         self.pixel(screenshot, state, x + w - 2, y - 4),
                         "the status label is not painted in the window colour")

    def screenshot(self, name, window_name="Install Vantile"):
        """Captures the visible window of that name into the screenshot folder; returns the
        file, or None when no such window is visible."""
        path = self.screenshots / ("%s.png" % name)
        # The window is painted after it is shown: give it a moment.
        time.sleep(0.3)
        for window_id in self.window_ids(window_name):
            result = subprocess.run(["import", "-window", window_id, str(path)],
                                    env=dict(os.environ, **self.display.env),
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
            if result.returncode == 0 and path.exists():
                return path
        return None


class WindowTestCase(harness.InstallerTestCase):
    """A test class whose tests share one WindowSession, named by SESSION_NAME (which
    also names the folder of its screenshots)."""

    SESSION_NAME = "window"

    @classmethod
    def setUpClass(cls):
        cls.session = WindowSession(cls.SESSION_NAME).start()

    @classmethod
    def tearDownClass(cls):
        cls.session.stop()


class Control:
    def __init__(self, data):
        self.data = data
        self.cls = data["class"]
        self.id = data["id"]
        self.text = data["text"]
        self.visible = data["visible"]
        self.enabled = data["enabled"]
        self.rect = tuple(data["rect"])
        self.style = data["style"]

    def __repr__(self):
        return "Control(%s id=%d %r visible=%s enabled=%s rect=%s)" % (
            self.cls, self.id, self.text, self.visible, self.enabled, self.rect)


class WindowState:
    """What the probe saw of the installer window."""

    def __init__(self, data):
        self.data = data
        self.found = data.get("found", False)
        if not self.found:
            return
        self.visible = data["visible"]
        self.client = tuple(data["client"][2:])
        self.window = tuple(data["window"])
        self.client_origin = tuple(data["client_origin"])
        self.work_area = tuple(data.get("work_area", (0, 0, 0, 0)))
        self.focus = data["focus"]
        self.controls = [Control(c) for c in data["controls"]]
        self.progress = data.get("progress")
        self.progress_range = (data.get("progress_low"), data.get("progress_high"))
        self.pid = data["pid"]

    def by_class(self, name):
        return [c for c in self.controls if c.cls.lower() == name.lower()][0]

    def by_id(self, control_id):
        return [c for c in self.controls if c.id == control_id][0]

    @property
    def status(self):
        return self.by_class("Static")

    @property
    def progress_bar(self):
        return self.by_class("msctls_progress32")

    @property
    def details(self):
        return self.by_class("Edit")

    @property
    def cancel(self):
        return self.by_id(ID_CANCEL)

    @property
    def try_again(self):
        return self.by_id(ID_TRY_AGAIN)

    def __repr__(self):
        if not self.found:
            return "WindowState(no window)"
        return "WindowState(visible=%s client=%s focus=%s progress=%s %s)" % (
            self.visible, self.client, self.focus, self.progress, self.controls)


def scaled(value, dpi):
    """The window's scaling rule: truncated, never rounded."""
    return value * dpi // 96


def layout_of(state):
    """(x, y, width, height) of each control, keyed by probe class or id."""
    return {
        "Static": state.status.rect,
        "msctls_progress32": state.progress_bar.rect,
        "Edit": state.details.rect,
        ID_TRY_AGAIN: state.try_again.rect,
        ID_CANCEL: state.cancel.rect,
    }
