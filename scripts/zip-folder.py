#!/usr/bin/env python3
"""Zips a folder with its name as the top entry, marking names as UTF-8.

Info-ZIP's zip leaves the UTF-8 flag off, so Windows reads a name such as the
default voice's in the DOS code page and extracts a garbled file.
  scripts/zip-folder.py OUTPUT.zip FOLDER
"""
import os
import sys
import zipfile


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    output, folder = sys.argv[1], sys.argv[2].rstrip("/")
    base = os.path.dirname(folder)
    with zipfile.ZipFile(output, "w", zipfile.ZIP_DEFLATED) as archive:
        for root, dirs, files in os.walk(folder):
            dirs.sort()
            for name in sorted(files):
                path = os.path.join(root, name)
                # zipfile sets the UTF-8 flag for any name beyond ASCII.
                archive.write(path, os.path.relpath(path, base))


if __name__ == "__main__":
    main()
