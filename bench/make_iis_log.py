#!/usr/bin/env python3
"""Writes an IIS web log folder for benchmarks: one W3C file a day.

    make_iis_log.py FOLDER RECORDS [--days 30] [--start 2024-06-01]

The files (u_exYYMMDD.log) hold RECORDS records in all, spread evenly over
the days, in IIS's default layout of 15 fields. The traffic is
pseudo-random with a fixed seed: a few thousand URLs of which some are far
more popular, all hours with more by day, mostly 200s with 304s, 404s and
a few 500s. The same arguments always give the same files.
"""
import argparse
import datetime
import os
import random

FIELDS = ("date time s-ip cs-method cs-uri-stem cs-uri-query s-port "
          "cs-username c-ip cs(User-Agent) cs(Referer) sc-status "
          "sc-substatus sc-win32-status time-taken")
AGENTS = ["Mozilla/5.0+(Windows+NT+10.0;+Win64;+x64)+AppleWebKit/537.36",
          "Mozilla/5.0+(Macintosh;+Intel+Mac+OS+X+14_5)+Safari/605.1.15",
          "Mozilla/5.0+(X11;+Linux+x86_64;+rv:127.0)+Gecko/20100101",
          "Mozilla/5.0+(compatible;+bingbot/2.0)"]
HOUR_WEIGHTS = [1, 1, 1, 1, 1, 1, 2, 4, 8, 9, 9, 8, 7, 8, 9, 9, 8, 6, 4, 3,
                2, 2, 1, 1]


def urls(rng):
    sections = ["products", "blog", "support", "news", "docs", "shop"]
    pages = ["/", "/default.htm", "/favicon.ico", "/css/site.css",
             "/js/app.js", "/images/logo.png"]
    for section in sections:
        for i in range(600):
            pages.append(f"/{section}/item{i}.htm")
    rng.shuffle(pages)
    return pages


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("records", type=int)
    parser.add_argument("--days", type=int, default=30)
    parser.add_argument("--start", default="2024-06-01")
    args = parser.parse_args()

    rng = random.Random(20240601)
    pages = urls(rng)
    # Zipf-like popularity: page k is chosen with weight 1/(k+1).
    cumulative = []
    total = 0.0
    for k in range(len(pages)):
        total += 1.0 / (k + 1)
        cumulative.append(total)
    hour_cum = []
    acc = 0
    for w in HOUR_WEIGHTS:
        acc += w
        hour_cum.append(acc)
    statuses = [200] * 80 + [304] * 12 + [404] * 5 + [500] + [401] * 2

    os.makedirs(args.folder, exist_ok=True)
    start = datetime.date.fromisoformat(args.start)
    written = 0
    for day in range(args.days):
        date = start + datetime.timedelta(days=day)
        count = (args.records * (day + 1)) // args.days - written
        written += count
        hours = sorted(rng.choices(range(24), cum_weights=hour_cum, k=count))
        chosen = rng.choices(pages, cum_weights=cumulative, k=count)
        name = os.path.join(args.folder, f"u_ex{date:%y%m%d}.log")
        with open(name, "w", newline="") as out:
            out.write("#Software: Microsoft Internet Information Services "
                      f"10.0\r\n#Version: 1.0\r\n#Date: {date} 00:00:00\r\n"
                      f"#Fields: {FIELDS}\r\n")
            lines = []
            for hour, page in zip(hours, chosen):
                lines.append(
                    f"{date} {hour:02d}:{rng.randrange(60):02d}:"
                    f"{rng.randrange(60):02d} 10.0.0.5 GET {page} - 80 - "
                    f"192.168.{rng.randrange(256)}.{rng.randrange(256)} "
                    f"{rng.choice(AGENTS)} - {rng.choice(statuses)} 0 0 "
                    f"{rng.randrange(2000)}\r\n")
                if len(lines) == 10000:
                    out.write("".join(lines))
                    lines = []
            out.write("".join(lines))


if __name__ == "__main__":
    main()
