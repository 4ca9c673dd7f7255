#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the calendar table that the datetime tests check the Dt... exports
against, computed with Python's datetime and zoneinfo (an implementation of
the calendar and of the time-zone database independent of ours).

Usage: make_calendar_table.py OUTPUT

Zones: UTC on every day from 1900 to 2100, and Europe/Berlin,
America/New_York and Australia/Sydney on every day of the years in which
their current rules (the POSIX rule the tests load) were and are in force,
plus instants at and around every change of offset in those years. Each row
carries its own counts for the Inc functions and a second instant for the
report-day count, drawn at random (fixed seed).

Row format (all integers, DT values as milliseconds since 1899-12-30 00:00
UTC):
  zone dt dt2 nYear nMonth nDecade nWeek nDay
  year month day hour minute second millisecond decade dayOfWeek dayOfYear
  isDst isLeapYear daysInMonth daysInYear weekOfYear weeksInYear
  incYear incMonth incDecade incWeek incDay
  beginOfYear beginOfMonth beginOfDecade beginOfWeek beginOfDay pack
  next0600 prev0600 next2230 prev2230 count0600 count2230
"""
import calendar
import os
import random
import sys
from datetime import date, datetime, timedelta, timezone
from zoneinfo import ZoneInfo

UTC = timezone.utc
EPOCH = datetime(1899, 12, 30, tzinfo=UTC)
MS = timedelta(milliseconds=1)

# index, name, POSIX rule loaded by the tests, first and last year of instants.
# The first year leaves three years after the current rules began (1996 in
# the EU, 2007 in the US, 2008 in New South Wales) for the Inc functions,
# which reach up to three years away.
ZONES = [
    (0, "UTC", "UTC0", 1900, 2100),
    (1, "Europe/Berlin", "CET-1CEST,M3.5.0,M10.5.0/3", 1999, 2097),
    (2, "America/New_York", "EST5EDT,M3.2.0,M11.1.0", 2010, 2097),
    (3, "Australia/Sydney", "AEST-10AEDT,M10.1.0,M4.1.0/3", 2011, 2097),
]


def to_aware(ms):
    return EPOCH + ms * MS


def to_ms(aware):
    return (aware - EPOCH) // MS


def from_local(naive, zone):
    # fold=0: a repeated wall-clock time is its first occurrence, a skipped
    # one is read with the offset before the change.
    return to_ms(naive.replace(tzinfo=zone, fold=0).astimezone(UTC))


def local_of(ms, zone):
    return to_aware(ms).astimezone(zone)


def with_day(naive, year, month, day):
    return naive.replace(year=year, month=month, day=day)


def inc_months(ms, n, zone):
    if n == 0:
        return ms  # unchanged, even in an hour that a change of offset repeats
    t = local_of(ms, zone).replace(tzinfo=None)
    total = t.year * 12 + (t.month - 1) + n
    year, month = divmod(total, 12)
    day = min(t.day, calendar.monthrange(year, month + 1)[1])
    return from_local(with_day(t, year, month + 1, day), zone)


def decade_of(day):
    return 1 if day <= 10 else (2 if day <= 20 else 3)


def inc_decades(ms, n, zone):
    if n == 0:
        return ms
    # Ten-day periods counted through the months; the place within the
    # period is kept and clamped to the period's last day.
    t = local_of(ms, zone).replace(tzinfo=None)
    decade = decade_of(t.day)
    place = t.day - 10 * (decade - 1)  # 1 to 11
    index = (t.year * 12 + t.month - 1) * 3 + decade - 1 + n
    months, d = divmod(index, 3)
    year, month = divmod(months, 12)
    last = calendar.monthrange(year, month + 1)[1] if d == 2 else 10 * (d + 1)
    day = min(10 * d + place, last)
    return from_local(with_day(t, year, month + 1, day), zone)


def inc_days(ms, n, zone):
    if n == 0:
        return ms
    t = local_of(ms, zone).replace(tzinfo=None)
    return from_local(t + timedelta(days=n), zone)


def midnight(t):
    return t.replace(hour=0, minute=0, second=0, microsecond=0)


def report_start(d, hour, minute, zone):
    return from_local(datetime(d.year, d.month, d.day, hour, minute), zone)


def report_next(ms, hour, minute, zone):
    d = local_of(ms, zone).date()
    return min(s for s in (report_start(d + timedelta(days=k), hour, minute, zone) for k in (-1, 0, 1, 2)) if s > ms)


def report_prev(ms, hour, minute, zone):
    d = local_of(ms, zone).date()
    return max(s for s in (report_start(d + timedelta(days=k), hour, minute, zone) for k in (-2, -1, 0, 1)) if s < ms)


def report_day(ms, hour, minute, zone):
    # The local date on which the report day holding ms started.
    start = report_prev(ms + 1, hour, minute, zone)
    return local_of(start, zone).date()


def report_count(ms1, ms2, hour, minute, zone):
    return (report_day(ms2, hour, minute, zone) - report_day(ms1, hour, minute, zone)).days


def row(index, zone, ms, rng):
    t = local_of(ms, zone)
    naive = t.replace(tzinfo=None)
    n_year = rng.randint(-3, 3)
    n_month = rng.randint(-36, 36)
    n_decade = rng.randint(-108, 108)
    n_week = rng.randint(-150, 150)
    n_day = rng.randint(-1000, 1000)
    ms2 = ms + rng.randint(-1000, 1000) * 86400000 + rng.randint(-86400000, 86400000)
    if ms2 < 0:
        # Before 1899-12-30 the day split counts the time of day from the
        # day's end; the unit tests cover that.
        ms2 = 2 * ms - ms2
    iso = t.date().isocalendar()
    decade = decade_of(t.day)
    start_of_day = from_local(midnight(naive), zone)
    month_start = from_local(midnight(naive).replace(day=1), zone)
    fields = [
        index, ms, ms2, n_year, n_month, n_decade, n_week, n_day,
        t.year, t.month, t.day, t.hour, t.minute, t.second, t.microsecond // 1000,
        decade, t.isoweekday(), t.timetuple().tm_yday,
        1 if t.dst() else 0, 1 if calendar.isleap(t.year) else 0,
        calendar.monthrange(t.year, t.month)[1], 366 if calendar.isleap(t.year) else 365,
        iso[1], date(t.year, 12, 28).isocalendar()[1],
        inc_months(ms, 12 * n_year, zone), inc_months(ms, n_month, zone),
        inc_decades(ms, n_decade, zone), inc_days(ms, 7 * n_week, zone), inc_days(ms, n_day, zone),
        from_local(midnight(naive).replace(month=1, day=1), zone), month_start,
        # The starts of the decade and of the week move by whole UTC days.
        month_start + 10 * (decade - 1) * 86400000, start_of_day - (t.isoweekday() - 1) * 86400000,
        start_of_day, from_local(naive.replace(microsecond=naive.microsecond // 1000 * 1000), zone),
        report_next(ms, 6, 0, zone), report_prev(ms, 6, 0, zone),
        report_next(ms, 22, 30, zone), report_prev(ms, 22, 30, zone),
        report_count(ms, ms2, 6, 0, zone), report_count(ms, ms2, 22, 30, zone),
    ]
    return " ".join(str(f) for f in fields)


def changes(zone, first, last):
    """UTC millisecond instants at which the zone's offset changes."""
    result = []
    t = to_ms(datetime(first, 1, 1, tzinfo=UTC))
    end = to_ms(datetime(last + 1, 1, 1, tzinfo=UTC))
    step = 3600000
    before = local_of(t, zone).utcoffset()
    while t < end:
        after = local_of(t + step, zone).utcoffset()
        if after != before:
            lo, hi = t, t + step  # offset differs between lo and hi: bisect to the ms
            while hi - lo > 1:
                mid = (lo + hi) // 2
                if local_of(mid, zone).utcoffset() == before:
                    lo = mid
                else:
                    hi = mid
            result.append(hi)
            before = after
        t += step
    return result


def check_rule(name, rule):
    """The rule the tests load must be the zone file's own rule for the future."""
    path = os.path.join("/usr/share/zoneinfo", name)
    if name == "UTC" or not os.path.exists(path):
        return
    with open(path, "rb") as f:
        footer = f.read().rstrip(b"\n").rsplit(b"\n", 1)[-1].decode()
    if footer != rule:
        sys.exit(f"{name}: the zone file's rule is {footer}, the table expects {rule}")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    rng = random.Random(6050)
    lines = ["# Generated by make_calendar_table.py; see there for the columns."]
    for index, name, rule, first, last in ZONES:
        check_rule(name, rule)
        zone = UTC if name == "UTC" else ZoneInfo(name)
        lines.append(f"zone {index} {name} {rule}")
        day = to_ms(datetime(first, 1, 1, tzinfo=UTC))
        end = to_ms(datetime(last + 1, 1, 1, tzinfo=UTC))
        while day < end:
            # One instant a day: every fourth at 06:00 or 22:30 local time
            # exactly (report-day boundaries), one in eight at midnight UTC,
            # the rest anywhere in the day.
            pick = rng.randrange(8)
            if pick < 2:
                d = local_of(day, zone).date()
                ms = report_start(d, 6, 0, zone) if pick == 0 else report_start(d, 22, 30, zone)
            elif pick == 2:
                ms = day
            else:
                ms = day + rng.randrange(86400000)
            lines.append(row(index, zone, ms, rng))
            day += 86400000
        if name != "UTC":
            for change in changes(zone, first, last):
                for delta in (-3600001, -3600000, -1800000, -1, 0, 1, 1800000, 3599999, 3600000, 7200000):
                    lines.append(row(index, zone, change + delta, rng))
    tmp = sys.argv[1] + ".tmp"
    with open(tmp, "w") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(tmp, sys.argv[1])


if __name__ == "__main__":
    main()
