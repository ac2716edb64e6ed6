#!/usr/bin/env python3
"""Checks what a user gets.

  check_package.py exe Kairotsu.exe
      the exe is a 32-bit GUI program whose resources hold the application manifest (asInvoker,
      the Windows versions from Vista to 11, Common Controls 6)
  check_package.py zip dist/Kairotsu-VERSION.zip SOURCE_DIR
      the zip holds the five files and no other, the exe as above, SHA256SUMS matches, README.txt
      starts with a byte order mark, NTP.lst has CR LF line ends, and the PDF passes the guide's
      own check (SOURCE_DIR/tools/guide --check)

Prints one line per check and ends with status 1 when any fails.
"""
import hashlib
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zipfile
from pathlib import Path

failures = []


def check(what, ok, detail=""):
    print(("  ok   " if ok else "  FAIL ") + what + ("" if ok else f": {detail}"))
    if not ok:
        failures.append(what)
    return ok


# --- the exe ---

def pe_resource(data, type_id, name_id):
    """The bytes of a resource by numeric type and name (its first language), or None."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    directories = optional + (96 if struct.unpack_from("<H", data, optional)[0] == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    if rsrc_rva == 0:
        return None
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            _, vaddr, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            if vaddr <= rva < vaddr + raw_size:
                return rva - vaddr + raw
        raise ValueError(f"RVA {rva:#x} in no section")

    base = offset(rsrc_rva)

    def entries(at):
        named, ids = struct.unpack_from("<HH", data, base + at + 12)
        for i in range(named + ids):
            yield struct.unpack_from("<II", data, base + at + 16 + 8 * i)

    def child(at, wanted):
        for name, target in entries(at):
            if wanted is None or name == wanted:
                return target
        return None

    at = 0
    for wanted in (type_id, name_id, None):
        target = child(at, wanted)
        if target is None:
            return None
        at = target & 0x7FFFFFFF
    rva, size = struct.unpack_from("<II", data, base + at)
    return data[offset(rva):offset(rva) + size]


SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
}


def check_exe(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0] if len(data) > 0x40 else 0
    if not check("the exe is a PE file", data[:2] == b"MZ" and data[pe:pe + 4] == b"PE\0\0"):
        return
    machine = struct.unpack_from("<H", data, pe + 4)[0]
    check("the exe is for 32-bit x86 (machine 0x14c)", machine == 0x14C, f"{machine:#x}")
    subsystem = struct.unpack_from("<H", data, pe + 24 + 68)[0]
    check("the exe is a GUI program (subsystem 2)", subsystem == 2, str(subsystem))

    manifest = pe_resource(data, 24, 1)
    if not check("the exe holds a manifest (RT_MANIFEST 1)", manifest is not None, "none"):
        return
    ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
          "c": "urn:schemas-microsoft-com:compatibility.v1"}
    root = ET.fromstring(manifest)
    level = root.find("v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel", ns)
    check("the manifest asks for asInvoker without uiAccess",
          level is not None and level.get("level") == "asInvoker" and level.get("uiAccess") == "false",
          None if level is None else level.attrib)
    oses = {e.get("Id") for e in root.findall("c:compatibility/c:application/c:supportedOS", ns)}
    check("the manifest names Vista to Windows 10/11", oses == SUPPORTED_OS, sorted(oses))
    deps = [(e.get("name"), e.get("version"), e.get("processorArchitecture"))
            for e in root.findall("v1:dependency/v1:dependentAssembly/v1:assemblyIdentity", ns)]
    check("the manifest asks for Common Controls 6.0.0.0 (any processor)",
          deps == [("Microsoft.Windows.Common-Controls", "6.0.0.0", "*")], deps)


# --- the zip ---

FILES = {"Kairotsu.exe", "Kairotsu.pdf", "NTP.lst", "README.txt", "SHA256SUMS"}


def check_zip(path, source):
    m = re.fullmatch(r"Kairotsu-(\d+\.\d+\.\d+)\.zip", path.name)
    check("the zip is named Kairotsu-VERSION.zip", m is not None, path.name)
    version = m.group(1) if m else ""
    with zipfile.ZipFile(path) as z:
        names = set(z.namelist())
        check("the zip holds exactly the five files", names == FILES, sorted(names ^ FILES))
        check("its file names are ASCII", all(n.isascii() for n in names))
        files = {n: z.read(n) for n in names & FILES}
    if "Kairotsu.exe" in files:
        check_exe(files["Kairotsu.exe"])

    sums = files.get("SHA256SUMS", b"").decode("ascii", "replace")
    listed = dict((name, digest) for digest, name in re.findall(r"^([0-9a-f]{64}) [ *](\S+)$", sums, re.M))
    wanted = {n: hashlib.sha256(files[n]).hexdigest() for n in FILES - {"SHA256SUMS"} if n in files}
    check("SHA256SUMS, in sha256sum's format, matches the four other files",
          listed == wanted and len(sums.splitlines()) == 4, sums)

    readme = files.get("README.txt", b"")
    check("README.txt starts with a UTF-8 byte order mark", readme.startswith(b"\xEF\xBB\xBF"))
    try:
        text = readme.decode("utf-8-sig")
        check("README.txt is UTF-8 and names the version", f"Kairotsu {version}" in text)
    except UnicodeDecodeError as e:
        check("README.txt is UTF-8", False, e)

    servers = files.get("NTP.lst", b"")
    lines = servers.split(b"\r\n")
    check("NTP.lst has servers, each line ending in CR LF",
          len(lines) > 1 and lines[-1] == b"" and all(line and b"\r" not in line and b"\n" not in line
                                                      for line in lines[:-1]), servers[:80])

    pdf = files.get("Kairotsu.pdf", b"")
    if not check("Kairotsu.pdf is a PDF", pdf.startswith(b"%PDF-")):
        return
    # The guide's own check: every heading of its source in the PDF's text, only the IPA fonts.
    with tempfile.NamedTemporaryFile(suffix=".pdf") as f:
        f.write(pdf)
        f.flush()
        run = subprocess.run([str(source / "tools" / "guide"), "--check", f.name], capture_output=True, text=True)
    check("Kairotsu.pdf passes the guide's check (headings and fonts)", run.returncode == 0, run.stderr.strip())


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "exe":
        print(f"{sys.argv[2]}:")
        check_exe(Path(sys.argv[2]).read_bytes())
    elif len(sys.argv) == 4 and sys.argv[1] == "zip":
        print(f"{sys.argv[2]}:")
        check_zip(Path(sys.argv[2]), Path(sys.argv[3]))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    print(f"{len(failures)} failed" if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
