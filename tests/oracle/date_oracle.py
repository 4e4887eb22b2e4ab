#!/usr/bin/env python3
"""Compares date! with Python's datetime and zoneinfo on random dates.

Each case writes one random date as a literal in one of the lexer's forms
(day-month-year with a month name or number, year first, two-digit years,
ISO week and ordinal dates, the basic form), often with a time and a zone
(negative, half and quarter hours), and a second date. The Kiv script
prints, for each case, one line of numbers:

    the literal's year month day hour minute second zone-seconds
    its weekday, day of the year and ISO week
    the same fields once moved to UTC (timezone 0)
    the same fields once moved to the offset a real zone has at that
        instant (zoneinfo)
    the fields of the date plus N days
    the date minus the second date (days) and their difference in seconds
    the epoch seconds of the date ("E" past the 32-bit range)
    the fields of the date made from random epoch seconds

Python computes the same line; numbers are compared exactly, seconds to a
microsecond. Prints every disagreement (at most 20) and 'N passed, N failed';
the exit status is 1 when any case disagrees.

    date_oracle.py KIV SEED COUNT
"""
import calendar
import datetime as dt
import os
import random
import subprocess
import sys
import tempfile
from fractions import Fraction
from zoneinfo import ZoneInfo

MONTHS = ["January", "February", "March", "April", "May", "June", "July", "August",
          "September", "October", "November", "December"]
ZONES = ["America/St_Johns", "Asia/Kolkata", "Asia/Kathmandu", "Australia/Adelaide",
         "America/New_York", "Europe/London", "Pacific/Chatham", "Asia/Tehran",
         "Pacific/Kiritimati", "Pacific/Pago_Pago", "Australia/Eucla", "America/Caracas"]
FRACTIONS = [Fraction(0), Fraction(0), Fraction(1, 2), Fraction(1, 4), Fraction(1, 8)]
EPOCH = dt.datetime(1970, 1, 1, tzinfo=dt.timezone.utc)

HEADER = """Kiv [Title: "date oracle"]
z: func [d /local t] [either t: d/zone [to integer! t / 0:00:01] [0]]
e32: func [d /local r] [either error? r: try [to integer! d] ["E"] [r]]
"""


def random_day(rng):
    """A day between years 2 and 9998, often at a month's end or around
    29 February of a century or leap year."""
    kind = rng.random()
    if kind < 0.2:
        y = rng.choice([1900, 2000, 2100, 1600, 1700, 2400, 2024, 2023, 1996, 4000, 9000])
        m, d = rng.choice([(2, 28), (2, 29), (3, 1), (12, 31), (1, 1)])
        if m == 2 and d == 29 and not calendar.isleap(y):
            d = 28
        return y, m, d
    y = rng.randint(2, 9998) if rng.random() < 0.5 else rng.randint(1890, 2110)
    m = rng.randint(1, 12)
    last = calendar.monthrange(y, m)[1]
    d = last if kind < 0.4 else rng.randint(1, last)
    return y, m, d


def random_zone(rng):
    """Offset in minutes east, as a literal writes it."""
    r = rng.random()
    if r < 0.3:
        return None
    if r < 0.4:
        return 0
    return rng.choice([-1, 1]) * (rng.randint(0, 15) * 60 + rng.choice([0, 0, 15, 30, 45]))


def zone_text(rng, minutes):
    if minutes == 0 and rng.random() < 0.5:
        return "Z"
    sign = "-" if minutes < 0 else "+"
    h, m = divmod(abs(minutes), 60)
    style = rng.randint(0, 2)
    if style == 0 or m:
        return f"{sign}{h:02d}:{m:02d}" if rng.random() < 0.5 else f"{sign}{h}:{m:02d}"
    if style == 1:
        return f"{sign}{h:02d}{m:02d}"
    return f"{sign}{h}"


def seconds_text(s, frac, pad=True):
    text = f"{s:02d}" if pad else str(s)
    if frac:
        text += str(float(frac))[1:]
    return text


def month_text(rng, m):
    if rng.random() < 0.4:
        return str(m) if rng.random() < 0.5 else f"{m:02d}"
    name = MONTHS[m - 1]
    name = name[:rng.randint(3, len(name))]
    return rng.choice([name, name.lower(), name.upper()])


class Case:
    def __init__(self, rng):
        self.y, self.m, self.d = random_day(rng)
        self.timed = rng.random() < 0.75
        self.h = rng.randint(0, 23)
        self.mi = rng.randint(0, 59)
        self.s = rng.randint(0, 59)
        self.frac = rng.choice(FRACTIONS)
        self.zone = random_zone(rng) if self.timed else None
        if not self.timed:
            self.h = self.mi = self.s = 0
            self.frac = Fraction(0)
        self.literal = self.write(rng)

    def write(self, rng):
        y, m, d = self.y, self.m, self.d
        form = rng.randint(0, 6)
        if form == 6 and self.timed and self.y >= 1000:
            text = f"{y:04d}{m:02d}{d:02d}T{self.h:02d}{self.mi:02d}"
            if self.s or self.frac or rng.random() < 0.5:
                text += seconds_text(self.s, self.frac)
            if self.zone is not None:
                z = zone_text(rng, self.zone)
                if ":" in z:
                    z = z.replace(":", "")
                    if len(z) == 4:  # +h:mm became +hmm: write the hours in two digits
                        z = z[0] + "0" + z[1:]
                text += z
            return text
        if form == 0:
            sep = rng.choice("-/")
            text = f"{d}{sep}{month_text(rng, m)}{sep}{y:04d}"
        elif form == 1 and y >= 100:
            text = f"{y:04d}-{month_text(rng, m)}-{d:02d}"
        elif form == 2 and 1950 <= y <= 2049:
            sep = rng.choice("-/")
            text = f"{d:02d}{sep}{month_text(rng, m)}{sep}{y % 100:02d}"
        elif form == 3:
            iy, iw, iwd = dt.date(y, m, d).isocalendar()
            text = f"{iy:04d}-W{iw:02d}" + ("" if iwd == 1 and rng.random() < 0.5 else f"-{iwd}")
        elif form == 4:
            text = f"{y:04d}-{dt.date(y, m, d).timetuple().tm_yday:03d}"
        else:
            text = f"{d}-{MONTHS[m - 1][:3]}-{y:04d}"
        if self.timed:
            text += rng.choice("/T") + f"{self.h}:{self.mi:02d}"
            if self.s or self.frac or rng.random() < 0.5:
                text += ":" + seconds_text(self.s, self.frac)
            if self.zone is not None:
                text += zone_text(rng, self.zone)
        return text

    def aware(self):
        offset = dt.timedelta(minutes=self.zone or 0)
        return dt.datetime(self.y, self.m, self.d, self.h, self.mi, self.s, tzinfo=dt.timezone(offset))


def fields(t, frac, timed=True):
    """year month day hour minute second zone-seconds of an aware datetime."""
    seconds = Fraction(t.second) + frac
    zone = int(t.utcoffset().total_seconds()) if timed else 0
    return [t.year, t.month, t.day, t.hour, t.minute, seconds, zone]


def instant(t, frac):
    """Exact seconds since the epoch."""
    delta = t - EPOCH
    return Fraction(delta.days * 86400 + delta.seconds) + frac


def kiv_fields(v):
    return f"{v}/year {v}/month {v}/day {v}/hour {v}/minute {v}/second z {v}"


def quarter_offset_q(offset):
    minutes = offset.total_seconds() / 60
    return minutes == int(minutes) and int(minutes) % 15 == 0 and abs(minutes) < 16 * 60


def build(rng):
    a = Case(rng)
    b = Case(rng)
    ta, tb = a.aware(), b.aware()
    fa = a.frac
    expected = fields(ta, fa, a.timed)
    expected += [ta.isoweekday(), ta.timetuple().tm_yday, ta.isocalendar()[1]]
    utc = ta.astimezone(dt.timezone.utc)
    expected += fields(utc, fa)
    zone = ZoneInfo(rng.choice(ZONES))
    there = utc.astimezone(zone)
    offset = there.utcoffset()
    if not quarter_offset_q(offset):  # a zone's old local mean time
        there = utc
        offset = dt.timedelta(0)
    expected += fields(there.astimezone(dt.timezone(offset)), fa)
    off_minutes = int(offset.total_seconds() // 60)
    zone_literal = f"{'-' if off_minutes < 0 else ''}{abs(off_minutes) // 60}:{abs(off_minutes) % 60:02d}"
    low = dt.date(2, 1, 1).toordinal() - dt.date(a.y, a.m, a.d).toordinal()
    high = dt.date(9998, 12, 31).toordinal() - dt.date(a.y, a.m, a.d).toordinal()
    n = rng.randint(max(low, -4000000), min(high, 4000000))
    if rng.random() < 0.5:
        n = rng.randint(max(low, -400), min(high, 400))
    moved = ta + dt.timedelta(days=n)
    expected += fields(moved, fa, a.timed)
    ia, ib = instant(ta, fa), instant(tb, b.frac)
    own = Fraction(a.zone or 0) * 60
    diff = ia - ib
    expected += [(diff + own) // 86400, diff]
    rounded = (ia + Fraction(1, 2)).__floor__()
    expected += [rounded if -2**31 <= rounded < 2**31 else "E"]
    e = rng.randint(-2**31, 2**31 - 1)
    expected += fields(EPOCH + dt.timedelta(seconds=e), Fraction(0))
    code = (f"d: {a.literal} e: {b.literal} u: d u/timezone: 0 w: u w/timezone: {zone_literal} "
            f"m: d + {n} b: to date! {e} "
            f"print [{kiv_fields('d')} d/weekday d/yearday d/isoweek {kiv_fields('u')} {kiv_fields('w')} "
            f"{kiv_fields('m')} d - e (difference d e) / 0:00:01 e32 d {kiv_fields('b')}]")
    return code, expected


def agree(have, want):
    if len(have) != len(want):
        return False
    for h, w in zip(have, want):
        if isinstance(w, Fraction):
            try:
                if abs(Fraction(h) - w) > Fraction(1, 1000000):
                    return False
            except ValueError:
                return False
        elif h != str(w):
            return False
    return True


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    kiv, seed, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rng = random.Random(seed)
    cases = [build(rng) for _ in range(count)]
    with tempfile.TemporaryDirectory() as tmp:
        script = os.path.join(tmp, "dates.kiv")
        with open(script, "w") as f:
            f.write(HEADER)
            for code, _ in cases:
                f.write(code + "\n")
        run = subprocess.run([kiv, script], capture_output=True, text=True)
    lines = run.stdout.splitlines()
    if run.returncode != 0 or len(lines) != count:
        print(f"kiv ended with status {run.returncode} after {len(lines)} of {count} lines")
        print(run.stderr[-2000:])
        if lines:
            print("last line:", lines[-1])
        print(f"at case: {cases[len(lines)][0] if len(lines) < count else '-'}")
        sys.exit(1)
    failed = 0
    for (code, want), line in zip(cases, lines):
        if agree(line.split(), want):
            continue
        failed += 1
        if failed <= 20:
            print(f"FAIL {code}\n  python: {' '.join(str(w) for w in want)}\n  kiv:    {line}")
    print(f"{count - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
