#!/usr/bin/env python3
"""Checks the archives output_tests left under <check root> from the Linux side: each opens with
zipfile, passes testzip and `unzip -t`, holds exactly the source tree (folders included) byte for
byte, with UTF-8 names, DOS times and extended timestamps from the files, and has Zip64 records
exactly where expected.

    verify-zip.py <check root>      (the Unix path of C:\\kvo-zip-check)
"""
import os
import shutil
import struct
import subprocess
import sys
import time
import zipfile

TOP = "VellocsDiag_123"
# case folder -> (Zip64 end records expected, Zip64 extra fields in the central directory expected)
CASES = {"plain": (False, False), "zip64": (True, True), "zip64-entries": (True, False)}


def extra_fields(extra):
    fields, at = {}, 0
    while at + 4 <= len(extra):
        tag, size = struct.unpack_from("<HH", extra, at)
        fields[tag] = extra[at + 4:at + 4 + size]
        at += 4 + size
    return fields


def expected_names(base):
    names = [TOP + "/"]
    for folder, dirs, files in os.walk(os.path.join(base, TOP)):
        rel = os.path.relpath(folder, base).replace(os.sep, "/")
        names += [rel + "/" + d + "/" for d in dirs] + [rel + "/" + f for f in files]
    return sorted(names)


def check_case(root, case, expect_end64, expect_extra64):
    base = os.path.join(root, case)
    archive = os.path.join(base, TOP + ".zip")
    problems = []
    if os.path.exists(archive + ".partial"):
        problems.append("temporary archive left behind")
    with zipfile.ZipFile(archive) as zf:
        bad = zf.testzip()
        if bad is not None:
            problems.append(f"CRC or read error in {bad}")
        infos = zf.infolist()
        names = sorted(info.filename for info in infos)
        if names != expected_names(base):
            problems.append(f"entries differ from the tree:\n  zip  {names}\n  tree {expected_names(base)}")
        for info in infos:
            path = os.path.join(base, *info.filename.rstrip("/").split("/"))
            if not info.flag_bits & 0x800:
                problems.append(f"{info.filename}: UTF-8 flag not set")
            if not os.path.lexists(path):
                continue
            st = os.stat(path)
            if info.is_dir() != os.path.isdir(path):
                problems.append(f"{info.filename}: folder/file mismatch")
            elif not info.is_dir():
                with open(path, "rb") as source:
                    if zf.read(info) != source.read():
                        problems.append(f"{info.filename}: content differs")
            local = time.localtime(int(st.st_mtime))
            dos = local[:5] + (local.tm_sec // 2 * 2,)
            if info.date_time != dos:
                problems.append(f"{info.filename}: DOS time {info.date_time}, file {dos}")
            stamp = extra_fields(info.extra).get(0x5455)
            if stamp is None or stamp[0] != 1 or struct.unpack_from("<I", stamp, 1)[0] != int(st.st_mtime):
                problems.append(f"{info.filename}: extended timestamp missing or wrong")
        # Random bytes are stored as they are; text is deflated.
        methods = {info.filename.rsplit("/", 1)[-1]: info.compress_type for info in infos}
        if methods.get("binary.bin") != zipfile.ZIP_STORED or methods.get("service.log") != zipfile.ZIP_DEFLATED:
            problems.append(f"unexpected compression methods: {methods}")
        has_extra64 = any(0x0001 in extra_fields(info.extra) for info in infos)
        if has_extra64 != expect_extra64:
            problems.append(f"Zip64 extra fields present: {has_extra64}, expected {expect_extra64}")
    with open(archive, "rb") as f:
        data = f.read()
    locator = data[-22 - 20:-22]
    has_end64 = locator[:4] == b"PK\x06\x07" and b"PK\x06\x06" in data
    if has_end64 != expect_end64:
        problems.append(f"Zip64 end records present: {has_end64}, expected {expect_end64}")
    if shutil.which("unzip"):
        run = subprocess.run(["unzip", "-tq", archive], capture_output=True, text=True)
        if run.returncode != 0:
            problems.append(f"unzip -t failed ({run.returncode}): {run.stdout}{run.stderr}")
    else:
        print("unzip not installed: skipped unzip -t")
    return problems


def main():
    root = sys.argv[1]
    failed = False
    for case, (end64, extra64) in CASES.items():
        problems = check_case(root, case, end64, extra64)
        for problem in problems:
            print(f"{case}: {problem}")
        print(f"{case}: {'FAILED' if problems else 'ok'}")
        failed = failed or bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
