#!/usr/bin/env python3
# tests/trace/linked_trace.py - two processes' timelines joined by a link:
# `zera serve Echo` (--trace-out) and `zera run Counter Loopback Link`
# (ZERA_TRACE) each write one, `zera trace merge` makes one of them, and
# check_trace.py finds the events' arrows across the link running forwards
# within the clock estimate's error. Then what the merge refuses, with its
# exit code and message. Loopback only.
#
# Usage: linked_trace.py BIN_DIR
import json
import os
import re
import subprocess
import sys
import tempfile

BIN = os.path.abspath(sys.argv[1])
CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check_trace.py")


def fail(text):
    print("linked_trace: " + text)
    sys.exit(1)


def zera(*args, env=None, **kw):
    return subprocess.run([os.path.join(BIN, "zera"), *args], cwd=BIN, capture_output=True, text=True,
                          env=env, timeout=120, **kw)


def main():
    folder = tempfile.mkdtemp(prefix="linked_trace_")
    served, linked, merged = (os.path.join(folder, n) for n in ("serve.json", "run.json", "merged.json"))
    serve = subprocess.Popen([os.path.join(BIN, "zera"), "serve", "Echo", "--set", "1:Greeting=", "--bind",
                              "tcp://127.0.0.1:*", "--trace-out", served], cwd=BIN, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    try:
        match = re.search(r" at (\S+)$", serve.stdout.readline())
        if not match:
            fail("serve did not start: " + serve.stderr.read())
        run = zera("run", "Counter", "Loopback", "Link", "--set", "3:Endpoint=" + match.group(1), "--send", "3:20",
                   "--duration", "2", env=dict(os.environ, ZERA_TRACE=linked))
        if run.returncode != 0:
            fail("run failed: " + run.stderr)
    finally:
        serve.terminate()
        serve.communicate(timeout=30)

    with open(merged, "w") as out:
        done = subprocess.run([os.path.join(BIN, "zera"), "trace", "merge", linked, served], cwd=BIN, stdout=out,
                              stderr=subprocess.PIPE, text=True, timeout=120)
    if done.returncode != 0:
        fail("merge failed: " + done.stderr)
    # 40 events went each way; under valgrind or a loaded machine some
    # crossings may fall outside the timelines' ends.
    checked = subprocess.run([sys.executable, CHECK, merged, "--flows", "20"], capture_output=True, text=True)
    if checked.stdout.strip() != "ok":
        fail(checked.stdout)
    with open(merged) as f:
        pids = {r["pid"] for r in json.load(f)["traceEvents"]}
    if pids != {1, 2}:
        fail(f"the merged processes are {pids}, not 1 and 2")

    lone = os.path.join(folder, "lone.json")
    env = dict(os.environ, ZERA_TRACE=lone)
    if zera("run", "Counter", "Echo", "--send", "2:3", "--duration", "0.3", env=env).returncode != 0:
        fail("a run without a link failed")
    broken = os.path.join(folder, "broken.json")
    with open(linked) as f, open(broken, "w") as out:
        text = f.read()
        out.write(text[:text.index("\n", 100) + 1])  # whole records, then nothing
    refusals = [
        (["merge", linked], 2, "usage: zera trace merge A B"),
        (["join", linked, served], 2, "zera trace: no subcommand 'join'"),
        (["merge", linked, os.path.join(folder, "none.json")], 1, "none.json: No such file"),
        (["merge", linked, broken], 1, "broken.json: the document ends early at byte"),
        (["merge", linked, lone], 1, "record no link session in common"),
    ]
    for args, code, text in refusals:
        done = zera("trace", *args)
        if done.returncode != code or text not in done.stderr or done.stdout:
            fail(f"zera trace {' '.join(args)}: exit {done.returncode}, stderr {done.stderr!r}, "
                 f"stdout {done.stdout[:80]!r}")
    print("ok")


if __name__ == "__main__":
    main()
