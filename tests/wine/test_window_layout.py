"""The installer window's size, place and layout at the prefix's screen DPI, and its answer
to a DPI change, seen from another process through the window probe under Xvfb.

While these tests look at a running attempt, the manifest address cannot be resolved: the
attempt spends its 2-second pauses between manifest tries in "Checking for the latest
Vantile…", which is time enough to look. Screenshots go to build/…/ui-screenshots/layout/."""
import unittest

import harness
import window_support as ws
from window_support import ID_CANCEL, ID_TRY_AGAIN, STATUS_TEXTS

DOUBLES = harness.DOUBLES
UNREACHABLE = "https://unreachable.invalid/metadata.json"
WINDOW_STYLE = 0x00CA0000  # WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX
WS_THICKFRAME = 0x00040000
WS_MAXIMIZEBOX = 0x00010000


class WindowLayoutTest(ws.WindowTestCase):
    SESSION_NAME = "layout"

    def setUp(self):
        super().setUp()
        self.session.set_log_pixels(None)

    def tearDown(self):
        self.session.set_log_pixels(None)

    def assert_layout_rules(self, state):
        """The layout's rules at 96 DPI: 20-pixel margins left, right and below, the label, bar
        and details box aligned and as wide as the margins allow, the bar and the details box
        in one place, the buttons in one row, right-aligned, 10 pixels apart."""
        width, height = state.client
        layout = ws.layout_of(state)
        for key in ("Static", "msctls_progress32", "Edit"):
            x, _, w, _ = layout[key]
            self.assertEqual((x, x + w), (20, width - 20), key)
        self.assertEqual(layout["msctls_progress32"][:3], layout["Edit"][:3])
        cx, cy, cw, ch = layout[ID_CANCEL]
        tx, ty, tw, th = layout[ID_TRY_AGAIN]
        self.assertEqual((cx + cw, cy + ch), (width - 20, height - 20))
        self.assertEqual((ty, th, tw), (cy, ch, cw))
        self.assertEqual(cx - (tx + tw), 10)

    def assert_layout(self, state, dpi, base):
        """Every edge of every control is the 96-DPI window's, scaled for the DPI."""
        for key, rect in base.items():
            with self.subTest(control=key, dpi=dpi):
                self.assertEqual(ws.layout_of(state)[key], tuple(ws.scaled(v, dpi) for v in rect))

    def test_window_is_sized_centred_and_laid_out_for_the_screen_dpi(self):
        cases = ((96, (460, 200), (20, 18, 420, 24)),
                 (120, (575, 250), (25, 22, 525, 30)),
                 (144, (690, 300), (30, 27, 630, 36)))
        base = None
        for dpi, client, status_rect in cases:
            with self.subTest(dpi=dpi):
                self.session.set_log_pixels(dpi)
                harness.clear_log()
                with harness.system_tar(DOUBLES / "tar.exe"):
                    process = self.session.start_installer(env={"VANTILE_INSTALL_MANIFEST": UNREACHABLE})
                    state = self.session.wait_for_status(STATUS_TEXTS[1])
                    self.session.screenshot("running-%ddpi" % dpi)

                    self.assertEqual(state.client, client)
                    self.assertEqual(state.status.rect, status_rect)
                    if base is None:
                        self.assert_layout_rules(state)
                        base = ws.layout_of(state)
                    self.assert_layout(state, dpi, base)
                    # Centred in the work area, halves truncated.
                    area_x, area_y, area_w, area_h = state.work_area
                    x, y, w, h = state.window
                    self.assertEqual(x, area_x + (area_w - w) // 2)
                    self.assertEqual(y, area_y + (area_h - h) // 2)
                    self.assertEqual(state.data["title"], "Install Vantile")
                    style = state.data["style"]
                    self.assertEqual(style & WINDOW_STYLE, WINDOW_STYLE)
                    self.assertEqual(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0)

                    # During an attempt: label, bar and an enabled Cancel; no details, no Try again.
                    self.assertTrue(state.status.visible)
                    self.assertTrue(state.progress_bar.visible)
                    self.assertEqual(state.progress, 0)
                    self.assertEqual(state.progress_range, (0, 1000))
                    self.assertTrue(state.cancel.visible)
                    self.assertTrue(state.cancel.enabled)
                    self.assertEqual(state.cancel.text, "Cancel")
                    self.assertFalse(state.details.visible)
                    self.assertEqual(state.details.text, "")
                    self.assertFalse(state.try_again.visible)

                    self.session.probe("click", ID_CANCEL)
                    self.assertEqual(process.wait(timeout=60), 2)
                self.assertEqual(harness.read_log()[-1], "The install was cancelled. Nothing was installed.")

    def test_a_dpi_change_takes_the_suggested_rectangle_and_lays_out_again(self):
        # No tar.exe in the prefix: the attempt fails at once and the result stays on screen.
        process = self.session.start_installer()
        before = self.session.wait_for_status("Vantile could not be installed.")
        shot_96 = self.session.screenshot("dpi-change-before-96")
        self.assertEqual(before.client, (460, 200))
        self.assert_layout_rules(before)
        base = ws.layout_of(before)

        self.assertTrue(self.session.probe("dpichanged", 144, 100, 80, 800, 420)["ok"])
        after = self.session.state()
        shot_144 = self.session.screenshot("dpi-change-after-144")
        self.assertEqual(after.window, (100, 80, 700, 340))
        self.assert_layout(after, 144, base)
        # The result is still what it was, with the details box in the bar's place.
        self.assertTrue(after.details.visible)
        self.assertFalse(after.progress_bar.visible)
        self.assertTrue(after.try_again.visible)
        self.assertEqual(after.focus, ID_TRY_AGAIN)

        # The text is drawn with fonts made for the new DPI: about half as tall again.
        if shot_96 and shot_144:
            _, height_96 = self.session.ink_box(shot_96, before, before.status)
            _, height_144 = self.session.ink_box(shot_144, after, after.status)
            self.assertGreater(height_144, height_96 * 1.3, (height_96, height_144))
            self.assertLess(height_144, height_96 * 1.7, (height_96, height_144))

        # And back: the window shrinks to the new suggestion and the 96-DPI layout.
        self.session.probe("dpichanged", 96, 10, 20, 476, 245)
        back = self.session.state()
        self.assertEqual(back.window, (10, 20, 466, 225))
        self.assert_layout(back, 96, base)
        self.session.screenshot("dpi-change-back-96")

        self.session.probe("click", ID_CANCEL)
        self.assertEqual(process.wait(timeout=60), 1)


if __name__ == "__main__":
    unittest.main()
