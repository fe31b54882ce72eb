"""What the https end-to-end tests share: a sample release served by the local release
server, the tar.exe double in the prefix, and the installer run with http_proxy pointing at
the server's CONNECT proxy.

The tests must run under scripts/with-test-ca.sh, which makes the CA that Wine trusts.
"""
import pathlib
import sys

import harness

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
from release_server import ReleaseServer, build_sample_release  # noqa: E402

DOUBLES = harness.DOUBLES
FETCH_TOOL = harness.SUPPORT_DIR / "fetch_tool.exe"
FIRST_LINE = harness.FIRST_LINE
DEFAULT_MANIFEST = ("https://releases.mirrowfold.example/s3-mirrowfold-upgrade-3/vantile/desktop/"
                    "metadata.json")
USER_AGENT = f"Vantile-Install/{harness.VERSION}"
ARCHIVE_NAME = "vantile-desktop-1.4.0-win32-x64.zip"
STEP_MANIFEST = "Reading the release manifest"
STEP_DOWNLOAD = "Downloading Vantile"
PROXY_VARIABLES = ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "no_proxy",
                   "NO_PROXY", "all_proxy", "ALL_PROXY")


def retry_lines(message, next_try, limit=3):
    return [message, "Connection interrupted; retrying (%d/%d)..." % (next_try, limit)]


def server_message(address, status):
    return "%s answered HTTP %d, not the file." % (address, status)


def proxy_message(status, address):
    if status == 407:
        return ("The proxy server asks for a user name and password (HTTP 407) before it passes "
                "on %s; Vantile's installer cannot sign in to a proxy." % address)
    return "The proxy server answered HTTP %d instead of passing on %s." % (status, address)


def failed_lines(step, message):
    return ["Vantile could not be installed. The step that failed: %s." % step, message]


def fetch_answers(folder, addresses, hosts=None, **env):
    """What the program's own fetch of each address says (ok or its error text), one line for
    each, all fetched in one process so that connections are pooled as in a real run."""
    listing = folder / "addresses.txt"
    listing.write_text("".join(address + "\n" for address in addresses))
    report = folder / "answers.txt"
    report.unlink(missing_ok=True)
    result = harness.run_program(
        FETCH_TOOL, ["answers", harness.windows_path(listing), "-", harness.windows_path(report)],
        env={**{name: None for name in PROXY_VARIABLES}, **env}, hosts=hosts)
    if result.returncode != 0:
        raise AssertionError("fetch_tool ended with %d: %s"
                             % (result.returncode, result.stderr[-2000:]))
    answers = report.read_text(encoding="utf-8").splitlines()
    if len(answers) != len(addresses):
        raise AssertionError("%d answers for %d addresses: %r"
                             % (len(answers), len(addresses), answers))
    return answers


def size_message(url, received, expected):
    return ("%s is %d bytes, but the manifest says %d: the download is incomplete, or is not "
            "the published file." % (url, received, expected))


class InstallOutcomes:
    """What a quiet install ended with, read from its log and the record the app's installer
    double writes (self.record)."""

    def log_from_manifest_line(self):
        """The log from the line "Manifest: ..." on (what the attempt did over the network)."""
        lines = harness.read_log()
        for index, line in enumerate(lines):
            if line.startswith("Manifest: "):
                return lines[index:]
        self.fail("no manifest line in the log: %r" % lines)

    def assert_nothing_installed(self):
        self.assertFalse(self.record.exists(), "the app's installer ran")
        self.assertEqual(harness.staging_folders(), [])

    def assert_installed(self, code):
        lines = harness.read_log()
        self.assertEqual(code, 0, lines)
        self.assertEqual(lines[-1], "Vantile 1.4.0 is installed, and it is opening now.")
        self.assertTrue(self.record.exists(), "the app's installer did not run")
        self.assertEqual(harness.staging_folders(), [])

    def assert_manifest_failed_three_times(self, code, message, manifest=DEFAULT_MANIFEST):
        """Each of the three tries to read the manifest failed with message, and nothing was
        installed."""
        self.assertEqual(code, 1)
        self.assertEqual(self.log_from_manifest_line(), [
            "Manifest: " + manifest,
            *retry_lines(message, 2),
            *retry_lines(message, 3),
            *failed_lines(STEP_MANIFEST, message),
        ])
        self.assert_nothing_installed()


class HttpsInstallTest(InstallOutcomes, harness.InstallerTestCase):
    """Each test gets a fresh release folder, its own server and an empty log."""

    host = "storage"          # where the sample release's archive is published
    manifest_overrides = None

    def setUp(self):
        super().setUp()
        self.work = self.work_folder("https-e2e-", harness.BUILD_DIR)
        self.record = self.work / "record.txt"
        self.place_tar_double()
        self.release = build_sample_release(self.work / "release", DOUBLES / "Vantile.exe",
                                            archive_name=ARCHIVE_NAME, host=self.host,
                                            manifest_overrides=self.manifest_overrides)
        self.server = ReleaseServer(self.work / "release")
        self.server.start()
        self.addCleanup(self.server.stop)
        self.url = self.release.url
        self.archive_path = ("/s3-mirrowfold-upgrade-3/vantile/desktop/" if self.host == "storage"
                             else "/vantile/desktop/") + ARCHIVE_NAME
        self.manifest_path = self.server.storage_path("metadata.json")

    def install(self, manifest=None, timeout=300, **env):
        """Runs the quiet installer through the proxy; manifest None keeps the default."""
        extra = {name: None for name in PROXY_VARIABLES}
        extra.update(http_proxy=self.server.proxy_url, https_proxy=self.server.proxy_url,
                     VANTILE_TEST_RECORD=harness.windows_path(self.record))
        if manifest is not None:
            extra["VANTILE_INSTALL_MANIFEST"] = manifest
        extra.update(env)
        return harness.run_installer(["--quiet"], env=extra, timeout=timeout)
