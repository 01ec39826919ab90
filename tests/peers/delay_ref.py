#!/usr/bin/env python3
"""Reference for the output-delay texts, written from the delay formulas.

A delay value v counts the memory's delay unit. Counts are whole steps of the
display unit; the steps are single-precision numbers and the shown number is
computed in single precision. Prints one row per (unit, setting, v):

    unit setting v toString toDisplayString fromString(toString)

where a failed conversion prints "-". With --sweep the rows cover every unit,
the sample rates 0, 44100, 48000, 96000, 192000 and the frame-rate indexes
-1..7 over a sweep of v.
"""
import math
import struct
import sys

SPEED = 343.59
FEET = 3.2808
INT_MIN, INT_MAX = -2**31, 2**31 - 1
DELAY_MAX = 1000000  # the memory's delay range is 0..DELAY_MAX


def f32(x):
    return struct.unpack('<f', struct.pack('<f', x))[0]


STEPS = [f32(0.1), f32(0.1), f32(1.0), f32(0.02), f32(0.01)]
FORMATS = ['%.1f', '%.1f', '%.0f', '%.2f', '%.2f']
FRAME_RATES = [f32(r) for r in (30.0, 29.97, 25.0, 24.0, 60.0, 59.94, 50.0)]


def fits(x):
    return INT_MIN <= x <= INT_MAX


def round_half_away(x):
    a = abs(x)
    r = math.floor(a)
    if a - r >= 0.5:
        r += 1
    return r if x >= 0 else -r


def frame_rate(index):
    return FRAME_RATES[index] if 0 <= index < len(FRAME_RATES) else None


def to_count(unit, setting, v):
    sec = v * 0.01 / 1000
    if unit == 0:
        x = sec * SPEED / STEPS[0]
    elif unit == 1:
        x = sec * SPEED * FEET / STEPS[1]
    elif unit == 2:
        x = sec * setting
    elif unit == 3:
        x = v * 0.01 / STEPS[3]
    else:
        fps = frame_rate(setting)
        if fps is None:
            return None
        x = sec * fps / STEPS[4]
    r = round_half_away(x)
    return r if fits(r) else None


def from_count(unit, setting, count):
    if unit == 0:
        x = count / SPEED * 1000 * STEPS[0] / 0.01
    elif unit == 1:
        x = count / FEET / SPEED * 1000 * STEPS[1] / 0.01
    elif unit == 2:
        if setting == 0:
            return None
        x = count / setting * 1000 / 0.01
    elif unit == 3:
        x = count * STEPS[3] / 0.01
    else:
        fps = frame_rate(setting)
        if fps is None:
            return None
        x = count / fps * 1000 * STEPS[4] / 0.01
    t = math.trunc(x)
    if not fits(t):
        return None
    t += t & 1
    return t if t <= INT_MAX else None


def to_string(unit, setting, v):
    count = to_count(unit, setting, v)
    if count is None:
        return None
    return FORMATS[unit] % f32(f32(f32(count) * STEPS[unit]) / f32(10.0))


def to_display(unit, setting, v):
    q = abs(v + 5) // 10
    rounded = q if v + 5 >= 0 else -q
    count = to_count(unit, setting, rounded)
    if count is None:
        return None
    return FORMATS[unit] % f32(f32(count) * STEPS[unit])


def from_string(unit, setting, text):
    try:
        number = float(text)
    except ValueError:
        return None
    if not math.isfinite(number) or not fits(math.trunc(number)):
        return None
    count = math.trunc(number / STEPS[unit] * 10.0)
    if not fits(count):
        return None
    v = from_count(unit, setting, count)
    return v if v is not None and 0 <= v <= DELAY_MAX else None


def settings(unit):
    if unit == 2:
        return [0, 44100, 48000, 96000, 192000]
    if unit == 4:
        return list(range(-1, 8))
    return [0]


def sweep():
    values = list(range(0, 1000001, 997)) + [1, 5, 9, 10, 15, 999, 1000, 291043, 999999, 1000000]
    for unit in range(5):
        for setting in settings(unit):
            for v in values:
                yield unit, setting, v


def row(unit, setting, v):
    text = to_string(unit, setting, v)
    shown = to_display(unit, setting, v)
    back = from_string(unit, setting, text) if text is not None else None
    cells = [text, shown, None if back is None else str(back)]
    return '%d %d %d %s' % (unit, setting, v, ' '.join('-' if c is None else c for c in cells))


def main():
    if sys.argv[1:] == ['--sweep']:
        for unit, setting, v in sweep():
            print(row(unit, setting, v))
    elif len(sys.argv) == 4:
        print(row(*(int(a) for a in sys.argv[1:])))
    else:
        print('usage: delay_ref.py --sweep | unit setting v', file=sys.stderr)
        return 2
    return 0


if __name__ == '__main__':
    sys.exit(main())
