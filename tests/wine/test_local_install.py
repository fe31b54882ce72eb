"""A quiet install of a local release (a manifest file naming a zip beside it) through the
real program under Wine, and each failure of reading, choosing, verifying and launching,
with the exact message the log gives."""
import hashlib
import json
import unittest
import zipfile

import harness

DOUBLES = harness.DOUBLES
FIRST_LINE = harness.FIRST_LINE
LOCAL_APP_DATA = "C:\\users\\%s\\AppData\\Local" % harness.TEMP_DIR.parent.name


class LocalInstallTest(harness.InstallerTestCase):
    def setUp(self):
        super().setUp()
        self.work = self.work_folder("vantile-local-")
        self.record = self.work / "record.txt"
        self.place_tar_double()
        self.archive = self.work / "app-x64.zip"
        with zipfile.ZipFile(self.archive, "w", compression=zipfile.ZIP_DEFLATED) as bundle:
            bundle.write(DOUBLES / "Vantile.exe", "Vantile.exe")
            bundle.writestr("resources/app.js", "console.log('hi')\n")
        data = self.archive.read_bytes()
        self.entry = {"version": "1.4.0", "url": "app-x64.zip", "size": len(data),
                      "sha256": hashlib.sha256(data).hexdigest()}
        self.manifest = self.work / "metadata.json"

    def install(self, manifest_text=None, entry_changes=None, **env):
        if manifest_text is None:
            entry = dict(self.entry, **(entry_changes or {}))
            manifest_text = json.dumps({"desktop-windows-x64": entry})
        if isinstance(manifest_text, str):
            manifest_text = manifest_text.encode("utf-8")
        self.manifest.write_bytes(manifest_text)
        env.setdefault("VANTILE_INSTALL_MANIFEST", harness.windows_path(self.manifest))
        env["VANTILE_TEST_RECORD"] = harness.windows_path(self.record)
        return harness.run_installer(["--quiet"], env=env)

    def assert_failed(self, code, step, message):
        lines = harness.read_log()
        self.assertEqual(code, 1, lines)
        self.assertEqual(lines[-2:], [
            f"Vantile could not be installed. The step that failed: {step}.", message])
        self.assertEqual(harness.staging_folders(), [])

    def test_full_install_logs_every_step_and_leaves_nothing_behind(self):
        code = self.install()
        self.assertEqual(code, 0)
        self.assertEqual(harness.read_log(), [
            FIRST_LINE,
            "Checking this computer\u2026",
            "Reading the release manifest\u2026",
            "Manifest: " + harness.windows_path(self.manifest),
            "Installing the Vantile desktop app 1.4.0 for win32-x64 (desktop-windows-x64)",
            "Downloading Vantile\u2026",
            "Unpacking Vantile\u2026",
            "Installing Vantile\u2026",
            "Vantile 1.4.0 is installed, and it is opening now.",
        ])
        saw = dict(line.split("=", 1) for line in self.record.read_text().splitlines())
        self.assertRegex(saw["working_folder"],
                         r"^C:\\users\\[^\\]+\\Temp\\\.vantile-desktop-staging-\d+-\d+\\zip$")
        self.assertEqual(saw["command_line"], '"%s\\Vantile.exe" --install' % saw["working_folder"])
        self.assertEqual(saw["no_dialog"], "1")
        self.assertEqual(harness.staging_folders(), [])

    def test_manifest_failures(self):
        path = harness.windows_path(self.manifest)
        cases = [
            ("missing", None, "The manifest %s does not exist." % (path + ".missing")),
            ("too large", b" " * 1048577, f"The manifest {path} is larger than a manifest can be."),
            ("empty", b"", f"The manifest {path} is not valid JSON: EOF while parsing a value at line 1 column 0"),
            ("byte-order mark", b"\xef\xbb\xbf{}",
             f"The manifest {path} is not valid JSON: expected value at line 1 column 1"),
            ("trailing comma", b'{\n  "a": 1,\n}',
             f"The manifest {path} is not valid JSON: trailing comma at line 3 column 1"),
            ("only arm64", json.dumps({"desktop-windows-arm64": self.entry}),
             "The desktop manifest has no Vantile desktop app for this computer (win32-x64) yet."),
            ("top-level array", "[1]",
             "The desktop manifest has no Vantile desktop app for this computer (win32-x64) yet."),
        ]
        for name, text, message in cases:
            with self.subTest(name):
                harness.clear_log()
                env = {}
                if text is None:
                    env["VANTILE_INSTALL_MANIFEST"] = path + ".missing"
                    text = "{}"
                code = self.install(text, **env)
                self.assert_failed(code, "Reading the release manifest", message)
                # A file is read once: no retry notice.
                self.assertFalse(any(l.startswith("Connection interrupted") for l in harness.read_log()))

    def test_download_and_verification_failures(self):
        archive = harness.windows_path(self.archive)
        size = self.entry["size"]
        upper = "AB" * 32
        cases = [
            ("untrusted address", {"url": "https://releases.mirrowfold.example/other/app.zip"},
             "The manifest names https://releases.mirrowfold.example/other/app.zip, which is not "
             "one of Vantile's downloads."),
            ("plain http", {"url": "http://cdn.mirrowfold.example/vantile/desktop/a.zip"},
             "Only https:// addresses are trusted, and http://cdn.mirrowfold.example/vantile/desktop/a.zip "
             "is not one."),
            ("bad digest text", {"sha256": "g" * 64}, f"The manifest gives no valid SHA-256 for {archive}."),
            ("size mismatch", {"size": size + 1},
             f"{archive} is {size} bytes, but the manifest says {size + 1}: the download is "
             "incomplete, or is not the published file."),
            ("checksum mismatch", {"sha256": upper},
             f"{archive} failed its checksum (expected {upper}, got {self.entry['sha256']}): it is "
             "not the published file."),
            ("missing archive", {"url": "gone.zip"},
             "Could not read %s: " % harness.windows_path(self.work / "gone.zip")),
        ]
        for name, changes, message in cases:
            with self.subTest(name):
                harness.clear_log()
                code = self.install(entry_changes=changes)
                lines = harness.read_log()
                if name == "missing archive":
                    self.assertEqual(code, 1)
                    self.assertTrue(lines[-1].startswith(message), lines[-1])
                    self.assertTrue(lines[-1].endswith("(os error 2)"), lines[-1])
                    self.assertEqual(lines[-2], "Vantile could not be installed. The step that failed: "
                                                "Downloading Vantile.")
                else:
                    self.assert_failed(code, "Downloading Vantile", message)

    def test_installer_crash_is_reported_with_its_signed_exit_code(self):
        code = self.install(VANTILE_TEST_EXIT="crash")
        lines = harness.read_log()
        self.assertEqual(code, 1, lines)
        headline = "Vantile could not be installed. The step that failed: Installing Vantile."
        self.assertIn(headline, lines)
        self.assertEqual(lines[lines.index(headline) + 1],
                         "Vantile's installer stopped (exit code -1073741819). Its log is launch.log, "
                         f"in Programs\\Vantile under {LOCAL_APP_DATA}.")
        # Wine's crash handling can keep the crashed program's file open for a moment after the
        # process has ended; the folder is then reported as left behind, never silently kept.
        leftover = lines[lines.index(headline) + 2:]
        if leftover:
            self.assertTrue(leftover[0].startswith("Temporary files remain at "), leftover)
            self.assertEqual(leftover[1], "The install failed for the reason above.")

    def test_upper_case_digest_that_matches_installs(self):
        code = self.install(entry_changes={"sha256": self.entry["sha256"].upper()})
        self.assertEqual(code, 0, harness.read_log())


if __name__ == "__main__":
    unittest.main()
