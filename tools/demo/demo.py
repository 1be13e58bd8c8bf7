#!/usr/bin/env python3
"""A whole exchange with a terminal, as 1C drives the driver, printed as a transcript.

    demo.py --bin build/linux/bin

Seeds a simulated terminal (an old catalogue to replace, two order documents,
the application's settings file), starts merxa-sim on loopback, and drives the
component through the host harness (vtsd-host): settings, Open, DeviceTest,
UploadTable of a sample catalogue in three packages, UnloadTaskForSelection,
the simulator playing the operator, DownloadTable choosing documents,
ClearTable and Close. Every call, its result, the dialogs the driver showed
and how they were answered are printed; at the end a summary of what the
terminal holds. Nobody needs to be at the keyboard: the dialogs are answered
by the script. Exits 1 when any step fails.
"""

import argparse
import json
import os
import shutil
import socket
import sqlite3
import subprocess
import sys
import tempfile
import time

# ----------------------------------------------------------------- the sample data

# (key, name, unit, price, coefficient): two teas sold singly and by the box of
# 12, so that the box's barcode is linked to its single unit on the terminal.
ARTICLES = [
    ("4600001000017", "Tea, black, 100 g", "pcs", "120.50", "0"),
    ("4600001000024", "Tea, black, 100 g", "box", "1446.00", "12"),
    ("4600001000031", "Tea, green, 100 g", "pcs", "135.00", "0"),
    ("4600001000048", "Tea, green, 100 g", "box", "1620.00", "12"),
    ("4600002000016", "Coffee, ground, 250 g", "pcs", "389.90", "0"),
    ("4600002000023", "Coffee, beans, 1 kg", "pcs", "1290.00", "0"),
    ("4600003000015", "Sugar, 1 kg", "pcs", "89.00", "0"),
    ("4600003000022", "Sugar, cubes, 500 g", "pcs", "74.50", "0"),
    ("4600004000014", "Cups, O'Neil & Sons", "pcs", "45.00", "0"),
]

ORDERS = {"documents": [
    {"name": "Order 101 (Smith & Co)", "key": "0000080101",
     "lines": [["4600001000017", "6"], ["4600002000016", "2"]]},
    {"name": "Order 102", "key": "0000080102",
     "lines": [["4600001000024", "1"], ["4600003000015", "10"], ["4600004000014", "4"]]},
]}

TASK = """<?xml version="1.0" encoding="UTF-8"?>
<Table PodborName="Picking for shop 7">
  <Record Articule="4600001000031" Quantity="3"/>
  <Record Articule="4600002000023" Quantity="1"/>
  <Record Articule="4600003000022" Quantity="5"/>
</Table>
"""


def xml_attr(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace('"', "&quot;")


def catalogue_packages(count):
    """The article table in `count` packages, records in the order key, name,
    unit, characteristic, series, quality, price, quantity, coefficient."""
    packages = []
    size = -(-len(ARTICLES) // count)
    for start in range(0, len(ARTICLES), size):
        records = []
        for key, name, unit, price, coefficient in ARTICLES[start:start + size]:
            records.append(
                '  <Record Articule="%s" Name="%s" Unit="%s" Characteristic="" Series="" Quality=""'
                ' Price="%s" Quantity="" Coefficient="%s"/>' % (key, xml_attr(name), unit, price, coefficient))
        packages.append('<?xml version="1.0" encoding="UTF-8"?>\n<Table>\n%s\n</Table>\n' % "\n".join(records))
    return packages


def seed_terminal(root):
    """An old catalogue that the upload is to replace; the application's
    settings file and the order documents come from the simulator's options."""
    os.makedirs(os.path.join(root, "Merxa5"), exist_ok=True)
    with sqlite3.connect(os.path.join(root, "Merxa5", "Merxa.db")) as db:
        db.execute("CREATE TABLE Articule (N INTEGER PRIMARY KEY AUTOINCREMENT,Articule TEXT,"
                   + ",".join("Field_%d TEXT" % i for i in range(2, 16)) + ")")
        db.execute("CREATE TABLE Barcodes(N INTEGER PRIMARY KEY AUTOINCREMENT, Barcode TEXT,"
                   " Articule TEXT, Value TEXT)")
        db.executemany("INSERT INTO Articule (Articule, Field_2) VALUES (?, ?)",
                       [("OLD-%03d" % i, "Discontinued item %d" % i) for i in range(1, 5)])


# ----------------------------------------------------------------- the steps

def call(method, *params, save=None):
    line = {"op": "CallAsFunc", "method": method, "params": list(params)}
    if save:
        line["save"] = save
    return line


def answer(*actions):
    return {"op": "Answer", "with": list(actions)}


DEVICE = {"var": "device"}


def steps(port, packages):
    statuses = ["first"] + ["regular"] * (len(packages) - 2) + ["last"]
    upload = [("Upload the catalogue, package %d of %d (%s)" % (i + 1, len(packages), status),
               call("UploadTable", DEVICE, text, status))
              for i, (text, status) in enumerate(zip(packages, statuses))]
    return [
        ("The host starts the component", {"op": "Init"}),
        ("Messages in English", {"op": "SetLocale", "locale": "en_US"}),
        ("Driver description", call("GetDescription")),
        ("Settings: the address to listen on", call("SetParameter", "propIpAdress", "127.0.0.1")),
        ("Settings: the port", call("SetParameter", "propPortNumber", port)),
        ("Settings: the waiting time", call("SetParameter", "propTimeOut", 30)),
        ("Settings: let the user choose the download source",
         call("SetParameter", "propChooseDownloadSource", True)),
        ("The user will press OK in the driver's box once the terminal is started",
         answer({"press": "ok"})),
        ("Open the connection to the terminal", call("Open", None, save={"0": "device"})),
        ("Device test on the open connection", call("DeviceTest")),
    ] + upload + [
        ("Send a selection task (the simulator plays the operator and picks it at once)",
         call("UnloadTaskForSelection", DEVICE, TASK)),
        ("The user will choose the source Orders, then both order documents",
         answer({"choose": ["Orders"], "press": "ok"},
                {"choose": [d["name"] for d in ORDERS["documents"]], "press": "ok"})),
        ("Download the order documents", call("DownloadTable", DEVICE, None)),
        ("The user will choose the source Podbor, then the picked task",
         answer({"choose": ["Podbor"], "press": "ok"},
                {"choose": ["Picking for shop 7"], "press": "ok"})),
        ("Download the picked selection task", call("DownloadTable", DEVICE, None)),
        ("SNAPSHOT", None),
        ("Clear the terminal's catalogue", call("ClearTable", DEVICE)),
        ("Close the connection", call("Close", DEVICE)),
        ("No failure was left for GetLastError", call("GetLastError")),
        ("The host is done", {"op": "Done"}),
    ]


# ----------------------------------------------------------------- the transcript

def show_value(v):
    vt = v.get("vt")
    if vt == "empty":
        return "(empty)"
    if vt == "bstr":
        text = v["v"]
        if "\n" in text or "\r" in text:
            lines = text.replace("\r\n", "\n").replace("\r", "\n").strip("\n").split("\n")
            return "text of %d lines:\n%s" % (len(lines), "\n".join("        | " + l for l in lines))
        if len(text) > 200:
            return json.dumps(text[:200] + "...", ensure_ascii=False)
        return json.dumps(text, ensure_ascii=False)
    if vt == "object":
        return "(object)"
    return json.dumps(v.get("v"))


# The parameters each method writes; the ones passed in are shown with the call.
OUT_PARAMS = {"Open": (0,), "DeviceTest": (0,), "GetDescription": range(7), "GetLastError": (0,),
              "GetParameters": (0,), "DownloadTable": (1,)}


def describe(answer_line, method=None):
    if "error" in answer_line:
        return ["harness error: " + answer_line["error"]]
    if answer_line.get("op") == "Answer":
        return ["queued for the next dialogs: %s" % answer_line.get("queued")]
    lines = ["result %s" % ("S_OK" if answer_line.get("hr") == 0 else "S_FALSE")]
    if "ret" in answer_line:
        lines.append("return value: " + show_value(answer_line["ret"]))
    for i in OUT_PARAMS.get(method, ()):
        params = answer_line.get("params", [])
        if i < len(params) and params[i].get("vt") != "empty":
            lines.append("parameter %d: %s" % (i, show_value(params[i])))
    for d in answer_line.get("dialogs", []):
        action = d["action"]
        what = action["press"]
        if action.get("choose"):
            what = "choose %s, press %s" % (json.dumps(action["choose"], ensure_ascii=False), what)
        lines.append("dialog (%s) %s: %s" % (d["kind"], json.dumps(d["caption"], ensure_ascii=False),
                                             json.dumps(d["text"], ensure_ascii=False) if d["text"] else
                                             "lines %s" % json.dumps(d.get("items", []), ensure_ascii=False)))
        lines.append("    -> %s%s" % (what, " (nobody answered: the safe answer)" if d.get("unanswered") else ""))
    return lines


def call_text(line):
    if line["op"] == "CallAsFunc":
        args = []
        for a in line.get("params", []):
            if isinstance(a, str) and len(a) > 40:
                args.append("<%d characters of XML>" % len(a) if a.startswith("<?xml") else json.dumps(a[:40] + "..."))
            elif isinstance(a, dict) and "var" in a:
                args.append(a["var"])
            else:
                args.append(json.dumps(a, ensure_ascii=False))
        return "%s(%s)" % (line["method"], ", ".join(args))
    if line["op"] == "Answer":
        return "Answer " + json.dumps(line["with"], ensure_ascii=False)
    args = [json.dumps(v, ensure_ascii=False) for k, v in line.items() if k != "op"]
    return "%s(%s)" % (line["op"], ", ".join(args))


class Harness:
    def __init__(self, binary, temp_dir):
        self.proc = subprocess.Popen([binary, "--temp-dir", temp_dir], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True, encoding="utf-8")

    def call(self, line):
        self.proc.stdin.write(json.dumps(line, ensure_ascii=False) + "\n")
        self.proc.stdin.flush()
        answer_line = self.proc.stdout.readline()
        if not answer_line:
            raise RuntimeError("the harness ended unexpectedly")
        return json.loads(answer_line)

    def close(self):
        self.proc.stdin.close()
        return self.proc.wait(timeout=30)


def failed(line, answer_line):
    """A harness error, or a driver method that did not return 1 (GetLastError
    returns the code itself and must return 0 here)."""
    if "error" in answer_line:
        return True
    if line.get("op") != "CallAsFunc":
        return answer_line.get("hr", 0) != 0
    expected = 0 if line["method"] == "GetLastError" else 1
    ret = answer_line.get("ret", {})
    return answer_line.get("hr") != 0 or ret.get("v") != expected or ret.get("vt") != "i4"


# ----------------------------------------------------------------- the terminal's contents

def query(path, sql):
    if not os.path.exists(path):
        return None
    with sqlite3.connect("file:%s?mode=ro" % path, uri=True) as db:
        return db.execute(sql).fetchall()


def terminal_summary(root, title):
    print("=" * 78)
    print(title)
    print("=" * 78)
    setup = os.path.join(root, "MerxaSetup.db")
    captions = []
    for (name,) in query(setup, "SELECT name FROM sqlite_master WHERE type='table'") or []:
        captions = query(setup, "SELECT parameter, value FROM %s WHERE parameter LIKE 'Merxa.%%'"
                         " ORDER BY parameter" % name)
    names = [v for p, v in captions if p.startswith("Merxa.FieldName_") and v]
    catalogue = os.path.join(root, "Merxa5", "Merxa.db")
    rows = query(catalogue, "SELECT Articule, Field_2, Field_3, Field_4, Field_5 FROM Articule ORDER BY N")
    print("Catalogue \\Merxa5\\Merxa.db: %d article(s)" % len(rows or []))
    if rows and names:
        print("    %-15s %-24s %-18s %-9s %s" % tuple((["(key)"] + names + [""] * 4)[:5]))
    for r in (rows or [])[:12]:
        print("    %-15s %-24s %-18s %-9s %s" % tuple("" if v is None else v for v in r))
    packs = query(catalogue, "SELECT Barcode, Articule, Value FROM Barcodes ORDER BY N") or []
    print("  package barcodes: %d" % len(packs))
    for b in packs:
        print("    box %s holds %s x %s" % (b[0], b[2], b[1]))
    print("Settings \\MerxaSetup.db: %s" % (", ".join("%s=%s" % (p.replace("Merxa.", ""), v)
                                                    for p, v in captions if v) or "no captions yet"))
    podbor = os.path.join(root, "Merxa5", "Order", "Podbor.db")
    tasks = query(podbor, "SELECT Name, RealName, Attr_2 FROM Registry ORDER BY N") or []
    print("Selection tasks \\Merxa5\\Order\\Podbor.db: %d" % len(tasks))
    for name, key, count in tasks:
        picked = query(podbor, "SELECT Articule, Value FROM order_%s ORDER BY N" % key) or []
        print("    %r: %s line(s) to pick, %d picked: %s" % (
            name, count, len(picked), ", ".join("%s x %s" % (a, v) for a, v in picked)))
    orders = os.path.join(root, "Merxa5", "Order", "Orders.db")
    docs = query(orders, "SELECT Name, RealName FROM Registry ORDER BY N") or []
    print("Order documents \\Merxa5\\Order\\Orders.db: %d" % len(docs))
    for name, key in docs:
        lines = query(orders, "SELECT Articule, Value FROM order_%s ORDER BY N" % key) or []
        print("    %r: %s" % (name, ", ".join("%s x %s" % (a, v) for a, v in lines)))
    print()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", default="build/linux/bin", help="folder holding vtsd-host and merxa-sim")
    parser.add_argument("--keep", action="store_true", help="keep the terminal's folder and print where")
    args = parser.parse_args()
    host = os.path.join(args.bin, "vtsd-host")
    sim = os.path.join(args.bin, "merxa-sim")
    for program in (host, sim):
        if not os.path.exists(program):
            print("demo: %s does not exist; build first (./run.sh build)" % program, file=sys.stderr)
            return 2

    work = tempfile.mkdtemp(prefix="vtsd-demo-")
    root, temp = os.path.join(work, "terminal"), os.path.join(work, "temp")
    os.makedirs(temp)
    seed_terminal(root)
    with open(os.path.join(work, "orders.json"), "w", encoding="utf-8") as f:
        json.dump(ORDERS, f)
    port = free_port()
    sim_log = os.path.join(work, "requests.jsonl")
    simulator = subprocess.Popen(
        [sim, "--port", str(port), "--root", root, "--documents", os.path.join(work, "orders.json"),
         "--pick", "--max-packet", "4096", "--log", sim_log],
        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    # The simulator writes the settings file and the order documents at start.
    prepared = [os.path.join(root, "MerxaSetup.db"), os.path.join(root, "Merxa5", "Order", "Orders.db")]
    for _ in range(100):
        if all(os.path.exists(p) for p in prepared) or simulator.poll() is not None:
            break
        time.sleep(0.1)
    print("Terminal simulator: merxa-sim on 127.0.0.1:%d, terminal folder %s" % (port, root))
    print()
    terminal_summary(root, "The terminal before the exchange")

    harness = Harness(host, temp)
    problems = []
    try:
        number = 0
        for caption, line in steps(port, catalogue_packages(3)):
            if caption == "SNAPSHOT":
                terminal_summary(root, "The terminal after the upload, the task and the downloads")
                continue
            number += 1
            print("%2d. %s\n    -> %s" % (number, caption, call_text(line)))
            answer_line = harness.call(line)
            for text in describe(answer_line, line.get("method")):
                print("    " + text)
            if failed(line, answer_line):
                problems.append(caption)
                error = harness.call({"op": "CallAsFunc", "method": "GetLastError"})
                print("    FAILED; GetLastError: code %s, %s" % (
                    error["ret"]["v"], json.dumps(error["params"][0]["v"], ensure_ascii=False)))
            print()
    finally:
        code = harness.close()
        try:
            sim_code = simulator.wait(timeout=30)
        except subprocess.TimeoutExpired:
            simulator.kill()
            sim_code = simulator.wait()
    requests = 0
    if os.path.exists(sim_log):
        with open(sim_log, encoding="utf-8") as f:
            requests = sum(1 for _ in f)
    terminal_summary(root, "The terminal after the exchange (the catalogue cleared)")
    print("The simulator answered %d request(s) and ended with status %d (0: the driver disconnected)."
          % (requests, sim_code))
    if sim_code != 0:
        problems.append("the simulator: " + simulator.stderr.read().strip())
    if args.keep:
        print("Terminal folder kept: %s" % root)
    else:
        shutil.rmtree(work, ignore_errors=True)
    if code != 0 or problems:
        print("demo: FAILED: %s (harness exit %s)" % ("; ".join(problems), code), file=sys.stderr)
        return 1
    print("demo: every step succeeded")
    return 0


if __name__ == "__main__":
    sys.exit(main())
