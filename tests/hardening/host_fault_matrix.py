#!/usr/bin/env python3
"""UploadTable ("last") and DownloadTable through the host harness against a
terminal simulator that fails at each request of the method's exchange.

    host_fault_matrix.py --host "CMD" --sim MERXA_SIM [--wine-paths]
                         [--platform linux|windows]
                         [--faults close,stall,garbage,zero,late]
                         [--sampled dense|sparse] [--sample KIND=STEP ...]
                         [--late-points K,...]

The clean run of each method counts its requests n (from the simulator's
request log); then for each fault kind and each k in 1..n (or the sample of
them) one scenario runs with the fault at the method's k-th request: the
connection closed, the terminal stalled, a reply that is no frame, the
request answered 0 without being done, or a reply that comes after the
driver's exchange limit. Each must end with return value 0 and a failure
GetLastError knows (a description that is not the one for an uncoded text);
a 0 the driver can take in its stride may also end in success. Then the same
component object does what a configuration does after a failure: Close
(which must succeed: a broken session ends at once), Open, and the same call
again, which must succeed; the terminal's files must then hold exactly what
the clean run left, compared by content (databases by their tables and
rows). The scenarios run through tests/scenarios/run_scenarios.py, so the
same script drives the Linux harness and the Windows DLL under Wine.

Prints one table (operation, fault kind, points tried, points held) and ends
with the line "host fault matrix: N passed, M failed".
"""

import argparse
import json
import os
import shlex
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
RUNNER = os.path.join(HERE, "..", "scenarios", "run_scenarios.py")

CATALOGUE = ('<?xml version="1.0" encoding="utf-8"?>\r\n<Table>\r\n'
             '<Record Articule="4601" Name="Tea" Unit="pcs" Price="10.50"/>\r\n'
             '<Record Articule="4602" Name="Coffee" Unit="pcs" Price="7"/>\r\n</Table>')
DOCUMENTS = json.dumps({"documents": [{"name": "Order A", "key": "A1", "lines": [["100", "1"], ["101", "2"]]}]})

# The samples the test runs use. A stall or a late reply costs seconds per
# point; the in-process matrix of the Linux suites tries every point.
SAMPLINGS = {
    "dense": {"steps": {"close": 4, "garbage": 6, "zero": 3, "stall": 8}, "late_points": "1"},
    "sparse": {"steps": {"close": 6, "garbage": 8, "zero": 6, "stall": 16}, "late_points": "1"},
}

OPERATIONS = {
    "UploadTable": {
        "sim": [],
        "answers": [],
        "params": [{"var": "device"}, CATALOGUE, "last"],
        "retry_expect": {"ret": {"vt": "i4", "v": 1}},
    },
    "DownloadTable": {
        "sim": ["--documents", DOCUMENTS],
        "answers": [{"choose": ["Order A"], "press": "ok"}],
        "params": [{"var": "device"}, None],
        "retry_expect": {"ret": {"vt": "i4", "v": 1}, "params": [
            {"vt": "i4"}, {"vt": "bstr", "v": {"$contains": "<Record BarCode='101' Quantity='2'/>"}}]},
    },
}

TASK = ('<?xml version="1.0" encoding="utf-8"?>\r\n<Table PodborName="Picking 7">\r\n'
        '<Record Articule="4601" Quantity="3"/>\r\n<Record Articule="4602" Quantity="1.5"/>\r\n</Table>')
EVENING = ('<?xml version="1.0" encoding="utf-8"?>\r\n<Table PodborName="Evening">\r\n'
           '<Record Articule="4609" Quantity="2"/>\r\n</Table>')

# A failure GetLastError knows: a description that is neither empty (no
# failure recorded) nor the text for a failure without a code mark.
KNOWN_FAILURE = {"$re": "^(?!The error is not known\\.$)."}


def scenario(name, op, sim_args, fault, contents_file):
    """fault: None for the clean run, "zero" when success is also right, else
    a fault the call must fail on."""
    spec = OPERATIONS[op]
    lines = [
        {"scenario": {"description": name, "sim": sim_args, "timeout": 90}},
        {"op": "Init"},
        {"op": "SetLocale", "locale": "en_US"},
        {"op": "CallAsFunc", "method": "SetParameter", "params": ["propIpAdress", "$ADDRESS"]},
        {"op": "CallAsFunc", "method": "SetParameter", "params": ["propPortNumber", "$PORT"]},
        {"op": "CallAsFunc", "method": "SetParameter", "params": ["propTimeOut", 20]},
        {"op": "Answer", "with": [{"press": "ok", "after_ms": 200}]},
        {"op": "CallAsFunc", "method": "Open", "save": {"0": "device"},
         "expect": {"ret": {"vt": "i4", "v": 1}}},
    ]
    if spec["answers"]:
        lines.append({"op": "Answer", "with": spec["answers"]})
    if fault is None:
        lines.append({"op": "CallAsFunc", "method": op, "params": spec["params"],
                      "expect": {"ret": {"vt": "i4", "v": 1}}})
    elif fault == "zero":
        lines.append({"op": "CallAsFunc", "method": op, "params": spec["params"], "expect": {}})
    else:
        lines.append({"op": "CallAsFunc", "method": op, "params": spec["params"],
                      "expect": {"ret": {"vt": "i4", "v": 0}}})
        lines.append({"op": "CallAsFunc", "method": "GetLastError",
                      "expect": {"ret": {"vt": "i4"}, "params": [{"vt": "bstr", "v": KNOWN_FAILURE}]}})
    lines += [
        # The same component object goes on as a configuration does: Close
        # (a broken session ends at once), Open, the same call again.
        {"op": "CallAsFunc", "method": "Close", "params": [{"var": "device"}],
         "expect": {"ret": {"vt": "i4", "v": 1}}},
        {"op": "Answer", "replace": True, "with": [{"press": "ok", "after_ms": 200}]},
        {"op": "CallAsFunc", "method": "Open", "save": {"0": "device"},
         "expect": {"ret": {"vt": "i4", "v": 1}}},
    ]
    if spec["answers"]:
        lines.append({"op": "Answer", "with": spec["answers"]})
    lines += [
        {"op": "CallAsFunc", "method": op, "params": spec["params"], "expect": spec["retry_expect"]},
        {"op": "CallAsFunc", "method": "Close", "params": [{"var": "device"}],
         "expect": {"ret": {"vt": "i4", "v": 1}}},
        {"op": "Done", "expect": {"hr": 0}},
        {"runner": {"contents": "$SIMROOT", "into": contents_file}},
    ]
    return lines


def two_terminal_scenario(name, sim_args, fault, contents_a, contents_b):
    """Terminal A, which holds the task "Evening", fails as `fault` during a
    task upload; terminal B, which has no task file, takes the same task;
    then A takes it again. Both terminals' files are written out."""
    def call(params, expect):
        return {"op": "CallAsFunc", "method": "UnloadTaskForSelection", "params": params, "expect": expect}

    def visit(answers):
        return [
            {"op": "Answer", "replace": True, "with": answers},
            {"op": "CallAsFunc", "method": "Open", "save": {"0": "device"}, "expect": {"ret": {"vt": "i4", "v": 1}}},
        ]

    close = {"op": "CallAsFunc", "method": "Close", "params": [{"var": "device"}],
             "expect": {"ret": {"vt": "i4", "v": 1}}}
    ok = {"press": "ok", "after_ms": 200}
    lines = [
        {"scenario": {"description": name, "sim": sim_args + ["--root", "$TERMINAL_A"], "timeout": 90}},
        {"op": "Init"},
        {"op": "SetLocale", "locale": "en_US"},
        {"op": "CallAsFunc", "method": "SetParameter", "params": ["propIpAdress", "$ADDRESS"]},
        {"op": "CallAsFunc", "method": "SetParameter", "params": ["propPortNumber", "$PORT"]},
        {"op": "CallAsFunc", "method": "SetParameter", "params": ["propTimeOut", 20]},
    ] + visit([ok]) + [call([{"var": "device"}, EVENING], {"ret": {"vt": "i4", "v": 1}})]
    if fault is None:
        lines.append(call([{"var": "device"}, TASK], {"ret": {"vt": "i4", "v": 1}}))
    elif fault == "zero":
        lines.append(call([{"var": "device"}, TASK], {}))
    else:
        lines.append(call([{"var": "device"}, TASK], {"ret": {"vt": "i4", "v": 0}}))
        lines.append({"op": "CallAsFunc", "method": "GetLastError",
                      "expect": {"ret": {"vt": "i4"}, "params": [{"vt": "bstr", "v": KNOWN_FAILURE}]}})
    lines += [close, {"runner": {"start_sim": [], "root": "$TERMINAL_B"}}] + visit([ok]) + [
        call([{"var": "device"}, TASK], {"ret": {"vt": "i4", "v": 1}}), close,
        {"runner": {"start_sim": [], "root": "$TERMINAL_A"}}]
    # A task the first call did send after all is replaced by its repeat.
    lines += visit([ok, {"press": "yes"}]) + [
        call([{"var": "device"}, TASK], {"ret": {"vt": "i4", "v": 1}}), close,
        {"op": "Done", "expect": {"hr": 0}},
        {"runner": {"contents": "$TERMINAL_A", "into": contents_a}},
        {"runner": {"contents": "$TERMINAL_B", "into": contents_b}},
    ]
    return lines


def run_two_terminals(args, work, steps):
    """The two-terminal variant; returns its table rows."""
    log = os.path.join(work, "two-clean.jsonl")
    clean = os.path.join(work, "two-clean.scenario.jsonl")
    clean_a, clean_b = clean + ".a.json", clean + ".b.json"
    write_scenario(clean, two_terminal_scenario("task file on two terminals, clean", ["--log", log],
                                                None, clean_a, clean_b))
    code, output = run(args, [clean])
    if code != 0:
        print(output)
        print("the clean run of the task file on two terminals failed")
        return [("task A/B/A", "clean", 1, 0)]
    expected = []
    for path in (clean_a, clean_b):
        with open(path, encoding="utf-8") as f:
            expected.append(json.load(f))
    with open(log, encoding="utf-8") as f:
        commands = [json.loads(line).get("command", "?") for line in f if line.strip()]
    # The task upload's requests: from its version query to the Close's
    # "Disconnect"; the "Evening" upload comes before them.
    begin = [i for i, c in enumerate(commands) if c == "GetFuture"][1]
    end = commands.index("Disconnect")
    rows = []
    for fault in args.faults.split(","):
        if fault == "late":
            continue  # a late reply is a stall that ends; the stall covers it here
        step = steps.get(fault, 1)
        points = sorted(set(list(range(begin + 1, end + 1, step)) + [end]))
        files = []
        for k in points:
            path = os.path.join(work, "two-%s-%02d.jsonl" % (fault, k))
            idle = "5" if fault == "stall" else "60"
            write_scenario(path, two_terminal_scenario(
                "task file on two terminals, %s at request %d (%s)" % (fault, k, commands[k - 1]),
                fault_options(fault, k, args.late_ms) + ["--idle-timeout", idle], fault,
                path + ".a.json", path + ".b.json"))
            files.append(path)
        code, output = run(args, files)
        held_names = {line.split()[1] for line in output.splitlines() if line.startswith("ok   ")}
        held = 0
        for path in files:
            name = os.path.splitext(os.path.basename(path))[0]
            if name not in held_names:
                continue
            got = []
            for suffix in (".a.json", ".b.json"):
                with open(path + suffix, encoding="utf-8") as f:
                    got.append(json.load(f))
            if got != expected:
                for which, g, e in zip("AB", got, expected):
                    if g != e:
                        print("%s: terminal %s's files differ from the clean run's" % (name, which))
                continue
            held += 1
        if held != len(files):
            print(output)
        rows.append(("task file A/B/A", fault, len(files), held))
    return rows


def write_scenario(path, lines):
    with open(path, "w", encoding="utf-8") as f:
        for line in lines:
            f.write(json.dumps(line, ensure_ascii=False) + "\n")


def run(args, files):
    cmd = [sys.executable, RUNNER, "--host", args.host, "--sim", args.sim, "--platform", args.platform]
    if args.wine_paths:
        cmd.append("--wine-paths")
    proc = subprocess.run(cmd + files, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return proc.returncode, proc.stdout


def fault_options(fault, k, late_ms):
    if fault == "late":
        return ["--late-at", str(k), "--late-ms", str(late_ms)]
    return ["--%s-at" % fault, str(k)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--platform", default="linux")
    parser.add_argument("--wine-paths", action="store_true")
    parser.add_argument("--faults", default="close,stall,garbage,zero,late")
    parser.add_argument("--sample", action="append", default=[], metavar="KIND=STEP",
                        help="try KIND only at requests 1, 1+STEP, ... and the last one "
                             "(a stall or a late reply costs seconds per point)")
    parser.add_argument("--late-points", default="",
                        help="for late replies, only these requests of each method (1-based)")
    parser.add_argument("--sampled", choices=sorted(SAMPLINGS),
                        help="a named sample of every fault kind (dense: a 64-bit build's run, "
                             "sparse: a 32-bit one's); --sample and --late-points given as well win")
    parser.add_argument("--two-terminals", action="store_true",
                        help="also the task file on two terminals in turn: a failure on A, then B, then A")
    parser.add_argument("--late-ms", type=int, default=35000,
                        help="how late a late reply comes; longer than the driver's exchange limit")
    args = parser.parse_args()
    steps = {}
    if args.sampled:
        steps.update(SAMPLINGS[args.sampled]["steps"])
        args.late_points = args.late_points or SAMPLINGS[args.sampled]["late_points"]
    for item in args.sample:
        kind, _, step = item.partition("=")
        steps[kind] = max(1, int(step))

    work = tempfile.mkdtemp(prefix="vtsd-host-matrix-")
    rows = []
    passed = failed = 0
    for op in OPERATIONS:
        log = os.path.join(work, op + "-clean.jsonl")
        clean = os.path.join(work, op + "-clean.scenario.jsonl")
        clean_contents = os.path.join(work, op + "-clean.contents.json")
        write_scenario(clean, scenario(op + " clean", op,
                                       OPERATIONS[op]["sim"] + ["--log", log, "--reconnect", "4"],
                                       None, clean_contents))
        code, output = run(args, [clean])
        if code != 0:
            print(output)
            print("the clean run of %s failed" % op)
            failed += 1
            continue
        with open(clean_contents, encoding="utf-8") as f:
            expected = json.load(f)
        with open(log, encoding="utf-8") as f:
            commands = [json.loads(line).get("command", "?") for line in f if line.strip()]
        # The method's requests come before the Close's "Disconnect" and the
        # second connection's; Open itself sends none.
        n = commands.index("Disconnect")
        for fault in args.faults.split(","):
            files = []
            step = steps.get(fault, 1)
            points = sorted(set(list(range(1, n + 1, step)) + [n]))
            if fault == "late" and args.late_points:
                points = sorted({min(n, int(p)) for p in args.late_points.split(",")})
            for k in points:
                path = os.path.join(work, "%s-%s-%02d.jsonl" % (op, fault, k))
                # The component's own limit on a silent terminal is half a
                # minute and cannot be lowered from the host; the stalled
                # terminal here gives up its connection after five seconds,
                # so the component sees the silence end in a closed
                # connection. The same limit holds for the connection that
                # follows, which must see Close's request in time.
                idle = "5" if fault == "stall" else "60"
                sim = OPERATIONS[op]["sim"] + fault_options(fault, k, args.late_ms) + [
                    "--reconnect", "4", "--idle-timeout", idle]
                write_scenario(path, scenario("%s, %s at request %d (%s)" % (op, fault, k, commands[k - 1]),
                                              op, sim, fault, path + ".contents.json"))
                files.append(path)
            code, output = run(args, files)
            held_names = set()
            for line in output.splitlines():
                if line.startswith("ok   "):
                    held_names.add(line.split()[1])
            held = 0
            for path in files:
                name = os.path.splitext(os.path.basename(path))[0]
                if name not in held_names:
                    continue
                try:
                    with open(path + ".contents.json", encoding="utf-8") as f:
                        got = json.load(f)
                except OSError:
                    print("%s: no contents of the terminal" % name)
                    continue
                if got != expected:
                    print("%s: after the retry the terminal's files differ from the clean run's" % name)
                    for key in sorted(set(got) | set(expected)):
                        if got.get(key) != expected.get(key):
                            print("  %s:\n    got:      %s\n    expected: %s" % (
                                key, str(got.get(key))[:400], str(expected.get(key))[:400]))
                    continue
                held += 1
            tried = len(files)
            if held != tried:
                print(output)
            rows.append((op, fault, tried, held))
            passed += held
            failed += tried - held
    if args.two_terminals:
        for row in run_two_terminals(args, work, steps):
            rows.append(row)
            passed += row[3]
            failed += row[2] - row[3]
    print("\nhost fault matrix (%s)" % args.platform)
    print("%-24s %-8s %13s %13s" % ("operation", "fault", "points tried", "points held"))
    for op, fault, tried, held in rows:
        print("%-24s %-8s %13d %13d" % (op, fault, tried, held))
    print("host fault matrix: %d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 and rows else 1


if __name__ == "__main__":
    sys.exit(main())
