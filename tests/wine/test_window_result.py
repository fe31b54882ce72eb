"""What the window shows when an attempt fails, how Close, Esc, the close box and Try again
end or restart it, and the error box of a refused manifest override: the real program
under Xvfb, driven and read through the window probe. No release server is needed: the
prefix has no tar.exe, so the Checking step fails, and a manifest address that cannot be
resolved keeps a second attempt in its manifest step for a few seconds.
Screenshots go to build/…/ui-screenshots/result/."""
import unittest

import harness
import window_support as ws
from window_support import ID_CANCEL, ID_TRY_AGAIN, STATUS_TEXTS

DOUBLES = harness.DOUBLES
UNREACHABLE = "https://unreachable.invalid/metadata.json"
HEADLINE = "Vantile could not be installed."
SECOND_COPY = "Another Vantile installer is already running."


class WindowResultTest(ws.WindowTestCase):
    SESSION_NAME = "result"

    def setUp(self):
        super().setUp()
        self.assertFalse((harness.SYSTEM32 / "tar.exe").exists(), "a test left tar.exe behind")

    def start_failing_install(self, env=None):
        process = self.session.start_installer(env=env)
        # The probe's reads are not one snapshot: wait until the whole result is shown.
        state = self.session.wait_state(
            lambda s: s.visible and s.status.text == HEADLINE and s.focus == ID_TRY_AGAIN,
            what="the failure")
        return process, state

    def test_a_failure_stays_on_screen_with_its_reasons_until_close(self):
        process, state = self.start_failing_install()
        self.session.screenshot("failure-checking")
        log = harness.read_log()
        # The flow logged the report: its second line is the failure message.
        self.assertEqual(log[-2], "Vantile could not be installed. The step that failed: Checking this computer.")
        message = log[-1]
        self.assertIn("tar.exe", message)

        self.assertTrue(state.visible)
        self.assertEqual(state.status.text, HEADLINE)
        self.assertFalse(state.progress_bar.visible)
        self.assertTrue(state.details.visible)
        self.assertEqual(state.details.text, "The step that failed: Checking this computer.\r\n" + message)
        self.assertEqual(state.cancel.text, "Close")
        self.assertTrue(state.cancel.enabled)
        self.assertTrue(state.try_again.visible)
        self.assertEqual(state.try_again.text, "Try again")
        self.assertEqual(state.focus, ID_TRY_AGAIN)

        self.session.probe("click", ID_CANCEL)
        self.assertEqual(process.wait(timeout=60), 1)
        self.assertFalse(self.session.state().found)
        self.assertEqual(harness.staging_folders(), [])

    def test_esc_the_close_box_and_wm_close_end_a_shown_failure_with_exit_1(self):
        for how in ("escape", "sysclose", "close"):
            with self.subTest(how=how):
                harness.clear_log()
                process, _ = self.start_failing_install()
                self.session.probe(how)
                self.assertEqual(process.wait(timeout=60), 1)

    def test_try_again_starts_over_with_the_same_manifest_source(self):
        process, first = self.start_failing_install(env={"VANTILE_INSTALL_MANIFEST": UNREACHABLE})
        self.assertEqual(first.focus, ID_TRY_AGAIN)
        with harness.system_tar(DOUBLES / "tar.exe"):
            self.session.probe("click", ID_TRY_AGAIN)
            # The new attempt passes Checking now and waits between manifest tries.
            state = self.session.wait_for_status(STATUS_TEXTS[1], timeout=30)
            shot = self.session.screenshot("try-again-running")
            self.session.assert_label_in_window_colour(self, shot, state)
            self.assertEqual(state.progress, 0)
            self.assertTrue(state.progress_bar.visible)
            self.assertFalse(state.details.visible)
            self.assertFalse(state.try_again.visible)
            self.assertEqual(state.cancel.text, "Cancel")
            self.assertTrue(state.cancel.enabled)

            second = self.session.wait_state(
                lambda s: s.status.text == HEADLINE and s.focus == ID_TRY_AGAIN, what="the failure")
            shot = self.session.screenshot("try-again-failed-manifest")
            self.session.assert_label_in_window_colour(self, shot, second)
        log = harness.read_log()
        self.assertEqual(log.count("Checking this computer\u2026"), 2)
        self.assertEqual(log.count("Manifest: " + UNREACHABLE), 1)
        self.assertEqual(log.count("Connection interrupted; retrying (3/3)..."), 1)
        self.assertTrue(second.details.text.startswith("The step that failed: Reading the release manifest.\r\n"))
        self.assertEqual(second.details.text.split("\r\n")[1], log[-1])
        self.session.probe("click", ID_CANCEL)
        self.assertEqual(process.wait(timeout=60), 1)

    def test_a_second_copy_brings_the_window_forward_and_a_quiet_one_leaves_it_alone(self):
        process, _ = self.start_failing_install()
        self.assertEqual(self.session.run_installer(["--quiet"]), 1)
        self.assertEqual(self.session.run_installer([]), 0)
        # Wrong arguments count as a window-mode second copy.
        self.assertEqual(self.session.run_installer(["--bogus"]), 0)
        self.assertEqual(harness.read_log().count(SECOND_COPY), 3)
        state = self.session.state()
        self.assertTrue(state.visible)
        self.assertEqual(state.status.text, HEADLINE)
        self.assertIsNone(process.poll())
        self.session.probe("click", ID_CANCEL)
        self.assertEqual(process.wait(timeout=60), 1)

    def test_a_refused_plain_http_override_shows_the_error_box_and_no_window(self):
        value = "http://releases.mirrowfold.example/s3-mirrowfold-upgrade-3/vantile/desktop/metadata.json"
        expected = "Only https:// addresses are trusted, and %s is not one." % value
        process = self.session.start_installer(env={"VANTILE_INSTALL_MANIFEST": value})
        self.assertTrue(harness.wait_for(lambda: self.session.error_box()["found"], timeout=60))
        box = self.session.error_box()
        self.session.screenshot("refused-override-error-box")
        self.assertIn(expected, box["texts"])
        self.assertTrue(box["visible"])
        self.assertFalse(box["owner"])
        self.assertFalse(self.session.state().found, "no installer window is created")
        # The program waits for the box to be dismissed.
        self.assertIsNone(process.poll())
        self.session.error_box(dismiss=True)
        self.assertEqual(process.wait(timeout=60), 1)
        self.assertEqual(harness.read_log(), [harness.FIRST_LINE, expected])


class WindowWithoutADisplayTest(unittest.TestCase):
    """Without an X server Wine cannot create the window: the program ends with exit code 1
    before any attempt begins (its error box cannot be shown either)."""

    def test_no_window_means_exit_1_and_no_attempt(self):
        harness.clear_log()
        with harness.system_tar(DOUBLES / "tar.exe"):
            code = harness.run_installer([], env={"DISPLAY": None, "WAYLAND_DISPLAY": None})
        self.assertEqual(code, 1)
        self.assertEqual(harness.read_log(), [harness.FIRST_LINE])
        self.assertEqual(harness.staging_folders(), [])


if __name__ == "__main__":
    unittest.main()
