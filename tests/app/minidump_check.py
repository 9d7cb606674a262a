#!/usr/bin/env python3
"""Checks a crash dump of MI-RU.exe: a minidump (the MDMP signature and a stream directory that
lies inside the file) with the crashed thread's exception, the thread and module lists, and no
more memory than the threads' stacks - never the heap, where the camera pictures are.
Usage: minidump_check.py <file.dmp> <exception code, e.g. 0xC0000005>
Prints what the dump holds; exit code 1 when a check fails."""
import struct
import sys

THREADS, MODULES, MEMORY, EXCEPTION, MEMORY64, THREAD_INFO = 3, 4, 5, 6, 9, 17
NAMES = {3: "threads", 4: "modules", 5: "memory", 6: "exception", 7: "system", 9: "memory64",
         14: "unloaded modules", 15: "misc", 16: "memory info", 17: "thread info"}
# MiniDumpWithDataSegs, WithFullMemory, WithIndirectlyReferencedMemory, WithPrivateReadWriteMemory,
# WithCodeSegs, WithPrivateWriteCopyMemory: what would carry heap or image contents.
BULK_FLAGS = 0x1 | 0x2 | 0x40 | 0x200 | 0x2000 | 0x10000
FRAME_BYTES = 1920 * 1080 * 4  # one camera frame


def main(path, expected_code):
    data = open(path, "rb").read()
    failures = []

    def check(ok, text):
        if not ok:
            failures.append(text)
        return ok

    if not check(len(data) >= 32 and data[:4] == b"MDMP", "no MDMP signature"):
        return failures
    version, count, directory, _, _, flags = struct.unpack_from("<IIIIIQ", data, 4)
    check(version & 0xFFFF == 0xA793, f"minidump version 0x{version:08X}")
    check(directory + 12 * count <= len(data), "stream directory outside the file")
    streams = {}
    for i in range(count if not failures else 0):
        kind, size, rva = struct.unpack_from("<III", data, directory + 12 * i)
        if kind == 0:
            continue  # unused entry
        check(rva + size <= len(data), f"stream {kind} outside the file")
        streams[kind] = (size, rva)
    print(f"{path}: {len(data)} bytes, type 0x{flags:X}, streams:",
          ", ".join(NAMES.get(k, str(k)) for k in sorted(streams)))
    check(not flags & BULK_FLAGS, f"dump type 0x{flags:X} includes data segments or more memory")
    check(MEMORY64 not in streams, "full-memory stream present")
    for kind in (THREADS, MODULES, EXCEPTION):
        check(kind in streams, f"no {NAMES[kind]} stream")
    if failures:
        return failures

    threads = struct.unpack_from("<I", data, streams[THREADS][1])[0]
    modules = struct.unpack_from("<I", data, streams[MODULES][1])[0]
    names = []
    for i in range(modules):
        # MINIDUMP_MODULE: 108 bytes; the name's RVA at offset 20 (a length-prefixed UTF-16 string).
        name_rva = struct.unpack_from("<I", data, streams[MODULES][1] + 4 + 108 * i + 20)[0]
        length = struct.unpack_from("<I", data, name_rva)[0]
        names.append(data[name_rva + 4:name_rva + 4 + length].decode("utf-16-le").rsplit("\\", 1)[-1])
    thread_id, _, code = struct.unpack_from("<III", data, streams[EXCEPTION][1])
    print(f"  {threads} threads, {modules} modules (MI-RU.exe among them: {'MI-RU.exe' in names}),"
          f" exception 0x{code:08X} on thread {thread_id}")
    check(threads >= 2, "fewer than two threads")
    check("MI-RU.exe" in names, "MI-RU.exe not in the module list")
    check(code == expected_code, f"exception 0x{code:08X}, expected 0x{expected_code:08X}")

    # The memory held: ranges of the threads' stacks only.
    ranges = []
    if MEMORY in streams:
        rva = streams[MEMORY][1]
        for i in range(struct.unpack_from("<I", data, rva)[0]):
            ranges.append(struct.unpack_from("<QII", data, rva + 4 + 16 * i)[1])
    total, largest = sum(ranges), max(ranges, default=0)
    print(f"  memory: {len(ranges)} ranges, {total} bytes in all, the largest {largest} bytes"
          f" (one 1080p camera frame: {FRAME_BYTES} bytes)")
    check(len(data) < FRAME_BYTES, "the dump is as large as a camera frame")
    check(total < FRAME_BYTES // 2, "more memory than the stacks would hold")
    return failures


if __name__ == "__main__":
    problems = main(sys.argv[1], int(sys.argv[2], 0))
    for problem in problems:
        print("FAIL:", problem)
    sys.exit(1 if problems else 0)
