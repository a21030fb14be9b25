#!/usr/bin/env python3
"""End-to-end tests of brellum: the built binary, run with redirected
standard input and no terminal, its dialogue and its output file compared
byte for byte with what they must be.

    python3 tests/e2e/run_e2e.py --binary PATH [--launcher "wine"] [--windows]
                                 [--keep DIR] [--only NAME] [--group GROUP]

--launcher  a command prefix put before the binary (split like a shell word list)
--windows   the dialogue's line ends are CR LF; cases that need POSIX files
            (symbolic links, /dev/full, very long paths) are skipped
--keep DIR  each case's output file is also written to DIR/<case>.out, so that
            two builds can be compared byte for byte
--only NAME run only the named case (may be given more than once)
--group G   run only the cases of one group (may be given more than once)
--list      print the cases and their groups, run nothing

Every case runs in a fresh temporary directory, in a session of its own
(start_new_session), so the final key wait finds no terminal and the exit
status is 255 (-1). Each case checks: the exit status; the banner and the
whole dialogue after it; the output file's bytes (or that none was made);
that no input file changed and no other file appeared; nothing on the error
stream (unless a launcher, whose own messages go there, is used). Expected
output files come from reference_model.py, an independent model of the
computation, or are written out literally where that is clearer.
"""

import argparse
import hashlib
import math
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import reference_model as model  # noqa: E402

RECORDS = os.path.join(HERE, "..", "data", "timehistories")

# ------------------------------------------------------------- the dialogue

BANNER = (
    "\n "
    "\n brellum   ver 1.3   April 18, 2007\n"
    "\n by the brellum developers"
    "\n Email: brellum@example.org "
    "\n "
    "\n This program adds white noise to a time history. \n"
)
ASK_IN = "\n Enter the input filename: \n"
RETRY_IN = "\n Please enter the input filename: \n"
ASK_OUT = "\n Enter the output filename: \n"
RETRY_OUT = "\n Please enter the output filename: \n"
ASK_SIGMA = "\n Enter standard deviation: \n"
TOO_LONG = "\n File name longer than 259 characters. \n"
NO_MORE = "\n No more input: the run ends. \n"
PRESS = "\n Press any key to exit."


def opened(name):
    return " File: %s opened. \n" % name


def in_failed(name):
    return "\n Failed to open file: %s \n" % name


def out_failed(name):
    return " Failed to open file: %s \n" % name


def same_file(name):
    return " The output file is the input file: %s \n" % name


def last(count):
    return "\n last=%d \n" % count


def closing(name):
    return (
        "\n\n The output file is: %s \n" % name
        + "\n The output file has two columns:  time(sec) and amplitude."
        + "\n Please call this file into your own plotting program.\n\n"
    )


def write_failed(name):
    return "\n Failed to write file: %s \n" % name


def after_output(out, count):
    """From the output file's opening to the end of a good run."""
    return opened(out) + last(count) + ASK_SIGMA + closing(out) + PRESS


def whole_run(inp, out, count):
    """The dialogue of a run whose two names open at the first answer."""
    return ASK_IN + opened(inp) + ASK_OUT + after_output(out, count)


# ------------------------------------------------------------- the cases

ABSENT = object()  # the output file must not exist after the run
DEVNULL = object()  # standard input is /dev/null itself


class Case:
    def __init__(self, name, group, stdin, dialogue, files=None, setup=None,
                 output=None, checks=(), posix_only=False, timeout=60):
        self.name = name
        self.group = group
        self.stdin = stdin          # bytes, or DEVNULL
        self.dialogue = dialogue    # text after the banner, "\n" line ends; or f(dir)
        self.files = files or {}    # name -> bytes, written before the run
        self.setup = setup          # f(dir), for links, directories, big inputs
        self.output = output        # None, or (name, bytes | f(dir) | ABSENT)
        self.checks = checks        # f(dir, output bytes) -> error text or None
        self.posix_only = posix_only
        self.timeout = timeout


def lines(*pairs):
    """Output bytes written out literally: (time text, amplitude text), ..."""
    return b"".join(b"%s %s \r\n" % (t.encode(), a.encode()) for t, a in pairs)


_model_cache = {}


def modelled(data, sigma):
    """(count, output bytes, noise) of the model, computed once per input."""
    key = (hashlib.sha256(data).digest(), sigma)
    if key not in _model_cache:
        _model_cache[key] = model.run(data, sigma)
    return _model_cache[key]


def model_output(data, sigma):
    return lambda _dir: modelled(data, sigma)[1]


def read_record(name):
    with open(os.path.join(RECORDS, name), "rb") as f:
        return f.read()


# Small inputs.
TWO_POINTS = b"0 1\n0.5 2\n"
THREE_POINTS = b"0.0 1.5\n0.01 -2.25\n0.02 3e-3\n"
THREE_POINTS_AS_READ = lines(("0.0000000e+000", "1.5000000e+000"),
                             ("1.0000000e-002", "-2.2500000e+000"),
                             ("2.0000000e-002", "3.0000000e-003"))
SIX_POINTS = b"0 0.1\n1 -0.2\n2 0.3\n3 -0.4\n4 0.5\n5 -0.6\n"
PAIRS_250 = b"".join(b"%d.%02d\t%d.5e-2\r\n" % (i // 100, i % 100, i % 17 - 8)
                     for i in range(250))

# Names of exactly 259 and 260 characters; a path component may have at most
# 255 on POSIX file systems, so they run through two directories.
LONG_DIRS = "d" * 100 + "/" + "e" * 100 + "/"
NAME_259 = LONG_DIRS + "f" * (259 - len(LONG_DIRS))
NAME_260 = LONG_DIRS + "f" * (260 - len(LONG_DIRS))
TOKEN_100000 = "t" * 100000


def make_file(path, data):
    def setup(d):
        full = os.path.join(d, path)
        os.makedirs(os.path.dirname(full) or d, exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
    return setup


def make_dir(path):
    return lambda d: os.makedirs(os.path.join(d, path))


def make_link(target, link, symbolic):
    def setup(d):
        if symbolic:
            os.symlink(target, os.path.join(d, link))
        else:
            os.link(os.path.join(d, target), os.path.join(d, link))
    return setup


def both(*setups):
    def setup(d):
        for s in setups:
            s(d)
    return setup


def answers(*tokens):
    return b"".join(t.encode() + b"\n" for t in tokens)


def cut_runs():
    """Standard input that ends at each question in turn."""
    full = ["in.txt", "out.txt", "0.05"]
    stages = [
        ("eof_at_input_devnull", DEVNULL, ASK_IN + NO_MORE, ABSENT),
        ("eof_at_input_empty", b"", ASK_IN + NO_MORE, ABSENT),
        ("eof_at_input_blanks", b" \n\t\r\n", ASK_IN + NO_MORE, ABSENT),
        ("eof_at_input_retry", answers("missing.txt"),
         ASK_IN + in_failed("missing.txt") + RETRY_IN + NO_MORE, ABSENT),
        ("eof_at_output", answers(full[0]),
         ASK_IN + opened("in.txt") + ASK_OUT + NO_MORE, ABSENT),
        ("eof_at_output_no_line_end", b"in.txt",
         ASK_IN + opened("in.txt") + ASK_OUT + NO_MORE, ABSENT),
        ("eof_at_output_retry", answers("in.txt", "nodir/out.txt"),
         ASK_IN + opened("in.txt") + ASK_OUT + out_failed("nodir/out.txt") + RETRY_OUT
         + NO_MORE, ABSENT),
        ("eof_at_output_after_same_file", answers("in.txt", "in.txt"),
         ASK_IN + opened("in.txt") + ASK_OUT + same_file("in.txt") + RETRY_OUT + NO_MORE,
         ABSENT),
        # At the standard deviation an ended input keeps 0.0: no noise at all.
        ("eof_at_sigma", answers(*full[:2]), whole_run("in.txt", "out.txt", 3),
         THREE_POINTS_AS_READ),
        ("eof_after_sigma_no_line_end", b"in.txt out.txt 0.05",
         whole_run("in.txt", "out.txt", 3), model_output(THREE_POINTS, 0.05)),
    ]
    return [Case(name, "eof", stdin, dialogue, files={"in.txt": THREE_POINTS},
                 output=("out.txt", out))
            for name, stdin, dialogue, out in stages]


def dialogue_cases():
    g = "dialogue"
    return [
        Case("missing_then_existing", g, answers("missing.txt", "in.txt", "out.txt", "0.05"),
             ASK_IN + in_failed("missing.txt") + RETRY_IN + opened("in.txt") + ASK_OUT
             + after_output("out.txt", 6),
             files={"in.txt": SIX_POINTS}, output=("out.txt", model_output(SIX_POINTS, 0.05))),
        Case("three_missing_names", g, answers("a.txt", "b.txt", "c.txt", "in.txt", "out.txt",
                                               "0.05"),
             ASK_IN + in_failed("a.txt") + RETRY_IN + in_failed("b.txt") + RETRY_IN
             + in_failed("c.txt") + RETRY_IN + opened("in.txt") + ASK_OUT
             + after_output("out.txt", 6),
             files={"in.txt": SIX_POINTS}, output=("out.txt", model_output(SIX_POINTS, 0.05))),
        Case("two_names_on_one_line", g, b"in.txt out.txt\n0.05\n",
             whole_run("in.txt", "out.txt", 6),
             files={"in.txt": SIX_POINTS}, output=("out.txt", model_output(SIX_POINTS, 0.05))),
        # "out put.txt": the name is "out"; "put.txt" answers the standard
        # deviation, is no number, and leaves it 0.0.
        Case("name_with_a_blank", g, b"in.txt\nout put.txt\n",
             whole_run("in.txt", "out", 3),
             files={"in.txt": THREE_POINTS}, output=("out", THREE_POINTS_AS_READ)),
        Case("blank_lines_before_answers", g,
             b"\n\n \t\r\n\v\f\nin.txt\r\n\r\n\r\n   out.txt\n\n\t0.05\r\n",
             whole_run("in.txt", "out.txt", 6),
             files={"in.txt": SIX_POINTS}, output=("out.txt", model_output(SIX_POINTS, 0.05))),
        Case("pairs_250", g, answers("in.txt", "out.txt", "0.05"),
             whole_run("in.txt", "out.txt", 250),
             files={"in.txt": PAIRS_250}, output=("out.txt", model_output(PAIRS_250, 0.05))),
        Case("empty_input", g, answers("in.txt", "out.txt", "0.05"),
             whole_run("in.txt", "out.txt", 0),
             files={"in.txt": b""}, output=("out.txt", b"")),
        Case("existing_output_is_emptied", g, answers("in.txt", "out.txt", "0.05"),
             whole_run("in.txt", "out.txt", 0),
             files={"in.txt": b"header\n1 2\n", "out.txt": b"old contents\r\n" * 100},
             output=("out.txt", b"")),
        Case("sigma_word", g, answers("in.txt", "out.txt", "abc"),
             whole_run("in.txt", "out.txt", 3),
             files={"in.txt": THREE_POINTS}, output=("out.txt", THREE_POINTS_AS_READ)),
        Case("sigma_negative", g, answers("in.txt", "out.txt", "-0.05"),
             whole_run("in.txt", "out.txt", 6),
             files={"in.txt": SIX_POINTS}, output=("out.txt", model_output(SIX_POINTS, -0.05))),
        Case("sigma_trailing_letters", g, answers("in.txt", "out.txt", "0.05x"),
             whole_run("in.txt", "out.txt", 6),
             files={"in.txt": SIX_POINTS}, output=("out.txt", model_output(SIX_POINTS, 0.05))),
        # Two points: raw noise 0.0 and +0.24, so the final noise is -sigma, +sigma.
        Case("two_points_plus_minus_sigma", g, answers("in.txt", "out.txt", "0.05"),
             whole_run("in.txt", "out.txt", 2), files={"in.txt": TWO_POINTS},
             output=("out.txt", lines(("0.0000000e+000", "9.5000000e-001"),
                                      ("5.0000000e-001", "2.0500000e+000")))),
        Case("two_points_negative_sigma", g, answers("in.txt", "out.txt", "-0.05"),
             whole_run("in.txt", "out.txt", 2), files={"in.txt": TWO_POINTS},
             output=("out.txt", lines(("0.0000000e+000", "1.0500000e+000"),
                                      ("5.0000000e-001", "1.9500000e+000")))),
        Case("sigma_zero", g, answers("in.txt", "out.txt", "0"),
             whole_run("in.txt", "out.txt", 3),
             files={"in.txt": THREE_POINTS}, output=("out.txt", THREE_POINTS_AS_READ)),
    ]


def decision_cases():
    g = "decisions"
    run6 = dict(files={"in.txt": SIX_POINTS}, output=("out.txt", model_output(SIX_POINTS, 0.05)))
    return [
        # 1. The output file fails to open: the question is asked again.
        Case("output_in_missing_directory", g,
             answers("in.txt", "nodir/out.txt", "out.txt", "0.05"),
             ASK_IN + opened("in.txt") + ASK_OUT + out_failed("nodir/out.txt") + RETRY_OUT
             + after_output("out.txt", 6), **run6),
        Case("output_is_a_directory", g, answers("in.txt", "sub", "out.txt", "0.05"),
             ASK_IN + opened("in.txt") + ASK_OUT + out_failed("sub") + RETRY_OUT
             + after_output("out.txt", 6), setup=make_dir("sub"), **run6),
        # 2. The input named again for output, by any spelling or link.
        Case("same_file_same_name", g, answers("in.txt", "in.txt", "out.txt", "0.05"),
             ASK_IN + opened("in.txt") + ASK_OUT + same_file("in.txt") + RETRY_OUT
             + after_output("out.txt", 6), **run6),
        Case("same_file_dot_slash", g, answers("in.txt", "./in.txt", "out.txt", "0.05"),
             ASK_IN + opened("in.txt") + ASK_OUT + same_file("./in.txt") + RETRY_OUT
             + after_output("out.txt", 6), **run6),
        Case("same_file_through_directory", g,
             answers("sub/in.txt", "sub/../sub/in.txt", "out.txt", "0.05"),
             ASK_IN + opened("sub/in.txt") + ASK_OUT + same_file("sub/../sub/in.txt")
             + RETRY_OUT + after_output("out.txt", 6),
             setup=make_file("sub/in.txt", SIX_POINTS),
             output=("out.txt", model_output(SIX_POINTS, 0.05))),
        Case("same_file_hard_link", g, answers("in.txt", "hard.txt", "out.txt", "0.05"),
             ASK_IN + opened("in.txt") + ASK_OUT + same_file("hard.txt") + RETRY_OUT
             + after_output("out.txt", 6),
             setup=make_link("in.txt", "hard.txt", symbolic=False), **run6),
        Case("same_file_symbolic_link", g, answers("in.txt", "soft.txt", "out.txt", "0.05"),
             ASK_IN + opened("in.txt") + ASK_OUT + same_file("soft.txt") + RETRY_OUT
             + after_output("out.txt", 6),
             setup=make_link("in.txt", "soft.txt", symbolic=True), posix_only=True, **run6),
        Case("same_file_input_by_link", g, answers("soft.txt", "in.txt", "out.txt", "0.05"),
             ASK_IN + opened("soft.txt") + ASK_OUT + same_file("in.txt") + RETRY_OUT
             + after_output("out.txt", 6),
             setup=make_link("in.txt", "soft.txt", symbolic=True), posix_only=True, **run6),
        # 3. Names longer than 259 characters are refused, whatever their length;
        # the refused 260-character name exists, so a tool that took it would open it.
        Case("input_name_260_refused", g, answers(NAME_260, "in.txt", "out.txt", "0.05"),
             ASK_IN + TOO_LONG + RETRY_IN + opened("in.txt") + ASK_OUT
             + after_output("out.txt", 6),
             setup=make_file(NAME_260, b"9 9\n"), **run6),
        Case("input_name_259_accepted", g, answers(NAME_259, "out.txt", "0.05"),
             whole_run(NAME_259, "out.txt", 6), setup=make_file(NAME_259, SIX_POINTS),
             output=("out.txt", model_output(SIX_POINTS, 0.05)), posix_only=True),
        Case("input_token_100000_refused", g,
             answers(TOKEN_100000, "in.txt", "out.txt", "0.05"),
             ASK_IN + TOO_LONG + RETRY_IN + opened("in.txt") + ASK_OUT
             + after_output("out.txt", 6), **run6),
        Case("output_name_260_refused", g, answers("in.txt", NAME_260, "out.txt", "0.05"),
             ASK_IN + opened("in.txt") + ASK_OUT + TOO_LONG + RETRY_OUT
             + after_output("out.txt", 6), setup=make_dir(os.path.dirname(NAME_260)), **run6),
        Case("output_name_259_accepted", g, answers("in.txt", NAME_259, "0.05"),
             whole_run("in.txt", NAME_259, 6), files={"in.txt": SIX_POINTS},
             setup=make_dir(os.path.dirname(NAME_259)),
             output=(NAME_259, model_output(SIX_POINTS, 0.05)), posix_only=True),
        Case("output_token_100000_refused", g,
             answers("in.txt", TOKEN_100000, "out.txt", "0.05"),
             ASK_IN + opened("in.txt") + ASK_OUT + TOO_LONG + RETRY_OUT
             + after_output("out.txt", 6), **run6),
        # 5. A single point keeps its amplitude as read.
        Case("single_point", g, answers("in.txt", "out.txt", "0.05"),
             whole_run("in.txt", "out.txt", 1), files={"in.txt": b"3.5 -1.25\n"},
             output=("out.txt", lines(("3.5000000e+000", "-1.2500000e+000")))),
        Case("single_time_without_amplitude", g, answers("in.txt", "out.txt", "0.05"),
             whole_run("in.txt", "out.txt", 1), files={"in.txt": b"2.5"},
             output=("out.txt", lines(("2.5000000e+000", "0.0000000e+000")))),
        # 6. A write that fails is reported in place of the closing texts.
        Case("output_on_full_device", g, answers("in.txt", "/dev/full", "0.05"),
             ASK_IN + opened("in.txt") + ASK_OUT + opened("/dev/full") + last(3) + ASK_SIGMA
             + write_failed("/dev/full") + PRESS,
             files={"in.txt": THREE_POINTS}, posix_only=True),
    ]


def reader_case(name, data, count, sigma=0.05):
    return Case(name, "faults", answers("in.txt", "out.txt", repr(sigma)),
                whole_run("in.txt", "out.txt", count), files={"in.txt": data},
                output=("out.txt", model_output(data, sigma)),
                checks=[check_model_count(data, sigma, count)])


def check_model_count(data, sigma, count):
    def check(_dir, _out):
        got = modelled(data, sigma)[0]
        return None if got == count else "the model reads %d points, not %d" % (got, count)
    return check


def fault_cases():
    g = "faults"
    return [
        Case("input_is_a_directory", g, answers("sub", "in.txt", "out.txt", "0.05"),
             ASK_IN + in_failed("sub") + RETRY_IN + opened("in.txt") + ASK_OUT
             + after_output("out.txt", 6), setup=make_dir("sub"),
             files={"in.txt": SIX_POINTS}, output=("out.txt", model_output(SIX_POINTS, 0.05))),
        Case("input_single_zero_byte", g, answers("in.txt", "out.txt", "0.05"),
             whole_run("in.txt", "out.txt", 0), files={"in.txt": b"\x00"},
             output=("out.txt", b"")),
        # 349 characters are one number; the 350th begins the next one.
        reader_case("number_349_digits", b"1 " + b"0" * 348 + b"5 3 4\n", 2),
        reader_case("number_350_digits", b"1 " + b"0" * 349 + b"5 3 4\n", 3),
        # 100,000 digits: 286 numbers of 349 zeros, then 185 zeros and a 5.
        reader_case("number_100000_digits", b"1 " + b"0" * 99999 + b"5 3 4\n", 145),
        reader_case("number_349_characters_value", b"1 0." + b"3" * 347 + b"\n2 -" + b"9" * 349
                    + b"\n", 2),
        # "1e" and 347 exponent digits make one number; the rest of the
        # exponent's digits are the next one.
        reader_case("exponents_400_digits",
                    b"1 1e" + b"9" * 400 + b"\n2 1e-" + b"9" * 400 + b"\n3 1e+" + b"0" * 399
                    + b"7\n", 5),
        # 10,000,000 sevens: 28,653 numbers of 349 digits (infinite) and one of 103.
        reader_case("ten_megabytes_of_one_digit", b"7" * 10_000_000, 14327),
        reader_case("infinite_and_tiny_values", b"1e999 -1e999\n1e-999 -1e-999\n-0 5\n", 3),
        # With no noise the values are written as read: the two roundings of
        # the number format, the ends of the double range, the special values.
        Case("written_as_read_edge_values", g, answers("in.txt", "out.txt", "0"),
             whole_run("in.txt", "out.txt", 7), files={"in.txt": (
                 b"0.5 1.0\n-1.0 -0\n99999999.5 100000005\n-100000005 1.00000015\n"
                 b"1.7976931348623157e308 4.9406564584124654e-324\n0.001 1e999\n-1e999 0\n")},
             output=("out.txt", lines(
                 ("5.0000000e-001", "1.0000000e+000"),
                 ("-1.0000000e+000", "0.0000000e+000"),
                 ("1.0000000e+008", "1.0000001e+008"),
                 ("-1.0000001e+008", "1.0000002e+000"),
                 ("1.7976931e+308", "4.9406565e-324"),
                 ("1.0000000e-003", "1.#INF000e+000"),
                 ("-1.#INF000e+000", "0.0000000e+000")))),
        # An infinite standard deviation: the noise is -inf and +inf, and an
        # infinite amplitude plus the opposite infinity is the invalid
        # operation's NaN.
        Case("sigma_infinite", g, answers("in.txt", "out.txt", "1e999"),
             whole_run("in.txt", "out.txt", 2), files={"in.txt": b"0 1e999\n1 5\n"},
             output=("out.txt", lines(("0.0000000e+000", "-1.#IND000e+000"),
                                      ("1.0000000e+000", "1.#INF000e+000")))),
    ]


# The records, each with three standard deviations.
RECORD_FILES = [
    ("elcentro", "elcentro_1940_ns_chopra.txt", 1559),
    ("mineral", "mineral_va_2011_reston_fs25_360_usgs.txt", 41200),
    ("chichi", "chichi_1999_deepsoil.txt", 11800),
]


def check_noise_statistics(data, sigma):
    """The model's final noise, in doubles: mean 0 and population standard
    deviation |sigma|, both to 1e-12 relative to sigma. And the noise read
    back from the tool's output (noisy amplitude minus the amplitude read),
    within what rounding to eight digits can move it."""
    def check(_dir, out):
        count, _, noise = modelled(data, sigma)
        n = len(noise)
        mean = math.fsum(noise) / n
        deviation = math.sqrt(math.fsum((v - mean) ** 2 for v in noise) / n)
        if abs(mean) > 1e-12 * abs(sigma):
            return "model noise mean %r is not 0 to 1e-12 relative" % mean
        if abs(deviation - abs(sigma)) > 1e-12 * abs(sigma):
            return "model noise deviation %r is not %r to 1e-12 relative" % (deviation, sigma)
        points = model.read_pairs(data)
        parsed = [float(line.split()[1]) for line in out.split(b"\r\n")[:-1]]
        if len(parsed) != count:
            return "the output has %d lines, not %d" % (len(parsed), count)
        back = [p - a for p, (_, a) in zip(parsed, points)]
        bound = [5e-8 * abs(p) * 1.0001 for p in parsed]  # half a unit of the 8th digit
        back_mean = math.fsum(back) / n
        back_dev = math.sqrt(math.fsum((v - back_mean) ** 2 for v in back) / n)
        mean_bound = math.fsum(bound) / n
        dev_bound = math.sqrt(math.fsum(b * b for b in bound) / n) + mean_bound
        if abs(back_mean) > mean_bound:
            return "noise read back has mean %r (bound %r)" % (back_mean, mean_bound)
        if abs(back_dev - abs(sigma)) > dev_bound:
            return "noise read back has deviation %r, not %r (bound %r)" % (
                back_dev, abs(sigma), dev_bound)
        return None
    return check


def record_cases():
    cases = []
    for short, file_name, count in RECORD_FILES:
        data = read_record(file_name)
        for sigma in (0.01, 0.05, -0.05):
            cases.append(Case(
                "record_%s_%s" % (short, repr(sigma).replace("-", "minus").replace(".", "_")),
                "records", answers(file_name, "noisy.txt", repr(sigma)),
                whole_run(file_name, "noisy.txt", count), files={file_name: data},
                output=("noisy.txt", model_output(data, sigma)),
                checks=[check_model_count(data, sigma, count),
                        check_noise_statistics(data, sigma)]))
    return cases


# Inputs at the point capacity, made at test time.
_big_base = None


def big_base():
    """5,000,000 pairs, the last one ending in a line end."""
    global _big_base
    if _big_base is None:
        rows = [b"%d.%03d %de-3\n" % (i // 1000, i % 1000, (i * 7919) % 2001 - 1000)
                for i in range(model.MAX_POINTS)]
        _big_base = b"".join(rows)
    return _big_base


def write_big(tail):
    def setup(d):
        with open(os.path.join(d, "in.txt"), "wb") as f:
            f.write(big_base())
            f.write(tail)
    return setup


_big_reference = {}


def big_reference_digest(binary_runner):
    """sha256 of the output for exactly 5,000,000 pairs and nothing after."""
    if "digest" not in _big_reference:
        d = tempfile.mkdtemp(prefix="brellum-e2e-big-")
        try:
            write_big(b"")(d)
            binary_runner(d, answers("in.txt", "out.txt", "0.05"), 300)
            with open(os.path.join(d, "out.txt"), "rb") as f:
                _big_reference["digest"] = hashlib.sha256(f.read()).hexdigest()
        finally:
            shutil.rmtree(d, ignore_errors=True)
    return _big_reference["digest"]


def check_big_output(tail):
    def check(_dir, out):
        count = out.count(b"\r\n")
        if count != model.MAX_POINTS:
            return "the output has %d lines, not %d" % (count, model.MAX_POINTS)
        last_line = out[out.rfind(b"\r\n", 0, len(out) - 2) + 2:]
        want_time = model.format_number(4999999 / 1000).encode()
        if not last_line.startswith(want_time + b" "):
            return "the last line is %r, its time is not %r" % (last_line, want_time)
        digest = hashlib.sha256(out).hexdigest()
        if tail == b"" and "digest" not in _big_reference:
            _big_reference["digest"] = digest
        reference = big_reference_digest(RUNNER)
        if digest != reference:
            return "output sha256 %s differs from that of exactly 5,000,000 pairs (%s)" % (
                digest, reference)
        return None
    return check


def big_cases():
    g = "big"
    tails = [
        ("big_5000000_pairs_exactly", b""),
        ("big_5000001_pairs", b"5000.000 7\n"),
        ("big_5000000_pairs_then_garbage", b"garbage \x00\xff\x1a 1 2 3\n"),
        ("big_5000000_pairs_then_lone_number", b"9"),
    ]
    return [Case(name, g, answers("in.txt", "out.txt", "0.05"),
                 whole_run("in.txt", "out.txt", model.MAX_POINTS), setup=write_big(tail),
                 output=("out.txt", None), checks=[check_big_output(tail)], timeout=300)
            for name, tail in tails]


def all_cases():
    return dialogue_cases() + cut_runs() + decision_cases() + fault_cases() + record_cases() \
        + big_cases()


# ------------------------------------------------------------- running

RUNNER = None  # set in main: f(dir, stdin, timeout) -> CompletedProcess


def make_runner(command):
    def run(d, stdin, timeout):
        kwargs = dict(cwd=d, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                      start_new_session=True, timeout=timeout)
        if stdin is DEVNULL:
            kwargs["stdin"] = subprocess.DEVNULL
        else:
            kwargs["input"] = stdin
        return subprocess.run(command, **kwargs)
    return run


def snapshot(d):
    """path -> what it is: file contents' sha256, a link's target, or a directory."""
    state = {}
    for root, dirs, files in os.walk(d):
        for name in dirs + files:
            full = os.path.join(root, name)
            rel = os.path.relpath(full, d)
            if os.path.islink(full):
                state[rel] = ("link", os.readlink(full))
            elif os.path.isdir(full):
                state[rel] = ("dir",)
            else:
                with open(full, "rb") as f:
                    state[rel] = ("file", hashlib.sha256(f.read()).hexdigest())
    return state


def describe_difference(what, expected, actual):
    """Where two byte strings first differ, with some context around it."""
    if expected == actual:
        return None
    at = next((i for i in range(min(len(expected), len(actual)))
               if expected[i] != actual[i]), min(len(expected), len(actual)))
    line = expected.count(b"\n", 0, at) + 1
    lo = max(0, at - 60)
    return ("%s differs at byte %d (line %d); expected %d bytes, got %d\n"
            "      expected: ...%r...\n"
            "      actual:   ...%r..." % (what, at, line, len(expected), len(actual),
                                         expected[lo:at + 60], actual[lo:at + 60]))


def run_case(case, options):
    """The list of failures of one case (empty when it passes)."""
    errors = []
    d = tempfile.mkdtemp(prefix="brellum-e2e-")
    try:
        for name, data in case.files.items():
            make_file(name, data)(d)
        if case.setup:
            case.setup(d)
        before = snapshot(d)
        out_name = case.output[0] if case.output else None
        try:
            result = RUNNER(d, case.stdin, case.timeout)
        except subprocess.TimeoutExpired:
            return ["no end within %d s" % case.timeout]

        if result.returncode != 255:
            errors.append("exit status %d, not 255 (-1)" % result.returncode)
        if result.stderr and not options.launcher:
            errors.append("the error stream is not empty: %r" % result.stderr[:200])

        newline = "\r\n" if options.windows else "\n"
        dialogue = case.dialogue(d) if callable(case.dialogue) else case.dialogue
        expected = (BANNER + dialogue).replace("\n", newline).encode()
        banner = BANNER.replace("\n", newline).encode()
        if not result.stdout.startswith(banner):
            errors.append(describe_difference("the banner", banner, result.stdout[:len(banner)]))
        else:
            problem = describe_difference("the dialogue after the banner",
                                          expected[len(banner):], result.stdout[len(banner):])
            if problem:
                errors.append(problem)

        after = snapshot(d)
        for path, state in before.items():
            if path == out_name:
                continue
            if after.get(path) != state:
                errors.append("%s changed or vanished" % path)
        for path in after:
            if path not in before and path != out_name:
                errors.append("unexpected new file %s" % path)

        out = b""
        if case.output:
            name, want = case.output
            full = os.path.join(d, name)
            if want is ABSENT:
                if os.path.lexists(full):
                    errors.append("%s was created, and must not be" % name)
            elif not os.path.isfile(full):
                errors.append("no output file %s" % name)
            else:
                with open(full, "rb") as f:
                    out = f.read()
                if options.keep:
                    with open(os.path.join(options.keep, case.name + ".out"), "wb") as f:
                        f.write(out)
                if want is not None:
                    if callable(want):
                        want = want(d)
                    problem = describe_difference("the output file", want, out)
                    if problem:
                        errors.append(problem)
        for check in case.checks:
            problem = check(d, out)
            if problem:
                errors.append(problem)
    finally:
        shutil.rmtree(d, ignore_errors=True)
    return errors


def main():
    global RUNNER
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--binary")
    parser.add_argument("--launcher", default="")
    parser.add_argument("--windows", action="store_true")
    parser.add_argument("--keep")
    parser.add_argument("--only", action="append", default=[])
    parser.add_argument("--group", action="append", default=[])
    parser.add_argument("--list", action="store_true")
    options = parser.parse_args()

    cases = all_cases()
    if options.list:
        for case in cases:
            print("%-12s %s%s" % (case.group, case.name, "  (POSIX only)" if case.posix_only
                                  else ""))
        return 0
    if not options.binary:
        parser.error("--binary is required")
    known = {c.name for c in cases} | {c.group for c in cases}
    for name in options.only + options.group:
        if name not in known:
            parser.error("no case or group named %s" % name)
    if options.only:
        cases = [c for c in cases if c.name in options.only]
    if options.group:
        cases = [c for c in cases if c.group in options.group]
    if options.keep:
        os.makedirs(options.keep, exist_ok=True)
        options.keep = os.path.abspath(options.keep)

    RUNNER = make_runner(shlex.split(options.launcher) + [os.path.abspath(options.binary)])
    passed = failed = skipped = 0
    started = time.monotonic()
    for case in cases:
        if options.windows and case.posix_only:
            print("skip %s (POSIX only)" % case.name)
            skipped += 1
            continue
        t0 = time.monotonic()
        errors = run_case(case, options)
        seconds = time.monotonic() - t0
        if errors:
            failed += 1
            print("FAIL %s (%.2f s)" % (case.name, seconds))
            for e in errors:
                print("    " + e)
        else:
            passed += 1
            print("ok   %s (%.2f s)" % (case.name, seconds))
        sys.stdout.flush()
    print("# %d cases in %.1f s" % (passed + failed + skipped, time.monotonic() - started))
    print("%d passed, %d failed%s" % (passed, failed,
                                      ", %d skipped" % skipped if skipped else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
