#!/usr/bin/env python3
"""The final key wait of brellum on a real pseudo-terminal.

Usage: key_wait_test.py PATH_TO_BRELLUM

Each case runs the whole dialogue on a two-point input file, with the
answers redirected from a file and the pseudo-terminal as the controlling
terminal (standard output and error go to it too). Once the prompt
"Press any key to exit." is on the terminal and the terminal has left line
mode, the key's bytes are written to the master side as a terminal would
send them. A case then checks:
  - the exit status (the key's code);
  - that nothing was echoed after the prompt;
  - that the terminal's mode after the run is the one before it;
  - what is left unread on the terminal for the next reader (the shell):
    nothing, unless the case typed more than one key.
The parent keeps the slave side open, so whatever the tool did not read is
still in the terminal's input queue after it has exited.

Every wait is bounded: a child that outlives its time is killed and the case
fails. The last line is "N passed, N failed"; the status is 1 if any failed.
"""

import fcntl
import os
import select
import subprocess
import sys
import tempfile
import termios
import time

PROMPT = b"Press any key to exit."

# Bounds, in seconds. Generous so that a loaded machine does not fail a case;
# they only stop a hung run, they measure nothing.
PROMPT_TIMEOUT = 10.0
EXIT_TIMEOUT = 5.0
# How long "Shift alone" (nothing sent) must leave the wait waiting.
STILL_WAITING = 0.5

ESC = b"\x1b"

# The fields of a terminal mode as termios.tcgetattr gives them.
MODE_FIELDS = ["iflag", "oflag", "cflag", "lflag", "ispeed", "ospeed", "cc"]

# name, bytes sent, expected exit status, expected bytes left unread.
# sent_before: the bytes are in the terminal's input queue before the tool
# even starts (typed while it was still working), rather than after the
# prompt. The codes are those of the console's extended keys: 224 for the
# cursor and editing block and for F11 and F12, 0 for F1 to F10 and for the
# cursor block with Alt held.
KEY_CASES = [
    # name                    bytes                  code  left
    ("letter a",              b"a",                  97,   b""),
    ("Enter",                 b"\r",                 13,   b""),
    ("lone Escape",           ESC,                   27,   b""),
    ("space",                 b" ",                  32,   b""),
    ("Ctrl+C",                b"\x03",               3,    b""),
    ("Ctrl+D",                b"\x04",               4,    b""),
    ("Ctrl+S",                b"\x13",               19,   b""),
    ("Ctrl+V",                b"\x16",               22,   b""),
    ("Ctrl+Z",                b"\x1a",               26,   b""),
    ("Ctrl+backslash",        b"\x1c",               28,   b""),
    ("Up",                    ESC + b"[A",           224,  b""),
    ("Down",                  ESC + b"[B",           224,  b""),
    ("Right",                 ESC + b"[C",           224,  b""),
    ("Left",                  ESC + b"[D",           224,  b""),
    ("Up, application mode",  ESC + b"OA",           224,  b""),
    ("Alt+Up",                ESC + b"[1;3A",        0,    b""),
    ("Alt+Up, escape prefix", ESC + ESC + b"[A",     0,    b""),
    ("Ctrl+Up",               ESC + b"[1;5A",        224,  b""),
    ("Home",                  ESC + b"[H",           224,  b""),
    ("End",                   ESC + b"[F",           224,  b""),
    ("Home, vt form",         ESC + b"[1~",          224,  b""),
    ("End, vt form",          ESC + b"[4~",          224,  b""),
    ("Page Up",               ESC + b"[5~",          224,  b""),
    ("Page Down",             ESC + b"[6~",          224,  b""),
    ("Insert",                ESC + b"[2~",          224,  b""),
    ("Delete",                ESC + b"[3~",          224,  b""),
    ("Alt+Delete",            ESC + b"[3;3~",        0,    b""),
    ("F1",                    ESC + b"OP",           0,    b""),
    ("F1, Linux console",     ESC + b"[[A",          0,    b""),
    ("Shift+F1",              ESC + b"[1;2P",        0,    b""),
    ("F5",                    ESC + b"[15~",         0,    b""),
    ("F10",                   ESC + b"[21~",         0,    b""),
    ("F11",                   ESC + b"[23~",         224,  b""),
    ("F12",                   ESC + b"[24~",         224,  b""),
    ("Alt+F12",               ESC + b"[24;3~",       224,  b""),
    ("Alt+a",                 ESC + b"a",            97,   b""),
    ("Alt+[",                 ESC + b"[",            91,   b""),
    ("Alt+Shift+o",           ESC + b"O",            79,   b""),
    ("e acute, UTF-8",        "\u00e9".encode(),     233,  b""),
    # One key per wait: the second of two keys stays for the shell.
    ("a then b",              b"ab",                 97,   b"b"),
    ("Up then a",             ESC + b"[Aa",          224,  b"a"),
]

# A saved mode with an input flag that would change the key's byte: the wait
# still gets the byte whole and once, and the unusual mode comes back after.
# name, byte sent, expected exit status, input flag set in the saved mode.
MODE_CASES = [
    ("Latin-1 byte, eighth bit stripping saved", b"\xe9",  233,  termios.ISTRIP),
    ("byte 255, parity marking saved",           b"\xff",  255,  termios.PARMRK),
]

# Keys already typed when the wait begins count: nothing is flushed.
EARLY_CASES = [
    ("a typed early",         b"a",                  97,   b""),
    ("Up typed early",        ESC + b"[A",           224,  b""),
]


def read_available(fd, into):
    """Appends to into whatever fd has to give now; False at its end."""
    while True:
        try:
            chunk = os.read(fd, 4096)
        except BlockingIOError:
            return True
        except OSError:
            return False  # EIO: the slave side is gone
        if not chunk:
            return False
        into.extend(chunk)


def left_mode(slave):
    """True when the terminal is out of line mode: the wait has begun."""
    return not termios.tcgetattr(slave)[3] & termios.ICANON


def unread_bytes(slave):
    """What the next reader of the terminal would get now."""
    mode = termios.tcgetattr(slave)
    raw = list(mode)
    raw[3] &= ~(termios.ICANON | termios.ECHO | termios.ISIG)
    raw[6] = list(mode[6])
    raw[6][termios.VMIN] = 0
    raw[6][termios.VTIME] = 0
    termios.tcsetattr(slave, termios.TCSANOW, raw)
    left = bytearray()
    while True:
        chunk = os.read(slave, 4096)
        if not chunk:
            return bytes(left)
        left.extend(chunk)


class Run:
    """One run of the tool on its own pseudo-terminal, in its own directory."""

    def __init__(self, tool, work_dir, typed_early=b"", mode_change=None):
        self.master, self.slave = os.openpty()
        os.set_blocking(self.master, False)
        if mode_change is not None:
            mode = termios.tcgetattr(self.slave)
            mode_change(mode)
            termios.tcsetattr(self.slave, termios.TCSANOW, mode)
        self.mode_before = termios.tcgetattr(self.slave)
        if typed_early:
            os.write(self.master, typed_early)
        self.screen = bytearray()
        slave = self.slave
        with open(os.path.join(work_dir, "answers.txt"), "rb") as answers:
            # A new session, with the slave as its controlling terminal, so
            # that the tool's /dev/tty is this terminal.
            self.child = subprocess.Popen(
                [tool], cwd=work_dir, stdin=answers, stdout=slave, stderr=slave,
                start_new_session=True,
                preexec_fn=lambda: fcntl.ioctl(slave, termios.TIOCSCTTY, 0),
                pass_fds=(slave,))

    def pump(self, until, timeout):
        """Reads the screen until until() holds; False on timeout."""
        deadline = time.monotonic() + timeout
        while not until():
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            select.select([self.master], [], [], min(left, 0.02))
            read_available(self.master, self.screen)
        return True

    def wait_for_prompt(self):
        """Until the prompt is shown and the terminal has left line mode; a
        list of faults, empty when the wait has begun."""
        waiting = lambda: PROMPT in self.screen and left_mode(self.slave)
        ended = lambda: self.child.poll() is not None
        if not self.pump(lambda: waiting() or ended(), PROMPT_TIMEOUT):
            return ["no prompt in raw mode; screen: %r" % bytes(self.screen[-80:])]
        if ended():
            return ["ended before any key, status %d" % self.child.returncode]
        return []

    def wait_for_exit(self):
        """The exit status, or None if the tool did not end in time."""
        if not self.pump(lambda: self.child.poll() is not None, EXIT_TIMEOUT):
            return None
        read_available(self.master, self.screen)
        return self.child.returncode

    def after_prompt(self):
        return bytes(self.screen[self.screen.find(PROMPT) + len(PROMPT):])

    def close(self):
        if self.child.poll() is None:
            self.child.kill()
            self.child.wait()
        os.close(self.master)
        os.close(self.slave)


def prepare_work_dir(path):
    with open(os.path.join(path, "in.txt"), "wb") as f:
        f.write(b"0.0 1.0\n0.01 2.0\n")
    with open(os.path.join(path, "answers.txt"), "wb") as f:
        f.write(b"in.txt out.txt 0.01\n")


def finish_key_case(run, code, left):
    """The checks after the key was sent; a list of faults found."""
    status = run.wait_for_exit()
    if status is None:
        return ["still waiting after the key"]
    faults = []
    if status != code:
        faults.append("exit status %d, expected %d" % (status, code))
    if run.after_prompt() != b"":
        faults.append("echoed after the prompt: %r" % run.after_prompt())
    mode_after = termios.tcgetattr(run.slave)
    changed = [field for field, before, after in zip(MODE_FIELDS, run.mode_before, mode_after)
               if before != after]
    if changed:
        faults.append("terminal mode not restored: %s differ" % ", ".join(changed))
    unread = unread_bytes(run.slave)
    if unread != left:
        faults.append("left unread %r, expected %r" % (unread, left))
    return faults


def key_case(tool, work_dir, sent, code, left, mode_change=None):
    run = Run(tool, work_dir, mode_change=mode_change)
    try:
        faults = run.wait_for_prompt()
        if faults:
            return faults
        os.write(run.master, sent)
        return finish_key_case(run, code, left)
    finally:
        run.close()


def early_case(tool, work_dir, sent, code, left):
    run = Run(tool, work_dir, typed_early=sent)
    try:
        status = run.wait_for_exit()
        if status is None:
            return ["the key typed early did not end the wait"]
        # The key was echoed while the terminal was still in line mode, before
        # the banner: nothing may follow the prompt.
        if PROMPT not in run.screen:
            return ["no prompt; screen: %r" % bytes(run.screen)]
        return finish_key_case(run, code, left)
    finally:
        run.close()


def shift_alone_case(tool, work_dir):
    """A key with no byte (Shift) sends nothing: the wait goes on."""
    run = Run(tool, work_dir)
    try:
        faults = run.wait_for_prompt()
        if faults:
            return faults
        time.sleep(STILL_WAITING)
        if run.child.poll() is not None:
            return ["the wait ended with nothing typed, status %d" % run.child.returncode]
        os.write(run.master, b"a")
        return finish_key_case(run, 97, b"")
    finally:
        run.close()


def no_terminal_case(tool, work_dir):
    """No controlling terminal: the wait returns -1 at once, status 255."""
    with open(os.path.join(work_dir, "answers.txt"), "rb") as answers:
        child = subprocess.Popen([tool], cwd=work_dir, stdin=answers,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 start_new_session=True)
    try:
        out, err = child.communicate(timeout=EXIT_TIMEOUT)
    except subprocess.TimeoutExpired:
        child.kill()
        child.communicate()
        return ["still waiting with no terminal"]
    faults = []
    if child.returncode != 255:
        faults.append("exit status %d, expected 255" % child.returncode)
    # The status alone would also fit a run that ended early for want of
    # answers: the run must have reached the prompt.
    if not out.endswith(b"\n Press any key to exit."):
        faults.append("output does not end at the prompt: %r" % out[-80:])
    if err != b"":
        faults.append("error stream not empty: %r" % err)
    return faults


def main():
    if len(sys.argv) != 2:
        print("usage: key_wait_test.py PATH_TO_BRELLUM")
        return 2
    tool = os.path.abspath(sys.argv[1])
    cases = []
    for name, sent, code, left in KEY_CASES:
        cases.append((name, lambda d, s=sent, c=code, l=left: key_case(tool, d, s, c, l)))
    for name, sent, code, left in EARLY_CASES:
        cases.append((name, lambda d, s=sent, c=code, l=left: early_case(tool, d, s, c, l)))
    for name, sent, code, flag in MODE_CASES:
        def set_flag(mode, f=flag):
            mode[0] |= f
        cases.append((name, lambda d, s=sent, c=code, m=set_flag:
                      key_case(tool, d, s, c, b"", mode_change=m)))
    cases.append(("Shift alone keeps waiting", lambda d: shift_alone_case(tool, d)))
    cases.append(("no terminal", lambda d: no_terminal_case(tool, d)))

    passed = failed = 0
    for name, run_case in cases:
        with tempfile.TemporaryDirectory() as work_dir:
            prepare_work_dir(work_dir)
            faults = run_case(work_dir)
        if faults:
            failed += 1
            print("FAIL %s: %s" % (name, "; ".join(faults)))
        else:
            passed += 1
            print("ok   %s" % name)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
