#!/usr/bin/env python3
"""Writes the demo's IIS log files under examples/shares/.

The files are committed; run this again only to change the demo. The
records are pseudo-random with a fixed seed, shaped like real traffic:
more hits in office hours, a few popular pages, some 304s and 404s.
"""
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
rng = random.Random(20240603)

PAGES = ["/", "/default.htm", "/products/index.htm", "/products/widget.htm",
         "/about.htm", "/contact.aspx", "/css/site.css", "/js/app.js",
         "/images/logo.png", "/images/banner.jpg", "/search.aspx",
         "/blog/2024/06/spring-release.htm", "/favicon.ico"]
INTRANET = ["/", "/default.aspx", "/hr/holidays.aspx", "/it/helpdesk.aspx",
            "/news/q2.htm", "/styles/main.css", "/Default.aspx"]
AGENTS = ["Mozilla/5.0+(Windows+NT+10.0;+Win64;+x64)+AppleWebKit/537.36",
          "Mozilla/5.0+(Macintosh;+Intel+Mac+OS+X+14_5)+Safari/605.1.15",
          "Mozilla/5.0+(compatible;+bingbot/2.0)"]


def hour_weighted():
    return rng.choices(range(24), weights=[1, 1, 1, 1, 1, 1, 2, 4, 8, 9, 9, 8,
                                           7, 8, 9, 9, 8, 6, 4, 3, 2, 2, 1, 1])[0]


def status():
    return rng.choices([200, 304, 404, 500, 401], weights=[80, 12, 5, 1, 2])[0]


def times(day, count):
    stamps = []
    for _ in range(count):
        stamps.append((hour_weighted(), rng.randrange(60), rng.randrange(60)))
    return [f"{day} {h:02d}:{m:02d}:{s:02d}" for h, m, s in sorted(stamps)]


def write(path, lines):
    full = os.path.join(HERE, "shares", path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "w", newline="") as f:
        f.write("".join(line + "\r\n" for line in lines))


def web_day(day, count, pages, fields_change_at=None):
    lines = ["#Software: Microsoft Internet Information Services 10.0",
             "#Version: 1.0", f"#Date: {day} 00:00:00",
             "#Fields: date time s-ip cs-method cs-uri-stem cs-uri-query "
             "s-port cs-username c-ip cs(User-Agent) sc-status sc-substatus "
             "sc-win32-status time-taken"]
    for i, stamp in enumerate(times(day, count)):
        if i == fields_change_at:
            # The site's logging was reconfigured: a restart writes new
            # headers and the records follow the new layout.
            lines += ["#Software: Microsoft Internet Information Services 10.0",
                      "#Version: 1.0", f"#Date: {stamp}",
                      "#Fields: date time cs-method cs-uri-stem sc-status "
                      "c-ip cs(Referer) time-taken"]
        page = rng.choice(pages)
        code = status()
        ip = f"192.168.{rng.randrange(1, 5)}.{rng.randrange(2, 250)}"
        method = "POST" if page.endswith(".aspx") and rng.random() < 0.3 else "GET"
        if fields_change_at is not None and i >= fields_change_at:
            lines.append(f"{stamp} {method} {page} {code} {ip} "
                         f"http://intranet/ {rng.randrange(1, 900)}")
        else:
            lines.append(f"{stamp} 10.0.0.5 {method} {page} - 80 - {ip} "
                         f"{rng.choice(AGENTS)} {code} 0 0 "
                         f"{rng.randrange(1, 900)}")
    return lines


def ftp_day(day, count):
    lines = ["#Software: Microsoft Internet Information Services 6.0",
             "#Version: 1.0", f"#Date: {day} 00:00:00",
             "#Fields: time c-ip cs-method cs-uri-stem sc-status"]
    for stamp in times(day, count):
        ip = f"10.1.{rng.randrange(1, 3)}.{rng.randrange(2, 60)}"
        t = stamp.split(" ")[1]
        lines.append(f"{t} {ip} [{rng.randrange(1, 40)}]USER anonymous 331")
        lines.append(f"{t} {ip} [{rng.randrange(1, 40)}]PASS - 230")
        verb, code = rng.choice([("sent", 226), ("sent", 226), ("created", 226),
                                 ("sent", 550), ("QUIT", 426)])
        name = rng.choice(["/pub/setup.exe", "/pub/readme.txt",
                           "/upload/report.xlsx", "/pub/drivers.zip"])
        lines.append(f"{t} {ip} [{rng.randrange(1, 40)}]{verb} {name} {code}")
    return lines


for day in ["2024-06-03", "2024-06-04", "2024-06-05"]:
    compact = day[2:].replace("-", "")
    write(f"WEB01/C$/inetpub/logs/LogFiles/W3SVC1/u_ex{compact}.log",
          web_day(day, 400, PAGES))
    write(f"WEB01/D$/Logs/W3SVC2/u_ex{compact}.log",
          web_day(day, 150, INTRANET,
                  fields_change_at=70 if day == "2024-06-04" else None))
    write(f"FTP01/C$/WINDOWS/system32/LogFiles/MSFTPSVC1/ex{compact}.log",
          ftp_day(day, 60))
