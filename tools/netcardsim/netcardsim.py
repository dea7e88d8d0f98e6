#!/usr/bin/env python3
"""Stand-in for the target computer's network-card script, for tests and the demo.

Usage: netcardsim.py NETPLAN_DIR PROC_NET_DEV PYREPORT

When the wired request file is missing, it is made from the interfaces that
PROC_NET_DEV lists (every one but "lo" as a DHCP wired card) and an empty
Wi-Fi file is added. When the request files are there, they are "applied":
copied into NETPLAN_DIR/applied/, and the report file says how many cards were
applied. Nothing of the machine's network is touched.
"""
import json
import os
import re
import shutil
import sys


def interfaces(proc_net_dev):
    try:
        text = open(proc_net_dev, encoding="utf-8", errors="replace").read()
    except OSError:
        return []
    names = []
    for m in re.finditer(r"\s+(\S+):\s+", text):
        if m.group(1) != "lo" and m.group(1) not in names:
            names.append(m.group(1))
    return names


def write_atomically(path, data, mode=0o644):
    tmp = path + ".tmp"
    fd = os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, mode)
    with os.fdopen(fd, "w") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    os.replace(tmp, path)


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    netplan, proc_net_dev, pyreport = argv[1:]
    os.makedirs(netplan, exist_ok=True)
    wired = os.path.join(netplan, "netplan_prejson.txt")
    wifi = os.path.join(netplan, "wifi_prejson.txt")
    if not os.path.exists(wired):
        cards = [{"name": n, "isdhcp": True, "iswifi": False, "ispriority": i == 0,
                  "address": "", "netmask": "", "gateway": "", "dns": "", "mac": "",
                  "status": "up", "describe": "Port %d" % (i + 1), "describe_netplan": n}
                 for i, n in enumerate(interfaces(proc_net_dev))]
        write_atomically(wired, json.dumps({"netcard_info": cards}, indent=4))
        if not os.path.exists(wifi):
            write_atomically(wifi, json.dumps({"netcard_info": []}, indent=4), 0o600)
        return 0
    applied = os.path.join(netplan, "applied")
    os.makedirs(applied, exist_ok=True)
    count = 0
    for path in (wired, wifi):
        if not os.path.exists(path):
            continue
        try:
            count += len(json.load(open(path, encoding="utf-8")).get("netcard_info", []))
        except (ValueError, AttributeError):
            sys.stderr.write("netcardsim: %s is not a request file\n" % path)
            return 1
        shutil.copyfile(path, os.path.join(applied, os.path.basename(path)))
    os.makedirs(os.path.dirname(pyreport) or ".", exist_ok=True)
    write_atomically(pyreport, "applied %d cards\n" % count)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
