#!/usr/bin/env python3
"""Reads a package with pefile (a PE reader that is not this project's) and checks what the
package build promises: the header's CheckSum is the one generate_checksum() computes, the
payload resource holds exactly the payload's bytes, and the version resource names the
package in both languages.

    package_pe.py PACKAGE PAYLOAD VERSION ORIGINAL_FILENAME [TIME_STAMP]

With TIME_STAMP, the file header's TimeDateStamp must be that number.

    package_pe.py --signed-twins FIRST SECOND

Two signed packages of the same inputs: they may differ only inside the certificate table, in
its data directory entry and in the CheckSum; everything else must be the same bytes.

Prints one line per problem and exits 1 when there is any; prints "ok" otherwise.
"""

import struct
import sys
from pathlib import Path

import pefile

CAPTION = '"Звуковые комментарии к выходу из программы" версии '


def resource_bytes(pe, type_name, name):
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.name is not None and str(entry.name) == type_name:
            for named in entry.directory.entries:
                if named.name is not None and str(named.name) == name:
                    data = named.directory.entries[0].data.struct
                    return pe.get_data(data.OffsetToData, data.Size)
    return None


def string_tables(pe):
    tables = {}
    for info in getattr(pe, 'FileInfo', [[]])[0]:
        for table in getattr(info, 'StringTable', []):
            tables[table.LangID.decode()] = {k.decode(): v.decode('utf-8')
                                             for k, v in table.entries.items()}
    return tables


def certificate_table(pe):
    """Returns (file offset of the data directory entry, table offset, table size); the
    security directory's address is a file offset, not an RVA."""
    index = pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_SECURITY']
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[index]
    return entry.get_file_offset(), entry.VirtualAddress, entry.Size


def signed_twins(first, second):
    problems = []
    a, b = Path(first).read_bytes(), Path(second).read_bytes()
    pe_a, pe_b = pefile.PE(data=a, fast_load=True), pefile.PE(data=b, fast_load=True)
    entry, table_a, size_a = certificate_table(pe_a)
    _, table_b, size_b = certificate_table(pe_b)
    if not size_a or not size_b:
        return ['not both signed: no certificate table']
    if table_a != table_b:
        problems.append(f'the certificate tables start at {table_a:#x} and {table_b:#x}: '
                        'the signed bytes before them differ in length')
    checksum = pe_a.OPTIONAL_HEADER.get_field_absolute_offset('CheckSum')
    allowed = [range(checksum, checksum + 4), range(entry, entry + 8)]
    end = min(table_a, table_b)
    differing = []
    for start in range(0, end, 4096):  # byte by byte only where a block differs
        stop = min(start + 4096, end)
        if a[start:stop] != b[start:stop]:
            differing += [i for i in range(start, stop)
                          if a[i] != b[i] and not any(i in r for r in allowed)]
    if differing:
        problems.append(f'{len(differing)} bytes differ outside the signature, first at '
                        f'{differing[0]:#x}')
    if len(a) - size_a != table_a or len(b) - size_b != table_b:
        problems.append('bytes follow the certificate table')
    return problems


def report(problems):
    for problem in problems:
        print(problem)
    if not problems:
        print('ok')
    return 1 if problems else 0


def main():
    if sys.argv[1] == '--signed-twins':
        return report(signed_twins(sys.argv[2], sys.argv[3]))
    package, payload, version, original = sys.argv[1:5]
    data = Path(package).read_bytes()
    pe = pefile.PE(data=data)
    problems = []
    if len(sys.argv) > 5 and pe.FILE_HEADER.TimeDateStamp != int(sys.argv[5]):
        problems.append(f'TimeDateStamp {pe.FILE_HEADER.TimeDateStamp}, not {sys.argv[5]}')
    if pe.OPTIONAL_HEADER.CheckSum != pe.generate_checksum():
        problems.append(f'CheckSum {pe.OPTIONAL_HEADER.CheckSum:#010x}, '
                        f'generate_checksum() {pe.generate_checksum():#010x}')
    stem, ext = Path(payload).name.rsplit('.', 1)
    stored = resource_bytes(pe, ext.upper(), stem.upper())
    if stored != Path(payload).read_bytes():
        problems.append(f'resource {ext.upper()}/{stem.upper()} does not hold the payload\'s bytes'
                        if stored is not None else 'no payload resource')
    fixed = pe.VS_FIXEDFILEINFO[0] if hasattr(pe, 'VS_FIXEDFILEINFO') else None
    want_ms = int(version) << 16
    versions = None if fixed is None else (fixed.FileVersionMS, fixed.FileVersionLS,
                                           fixed.ProductVersionMS, fixed.ProductVersionLS)
    if versions != (want_ms, 0, want_ms, 0):
        problems.append(f'fixed file and product version are not {version}.0.0.0')
    caption = CAPTION + version
    want = {
        '041904E3': {'FileDescription': caption, 'FileVersion': version, 'ProductName': 'Kestrane',
                     'ProductVersion': version, 'OriginalFilename': original},
        '040904E4': {'FileDescription': 'Kestrane update', 'FileVersion': version,
                     'ProductName': 'Kestrane', 'ProductVersion': version,
                     'OriginalFilename': original},
    }
    got = string_tables(pe)
    if got != want:
        problems.append(f'string tables differ:\n  got  {got}\n  want {want}')
    # The Russian description is the caption the installer itself shows, in code page 1251.
    if CAPTION.encode('cp1251') not in data:
        problems.append('the package does not carry the caption in code page 1251')
    # pefile keeps only the last pair of the Translation value: read its words here.
    key = 'Translation'.encode('utf-16-le') + b'\0\0'
    at = data.find(key)
    pairs = struct.pack('<4H', 0x0419, 1251, 0x0409, 1252)
    if at < 0 or pairs not in data[at + len(key):at + len(key) + 2 + len(pairs)]:
        problems.append('Translation does not list 0419/1251 and 0409/1252')
    return report(problems)


if __name__ == '__main__':
    sys.exit(main())
