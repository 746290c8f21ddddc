"""A table per group, measured side by side in one run: 100 devices of 10^5
events each (10^7 in all), each device's samples put on the reference clock
by its own table of 1,000 sync pulses, through one GroupedInterpolator call
(the events ordered by device, or interleaved as a merged log holds them),
against one Interpolator call over one table of the same total size
(100,000 knots) and the same 10^7 events; each call's ratio to that one
(the median of the ratios of rounds timed in turn).

    python bench/bench_groups.py [--quick] [--page docs/explanation/performance.md]
"""

import numpy as np
from harness import main, markdown_table, timed

import exact_interp

GROUPS, KNOTS = 100, 1000


def measure(per_group, repeats):
    rng = np.random.default_rng(5)
    t0 = np.datetime64("2024-05-01T12:00:00", "ns").astype(np.int64)
    tables, samples = {}, []
    for g in range(GROUPS):
        xp = np.cumsum(rng.integers(40_000, 56_000, KNOTS, dtype=np.uint64))
        fp = (t0 + np.cumsum(rng.integers(999_000_000, 1_001_000_000, KNOTS))).astype("M8[ns]")
        tables[g] = exact_interp.Interpolator(xp, fp)
        samples.append(np.sort(rng.integers(xp[0], xp[-1], per_group, dtype=np.uint64)))
    by_group = np.concatenate(samples)
    keys_by_group = np.repeat(np.arange(GROUPS), per_group)
    mixed = rng.permutation(len(by_group))
    interleaved, keys_interleaved = by_group[mixed], keys_by_group[mixed]
    grouped = exact_interp.GroupedInterpolator(tables)
    # one table of the same total size: the devices' tables one after another on one axis
    span = max(int(t.xp[-1]) for t in tables.values()) + 1
    big_xp = np.concatenate([t.xp + np.uint64(g * span) for g, t in tables.items()])
    big_fp = np.concatenate([t.fp for t in tables.values()])
    order = np.argsort(big_xp, kind="stable")
    big = exact_interp.Interpolator(big_xp[order], np.sort(big_fp))
    big_q = by_group + (keys_by_group * span).astype(np.uint64)
    calls = {
        "one table of 100,000 knots, one call": lambda: big.forward(big_q),
        "GroupedInterpolator, events ordered by device": lambda: grouped.forward(by_group, by=keys_by_group),
        "GroupedInterpolator, events interleaved": lambda: grouped.forward(interleaved, by=keys_interleaved),
    }
    got = grouped.forward(interleaved, by=keys_interleaved)
    want = loop(tables, interleaved, keys_interleaved)
    assert got.tobytes() == want.tobytes()
    ns, ratios = timed(list(calls.values()), len(by_group), repeats)
    return [(name, ns[k], ratios[k]) for k, name in enumerate(calls)], len(by_group)


def loop(tables, q, keys):
    """What a user writes without groups, a mask per device: the reference for the answers (not timed with the
    others: its 10^9 bytes of masks a round disturb the calls timed after it)."""
    out = np.empty(len(q), "M8[ns]")
    for g, table in tables.items():
        mask = keys == g
        out[mask] = table.forward(q[mask])
    return out


def report(quick, machine):
    rows, m = measure(10**4 if quick else 10**5, 3 if quick else 9)
    caption = (f"Machine: {machine}. {m:,} events of {GROUPS} devices put on a reference clock, each device by its "
               f"own table of {KNOTS:,} sync pulses (datetime64[ns] values); ns per event (median), and each call's "
               "ratio to one call over one table of the same total size (median of the ratios of rounds timed in "
               "turn).")
    return markdown_table(caption, ["call", "ns per event", "÷ one table"],
                          [[name, f"{ns:.2f}", f"{ratio:.2f}×"] for name, ns, ratio in rows])


if __name__ == "__main__":
    main("groups-benchmark", report)
