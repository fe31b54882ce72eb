"""Runs the real vantile-install.exe under Wine in the project's prefix and reads its log.

Shared by every end-to-end test. Paths come from the environment CTest sets
(VANTILE_BUILD_DIR, VANTILE_SOURCE_DIR), with the default build layout as fallback.
"""
import getpass
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import time
import unittest

SOURCE_DIR = pathlib.Path(os.environ.get("VANTILE_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
BUILD_DIR = pathlib.Path(os.environ.get("VANTILE_BUILD_DIR", SOURCE_DIR / "build" / "mingw"))
PREFIX = pathlib.Path(os.environ.get("VANTILE_WINEPREFIX", SOURCE_DIR / "build" / "wine-prefix"))
EXE = BUILD_DIR / "vantile-install.exe"
SUPPORT_DIR = BUILD_DIR / "tests" / "support"
DOUBLES = SUPPORT_DIR / "doubles"
DRIVE_C = PREFIX / "drive_c"
SYSTEM32 = DRIVE_C / "windows" / "system32"
TEMP_DIR = DRIVE_C / "users" / getpass.getuser() / "Temp"
LOG_PATH = TEMP_DIR / "vantile-install.log"
# Every Wine program of the tests starts through the project's runner, which fixes the
# address layout that Wine's start needs.
WINE_RUN = SOURCE_DIR / "scripts" / "wine-run"
# Wine's own error messages, so that a program that never ran as far as its log says why.
WINE_ERRORS = {"WINEDEBUG": "-all,err+all"}



def _read_wine_defaults():
    values = {}
    for line in (SOURCE_DIR / "scripts" / "wine.env").read_text().splitlines():
        if line and not line.startswith("#"):
            name, _, value = line.partition("=")
            values[name] = value
    return values


def _program_version():
    """CTest passes the version; run by hand, it is read from the build's generated header."""
    if os.environ.get("VANTILE_VERSION"):
        return os.environ["VANTILE_VERSION"]
    header = (BUILD_DIR / "generated" / "base" / "version.h").read_text()
    return re.search(r'VANTILE_VERSION_TEXT "([^"]+)"', header).group(1)


WINE_DEFAULTS = _read_wine_defaults()
VERSION = _program_version()
FIRST_LINE = f"vantile-install {VERSION} (production)"

LOG_LINE = re.compile(r"^\[ *(\d+\.\d)s\] (.*)$")


def wine_command(program, args=()):
    """The command line that runs a Windows program (a path, or a name such as "reg")."""
    return [str(WINE_RUN), str(program), *args]


def wine_env(extra=None):
    # As scripts/wine-run does: a value the caller set itself wins over the defaults.
    env = {**WINE_DEFAULTS, **os.environ}
    env["WINEPREFIX"] = str(PREFIX)
    # Wine hands the Linux environment to Windows programs; keep ours out of the tests.
    for name in ("VANTILE_INSTALL_MANIFEST", "VANTILE_DESKTOP_NO_DIALOG"):
        env.pop(name, None)
    if extra:
        for name, value in extra.items():
            if value is None:
                env.pop(name, None)
            else:
                env[name] = value
    return env


def _lock_holders():
    """(pid, "major:minor:inode") of each POSIX lock on the machine, as /proc/locks lists them."""
    holders = set()
    with open("/proc/locks") as locks:
        for line in locks:
            fields = line.split()
            if len(fields) > 5 and fields[1] == "POSIX":
                holders.add((fields[4], fields[5]))
    return holders


def prefix_wineservers():
    """(pid, command line) of each running wineserver of the test prefix. A wineserver keeps
    the lock file of a folder named after the prefix's device and inode open, and the one that
    serves holds its lock, while one starting up (from `wineserver -p`, or one that `wine`
    starts) finds it taken and exits. Neither its parent (a subreaper may adopt it instead of
    process 1) nor its working folder (the prefix's own while it loads the registry) tells."""
    status = PREFIX.stat()
    lock_name = "/server-%x-%x/lock" % (status.st_dev, status.st_ino)
    holders = _lock_holders()
    found = []
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if not (entry / "comm").read_text().startswith("wineserver"):
                continue
            for fd in (entry / "fd").iterdir():
                try:
                    if not os.readlink(fd).endswith(lock_name):
                        continue
                    lock = fd.stat()
                except OSError:  # a descriptor the server closed meanwhile
                    continue
                held = "%02x:%02x:%d" % (os.major(lock.st_dev), os.minor(lock.st_dev), lock.st_ino)
                if (entry.name, held) in holders:
                    found.append((int(entry.name), (entry / "cmdline").read_bytes().split(b"\0")))
                break
        except OSError:
            continue
    return found


def _network_namespace(pid="self"):
    try:
        return os.readlink("/proc/%s/ns/net" % pid)
    except OSError:
        return None


def _serves_this_run(pid, command_line):
    """Whether a running wineserver can serve this run's programs: one that `wine` started by
    itself (Debian's starts it with -p0) ends, and saves the registry, whenever its last
    program ends, so that a program started next races with its ending; and one left by a run
    in another network namespace keeps Wine's services (which programs ask about the network)
    in that namespace, so that every connection of this run fails."""
    persistence = [a for a in command_line if a.startswith(b"-p")]
    return (persistence and persistence[-1] == b"-p" and
            _network_namespace(pid) in (_network_namespace(), None))


def start_wineserver():
    """A wineserver that stays until it is told to go: each program then starts in a fraction
    of a second and finds what the one before it left (the registry, the lock, the log).

    It outlives the test, so it must not hold the test's output open: CTest (and any
    caller reading a program's output through a pipe) would wait for it to exit."""
    quiet = {"env": wine_env(), "check": False, "stdin": subprocess.DEVNULL,
             "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    running = prefix_wineservers()
    if running and all(_serves_this_run(pid, line) for pid, line in running):
        return
    if running:
        # `wineserver -p` cannot make a running server stay: it leaves it as it is.
        subprocess.run(["wineserver", "-k"], **quiet)
        subprocess.run(["wineserver", "-w"], **quiet)
    subprocess.run(["wineserver", "-p"], **quiet)


def windows_path(path):
    """The Windows name of a Linux path: under drive_c it is C:, elsewhere Z:."""
    path = pathlib.Path(path).resolve()
    try:
        return "C:\\" + str(path.relative_to(DRIVE_C.resolve())).replace("/", "\\")
    except ValueError:
        return "Z:" + str(path).replace("/", "\\")


def run_program(exe, args=(), env=None, timeout=120, cwd=None, hosts=None):
    """Runs a Windows program and waits for it; its output is captured in files, not pipes,
    since a wineserver that `wine` starts on the way inherits them and outlives the program.

    hosts: a file that the program sees as /etc/hosts (in a mount namespace of its own), so
    that it reaches names it must resolve itself, without a proxy, on loopback."""
    start_wineserver()
    command = wine_command(exe, args)
    if hosts is not None:
        command = ["unshare", "--mount", "--propagation", "private", "--", "/bin/sh", "-c",
                   'mount --bind "$0" /etc/hosts && exec "$@"', str(hosts), *command]
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen(command, env=wine_env(env), cwd=cwd,
                                   stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        try:
            code = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(process.args, code, out.read(), err.read())


def run_installer(args=("--quiet",), env=None, timeout=300, exe=EXE, cwd=None):
    """Runs the installer and waits for it; returns its exit code."""
    return run_program(exe, args, env=env, timeout=timeout, cwd=cwd).returncode


def start_installer(args=("--quiet",), env=None, exe=EXE):
    start_wineserver()
    return subprocess.Popen(wine_command(exe, args), env=wine_env(env),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def read_log_raw():
    return LOG_PATH.read_bytes() if LOG_PATH.exists() else b""


def read_log():
    """The texts of the log's lines, without their time stamps."""
    texts = []
    for line in read_log_raw().decode("utf-8").split("\n"):
        if not line:
            continue
        match = LOG_LINE.match(line)
        texts.append(match.group(2) if match else line)
    return texts


def clear_log():
    if LOG_PATH.exists():
        LOG_PATH.unlink()


def staging_folders():
    return sorted(p.name for p in TEMP_DIR.glob(".vantile-desktop-staging-*"))


def remove_staging_folders():
    for folder in TEMP_DIR.glob(".vantile-desktop-staging-*"):
        shutil.rmtree(folder, ignore_errors=True)


def wait_for(predicate, timeout=30.0, interval=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(interval)
    return predicate()


class placed_file:
    """Puts a file into the prefix for the length of a `with` block, then removes it.

    `content` is bytes, or a pathlib.Path whose bytes are copied (for example a
    test double from the build folder).
    """

    def __init__(self, destination, content=b""):
        self.destination = pathlib.Path(destination)
        self.content = content

    def __enter__(self):
        if self.destination.exists():
            raise RuntimeError(f"{self.destination} exists already; a test left it behind")
        data = self.content.read_bytes() if isinstance(self.content, pathlib.Path) else self.content
        self.destination.write_bytes(data)
        return self.destination

    def __exit__(self, *exc):
        self.destination.unlink(missing_ok=True)
        return False


def system_tar(content=b"MZ"):
    """tar.exe in the prefix's system32, where Wine's SystemRoot points in every process."""
    return placed_file(SYSTEM32 / "tar.exe", content)


class InstallerTestCase(unittest.TestCase):
    """A test that runs the installer in the shared prefix: it starts with no log and no
    staging folder, and leaves no staging folder (nor anything it asked for) behind."""

    def setUp(self):
        super().setUp()
        clear_log()
        remove_staging_folders()
        self.addCleanup(remove_staging_folders)

    def work_folder(self, prefix, parent=DRIVE_C):
        """A fresh folder for this test's files, removed when the test ends."""
        folder = pathlib.Path(tempfile.mkdtemp(prefix=prefix, dir=parent))
        self.addCleanup(shutil.rmtree, folder, True)
        return folder

    def place_tar_double(self):
        """The tar.exe double in system32 until the test ends."""
        self.enterContext(system_tar(DOUBLES / "tar.exe"))
