#!/usr/bin/env python3
"""The shipped executable itself: a 32-bit GUI program that needs only system DLLs, asks for
administrator rights and carries a version resource. (Its GBK texts are read back by every
scenario that checks a log line or a box.) It is always the 32-bit build's KvoLauncher.exe, also
when the tests run the 64-bit build (KVO_SHIPPED_LAUNCHER names it then)."""
import os
import re
import struct
import subprocess
import unittest

from kvo_e2e import BUILD_DIR

SHIPPED = os.environ.get("KVO_SHIPPED_LAUNCHER", os.path.join(BUILD_DIR, "app", "KvoLauncher.exe"))
OBJDUMP = "i686-w64-mingw32-objdump"
FIXED_VERSION_SIGNATURE = struct.pack("<I", 0xFEEF04BD)
# DLLs that every Windows has; the launcher may import nothing else.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "gdiplus.dll", "msimg32.dll", "comctl32.dll",
               "wininet.dll", "version.dll", "shell32.dll", "ole32.dll", "oleaut32.dll", "advapi32.dll",
               "msvcrt.dll", "shlwapi.dll", "bcrypt.dll"}


class ShippedExecutableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(SHIPPED):
            raise AssertionError("no 32-bit launcher at %s: build it with 'cmake --preset mingw && cmake --build "
                                 "build/mingw --target KvoLauncher' (tools/test.sh does)" % SHIPPED)
        cls.headers = subprocess.run([OBJDUMP, "-p", SHIPPED], stdout=subprocess.PIPE, check=True).stdout.decode()
        with open(SHIPPED, "rb") as source:
            cls.data = source.read()

    def test_is_a_32_bit_gui_program_that_imports_only_system_dlls(self):
        self.assertIn("file format pei-i386", self.headers)
        self.assertRegex(self.headers, r"Magic\s+010b\s+\(PE32\)")
        self.assertRegex(self.headers, r"Subsystem\s+00000002\s+\(Windows GUI\)")
        imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", self.headers)}
        self.assertIn("kernel32.dll", imported)
        self.assertEqual(imported - SYSTEM_DLLS, set(), "no runtime DLLs of the toolchain (static linking)")

    def test_resources_ask_for_administrator_rights_and_carry_a_file_version(self):
        self.assertEqual(len(re.findall(rb'requestedExecutionLevel\s+level="requireAdministrator"', self.data)), 1)
        self.assertEqual(self.data.count("VS_VERSION_INFO".encode("utf-16-le")), 1)
        signature = self.data.index(FIXED_VERSION_SIGNATURE)
        self.assertNotEqual(struct.unpack_from("<II", self.data, signature + 8), (0, 0))



if __name__ == "__main__":
    unittest.main(verbosity=2)
