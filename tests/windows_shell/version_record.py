#!/usr/bin/python3
"""The version record of koravex.exe read back with pefile, field for field.

Usage: version_record.py KORAVEX_EXE
"""
import sys

import pefile

EXPECTED_STRINGS = {
    "CompanyName": "Tarquel",
    "FileDescription": "Koravex",
    "FileVersion": "1.0.0.1",
    "ProductName": "Tarquel Koravex",
    "ProductVersion": "1.0.0.0",
    "Comments": "Программа для определения критических параметров системы",
    "InternalName": "koravex.exe",
    "OriginalFilename": "koravex.exe",
}
EXPECTED_BLOCK = "041904E3"  # Russian, code page 1251
EXPECTED_TRANSLATION = (0x0419, 1251)
EXPECTED_VERSION = (1, 0, 0, 1)


def version(ms, ls):
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def check(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    problems = []
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    if fixed is None:
        return ["no version record"]
    for name, ms, ls in (("file", fixed.FileVersionMS, fixed.FileVersionLS),
                         ("product", fixed.ProductVersionMS, fixed.ProductVersionLS)):
        if version(ms, ls) != EXPECTED_VERSION:
            problems.append(f"{name} version {version(ms, ls)}")
    tables, translations = [], []
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            tables.extend(info.StringTable)
        elif info.Key == b"VarFileInfo":
            for var in info.Var:
                value = var.entry.get(b"Translation", "")
                words = [int(w, 16) for w in value.split()]
                translations.extend(zip(words[0::2], words[1::2]))
    if [t.LangID.decode() for t in tables] != [EXPECTED_BLOCK]:
        problems.append(f"string blocks {[t.LangID for t in tables]}")
    if translations != [EXPECTED_TRANSLATION]:
        problems.append(f"translations {translations}")
    strings = {}
    for table in tables:
        strings.update({k.decode("utf-8"): v.decode("utf-8") for k, v in table.entries.items()})
    if strings != EXPECTED_STRINGS:
        for key in sorted(set(strings) | set(EXPECTED_STRINGS)):
            if strings.get(key) != EXPECTED_STRINGS.get(key):
                problems.append(f"{key}: {strings.get(key)!r}, expected "
                                f"{EXPECTED_STRINGS.get(key)!r}")
    icons = [e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries
             if e.id == pefile.RESOURCE_TYPE["RT_GROUP_ICON"]]
    if not icons:
        problems.append("no application icon")
    else:
        sizes = icon_sizes(pe, icons[0])
        if (32, 8) not in sizes:
            problems.append(f"no 32 x 32 icon in 256 colours among {sizes}")
    return problems


def icon_sizes(pe, group):
    """(size, bits per pixel) of each image of the first icon group."""
    entry = group.directory.entries[0].directory.entries[0].data.struct
    data = pe.get_data(entry.OffsetToData, entry.Size)
    count = int.from_bytes(data[4:6], "little")
    sizes = []
    for i in range(count):
        item = data[6 + 14 * i:6 + 14 * (i + 1)]
        sizes.append((item[0] or 256, int.from_bytes(item[6:8], "little")))
    return sizes


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    problems = check(sys.argv[1])
    for problem in problems:
        print("FAIL:", problem)
    if not problems:
        print("version record and icon as expected")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
