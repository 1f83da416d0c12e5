#!/usr/bin/env python3
"""Writes realistic ipconv input: LINES lines of "decimal,host,date,request"."""
import random
import sys


def main():
    lines = int(sys.argv[1])
    path = sys.argv[2]
    rng = random.Random(20261208)
    hosts = [f"host{n:04d}.example.net" for n in range(500)]
    requests = ["GET /index.html", "GET /api/v1/items?page=2", "POST /login",
                "GET /static/app.js", "PUT /api/v1/items/17", "GET /reports/q4.pdf"]
    with open(path, "w", newline="\n") as out:
        chunk = []
        for i in range(lines):
            day = 1 + i % 28
            chunk.append(f"{rng.getrandbits(32)},{rng.choice(hosts)},2026-12-{day:02d}T"
                         f"{i % 24:02d}:{i % 60:02d}:{(i * 7) % 60:02d},{rng.choice(requests)}\n")
            if len(chunk) == 10000:
                out.write("".join(chunk))
                chunk.clear()
        out.write("".join(chunk))


if __name__ == "__main__":
    main()
