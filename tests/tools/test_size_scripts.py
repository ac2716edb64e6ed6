#!/usr/bin/env python3
"""Tests of the two scripts that read linker maps: cmake/gc-link (which unwind entries the
second pass keeps, and the check of a finished link) and tools/exe-size (bytes per member)."""

import os
import types
import unittest

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))


def load(name, path):
    """The script at `path` (no .py ending) as a module named `name`."""
    full = os.path.join(ROOT, path)
    module = types.ModuleType(name)
    module.__file__ = full
    with open(full, encoding="utf-8") as f:
        exec(compile(f.read(), full, "exec"), module.__dict__)
    return module


gc_link = load("gc_link", "cmake/gc-link")
exe_size = load("exe_size", "tools/exe-size")

# A map as GNU ld writes it for PE: discarded sections first, then the memory map. Names too
# long for their column go on a line of their own, the address, size and file on the next.
HEAD = """Archive member included to satisfy reference by file (symbol)

libkcore.a(A.cpp.obj)         main.obj (f())

Discarded input sections

"""
MAP_HEAD = """
Memory Configuration

Linker script and memory map

"""


def make_map(discarded, kept):
    """discarded, kept: (section, size, file) triples; long names wrap as ld wraps them."""

    def line(section, size, owner):
        if len(section) > 14:
            return f" {section}\n                0x00000000 {size:#10x} {owner}\n"
        return f" {section:<14} 0x00000000 {size:#10x} {owner}\n"

    text = HEAD + "".join(line(*d) for d in discarded) + MAP_HEAD
    current = None
    for section, size, owner in kept:
        out = section.split("$")[0] if section.startswith((".text", ".eh_frame")) else section
        if out != current:
            text += f"{out:<15} 0x00401000    0x10000\n"
            current = out
        text += line(section, size, owner)
        text += "                0x00401000                SomeSymbol\n"
    return text.splitlines(keepends=True)


LIB = "/usr/lib/gcc/i686-w64-mingw32/12-posix/libstdc++.a(string-inst.o)"
OBJ = "libkcore.a(Setup.cpp.obj)"


class GcLinkTest(unittest.TestCase):
    def test_unwind_entries(self):
        # (what the map holds, the entries pass two keeps, kept functions missing theirs)
        cases = [
            ("kept function, entry dropped by pass one: pass two keeps it",
             [(".eh_frame$_Z4usedv", 0x2C, LIB)],
             [(".text$_Z4usedv", 0x40, LIB)],
             {"_Z4usedv"}, ["_Z4usedv"]),
            ("dropped function: its entry goes too",
             [(".text$_Z6unusedv", 0x40, LIB), (".eh_frame$_Z6unusedv", 0x2C, LIB)],
             [(".text$_Z4usedv", 0x40, LIB), (".eh_frame$_Z4usedv", 0x2C, LIB)],
             {"_Z4usedv"}, []),
            ("an entry whose function has no section of that name is kept to be safe",
             [(".eh_frame$_Z7strangev", 0x2C, LIB)],
             [(".text", 0x100, OBJ)],
             {"_Z7strangev"}, []),
            ("a function without an entry in its input needs none",
             [],
             [(".text$_Z8noexceptv", 0x10, OBJ), (".eh_frame", 0x80, OBJ)],
             set(), []),
            ("a long name is read from the line after it",
             [(".eh_frame$_ZNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEE4swapERS4_", 0x58, LIB)],
             [(".text$_ZNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEE4swapERS4_", 0x210, LIB)],
             {"_ZNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEE4swapERS4_"},
             ["_ZNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEE4swapERS4_"]),
        ]
        for name, discarded, kept, wanted, missing in cases:
            with self.subTest(name):
                sections = gc_link.map_sections(make_map(discarded, kept))
                self.assertEqual(gc_link.unwind_names(*sections), wanted)
                self.assertEqual(gc_link.missing_unwind(*sections), missing)

    def test_symbol_lines_are_not_sections(self):
        kept, discarded = gc_link.map_sections(make_map([], [(".text$_Z1fv", 0x20, OBJ)]))
        self.assertEqual(kept, {".text$_Z1fv"})
        self.assertEqual(discarded, set())


class ExeSizeTest(unittest.TestCase):
    def test_bytes_per_member_and_section(self):
        lines = make_map(
            [(".text$_Z6unusedv", 0x400, OBJ)],  # discarded: counts nowhere
            [(".text", 0x100, "/usr/lib/gcc/i686-w64-mingw32/12-posix/crtbegin.o"),
             (".text$_ZNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEE4swapERS4_", 0x210, LIB),
             (".text$_Z5setupv", 0x300, OBJ),
             (".eh_frame", 0x80, OBJ),
             (".rdata", 0x40, OBJ)])
        lines += [".bss            0x00500000      0x200\n", " .bss           0x00500000      0x200 " + OBJ + "\n",
                  ".debug_info     0x00600000     0x1000\n", " .debug_info    0x00600000     0x1000 " + OBJ + "\n"]
        members, sections = exe_size.parse(lines)
        self.assertEqual(dict(members), {"crtbegin.o": 0x100, "libstdc++.a(string-inst.o)": 0x210,
                                         "libkcore.a(Setup.cpp.obj)": 0x300 + 0x80 + 0x40})
        self.assertEqual(dict(sections), {".text": 0x610, ".eh_frame": 0x80, ".rdata": 0x40})

    def test_archive_of(self):
        cases = [("libkcore.a(Setup.cpp.obj)", "libkcore.a"), ("crtbegin.o", "(objects)"),
                 ("libstdc++.a(string-inst.o)", "libstdc++.a")]
        for member, archive in cases:
            with self.subTest(member):
                self.assertEqual(exe_size.archive_of(member), archive)


if __name__ == "__main__":
    unittest.main()
