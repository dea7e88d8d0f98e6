#!/usr/bin/env python3
"""hostiletar.py OUT.tar.gz TOP KIND: writes a gzipped tar of an update
package's top folder TOP (a small program and plug-in) with one hostile
member of kind KIND:
  dotdot    a file that climbs out of the top folder with "../"
  absolute  a file with an absolute path
  hardlink  the program as a hard link to a file outside
  device    a character device among the plug-ins
  fifo      a pipe among the plug-ins
  metachar  a plug-in whose name holds shell metacharacters
  many      100,000 empty plug-ins
Made with tarfile because tar itself will not pack most of these."""
import io
import sys
import tarfile


def add(tar, name, data=b"", kind=tarfile.REGTYPE, mode=0o755, **extra):
    info = tarfile.TarInfo(name)
    info.type = kind
    info.mode = mode
    info.size = len(data) if kind == tarfile.REGTYPE else 0
    for key, value in extra.items():
        setattr(info, key, value)
    tar.addfile(info, io.BytesIO(data) if kind == tarfile.REGTYPE else None)


def main():
    out, top, kind = sys.argv[1], sys.argv[2], sys.argv[3]
    if kind not in ("dotdot", "absolute", "hardlink", "device", "fifo", "metachar", "many"):
        sys.exit("unknown kind " + kind)
    with tarfile.open(out, "w:gz", format=tarfile.GNU_FORMAT) as tar:
        add(tar, top, kind=tarfile.DIRTYPE)
        add(tar, top + "/Plugins", kind=tarfile.DIRTYPE)
        add(tar, top + "/Plugins/Cameras", kind=tarfile.DIRTYPE)
        if kind == "hardlink":
            add(tar, top + "/vmm", kind=tarfile.LNKTYPE, linkname="/etc/passwd")
        else:
            add(tar, top + "/vmm", b"#!/bin/sh\necho vmm 0\n")
        add(tar, top + "/Plugins/Cameras/libcamera.so", b"plug-in", mode=0o644)
        if kind == "dotdot":
            add(tar, top + "/../../escaped", b"outside")
        elif kind == "absolute":
            add(tar, "/tmp/" + top + "-escaped", b"outside")
        elif kind == "device":
            add(tar, top + "/Plugins/Cameras/libmem.so", kind=tarfile.CHRTYPE, devmajor=1, devminor=1)
        elif kind == "fifo":
            add(tar, top + "/Plugins/Cameras/libfifo.so", kind=tarfile.FIFOTYPE)
        elif kind == "metachar":
            add(tar, top + "/Plugins/Cameras/$(touch pwned);.so", b"plug-in", mode=0o644)
        elif kind == "many":
            for i in range(100000):
                add(tar, "%s/Plugins/Cameras/lib%06d.so" % (top, i), mode=0o644)


if __name__ == "__main__":
    main()
