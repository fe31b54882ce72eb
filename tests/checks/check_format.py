"""Fails when a C++ file of the project is not formatted as .clang-format says.

    check_format.py PROJECT_DIR    runs clang-format --dry-run --Werror on src/ and tests/
"""
import pathlib
import shutil
import subprocess
import sys


def cpp_files(project):
    for folder in ("src", "tests"):
        for path in sorted((project / folder).rglob("*")):
            if path.suffix in (".h", ".cpp") and path.is_file():
                yield path


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-1].strip())
        return 2
    project = pathlib.Path(argv[1]).resolve()
    clang_format = shutil.which("clang-format")
    if not clang_format:
        print("clang-format is not installed (scripts/setup.sh installs it)")
        return 1
    files = [str(path) for path in cpp_files(project)]
    result = subprocess.run([clang_format, "--dry-run", "--Werror", *files], cwd=project,
                            capture_output=True, text=True)
    if result.returncode != 0:
        print(result.stderr)
        print("run clang-format -i on the files above")
        return 1
    print(f"{len(files)} files are formatted")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
