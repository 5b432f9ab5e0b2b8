#!/usr/bin/env python3
"""The Windows backend under Wine against the Linux machine underneath it.

Wine shows Linux through: Z: is /, the memory is the machine's, the interfaces are Linux's
with their counters. Each figure the backend reads is compared with what Linux's own tools
say, read just before and just after, so that moving counters are bounded, not guessed.

Usage: system_compare.py WINE_RUN PROBE_DUMP_EXE [unittest arguments]; WINEPREFIX set.
As root, a small tmpfs in a private mount namespace is also mapped as E: and read back with
its letter, type, space and label.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

WINE_RUN = PROBE_DUMP = None
PAGE = os.sysconf("SC_PAGE_SIZE")


def dump(*roots, env=None):
    out = subprocess.run([WINE_RUN, PROBE_DUMP, *roots], check=True, capture_output=True,
                         timeout=60, env=env).stdout
    return json.loads(out.decode("utf-8"))


def meminfo_total():
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                return int(line.split()[1]) * 1024
    raise AssertionError("no MemTotal in /proc/meminfo")


def links():
    out = subprocess.run(["ip", "-s", "-j", "link"], check=True, capture_output=True).stdout
    return {l["ifindex"]: l for l in json.loads(out)}


class MachineUnderneath(unittest.TestCase):
    def test_memory_is_the_machines(self):
        got = dump("Z:\\")["memory"]
        # Wine counts whole pages and leaves the last one out: one page short at most.
        self.assertLessEqual(meminfo_total() - got["totalPhys"], PAGE)
        self.assertGreaterEqual(meminfo_total(), got["totalPhys"])
        self.assertLessEqual(got["availPhys"], got["totalPhys"])
        self.assertGreaterEqual(got["totalPageFile"], got["totalPhys"])
        # A 64-bit process: far more than 4 GB of address space.
        self.assertGreater(got["totalVirtual"], 1 << 40)

    def test_z_is_the_root_file_system(self):
        before = os.statvfs("/")
        got = dump("Z:\\")
        after = os.statvfs("/")
        self.assertIn("Z:\\", got["roots"])
        z = got["drives"][0]
        self.assertEqual(z["root"], "Z:\\")
        self.assertEqual(z["type"], 3)  # fixed
        self.assertIsNotNone(z["space"], "Z: space could not be read")
        self.assertEqual(z["space"]["total"], before.f_blocks * before.f_frsize)
        # Free space moves while others write: it lies between the two readings (with a
        # margin of 64 MB for writes between a reading and the call). Wine gives the space
        # free to unprivileged users as both free counts.
        margin = 64 << 20
        low = min(before.f_bavail, after.f_bavail) * before.f_frsize - margin
        high = max(before.f_bavail, after.f_bavail) * before.f_frsize + margin
        for key in ("freeToCaller", "totalFree"):
            self.assertTrue(low <= z["space"][key] <= high, (key, z["space"][key], low, high))
        self.assertIsNotNone(z["volume"])
        self.assertIsNone(z["remote"])

    def test_interfaces_are_linuxs_with_their_counters(self):
        before = links()
        got = dump("Z:\\")
        after = links()
        rows = got["interfaces"]
        self.assertIsNotNone(rows, "the interface query failed")
        by_index = {r["index"]: r for r in rows}
        steady = set(before) & set(after)
        self.assertEqual(set(by_index) & steady, steady, "interfaces missing")
        for index in steady:
            b, a, r = before[index], after[index], by_index[index]
            with self.subTest(interface=b["ifname"]):
                self.assertEqual(r["description"], b["ifname"])
                iana = {"loopback": 24, "ether": 6}.get(b.get("link_type"))
                if iana is not None:
                    self.assertEqual(r["type"], iana)
                for ours, theirs in (("inOctets", "rx"), ("outOctets", "tx")):
                    lo = b["stats64"][theirs]["bytes"]
                    hi = a["stats64"][theirs]["bytes"]
                    self.assertTrue(lo <= r[ours] <= hi, (ours, lo, r[ours], hi))
                running = "UP" in b["flags"] and "LOWER_UP" in b["flags"]
                self.assertEqual(r["operStatus"] == 5, running, (r["operStatus"], b["flags"]))


class MappedDrive(unittest.TestCase):
    """E: mapped to a 16 MB tmpfs of our own, in a mount namespace of our own."""

    def test_tmpfs_as_e(self):
        if os.geteuid() != 0 or shutil.which("unshare") is None:
            self.skipTest("needs root and unshare for a private mount namespace")
        # A prefix of its own (hard links to this run's): its Wine server and mount manager
        # start inside the namespace, after the drive is there, and see it.
        work = tempfile.mkdtemp(prefix="koravex-e.")
        prefix, mount = os.path.join(work, "prefix"), os.path.join(work, "e")
        os.mkdir(mount)
        subprocess.run(["cp", "-al", os.environ["WINEPREFIX"], prefix], check=True)
        script = r'''
set -e
mount -t tmpfs -o size=16m koravex-e "$1"
printf 'KORAVEX E' > "$1/.windows-label"
head -c 5242880 /dev/zero > "$1/filler"
ln -sfn "$1" "$WINEPREFIX/dosdevices/e:"
stat -f -c '%b %a %f %S' "$1"
status=0
"$2" "$3" 'E:\' || status=$?
"$4" -k || true
exit $status
'''
        env = dict(os.environ, WINEPREFIX=prefix)
        wineserver = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
        try:
            proc = subprocess.run(
                ["unshare", "-m", "--propagation", "private", "sh", "-c", script, "sh", mount,
                 WINE_RUN, PROBE_DUMP, wineserver], capture_output=True, timeout=120,
                check=True, env=env)
        finally:
            shutil.rmtree(work)
        first, rest = proc.stdout.decode("utf-8").split("\n", 1)
        blocks, avail, free, size = (int(x) for x in first.split())
        got = json.loads(rest)
        self.assertIn("E:\\", got["roots"])
        e = got["drives"][0]
        self.assertEqual(e["root"], "E:\\")
        self.assertEqual(e["type"], 3)
        self.assertIsNotNone(e["space"], proc.stderr)
        self.assertEqual(e["space"]["total"], blocks * size)
        self.assertEqual(e["space"]["totalFree"], avail * size)
        self.assertEqual(e["space"]["total"] - e["space"]["totalFree"], (blocks - free) * size)
        self.assertEqual(e["space"]["total"], 16 << 20)
        self.assertIsNotNone(e["volume"], proc.stderr)
        self.assertEqual(e["volume"]["name"], "KORAVEX E")


if __name__ == "__main__":
    WINE_RUN, PROBE_DUMP = sys.argv[1], sys.argv[2]
    if not os.environ.get("WINEPREFIX"):
        sys.exit("set WINEPREFIX (scripts/windows-tests.sh makes one)")
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
