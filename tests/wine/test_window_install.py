"""Whole installs in window mode, served by the local https release server: a success that
closes the window by itself, Cancel and Esc while a stalled server keeps a read waiting (the
attempt ends at once), a window cancelled while tar.exe runs brought back by a second copy, close requests refused while the app's installer runs, and Try again
after a failure. Run through scripts/with-test-ca.sh (Wine must trust the test CA).
Screenshots go to build/…/ui-screenshots/install/."""
import pathlib
import sys
import time
import unittest

import harness
import window_support as ws

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
from release_server import MANIFEST_PATH, ReleaseServer, build_sample_release  # noqa: E402
from window_support import ID_CANCEL, ID_TRY_AGAIN, STATUS_TEXTS  # noqa: E402

DOUBLES = harness.DOUBLES
HELD_INSTALLER = harness.SUPPORT_DIR / "held_installer.exe"
INSTALLED = "Vantile 1.4.0 is installed, and it is opening now."
CANCELLED = "The install was cancelled. Nothing was installed."
HEADLINE = "Vantile could not be installed."
SECOND_COPY = "Another Vantile installer is already running."
CLOSE_REQUESTS = ("click", "escape", "close", "sysclose")
# Longer than any test waits for a stalled server.
STALL_SECONDS = 120


class WindowInstallTest(ws.WindowTestCase):
    SESSION_NAME = "install"

    def setUp(self):
        super().setUp()
        self.work = self.work_folder("ui-window-install-", harness.BUILD_DIR)
        self.place_tar_double()

    def serve(self, program, padding=0):
        release = build_sample_release(self.work / "release", program, padding=padding)
        server = ReleaseServer(release.release_dir)
        server.start()
        self.addCleanup(server.stop)
        return release, server

    def close_request(self, how):
        if how == "click":
            return self.session.probe("click", ID_CANCEL)
        return self.session.probe(how)

    def wait_for_download(self, minimum=1):
        return self.session.wait_state(
            lambda s: s.visible and s.status.text == STATUS_TEXTS[2] and s.progress >= minimum,
            what="the download under way")

    def test_a_successful_install_closes_the_window_by_itself(self):
        release, server = self.serve(DOUBLES / "Vantile.exe", padding=1_500_000)
        # Slow enough to see the bar move.
        server.set_fault(server.storage_path(release.archive.name), rate=500_000)
        process = self.session.start_installer(env={"http_proxy": server.proxy_url})
        state = self.wait_for_download(minimum=100)
        self.session.screenshot("downloading")
        self.assertLess(state.progress, 1000)
        self.assertTrue(state.progress_bar.visible)
        self.assertTrue(state.cancel.enabled)
        self.assertFalse(state.try_again.visible)
        self.assertEqual(process.wait(timeout=120), 0)
        self.assertFalse(self.session.state().found)
        log = harness.read_log()
        self.assertEqual(log[-1], INSTALLED)
        self.assertEqual(harness.staging_folders(), [])

    def test_cancel_and_esc_during_a_stall_end_the_attempt_at_once_with_exit_2(self):
        release, server = self.serve(DOUBLES / "Vantile.exe", padding=2_000_000)
        archive = server.storage_path(release.archive.name)
        # The server stalls far longer than the test waits: only the cancel can end the wait.
        cases = [
            ("click", archive, dict(stall_after=400_000), STATUS_TEXTS[2]),
            ("escape", archive, dict(stall_after=400_000), STATUS_TEXTS[2]),
            ("click", MANIFEST_PATH, dict(headers_delay=STALL_SECONDS), STATUS_TEXTS[1]),
        ]
        for how, path, fault, status in cases:
            with self.subTest(how=how, path=path):
                harness.clear_log()
                server.set_fault(path, stall_seconds=STALL_SECONDS, times=1, **fault)
                requests = len(server.requests)
                process = self.session.start_installer(env={"http_proxy": server.proxy_url})
                self.session.wait_for_status(status)
                self.assertTrue(harness.wait_for(
                    lambda: any(r.path == path for r in server.requests[requests:])))
                time.sleep(1.0)  # the bytes before the stall have arrived
                self.assertTrue(self.session.state().visible)
                self.assertEqual(harness.staging_folders() != [], path == archive)

                self.close_request(how)
                asked = time.monotonic()
                self.assertEqual(process.wait(timeout=60), 2)
                # Far inside the stall: the cancel, not the server, ended the read. A loaded
                # machine may take seconds to end a Wine process, so no tighter bound is asked.
                self.assertLess(time.monotonic() - asked, STALL_SECONDS / 4,
                                "the stalled read kept the process")
                log = harness.read_log()
                self.assertEqual(log[-1], CANCELLED)
                self.assertFalse(any(line.startswith("Connection interrupted") for line in log), log)
                self.assertNotIn("Unpacking Vantile\u2026", log)
                self.assertEqual(harness.staging_folders(), [])

    def test_a_second_copy_brings_back_a_cancelled_window_which_still_refuses_to_close(self):
        release, server = self.serve(DOUBLES / "Vantile.exe")
        hold = self.work / "hold"
        hold.write_text("wait")
        # tar.exe waits, and the worker with it: the cancel is noticed once the unpacking ends.
        process = self.session.start_installer(env={
            "http_proxy": server.proxy_url, "VANTILE_TEST_TAR_HOLD": harness.windows_path(hold)})
        self.session.wait_for_status(STATUS_TEXTS[3])
        self.close_request("click")
        # Hidden while tar.exe still holds the worker (until the hold file goes, below): the
        # window did not wait for it.
        self.session.wait_state(lambda s: not s.visible, what="the window hidden")
        self.assertIsNone(process.poll(), "the process waits for the worker")

        self.assertEqual(self.session.run_installer(["--quiet"]), 1)
        self.assertFalse(self.session.state().visible, "a quiet second copy leaves it hidden")
        self.assertEqual(self.session.run_installer([]), 0)
        restored = self.session.wait_state(lambda s: s.visible, what="the window restored")
        self.session.screenshot("restored-while-cancelling")
        self.assertEqual(restored.status.text, STATUS_TEXTS[3])
        for how in CLOSE_REQUESTS:
            self.close_request(how)
        state = self.session.state()
        self.assertTrue(state.visible, "close requests do nothing while cancelling")
        self.assertIsNone(process.poll())

        hold.unlink()
        self.assertEqual(process.wait(timeout=60), 2)
        log = harness.read_log()
        self.assertEqual(log.count(SECOND_COPY), 2)
        self.assertEqual(log[-1], CANCELLED)
        self.assertNotIn("Installing Vantile\u2026", log)
        self.assertEqual(harness.staging_folders(), [])

    def test_close_requests_are_refused_while_the_apps_installer_runs(self):
        hold = self.work / "hold"
        held = self.work / "held"
        hold.write_text("wait")
        release, server = self.serve(HELD_INSTALLER)
        env = {"http_proxy": server.proxy_url, "VANTILE_TEST_HOLD": harness.windows_path(hold),
               "VANTILE_TEST_HELD": harness.windows_path(self.work) + "\\held"}
        process = self.session.start_installer(env=env)
        self.assertTrue(harness.wait_for(held.exists, timeout=60), "the app's installer started")
        state = self.session.wait_for_status(STATUS_TEXTS[4])
        self.session.screenshot("installing-cancel-disabled")
        self.assertTrue(state.cancel.visible)
        self.assertFalse(state.cancel.enabled)
        self.assertEqual(state.cancel.text, "Cancel")
        self.assertEqual(state.progress, 1000)
        self.assertFalse(state.try_again.visible)

        for how in CLOSE_REQUESTS:
            self.close_request(how)
        # Also the Esc key's own command and the Cancel button's id, sent straight to the window.
        self.session.probe("command", 2)
        self.session.probe("command", ID_CANCEL)
        state = self.session.state()
        self.assertTrue(state.visible)
        self.assertEqual(state.status.text, STATUS_TEXTS[4])
        self.assertIsNone(process.poll())

        hold.unlink()
        self.assertEqual(process.wait(timeout=60), 0)
        self.assertEqual(harness.read_log()[-1], INSTALLED)

    def test_try_again_after_a_failure_starts_a_new_attempt_in_a_new_staging_folder(self):
        release, server = self.serve(HELD_INSTALLER)
        record = self.work / "tar-record.txt"
        env = {"http_proxy": server.proxy_url, "VANTILE_TEST_EXIT_CODE": "3",
               "VANTILE_TEST_TAR_RECORD": harness.windows_path(record)}
        process = self.session.start_installer(env=env)
        first = self.session.wait_state(
            lambda s: s.status.text == HEADLINE and s.focus == ID_TRY_AGAIN, what="the failure")
        self.session.screenshot("failure-installing")
        message = harness.read_log()[-1]
        self.assertEqual(first.details.text, "The step that failed: Installing Vantile.\r\n" + message)
        self.assertEqual(first.progress, 1000)  # full since Unpacking, though hidden now

        # The next manifest read is slow, so the reset window can be seen.
        server.set_fault(MANIFEST_PATH, headers_delay=4, times=1)
        self.session.probe("click", ID_TRY_AGAIN)
        running = self.session.wait_for_status(STATUS_TEXTS[1], timeout=30)
        self.session.screenshot("try-again-reset")
        self.assertEqual(running.progress, 0)
        self.assertTrue(running.progress_bar.visible)
        self.assertFalse(running.details.visible)
        self.assertFalse(running.try_again.visible)
        self.assertTrue(running.cancel.enabled)

        self.session.wait_state(
            lambda s: s.status.text == HEADLINE and s.focus == ID_TRY_AGAIN, what="the second failure")
        folders = [line.split("=", 1)[1] for line in record.read_text().splitlines()
                   if line.startswith("working_folder=")]
        self.assertEqual(len(folders), 2)
        self.assertNotEqual(folders[0], folders[1], "each attempt has its own staging folder")
        self.assertEqual(harness.staging_folders(), [])
        self.assertEqual(harness.read_log().count("Checking this computer\u2026"), 2)

        self.session.probe("click", ID_CANCEL)
        self.assertEqual(process.wait(timeout=60), 1)


if __name__ == "__main__":
    unittest.main()
