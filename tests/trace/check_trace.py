#!/usr/bin/env python3
"""Checks a timeline the library wrote against the trace-event format.

    check_trace.py FILE [--levels N] [--event ID PATH] [--max-open K]

Always: the file is one JSON object with "traceEvents"; every record has
ph, ts, pid, tid and name of the right types; complete slices (X) have a
duration and nest per track (pid, tid); every track that holds a slice or
a mark is named by thread_name metadata.
--levels N: tracks named "level 0 (...)" to "level N-1 (...)" exist.
--event ID PATH: the slices with args.id == ID, by start, are PATH, a comma
list of QUEUE:LEVEL (send:3,recv:2,...), each starting no earlier than the
one before, and a send-queue slice ends before the next slice begins (within
the microsecond that arrival stamps are kept in).
--max-open K: at most K events were sent (a "sent" mark) without a
send-queue slice of theirs (still queued when the timeline ended).
--flows N: a merged timeline: at least N flow arrows, each from a slice of
one process to a slice of another that begins no earlier than the first
did, within the clock offset's error (otherData.offset_error_us).
Prints "ok" and exits 0, or prints the first fault and exits 1.
"""
import json
import sys
from collections import defaultdict

PHASES = {"X", "i", "C", "M", "B", "E", "s", "f"}


def fail(text):
    print("check_trace: " + text)
    sys.exit(1)


def main(argv):
    path, options = argv[1], argv[2:]
    with open(path, encoding="utf-8") as f:
        doc = json.load(f)
    if not isinstance(doc, dict) or not isinstance(doc.get("traceEvents"), list):
        fail("no traceEvents list")
    records = doc["traceEvents"]
    names = {}
    slices = defaultdict(list)
    used = set()
    for n, r in enumerate(records):
        for key, kind in (("ph", str), ("name", str), ("pid", int), ("tid", int)):
            if not isinstance(r.get(key), kind):
                fail(f"record {n} has no {key} of type {kind.__name__}: {r}")
        if not isinstance(r.get("ts"), (int, float)) or r["ts"] < 0:
            fail(f"record {n} has no usable ts: {r}")
        if r["ph"] not in PHASES:
            fail(f"record {n} has phase {r['ph']}")
        track = (r["pid"], r["tid"])
        if r["ph"] == "M":
            if r["name"] == "thread_name":
                names[track] = r["args"]["name"]
            continue
        if r["ph"] == "X":
            if not isinstance(r.get("dur"), (int, float)) or r["dur"] < 0:
                fail(f"slice {n} has no usable dur: {r}")
            slices[track].append(r)
        if r["ph"] in ("X", "i"):
            used.add(track)
    for track in used:
        if track not in names:
            fail(f"track {track} has no thread_name")
    eps = 0.0015  # the writer prints microseconds with three decimals
    for track, items in slices.items():
        items.sort(key=lambda r: (r["ts"], -r["dur"]))
        open_ends = []
        for r in items:
            while open_ends and open_ends[-1] <= r["ts"] + eps:
                open_ends.pop()
            end = r["ts"] + r["dur"]
            if open_ends and end > open_ends[-1] + eps:
                fail(f"slices overlap without nesting on {names.get(track)}: {r}")
            open_ends.append(end)
    i = 0
    while i < len(options):
        option = options[i]
        if option == "--levels":
            want = int(options[i + 1])
            for level in range(want):
                if not any(name.startswith(f"level {level} (") and "queue" not in name for name in names.values()):
                    fail(f"no track for level {level}: {sorted(set(names.values()))}")
            i += 2
        elif option == "--event":
            event_id, steps = int(options[i + 1]), options[i + 2].split(",")
            mine = [r for items in slices.values() for r in items if r.get("args", {}).get("id") == event_id]
            # Equal starts: the higher level first, as the event goes down.
            mine.sort(key=lambda r: (r["ts"], -r["args"]["level"]))
            got = [("send" if r["cat"] == "send queue" else "recv") + ":" + str(r["args"]["level"]) for r in mine]
            if got != steps:
                fail(f"event {event_id} has slices {got}, not {steps}")
            for before, after in zip(mine, mine[1:]):
                # A stay starts at its arrival stamp, which is in whole microseconds.
                if before["cat"] == "send queue" and before["ts"] + before["dur"] > after["ts"] + 1.0 + eps:
                    fail(f"event {event_id} left the send queue after its next stay began: {before} {after}")
            i += 3
        elif option == "--flows":
            error = doc.get("otherData", {}).get("offset_error_us")
            if not isinstance(error, (int, float)):
                fail("no offset_error_us: not a merged timeline")
            ends = defaultdict(dict)
            for r in records:
                if r["ph"] in ("s", "f"):
                    ends[r["id"]][r["ph"]] = r
            if len(ends) < int(options[i + 1]):
                fail(f"{len(ends)} flows, fewer than {options[i + 1]}")
            for flow_id, pair in ends.items():
                if set(pair) != {"s", "f"}:
                    fail(f"flow {flow_id} lacks an end: {pair}")
                start, finish = pair["s"], pair["f"]
                if start["pid"] == finish["pid"]:
                    fail(f"flow {flow_id} stays in one process: {pair}")
                if start["ts"] > finish["ts"] + error + eps:
                    fail(f"flow {flow_id} runs backwards beyond the offset's error {error}: {pair}")
                for end in (start, finish):
                    if not any(x["ts"] - eps <= end["ts"] <= x["ts"] + x["dur"] + eps
                               for x in slices[(end["pid"], end["tid"])]):
                        fail(f"flow {flow_id} ends outside a slice: {end}")
            i += 2
        elif option == "--max-open":
            sent = [r for r in records if r["ph"] == "i" and r["name"].startswith("sent ")]
            taken = {(r["args"]["id"], r["args"]["level"]) for items in slices.values() for r in items
                     if r["cat"] == "send queue"}
            level_of = {track: name.split(" ")[1] for track, name in names.items()}
            open_ = [r for r in sent if (r["args"]["id"], int(level_of[(r["pid"], r["tid"])])) not in taken]
            if len(open_) > int(options[i + 1]):
                fail(f"{len(open_)} sent events have no send-queue slice: {open_[:3]}")
            i += 2
        else:
            fail(f"unknown option {option}")
    print("ok")


if __name__ == "__main__":
    main(sys.argv)
