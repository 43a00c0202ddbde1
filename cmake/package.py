"""Builds the release archive: fogswitch.exe, README.txt and LICENSE.txt (CR LF, for Notepad).
Fixed entry times, modes and order, so the archive is the same wherever it is built.
Usage: package.py ZIP EXE README LICENSE EPOCH"""
import sys, time, zipfile

zip_path, exe, readme, license_, epoch = sys.argv[1:]
stamp = time.gmtime(int(epoch) if epoch else time.time())[:6]


def crlf(path):
    return open(path, "rb").read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED) as archive:
    for name, data in (("fogswitch.exe", open(exe, "rb").read()), ("README.txt", crlf(readme)),
                       ("LICENSE.txt", crlf(license_))):
        entry = zipfile.ZipInfo(name, stamp)
        entry.create_system, entry.external_attr = 0, 0x20  # MS-DOS, archive bit
        entry.compress_type = zipfile.ZIP_DEFLATED
        archive.writestr(entry, data)
