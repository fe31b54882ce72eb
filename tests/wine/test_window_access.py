"""The installer window as a keyboard user, a screen-reader user, a high-contrast user and a
large-text user meet it, under Wine and Xvfb. Keys are posted to the focused control and go
through the installer's own message loop (IsDialogMessageW), as a key press would; Shift
cannot be held that way, so Shift+Tab is covered by the Win32 unit tests. The scheme and the
message font are set in the prefix's registry for the installer started next, and put back.

Wine's standard accessible object of a progress bar has no value (Windows' gives the bar's
position in per cent of its range); its name is the bar's text, which the window keeps equal
to the label before it. Screenshots go to build/…/ui-screenshots/access/."""
import json
import pathlib
import sys
import unittest

import harness
import window_support as ws
from window_support import ID_CANCEL, ID_TRY_AGAIN, STATUS_TEXTS

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
from release_server import MANIFEST_PATH, ReleaseServer, build_sample_release  # noqa: E402

ACCESSIBILITY_PROBE = harness.SUPPORT_DIR / "accessibility_probe.exe"
DOUBLES = harness.DOUBLES
FAILED = "Vantile could not be installed."
# What the log says of an attempt that failed for want of tar.exe.
LOGGED_FAILURE = "Vantile could not be installed. The step that failed: Checking this computer."
VK_TAB, VK_RETURN = 9, 13
OBJID_CLIENT = -4


class WindowAccessTest(ws.WindowTestCase):
    SESSION_NAME = "access"

    def setUp(self):
        super().setUp()
        self.addCleanup(self.end_installers)

    def end_installers(self):
        """A failed test leaves no window behind for the next one."""
        for process in self.session.installers:
            if process.poll() is None:
                process.kill()
                process.wait()

    def failed_window(self):
        """An installer whose attempt failed at once (no tar.exe in the prefix), its focus on
        Try again."""
        process = self.session.start_installer()
        state = self.session.wait_state(lambda s: s.visible and s.status.text == FAILED and
                                        s.focus == ID_TRY_AGAIN, what="the failure")
        return process, state

    def reading_the_manifest(self):
        """An installer whose attempt stays on reading the release manifest until the test
        ends it, however slow the machine: the server sends the manifest a byte a second,
        never pausing long enough for the installer to give up on it."""
        self.place_tar_double()
        work = self.work_folder("ui-access-", harness.BUILD_DIR)
        release = build_sample_release(work / "release", DOUBLES / "Vantile.exe")
        server = ReleaseServer(release.release_dir)
        server.start()
        self.addCleanup(server.stop)
        server.set_fault(MANIFEST_PATH, rate=1)
        process = self.session.start_installer(env={"http_proxy": server.proxy_url})
        self.session.wait_for_status(STATUS_TEXTS[1])
        return process

    def key(self, virtual_key):
        self.assertTrue(self.session.probe("key", virtual_key)["ok"])

    def accessibility(self, *arguments):
        result = harness.run_program(ACCESSIBILITY_PROBE, [str(a) for a in arguments],
                                     env=self.session.env(), timeout=120)
        return json.loads(result.stdout.decode("utf-8").strip().splitlines()[-1])

    # -- keyboard -------------------------------------------------------------------------

    def test_the_focus_starts_on_cancel_and_enter_presses_it(self):
        process = self.reading_the_manifest()
        self.session.wait_state(lambda s: s.focus == ID_CANCEL, what="Cancel focused")
        self.key(VK_RETURN)
        self.assertEqual(process.wait(timeout=60), 2)

    def test_enter_after_a_failure_starts_over(self):
        process, state = self.failed_window()
        self.assertEqual(state.focus, ID_TRY_AGAIN)
        failures = harness.read_log().count(LOGGED_FAILURE)
        self.assertEqual(failures, 1, harness.read_log())
        self.key(VK_RETURN)
        # The second attempt fails at once as well: a second failure in the log.
        self.assertTrue(harness.wait_for(lambda: harness.read_log().count(LOGGED_FAILURE) == 2,
                                         timeout=60), harness.read_log())
        # The result is shown again, the focus back on Try again.
        self.session.wait_state(lambda s: s.status.text == FAILED and s.focus == ID_TRY_AGAIN,
                                timeout=30, what="Try again focused")
        self.session.probe("click", ID_CANCEL)
        self.assertEqual(process.wait(timeout=60), 1)

    def test_tab_goes_round_in_reading_order_and_enter_on_close_exits_with_1(self):
        process, state = self.failed_window()
        self.assertEqual(state.focus, ID_TRY_AGAIN)
        # Left to right after Try again, then round: Close, the details box, Try again.
        self.key(VK_TAB)
        self.session.wait_state(lambda s: s.focus == ID_CANCEL, what="Close focused")
        self.key(VK_TAB)
        # The details box is a tab stop: a keyboard user can reach and copy the failure.
        self.session.wait_state(lambda s: s.data["focus_class"] == "Edit", what="details focus")
        self.key(VK_TAB)
        self.session.wait_state(lambda s: s.focus == ID_TRY_AGAIN, what="Try again focused")
        self.key(VK_TAB)
        state = self.session.wait_state(lambda s: s.focus == ID_CANCEL, what="Close focused")
        self.assertEqual(state.cancel.text, "Close")
        self.key(VK_RETURN)
        self.assertEqual(process.wait(timeout=60), 1)

    # -- screen readers -------------------------------------------------------------------

    def test_a_status_change_is_announced_to_an_out_of_context_hook(self):
        process, _ = self.failed_window()
        # Try again starts an attempt that fails at once: two status changes.
        heard = self.accessibility("listen", 30000, "click", ID_TRY_AGAIN, "until", FAILED)
        self.assertTrue(heard["ok"], heard)
        events = heard["events"]
        self.assertGreaterEqual(len(events), 2, events)
        for event in events:
            self.assertEqual(event["class"].lower(), "static")
            self.assertEqual((event["object"], event["child"]), (OBJID_CLIENT, 0))
        self.assertEqual(events[-1]["text"], FAILED)
        self.session.probe("click", ID_CANCEL)
        self.assertEqual(process.wait(timeout=60), 1)

    def test_the_progress_bar_is_named_after_the_status_and_carries_its_position(self):
        process = self.reading_the_manifest()
        self.session.probe("post", ws.WM_INSTALL_PROGRESS, 500)
        bar = self.accessibility("object", "msctls_progress32")
        self.assertTrue(bar["ok"], bar)
        self.assertEqual(bar["name"], STATUS_TEXTS[1])
        # The value Windows' accessible object reads: the position within the range.
        state = self.session.state()
        self.assertEqual((state.progress, state.progress_range), (500, (0, 1000)))
        self.session.probe("click", ID_CANCEL)
        self.assertEqual(process.wait(timeout=60), 2)

    # -- high contrast and large text -----------------------------------------------------

    def test_high_contrast_text_is_light_on_the_dark_window_colour(self):
        with ws.RegistryValues(self.session.display.env, ws.HIGH_CONTRAST):
            process, state = self.failed_window()
            shot = self.session.screenshot("high-contrast")
            self.assertIsNotNone(shot)
            for control in (state.status, state.details):
                with self.subTest(control=control.cls):
                    darkest, lightest = self.session.brightness(shot, state, control.rect)
                    self.assertLess(darkest, 0.1)     # the black window colour
                    self.assertGreater(lightest, 0.9)  # the white text
            self.session.probe("click", ID_CANCEL)
            self.assertEqual(process.wait(timeout=60), 1)

    def test_nothing_is_clipped_with_the_message_font_at_200_percent(self):
        doubled = ws.message_font_at(self.session.display.env, 200)
        self.assertTrue(next(iter(doubled.values()))[1].startswith("E8FFFFFF"))  # -24 pixels
        with ws.RegistryValues(self.session.display.env, doubled):
            process, state = self.failed_window()
            self.session.screenshot("large-text-200")
            # The layout grew with the font: twice the 96-DPI size.
            self.assertEqual(state.client, (920, 400))
            fit = self.session.probe("textfit")
            longest = self.session.probe("textfit", "Vantile 10.20.300 is installed, and it is opening now.")
            for control in fit["controls"] + [c for c in longest["controls"] if c["class"].lower() == "static"]:
                with self.subTest(control=control["class"], text=control["text"]):
                    width, height = control["client"]
                    need_width, need_height = control["need"]
                    if control["class"].lower() == "edit":
                        self.assertLessEqual(need_height, control["format"][3])
                    else:
                        self.assertLessEqual(need_width, width)
                        self.assertLessEqual(need_height, height)
            self.session.probe("click", ID_CANCEL)
            self.assertEqual(process.wait(timeout=60), 1)


if __name__ == "__main__":
    unittest.main()
