"""What the benchmarks share: timing calls in turn, the machine's name, Markdown
tables, writing a block of a docs page, and the command line (--quick, --page)."""

import argparse
import os
import platform
import random
import re
import statistics
import time

import numpy as np


def timed(calls, elements, repeats):
    """ns per element of each call (median), and each call's ratio to the
    first: the median of the ratios of rounds in which all are timed in turn
    (in an order shuffled each round), so that a busy moment of the machine
    falls on all of them alike."""
    for fn in calls:  # warm-up
        fn()
    times = [[] for _ in calls]
    order = list(range(len(calls)))
    shuffle = random.Random(3).shuffle
    for _ in range(repeats):
        shuffle(order)  # no call always follows the same one
        for k in order:
            start = time.perf_counter_ns()
            calls[k]()
            times[k].append(time.perf_counter_ns() - start)
    ratios = [statistics.median(a / b for a, b in zip(t, times[0])) for t in times]
    return [statistics.median(t) / elements for t in times], ratios


def machine_name():
    """The processor's model, the cores, NumPy and Python."""
    machine = (f"{platform.processor() or platform.machine()}, {os.cpu_count()} cores, NumPy {np.__version__}, "
               f"Python {platform.python_version()}")
    try:
        with open("/proc/cpuinfo") as f:
            machine = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name")) + \
                machine[machine.index(","):]
    except (OSError, StopIteration):
        pass
    return machine


def markdown_table(caption, header, rows):
    """A caption, then a Markdown table of these header cells and rows of cells."""
    lines = [caption, "", "| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(row) + " |" for row in rows]
    return "\n".join(lines)


def update_page(path, text, name="benchmark"):
    """The page's block between <!-- {name}:begin --> and <!-- {name}:end -->
    replaced by text (the block added at the end where it is missing)."""
    begin, end = f"<!-- {name}:begin -->", f"<!-- {name}:end -->"
    with open(path) as f:
        page = f.read()
    block = f"{begin}\n{text}\n{end}"
    if begin in page:
        page = re.sub(re.escape(begin) + ".*?" + re.escape(end), lambda _: block, page, flags=re.S)
    else:
        page += f"\n{block}\n"
    with open(path, "w") as f:
        f.write(page)


def main(block, report):
    """The command line of a benchmark: report(quick, machine) measures and
    returns its Markdown text, printed, and with --page written into that
    page's block of this name."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="fewer elements and repeats")
    parser.add_argument("--page", help="write the text into this page of the docs")
    args = parser.parse_args()
    text = report(args.quick, machine_name())
    print(text)
    if args.page:
        update_page(args.page, text, block)
