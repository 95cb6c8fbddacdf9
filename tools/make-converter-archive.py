#!/usr/bin/env python3
"""Packs the converter front into the maker's converter archive: make-converter-archive.py
FRONT ARCHIVE HEADER. The entry is "ffmpeg", mode 0755, with a fixed date, so the same front
gives the same archive; HEADER receives the archive's SHA-256 as a C++ constant."""

import hashlib
import sys
import zipfile

front, archive, header = sys.argv[1:4]
info = zipfile.ZipInfo("ffmpeg", date_time=(2009, 1, 1, 0, 0, 0))
info.create_system = 3
info.external_attr = (0o100000 | 0o755) << 16
info.compress_type = zipfile.ZIP_DEFLATED
with open(front, "rb") as f, zipfile.ZipFile(archive, "w") as z:
    z.writestr(info, f.read())
with open(archive, "rb") as f:
    digest = hashlib.sha256(f.read()).hexdigest()
with open(header, "w") as f:
    f.write("#pragma once\n// Written by the build: the SHA-256 of the converter archive it packed.\n")
    f.write(f'inline constexpr char kBuiltConverterArchiveSha256[] = "{digest}";\n')
