#!/usr/bin/env python3
"""Median user and system seconds of RUNS runs of a command, OUTPUT removed
before each: user_time.py RUNS OUTPUT COMMAND...  Prints "USER SYS".
The kernel's own accounting (rusage), which /usr/bin/time only shows to
the hundredth of a second."""
import os
import statistics
import sys


def main():
    runs, output, command = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
    user, system = [], []
    for _ in range(runs):
        try:
            os.unlink(output)
        except FileNotFoundError:
            pass
        pid = os.fork()
        if pid == 0:
            null = os.open(os.devnull, os.O_WRONLY)
            os.dup2(null, 1)
            os.dup2(null, 2)
            try:
                os.execvp(command[0], command)
            finally:
                os._exit(127)
        _, status, usage = os.wait4(pid, 0)
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit(f"user_time: {command[0]} failed")
        user.append(usage.ru_utime)
        system.append(usage.ru_stime)
    print(f"{statistics.median(user):.6f} {statistics.median(system):.6f}")


if __name__ == "__main__":
    main()
