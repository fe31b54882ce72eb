"""The staging folder through the real program under Wine: a quiet install from a local
manifest that names a local zip archive, unpacked by the tar.exe double and installed by the
Vantile.exe double, and the removal of the staging folder at the end, also when the folder
holds links that point outside it or a file that another program keeps open.

The Vantile.exe double can wait (VANTILE_TEST_PAUSE_UNTIL) while the installer waits for it,
so a test can change the live staging folder from Linux before the removal runs."""
import os
import pathlib
import stat
import subprocess
import unittest
import zipfile

import harness

DOUBLES = harness.DOUBLES
HOLD_FILE = harness.SUPPORT_DIR / "hold_file.exe"
VERSION = "1.4.0"
INSTALLED = f"Vantile {VERSION} is installed, and it is opening now."
STILL_USABLE = "Vantile was installed and can be used."
# What Windows says for a reparse point met while opening (no text in Wine's tables).
REPARSE_POINT_TEXT = "(os error 4395)"
SHARING_VIOLATION_TEXT = "(os error 32)"
ACCESS_DENIED_TEXT = "(os error 5)"
# Wine sets LOCALAPPDATA afresh in every process, whatever the Linux side says.
WINE_LOCAL_APP_DATA = "C:\\users\\%s\\AppData\\Local" % harness.TEMP_DIR.parent.name


def sha256_and_size(path):
    import hashlib
    data = pathlib.Path(path).read_bytes()
    return hashlib.sha256(data).hexdigest(), len(data)


class StagingThroughTheProgram(harness.InstallerTestCase):
    def setUp(self):
        super().setUp()
        self.work = self.work_folder("vantile-staging-e2e-")
        self.record = self.work / "vantile-record.txt"
        self.go = self.work / "go"
        self.place_tar_double()

    def write_release(self, entries=None, read_only=(), program_name="Vantile.exe"):
        """A zip archive with the Vantile.exe double (at its top unless told otherwise) and any
        extra entries, and a manifest beside it that names the archive by a relative path."""
        archive = self.work / "release" / "vantile-desktop-1.4.0-win32-x64.zip"
        archive.parent.mkdir()
        with zipfile.ZipFile(archive, "w", compression=zipfile.ZIP_DEFLATED) as bundle:
            bundle.write(DOUBLES / "Vantile.exe", program_name)
            for name, content in (entries or {}).items():
                info = zipfile.ZipInfo(name)
                info.compress_type = zipfile.ZIP_DEFLATED
                info.external_attr = (0o444 if name in read_only else 0o644) << 16
                bundle.writestr(info, content)
        digest, size = sha256_and_size(archive)
        manifest = archive.parent / "metadata.json"
        manifest.write_text(
            '{"desktop-windows-x64": {"version": "%s", "url": "%s", "size": %d, "sha256": "%s"}}'
            % (VERSION, archive.name, size, digest), encoding="utf-8")
        return manifest

    def environment(self, manifest, **extra):
        env = {"VANTILE_INSTALL_MANIFEST": harness.windows_path(manifest),
               "VANTILE_TEST_RECORD": harness.windows_path(self.record)}
        env.update(extra)
        return env

    def record_value(self, key):
        for line in self.record.read_text(encoding="utf-8").splitlines():
            if line.startswith(key + "="):
                return line[len(key) + 1:]
        return None

    def start_paused(self, manifest):
        """Starts a quiet install whose Vantile.exe waits; returns the process and the Linux
        path of the staging folder it runs in."""
        process = harness.start_installer(
            env=self.environment(manifest, VANTILE_TEST_PAUSE_UNTIL=harness.windows_path(self.go)))
        self.addCleanup(lambda: process.poll() is None and process.kill())
        self.addCleanup(lambda: self.go.exists() or self.go.write_text("go"))
        self.assertTrue(harness.wait_for(self.record.exists, timeout=60), "Vantile.exe never ran")
        folders = harness.staging_folders()
        self.assertEqual(len(folders), 1, folders)
        return process, harness.TEMP_DIR / folders[0]

    def finish(self, process):
        self.go.write_text("go")
        return process.wait(timeout=120)

    def test_installs_and_removes_the_staging_folder_with_a_read_only_file(self):
        manifest = self.write_release(
            entries={"resources/app/main.js": "code", "resources/locked.dat": "read only"},
            read_only={"resources/locked.dat"})
        code = harness.run_installer(env=self.environment(manifest, VANTILE_DESKTOP_NO_DIALOG=None))
        self.assertEqual(code, 0, harness.read_log())
        self.assertEqual(harness.read_log()[-1], INSTALLED)
        self.assertEqual(harness.staging_folders(), [])

        # What the app's installer saw: started from the unpack folder with --install, the
        # quiet mode's no-dialog variable, and the null device on all standard handles.
        folder = self.record_value("working_folder")
        self.assertRegex(folder, r"^C:\\users\\[^\\]+\\Temp\\\.vantile-desktop-staging-\d+-\d+\\zip$")
        self.assertEqual(self.record_value("command_line"), f'"{folder}\\Vantile.exe" --install')
        self.assertEqual(self.record_value("no_dialog"), "1")
        for handle in ("stdin", "stdout", "stderr"):
            self.assertTrue(self.record_value(handle).endswith("\\dev\\null"), self.record_value(handle))

    def test_links_to_outside_are_never_followed_and_their_targets_stay(self):
        outside = self.work / "outside"
        (outside / "tree").mkdir(parents=True)
        (outside / "precious.txt").write_text("keep me")
        (outside / "tree" / "deeper.txt").write_text("keep me too")
        (outside / "empty").mkdir()
        manifest = self.write_release(entries={"resources/main.js": "code"})

        process, staging = self.start_paused(manifest)
        links = {staging / "zip" / "file-link": outside / "precious.txt",
                 staging / "zip" / "resources" / "folder-link": outside / "tree",
                 staging / "empty-folder-link": outside / "empty"}
        for link, target in links.items():
            os.symlink(target, link)
        self.addCleanup(lambda: [link.unlink() for link in links if link.is_symlink()])
        code = self.finish(process)

        # Wine opens what a Unix link points to, so the program stops at the first link rather
        # than delete through it; it reports the folder as left over and is still installed.
        log = harness.read_log()
        self.assertEqual(code, 0, log)
        windows_staging = harness.windows_path(staging)
        self.assertEqual(log[-4:-1], [INSTALLED, f"Temporary files remain at {windows_staging}.",
                                      STILL_USABLE])
        self.assertTrue(log[-1].startswith("Close anything using that folder, then remove it. "))
        self.assertTrue(log[-1].endswith(REPARSE_POINT_TEXT), log[-1])
        self.assertEqual((outside / "precious.txt").read_text(), "keep me")
        self.assertEqual((outside / "tree" / "deeper.txt").read_text(), "keep me too")
        self.assertTrue((outside / "empty").is_dir())
        for link in links:
            self.assertTrue(link.is_symlink() or not link.exists(), link)

    def test_a_hard_link_never_changes_the_file_outside(self):
        # Attributes belong to the file, not to its name: clearing read-only on a hard link
        # inside the staging folder would clear it on the file outside as well.
        outside = self.work / "outside"
        outside.mkdir()
        read_only, writable = outside / "read-only.txt", outside / "writable.txt"
        read_only.write_text("keep me")
        read_only.chmod(0o444)
        writable.write_text("keep me too")
        writable_mode = stat.S_IMODE(writable.stat().st_mode)
        manifest = self.write_release(entries={"resources/main.js": "code"})

        process, staging = self.start_paused(manifest)
        os.link(writable, staging / "zip" / "writable-link")
        os.link(read_only, staging / "zip" / "resources" / "read-only-link")
        code = self.finish(process)

        # The read-only name cannot go without clearing the attribute, so it stays and the
        # folder is reported as left over; the install stands.
        log = harness.read_log()
        self.assertEqual(code, 0, log)
        self.assertEqual(log[-4:-1], [INSTALLED, f"Temporary files remain at {harness.windows_path(staging)}.",
                                      STILL_USABLE])
        self.assertTrue(log[-1].startswith("Close anything using that folder, then remove it. "))
        self.assertTrue(log[-1].endswith(ACCESS_DENIED_TEXT), log[-1])
        self.assertEqual(stat.S_IMODE(read_only.stat().st_mode), 0o444)
        self.assertEqual(read_only.read_text(), "keep me")
        self.assertEqual(stat.S_IMODE(writable.stat().st_mode), writable_mode)
        self.assertEqual(writable.read_text(), "keep me too")

    def test_a_file_held_open_leaves_the_folder_and_the_install_stands(self):
        manifest = self.write_release(entries={"resources/main.js": "code"})
        process, staging = self.start_paused(manifest)
        held = staging / "zip" / "resources" / "main.js"
        ready, release = self.work / "held", self.work / "release-held"
        holder = subprocess.Popen(
            harness.wine_command(HOLD_FILE, [harness.windows_path(held), harness.windows_path(ready),
                                             harness.windows_path(release)]),
            env=harness.wine_env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: holder.poll() is None and holder.kill())
        self.addCleanup(lambda: release.exists() or release.write_text("go"))
        self.assertTrue(harness.wait_for(ready.exists, timeout=60), "the holder never opened the file")
        code = self.finish(process)
        release.write_text("go")
        holder.wait(timeout=60)

        log = harness.read_log()
        self.assertEqual(code, 0, log)
        self.assertEqual(log[-4], INSTALLED)
        self.assertEqual(log[-2], STILL_USABLE)
        self.assertTrue(log[-1].startswith("Close anything using that folder, then remove it. "))
        self.assertTrue(log[-1].endswith(SHARING_VIOLATION_TEXT), log[-1])
        self.assertEqual(log[-3], f"Temporary files remain at {harness.windows_path(staging)}.")
        self.assertEqual(held.read_text(), "code")

    def test_failed_unpack_names_the_archive_and_leaves_no_staging_folder(self):
        manifest = self.write_release()
        code = harness.run_installer(env=self.environment(manifest, VANTILE_TEST_TAR_EXIT="1"))
        log = harness.read_log()
        self.assertEqual(code, 1, log)
        self.assertEqual(log[-2], "Vantile could not be installed. The step that failed: Unpacking Vantile.")
        self.assertRegex(log[-1], r"^Could not unpack C:\\users\\[^\\]+\\Temp\\\.vantile-desktop-staging-"
                                  r"\d+-\d+\\vantile-desktop\.zip \(tar\.exe exit code 1\)\.$")
        self.assertEqual(harness.staging_folders(), [])
        self.assertFalse(self.record.exists(), "Vantile.exe must not run after a failed unpack")

    def test_archive_without_vantile_exe_at_its_top_is_not_an_app(self):
        manifest = self.write_release(program_name="Vantile/Vantile.exe")
        code = harness.run_installer(env=self.environment(manifest))
        log = harness.read_log()
        self.assertEqual(code, 1, log)
        self.assertEqual(log[-2:], ["Vantile could not be installed. The step that failed: Unpacking Vantile.",
                                    "The download has no Vantile.exe, so it is not a Vantile desktop app."])
        self.assertEqual(harness.staging_folders(), [])

    def test_installer_exit_code_becomes_the_message_with_local_app_data(self):
        # The crash code (-1073741819) is covered by the unit tests: under Wine the crash
        # debugger keeps the crashed program's image busy for a while after it has ended.
        manifest = self.write_release()
        code = harness.run_installer(env=self.environment(manifest, VANTILE_TEST_EXIT="3"))
        log = harness.read_log()
        self.assertEqual(code, 1, log)
        self.assertEqual(log[-2:], [
            "Vantile could not be installed. The step that failed: Installing Vantile.",
            "Vantile's installer stopped (exit code 3). Its log is launch.log, in "
            f"Programs\\Vantile under {WINE_LOCAL_APP_DATA}."])
        self.assertEqual(harness.staging_folders(), [])


if __name__ == "__main__":
    unittest.main()
