#!/usr/bin/env python3
"""Runs JSON-lines scenarios through the host harness, line by line.

    run_scenarios.py --host "build/linux/bin/vtsd-host" [--sim build/linux/bin/merxa-sim]
                     [--platform linux|windows] [--technology com|native] [--wine-paths]
                     [--no-windows REASON] [--keep] [SCENARIO ...]

A scenario is a .jsonl file (by default every one beside this script). Each
scenario runs in a fresh temporary directory that becomes the component's
temporary directory (the host gets --temp-dir DIR).

Lines of a scenario:
  # ...                          a comment (not sent)
  {"scenario": {...}}            optional first line, the header:
      "description": text
      "platforms": ["linux", "windows"]   where it runs (default: both)
      "sim": [args]              start the terminal simulator with these
                                 arguments before the host (plus --port,
                                 --address, --root, --log unless given)
      "timeout": seconds         per line (default 30)
      "host_args": [args]        more arguments for the host
      "technology": "com"        the scenario tests the COM server itself (its
                                 connection object); skipped for another
                                 --technology
      "windows": true            the scenario answers the component's own
                                 windows (the information box, questions,
                                 the selection window); skipped with
                                 --no-windows
  {"op": ..., "expect": {...}}   a line for the host; "expect" is removed
                                 before sending and the answer must contain
                                 it (see Matching). Without "expect" the
                                 answer must carry no "error".
  {"raw": "text", "expect": ...} sends the text as it is (malformed lines)
  {"runner": {...}}              a step of the runner itself:
      {"sleep_ms": N}, {"file_exists": PATH}, {"file_absent": PATH},
      {"sqlite": PATH, "query": SQL, "rows": [[...], ...]}: the query's rows
      in the SQLite file, every value as text (null for NULL), must equal rows
      {"contents": DIR, "into": FILE}: writes what every file under DIR
      holds to FILE as JSON (see directory_contents)
      {"start_sim": [args], "root": DIR}: another terminal: the simulator
      running now is given ten seconds to end (it ends after "Disconnect"),
      then one starts with these arguments and DIR as its root (the header's
      --port and --address, a log of its own)

Placeholders in every string (inputs, expectations, simulator arguments):
$PORT (a free TCP port on 127.0.0.1), $TEMP (the scenario's temporary
directory, with its separator, as the host sees it; in runner steps as this
machine sees it), $SIMROOT (the
simulator's root directory), $TERMINAL_A and $TERMINAL_B (two more roots,
for scenarios with several terminals), $ADDRESS (127.0.0.1).

Matching: an expected object matches when each of its keys matches (a key
whose expected value is {"$absent": true} must be missing); an expected list
matches a list of the same length element by element; {"$re": pattern}
matches a string it is found in, {"$contains": text} a string holding it;
anything else must be equal (true is not 1).

The last line printed is "scenarios: N passed, M failed, K skipped"; the exit
status is non-zero when a scenario failed or none ran.
"""

import argparse
import json
import os
import queue
import re
import shlex
import shutil
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ADDRESS = "127.0.0.1"


class ScenarioFailure(Exception):
    pass


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind((ADDRESS, 0))
        return s.getsockname()[1]


def substitute(value, names):
    if isinstance(value, str):
        for key, text in names.items():
            value = value.replace(key, text)
        return value
    if isinstance(value, list):
        return [substitute(v, names) for v in value]
    if isinstance(value, dict):
        return {k: substitute(v, names) for k, v in value.items()}
    return value


def mismatch(expected, actual, path="$"):
    """The first difference as text, or None when `actual` matches."""
    if isinstance(expected, dict):
        if set(expected) == {"$re"}:
            if isinstance(actual, str) and re.search(expected["$re"], actual):
                return None
            return "%s: %r does not match /%s/" % (path, actual, expected["$re"])
        if set(expected) == {"$contains"}:
            if isinstance(actual, str) and expected["$contains"] in actual:
                return None
            return "%s: %r does not contain %r" % (path, actual, expected["$contains"])
        if not isinstance(actual, dict):
            return "%s: expected an object, got %s" % (path, json.dumps(actual, ensure_ascii=False))
        for key, want in expected.items():
            where = "%s.%s" % (path, key)
            if want == {"$absent": True}:
                if key in actual:
                    return "%s: expected no such key, got %s" % (
                        where, json.dumps(actual[key], ensure_ascii=False))
                continue
            if key not in actual:
                return "%s: missing" % where
            diff = mismatch(want, actual[key], where)
            if diff:
                return diff
        return None
    if isinstance(expected, list):
        if not isinstance(actual, list):
            return "%s: expected a list, got %s" % (path, json.dumps(actual, ensure_ascii=False))
        if len(expected) != len(actual):
            return "%s: expected %d elements, got %d" % (path, len(expected), len(actual))
        for i, (want, got) in enumerate(zip(expected, actual)):
            diff = mismatch(want, got, "%s[%d]" % (path, i))
            if diff:
                return diff
        return None
    if isinstance(expected, bool) or isinstance(actual, bool):
        same = isinstance(expected, bool) and isinstance(actual, bool) and expected == actual
    else:
        same = expected == actual and type(expected) is type(actual) or (
            isinstance(expected, (int, float)) and isinstance(actual, (int, float))
            and expected == actual)
    if same:
        return None
    return "%s: expected %s, got %s" % (path, json.dumps(expected, ensure_ascii=False),
                                        json.dumps(actual, ensure_ascii=False))


class Scenario:
    def __init__(self, path):
        self.path = path
        self.name = os.path.splitext(os.path.basename(path))[0]
        self.header = {}
        self.steps = []  # (line number, step object)
        with open(path, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                text = line.strip()
                if not text or text.startswith("#"):
                    continue
                try:
                    step = json.loads(text)
                except ValueError as e:
                    raise ScenarioFailure("%s:%d: not JSON: %s" % (path, number, e))
                if not isinstance(step, dict):
                    raise ScenarioFailure("%s:%d: a step must be an object" % (path, number))
                if "scenario" in step:
                    if self.steps or self.header:
                        raise ScenarioFailure("%s:%d: the header must come first" % (path, number))
                    self.header = step["scenario"]
                    continue
                self.steps.append((number, step))

    def platforms(self):
        return self.header.get("platforms", ["linux", "windows"])


class Host:
    """The host process, driven one line at a time."""

    def __init__(self, command, log_path):
        self.stderr = open(log_path, "w+b")
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=self.stderr)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.put(raw.decode("utf-8", errors="replace").rstrip("\r\n"))
        self.lines.put(None)

    def send(self, text):
        self.proc.stdin.write(text.encode("utf-8") + b"\n")
        self.proc.stdin.flush()

    def receive(self, timeout):
        try:
            return self.lines.get(timeout=timeout)
        except queue.Empty:
            raise ScenarioFailure("no answer within %g s" % timeout)

    def finish(self, timeout):
        """Closes the input; returns (exit code, lines printed after the last answer)."""
        try:
            self.proc.stdin.close()
        except OSError:
            pass
        try:
            code = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            code = "killed after %g s" % timeout
        extra = []
        while True:
            try:
                line = self.lines.get(timeout=2)
            except queue.Empty:
                break
            if line is None:
                break
            extra.append(line)
        return code, extra

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def stderr_text(self):
        self.stderr.flush()
        self.stderr.seek(0)
        return self.stderr.read().decode("utf-8", errors="replace")


def host_path(path, wine):
    if not wine:
        return path
    return "Z:" + path.replace("/", "\\")


def tail(text, lines=30):
    return "\n".join(text.splitlines()[-lines:])


def run_scenario(scenario, args, work):
    timeout = float(scenario.header.get("timeout", args.timeout))
    temp_dir = os.path.join(work, "temp") + os.sep
    sim_root = os.path.join(work, "sim-root")
    os.makedirs(temp_dir)
    os.makedirs(sim_root)
    names = {
        "$PORT": str(free_port()),
        "$TEMP": host_path(temp_dir, args.wine_paths).rstrip("\\/") +
                 ("\\" if args.wine_paths else "/"),
        "$SIMROOT": sim_root,
        "$TERMINAL_A": os.path.join(work, "terminal-a"),
        "$TERMINAL_B": os.path.join(work, "terminal-b"),
        "$ADDRESS": ADDRESS,
    }
    sim = None
    sim_log = os.path.join(work, "sim.log")
    host = None
    notes = []
    try:
        if "sim" in scenario.header:
            if not args.sim or not os.path.exists(shlex.split(args.sim)[0]):
                raise ScenarioFailure("needs the terminal simulator, and --sim %r does not exist"
                                      % (args.sim or ""))
            sim_args = substitute(list(scenario.header["sim"]), names)
            for option, value in (("--port", names["$PORT"]), ("--address", ADDRESS),
                                  ("--root", sim_root), ("--log", sim_log)):
                if option not in sim_args:
                    sim_args += [option, value]
            sim = subprocess.Popen(shlex.split(args.sim) + sim_args, stdin=subprocess.DEVNULL,
                                   stdout=open(os.path.join(work, "sim.out"), "wb"),
                                   stderr=subprocess.STDOUT)
        command = shlex.split(args.host) + ["--temp-dir", host_path(temp_dir, args.wine_paths)]
        command += substitute(list(scenario.header.get("host_args", [])), names)
        host = Host(command, os.path.join(work, "host.stderr"))

        # The runner's own steps see the directory as this machine names it.
        local_names = dict(names, **{"$TEMP": temp_dir})
        started = 0
        for number, step in scenario.steps:
            where = "%s:%d" % (scenario.path, number)
            if "runner" in step and "start_sim" in step["runner"]:
                spec = substitute(step["runner"], local_names)
                if sim is not None:
                    try:
                        sim.wait(timeout=10)
                    except subprocess.TimeoutExpired:
                        sim.terminate()
                        sim.wait()
                started += 1
                os.makedirs(spec["root"], exist_ok=True)
                sim = subprocess.Popen(
                    shlex.split(args.sim) + list(spec["start_sim"]) +
                    ["--port", names["$PORT"], "--address", ADDRESS, "--root", spec["root"],
                     "--log", os.path.join(work, "sim-%d.log" % started)],
                    stdin=subprocess.DEVNULL, stdout=open(os.path.join(work, "sim-%d.out" % started), "wb"),
                    stderr=subprocess.STDOUT)
                continue
            if "runner" in step:
                run_runner_step(substitute(step["runner"], local_names), where)
                continue
            step = substitute(step, names)
            expected = step.pop("expect", None)
            if "raw" in step:
                sent = step["raw"]
            else:
                sent = json.dumps(step, ensure_ascii=False)
            host.send(sent)
            try:
                answer = host.receive(timeout)
            except ScenarioFailure as e:
                raise ScenarioFailure("%s\n  sent:     %s\n  %s" % (where, sent, e))
            if answer is None:
                raise ScenarioFailure("%s\n  sent:     %s\n  the host ended without answering"
                                      % (where, sent))
            try:
                actual = json.loads(answer)
            except ValueError:
                raise ScenarioFailure("%s\n  sent:     %s\n  answer is not JSON: %s"
                                      % (where, sent, answer))
            if expected is None:
                diff = "$.error: unexpected error" if "error" in actual else None
            else:
                diff = mismatch(expected, actual)
            if diff:
                raise ScenarioFailure(
                    "%s\n  sent:     %s\n  expected: %s\n  got:      %s\n  first difference: %s"
                    % (where, sent, json.dumps(expected, ensure_ascii=False), answer, diff))

        code, extra = host.finish(timeout)
        if extra:
            raise ScenarioFailure("the host printed more than one answer per line:\n  "
                                  + "\n  ".join(extra))
        if code != 0:
            raise ScenarioFailure("the host exited with %s" % code)
    except ScenarioFailure as e:
        notes.append(str(e))
    finally:
        if host:
            host.kill()
        if sim and sim.poll() is None:
            sim.terminate()
            try:
                sim.wait(timeout=5)
            except subprocess.TimeoutExpired:
                sim.kill()
                sim.wait()
    if notes:
        if host and host.stderr_text().strip():
            notes.append("host stderr:\n" + tail(host.stderr_text()))
        for log in (sim_log, os.path.join(work, "sim.out")):
            if sim and os.path.exists(log) and os.path.getsize(log):
                with open(log, encoding="utf-8", errors="replace") as f:
                    notes.append("%s:\n%s" % (os.path.basename(log), tail(f.read())))
    return notes


TASK_KEY = re.compile(r"0000[0-9]{4,}")


def database_text(path):
    """A database's tables and rows, each value with its storage class, rows
    sorted; a selection task's key and the Registry's Date and RealName,
    which follow the clock, left out. None when the file is no database."""
    try:
        db = sqlite3.connect("file:%s?mode=ro" % path, uri=True)
    except sqlite3.Error:
        return None
    try:
        lines = ["database"]
        tables = [r[0] for r in db.execute("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name")]
        for table in tables:
            cursor = db.execute('SELECT * FROM "%s"' % table.replace('"', '""'))
            columns = [d[0] for d in cursor.description]
            skip = {"Date", "RealName"} if table == "Registry" else set()
            rows = []
            for row in cursor:
                rows.append("|".join("%s=%s:%r" % (c, type(v).__name__, v)
                                     for c, v in zip(columns, row) if c not in skip))
            lines.append("table " + table)
            lines += ["  " + r for r in sorted(rows)]
        return TASK_KEY.sub("<task>", "\n".join(lines))
    except sqlite3.Error as e:
        return "unreadable database: %s" % e
    finally:
        db.close()


# The driver's identity file holds 128 random bits of the terminal's own:
# two runs agree on its form, never on its digits.
IDENTITY_FILE = "VemlarTSD.id"
IDENTITY = re.compile(rb"^[0-9a-f]{32}(\r?\n)?$")


def directory_contents(root):
    """Every file under root with what it holds: a database as its tables and
    rows, the identity file as whether it holds an identifier, any other file
    as its bytes (hex)."""
    contents = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, root).replace(os.sep, "/")
            with open(path, "rb") as f:
                data = f.read()
            text = database_text(path) if data.startswith(b"SQLite format 3") else None
            if rel == IDENTITY_FILE and IDENTITY.match(data):
                text = "<an identifier>"
            contents[rel] = text if text is not None else data.hex()
    return contents


def run_runner_step(step, where):
    if "sleep_ms" in step:
        time.sleep(step["sleep_ms"] / 1000.0)
    elif "file_exists" in step:
        if not os.path.isfile(step["file_exists"]):
            raise ScenarioFailure("%s: no file %s" % (where, step["file_exists"]))
    elif "file_absent" in step:
        if os.path.exists(step["file_absent"]):
            raise ScenarioFailure("%s: %s exists" % (where, step["file_absent"]))
    elif "sqlite" in step:
        if not os.path.isfile(step["sqlite"]):
            raise ScenarioFailure("%s: no file %s" % (where, step["sqlite"]))
        db = sqlite3.connect("file:%s?mode=ro" % step["sqlite"], uri=True)
        try:
            rows = [[None if v is None else str(v) for v in row] for row in db.execute(step["query"])]
        except sqlite3.Error as e:
            raise ScenarioFailure("%s: %s: %s" % (where, step["query"], e))
        finally:
            db.close()
        if rows != step["rows"]:
            raise ScenarioFailure("%s: %s\n  expected: %s\n  got:      %s" % (
                where, step["query"], json.dumps(step["rows"], ensure_ascii=False),
                json.dumps(rows, ensure_ascii=False)))
    elif "contents" in step:
        with open(step["into"], "w", encoding="utf-8") as f:
            json.dump(directory_contents(step["contents"]), f, ensure_ascii=False, indent=1, sort_keys=True)
    else:
        raise ScenarioFailure("%s: unknown runner step %s" % (where, json.dumps(step)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", required=True, help="command that starts the host harness")
    parser.add_argument("--sim", default="", help="the terminal simulator's executable")
    parser.add_argument("--platform", choices=["linux", "windows"],
                        help="platform the host stands for (default: windows when the host "
                             "command names an .exe, else linux)")
    parser.add_argument("--wine-paths", action="store_true",
                        help="hand paths to the host as Wine sees them (Z:\\...)")
    parser.add_argument("--timeout", type=float, default=30, help="seconds per line")
    parser.add_argument("--technology", choices=["com", "native"], default="com",
                        help="how the host loads the component (default com; on Linux the "
                             "portable backend counts as com)")
    parser.add_argument("--no-windows", default="",
                        help="the component's windows cannot be answered by this host; the text "
                             "says why, and the scenarios that answer them are skipped")
    parser.add_argument("--keep", action="store_true", help="keep the scenarios' directories")
    parser.add_argument("scenarios", nargs="*", help="scenario files (default: all beside this)")
    args = parser.parse_args()

    platform = args.platform or ("windows" if ".exe" in args.host.lower() else "linux")
    paths = args.scenarios or sorted(
        os.path.join(HERE, f) for f in os.listdir(HERE) if f.endswith(".jsonl"))

    passed = failed = skipped = 0
    for path in paths:
        try:
            scenario = Scenario(path)
        except (OSError, ScenarioFailure) as e:
            print("FAIL %s\n  %s" % (path, e), flush=True)
            failed += 1
            continue
        if platform not in scenario.platforms():
            print("skip %s (runs on %s only)" % (scenario.name, ", ".join(scenario.platforms())),
                  flush=True)
            skipped += 1
            continue
        technology = scenario.header.get("technology")
        if technology and technology != args.technology:
            print("skip %s (tests the %s technology only)" % (scenario.name, technology), flush=True)
            skipped += 1
            continue
        if args.no_windows and scenario.header.get("windows"):
            print("skip %s (answers the component's windows: %s)" % (scenario.name, args.no_windows),
                  flush=True)
            skipped += 1
            continue
        work = tempfile.mkdtemp(prefix="vtsd-scenario-%s-" % scenario.name)
        started = time.monotonic()
        notes = run_scenario(scenario, args, work)
        seconds = time.monotonic() - started
        if notes:
            failed += 1
            print("FAIL %s (%.1f s)" % (scenario.name, seconds), flush=True)
            for note in notes:
                print("  " + note.replace("\n", "\n  "), flush=True)
            if args.keep:
                print("  kept in %s" % work, flush=True)
        else:
            passed += 1
            print("ok   %s (%.1f s)" % (scenario.name, seconds), flush=True)
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)

    print("scenarios: %d passed, %d failed, %d skipped" % (passed, failed, skipped), flush=True)
    if failed or passed == 0:
        if passed == 0 and not failed:
            print("no scenario ran", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
