# SPDX-License-Identifier: MIT
"""Rewrites a zip archive so that its bytes depend on the files it holds alone.

cpack's zip records each entry's owner (the packer's user and group ids) and lists
a folder's entries in the order the file system returns them, which differs between
machines. The archive written here lists its entries by name, gives each the time
given (seconds since 1970, UTC) and no owner, and keeps their permissions.

Usage: reproducible_zip.py ARCHIVE SECONDS
"""
import os
import sys
import time
import zipfile


def main(path: str, seconds: int) -> None:
    # A zip entry's time (MS-DOS form) starts in 1980.
    date_time = time.gmtime(max(seconds, 315532800))[:6]
    with zipfile.ZipFile(path) as archive:
        entries = [(info, archive.read(info)) for info in archive.infolist()]
    entries.sort(key=lambda entry: entry[0].filename)
    rewritten = path + ".rewritten"
    with zipfile.ZipFile(rewritten, "w") as archive:
        for old, data in entries:
            info = zipfile.ZipInfo(old.filename, date_time)
            info.create_system = 3  # Unix: the high bits of external_attr are permissions
            info.external_attr = old.external_attr
            if info.is_dir():
                info.compress_type = zipfile.ZIP_STORED
                archive.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                archive.writestr(info, data, compresslevel=9)
    os.replace(rewritten, path)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    main(sys.argv[1], int(sys.argv[2]))
