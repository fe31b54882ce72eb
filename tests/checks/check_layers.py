"""Checks that every file under src/ includes only what its layer may include.

Each folder under src/ is one layer, and the layers stack one way:
    base <- flow <- windows <- ui <- shell
A portable/ folder holds the pure half of its layer: like base/ and flow/ it never includes a
Windows header, and it includes only base/, flow/ and the portable halves of its own layer and
the layers below. A folder beside the stack builds on it up to one layer, and nothing includes
it: native/ implements flow's platform interfaces natively (so it is portable, as flow is),
release_tool/ is a program of its own. Nothing includes shell/ either. Includes of our own files are
rooted at src/ ("flow/install_flow.h"), so each include line names its layer.

    check_layers.py SRC_DIR        exit 0 when the tree keeps the rules, 1 with a list otherwise
"""
import pathlib
import re
import sys

ORDER = ["base", "flow", "windows", "ui", "shell"]
PORTABLE_ALWAYS = {"base", "flow"}
# Each folder beside the stack, and the highest layer it builds on.
BESIDE = {"native": "flow", "release_tool": "windows"}
GENERATED = {"base/version.h"}  # made by CMake from base/version.h.in
WINDOWS_HEADER = re.compile(
    r"^(windows|winternl|commctrl|wininet|bcrypt|ntstatus|winbase|winuser|winnt|winerror|"
    r"shellapi|shlobj|objbase|processthreadsapi|synchapi|fileapi|winreg)\.h$", re.IGNORECASE)
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def layer_of(relative):
    """The layer of a file or include path relative to src/: 'flow', 'ui/portable', ..."""
    parts = relative.split("/")
    if len(parts) >= 3 and parts[1] == "portable":
        return parts[0] + "/portable"
    return parts[0]


def is_portable(layer):
    return (layer in PORTABLE_ALWAYS or layer.endswith("/portable")
            or BESIDE.get(layer) in PORTABLE_ALWAYS)


def allowed_layers(layer):
    """The layers whose files a file of `layer` may include."""
    if layer in BESIDE:
        below = ORDER[:ORDER.index(BESIDE[layer]) + 1]
        return set(below) | {name + "/portable" for name in below} | {layer}
    if layer.endswith("/portable"):
        own = ORDER.index(layer.split("/")[0])
        return PORTABLE_ALWAYS | {name + "/portable" for name in ORDER[:own + 1]}
    if layer in ORDER:
        below = ORDER[:ORDER.index(layer) + 1]
        if layer == "shell":
            below = ORDER  # the shell wires every layer together
        allowed = set(below) | {name + "/portable" for name in below}
        return allowed - ({"shell", "shell/portable"} if layer != "shell" else set())
    return set()


def known_layer(layer):
    return layer in allowed_layers(layer)


def check(src_dir):
    src_dir = pathlib.Path(src_dir)
    problems = []
    for path in sorted(src_dir.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".in") or not path.is_file():
            continue
        relative = path.relative_to(src_dir).as_posix()
        layer = layer_of(relative)
        if not known_layer(layer):
            problems.append(f"{relative}: the folder is not one of the layers")
            continue
        allowed = allowed_layers(layer)
        lines = path.read_text(encoding="utf-8", errors="replace").splitlines()
        for number, line in enumerate(lines, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            kind, name = match.groups()
            where = f"{relative}:{number}"
            if kind == "<":
                if is_portable(layer) and WINDOWS_HEADER.match(pathlib.PurePosixPath(name).name):
                    problems.append(f"{where}: {layer}/ must build without Windows, "
                                    f"but includes <{name}>")
                continue
            if name.startswith(".") or "/" not in name:
                problems.append(f'{where}: "{name}" is not rooted at src/ '
                                f'(write "<layer>/<file>")')
                continue
            if not (src_dir / name).is_file() and name not in GENERATED:
                problems.append(f'{where}: "{name}" is not a file under src/')
                continue
            target = layer_of(name)
            if target not in allowed:
                problems.append(f'{where}: {layer}/ may not include "{name}" ({target}/)')
    return problems


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-1].strip())
        return 2
    problems = check(argv[1])
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) break the layer rules")
        return 1
    print("every include keeps the layer rules")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
