#!/usr/bin/env python3
"""The shipped executable itself: a 32-bit GUI program that needs only system DLLs, asks for
administrator rights, carries a version resource, and holds its texts in GBK."""
import os
import re
import struct
import unittest

from kvo_e2e import BUILD_DIR

SHIPPED = os.path.join(BUILD_DIR, "app", "KvoLauncher.exe")
MACHINE_I386 = 0x14C
SUBSYSTEM_WINDOWS_GUI = 2
PE32_MAGIC = 0x10B
RESOURCE_DIRECTORY = 2
IMPORT_DIRECTORY = 1
RT_VERSION = 16
RT_MANIFEST = 24
# DLLs that every Windows has; the launcher may import nothing else.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "gdiplus.dll", "msimg32.dll", "comctl32.dll",
               "wininet.dll", "version.dll", "shell32.dll", "ole32.dll", "oleaut32.dll", "advapi32.dll",
               "msvcrt.dll", "shlwapi.dll", "bcrypt.dll"}
PROGRAM_TEXTS = ["检测到大厅正在运行，请先关闭大厅!", "Kvo更新程序", "KvoDownload", "KVOGAME", "KVOLobby.exe",
                 "LobbyDate\\Update.INI"]


class PeImage:
    def __init__(self, path):
        with open(path, "rb") as source:
            self.data = source.read()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        assert self.data[pe:pe + 4] == b"PE\0\0"
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", self.data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", self.data, optional)[0]
        self.subsystem = struct.unpack_from("<H", self.data, optional + 68)[0]
        directories = optional + 96
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", self.data, table + 40 * i)
            self.sections.append((vaddr, max(vsize, rawsize), rawptr))

    def offset(self, rva):
        for vaddr, size, rawptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rawptr + rva - vaddr
        raise ValueError("rva outside every section: %#x" % rva)

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imported_dlls(self):
        rva, _ = self.directories[IMPORT_DIRECTORY]
        names, at = [], self.offset(rva)
        while True:
            lookup, _, _, name_rva, thunk = struct.unpack_from("<IIIII", self.data, at)
            if not (lookup or name_rva or thunk):
                return names
            names.append(self.c_string(name_rva).lower())
            at += 20

    def resources(self, type_id):
        """Data of every resource of `type_id` (all names, all languages)."""
        base_rva, _ = self.directories[RESOURCE_DIRECTORY]
        base = self.offset(base_rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                yield ident, target

        def leaves(target):
            if target & 0x80000000:
                for _, child in entries(target & 0x7FFFFFFF):
                    yield from leaves(child)
            else:
                data_rva, size = struct.unpack_from("<II", self.data, base + target)
                start = self.offset(data_rva)
                yield self.data[start:start + size]

        for ident, target in entries(0):
            if ident == type_id:
                yield from leaves(target)


class ShippedExecutableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.image = PeImage(SHIPPED)

    def test_is_a_32_bit_gui_program(self):
        self.assertEqual(self.image.machine, MACHINE_I386)
        self.assertEqual(self.image.magic, PE32_MAGIC)
        self.assertEqual(self.image.subsystem, SUBSYSTEM_WINDOWS_GUI)

    def test_imports_only_dlls_that_every_windows_has(self):
        imported = set(self.image.imported_dlls())
        self.assertIn("kernel32.dll", imported)
        self.assertEqual(imported - SYSTEM_DLLS, set(), "no runtime DLLs of the toolchain (static linking)")

    def test_manifest_asks_for_administrator_rights(self):
        manifests = list(self.image.resources(RT_MANIFEST))
        self.assertEqual(len(manifests), 1)
        self.assertRegex(manifests[0].decode("utf-8"), r'requestedExecutionLevel\s+level="requireAdministrator"')

    def test_has_a_version_resource_with_a_fixed_file_version(self):
        versions = list(self.image.resources(RT_VERSION))
        self.assertEqual(len(versions), 1)
        block = versions[0]
        self.assertIn("VS_VERSION_INFO".encode("utf-16-le"), block)
        signature = block.index(struct.pack("<I", 0xFEEF04BD))
        ms, ls = struct.unpack_from("<II", block, signature + 8)
        self.assertNotEqual((ms, ls), (0, 0))

    def test_program_texts_are_stored_in_gbk(self):
        for text in PROGRAM_TEXTS:
            with self.subTest(text=text):
                self.assertIn(text.encode("gbk") + b"\0", self.image.data)
        # and not as UTF-8, which the ANSI functions would show as garbage
        self.assertNotIn("检测到大厅正在运行".encode("utf-8"), self.image.data)


if __name__ == "__main__":
    unittest.main(verbosity=2)
