"""The Checking step of the real program under Wine, read from its log in quiet mode:
the Windows build, Windows' own tar.exe in System32, and SystemRoot as the program sees it."""
import contextlib
import os
import pathlib
import shutil
import tempfile
import unittest

import harness

FIRST_LINE = harness.FIRST_LINE
CHECKING = "Checking this computer\u2026"
READING = "Reading the release manifest\u2026"
FAILED_CHECKING = "Vantile could not be installed. The step that failed: Checking this computer."
TAR = harness.SYSTEM32 / "tar.exe"
# Wine's SystemRoot for every program it starts.
WINE_TAR_PATH = "C:\\windows\\System32\\tar.exe"
LAUNCHER = harness.SUPPORT_DIR / "launch_with_environment.exe"


def missing_tar(path):
    return f"Windows' own tar.exe is missing ({path}). It is part of Windows 10 1803 and later."


def old_build(build):
    return (f"Vantile needs Windows 10 version 1809 or later, and this computer runs build {build}. "
            "Update Windows, then run the installer again.")


@contextlib.contextmanager
def system_tar(present):
    """System32 with or without a tar.exe for the duration; whatever was there before
    (another test's double) is put back afterwards, and only our own file is removed."""
    aside = None
    if TAR.exists():
        aside = TAR.with_name(f"tar.exe.aside-{os.getpid()}")
        TAR.rename(aside)
    try:
        if present:
            TAR.write_bytes(b"MZ stand-in for Windows' own tar.exe; never run by these tests\n")
        yield
    finally:
        if present and TAR.exists():
            TAR.unlink()
        if aside is not None:
            aside.rename(TAR)


class SystemChecksTest(harness.InstallerTestCase):
    def assert_checking_failed(self, message):
        self.assertEqual(harness.read_log(), [FIRST_LINE, CHECKING, FAILED_CHECKING, message])

    def test_missing_system_tar_fails_the_checking_step(self):
        with system_tar(present=False):
            code = harness.run_installer(["--quiet"])
        self.assertEqual(code, 1)
        self.assert_checking_failed(missing_tar(WINE_TAR_PATH))

    def test_old_windows_build_fails_before_looking_for_tar(self):
        # The prefix makes a program named vantile-install-win7.exe see Windows 7 (build 7601).
        harness.BUILD_DIR.mkdir(parents=True, exist_ok=True)
        with tempfile.TemporaryDirectory(dir=harness.BUILD_DIR, prefix="win7-copy-") as folder:
            win7 = pathlib.Path(folder) / "vantile-install-win7.exe"
            shutil.copyfile(harness.EXE, win7)
            # tar.exe is present, so only the build can fail the step.
            with system_tar(present=True):
                code = harness.run_installer(["--quiet"], exe=win7)
        self.assertEqual(code, 1)
        self.assert_checking_failed(old_build(7601))

    def test_present_system_tar_lets_the_attempt_go_on(self):
        with system_tar(present=True):
            # A manifest that does not exist ends the attempt quickly in the next step.
            code = harness.run_installer(
                ["--quiet"], env={"VANTILE_INSTALL_MANIFEST": "C:\\vantile-test\\missing-manifest.json"})
        self.assertEqual(code, 1)
        lines = harness.read_log()
        self.assertEqual(lines[:3], [FIRST_LINE, CHECKING, READING])
        self.assertNotIn(FAILED_CHECKING, lines)
        self.assertFalse(any("tar.exe" in line for line in lines), lines)


class SystemRootTest(harness.InstallerTestCase):
    """SystemRoot as the program itself sees it: Wine writes it afresh into every new process,
    so a launcher rewrites it in the suspended program's environment before it runs."""

    def setUp(self):
        self.assertTrue(LAUNCHER.exists(), f"{LAUNCHER} was not built")
        super().setUp()
        self.folder = self.work_folder("vantile-root-")
        self.root = harness.windows_path(self.folder)
        (self.folder / "System32").mkdir()

    def run_with_system_root(self, value, env=None):
        change = ["--set", "SystemRoot", value] if value is not None else ["--unset", "SystemRoot"]
        harness.clear_log()
        result = harness.run_program(
            LAUNCHER, [*change, "--", harness.windows_path(harness.EXE), "--quiet"], env=env)
        self.assertNotEqual(result.returncode, 100, result.stderr.decode(errors="replace"))
        return result.returncode

    def assert_missing(self, value, path):
        self.assertEqual(self.run_with_system_root(value), 1)
        self.assertEqual(harness.read_log(),
                         [FIRST_LINE, CHECKING, FAILED_CHECKING, missing_tar(path)])

    def test_path_is_built_from_system_root(self):
        cases = [
            ("not set", None, "C:\\Windows\\System32\\tar.exe"),
            ("no trailing backslash", self.root, self.root + "\\System32\\tar.exe"),
            ("trailing backslash", self.root + "\\", self.root + "\\System32\\tar.exe"),
            ("empty: relative to the working folder", "", "System32\\tar.exe"),
        ]
        with system_tar(present=False):
            for name, value, path in cases:
                with self.subTest(name):
                    self.assert_missing(value, path)

    def test_folder_named_tar_exe_counts_as_missing(self):
        (self.folder / "System32" / "tar.exe").mkdir()
        self.assert_missing(self.root, self.root + "\\System32\\tar.exe")

    def test_tar_exe_under_system_root_passes(self):
        (self.folder / "System32" / "tar.exe").write_bytes(b"MZ")
        with system_tar(present=False):
            code = self.run_with_system_root(
                self.root + "\\",
                env={"VANTILE_INSTALL_MANIFEST": "C:\\vantile-test\\missing-manifest.json"})
        self.assertEqual(code, 1)
        lines = harness.read_log()
        self.assertEqual(lines[:3], [FIRST_LINE, CHECKING, READING])
        self.assertNotIn(FAILED_CHECKING, lines)


if __name__ == "__main__":
    unittest.main()
