#!/usr/bin/env python3
"""check-archive.py ARCHIVE FOLDER: the archive holds FOLDER's tree under FOLDER's name, byte for byte."""
import os
import sys
import zipfile


def main(archive, folder):
    parent, name = os.path.split(os.path.normpath(folder))
    expected = set()
    for root, dirs, files in os.walk(folder):
        relative = os.path.relpath(root, parent).replace(os.sep, "/")
        expected.add(relative + "/")
        for file in files:
            expected.add(relative + "/" + file)
    with zipfile.ZipFile(archive) as z:
        bad = z.testzip()
        if bad is not None:
            print("CRC error in", bad)
            return 1
        names = set(z.namelist())
        if names != expected:
            print("missing:", sorted(expected - names)[:10], "extra:", sorted(names - expected)[:10])
            return 1
        for info in z.infolist():
            if not info.filename.startswith(name + "/"):
                print("entry outside the folder's name:", info.filename)
                return 1
            if info.is_dir():
                continue
            with open(os.path.join(parent, info.filename), "rb") as source:
                if z.read(info) != source.read():
                    print("content differs:", info.filename)
                    return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
