"""Start-up of the real program under Wine: first line, arguments, override refusal,
the single-instance lock and the log file's format."""
import re
import shutil
import unittest

import harness
import window_support as ws

FIRST_LINE = harness.FIRST_LINE
USAGE = "usage: vantile-install [--quiet]"
SECOND_COPY = "Another Vantile installer is already running."
# An address that cannot be reached: the first copy spends its 2-second pauses between
# manifest tries, which gives a second copy time to start while the first holds the lock.
UNREACHABLE = "https://unreachable.invalid/metadata.json"
WINE_ERRORS = harness.WINE_ERRORS


class StartupTest(harness.InstallerTestCase):
    def test_quiet_run_starts_the_log_with_the_version_line(self):
        run = harness.run_program(harness.EXE, ["--quiet"], env=WINE_ERRORS)
        said = run.stderr.decode(errors="replace")[-2000:]
        self.assertEqual(run.returncode, 1, said)  # no tar.exe here: the Checking step fails
        lines = harness.read_log()
        self.assertEqual(lines[:2], [FIRST_LINE, "Checking this computer\u2026"], said)

    def test_log_is_utf8_with_line_feeds_and_time_stamps(self):
        harness.run_installer(["--quiet"])
        raw = harness.read_log_raw()
        self.assertFalse(raw.startswith(b"\xef\xbb\xbf"))
        self.assertNotIn(b"\r", raw)
        self.assertTrue(raw.endswith(b"\n"))
        for line in raw.decode("utf-8").rstrip("\n").split("\n"):
            self.assertRegex(line, r"^\[ {0,3}\d+\.\ds\] ")
        self.assertIn("Checking this computer\u2026".encode("utf-8"), raw)

    def test_a_new_run_empties_the_log(self):
        harness.run_installer(["--bad"])
        harness.run_installer(["--quiet"])
        lines = harness.read_log()
        self.assertEqual(lines.count(FIRST_LINE), 1)
        self.assertNotIn(USAGE, lines)

    def test_wrong_arguments_give_the_usage_line_and_exit_1(self):
        for arguments in (["--Quiet"], ["-quiet"], ["--quiet", "--quiet"], ["--quiet", "x"], [""]):
            with self.subTest(arguments=arguments):
                harness.clear_log()
                run = harness.run_program(harness.EXE, arguments, env=WINE_ERRORS)
                # What Wine itself said, should the program not have run as far as its log.
                said = run.stderr.decode(errors="replace")[-2000:]
                self.assertEqual(run.returncode, 1, said)
                self.assertEqual(harness.read_log(), [FIRST_LINE, USAGE], said)

    def test_refused_override_in_quiet_mode_is_logged_and_nothing_else_happens(self):
        for value in ("http://releases.mirrowfold.example/m.json", "ftp://x/y", "file://c/m.json"):
            with self.subTest(value=value):
                harness.clear_log()
                code = harness.run_installer(["--quiet"], env={"VANTILE_INSTALL_MANIFEST": value})
                self.assertEqual(code, 1)
                self.assertEqual(harness.read_log(), [
                    FIRST_LINE, f"Only https:// addresses are trusted, and {value} is not one."])
                self.assertEqual(harness.staging_folders(), [])

    def test_override_that_is_not_an_address_is_a_file(self):
        # A leading space keeps it from being an address: it is a path that does not exist.
        with harness.system_tar():
            code = harness.run_installer(
                ["--quiet"], env={"VANTILE_INSTALL_MANIFEST": " https://x/m.json"})
        self.assertEqual(code, 1)
        lines = harness.read_log()
        self.assertIn("Manifest:  https://x/m.json", lines)
        self.assertEqual(lines[-1], "The manifest  https://x/m.json does not exist.")

    def _start_first_copy(self):
        first = harness.start_installer(["--quiet"], env={"VANTILE_INSTALL_MANIFEST": UNREACHABLE})
        started = harness.wait_for(
            lambda: any(l.startswith("Connection interrupted") for l in harness.read_log()), timeout=60)
        self.assertTrue(started, harness.read_log())
        return first

    def test_second_quiet_copy_appends_one_line_and_exits_1(self):
        with harness.system_tar():
            first = self._start_first_copy()
            try:
                self.assertEqual(harness.run_installer(["--quiet"]), 1)
            finally:
                first_code = first.wait(timeout=60)
        self.assertEqual(first_code, 1)
        raw_lines = harness.read_log_raw().decode("utf-8").rstrip("\n").split("\n")
        texts = harness.read_log()
        self.assertEqual(texts.count(SECOND_COPY), 1)
        self.assertEqual(texts.count(FIRST_LINE), 1)
        # The appended line sits between the first copy's lines, with its own clock near 0.
        index = texts.index(SECOND_COPY)
        self.assertGreater(index, 0)
        self.assertLess(index, len(texts) - 1)
        self.assertRegex(raw_lines[index], r"^\[   0\.\ds\] ")
        self.assertTrue(texts[-2].startswith("Vantile could not be installed."), texts)

    def test_second_copy_with_wrong_arguments_is_a_window_mode_copy(self):
        with harness.system_tar():
            first = self._start_first_copy()
            try:
                self.assertEqual(harness.run_installer(["--nonsense", "x"]), 0)
            finally:
                first.wait(timeout=60)
        texts = harness.read_log()
        self.assertEqual(texts.count(SECOND_COPY), 1)
        self.assertNotIn(USAGE, texts)

    def test_manifest_retries_are_paced_two_seconds_apart(self):
        with harness.system_tar():
            code = harness.run_installer(["--quiet"], env={"VANTILE_INSTALL_MANIFEST": UNREACHABLE})
        self.assertEqual(code, 1)
        raw = harness.read_log_raw().decode("utf-8").rstrip("\n").split("\n")
        notices = [l for l in raw if "Connection interrupted; retrying" in l]
        self.assertEqual([n.split("] ", 1)[1] for n in notices], [
            "Connection interrupted; retrying (2/3)...", "Connection interrupted; retrying (3/3)..."])
        stamps = [float(re.match(r"^\[ *(\d+\.\d)s\]", l).group(1)) for l in raw]
        # Each retry notice is followed by a two-second pause before the next try's line.
        for i, line in enumerate(raw):
            if "Connection interrupted" in line:
                self.assertGreaterEqual(stamps[i + 1] - stamps[i], 1.9)


class UnrestrictedDllSearchTest(ws.WindowTestCase):
    """Where the loader cannot restrict the DLL search (Windows 7 without its 2011 loader
    update), anything shown would load DLLs, and Windows looks for them beside the program
    first: the run only logs why it stops. The double starts the installer's own shell as on
    such a Windows, under the name the prefix gives Windows 7."""

    SESSION_NAME = "unrestricted-dll-search"
    # DLLs that a box under the program's Common Controls 6 manifest loads, and that nothing
    # else in the double loads.
    SHOWING_DLLS = ("uxtheme", "msimg32")

    def test_window_mode_shows_nothing_and_loads_nothing_from_beside_the_program(self):
        folder = self.work_folder("old-loader-")
        exe = folder / "vantile-install-win7.exe"
        shutil.copyfile(harness.SUPPORT_DIR / "unrestricted_installer.exe", exe)
        for name in self.SHOWING_DLLS:
            shutil.copyfile(harness.SUPPORT_DIR / "release" / "planted.dll",
                            folder / (name + ".dll"))
        process = harness.start_installer([], exe=exe, env=self.session.env(
            {"WINEDLLOVERRIDES": "mscoree,mshtml=;%s=n,b" % ",".join(self.SHOWING_DLLS)}))
        self.session.installers.append(process)
        ended = harness.wait_for(lambda: process.poll() is not None, timeout=60)
        box = None if ended else self.session.error_box(dismiss=True)
        ran = sorted(p.name for p in folder.glob("*.loaded"))
        self.assertTrue(ended, "the run waits for a box: %s; planted DLLs that ran: %s" % (box, ran))
        self.assertEqual(process.returncode, 1)
        self.assertEqual(harness.read_log(), [FIRST_LINE, (
            "Vantile needs Windows 10 version 1809 or later, and this computer runs build 7601. "
            "Update Windows, then run the installer again.")])
        self.assertEqual(ran, [], "a planted DLL ran")
        self.assertFalse(self.session.state().found, "no installer window is created")


if __name__ == "__main__":
    unittest.main()
