#!/usr/bin/env python3
"""The key wait of the Windows exe in a windowed Wine console.

Under a virtual X server, wineconsole gives the exe a console window and
xdotool types into it as a keyboard would. This console delivers Ctrl+C
and Escape as Windows does, which the terminal console cannot. The
window's text cannot be read back: the run is followed through the output
file, which is complete before the pause, and the exit status.

    wine_console_test.py --binary build-win64/brellum.exe

The Wine environment (WINEPREFIX and the rest) comes from the caller;
DISPLAY is set here to the virtual server this script starts and stops.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

# name, xdotool key name, expected exit status
CASES = [
    ("ctrl_c", "ctrl+c", 3),
    ("escape", "Escape", 27),
]

INPUT_TEXT = b"0 1\r\n0.01 2\r\n0.02 3\r\n"
OUTPUT_BYTES = 3 * 32  # three lines: two 14-character fields, each followed by a blank, then CR LF
WINDOW_SECONDS = 60
STEP_SECONDS = 30


def start_x_server():
    """Starts Xvfb on a free display; returns the process and DISPLAY."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    with os.fdopen(read_end, "rb") as announced:
        while not number.endswith(b"\n"):
            byte = announced.read(1)
            if not byte:
                break
            number += byte
    if not number.strip():
        server.kill()
        server.wait()
        sys.exit("Xvfb did not start")
    return server, ":" + number.decode().strip()


def xdotool(*arguments):
    try:
        return subprocess.run(["xdotool", *arguments], capture_output=True, text=True,
                              timeout=STEP_SECONDS).stdout
    except subprocess.TimeoutExpired:
        return ""


def find_window(binary_name, process):
    deadline = time.monotonic() + WINDOW_SECONDS
    while time.monotonic() < deadline and process.poll() is None:
        # Only a mapped window takes the focus, and keys reach Wine only
        # through the focus: it ignores keys sent to a window directly.
        found = xdotool("search", "--onlyvisible", "--name", binary_name).split()
        if found:
            return found[0]
        time.sleep(0.2)
    return None


def wait_for_file_size(path, size):
    deadline = time.monotonic() + STEP_SECONDS
    while time.monotonic() < deadline:
        if os.path.exists(path) and os.path.getsize(path) == size:
            return True
        time.sleep(0.05)
    return False


def cpu_ticks_of(binary_name):
    """The CPU ticks of each process running binary_name, by process id."""
    ticks = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                program = f.read().split(b"\0")[0].decode(errors="replace")
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if program.replace("\\", "/").lower().endswith("/" + binary_name.lower()):
            ticks[entry] = (fields[0], int(fields[11]) + int(fields[12]))
    return ticks


def wait_until_idle(binary_name):
    """Waits until the exe has used no CPU for a second while asleep: after
    its output file is complete, that is the key wait. At most STEP_SECONDS."""
    deadline = time.monotonic() + STEP_SECONDS
    before = None
    quiet_since = time.monotonic()
    while time.monotonic() < deadline:
        now = cpu_ticks_of(binary_name)
        asleep = now and all(state == "S" for state, _ in now.values())
        if now != before or not asleep:
            quiet_since = time.monotonic()
        elif time.monotonic() - quiet_since >= 1.0:
            return
        before = now
        time.sleep(0.1)


def run_case(binary, directory, name, key):
    """The exit status after the dialogue and the key, or a failure text."""
    output_name = name + ".out"
    process = subprocess.Popen(["wineconsole", binary], cwd=directory,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        window = find_window(os.path.basename(binary), process)
        if window is None:
            return None, "no console window within %d s" % WINDOW_SECONDS
        xdotool("windowfocus", "--sync", window)
        # The console keeps what is typed ahead, so the answers need not wait
        # for their prompts.
        for answer in ("in.txt", output_name, "0.05"):
            xdotool("type", "--delay", "20", answer)
            xdotool("key", "Return")
        if not wait_for_file_size(os.path.join(directory, output_name), OUTPUT_BYTES):
            return None, "output file not written"
        # The file is closed just before the pause begins; Ctrl+C before the
        # wait has switched the console's handling off would end the process.
        wait_until_idle(os.path.basename(binary))
        xdotool("windowfocus", "--sync", window)
        xdotool("key", key)
        try:
            return process.wait(timeout=STEP_SECONDS), ""
        except subprocess.TimeoutExpired:
            return None, "still waiting %d s after the key" % STEP_SECONDS
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
        # The next run's window must not be taken for this one's, whose
        # number the X server may give again.
        deadline = time.monotonic() + STEP_SECONDS
        while time.monotonic() < deadline and xdotool("search", "--name", os.path.basename(binary)):
            time.sleep(0.2)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", required=True)
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)

    server, display = start_x_server()
    os.environ["DISPLAY"] = display
    passed = failed = 0
    try:
        with tempfile.TemporaryDirectory(prefix="wine_console_") as directory:
            with open(os.path.join(directory, "in.txt"), "wb") as source:
                source.write(INPUT_TEXT)
            for name, key, expected in CASES:
                started = time.monotonic()
                status, problem = run_case(binary, directory, name, key)
                took = time.monotonic() - started
                if status == expected:
                    passed += 1
                    print("PASS console key %-7s status %3d  (%.1f s)" % (name, status, took))
                else:
                    failed += 1
                    detail = problem or "status %d, expected %d" % (status, expected)
                    print("FAIL console key %-7s %s  (%.1f s)" % (name, detail, took))
    finally:
        server.terminate()
        server.wait()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
