"""The tree checks themselves: each rule, broken once in a small tree, makes its check fail."""
import pathlib
import subprocess
import sys
import tempfile
import unittest

import check_layers

HERE = pathlib.Path(__file__).resolve().parent
PROJECT = HERE.parents[1]

CLEAN_TREE = {
    "base/text.h": "#pragma once\n#include <string>\n",
    "flow/install_flow.h": '#pragma once\n#include "base/text.h"\n',
    "windows/portable/error_text_forms.h": '#pragma once\n#include "flow/install_flow.h"\n',
    "windows/download.cpp": '#include <windows.h>\n#include "windows/portable/error_text_forms.h"\n',
    "ui/portable/window_state.h": '#pragma once\n#include "windows/portable/error_text_forms.h"\n',
    "ui/window_sink.cpp": '#include <windows.h>\n#include "windows/download.cpp"\n',
    "shell/startup.cpp": '#include "ui/window_sink.cpp"\n#include "base/version.h"\n',
    "native/sha256_openssl.cpp": '#include "flow/install_flow.h"\n',
    "release_tool/main.cpp": '#include "windows/download.cpp"\n#include "release_tool/main.cpp"\n',
}


def write_tree(root, files):
    for name, text in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)


class LayerCheckTest(unittest.TestCase):
    def problems_with(self, extra):
        with tempfile.TemporaryDirectory() as folder:
            root = pathlib.Path(folder)
            write_tree(root, {**CLEAN_TREE, **extra})
            return check_layers.check(root)

    def test_the_clean_tree_passes(self):
        self.assertEqual(self.problems_with({}), [])

    def test_each_broken_rule_is_named(self):
        cases = [
            ("windows header in flow", {"flow/x.cpp": "#include <windows.h>\n"},
             "flow/x.cpp:1: flow/ must build without Windows, but includes <windows.h>"),
            ("windows header in a portable folder", {"ui/portable/y.cpp": "#include <CommCtrl.h>\n"},
             "ui/portable/y.cpp:1: ui/portable/ must build without Windows"),
            ("base reaching up", {"base/y.h": '#include "flow/install_flow.h"\n'},
             'base/y.h:1: base/ may not include "flow/install_flow.h" (flow/)'),
            ("flow reaching into windows", {"flow/y.cpp": '#include "windows/download.cpp"\n'},
             'flow/y.cpp:1: flow/ may not include "windows/download.cpp" (windows/)'),
            ("windows reaching into ui", {"windows/y.cpp": '#include "ui/window_sink.cpp"\n'},
             'windows/y.cpp:1: windows/ may not include "ui/window_sink.cpp" (ui/)'),
            ("anything including the shell", {"ui/y.cpp": '#include "shell/startup.cpp"\n'},
             'ui/y.cpp:1: ui/ may not include "shell/startup.cpp" (shell/)'),
            ("a portable half reaching into its Win32 half",
             {"windows/portable/y.h": '#include "windows/download.cpp"\n'},
             'windows/portable/y.h:1: windows/portable/ may not include "windows/download.cpp"'),
            ("native reaching past flow",
             {"native/y.cpp": '#include "windows/portable/error_text_forms.h"\n'},
             'native/y.cpp:1: native/ may not include "windows/portable/error_text_forms.h"'),
            ("windows header in native", {"native/y.cpp": "#include <bcrypt.h>\n"},
             "native/y.cpp:1: native/ must build without Windows, but includes <bcrypt.h>"),
            ("anything including the release tool",
             {"windows/y.cpp": '#include "release_tool/main.cpp"\n'},
             'windows/y.cpp:1: windows/ may not include "release_tool/main.cpp"'),
            ("the release tool reaching into ui",
             {"release_tool/y.cpp": '#include "ui/window_sink.cpp"\n'},
             'release_tool/y.cpp:1: release_tool/ may not include "ui/window_sink.cpp"'),
            ("a relative include", {"flow/y.cpp": '#include "../base/text.h"\n'},
             'flow/y.cpp:1: "../base/text.h" is not rooted at src/'),
            ("an include of a missing file", {"flow/y.cpp": '#include "flow/missing.h"\n'},
             'flow/y.cpp:1: "flow/missing.h" is not a file under src/'),
            ("a folder that is no layer", {"misc/y.cpp": "\n"},
             "misc/y.cpp: the folder is not one of the layers"),
        ]
        for label, files, expected in cases:
            with self.subTest(label):
                problems = self.problems_with(files)
                self.assertEqual(len(problems), 1, problems)
                self.assertTrue(problems[0].startswith(expected), problems[0])

    def test_the_command_fails_on_a_broken_tree(self):
        with tempfile.TemporaryDirectory() as folder:
            root = pathlib.Path(folder)
            write_tree(root, {**CLEAN_TREE, "flow/x.cpp": "#include <windows.h>\n"})
            result = subprocess.run([sys.executable, str(HERE / "check_layers.py"), folder],
                                    capture_output=True, text=True)
        self.assertEqual(result.returncode, 1)
        self.assertIn("flow/x.cpp:1", result.stdout)


class FormatCheckTest(unittest.TestCase):
    def run_check(self, text):
        with tempfile.TemporaryDirectory() as folder:
            root = pathlib.Path(folder)
            (root / ".clang-format").write_text((PROJECT / ".clang-format").read_text())
            write_tree(root, {"src/flow/x.cpp": text, "tests/native/empty_test.cpp": ""})
            return subprocess.run([sys.executable, str(HERE / "check_format.py"), folder],
                                  capture_output=True, text=True)

    def test_formatted_code_passes_and_misformatted_code_fails(self):
        good = "int twice(int value) {\n    return value * 2;\n}\n"
        bad = "int twice( int value ){return value*2;}\n"
        self.assertEqual(self.run_check(good).returncode, 0)
        result = self.run_check(bad)
        self.assertEqual(result.returncode, 1)
        self.assertIn("x.cpp", result.stdout)


if __name__ == "__main__":
    unittest.main()
