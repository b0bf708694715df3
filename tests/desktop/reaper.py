#!/usr/bin/python3
"""Ends every process of one desktop run when the harness goes away, however
it goes (a SIGKILL included): it waits for the end of its stdin, which the
harness holds open, then stops each process in one of the run's sessions
(the harness writes each session id on a line as it starts a process) or
whose environment carries the run's marker, which finds what left its
session (Chromium's crash handler).

argv: the marker, as NAME=VALUE.
"""
import os
import shutil
import signal
import sys
import time


def run_pids(marker, sessions):
    me = os.getpid()
    needle = b'\0' + marker.encode() + b'\0'
    found = []
    for entry in os.listdir('/proc'):
        if not entry.isdigit() or int(entry) == me:
            continue
        try:
            with open(f'/proc/{entry}/stat', 'rb') as f:
                stat = f.read()
            fields = stat[stat.rindex(b')') + 2:].split(b' ')
            if fields[0] in (b'Z', b'X'):
                continue
            if int(fields[3]) in sessions:
                found.append(int(entry))
                continue
            with open(f'/proc/{entry}/environ', 'rb') as f:
                if needle in b'\0' + f.read():
                    found.append(int(entry))
        except (OSError, ValueError):
            continue
    return found


def end(marker, sessions):
    for sig in (signal.SIGCONT, signal.SIGTERM):
        for pid in run_pids(marker, sessions):
            try:
                os.kill(pid, sig)
            except OSError:
                pass
    deadline = time.monotonic() + 2
    while run_pids(marker, sessions) and time.monotonic() < deadline:
        time.sleep(0.05)
    for pid in run_pids(marker, sessions):
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass


def main():
    marker = sys.argv[1]
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    sessions = set()
    for line in sys.stdin.buffer:
        try:
            sessions.add(int(line))
        except ValueError:
            pass
    end(marker, sessions)
    # The run's folder is the marker's value: a SIGKILLed harness left it.
    folder = marker.split('=', 1)[1]
    if os.path.basename(folder).startswith('pelmora-desktop-'):
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == '__main__':
    main()
