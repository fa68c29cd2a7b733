#!/usr/bin/env python3
"""Writes docs/performance.md (and its plots) from one run of script/bench.

Reads, from the results folder that script/bench fills:
  timings.json     Google Benchmark's JSON output of kova_bench (median of the repetitions)
  callgrind/own.*  callgrind dumps of kova_count, collecting only the add-in's own instructions
  callgrind/all.*  callgrind dumps of kova_count, collecting everything the handler causes
  allocations.txt  kova_allocs' output
  run.txt          facts about the run (date, load averages, commands)
Writes the page and two SVG plots (drawn with gnuplot).
"""

import json
import os
import re
import subprocess
import sys

# ---- Goals -------------------------------------------------------------------------------------

GOAL_PAIR_BASE = 2000        # own instructions per unmonitored pair, 1 profile document
GOAL_PAIR_STEP = 150         # own instructions per additional trigger profile
GOAL_MONITORED_SHARE = 10.0  # own instructions, % of all the handler causes
GOAL_BULK_RATIO = 1.25       # cost per note at 100,000 notes / at 1,000 notes
GOAL_SCALING = 1.6           # unmonitored saves: 2-thread / 1-thread throughput
GOAL_SCALING_SHARE = 90.0    # ... as % of the stand-in's own 2-thread scaling


# A one-off measurement of the pending-note tables before they were indexed (a plain walk from
# the head), kept for comparison; script/bench does not rerun it.
BEFORE_INDEX_NOTE = (
    "For comparison, the same bulk-delete benchmark with the earlier tables (a plain walk of "
    "the chain from its head, everything else as now), measured once on the same machine "
    "(2026-12-08, busy): 4.2 ms at 1,000 notes (4.2 us per note), 150 ms at 10,000 (15 us per "
    "note) and 57 s at 100,000 (570 us per note), CPU time with the add-in.")


def read_run_facts(path):
    facts = {}
    with open(path) as f:
        for line in f:
            if "=" in line:
                key, value = line.rstrip("\n").split("=", 1)
                facts[key] = value
    return facts


def read_timings(path):
    """Median per run name: {run_name: benchmark record}."""
    with open(path) as f:
        data = json.load(f)
    runs = {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        # A benchmark with a minimum time or repetitions of its own carries them in its name.
        runs[re.sub(r"/(min_time:[0-9.]+|repeats:[0-9]+)", "", b["run_name"])] = b
    return data["context"], runs


TO_MICROSECONDS = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}


def micros(record, which="cpu_time"):
    return record[which] * TO_MICROSECONDS[record["time_unit"]]


def read_callgrind(folder, prefix):
    """{case name: instructions collected} from the dumps named by client requests."""
    counts = {}
    for name in sorted(os.listdir(folder)):
        if not name.startswith(prefix + "."):
            continue
        case = None
        total = None
        with open(os.path.join(folder, name)) as f:
            for line in f:
                if line.startswith("desc: Trigger: Client Request: "):
                    case = line.split(": ", 3)[3].strip()
                elif line.startswith("summary: "):
                    total = int(line.split()[1])
        if case is not None and total is not None:
            counts[case] = total
    return counts


def read_counts_output(path):
    """Lines "case pairs=N key=value ..." -> {case: {key: int}}."""
    cases = {}
    with open(path) as f:
        for line in f:
            parts = line.split()
            if not parts:
                continue
            cases[parts[0]] = {k: int(v) for k, v in (p.split("=") for p in parts[1:])}
    return cases


def fmt(value, digits=2):
    if value >= 100:
        return f"{value:,.0f}"
    if value >= 10:
        return f"{value:,.1f}"
    return f"{value:,.{digits}f}"


def verdict(ok):
    return "met" if ok else "**not met**"


def plot(gnuplot_script, path):
    subprocess.run(["gnuplot"], input=gnuplot_script, text=True, check=True)
    if not os.path.exists(path):
        raise SystemExit(f"gnuplot did not write {path}")


def main():
    results, page, plots = sys.argv[1], sys.argv[2], sys.argv[3]
    facts = read_run_facts(os.path.join(results, "run.txt"))
    context, runs = read_timings(os.path.join(results, "timings.json"))
    own = read_callgrind(os.path.join(results, "callgrind"), "own")
    every = read_callgrind(os.path.join(results, "callgrind"), "all")
    allocs = read_counts_output(os.path.join(results, "allocations.txt"))
    os.makedirs(plots, exist_ok=True)
    plots_rel = os.path.relpath(plots, os.path.dirname(page))

    def run(name):
        if name not in runs:
            raise SystemExit(f"timings.json has no run {name}")
        return runs[name]

    def per_pair(counts, case):
        pairs = allocs.get(case, {}).get("pairs", 200)
        return counts[case] / pairs

    def per_note(counts, n):
        case = f"bulk/notes:{n}"
        return counts[case] / allocs[case]["notes"]

    # ---- Unmonitored pair -----------------------------------------------------------------
    profile_counts = [1, 10, 100, 1000]
    pair_rows = []
    for p in profile_counts:
        case = f"unmonitored/profiles:{p}"
        stand = micros(run(f"UnmonitoredPair/standin/profiles:{p}"))
        total = micros(run(f"UnmonitoredPair/addin/profiles:{p}"))
        pair_rows.append({
            "profiles": p, "standin": stand, "total": total, "addin": total - stand,
            "own": per_pair(own, case), "all": per_pair(every, case),
            "allocs": allocs[case]["addin_allocations"] / allocs[case]["pairs"] / 2,
        })
    base = pair_rows[0]["own"]
    step = (pair_rows[-1]["own"] - base) / (profile_counts[-1] - profile_counts[0])
    steps = [(pair_rows[i + 1]["own"] - pair_rows[i]["own"]) /
             (profile_counts[i + 1] - profile_counts[i]) for i in range(len(pair_rows) - 1)]
    worst_step = max(steps)
    pair_allocs = max(r["allocs"] for r in pair_rows)

    # ---- Monitored update -----------------------------------------------------------------
    monitored_rows = []
    for c in [1, 4]:
        case = f"monitored/connectors:{c}"
        stand = micros(run(f"MonitoredUpdate/standin/connectors:{c}"))
        total = micros(run(f"MonitoredUpdate/addin/connectors:{c}"))
        o, a = per_pair(own, case), per_pair(every, case)
        monitored_rows.append({
            "connectors": c, "standin": stand, "total": total, "addin": total - stand,
            "own": o, "all": a, "share": 100.0 * o / a,
            "allocs": allocs[case]["addin_allocations"] / allocs[case]["pairs"] / 2,
        })
    worst_share = max(r["share"] for r in monitored_rows)

    # ---- Bulk delete ----------------------------------------------------------------------
    bulk_rows = []
    for n in [1000, 10000, 100000]:
        stand = micros(run(f"BulkDelete/standin/notes:{n}"))
        total = micros(run(f"BulkDelete/addin/notes:{n}"))
        bulk_rows.append({"notes": n, "standin": stand, "total": total,
                          "addin": total - stand, "standin_note": stand / n,
                          "total_note": total / n, "addin_note": (total - stand) / n})
    bulk_ratio = bulk_rows[-1]["addin_note"] / bulk_rows[0]["addin_note"]
    bulk_ratio_total = bulk_rows[-1]["total_note"] / bulk_rows[0]["total_note"]
    bulk_counted = [1000, 100000]
    bulk_own = {n: per_note(own, n) for n in bulk_counted}
    bulk_all = {n: per_note(every, n) for n in bulk_counted}
    bulk_allocs = {n: allocs[f"bulk/notes:{n}"]["addin_allocations"] / n for n in bulk_counted}
    bulk_own_ratio = bulk_own[100000] / bulk_own[1000]
    bulk_all_ratio = bulk_all[100000] / bulk_all[1000]
    bulk_time_ok = bulk_ratio <= GOAL_BULK_RATIO
    bulk_count_ok = max(bulk_own_ratio, bulk_all_ratio) <= GOAL_BULK_RATIO

    # ---- Profile refresh ------------------------------------------------------------------
    refresh_rows = []
    for e in [0, 10000, 100000]:
        stand = micros(run(f"ProfileRefresh/standin/events:{e}"))
        total = micros(run(f"ProfileRefresh/addin/events:{e}"))
        floor = micros(run(f"ProfileRefresh/apifloor/events:{e}"))
        refresh_rows.append({"events": e, "standin": stand, "total": total,
                             "addin": total - stand, "floor": floor})

    # ---- Threads --------------------------------------------------------------------------
    def saves(monitored, addin, threads):
        return run(f"Saves/monitored:{monitored}/addin:{addin}/real_time/threads:{threads}")

    thread_rows = []
    for monitored in [0, 1]:
        for addin in [0, 1]:
            one, two = saves(monitored, addin, 1), saves(monitored, addin, 2)
            thread_rows.append({
                "monitored": monitored, "addin": addin, "one": one["items_per_second"],
                "two": two["items_per_second"],
                "scaling": two["items_per_second"] / one["items_per_second"],
                "cpu_one": micros(one), "cpu_two": micros(two)})
    scaling = {(r["monitored"], r["addin"]): r["scaling"] for r in thread_rows}
    addin_scaling = scaling[(0, 1)]
    standin_scaling = scaling[(0, 0)]
    scaling_share = 100.0 * addin_scaling / standin_scaling

    # ---- Plots ----------------------------------------------------------------------------
    with open(os.path.join(results, "profiles.dat"), "w") as f:
        for r in pair_rows:
            f.write(f"{r['profiles']} {r['total']} {r['standin']} {r['addin']} {r['own']}\n")
    with open(os.path.join(results, "bulk.dat"), "w") as f:
        for r in bulk_rows:
            f.write(f"{r['notes']} {r['total_note']} {r['standin_note']} {r['addin_note']}\n")
    profiles_svg = os.path.join(plots, "unmonitored-pair.svg")
    bulk_svg = os.path.join(plots, "bulk-delete.svg")
    plot(f"""
set terminal svg size 720,440 dynamic font "sans,12"
set output "{profiles_svg}"
set title "Unmonitored save (one before+after pair) against trigger profile documents"
set logscale xy
set xrange [0.7:1500]
set xlabel "EventTriggerConfiguration documents"
set ylabel "microseconds per pair (CPU time)"
set y2label "add-in's own instructions per pair"
set logscale y2
set ytics nomirror
set y2tics
set key top left
set grid
plot "{results}/profiles.dat" using 1:2 with linespoints title "stand-in + add-in", \\
     "{results}/profiles.dat" using 1:4 with linespoints title "add-in (difference)", \\
     "{results}/profiles.dat" using 1:3 with linespoints title "stand-in alone", \\
     "{results}/profiles.dat" using 1:5 axes x1y2 with linespoints dashtype 2 title "own instructions (right axis)"
""", profiles_svg)
    plot(f"""
set terminal svg size 720,440 dynamic font "sans,12"
set output "{bulk_svg}"
set title "Bulk delete of N monitored notes: cost per note"
set logscale x
set xrange [600:160000]
set xlabel "notes in the bulk delete (N)"
set ylabel "microseconds per note (CPU time)"
set yrange [0:*]
set key top left
set grid
plot "{results}/bulk.dat" using 1:2 with linespoints title "stand-in + add-in", \\
     "{results}/bulk.dat" using 1:4 with linespoints title "add-in (difference)", \\
     "{results}/bulk.dat" using 1:3 with linespoints title "stand-in alone"
""", bulk_svg)

    # ---- The page -------------------------------------------------------------------------
    load = context.get("load_avg", [0, 0, 0])
    lines = []
    w = lines.append
    w("# Performance of the add-in")
    w("")
    w("<!-- Written by script/bench (bench/report.py); edit those, not this file. -->")
    w("")
    w("What one notification costs the server, and how that cost grows with the configuration, "
      "the work in flight and the number of server threads. Every figure compares the add-in "
      "with the stand-in server's own cost for the same operation, measured in the same run: "
      "each case runs once with the handlers suspended (`qixsim::SuspendHandlers`, the "
      "stand-in alone) and once with the add-in's handler called (stand-in and add-in), one "
      "right after the other. The add-in is loaded as the server loads it: `dlopen` of "
      "`libkovaevents.so`, then `MainEntryPoint`, which registers its eight hooks.")
    w("")
    w(f"**Machine.** Figures taken on {facts.get('date', context.get('date', '?'))} on a "
      f"shared 2-core virtual machine ({context.get('num_cpus', '?')} CPUs at "
      f"{context.get('mhz_per_cpu', '?')} MHz) that other engineers' builds also use; load "
      f"averages {facts.get('load_before', '?')} before the timings and "
      f"{load[0]:.2f} / {load[1]:.2f} / {load[2]:.2f} when they started. Times are the "
      f"median of {facts.get('repetitions', '?')} repetitions (5 for the thread cases); "
      "compare figures within this "
      "page, not with another run. Instruction and allocation counts do not depend on the "
      "machine's load and repeat exactly for a given build (another build of the same sources, "
      "in another folder say, can differ by a few instructions per pair through the alignment "
      "of code and stack).")
    w("")
    w("Reproduce everything with `script/bench` (Release build in `build/bench`, preset "
      "`bench`); it rewrites this page. Single cases: "
      "`build/bench/bench/kova_bench --benchmark_filter=<regex>`.")
    w("")

    w("## Goals")
    w("")
    w("| Goal | Measured | |")
    w("|---|---|---|")
    w(f"| Unmonitored pair, 1 profile document: at most {GOAL_PAIR_BASE:,} instructions of the "
      f"add-in's own | {base:,.0f} | {verdict(base <= GOAL_PAIR_BASE)} |")
    w(f"| Each additional trigger profile (one monitored entry): at most {GOAL_PAIR_STEP} more | "
      f"{step:,.1f} on average from 1 to 1,000 (largest step between measured sizes "
      f"{worst_step:,.1f}) | {verdict(worst_step <= GOAL_PAIR_STEP)} |")
    w(f"| Unmonitored pair: 0 heap allocations | {pair_allocs:g} per notification at every "
      f"size | {verdict(pair_allocs == 0)} |")
    w(f"| Monitored update: own instructions at most {GOAL_MONITORED_SHARE:g}% of all the "
      f"handler causes | " + ", ".join(
          f"{r['share']:.1f}% ({r['connectors']} connector{'s' if r['connectors'] > 1 else ''})"
          for r in monitored_rows) + f" | {verdict(worst_share <= GOAL_MONITORED_SHARE)} |")
    if bulk_time_ok and bulk_count_ok:
        bulk_verdict = "met"
    elif bulk_count_ok:
        bulk_verdict = "met in instructions; **not met in time** (see the closing note)"
    else:
        bulk_verdict = "**not met**"
    w(f"| Bulk delete: cost per note at N = 100,000 within {GOAL_BULK_RATIO}x of N = 1,000 | "
      f"time: {bulk_ratio:.2f}x for the add-in's share ({bulk_ratio_total:.2f}x stand-in "
      f"included); instructions: {bulk_own_ratio:.3f}x the add-in's own, {bulk_all_ratio:.3f}x "
      f"all the handler causes | {bulk_verdict} |")
    w(f"| Unmonitored saves: 2-thread throughput at least {GOAL_SCALING}x the 1-thread one | "
      f"{addin_scaling:.2f}x | {verdict(addin_scaling >= GOAL_SCALING)} |")
    w(f"| ... and at least {GOAL_SCALING_SHARE:g}% of the stand-in's own 2-thread scaling | "
      f"{scaling_share:.0f}% (stand-in alone {standin_scaling:.2f}x) | "
      f"{verdict(scaling_share >= GOAL_SCALING_SHARE)} |")
    step_spread = max(steps) - min(steps)
    w(f"| The stand-in is not the bottleneck: note lookup by id and view reads constant-time "
      f"per entry | one view read and one filter profile cost {steps[0]:,.0f} / {steps[1]:,.0f} "
      f"/ {steps[2]:,.0f} add-in instructions between the measured profile counts (see 1); a "
      f"bulk-deleted note, opened by id, causes {bulk_all[1000]:,.0f} instructions at 1,000 "
      f"notes and {bulk_all[100000]:,.0f} at 100,000 (see 3) | "
      f"{verdict(step_spread <= 0.1 * max(steps) and bulk_all_ratio <= 1.05)} |")
    w("")

    w("## 1. Unmonitored save by number of trigger profiles")
    w("")
    w("One save of an existing document in `other.qix`, which no profile monitors: the host "
      "calls the handler before and after the store. The profile documents are "
      "\"EventTriggerConfiguration\" documents, each monitoring a database of its own (no other "
      "profile document, so the log level in force is NONE); they do not change during the "
      "measurement, so every before stage runs the refresh's change test (one step of the "
      "profile view per document) and the monitoring filter (one profile per document), and "
      "nothing is parked.")
    w("")
    w("| Profile documents | Stand-in alone (us) | Stand-in + add-in (us) | Add-in (us) | "
      "Add-in's own instructions | All instructions the handler causes | Heap allocations "
      "per pair (per notification) |")
    w("|---:|---:|---:|---:|---:|---:|---:|")
    for r in pair_rows:
        w(f"| {r['profiles']:,} | {fmt(r['standin'])} | {fmt(r['total'])} | {fmt(r['addin'])} | "
          f"{r['own']:,.0f} | {r['all']:,.0f} | {2 * r['allocs']:g} ({r['allocs']:g}) |")
    w("")
    w(f"![Unmonitored pair against profile documents]({plots_rel}/unmonitored-pair.svg)")
    w("")
    w("The add-in's time is almost all server API work the refresh and the filter require: per "
      "pair, a database path, note and item reads, opening \"kovaevents.qix\", the design "
      "lookup, collection and one view read per profile document, the form title's design "
      "lookup and note open. Its own instructions are a fraction of the instructions it causes "
      "(columns 5 and 6).")
    w("")
    w("Commands: `kova_bench --benchmark_filter=UnmonitoredPair`; instructions and allocations "
      "from `kova_count` and `kova_allocs` (see \"How the counts are taken\").")
    w("")

    w("## 2. Monitored update by number of connectors")
    w("")
    w("One save of an existing document in `shop/items.qix`, monitored for updates by 1 or 4 "
      "trigger profiles with distinct connector ids: the before stage parks the note with its "
      "connector ids, the after stage writes one Event document per connector into "
      "\"kovaevents.qix\".")
    w("")
    w("| Connectors | Stand-in alone (us) | Stand-in + add-in (us) | Add-in (us) | Add-in's own "
      "instructions | All instructions the handler causes | Own share | Heap allocations per "
      "pair (per notification) |")
    w("|---:|---:|---:|---:|---:|---:|---:|---:|")
    for r in monitored_rows:
        w(f"| {r['connectors']} | {fmt(r['standin'])} | {fmt(r['total'])} | {fmt(r['addin'])} | "
          f"{r['own']:,.0f} | {r['all']:,.0f} | {r['share']:.1f}% | {2 * r['allocs']:g} "
          f"({r['allocs']:g}) |")
    w("")
    w("The allocations are the parked entry and, per connector id, its list node and text "
      "(made by the filter and moved, not copied, into the entry).")
    w("")
    w("Command: `kova_bench --benchmark_filter=MonitoredUpdate`.")
    w("")

    w("## 3. Bulk delete of N monitored notes")
    w("")
    w("One host bulk delete of N documents of `bulk/notes.qix`, all monitored for deletes by one "
      "profile: the before stage parks N entries, the after stage takes them out in ID-table "
      "order (oldest first) and writes N Event documents. The notes are created and the Event "
      "documents removed outside the timing.")
    w("")
    w("| N | Stand-in alone (ms) | Stand-in + add-in (ms) | Per note: stand-in (us) | "
      "Per note: stand-in + add-in (us) | Per note: add-in (us) | Add-in per note / at 1,000 |")
    w("|---:|---:|---:|---:|---:|---:|---:|")
    for r in bulk_rows:
        w(f"| {r['notes']:,} | {fmt(r['standin'] / 1e3)} | {fmt(r['total'] / 1e3)} | "
          f"{r['standin_note']:.3f} | {r['total_note']:.2f} | {r['addin_note']:.2f} | "
          f"{r['addin_note'] / bulk_rows[0]['addin_note']:.2f}x |")
    w("")
    w("Counted under callgrind (one bulk delete each, see \"How the counts are taken\"):")
    w("")
    w("| N | Add-in's own instructions per note | All instructions the handler causes per "
      "note | Add-in's heap allocations per note |")
    w("|---:|---:|---:|---:|")
    for n in bulk_counted:
        w(f"| {n:,} | {bulk_own[n]:,.0f} | {bulk_all[n]:,.0f} | {bulk_allocs[n]:.2f} |")
    w("")
    w(f"![Bulk delete cost per note]({plots_rel}/bulk-delete.svg)")
    w("")
    w("The stand-in's own cost per note rises with N (its ID table is a sorted set built for "
      "the call, and 100,000 notes and their index entries no longer fit the caches); its "
      "look-ups by id are hash look-ups, and the add-in's share, which opens every note by id "
      "in the before stage, stays flat.")
    w("")
    w("The pending-note tables keep, beside each newest-first chain, an index by key (a hash of "
      "the key to its entries, newest first, and a link from each entry to the one before it in "
      "the chain), so the after stage's removals cost the same at any N, while a remove still "
      "answers what a walk from the head would: the newest entry with the key, duplicates "
      "allowed, the same log lines. A plain walk from the head meets the oldest entry last, "
      "which made the after stage quadratic.")
    w("")
    w("Command: `kova_bench --benchmark_filter=BulkDelete`.")
    w("")

    w("## 4. Full profile refresh by number of Event documents")
    w("")
    w("A save of the one trigger profile document: the after stage re-reads the profiles in "
      "full, which opens every document of \"kovaevents.qix\" (Event documents included) and "
      "reads its \"Form\" item. \"Server API floor\" is that work alone, without the add-in: a "
      "search over the same database whose callback opens each document, reads \"Form\" and "
      "closes it.")
    w("")
    w("| Event documents | Stand-in alone: the save (us) | Stand-in + add-in (us) | Add-in (us) "
      "| Server API floor (us) | Add-in / floor |")
    w("|---:|---:|---:|---:|---:|---:|")
    for r in refresh_rows:
        ratio = r["addin"] / r["floor"] if r["floor"] > 0 else 0
        w(f"| {r['events']:,} | {fmt(r['standin'])} | {fmt(r['total'])} | {fmt(r['addin'])} | "
          f"{fmt(r['floor'])} | {ratio:.2f} |")
    w("")
    w("With no Event documents the add-in's figure is mostly the save's own two notifications "
      "(the before stage's change test and parking, the after stage's look-up), not the "
      "re-read; with many, the re-read's server API work dominates and the add-in adds its "
      "readers, its reset and its dump to it.")
    w("")
    w("Command: `kova_bench --benchmark_filter=ProfileRefresh`.")
    w("")

    w("## 5. Saves on one and two threads")
    w("")
    w("Each thread saves a document of its own database (unmonitored: `plain/t<i>.qix`; "
      "monitored: `watched/t<i>.qix`, where one profile wants updates, so each save writes one "
      "Event document into the shared \"kovaevents.qix\"). Throughput is all threads' saves "
      "per second of wall-clock time. A thread is started and joined before any timing, so that "
      "the C++ runtime's single-threaded fast path (no atomic operations) does not flatter the "
      "one-thread figures.")
    w("")
    w("| Saves | Handlers | 1 thread (saves/s) | 2 threads (saves/s) | Scaling | CPU time per "
      "save, 1 thread (us) | CPU time per save, 2 threads (us) |")
    w("|---|---|---:|---:|---:|---:|---:|")
    for r in thread_rows:
        w(f"| {'monitored' if r['monitored'] else 'unmonitored'} | "
          f"{'add-in' if r['addin'] else 'stand-in alone'} | {r['one']:,.0f} | {r['two']:,.0f} | "
          f"{r['scaling']:.2f}x | {fmt(r['cpu_one'])} | {fmt(r['cpu_two'])} |")
    w("")
    w("Monitored saves on two threads both write Event documents into the one event database, "
      "whose stores the stand-in serialises (a database's write lock), as a server serialises "
      "updates of one database; no goal is set for them.")
    w("")
    w("Command: `kova_bench --benchmark_filter=Saves`.")
    w("")

    w("## How the counts are taken")
    w("")
    w("`kova_count` runs each pair case 20 times to warm up, then 200 times between two "
      "callgrind client requests (`CALLGRIND_ZERO_STATS`, then `CALLGRIND_DUMP_STATS_AT` with "
      "the case's name); the figures are the dump's instruction total divided by 200 pairs. A "
      "bulk-delete case counts one bulk delete (after a warm-up one of 16 notes), divided by "
      "its notes. It runs twice under callgrind with collection off at start:")
    w("")
    w("- **The add-in's own instructions**: `--toggle-collect=ExtMgrCallback` turns collection on "
      "while the handler runs, and `--toggle-collect=<name>` for every server API entry point "
      "the stand-in exports (" + facts.get("api_count", "?") + " names, taken from "
      "`hostsim/internal.h`) turns it off again for the duration of each call into the "
      "stand-in (toggles nest). `--toggle-collect='kova::UpdateProfileV75*'` turns it back on "
      "inside the search callback. So the count is every instruction executed on the handler's "
      "behalf outside the stand-in: the add-in's code, the C library and C++ runtime code it "
      "calls (string functions, locks, malloc), and the calls' PLT stubs; and nothing the "
      "stand-in executes, including the stand-in's own call-counting and handle look-ups.")
    w("- **All instructions the handler causes**: `--toggle-collect=ExtMgrCallback` alone: the "
      "handler's inclusive count, server API work included.")
    w("")
    w("`kova_allocs` is the same program linked with a counting allocator that replaces "
      "`malloc`, `calloc`, `realloc` and the `operator new` family for the whole process; an "
      "allocation counts for the add-in when its caller's return address lies in the executable "
      "segment of `libkovaevents.so` (an allocation that a C or C++ library function makes "
      "inside itself would count as the library's; on these paths the add-in calls no such "
      "function). Heap allocations per pair are those divided by 200, per notification by "
      "400.")
    w("")
    w("Commands (from the repository root, after `cmake --build --preset bench`):")
    w("")
    w("```sh")
    w(facts.get("own_command", ""))
    w(facts.get("all_command", ""))
    w("build/bench/bench/kova_allocs")
    w(facts.get("bench_command", ""))
    w("```")
    w("")

    w("## Goals not met, and what changed")
    w("")
    unmet = []
    if base > GOAL_PAIR_BASE or worst_step > GOAL_PAIR_STEP:
        unmet.append(
            "The unmonitored pair is over its instruction budget in this run. Its per-profile "
            "cost is one view read of the refresh's change test and one profile of the filter's "
            "walk, both of which the refresh and the filter must make.")
    if pair_allocs != 0:
        unmet.append("The unmonitored pair allocated on the heap in this run.")
    if worst_share > GOAL_MONITORED_SHARE:
        unmet.append(
            "The monitored update's own share is over 10% in this run. Note that the share "
            "falls as the stand-in gets slower and rises as it gets faster.")
    if not bulk_time_ok:
        unmet.append(
            f"The bulk delete's time per note at 100,000 notes is {bulk_ratio:.2f}x that at "
            f"1,000 in this run, while its instructions per note are the same at both sizes "
            f"({bulk_own_ratio:.3f}x the add-in's own, {bulk_all_ratio:.3f}x all the handler "
            "causes): the work per note is constant, and what grows is the time each "
            "instruction waits for memory. One bulk delete of 100,000 notes holds 100,000 parked "
            "entries and writes 100,000 Event documents (well over 100 MB), which no longer fit "
            "the caches this virtual machine shares with its host's other tenants. The time "
            "ratio moves with them: runs of the same build on this machine the same day gave "
            "between 1.1x and 1.6x.")
    elif not bulk_count_ok:
        unmet.append("The bulk delete's instructions per note grow with N in this run.")
    if addin_scaling < GOAL_SCALING or scaling_share < GOAL_SCALING_SHARE:
        unmonitored_addin = next(r for r in thread_rows if r["addin"] and not r["monitored"])
        rise = 100.0 * (unmonitored_addin["cpu_two"] / unmonitored_addin["cpu_one"] - 1.0)
        unmet.append(
            f"Two-thread scaling of unmonitored saves with the add-in is {addin_scaling:.2f}x in "
            f"this run, {scaling_share:.0f}% of the stand-in's own {standin_scaling:.2f}x. The "
            f"CPU time of one save rises by {rise:.0f}% when two threads save at once (table "
            "5), where the stand-in alone's does not: some cache lines are still written from "
            "both threads. Profiling (perf) puts the largest single part on the reference count "
            "of the stored items of the latest profile document, which the refresh's change "
            "test opens on every notification on every thread (the stand-in's open notes share "
            "the stored items); the rest is spread thin over handle look-ups and lock calls. "
            "The figure also moves from run to run on this shared machine: runs of the same "
            "build the same day gave 84% to 100%.")
    if unmet:
        w("Goals not met in this run:")
        w("")
        for n in unmet:
            w(f"- {n}")
        w("")
    else:
        w("Every goal is met in this run.")
        w("")
    w("No goal needed a change to anything a Part makes observable: messages, the order of "
      "server API calls and the results are as before, which the test suite checks. What "
      "changed in the add-in: the pending-note tables are indexed by key; the monitoring filter "
      "compares each monitored entry where it is stored instead of copying it, and formats no "
      "comparison line when DEBUG lines are filtered; the event writer forms its hexadecimal "
      "texts without `snprintf`; a parked entry takes over the filter's connector-id nodes "
      "(reversed, as the copy of the list was) instead of copying them; paths are normalised "
      "with `memchr`/`memcpy`; the log accessors look at their thread's write-lock flag only "
      "while some thread holds the write lock; the profile lock is striped per thread; and an "
      "after stage with nothing parked takes no lock. In the stand-in: a notification no longer "
      "copies the registrations under a process-wide mutex (each thread keeps a copy, renewed "
      "when they change); opening a collection on an unchanged view takes no lock shared "
      "between threads and shares no reference count; `IDScan` steps from an iterator instead "
      "of searching the ID table again; and a thread's stripe of the striped counters and locks "
      "is one no other live thread holds, 128 bytes from its neighbours (processors fetch cache "
      "lines in pairs); and a waiter for a database lock retries briefly before it sleeps. "
      "Before the stripe changes, and before each benchmark thread made its own document, two "
      "saving threads could write the same cache lines, and the stand-in alone scaled by "
      "anything from 1.3x to 1.9x from one run to the next; before the retry, two threads "
      "writing Event documents into the one event database slept on its lock so often that "
      "monitored saves ran at half the one-thread rate.")
    w("")
    w(BEFORE_INDEX_NOTE)
    w("")

    with open(page, "w") as f:
        f.write("\n".join(lines).rstrip("\n") + "\n")


if __name__ == "__main__":
    main()
