"""Two clean builds of the same sources, each in its own scratch folder (the folders' paths of
different lengths), give a byte-identical vantile-install.exe, and each build prints that
file's SHA-256. Slow: it builds the program twice from scratch."""
import hashlib
import os
import pathlib
import re
import shutil
import subprocess
import unittest

SOURCE_DIR = pathlib.Path(os.environ.get("VANTILE_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
SCRATCH = SOURCE_DIR / "build" / "reproducible"
FOLDERS = ("a", "a-second-folder-whose-longer-name-changes-every-path-in-the-build")
PRINTED = re.compile(r"SHA-256 of vantile-install\.exe:\s*\n([0-9a-f]{64})  vantile-install\.exe")


def copy_sources(destination):
    """The files git would commit (tracked, and new ones not ignored), as they are now; outside
    a git checkout, the whole tree but its build folder."""
    listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            cwd=SOURCE_DIR, capture_output=True)
    if listed.returncode != 0:
        shutil.copytree(SOURCE_DIR, destination, ignore=lambda folder, names: [
            name for name in names if pathlib.Path(folder) == SOURCE_DIR and name in ("build", ".git")])
        return
    listed = listed.stdout
    for name in filter(None, listed.decode("utf-8").split("\0")):
        source = SOURCE_DIR / name
        if source.is_file():
            target = destination / name
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(source, target)


def build(folder):
    """Configures and builds the program with the mingw preset; returns (file, build output)."""
    for command in (["cmake", "--preset", "mingw"],
                    ["cmake", "--build", "--preset", "mingw", "--target", "vantile-install"]):
        result = subprocess.run(command, cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                timeout=1500)
        output = result.stdout.decode("utf-8", errors="replace")
        if result.returncode != 0:
            raise AssertionError("%s failed in %s:\n%s" % (" ".join(command), folder, output[-4000:]))
    return folder / "build" / "mingw" / "vantile-install.exe", output


class ReproducibleBuildTest(unittest.TestCase):
    def test_two_clean_builds_in_different_folders_are_byte_identical(self):
        shutil.rmtree(SCRATCH, ignore_errors=True)
        programs = []
        for name in FOLDERS:
            folder = SCRATCH / name
            copy_sources(folder)
            program, output = build(folder)
            digest = hashlib.sha256(program.read_bytes()).hexdigest()
            printed = PRINTED.search(output)
            self.assertIsNotNone(printed, "the build printed no SHA-256:\n" + output[-2000:])
            self.assertEqual(printed.group(1), digest)
            print("\n%s: SHA-256 %s (%d bytes)" % (program, digest, program.stat().st_size))
            programs.append(program)
        first, second = (program.read_bytes() for program in programs)
        self.assertTrue(first == second, "the two builds differ at byte %s" % next(
            (i for i, (a, b) in enumerate(zip(first, second)) if a != b), min(len(first), len(second))))
        # Neither build folder's path is in the file.
        for name in FOLDERS:
            self.assertNotIn(str(SCRATCH / name).encode(), first)
        shutil.rmtree(SCRATCH, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
