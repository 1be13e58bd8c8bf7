#!/usr/bin/env python3
"""A readable walk through the driver, as the 1C host drives it.

    demo.py --bin build/linux/bin

Starts the host harness (vtsd-host) with a temporary directory of its own and
sends it the steps below one at a time, printing each call, its result and,
after a failed method, the message GetLastError gives. Add steps to STEPS to
show more; a step is a harness line with a caption.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

# (caption, harness line). Driver methods are called by name.
STEPS = [
    ("The host starts the component", {"op": "Init"}),
    ("Interface version of the component", {"op": "GetInfo"}),
    ("Extension name", {"op": "RegisterExtensionAs"}),
    ("Messages in English", {"op": "SetLocale", "locale": "en_US"}),
    ("Number of properties", {"op": "GetNProps"}),
    ("Number of driver methods", {"op": "GetNMethods"}),
    ("Method looked up by its English name", {"op": "FindMethod", "name": "UploadTable"}),
    ("Method looked up by its Russian name", {"op": "FindMethod", "name": "ВыгрузитьТаблицу"}),
    ("Russian name of method 5", {"op": "GetMethodName", "num": 5, "alias": 1}),
    ("Property looked up by its Russian name", {"op": "FindProp", "name": "НомерПорта"}),
    ("Driver version", {"op": "CallAsFunc", "method": "GetVersion"}),
    ("Driver description", {"op": "CallAsFunc", "method": "GetDescription"}),
    ("Settings description for the host's form", {"op": "CallAsFunc", "method": "GetParameters"}),
    ("Set the IP address", {"op": "CallAsFunc", "method": "SetParameter",
                            "params": ["propIpAdress", "127.0.0.1"]}),
    ("Set a port that is out of range", {"op": "CallAsFunc", "method": "SetParameter",
                                         "params": ["propPortNumber", 70000]}),
    ("Set the port", {"op": "CallAsFunc", "method": "SetParameter",
                      "params": ["propPortNumber", 2000]}),
    ("Set the waiting time", {"op": "CallAsFunc", "method": "SetParameter",
                              "params": ["propTimeOut", 30]}),
    ("Read the port back as a property", {"op": "GetPropVal", "num": 1}),
    ("A parameter name the driver does not have", {"op": "CallAsFunc", "method": "SetParameter",
                                                   "params": ["propBaudRate", 9600]}),
    ("Messages in Russian", {"op": "SetLocale", "locale": "ru_RU"}),
    ("Additional actions are not offered", {"op": "CallAsFunc", "method": "DoAdditionalAction",
                                            "params": ["Calibrate"]}),
    ("Last error, asked again", {"op": "CallAsFunc", "method": "GetLastError"}),
    ("The host is done", {"op": "Done"}),
]


def show_value(v):
    vt = v.get("vt")
    if vt == "empty":
        return "(empty)"
    if vt == "bstr":
        text = v["v"]
        if "\n" in text:
            return "text of %d lines:\n%s" % (
                text.count("\n"), "\n".join("        | " + line for line in text.splitlines()))
        return json.dumps(text, ensure_ascii=False)
    if vt == "object":
        return "(object)"
    return json.dumps(v.get("v"))


def describe(answer):
    """Lines that tell what the call returned."""
    if "error" in answer:
        return ["harness error: " + answer["error"]]
    lines = ["result %s" % ("S_OK" if answer.get("hr") == 0 else "S_FALSE")]
    for key in ("count", "num", "name", "flag"):
        if key in answer:
            lines[0] += ", %s = %s" % (key, json.dumps(answer[key], ensure_ascii=False))
    if "value" in answer:
        lines.append("value: " + show_value(answer["value"]))
    if "ret" in answer:
        lines.append("return value: " + show_value(answer["ret"]))
    for i, p in enumerate(answer.get("params", [])):
        if p.get("vt") != "empty":
            lines.append("parameter %d: %s" % (i, show_value(p)))
    for d in answer.get("dialogs", []):
        lines.append("dialog %s %r: %r -> %s" % (d["kind"], d["caption"], d["text"],
                                                 d["action"]["press"]))
    return lines


def call_text(line):
    """The call as a person would write it: FindMethod("Open"), SetParameter(...)."""
    if "method" in line:
        args = line.get("params", [])
        return "%s %s(%s)" % (line["op"], line["method"],
                              ", ".join(json.dumps(a, ensure_ascii=False) for a in args))
    args = [json.dumps(v, ensure_ascii=False) for k, v in line.items() if k != "op"]
    return "%s(%s)" % (line["op"], ", ".join(args))


class Harness:
    def __init__(self, binary, temp_dir):
        self.proc = subprocess.Popen([binary, "--temp-dir", temp_dir], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True, encoding="utf-8")

    def call(self, line):
        self.proc.stdin.write(json.dumps(line, ensure_ascii=False) + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline()
        if not answer:
            raise RuntimeError("the harness ended unexpectedly")
        return json.loads(answer)

    def close(self):
        self.proc.stdin.close()
        return self.proc.wait(timeout=30)


def failed(line, answer):
    """A driver method that returned 0 (GetLastError returns the code itself)."""
    return (line.get("op") == "CallAsFunc" and line.get("method") != "GetLastError"
            and answer.get("ret") == {"vt": "i4", "v": 0} and answer.get("hr") == 0)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", default="build/linux/bin", help="folder holding vtsd-host")
    args = parser.parse_args()
    host = os.path.join(args.bin, "vtsd-host")
    if not os.path.exists(host):
        print("demo: %s does not exist; build first (./run.sh build)" % host, file=sys.stderr)
        return 2

    temp_dir = tempfile.mkdtemp(prefix="vtsd-demo-")
    harness = Harness(host, temp_dir)
    problems = 0
    try:
        for number, (caption, line) in enumerate(STEPS, 1):
            what = call_text(line)
            print("%2d. %s\n    -> %s" % (number, caption, what))
            answer = harness.call(line)
            if "error" in answer:
                problems += 1
            for text in describe(answer):
                print("    " + text)
            if failed(line, answer):
                error = harness.call({"op": "CallAsFunc", "method": "GetLastError"})
                print("    GetLastError: code %s, %s" % (
                    error["ret"]["v"], json.dumps(error["params"][0]["v"], ensure_ascii=False)))
            print()
    finally:
        code = harness.close()
        shutil.rmtree(temp_dir, ignore_errors=True)
    if code != 0 or problems:
        print("demo: the harness reported problems (exit %s)" % code, file=sys.stderr)
        return 1
    print("demo: %d steps done" % len(STEPS))
    return 0


if __name__ == "__main__":
    sys.exit(main())
