"""What the tests rely on of the harness itself: every Wine program starts with a layout that
Wine's start can always map, and the prefix's wineserver is one that stays, on any machine."""
import json
import pathlib
import subprocess
import sys
import unittest

import harness

UNREACHABLE = "https://unreachable.invalid/metadata.json"
# Linux's personality flag for a process whose addresses are not randomised.
ADDR_NO_RANDOMIZE = 0x0040000
PR_SET_CHILD_SUBREAPER = 36

# Run in a process of its own that adopts orphans, as a CI runner's init or a systemd user
# session does: a wineserver started beneath it goes to it, not to process 1. It leaves the
# prefix with the server that `wine` starts by itself (one that ends with its last program),
# asks the harness for its server, and prints the command lines of the prefix's running
# servers, found without the harness's help.
UNDER_A_SUBREAPER = r"""
import ctypes, json, os, pathlib, subprocess, sys, time
sys.path.insert(0, sys.argv[1])
import harness
assert ctypes.CDLL(None, use_errno=True).prctl(%d, 1, 0, 0, 0) == 0
env = harness.wine_env()
quiet = dict(env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
subprocess.run(["wineserver", "-k"], **quiet)
subprocess.run(["wineserver", "-w"], **quiet)
subprocess.run(harness.wine_command("cmd", ["/c", "exit"]), **quiet)
harness.start_wineserver()
status = harness.PREFIX.stat()
folder = "server-%%x-%%x" %% (status.st_dev, status.st_ino)

def live_servers():
    while True:  # the servers that ended are this process's children now
        try:
            if os.waitpid(-1, os.WNOHANG)[0] == 0:
                break
        except ChildProcessError:
            break
    found = []
    for entry in pathlib.Path("/proc").glob("[0-9]*"):
        try:
            if (entry / "comm").read_text().startswith("wineserver") and \
                    os.path.basename(os.readlink(entry / "cwd")) == folder:
                found.append([a.decode() for a in (entry / "cmdline").read_bytes().split(b"\0") if a])
        except OSError:
            continue
    return found

# A server that was told to end may take a moment to go.
deadline = time.monotonic() + 30
while len(live_servers()) != 1 and time.monotonic() < deadline:
    time.sleep(0.1)
print(json.dumps(live_servers()))
""" % PR_SET_CHILD_SUBREAPER


def _maps(pid):
    try:
        return pathlib.Path("/proc/%d/maps" % pid).read_bytes()
    except OSError:
        return b""


class HarnessTest(harness.InstallerTestCase):
    def test_wine_starts_the_program_with_a_fixed_address_layout(self):
        # Without it, Wine's start fails now and then before the program runs ("failed to map
        # the shared user data: c0000018"); scripts/wine-run says why.
        process = harness.start_installer(["--quiet"], env={"VANTILE_INSTALL_MANIFEST": UNREACHABLE})
        try:
            self.assertTrue(harness.wait_for(lambda: b"ntdll" in _maps(process.pid), timeout=60))
            personality = int(pathlib.Path("/proc/%d/personality" % process.pid).read_text(), 16)
        finally:
            process.kill()
            process.wait()
        self.assertTrue(personality & ADDR_NO_RANDOMIZE, "personality %#x" % personality)

    def test_the_server_that_wine_started_gives_way_to_one_that_stays_under_a_subreaper(self):
        run = subprocess.run([sys.executable, "-c", UNDER_A_SUBREAPER, str(harness.SOURCE_DIR / "tests" / "wine")],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120, check=False)
        self.assertEqual(run.returncode, 0, run.stderr.decode(errors="replace")[-2000:])
        servers = json.loads(run.stdout)
        self.assertEqual(len(servers), 1, servers)
        self.assertEqual([a for a in servers[0] if a.startswith("-p")][-1], "-p", servers)


if __name__ == "__main__":
    unittest.main()
