"""vantile-release and the installer together under Wine: what `make` writes and `check`
passes, the real installer installs, from the release server and from an offline folder
copied to a path with spaces. The Windows build of the tool (CNG, and the installer's own
unpacking steps) runs here; the native build (OpenSSL, libarchive) makes the same manifest.
Where the installer would fail, both builds of `check` say so in the installer's words: an
archive without Vantile.exe at its top, an entry tar.exe refuses, an offline manifest written
with Windows separators."""
import hashlib
import json
import pathlib
import shutil
import subprocess
import sys
import unittest
import zipfile

import harness

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
from release_server import (STORAGE_PREFIX, ReleaseServer, build_url, make_manifest,  # noqa: E402
                            release_tool)

DOUBLES = harness.DOUBLES
TOOL = harness.BUILD_DIR / "vantile-release.exe"
BASE = build_url("")
PROXY_VARIABLES = ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "no_proxy",
                   "NO_PROXY", "all_proxy", "ALL_PROXY")


def win(path):
    return harness.windows_path(path)


def zip_with_app(path, marker):
    """An archive as a build makes it: Vantile.exe at the top, and a file of its own."""
    path.parent.mkdir(parents=True, exist_ok=True)
    with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED) as bundle:
        bundle.write(DOUBLES / "Vantile.exe", "Vantile.exe")
        bundle.writestr("resources/build.txt", marker)
    return path


def zip_with(path, entries):
    """An archive with these (name, bytes) entries."""
    path.parent.mkdir(parents=True, exist_ok=True)
    with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED) as bundle:
        for name, data in entries:
            bundle.writestr(name, data)
    return path


def run_native_tool(*arguments):
    """The native vantile-release on this Linux host: exit code and output lines."""
    result = subprocess.run([str(release_tool()), *map(str, arguments)], capture_output=True,
                            text=True, timeout=120)
    return result.returncode, result.stdout.splitlines()


NO_APP = "The download has no Vantile.exe, so it is not a Vantile desktop app."


def digest(path):
    data = path.read_bytes()
    return len(data), hashlib.sha256(data).hexdigest()


def run_tool(*arguments, cwd=None):
    """The Windows vantile-release under Wine: its exit code, output lines and error text."""
    result = harness.run_program(TOOL, [str(a) for a in arguments], cwd=cwd)
    return (result.returncode, result.stdout.decode("utf-8").splitlines(),
            result.stderr.decode("utf-8", errors="replace"))


class ReleaseToolTestCase(harness.InstallerTestCase):
    def setUp(self):
        super().setUp()
        self.work = self.work_folder("release-tool-")
        self.place_tar_double()
        self.record = self.work / "record.txt"

    def install(self, manifest, server=None, cwd=None):
        env = {name: None for name in PROXY_VARIABLES}
        env.update(VANTILE_INSTALL_MANIFEST=win(manifest), VANTILE_TEST_RECORD=win(self.record))
        if server is not None:
            env.update(http_proxy=server.proxy_url, https_proxy=server.proxy_url)
        return harness.run_installer(["--quiet"], env=env, cwd=cwd)


class PublishedReleaseTest(ReleaseToolTestCase):
    def setUp(self):
        super().setUp()
        self.release = self.work / "release"
        self.x64 = zip_with_app(self.release / "vantile-1.4.0-x64.zip", "x64")
        self.arm64 = zip_with_app(self.release / "vantile-1.4.0-arm64.zip", "arm64")
        self.manifest = self.release / "metadata.json"

    def make(self):
        code, lines, err = run_tool("make", "--version", "1.4.0", "--x64", win(self.x64),
                                    "--arm64", win(self.arm64), "--base", BASE,
                                    "--out", win(self.manifest))
        self.assertEqual(code, 0, err)
        return lines

    def test_make_then_check_then_the_installer_installs_it(self):
        x64_size, x64_sha = digest(self.x64)
        arm64_size, arm64_sha = digest(self.arm64)
        self.assertEqual(self.make(), [
            "Wrote " + win(self.manifest),
            "x64: chooses desktop-windows-x64 1.4.0, the only entry x64 computers read",
            "x64: downloads %svantile-1.4.0-x64.zip (%d bytes, SHA-256 %s)" % (BASE, x64_size, x64_sha),
            # make reads its archives as the installer would, with the installer's own steps.
            "x64: %s has that size and SHA-256" % win(self.x64),
            "x64: %s unpacks with Vantile.exe at its top" % win(self.x64),
            "arm64: chooses desktop-windows-arm64 1.4.0, because desktop-windows-x64 1.4.0 is not "
            "strictly newer",
            "arm64: downloads %svantile-1.4.0-arm64.zip (%d bytes, SHA-256 %s)"
            % (BASE, arm64_size, arm64_sha),
            "arm64: %s has that size and SHA-256" % win(self.arm64),
            "arm64: %s unpacks with Vantile.exe at its top" % win(self.arm64),
            "Both kinds of computer would install.",
        ])
        self.assertEqual(json.loads(self.manifest.read_text(encoding="utf-8")), {
            "desktop-windows-x64": {"version": "1.4.0", "url": BASE + "vantile-1.4.0-x64.zip",
                                    "size": x64_size, "sha256": x64_sha},
            "desktop-windows-arm64": {"version": "1.4.0", "url": BASE + "vantile-1.4.0-arm64.zip",
                                      "size": arm64_size, "sha256": arm64_sha},
        })
        # The native build, hashing with OpenSSL, writes the very same manifest.
        native = self.work / "native.json"
        make_manifest(native, "1.4.0", self.x64, self.arm64, base=BASE)
        self.assertEqual(native.read_bytes(), self.manifest.read_bytes())

        code, lines, err = run_tool("check", win(self.manifest), "--files", win(self.release))
        self.assertEqual(code, 0, lines + [err])
        self.assertEqual(lines[2], "x64: %s has that size and SHA-256" % win(self.x64))
        self.assertEqual(lines[3], "x64: %s unpacks with Vantile.exe at its top" % win(self.x64))
        self.assertEqual(lines[6], "arm64: %s has that size and SHA-256" % win(self.arm64))
        self.assertEqual(lines[7], "arm64: %s unpacks with Vantile.exe at its top" % win(self.arm64))

        with ReleaseServer(self.release) as server:
            code = self.install(self.manifest, server)
            requested = [request.path for request in server.requests]
        log = harness.read_log()
        self.assertEqual(code, 0, log)
        self.assertIn("Installing the Vantile desktop app 1.4.0 for win32-x64 (desktop-windows-x64)", log)
        self.assertEqual(log[-1], "Vantile 1.4.0 is installed, and it is opening now.")
        self.assertEqual(requested, [STORAGE_PREFIX + "vantile-1.4.0-x64.zip"])
        self.assertTrue(self.record.exists(), "the app's installer did not run")

    def test_check_files_and_the_installer_refuse_a_changed_archive_in_the_same_words(self):
        self.make()
        _, published = digest(self.x64)
        data = bytearray(self.x64.read_bytes())
        data[len(data) // 2] ^= 0xFF
        self.x64.write_bytes(bytes(data))
        changed = hashlib.sha256(data).hexdigest()
        message = ("%svantile-1.4.0-x64.zip failed its checksum (expected %s, got %s): it is not "
                   "the published file." % (BASE, published, changed))

        code, lines, _ = run_tool("check", win(self.manifest), "--files", win(self.release))
        self.assertEqual(code, 1)
        self.assertEqual(lines[2], "x64: would fail: " + message)
        self.assertEqual(lines[3], "x64: %s no longer matches the manifest: if the archive was "
                         "rebuilt, make the manifest again" % win(self.release / "vantile-1.4.0-x64.zip"))
        self.assertEqual(lines[-1], "Only arm64 computers would install.")

        with ReleaseServer(self.release) as server:
            code = self.install(self.manifest, server)
        log = harness.read_log()
        self.assertEqual(code, 1, log)
        self.assertEqual(log[-2:], [
            "Vantile could not be installed. The step that failed: Downloading Vantile.", message])
        self.assertFalse(self.record.exists(), "the app's installer ran")


class OutputSafetyTest(ReleaseToolTestCase):
    def test_make_replaces_a_manifest_whole_and_never_writes_over_an_archive(self):
        folder = self.work / "offline"
        archive = zip_with_app(folder / "vantile-1.4.0-x64.zip", "x64")
        manifest = folder / "metadata.json"
        manifest.write_text("the old manifest", encoding="utf-8")
        for version in ("1.4.0", "1.4.1"):
            code, _, err = run_tool("make", "--local", "--version", version, "--x64", win(archive),
                                    "--out", win(manifest))
            self.assertEqual(code, 0, err)
            self.assertEqual(json.loads(manifest.read_text(encoding="utf-8"))
                             ["desktop-windows-x64"]["version"], version)
        self.assertEqual(sorted(p.name for p in folder.iterdir()),
                         ["metadata.json", "vantile-1.4.0-x64.zip"])

        before = archive.read_bytes()
        spelled_otherwise = win(folder) + "\\.\\VANTILE-1.4.0-X64.ZIP"
        code, lines, err = run_tool("make", "--local", "--version", "1.4.0", "--x64", win(archive),
                                    "--out", spelled_otherwise)
        self.assertEqual(code, 2, lines)
        self.assertEqual(err.strip(), "vantile-release: --out %s is the archive %s: the manifest "
                         "would replace it." % (spelled_otherwise, win(archive)))
        self.assertEqual(archive.read_bytes(), before)

        # Device and long-path spellings name the same opened file.
        for prefix in ("\\\\?\\", "\\\\.\\"):
            with self.subTest(prefix=prefix):
                spelled = prefix + win(archive)
                code, lines, err = run_tool("make", "--version", "1.4.0", "--x64", win(archive),
                                            "--base", BASE, "--out", spelled)
                self.assertEqual(code, 2, lines)
                self.assertEqual(err.strip(), "vantile-release: --out %s is the archive %s: the "
                                 "manifest would replace it." % (spelled, win(archive)))
                self.assertEqual(archive.read_bytes(), before)


class OfflineFolderTest(ReleaseToolTestCase):
    def test_an_offline_folder_copied_to_a_path_with_spaces_installs(self):
        built = self.work / "built"
        x64 = zip_with_app(built / "vantile-1.4.0-x64.zip", "x64")
        zip_with_app(built / "arm64" / "vantile-1.4.0.zip", "arm64")
        make_manifest(built / "metadata.json", "1.4.0", x64, built / "arm64" / "vantile-1.4.0.zip")
        document = json.loads((built / "metadata.json").read_text(encoding="utf-8"))
        self.assertEqual(document["desktop-windows-x64"]["url"], "vantile-1.4.0-x64.zip")
        self.assertEqual(document["desktop-windows-arm64"]["url"], "arm64/vantile-1.4.0.zip")

        # What an administrator copies to a share or to a computer without internet access.
        share = self.work / "Company Share" / "Vantile 1.4.0 offline"
        shutil.copytree(built, share)
        manifest = share / "metadata.json"
        size, sha256 = digest(x64)
        code, lines, err = run_tool("check", win(manifest), "--files", win(share))
        self.assertEqual(code, 0, lines + [err])
        self.assertEqual(lines[:4], [
            "x64: chooses desktop-windows-x64 1.4.0, the only entry x64 computers read",
            "x64: copies the local file %s (%d bytes, SHA-256 %s)"
            % (win(share / "vantile-1.4.0-x64.zip"), size, sha256),
            "x64: %s has that size and SHA-256" % win(share / "vantile-1.4.0-x64.zip"),
            "x64: %s unpacks with Vantile.exe at its top" % win(share / "vantile-1.4.0-x64.zip"),
        ])

        # Started from another folder: the archives are found beside the manifest.
        code = self.install(manifest, cwd=harness.BUILD_DIR)
        log = harness.read_log()
        self.assertEqual(code, 0, log)
        self.assertEqual(log, [
            harness.FIRST_LINE,
            "Checking this computer\u2026",
            "Reading the release manifest\u2026",
            "Manifest: " + win(manifest),
            "Installing the Vantile desktop app 1.4.0 for win32-x64 (desktop-windows-x64)",
            "Downloading Vantile\u2026",
            "Unpacking Vantile\u2026",
            "Installing Vantile\u2026",
            "Vantile 1.4.0 is installed, and it is opening now.",
        ])
        self.assertTrue(self.record.exists(), "the app's installer did not run")
        self.assertEqual(harness.staging_folders(), [])


class AgreementTest(ReleaseToolTestCase):
    """Offline manifests whose verdict the two builds of `check` and the installer share."""

    def offline(self, url, entries):
        folder = self.work / "offline"
        archive = zip_with(folder / "builds" / "app.zip", entries)
        size, sha256 = digest(archive)
        manifest = folder / "metadata.json"
        manifest.write_text(json.dumps({"desktop-windows-x64": {
            "version": "1.4.0", "url": url, "size": size, "sha256": sha256}}), encoding="utf-8")
        return manifest

    def installer_failure(self, manifest):
        code = self.install(manifest)
        log = harness.read_log()
        self.assertEqual(code, 1, log)
        self.assertFalse(self.record.exists(), "the app's installer ran")
        return log

    def test_backslash_paths_install_and_both_checks_say_so(self):
        manifest = self.offline("builds\\app.zip",
                                [("Vantile.exe", (DOUBLES / "Vantile.exe").read_bytes())])
        code, lines, err = run_tool("check", win(manifest))
        self.assertEqual(code, 0, lines + [err])
        self.assertIn("x64: %s\\builds\\app.zip unpacks with Vantile.exe at its top"
                      % win(manifest.parent), lines)
        native_code, native_lines = run_native_tool("check", manifest)
        self.assertEqual(native_code, 0, native_lines)
        self.assertEqual(native_lines[-1], "Both kinds of computer would install.")

        code = self.install(manifest)
        self.assertEqual(code, 0, harness.read_log())
        self.assertTrue(self.record.exists(), "the app's installer did not run")

    def test_an_archive_without_vantile_exe_at_its_top_fails_alike(self):
        manifest = self.offline("builds/app.zip", [("app/Vantile.exe", b"MZ")])
        log = self.installer_failure(manifest)
        self.assertEqual(log[-2:], [
            "Vantile could not be installed. The step that failed: Unpacking Vantile.", NO_APP])
        code, lines, _ = run_tool("check", win(manifest))
        self.assertEqual(code, 1)
        self.assertIn("x64: would fail: " + NO_APP, lines)
        native_code, native_lines = run_native_tool("check", manifest)
        self.assertEqual(native_code, 1)
        self.assertIn("x64: would fail: " + NO_APP, native_lines)

    def test_an_entry_tar_exe_refuses_fails_alike(self):
        manifest = self.offline("builds/app.zip", [("Vantile.exe", b"MZ"), ("../evil.txt", b"e")])
        log = self.installer_failure(manifest)
        self.assertRegex(log[-1], r"^Could not unpack .*vantile-desktop\.zip \(tar\.exe exit code 1\)\.$")
        code, lines, _ = run_tool("check", win(manifest))
        self.assertEqual(code, 1)
        failures = [line for line in lines if line.startswith("x64: would fail: ")]
        self.assertEqual(len(failures), 1, lines)
        self.assertRegex(failures[0], r"^x64: would fail: Could not unpack .*vantile-desktop\.zip "
                                      r"\(tar\.exe exit code 1\)\.$")
        native_code, native_lines = run_native_tool("check", manifest)
        self.assertEqual(native_code, 1)
        self.assertIn("x64: would fail: Could not unpack %s\\builds/app.zip (tar.exe exit code 1)."
                      % manifest.parent, native_lines)


if __name__ == "__main__":
    unittest.main()
