#!/usr/bin/env python3
"""The footprint of one build (one architecture): the stripped size of each
shared library, and the resident memory of the minimal application
(examples/minimal: one handler, one published property, one subscription,
idle main loop) against the same program without the library. Written as
JSON for bench/report.py.

The programs run on the bus of ZUMI_BUS_ADDRESS. A program of another
architecture runs under the emulator (binfmt_misc), whose own memory then
counts in both programs alike: the difference between them is the figure
to read there."""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

LIBRARIES = [("libzumi.so.1", "bus"), ("libbramwickzumi.so.1", "src")]
# How long the program idles after "ready" before its memory is read: what
# the first seconds of the main loop allocate belongs to its footprint.
SETTLE_SECONDS = 1.0


def stripped_size(path, strip):
    with tempfile.TemporaryDirectory() as work:
        copy = os.path.join(work, "lib.so")
        shutil.copyfile(path, copy)
        subprocess.run([strip, "--strip-unneeded", "--remove-section=.comment", "--remove-section=.note", copy],
                       check=True)
        return os.path.getsize(copy)


def memory_kib(program, service):
    """(VmRSS, private) of the program once it is ready and has idled a
    moment. Most of the resident memory is pages of shared libraries (GDK's
    dependencies, libstdc++, libsystemd) that every application of the
    device shares; its dirty private pages (heap, stacks, written data of
    the libraries) are what one more application costs."""
    with subprocess.Popen([program, service], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True) as p:
        try:
            line = p.stdout.readline().strip()
            if line != "ready":
                raise RuntimeError("%s printed %r: %s" % (program, line, p.stderr.read()))
            time.sleep(SETTLE_SECONDS)
            fields = {}
            for name in ("status", "smaps_rollup"):
                with open("/proc/%d/%s" % (p.pid, name)) as f:
                    for line in f:
                        parts = line.split()
                        if len(parts) >= 2 and parts[0].endswith(":") and parts[1].isdigit():
                            fields[parts[0][:-1]] = int(parts[1])
            return fields["VmRSS"], fields["Private_Dirty"]
        finally:
            p.kill()
            p.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="the build folder")
    parser.add_argument("--arch", required=True, help="its architecture's name in the table")
    parser.add_argument("--strip", default="strip", help="the strip program of that architecture")
    parser.add_argument("--emulated", action="store_true", help="its programs run under the emulator")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    result = {"arch": args.arch, "emulated": args.emulated, "stripped_bytes": {}}
    for name, folder in LIBRARIES:
        result["stripped_bytes"][name] = stripped_size(os.path.join(args.build, folder, name), args.strip)
    examples = os.path.join(args.build, "examples")
    # Alternated, the median of three each: a moment of memory pressure on
    # the machine does not land on one side only.
    app, without = [], []
    for i in range(3):
        app.append(memory_kib(os.path.join(examples, "zumi_minimal_app"), "com.example.footprint%d" % i))
        without.append(memory_kib(os.path.join(examples, "zumi_minimal_app_without"), "unused"))
    for key, index in (("rss", 0), ("private", 1)):
        result["app_%s_kib" % key] = sorted(m[index] for m in app)[1]
        result["without_%s_kib" % key] = sorted(m[index] for m in without)[1]
    with open(args.out, "w") as f:
        json.dump(result, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
