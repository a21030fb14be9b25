#!/usr/bin/env python3
"""Writes the benchmark inputs, the same bytes on every run.

usage: generate.py STYLE POINTS PATH

STYLE plain: "time amplitude" per line, LF line ends, the time i * 0.0001 as
%.6f and an amplitude made of three sines as %.9e.
STYLE tool: the tool's own output layout, "%14.7e %14.7e \\r\\n" with
three-digit exponents, from the same series.
"""
import math
import sys


def amplitude(i):
    t = i * 0.0001
    return (0.31 * math.sin(2.0 * math.pi * 1.7 * t)
            + 0.12 * math.sin(2.0 * math.pi * 13.1 * t + 0.4)
            + 0.045 * math.sin(2.0 * math.pi * 47.3 * t + 1.1))


def tool_field(value):
    # %.7e with the exponent widened to three digits
    text = "%.7e" % value
    mantissa, exponent = text.split("e")
    return "%se%s%03d" % (mantissa, exponent[0], abs(int(exponent)))


def main():
    style, points, path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    chunk = []
    with open(path, "wb") as out:
        for i in range(points):
            if style == "plain":
                chunk.append("%.6f %.9e\n" % (i * 0.0001, amplitude(i)))
            else:
                chunk.append("%s %s \r\n" % (tool_field(i * 0.0001), tool_field(amplitude(i))))
            if len(chunk) == 65536:
                out.write("".join(chunk).encode("ascii"))
                chunk = []
        out.write("".join(chunk).encode("ascii"))


if __name__ == "__main__":
    main()
