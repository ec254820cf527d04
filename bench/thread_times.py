#!/usr/bin/env python3
"""Processor time (user + system) of each thread of a command, and its wall time.

The threads of the process are looked at every few milliseconds in /proc; a thread's time is
the last seen, so a thread that ends between two looks loses at most one interval.
usage: thread_times.py COMMAND [ARG...]   (output of the command goes to /dev/null)
"""
import os
import subprocess
import sys
import time

TICK = os.sysconf("SC_CLK_TCK")


def thread_times(pid):
    times = {}
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except FileNotFoundError:
        return times
    for tid in tids:
        try:
            with open(f"/proc/{pid}/task/{tid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except (FileNotFoundError, ProcessLookupError):
            continue
        times[int(tid)] = (int(fields[11]) + int(fields[12])) / TICK  # utime + stime
    return times


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    start = time.monotonic()
    child = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seen = {}
    while child.poll() is None:
        seen.update(thread_times(child.pid))
        time.sleep(0.005)
    wall = time.monotonic() - start
    main_thread = seen.pop(child.pid, 0.0)
    others = sorted(seen.values(), reverse=True)
    print(f"wall {wall:.2f} s, main thread {main_thread:.2f} s, other threads "
          + (", ".join(f"{t:.2f} s" for t in others) or "none"))


if __name__ == "__main__":
    main()
