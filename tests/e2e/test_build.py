#!/usr/bin/env python3
"""The shipped executable itself: a 32-bit GUI program whose static imports are KnownDLLs only,
that asks for administrator rights and carries a version resource and its update key, and whose
SSE code realigns its stack (32-bit Windows enters threads and callbacks 4-byte aligned). (Its GBK texts are read back by every
scenario that checks a log line or a box.) It is always the 32-bit build's KvoLauncher.exe, also
when the tests run the 64-bit build (KVO_SHIPPED_LAUNCHER names it then)."""
import base64
import os
import re
import struct
import subprocess
import unittest

from kvo_e2e import BUILD_DIR, VERSION_RECORD_START, fixed_version_offset

SHIPPED = os.environ.get("KVO_SHIPPED_LAUNCHER", os.path.join(BUILD_DIR, "app", "KvoLauncher.exe"))
OBJDUMP = "i686-w64-mingw32-objdump"
WINDRES = "i686-w64-mingw32-windres"
# The loader resolves static imports before the program runs, searching the program's folder first
# for any library that is not a KnownDLL. These are KnownDLLs in the registry lists of both Windows 7
# SP1 and Windows 10/11 (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs), the
# versions the launcher supports; every other system library is delay-loaded from the system folder.
KNOWN_DLLS = {"advapi32.dll", "clbcatq.dll", "comdlg32.dll", "gdi32.dll", "imagehlp.dll", "imm32.dll",
              "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll", "ole32.dll", "oleaut32.dll",
              "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll",
              "user32.dll", "wldap32.dll", "ws2_32.dll"}
# SSE instructions whose memory operand may be misaligned: unaligned moves and the scalar or narrow
# forms. Every other legacy-SSE instruction with a 16-byte memory operand faults when it is not aligned.
UNALIGNED_SSE = {"movdqu", "movups", "movupd", "lddqu", "movd", "movq", "movss", "movsd", "movlps", "movhps",
                 "movlpd", "movhpd", "insertps", "extractps"}
UNALIGNED_SSE_PREFIXES = ("pinsr", "pextr", "pmovzx", "pmovsx", "cvt", "v")
REALIGNMENT = re.compile(r"\band\s+\$0xfffffff[0-8],%esp")


def misaligned_stack_users(disassembly):
    """The functions of an objdump -d listing that use a 16-byte-aligned SSE operand on the stack
    without realigning their own frame first."""
    found = []
    name, needs, realigns = None, False, False
    for line in disassembly.splitlines() + ["00000000 <end>:"]:
        start = re.match(r"[0-9a-f]+ <(.+)>:$", line)
        if start:
            if name and needs and not realigns:
                found.append(name)
            name, needs, realigns = start.group(1), False, False
            continue
        instruction = line.split("\t")[-1].strip()
        if REALIGNMENT.search(instruction):
            realigns = True
        mnemonic = instruction.split(" ")[0]
        if ("%xmm" in instruction and "(%esp" in instruction and mnemonic not in UNALIGNED_SSE
                and not mnemonic.startswith(UNALIGNED_SSE_PREFIXES)
                and not (not mnemonic.startswith("p") and mnemonic.endswith(("ss", "sd")))):
            needs = True
    return found


class ShippedExecutableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(SHIPPED):
            raise AssertionError("no 32-bit launcher at %s: build it with 'cmake --preset mingw && cmake --build "
                                 "build/mingw --target KvoLauncher' (tools/test.sh does)" % SHIPPED)
        cls.headers = subprocess.run([OBJDUMP, "-p", SHIPPED], stdout=subprocess.PIPE, check=True).stdout.decode()
        with open(SHIPPED, "rb") as source:
            cls.data = source.read()

    def test_is_a_32_bit_gui_program_whose_static_imports_are_known_dlls(self):
        self.assertIn("file format pei-i386", self.headers)
        self.assertRegex(self.headers, r"Magic\s+010b\s+\(PE32\)")
        self.assertRegex(self.headers, r"Subsystem\s+00000002\s+\(Windows GUI\)")
        imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", self.headers)}
        self.assertIn("kernel32.dll", imported)
        self.assertEqual(imported - KNOWN_DLLS, set(), "a static import the loader may take from the program's folder")

    def test_carries_its_update_key_as_a_resource(self):
        resources = subprocess.run([WINDRES, "-i", SHIPPED, "-O", "rc"], stdout=subprocess.PIPE, check=True,
                                   stderr=subprocess.DEVNULL).stdout.decode("ascii", "replace")
        block = re.search(r'"KVO_UPDATE_KEY" RCDATA\s+BEGIN(.*?)END', resources, re.S)
        self.assertIsNotNone(block, "no update key resource: a new copy could not be checked for its key")
        words = re.findall(r"\\x([0-9a-f]{4})", block.group(1))
        text = b"".join(struct.pack("<H", int(word, 16)) for word in words)
        self.assertEqual(len(base64.b64decode(text, validate=True)), 64, text)

    def test_sse_code_realigns_the_stack_it_was_entered_on(self):
        listing = subprocess.run([OBJDUMP, "-d", "--no-show-raw-insn", SHIPPED], stdout=subprocess.PIPE,
                                 check=True).stdout.decode("ascii", "replace")
        self.assertRegex(listing, r"<_?_Z12Sha256Blocks", "the listing names no functions: the check sees nothing")
        self.assertIn("sha256rnds2", listing)
        self.assertEqual(misaligned_stack_users(listing), [])

    def test_resources_ask_for_administrator_rights_and_carry_a_file_version(self):
        self.assertEqual(len(re.findall(rb'requestedExecutionLevel\s+level="requireAdministrator"', self.data)), 1)
        self.assertEqual(self.data.count(VERSION_RECORD_START), 1)
        signature = fixed_version_offset(self.data)
        self.assertNotEqual(struct.unpack_from("<II", self.data, signature + 8), (0, 0))



if __name__ == "__main__":
    unittest.main(verbosity=2)
