"""DLL planting: a copy of the installer in a Downloads folder, with a DLL planted beside it
under the name of every DLL that the installer and its system DLLs load, and Wine told to
look for each of those names on the search path first (native before builtin), which is the
order Windows uses for every DLL outside KnownDLLs. A quiet local install, a quiet https
install and a window-mode install must all succeed without loading one of them: no planted
DllMain runs (it would leave a marker file), and Wine's +loaddll trace shows nothing loaded
from the installer's folder.

The names are found the way an attacker would: by running the same installs first with
nothing planted and reading the trace. A system DLL that cannot be loaded at all ends the run
with one message and exit code 1, in both modes.

Run through scripts/with-test-ca.sh (the https installs need Wine to trust the test CA)."""
import getpass
import hashlib
import json
import pathlib
import re
import shutil
import sys
import zipfile

import harness
import window_support as ws

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
from release_server import ReleaseServer, build_sample_release  # noqa: E402

DOUBLES = harness.DOUBLES
PLANTED_DLL = harness.SUPPORT_DIR / "release" / "planted.dll"
DOWNLOADS = harness.DRIVE_C / "users" / getpass.getuser() / "Downloads"
FIRST_LINE = "vantile-install 1.4.53 (production)"
INSTALLED = "Vantile 1.4.0 is installed, and it is opening now."
SCENARIOS = ("local-quiet", "https-quiet", "https-window")

# Names left out of the planting, because Wine loads them from the search path whatever the
# program does, where Windows never searches for them.
#  - Before the program's first instruction, Wine's loader resolves the static imports of its
#    own builtin kernel32, user32, gdi32 and msvcrt over the search path. On Windows these are
#    KnownDLLs, or DLLs that Windows maps from System32 together with them (kernelbase,
#    ucrtbase, win32u), or do not exist there at all (zlib1, a library of Wine's builtins).
#    The program's own import table holds only KnownDLLs (test_pe_header.py).
#  - version.dll: loaded by Wine's start-up before the program runs.
WINE_START_UP = {
    "ntdll", "kernelbase", "kernel32", "msvcrt", "ucrtbase", "advapi32", "sechost", "user32",
    "gdi32", "win32u", "imm32", "version", "zlib1",
}
#  - Wine's builtin DLLs resolve their delay imports on the process's standard search path,
#    without the default DLL folders the program set (its trace says "failed to delay load"
#    when the planted one lacks the function): secur32 and crypt32 (WinINet's TLS), msimg32
#    (theming), and combase and rpcrt4, which ole32 imports.
#    Windows loads a system DLL's delay imports with the program's default DLL folders.
WINE_LAZY = {"secur32", "crypt32", "msimg32", "combase", "rpcrt4"}
# The installer's own system DLLs: the planted set must hold these, or the test proves nothing.
# (ole32 serves the window's accessibility annotations; the program binds it before comctl32
# or shell32 could load it lazily.)
PROGRAM_DLLS = {"wininet", "bcrypt", "comctl32", "ole32"}
# Disabling ole32 under Wine stops Wine's own desktop process, which the program's processes
# share, before the program could say anything: the missing-DLL message is shown for the others
# (the same code path for every name of the list).
WINE_CANNOT_DO_WITHOUT = {"ole32"}

LOADED = re.compile(r'^([0-9a-f]+):trace:loaddll:\w+ Loaded L"(.*?)" at ')


def loads(trace):
    """(process id, Windows path) of every module the trace shows loaded."""
    found = []
    for line in trace.splitlines():
        match = LOADED.match(line)
        if match:
            found.append((match.group(1), match.group(2).replace("\\\\", "\\")))
    return found


def program_dll_names(trace, exe_name):
    """Lower-case names, without .dll, of the DLLs loaded into the installer's own process."""
    entries = loads(trace)
    pids = {pid for pid, path in entries if path.lower().endswith("\\" + exe_name)}
    names = set()
    for pid, path in entries:
        leaf = path.rsplit("\\", 1)[-1].lower()
        if pid in pids and leaf.endswith(".dll"):
            names.add(leaf[:-4])
    return names


class DllPlantingTest(ws.WindowTestCase):
    SESSION_NAME = "dll-planting"

    def setUp(self):
        super().setUp()
        DOWNLOADS.mkdir(parents=True, exist_ok=True)
        # The installer's folder: a Downloads folder where anything may lie beside it.
        self.folder = self.work_folder("planting-", DOWNLOADS)
        self.exe = self.folder / "vantile-install.exe"
        shutil.copyfile(harness.EXE, self.exe)
        self.work = self.work_folder("planting-release-")
        self.record = self.work / "record.txt"
        self.place_tar_double()
        self.local_manifest = self.make_local_release()
        release = build_sample_release(self.work / "https", DOUBLES / "Vantile.exe")
        self.server = ReleaseServer(release.release_dir)
        self.server.start()
        self.addCleanup(self.server.stop)

    def make_local_release(self):
        archive = self.work / "local" / "app-x64.zip"
        archive.parent.mkdir()
        with zipfile.ZipFile(archive, "w", compression=zipfile.ZIP_DEFLATED) as bundle:
            bundle.write(DOUBLES / "Vantile.exe", "Vantile.exe")
        data = archive.read_bytes()
        manifest = archive.parent / "metadata.json"
        manifest.write_text(json.dumps({"desktop-windows-x64": {
            "version": "1.4.0", "url": "app-x64.zip", "size": len(data),
            "sha256": hashlib.sha256(data).hexdigest()}}))
        return manifest

    def run_scenario(self, scenario, overrides=None, timeout=180):
        """Runs one install with the +loaddll trace on; returns (exit code, trace)."""
        harness.clear_log()
        self.record.unlink(missing_ok=True)
        env = {"WINEDEBUG": "+loaddll", "VANTILE_TEST_RECORD": harness.windows_path(self.record)}
        if overrides:
            env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;%s" % overrides
        if scenario == "local-quiet":
            env["VANTILE_INSTALL_MANIFEST"] = harness.windows_path(self.local_manifest)
            args = ["--quiet"]
        else:
            env["http_proxy"] = self.server.proxy_url
            args = ["--quiet"] if scenario == "https-quiet" else []
        result = harness.run_program(self.exe, args, env=self.session.env(env), timeout=timeout)
        return result.returncode, result.stderr.decode("utf-8", errors="replace")

    def assert_installed(self, scenario, code):
        log = harness.read_log()
        self.assertEqual(code, 0, "%s: %s" % (scenario, log))
        self.assertEqual(log[-1], INSTALLED, scenario)
        self.assertTrue(self.record.exists(), "%s: the app's installer did not run" % scenario)

    def test_no_dll_beside_the_installer_is_loaded(self):
        found = set()
        for scenario in SCENARIOS:
            code, trace = self.run_scenario(scenario)
            self.assert_installed(scenario, code)
            found |= program_dll_names(trace, self.exe.name)
        planted = sorted(found - WINE_START_UP - WINE_LAZY)
        self.assertTrue(PROGRAM_DLLS <= set(planted), "the trace did not show %s" % PROGRAM_DLLS)
        for name in planted:
            shutil.copyfile(PLANTED_DLL, self.folder / (name + ".dll"))
        # The programs the installer starts are named by full path, never searched for: one of
        # these, if run, would fail the install.
        for program in ("tar.exe", "Vantile.exe"):
            (self.folder / program).write_bytes(b"MZ planted, not a program")
        print("\nplanted beside the installer: %s" % ", ".join(planted))
        print("left out (loaded by Wine itself): %s" % ", ".join(sorted(found - set(planted))))

        for scenario in SCENARIOS:
            with self.subTest(scenario=scenario):
                code, trace = self.run_scenario(scenario, overrides=",".join(planted) + "=n,b")
                self.assert_installed(scenario, code)
                self.assertEqual(sorted(p.name for p in self.folder.glob("*.loaded")), [],
                                 "a planted DllMain ran")
                from_folder = [path for _, path in loads(trace)
                               if path.lower().startswith(harness.windows_path(self.folder).lower() + "\\")
                               and not path.lower().endswith("\\" + self.exe.name)]
                self.assertEqual(from_folder, [], "loaded from the installer's folder")

    def test_a_system_dll_that_cannot_be_loaded_ends_the_run_with_one_message(self):
        # Wine's "disabled" override makes a DLL impossible to load, as a missing one would be.
        # Wine's text for error 126; Windows says "The specified module could not be found."
        message = ("Vantile's installer could not load %s.dll from the Windows System32 folder: "
                   "Module not found. (os error 126)")
        for name in sorted(PROGRAM_DLLS - WINE_CANNOT_DO_WITHOUT):
            with self.subTest(name=name, mode="quiet"):
                code, _ = self.run_scenario("https-quiet", overrides="%s=d" % name)
                self.assertEqual(code, 1)
                self.assertEqual(harness.read_log(), [FIRST_LINE, message % name])
                self.assertFalse(self.record.exists())
                self.assertEqual(harness.staging_folders(), [])
        with self.subTest(name="wininet", mode="window"):
            harness.clear_log()
            process = harness.start_installer([], env=self.session.env(
                {"WINEDLLOVERRIDES": "mscoree,mshtml=;wininet=d"}), exe=self.exe)
            self.session.installers.append(process)
            self.assertTrue(harness.wait_for(lambda: self.session.error_box()["found"], timeout=60))
            box = self.session.error_box()
            self.session.screenshot("missing-dll-error-box")
            self.assertIn(message % "wininet", box["texts"])
            self.assertFalse(self.session.state().found, "no installer window is created")
            self.assertIsNone(process.poll(), "the program waits for the box")
            self.session.error_box(dismiss=True)
            self.assertEqual(process.wait(timeout=60), 1)
            self.assertEqual(harness.read_log(), [FIRST_LINE, message % "wininet"])
        with self.subTest(name="comctl32", mode="window"):
            # Without comctl32 no message box can be made either (its buttons are comctl32's
            # under the program's manifest): the log keeps the message.
            code, _ = self.run_scenario("https-window", overrides="comctl32=d")
            self.assertEqual(code, 1)
            self.assertEqual(harness.read_log(), [FIRST_LINE, message % "comctl32"])
            self.assertFalse(self.session.state().found)
