"""The resources linked into vantile-install.exe, read back from the built file with pefile:
the application manifest, the icon group with its four PNG images, and the version block."""
import pathlib
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
import zlib

import pefile

import harness

RESOURCES = harness.SOURCE_DIR / "resources"
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
ENGLISH_US = 1033

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"


def png_header(data):
    """(width, height, bit depth, colour type) of a PNG, after checking that it decodes."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    position, idat, header = 8, b"", None
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        crc, = struct.unpack(">I", data[position + 8 + length:position + 12 + length])
        assert zlib.crc32(kind + body) == crc, "bad CRC in %s" % kind
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        position += 12 + length
    width, height, depth, colour = header[:4]
    # One filter byte and four bytes per pixel on every row.
    assert len(zlib.decompress(idat)) == height * (1 + 4 * width), "pixel data does not match"
    return width, height, depth, colour


class ResourcesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(str(harness.EXE))
        cls.resources = {}
        for kind in cls.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            for name in kind.directory.entries:
                for language in name.directory.entries:
                    data = cls.pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
                    cls.resources[(kind.id, name.id, language.id)] = data

    def resource(self, kind, number):
        key = (kind, number, ENGLISH_US)
        self.assertIn(key, self.resources, "resource %d/%d in U.S. English" % (kind, number))
        return self.resources[key]

    def test_a_64_bit_gui_program_with_only_these_resources(self):
        self.assertEqual(self.pe.FILE_HEADER.Machine, 0x8664)
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, 2)  # GUI: no console window
        self.assertEqual(sorted(self.resources), [
            (RT_ICON, 1, ENGLISH_US), (RT_ICON, 2, ENGLISH_US), (RT_ICON, 3, ENGLISH_US),
            (RT_ICON, 4, ENGLISH_US), (RT_GROUP_ICON, 1, ENGLISH_US), (RT_VERSION, 1, ENGLISH_US),
            (RT_MANIFEST, 1, ENGLISH_US)])

    def test_manifest_runs_as_invoker_per_monitor_aware_with_common_controls_6(self):
        data = self.resource(RT_MANIFEST, 1)
        self.assertTrue(data.startswith(b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'))
        assembly = ElementTree.fromstring(data)
        self.assertEqual(assembly.tag, ASM_V1 + "assembly")
        self.assertEqual(assembly.get("manifestVersion"), "1.0")
        self.assertEqual([child.tag for child in assembly], [
            ASM_V1 + "assemblyIdentity", ASM_V3 + "trustInfo", COMPATIBILITY + "compatibility",
            ASM_V3 + "application", ASM_V1 + "dependency"])

        identity = assembly.find(ASM_V1 + "assemblyIdentity")
        self.assertEqual(dict(identity.attrib), {
            "type": "win32", "name": "Mirrowfold.Vantile.Install", "version": "1.0.0.0"})

        level = assembly.find("/".join(ASM_V3 + name for name in (
            "trustInfo", "security", "requestedPrivileges", "requestedExecutionLevel")))
        self.assertEqual(dict(level.attrib), {"level": "asInvoker", "uiAccess": "false"})

        systems = assembly.findall(COMPATIBILITY + "compatibility/" + COMPATIBILITY + "application/"
                                   + COMPATIBILITY + "supportedOS")
        self.assertEqual([s.get("Id") for s in systems], ["{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"])

        settings = assembly.find(ASM_V3 + "application/" + ASM_V3 + "windowsSettings")
        self.assertEqual([(child.tag, child.text) for child in settings], [
            (SETTINGS_2005 + "dpiAware", "true/pm"),
            (SETTINGS_2016 + "dpiAwareness", "PerMonitorV2")])

        controls = assembly.find(ASM_V1 + "dependency/" + ASM_V1 + "dependentAssembly/"
                                 + ASM_V1 + "assemblyIdentity")
        self.assertEqual(dict(controls.attrib), {
            "type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
            "processorArchitecture": "*", "publicKeyToken": "6595b64144ccf1df", "language": "*"})

    def test_icon_group_holds_four_rgba_png_images(self):
        group = self.resource(RT_GROUP_ICON, 1)
        reserved, kind, count = struct.unpack("<HHH", group[:6])
        self.assertEqual((reserved, kind, count), (0, 1, 4))
        self.assertEqual(len(group), 6 + 14 * count)
        sizes = (16, 32, 48, 256)
        for index, size in enumerate(sizes):
            width, height, colours, zero, planes, bits, length, number = struct.unpack(
                "<BBBBHHIH", group[6 + 14 * index:20 + 14 * index])
            with self.subTest(size=size):
                entry_side = 0 if size == 256 else size
                self.assertEqual((width, height, colours, zero), (entry_side, entry_side, 0, 0))
                self.assertEqual((planes, bits, number), (1, 32, index + 1))
                image = self.resource(RT_ICON, number)
                self.assertEqual(length, len(image))
                self.assertEqual(png_header(image), (size, size, 8, 6))  # 8-bit RGBA
                self.assertEqual(image, (RESOURCES / ("icon-%d.png" % size)).read_bytes())

    def test_icon_images_are_what_their_script_draws(self):
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run([sys.executable, str(RESOURCES / "make_icon.py"), folder], check=True)
            for name in ("icon-16.png", "icon-32.png", "icon-48.png", "icon-256.png",
                         "vantile-install.ico"):
                with self.subTest(name=name):
                    self.assertEqual((pathlib.Path(folder) / name).read_bytes(),
                                     (RESOURCES / name).read_bytes())

    def test_version_block(self):
        self.resource(RT_VERSION, 1)
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        major, minor, patch = (int(part) for part in harness.VERSION.split("."))
        expected = ((major << 16) | minor, patch << 16)
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), expected)
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), expected)
        self.assertEqual((fixed.FileFlagsMask, fixed.FileFlags), (0x3F, 0))
        self.assertEqual(fixed.FileOS, 0x00040004)
        self.assertEqual((fixed.FileType, fixed.FileSubtype), (1, 0))
        self.assertEqual((fixed.FileDateMS, fixed.FileDateLS), (0, 0))

        tables, translations = [], []
        for info in self.pe.FileInfo[0]:
            if info.Key == b"StringFileInfo":
                tables = info.StringTable
            elif info.Key == b"VarFileInfo":
                translations = [var.entry for var in info.Var]
        self.assertEqual([table.LangID for table in tables], [b"040904B0"])
        self.assertEqual(list(tables[0].entries.items()), [
            (b"CompanyName", b"Mirrowfold"),
            (b"FileDescription", b"Install Vantile"),
            (b"FileVersion", harness.VERSION.encode()),
            (b"InternalName", b"vantile-install"),
            (b"OriginalFilename", b"vantile-install.exe"),
            (b"ProductName", b"Vantile"),
            (b"ProductVersion", harness.VERSION.encode()),
        ])
        self.assertEqual(translations, [{b"Translation": "0x0409 0x04b0"}])


if __name__ == "__main__":
    unittest.main()
