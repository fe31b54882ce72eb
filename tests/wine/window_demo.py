"""The window half of scripts/demo.sh: runs the installer in window mode under an X server of
its own and saves a screenshot each time the window shows something new, named after what its
status label shows in the picture."""
import pathlib
import re
import shutil
import subprocess
import time

import window_support as ws


class Capture:
    """One screenshot and the window's state read right after it was taken."""

    def __init__(self, path, state):
        self.path = path
        self.state = state

    @property
    def status(self):
        return self.state.status.text

    @property
    def showing_result(self):
        return not self.state.progress_bar.visible

    @property
    def progress_fraction(self):
        low, high = self.state.progress_range
        if self.state.progress is None or not high or high <= low:
            return 0.0
        return (self.state.progress - low) / (high - low)

    def __repr__(self):
        return "Capture(%s, %r, %.2f)" % (self.path.name, self.status, self.progress_fraction)


def _slug(text):
    return re.sub(r"[^a-z0-9]+", "-", text.lower()).strip("-")[:40] or "window"


def _shows_window(state):
    # A window that is being destroyed can be found with no controls left.
    return state.found and state.visible and bool(state.controls)


def _capture(session, folder, number, before):
    """Takes a picture of the window; keeps it, named after the status label, only when the
    label says the same after the picture as before it, so the name is what the picture shows."""
    taken = session.screenshot("capturing")
    if taken is None:
        return None
    try:
        after = session.state()
    except (subprocess.SubprocessError, ValueError):
        after = None
    if after is None or not _shows_window(after) or after.status.text != before.status.text:
        taken.unlink()
        return None
    path = pathlib.Path(folder) / ("%02d-%s.png" % (number, _slug(after.status.text)))
    taken.rename(path)
    return Capture(path, after)


def run_with_screenshots(env, folder, timeout=300, dpi=None, look=None):
    """Installs with the given environment at the given screen DPI (None: Wine's default) and
    look (a function of the display's environment that gives registry values for
    window_support.RegistryValues, such as a high-contrast scheme; None: the prefix's own);
    returns the exit code and the captures. Screenshots go to folder."""
    folder = pathlib.Path(folder)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    session = ws.WindowSession("demo")
    session.screenshots = folder
    session.display.start()
    ws.set_unmanaged_windows(session.display.env, True)
    ws.set_log_pixels(session.display.env, dpi)
    try:
        with ws.RegistryValues(session.display.env, look(session.display.env) if look else {}):
            return _install_with_screenshots(session, env, folder, timeout)
    finally:
        ws.set_log_pixels(session.display.env, None)
        ws.set_unmanaged_windows(session.display.env, False)
        session.display.stop()


def _install_with_screenshots(session, env, folder, timeout):
    """Runs the installer; returns its exit code and a capture of each new thing its window
    showed."""
    captures = []
    process = session.start_installer(env=env)
    seen = None
    deadline = time.monotonic() + timeout
    while process.poll() is None and time.monotonic() < deadline:
        try:
            state = session.state()
        except (subprocess.SubprocessError, ValueError):
            continue
        if _shows_window(state) and (state.status.text, state.progress) != seen:
            capture = _capture(session, folder, len(captures) + 1, state)
            if capture is not None:
                seen = (capture.state.status.text, capture.state.progress)
                captures.append(capture)
                print("demo: screenshot %s" % capture.path)
                # A shown result waits for the user: close it the way they would.
                if capture.showing_result:
                    session.probe("click", ws.ID_CANCEL)
        time.sleep(0.05)
    if process.poll() is None:
        process.kill()
    if not captures:
        print("demo: the install ended before its window could be captured")
    return process.wait(), captures
