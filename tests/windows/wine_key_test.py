#!/usr/bin/env python3
"""The key wait of the Windows exe under Wine, on a pseudo-terminal.

Each case answers the dialogue on the terminal, presses one key at the
final pause and checks the exit status: the key's code. Wine's terminal
console turns the terminal's bytes into console input records, as a
Windows console gives them.

    wine_key_test.py --binary build-win64/brellum.exe [--launcher wine]

The Wine environment (WINEPREFIX and the rest) comes from the caller; its
wineserver should already be running, so that the services Wine starts
with a session do not inherit the terminal.
"""

import argparse
import os
import pty
import re
import select
import shlex
import signal
import sys
import tempfile
import time
import tty

# name, bytes the terminal sends, expected exit status
CASES = [
    ("a", b"a", 97),
    ("enter", b"\r", 13),
    ("arrow_up", b"\x1b[A", 224),
    ("f1", b"\x1bOP", 0),
    ("f11", b"\x1b[23~", 224),
    ("escape", b"\x1b", 27),
]

INPUT_TEXT = b"0 1\r\n0.01 2\r\n0.02 3\r\n"
STEP_SECONDS = 30

# Wine draws the screen with escape codes: a blank may come as "erase, move
# one right", and the cursor is hidden and shown around each write.
CURSOR_RIGHT = re.compile(rb"\x1b\[([0-9]*)C")
OTHER_CODES = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07|\x1b[()][A-Z0-9]|\x1b[=>]")


def plain_text(screen):
    text = CURSOR_RIGHT.sub(lambda m: b" " * int(m.group(1) or b"1"), screen)
    return OTHER_CODES.sub(b"", text)


class Run:
    def __init__(self, command, directory):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            # Raw from the start: Enter must reach Wine as CR, not as the LF
            # of a cooked terminal.
            tty.setraw(0)
            os.chdir(directory)
            os.execvp(command[0], command)
        self.screen = b""
        self.status = None

    def read_some(self, seconds):
        ready, _, _ = select.select([self.fd], [], [], seconds)
        if ready:
            try:
                self.screen += os.read(self.fd, 4096)
            except OSError:
                pass

    def wait_for_text(self, text):
        # Each prompt's text appears once in the dialogue.
        deadline = time.monotonic() + STEP_SECONDS
        while time.monotonic() < deadline and self.poll() is None:
            if text in plain_text(self.screen):
                return True
            self.read_some(0.05)
        return text in plain_text(self.screen)

    def poll(self):
        if self.status is None:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid != 0:
                self.status = os.waitstatus_to_exitcode(status)
        return self.status

    def wait_for_exit(self):
        # Not end of file: processes Wine starts may keep the terminal open.
        deadline = time.monotonic() + STEP_SECONDS
        while time.monotonic() < deadline:
            if self.poll() is not None:
                return self.status
            self.read_some(0.05)
        return None

    def stop(self):
        if self.poll() is None:
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)
        os.close(self.fd)


def run_case(command, directory, name, key):
    """The exit status after the dialogue and the key, or a failure text."""
    run = Run(command, directory)
    try:
        answers = [
            (b"Enter the input filename:", b"in.txt\r"),
            (b"Enter the output filename:", name.encode() + b".out\r"),
            (b"Enter standard deviation:", b"0.05\r"),
        ]
        for prompt, answer in answers:
            if not run.wait_for_text(prompt):
                return None, "no prompt %r" % prompt.decode()
            os.write(run.fd, answer)
        if not run.wait_for_text(b"Press any key to exit."):
            return None, "no pause"
        # The output file is complete before the pause.
        with open(os.path.join(directory, name + ".out"), "rb") as result:
            lines = result.read().count(b"\r\n")
        if lines != 3:
            return None, "output file has %d lines before the key" % lines
        os.write(run.fd, key)
        status = run.wait_for_exit()
        if status is None:
            return None, "still waiting %d s after the key" % STEP_SECONDS
        return status, ""
    finally:
        run.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", required=True)
    parser.add_argument("--launcher", default="wine")
    parser.add_argument("--only")
    args = parser.parse_args()

    command = shlex.split(args.launcher) + [os.path.abspath(args.binary)]
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="wine_key_") as directory:
        with open(os.path.join(directory, "in.txt"), "wb") as source:
            source.write(INPUT_TEXT)
        for name, key, expected in CASES:
            if args.only and name != args.only:
                continue
            started = time.monotonic()
            status, problem = run_case(command, directory, name, key)
            took = time.monotonic() - started
            if status == expected:
                passed += 1
                print("PASS key %-9s status %3d  (%.1f s)" % (name, status, took))
            else:
                failed += 1
                detail = problem or "status %d, expected %d" % (status, expected)
                print("FAIL key %-9s %s  (%.1f s)" % (name, detail, took))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
