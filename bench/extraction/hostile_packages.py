#!/usr/bin/env python3
"""Writes the packages that probe the extractor's memory bounds, each as
DIR/<case>/Vantra.zip, for `bench_extraction --extract DIR/<case>` under
`/usr/bin/time -v` (peak RSS: "Maximum resident set size"):

  lzma-4gib-dictionary  one LZMA entry of 512 MiB whose properties claim a
                        4 GiB dictionary
  zstd-window-2-27      one zstd entry of 512 MiB with a 2^27 window
  entries-100000        100 000 small stored entries

Usage: hostile_packages.py DIR   (needs the zstd program; about 1 GB in DIR)
"""
import os
import struct
import subprocess
import sys
import zipfile
import zlib

MiB = 1 << 20


def payload(size):
    # Repetitive at a long distance, so that a large window is really used.
    block = os.urandom(MiB)
    return block * (size // MiB)


def single_entry_zip(path, name, method, plain, data, flags=0):
    crc = zlib.crc32(plain)
    name = name.encode()
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 63, flags, method, 0, 0x21,
                        crc, len(data), len(plain), len(name), 0)
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 63, 63, flags, method, 0,
                          0x21, crc, len(data), len(plain), len(name), 0, 0, 0, 0, 0, 0)
    directory_offset = len(local) + len(name) + len(data)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central) + len(name),
                      directory_offset, 0)
    with open(path, "wb") as f:
        f.write(local + name + data + central + name + end)


def main(root):
    plain = payload(512 * MiB)

    case = os.path.join(root, "lzma-4gib-dictionary")
    os.makedirs(case, exist_ok=True)
    package = os.path.join(case, "Vantra.zip")
    with zipfile.ZipFile(package, "w", zipfile.ZIP_LZMA) as z:
        z.writestr("dados/grande.bin", plain)
        z.writestr("Vantra.exe", b"novo")  # an update must bring the executable
    with open(package, "r+b") as f:
        head = f.read(30)
        data = 30 + struct.unpack("<H", head[26:28])[0] + struct.unpack("<H", head[28:30])[0]
        f.seek(data + 4 + 1)  # version, properties size, then lc/lp/pb
        f.write(struct.pack("<I", 0xFFFFFFFF))

    case = os.path.join(root, "zstd-window-2-27")
    os.makedirs(case, exist_ok=True)
    zstd = subprocess.run(["zstd", "-q", "-c", "-3", "--long=27", "-"], input=plain,
                          stdout=subprocess.PIPE, check=True).stdout
    single_entry_zip(os.path.join(case, "Vantra.zip"), "dados/grande.bin", 93, plain, zstd)
    with zipfile.ZipFile(os.path.join(case, "Vantra.zip"), "a") as z:
        z.writestr("Vantra.exe", b"novo")

    case = os.path.join(root, "entries-100000")
    os.makedirs(case, exist_ok=True)
    with zipfile.ZipFile(os.path.join(case, "Vantra.zip"), "w", zipfile.ZIP_STORED) as z:
        for i in range(100000):
            z.writestr(f"dados/{i // 1000:03}/arquivo-{i:05}.txt", b"x")
        z.writestr("Vantra.exe", b"novo")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
