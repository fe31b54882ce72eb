"""Shared by the download measurements: runs under scripts/with-test-ca.sh (re-executing
itself there when needed), builds big sample releases in the build folder, and runs the real
installer under Wine against the local release server while watching its memory."""
import os
import pathlib
import re
import shutil
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests"))
sys.path.insert(0, str(ROOT / "tests" / "wine"))

MIB = 1 << 20


def ensure_test_ca():
    """Re-runs the calling script inside scripts/with-test-ca.sh unless it already is."""
    if not os.environ.get("VANTILE_TEST_CA_DIR"):
        script = str(ROOT / "scripts" / "with-test-ca.sh")
        os.execv(script, [script, "/usr/bin/python3", *sys.argv])


ensure_test_ca()

import harness  # noqa: E402
from release_server import ReleaseServer, build_sample_release  # noqa: E402

# What every download measurement uses, named here so that the scripts import it from one place.
__all__ = ["MIB", "ReleaseServer", "build_release", "harness", "log_times", "prepare_prefix",
           "proxy_env", "run_installer_watched", "seconds_between", "work_folder"]

DOUBLES = harness.SUPPORT_DIR / "doubles"
TIMESTAMP = re.compile(r"^\[ *(\d+\.\d)s\] (.*)$")


def work_folder(name):
    folder = harness.BUILD_DIR / name
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    return folder


def build_release(folder, padding):
    """A release whose archive holds Vantile.exe and `padding` random bytes."""
    return build_sample_release(folder, DOUBLES / "Vantile.exe", padding=padding)


def proxy_env(server, record):
    return {"http_proxy": server.proxy_url, "https_proxy": server.proxy_url,
            "no_proxy": None, "NO_PROXY": None, "HTTP_PROXY": None, "HTTPS_PROXY": None,
            "VANTILE_TEST_RECORD": harness.windows_path(record)}


def _is_our_installer(pid, exe_name):
    try:
        cmdline = pathlib.Path("/proc/%d/cmdline" % pid).read_bytes()
        if exe_name.encode() not in cmdline:
            return False
        environ = pathlib.Path("/proc/%d/environ" % pid).read_bytes().split(b"\0")
    except OSError:
        return False
    return ("WINEPREFIX=%s" % harness.PREFIX).encode() in environ


def _high_water_mark(pid):
    try:
        for line in pathlib.Path("/proc/%d/status" % pid).read_text().splitlines():
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    except OSError:
        return None
    return None


def run_installer_watched(env, timeout=1800):
    """Runs the quiet installer and polls /proc for the Windows process's peak resident
    memory (VmHWM). Returns (exit code, peak bytes, wall seconds)."""
    started = time.monotonic()
    process = harness.start_installer(["--quiet"], env=env)
    exe_name = harness.EXE.name
    pid = None
    peak = 0
    while process.poll() is None:
        if time.monotonic() - started > timeout:
            process.kill()
            raise TimeoutError("the installer did not finish in %d s" % timeout)
        if pid is None:
            for entry in os.listdir("/proc"):
                if entry.isdigit() and _is_our_installer(int(entry), exe_name):
                    pid = int(entry)
                    break
        if pid is not None:
            value = _high_water_mark(pid)
            if value is not None:
                peak = max(peak, value)
        time.sleep(0.005)
    return process.returncode, peak, time.monotonic() - started


def log_times():
    """(seconds, text) for each line of the installer's log."""
    times = []
    for line in harness.read_log_raw().decode("utf-8", "replace").splitlines():
        match = TIMESTAMP.match(line)
        if match:
            times.append((float(match.group(1)), match.group(2)))
    return times


def seconds_between(times, first, second):
    start = next(t for t, text in times if text.startswith(first))
    end = next(t for t, text in times if text.startswith(second))
    return end - start


def prepare_prefix():
    """The tar.exe double in the prefix's system32, as the end-to-end tests place it."""
    harness.clear_log()
    harness.remove_staging_folders()
    tar = harness.system_tar(DOUBLES / "tar.exe")
    tar.__enter__()
    return tar
