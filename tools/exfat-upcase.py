#!/usr/bin/env python3
"""Prints src/join/fs/exfatupcase.cpp: exFAT's standard up-case table, as the program embeds it.

exFAT compares names by mapping every UTF-16 code unit through an up-case table stored on the
volume. The table printed is the one mkfs.exfat writes: by default this script formats an 8 MiB
image file in a temporary folder and reads the table back from it; an exFAT image file or device
named on the command line is read instead.

The volume is read as the drivers read it: the boot sector gives the cluster heap and the root
directory's first cluster, the root directory (followed through the FAT) holds the up-case table's
entry (type 0x82: checksum, first cluster, length), and the table is read from its first cluster
on. It is stored compressed: a 0xFFFF unit followed by a count stands for that many units that map
to themselves. The checksum is checked, and the runs printed are expanded again and compared with
the table before anything is printed.

Usage: tools/exfat-upcase.py [IMAGE] > src/join/fs/exfatupcase.cpp
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

UNITS = 0x10000


def read_table(volume):
    """The decompressed table (65536 units), the stored checksum and the stored length."""
    with open(volume, "rb") as f:
        def read(offset, size):
            f.seek(offset)
            data = f.read(size)
            if len(data) != size:
                sys.exit(f"{volume}: short read at {offset}")
            return data

        boot = read(0, 512)
        if boot[3:11] != b"EXFAT   ":
            sys.exit(f"{volume}: no exFAT boot sector")
        fat_offset, _, heap_offset, cluster_count, root = struct.unpack_from("<IIIII", boot, 80)
        sector = 1 << boot[108]
        cluster = sector << boot[109]

        def cluster_at(number):
            return heap_offset * sector + (number - 2) * cluster

        def next_cluster(number):
            return struct.unpack("<I", read(fat_offset * sector + 4 * number, 4))[0]

        entry = None
        number, walked = root, 0
        while entry is None and 2 <= number <= cluster_count + 1 and walked < cluster_count:
            data = read(cluster_at(number), cluster)
            for at in range(0, cluster, 32):
                kind = data[at]
                if kind == 0x00:
                    number = 0
                    break
                if kind == 0x82:
                    entry = data[at : at + 32]
                    break
            else:
                number = next_cluster(number)
            walked += 1
        if entry is None:
            sys.exit(f"{volume}: the root directory holds no up-case table entry")

        checksum, = struct.unpack_from("<I", entry, 4)
        first, length = struct.unpack_from("<IQ", entry, 20)
        raw = read(cluster_at(first), length)

    total = 0
    for byte in raw:
        total = ((total >> 1) | ((total & 1) << 31)) + byte
        total &= 0xFFFFFFFF
    if total != checksum:
        sys.exit(f"{volume}: the up-case table fails its checksum")

    table = list(range(UNITS))
    index, skip = 0, False
    for unit in struct.unpack(f"<{length // 2}H", raw):
        if index >= UNITS:
            break
        if skip:
            index += unit
            skip = False
        elif unit == index:
            index += 1
        elif unit == 0xFFFF:
            skip = True
        else:
            table[index] = unit
            index += 1
    return table, checksum, length


def runs(table):
    """The units that do not map to themselves as runs [first, count, stride, delta]: `count`
    units `stride` (1 or 2) apart, each mapped to itself plus `delta`."""
    found = []
    for unit in range(UNITS):
        delta = table[unit] - unit
        if delta == 0:
            continue
        if found:
            first, count, stride, last_delta = found[-1]
            if last_delta == delta:
                if count == 1 and unit - first in (1, 2):
                    found[-1] = [first, 2, unit - first, delta]
                    continue
                if count > 1 and unit == first + stride * count:
                    found[-1][1] += 1
                    continue
        found.append([unit, 1, 1, delta])
    return found


def expand(found):
    table = list(range(UNITS))
    for first, count, stride, delta in found:
        for k in range(count):
            table[first + k * stride] = first + k * stride + delta
    return table


def main():
    if len(sys.argv) > 2:
        sys.exit(__doc__)
    made_by = "the exFAT volume " + os.path.basename(sys.argv[1]) if len(sys.argv) == 2 else ""
    folder = None
    try:
        if len(sys.argv) == 2:
            volume = sys.argv[1]
        else:
            mkfs = shutil.which("mkfs.exfat") or shutil.which("mkfs.exfat", path="/usr/sbin:/sbin")
            if not mkfs:
                sys.exit("mkfs.exfat is missing: tools/deps.sh installs exfatprogs")
            folder = tempfile.mkdtemp(prefix="exfat-upcase-")
            volume = os.path.join(folder, "volume.img")
            with open(volume, "wb") as f:
                f.truncate(8 << 20)
            subprocess.run([mkfs, volume], check=True, stdout=subprocess.DEVNULL)
            version = subprocess.run([mkfs, "-V"], capture_output=True, text=True).stdout
            version = (version.strip().splitlines() or ["?"])[0].replace(" version :", "")
            made_by = "a volume mkfs.exfat (" + version + ") made"
        table, checksum, length = read_table(volume)
    finally:
        if folder:
            shutil.rmtree(folder)

    found = runs(table)
    if expand(found) != table:
        sys.exit("the runs do not give the table back")
    mapped = sum(count for _, count, _, _ in found)

    print("// Made by tools/exfat-upcase.py; do not edit. Run it again to make this file anew:")
    print("//     tools/exfat-upcase.py > src/join/fs/exfatupcase.cpp")
    print(f"// The up-case table on {made_by}: {length} bytes as stored,")
    print(f"// checksum 0x{checksum:08X}; {mapped} code units that do not map to themselves.")
    print()
    print('#include "join/fs/exfatupcase.h"')
    print()
    print("namespace join {")
    print()
    print("namespace {")
    print()
    print("// {first, count, stride, delta}")
    print("// clang-format off")
    print("constexpr ExFatUpcaseRun Runs[] = {")
    for first, count, stride, delta in found:
        print(f"    {{0x{first:04X}, {count}, {stride}, {delta}}},")
    print("};")
    print("// clang-format on")
    print()
    print("} // namespace")
    print()
    print("std::span<const ExFatUpcaseRun> StandardExFatUpcaseRuns() {")
    print("    return Runs;")
    print("}")
    print()
    print("} // namespace join")


if __name__ == "__main__":
    main()
