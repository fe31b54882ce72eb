"""The built vantile-install.exe, read with pefile, and its link map: the import table names
only KnownDLLs, the header keeps ASLR (with high entropy) and DEP, the file carries no time
stamp and a correct checksum, and the program's code checks the stack canary with the
program's own support rather than libssp's."""
import os
import pathlib
import re
import unittest

import pefile

SOURCE_DIR = pathlib.Path(os.environ.get("VANTILE_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
BUILD_DIR = pathlib.Path(os.environ.get("VANTILE_BUILD_DIR", SOURCE_DIR / "build" / "mingw"))
EXE = BUILD_DIR / "vantile-install.exe"
MAP = BUILD_DIR / "vantile-install.map"

# Windows 10's KnownDLLs (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs),
# which Windows maps from System32 and never searches for, plus ntdll.dll, which the kernel
# maps into every process before any other. The program relies on kernel32, user32, gdi32,
# msvcrt and ntdll; every other system DLL must come through the delay-import table.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll",
    "gdi32.dll", "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll",
    "msvcrt.dll", "normaliz.dll", "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll",
    "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll",
    "user32.dll", "wldap32.dll", "ws2_32.dll", "ntdll.dll",
}
# The build's one list of them (cmake/hardening.cmake), which CTest passes on.
DELAY_LOADED = os.environ["VANTILE_DELAY_LOADED_DLLS"].split()

# The DLLs whose imports must exist on Windows 7 SP1 for the loader to start the program.
WINDOWS7_CHECKED_DLLS = ("kernel32.dll", "user32.dll", "gdi32.dll", "ntdll.dll")
WINDOWS7_IMPORTS = SOURCE_DIR / "tests" / "build" / "windows7_sp1_imports.txt"
# Functions that Windows 7 SP1 lacks (8 and later, or an update), each one a function the
# program uses or used, looked up at run time; none may be listed as checked.
LATER_THAN_WINDOWS7 = {
    ("kernel32.dll", "GetSystemTimePreciseAsFileTime"), ("kernel32.dll", "SetDefaultDllDirectories"),
    ("kernel32.dll", "AddDllDirectory"), ("kernel32.dll", "GetTempPath2W"),
    ("kernel32.dll", "IsWow64Process2"), ("kernel32.dll", "WaitOnAddress"),
    ("user32.dll", "GetDpiForWindow"), ("user32.dll", "SetThreadDpiAwarenessContext"),
    ("user32.dll", "SystemParametersInfoForDpi"), ("user32.dll", "AdjustWindowRectExForDpi"),
}


def checked_windows7_imports():
    """{(dll, function)} from the checked list."""
    entries = set()
    for line in WINDOWS7_IMPORTS.read_text().splitlines():
        if line.strip() and not line.startswith("#"):
            dll, function = line.split()
            entries.add((dll, function))
    return entries


def imports_missing_on_windows7(pe_imports, checked):
    """The (dll, function) imports of the checked DLLs that the checked list does not hold."""
    return sorted((dll, function) for dll, function in pe_imports
                  if dll in WINDOWS7_CHECKED_DLLS and (dll, function) not in checked)


IMAGE_DLLCHARACTERISTICS = {
    "HIGH_ENTROPY_VA": 0x0020,
    "DYNAMIC_BASE": 0x0040,
    "NX_COMPAT": 0x0100,
}


def cross_references(map_text):
    """{symbol: [defining file, referencing file, ...]} from the map's cross reference table."""
    table = map_text.split("Cross Reference Table", 1)[1]
    references, symbol = {}, None
    for line in table.splitlines()[3:]:
        if not line.strip():
            continue
        if not line[0].isspace():
            symbol, _, where = line.partition(" ")
            references[symbol] = [where.strip()]
        elif symbol:
            references[symbol].append(line.strip())
    return references


class PeHeaderTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(str(EXE))

    def test_the_import_table_names_only_known_dlls(self):
        imported = {entry.dll.decode("ascii").lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertTrue({"kernel32.dll", "user32.dll"} <= imported, imported)
        self.assertEqual(imported - KNOWN_DLLS, set(),
                         "imported directly, so Windows would search the program's folder for it")
        # The others are still named in the file, by their delay-import descriptors.
        data = self.pe.__data__
        for name in DELAY_LOADED:
            with self.subTest(name=name):
                self.assertNotIn(name, imported)
                self.assertIn(b"\0" + name.encode("ascii") + b"\0", data)

    def test_every_import_of_the_system_dlls_exists_on_windows7_sp1(self):
        # Otherwise the loader refuses the program before its first line, and the build check
        # can never tell the user which Windows it needs.
        imported = {(entry.dll.decode("ascii").lower(), function.name.decode("ascii"))
                    for entry in self.pe.DIRECTORY_ENTRY_IMPORT
                    for function in entry.imports if function.name}
        checked = checked_windows7_imports()
        self.assertEqual(imports_missing_on_windows7(imported, checked), [],
                         "not checked against Windows 7 SP1's exports: " + str(WINDOWS7_IMPORTS))
        self.assertEqual(checked & LATER_THAN_WINDOWS7, set())
        # The check itself catches the two imports that kept the program from starting there.
        self.assertEqual(imports_missing_on_windows7(
            imported | {("kernel32.dll", "GetSystemTimePreciseAsFileTime"),
                        ("kernel32.dll", "SetDefaultDllDirectories")}, checked),
            [("kernel32.dll", "GetSystemTimePreciseAsFileTime"),
             ("kernel32.dll", "SetDefaultDllDirectories")])

    def test_aslr_with_high_entropy_and_dep_are_on(self):
        characteristics = self.pe.OPTIONAL_HEADER.DllCharacteristics
        for flag, bit in IMAGE_DLLCHARACTERISTICS.items():
            with self.subTest(flag=flag):
                self.assertTrue(characteristics & bit, "%s is missing" % flag)
        # A relocatable image only if it keeps its relocations.
        relocations = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[
            pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
        self.assertGreater(relocations.Size, 0)
        self.assertFalse(self.pe.FILE_HEADER.Characteristics & 0x0001, "relocations stripped")

    def test_no_time_stamp_and_a_correct_checksum(self):
        self.assertEqual(self.pe.FILE_HEADER.TimeDateStamp, 0)
        self.assertEqual(self.pe.OPTIONAL_HEADER.CheckSum, self.pe.generate_checksum())

    def test_the_code_checks_the_stack_canary_with_the_programs_own_support(self):
        references = cross_references(MAP.read_text(errors="replace"))
        for symbol in ("__stack_chk_fail", "__stack_chk_guard", "__chk_fail"):
            with self.subTest(symbol=symbol):
                self.assertIn(symbol, references)
                self.assertRegex(references[symbol][0], r"stack_protection\.cpp\.obj$")
        users = references["__stack_chk_guard"][1:]
        for source in ("json_reader", "download", "startup"):
            with self.subTest(user=source):
                self.assertTrue(any(re.search(r"[(/]%s\.cpp\.obj\)?$" % source, user) for user in users),
                                "%s.cpp is built without the stack protector" % source)
        # libssp's own canary set-up (ssp.o) imports CryptAcquireContextA, which Windows
        # forwards to cryptsp.dll, outside KnownDLLs, before wWinMain runs.
        self.assertNotRegex(MAP.read_text(errors="replace"), r"libssp\.a\(ssp\.o\)")


if __name__ == "__main__":
    unittest.main()
