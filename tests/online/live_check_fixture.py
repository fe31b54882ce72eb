"""What the tests of `vantile-release check` on a live release share: the native tool, a
sample release served by the project's release server through its CONNECT proxy (reached
with curl's https_proxy), and the run's test CA given with --ca-file.

Run under scripts/with-test-ca.sh (the CA) and inside `unshare --net` (the ports)."""
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

TESTS = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(TESTS))
from release_server import ReleaseServer, build_sample_release  # noqa: E402

SOURCE = pathlib.Path(os.environ.get("VANTILE_SOURCE_DIR", TESTS.parent))
TOOL = pathlib.Path(os.environ.get("VANTILE_RELEASE_TOOL",
                                   SOURCE / "build" / "native" / "vantile-release"))
ARCHIVE_NAME = "vantile-desktop-1.4.0-win32-x64.zip"
DEFAULT_MANIFEST = ("https://releases.mirrowfold.example/s3-mirrowfold-upgrade-3/vantile/desktop/"
                    "metadata.json")
PROXY_VARIABLES = ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "no_proxy",
                   "NO_PROXY", "all_proxy", "ALL_PROXY")


def run_tool(args, proxy=None, timeout=300, temporary=None):
    """(exit code, standard output, standard error) of the native tool; `temporary` is the
    folder it gets as TMPDIR."""
    env = {name: value for name, value in os.environ.items() if name not in PROXY_VARIABLES}
    if proxy:
        env["https_proxy"] = proxy
    if temporary:
        env["TMPDIR"] = str(temporary)
    done = subprocess.run([str(TOOL), *args], capture_output=True, text=True, env=env,
                          timeout=timeout)
    return done.returncode, done.stdout, done.stderr


class LiveReleaseTest(unittest.TestCase):
    """Each test gets a fresh sample release and its own server."""

    def setUp(self):
        self.work = pathlib.Path(tempfile.mkdtemp(prefix="live-check-"))
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)
        exe = self.work / "Vantile.exe"
        exe.write_bytes(b"MZ stand-in")
        self.release = build_sample_release(self.work / "release", exe,
                                            archive_name=ARCHIVE_NAME)
        self.server = ReleaseServer(self.work / "release")
        self.server.start()
        self.addCleanup(self.server.stop)
        self.archive_path = self.server.storage_path(ARCHIVE_NAME)
        self.manifest_path = self.server.storage_path("metadata.json")
        # The tool's own temporary folder, so that what it leaves is seen apart from other runs.
        self.temporary = self.work / "tmp"
        self.temporary.mkdir()

    def check(self, *args, json_output=False):
        extra = ["--json"] if json_output else []
        code, out, err = run_tool(["check", *args, "--ca-file", str(self.server.ca_file), *extra],
                                  proxy=self.server.proxy_url, temporary=self.temporary)
        # The archives only ever land in a temporary folder, removed at the end.
        self.assertEqual(list(self.temporary.iterdir()), [], "a temporary folder was left")
        return code, (json.loads(out) if json_output else out.splitlines()), err
