"""The window half of scripts/demo.sh: runs the installer in window mode under an X server of
its own and saves a screenshot each time the window shows something new."""
import pathlib
import re
import shutil
import subprocess
import time

import window_support as ws


def _slug(text):
    return re.sub(r"[^a-z0-9]+", "-", text.lower()).strip("-")[:40] or "window"


def run_with_screenshots(env, folder, timeout=300):
    """Installs with the given environment; returns the exit code. Screenshots go to folder."""
    folder = pathlib.Path(folder)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    session = ws.WindowSession("demo")
    session.screenshots = folder
    session.display.start()
    ws.set_unmanaged_windows(session.display.env, True)
    try:
        process = session.start_installer(env=env)
        seen = None
        count = 0
        deadline = time.monotonic() + timeout
        while process.poll() is None and time.monotonic() < deadline:
            try:
                state = session.state()
            except (subprocess.SubprocessError, ValueError):
                continue
            # A window that is being destroyed can be found with no controls left.
            if state.found and state.visible and state.controls:
                shown = (state.status.text, state.progress)
                if shown != seen:
                    seen = shown
                    count += 1
                    name = "%02d-%s" % (count, _slug(state.status.text))
                    if session.screenshot(name):
                        print("demo: screenshot %s" % (folder / (name + ".png")))
                    # A shown result waits for the user: close it the way they would.
                    if not state.progress_bar.visible:
                        session.probe("click", ws.ID_CANCEL)
            time.sleep(0.05)
        if process.poll() is None:
            process.kill()
        if count == 0:
            print("demo: the install ended before its window could be captured")
        return process.wait()
    finally:
        ws.set_unmanaged_windows(session.display.env, False)
        session.display.stop()
