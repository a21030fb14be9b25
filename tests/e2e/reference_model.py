"""An independent model of brellum's whole computation, in Python.

It shares no code with the tool: the end-to-end tests use it to derive the
exact bytes that the tool must write. Python floats are IEEE 754 doubles and
+ - * / and sqrt round to nearest, so every step below gives the same bits as
the tool when done in the same order. The exponential is the platform's; the
last bits of the table do not matter, since no draw's uniform value lies
within 1e-9 of an entry.

The steps, in the order of a run:
  read_pairs      the input file's bytes -> [(time, amplitude)]
  raw_noise       the generator, the magnitude table, the bracket search, the sign
  final_noise     mean removed, scaled to the requested standard deviation
  format_number   the two-rounding eight-digit field
  output_bytes    the whole output file
"""

import bisect
import math
import re
import struct

MAX_POINTS = 5_000_000
NUMBER_TEXT_LIMIT = 349
DRAW_MAX = 32767
TABLE_ENTRIES = 600
INTEGRATION_STEPS = 1000

# ---------------------------------------------------------------- reading

_WHITE = rb"[ \t\n\v\f\r]*"
_white_run = re.compile(_WHITE)
_digit_run = re.compile(rb"[0-9]*")


def scan_number(data, pos):
    """One number from data at pos: (value or None, position after the scan).

    Up to 349 characters after the sign (digits, point, e, exponent sign);
    a dangling e or exponent sign stays consumed and counts as exponent 0.
    """
    pos = _white_run.match(data, pos).end()
    n = len(data)
    if pos >= n:
        return None, pos
    negative = False
    if data[pos] in b"+-":
        negative = data[pos] == ord("-")
        pos += 1
    start = pos
    limit = min(n, start + NUMBER_TEXT_LIMIT)

    def digits(p):
        return _digit_run.match(data, p, limit).end()

    p = digits(pos)
    mantissa_digits = p - pos
    if p < limit and data[p] == ord("."):
        q = digits(p + 1)
        mantissa_digits += q - (p + 1)
        p = q
    if mantissa_digits == 0:
        return None, p
    mantissa_end = p
    exponent_text = b""
    if p < limit and data[p] in b"eE":
        p += 1
        sign_at = p
        if p < limit and data[p] in b"+-":
            p += 1
        q = digits(p)
        if q > p:
            exponent_text = data[sign_at:q]
        p = q
    mantissa = data[start:mantissa_end]
    if mantissa.startswith(b"."):
        mantissa = b"0" + mantissa
    text = mantissa + (b"e" + exponent_text if exponent_text else b"")
    value = _decimal_to_double(text)
    return (-value if negative else value), p


def _decimal_to_double(text):
    # float() rounds correctly and gives inf or 0.0 past the range; an
    # exponent of hundreds of digits is first brought back to a size that
    # float() takes without changing the outcome.
    s = text.decode("ascii")
    if "e" in s:
        mantissa, exponent = s.split("e")
        e = int(exponent)
        if e > 100_000:
            return math.inf if mantissa.strip("0.") else 0.0
        if e < -100_000:
            return 0.0
        s = mantissa + "e" + str(e)
    return float(s)


def read_pairs(data, max_points=MAX_POINTS):
    """The points of an input file: a time with no amplitude gets 0.0."""
    points = []
    pos = 0
    while len(points) < max_points:
        t, pos = scan_number(data, pos)
        if t is None:
            break
        a, pos = scan_number(data, pos)
        points.append((t, 0.0 if a is None else a))
    return points


# ---------------------------------------------------------------- noise


def draws(count):
    """The first count draws of the generator, which starts at state 1."""
    state = 1
    out = []
    for _ in range(count):
        state = (state * 214013 + 2531011) & 0xFFFFFFFF
        out.append((state >> 16) & 0x7FFF)
    return out


_table = None


def magnitude_table():
    """(grid, cumulative), both indexed 1..600 (index 0 unused)."""
    global _table
    if _table is None:
        pi = math.atan2(0.0, -1.0)
        density = 1.0 / math.sqrt(pi + pi)
        grid = [0.0] * (TABLE_ENTRIES + 1)
        cumulative = [0.0] * (TABLE_ENTRIES + 1)
        exp = math.exp
        for k in range(1, TABLE_ENTRIES + 1):
            x = float(k) * 0.01
            dx = (x - (-x)) * 0.001
            s = 0.0
            minus_x = -x
            for m in range(INTEGRATION_STEPS + 1):
                t = float(m) * dx + minus_x
                s = exp(-(t * t) * 0.5) + s
            grid[k] = x
            cumulative[k] = (density * dx) * s
        _table = (grid, cumulative)
    return _table


_draw_magnitudes = None


def magnitude_of_draw():
    """For each draw 0..32767, the magnitude its bracket search selects."""
    global _draw_magnitudes
    if _draw_magnitudes is None:
        grid, cumulative = magnitude_table()
        entries = cumulative[1:]  # entries[i] is cumulative[i + 1]
        out = []
        for d in range(DRAW_MAX + 1):
            u = float(d) / 32767.0
            # Largest j with cumulative[j] <= u; then the lowest j that also
            # has u <= cumulative[j + 1] (an equal upper bound lets j - 1 win).
            j = bisect.bisect_right(entries, u)
            if j >= 2 and cumulative[j - 1] <= u <= cumulative[j]:
                j -= 1
            if 1 <= j <= TABLE_ENTRIES - 1 and cumulative[j] <= u <= cumulative[j + 1]:
                out.append(grid[j])
            else:
                out.append(0.0)
        _draw_magnitudes = out
    return _draw_magnitudes


def raw_noise(count):
    """The raw value of each of count points: magnitude draw, then sign draw."""
    magnitudes = magnitude_of_draw()
    d = draws(2 * count)
    out = []
    for i in range(count):
        value = magnitudes[d[2 * i]]
        if float(d[2 * i + 1]) / 32767.0 <= 0.5:
            value = value * -1.0
        out.append(value)
    return out


def final_noise(count, sigma):
    """The noise added to each point, in the tool's order of operations."""
    raw = raw_noise(count)
    if count == 0:
        return []
    raw_sum = 0.0
    raw_square_sum = 0.0
    for v in raw:
        raw_sum = raw_sum + v
        raw_square_sum = raw_square_sum + v * v
    n = float(count)
    mean = raw_sum / n
    mean_square = raw_square_sum / n
    deviation = math.sqrt(abs(mean_square - mean * mean))
    if deviation == 0.0:
        # A single point: no spread, and its amplitude is written as read.
        return [0.0] * count
    factor = sigma / deviation
    return [(v - mean) * factor for v in raw]


# ---------------------------------------------------------------- writing


def format_number(x):
    """The field of one value: d.ddddddde+ddd, a '-' in front when negative."""
    bits = struct.unpack("<Q", struct.pack("<d", x))[0]
    negative = bits >> 63 == 1
    sign = "-" if negative else ""
    if math.isinf(x):
        return sign + "1.#INF000e+000"
    if math.isnan(x):
        if bits == 0xFFF8000000000000:
            return "-1.#IND000e+000"
        return sign + "1.#QNAN00e+000"
    if x == 0.0:
        return "0.0000000e+000"
    # First rounding: 17 significant digits, correctly rounded.
    text = "%.16e" % abs(x)
    digits = text[0] + text[2:18]
    exponent = int(text[19:])
    # Second rounding: eight digits, from the ninth digit of those 17 alone.
    leading = int(digits[:8])
    if digits[8] >= "5":
        leading += 1
        if leading == 10**8:
            leading = 10**7
            exponent += 1
    d = "%08d" % leading
    return "%s%s.%se%s%03d" % (sign, d[0], d[1:], "+" if exponent >= 0 else "-", abs(exponent))


def output_bytes(points, noise):
    lines = [
        "%s %s \r\n" % (format_number(t), format_number(a + e))
        for (t, a), e in zip(points, noise)
    ]
    return "".join(lines).encode("ascii")


def run(input_data, sigma):
    """(point count, output file bytes, final noise) for one run."""
    points = read_pairs(input_data)
    noise = final_noise(len(points), sigma)
    return len(points), output_bytes(points, noise), noise
