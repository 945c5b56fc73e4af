"""Checks DVKCDLL.dll's PE headers as a security review reads them.

    check_pe_hardening.py --dll DVKCDLL.dll --arch x64|x86 --nm x86_64-w64-mingw32-nm

Fails (exit 1, one line per finding) unless:
  - the DLL asks for ASLR (DYNAMIC_BASE), DEP (NX_COMPAT) and, on x64,
    high-entropy ASLR (HIGH_ENTROPY_VA);
  - no section is both writable and executable;
  - the header's time stamp is 0 (reproducible builds);
  - it imports exactly the five Windows system DLLs, nothing else (libssp's
    stack protector and fortify checks are linked in, not imported);
  - the stack protector and the fortified functions' check are linked in:
    __stack_chk_fail and __chk_fail are in the DLL's symbol table (the build
    tree's DLL is not stripped).
"""

import argparse
import subprocess
import sys

import pefile

SYSTEM_DLLS = {"kernel32.dll", "ws2_32.dll", "advapi32.dll", "user32.dll", "msvcrt.dll"}


def findings(dll, arch, nm):
    pe = pefile.PE(dll)
    characteristics = pe.OPTIONAL_HEADER.DllCharacteristics
    wanted = {"DYNAMIC_BASE": 0x0040, "NX_COMPAT": 0x0100}
    if arch == "x64":
        wanted["HIGH_ENTROPY_VA"] = 0x0020
    for name, bit in wanted.items():
        if not characteristics & bit:
            yield f"DllCharacteristics 0x{characteristics:04x} lacks {name}"
    print(f"DllCharacteristics 0x{characteristics:04x}: "
          + " ".join(n for n, b in pefile.dll_characteristics if characteristics & b))

    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode("ascii", "replace")
        if section.IMAGE_SCN_MEM_WRITE and section.IMAGE_SCN_MEM_EXECUTE:
            yield f"section {name} is both writable and executable"

    if pe.FILE_HEADER.TimeDateStamp != 0:
        yield f"the header's time stamp is 0x{pe.FILE_HEADER.TimeDateStamp:08x}, not 0"

    imports = {entry.dll.decode("ascii").lower() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}
    print("imports:", " ".join(sorted(imports)))
    if imports != SYSTEM_DLLS:
        yield (f"imports {' '.join(sorted(imports))}; expected exactly {' '.join(sorted(SYSTEM_DLLS))}")

    symbols = subprocess.run([nm, dll], check=True, capture_output=True, text=True).stdout.split()
    # x86 C symbols carry a leading underscore.
    for symbol in ("__stack_chk_fail", "__chk_fail"):
        if symbol not in symbols and "_" + symbol not in symbols:
            yield f"{symbol} is not linked in"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dll", required=True)
    parser.add_argument("--arch", choices=("x64", "x86"), required=True)
    parser.add_argument("--nm", required=True)
    args = parser.parse_args()
    failed = False
    for finding in findings(args.dll, args.arch, args.nm):
        print(f"{args.dll}: {finding}", file=sys.stderr)
        failed = True
    if failed:
        return 1
    print(f"{args.dll}: hardened ({args.arch})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
