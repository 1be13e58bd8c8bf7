"""The command-line verbs of vtsd-host against the terminal simulator.

Each case starts merxa-sim on a free loopback port with its own terminal root,
runs one verb and checks the exit status (the driver's error code), what the
verb printed and what the terminal holds afterwards.

VTSD_HOST and MERXA_SIM name the two programs.
"""

import os
import shutil
import socket
import sqlite3
import subprocess
import tempfile
import unittest

HOST = os.environ.get("VTSD_HOST", "build/linux/bin/vtsd-host")
SIM = os.environ.get("MERXA_SIM", "build/linux/bin/merxa-sim")

ORDERS = """{"documents": [
  {"name": "Order 1", "key": "0000100001", "lines": [["4600001000017", "3"], ["K-12", "1"]]},
  {"name": "Order 2", "key": "0000100002", "lines": [["O'Neil & <Sons>", "2.5"]]}
]}"""

TASK = """<?xml version="1.0" encoding="UTF-8"?>
<Table PodborName="Order 154">
  <Record Articule="4600001000017" Quantity="3"/>
  <Record Articule="4600001000024" Quantity="1"/>
</Table>
"""


def catalogue(records):
    rows = "\n".join(
        '<Record Articule="46%011d" Name="Item %d" Unit="pcs" Price="%d.50" Coefficient="%s"/>'
        % (i, i, i, "12" if i % 10 == 0 else "0") for i in range(1, records + 1))
    return '<?xml version="1.0" encoding="UTF-8"?>\n<Table>\n%s\n</Table>\n' % rows


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def rows(path, sql):
    with sqlite3.connect(path) as db:
        return db.execute(sql).fetchall()


class Terminal:
    """A simulated terminal in its own directory, answering one connection per verb."""

    def __init__(self, work, *sim_args):
        self.root = os.path.join(work, "root")
        self.temp = os.path.join(work, "temp")
        os.makedirs(self.root, exist_ok=True)
        os.makedirs(self.temp, exist_ok=True)
        self.work = work
        self.sim_args = list(sim_args)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def run(self, *verb, sim=True, sim_args=(), timeout=10):
        """Runs one verb; returns (exit status, stdout, stderr)."""
        port = free_port()
        proc = None
        if sim:
            proc = subprocess.Popen(
                [SIM, "--port", str(port), "--root", self.root, "--connect-timeout", "15"]
                + self.sim_args + list(sim_args),
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            done = subprocess.run(
                [HOST, "--temp-dir", self.temp, verb[0],
                 "--address", "127.0.0.1", "--port", str(port), "--timeout", str(timeout)]
                + list(verb[1:]),
                capture_output=True, timeout=60)
        finally:
            if proc:
                try:
                    proc.wait(timeout=20)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
        # Decoded without newline translation: the document XML has CR LF.
        return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8")

    def write(self, name, text):
        path = os.path.join(self.work, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vtsd-cli-")
        self.addCleanup(shutil.rmtree, self.work, True)
        orders = os.path.join(self.work, "orders.json")
        with open(orders, "w", encoding="utf-8") as f:
            f.write(ORDERS)
        self.terminal = Terminal(self.work, "--documents", orders, "--pick", "--max-packet", "1024")

    def test_device_test_prints_the_description(self):
        code, out, err = self.terminal.run("test", sim_args=("--model", "VT-9"))
        self.assertEqual(code, 0, err)
        self.assertEqual(out, "Имя ПО: Merxa\nВерсия: 5.123\nМодель ТСД: VT-9\n")

    def test_upload_in_packages_reaches_the_terminal_with_progress(self):
        table = self.terminal.write("catalogue.xml", catalogue(250))
        code, _, err = self.terminal.run("upload", table, "--package-size", "100")
        self.assertEqual(code, 0, err)
        for line in ("package 1 of 3 (first)", "package 2 of 3 (regular)", "package 3 of 3 (last)"):
            self.assertIn(line, err)
        # The catalogue moves in pieces of the terminal's packet size; the
        # progress line ends at the whole file.
        steps = [s for s in err.replace("\r", "\n").split("\n") if s.startswith("sending Merxa.db")]
        self.assertGreater(len(steps), 2, err)
        self.assertTrue(steps[-1].endswith("(100%)"), steps[-1])
        size = os.path.getsize(self.terminal.path("Merxa5", "Merxa.db"))
        self.assertIn("%d of %d bytes" % (size, size), steps[-1])
        db = self.terminal.path("Merxa5", "Merxa.db")
        self.assertEqual(rows(db, "select count(*) from Articule"), [(250,)])
        self.assertEqual(rows(db, "select count(*) from Barcodes"), [(0,)])  # no base with the same name

    def test_package_size_splits_and_keeps_every_record(self):
        table = self.terminal.write("catalogue.xml", catalogue(7))
        for size, packages in ((1, 7), (3, 3), (7, 1), (50, 1)):
            with self.subTest(size=size):
                code, _, err = self.terminal.run("upload", table, "--package-size", str(size))
                self.assertEqual(code, 0, err)
                self.assertIn("package %d of %d (last)" % (packages, packages), err)
                self.assertEqual(rows(self.terminal.path("Merxa5", "Merxa.db"),
                                      "select Articule from Articule order by N"),
                                 [("46%011d" % i,) for i in range(1, 8)])

    def test_task_asks_before_replacing(self):
        task = self.terminal.write("task.xml", TASK)
        podbor = self.terminal.path("Merxa5", "Order", "Podbor.db")
        code, _, err = self.terminal.run("task", task)
        self.assertEqual(code, 0, err)
        first = rows(podbor, "select Name, RealName from Registry")
        self.assertEqual([r[0] for r in first], ["Order 154"])

        code, _, err = self.terminal.run("task", task)
        self.assertEqual(code, 7, err)
        self.assertIn("Unloading canceled by the user.", err)
        self.assertEqual(rows(podbor, "select Name, RealName from Registry"), first)

        code, _, err = self.terminal.run("task", task, "--replace")
        self.assertEqual(code, 0, err)
        self.assertEqual([r[0] for r in rows(podbor, "select Name from Registry")], ["Order 154"])

    def test_download_choices(self):
        cases = [
            ("one order", ("--choose", "Order 2"), 0,
             "<Record BarCode='O&apos;Neil &amp; &lt;Sons>' Quantity='2.5'/>"),
            ("every order", ("--all",), 0, "<Record BarCode='K-12' Quantity='1'/>"),
            ("two by name", ("--choose", "Order 2,Order 1"), 0, "<Record BarCode='4600001000017' Quantity='3'/>"),
            ("a name the terminal lacks", ("--choose", "Order 9"), 6, ""),
            ("selection tasks when there are none", ("--source", "tasks"), 6, ""),
        ]
        for name, args, expected, line in cases:
            with self.subTest(name):
                code, out, err = self.terminal.run("download", *args)
                self.assertEqual(code, expected, err)
                if line:
                    self.assertIn(line, out)
                    self.assertTrue(out.startswith('<?xml version="1.0" encoding="utf-8" ?>\r\n<Table>'))
                else:
                    self.assertEqual(out, "")
                    self.assertIn("Download canceled by user.", err)

    def test_collected_task_comes_back_from_the_tasks_source(self):
        task = self.terminal.write("task.xml", TASK)
        self.assertEqual(self.terminal.run("task", task)[0], 0)
        code, out, err = self.terminal.run("download", "--source", "tasks", "--choose", "Order 154")
        self.assertEqual(code, 0, err)
        self.assertIn("<Record BarCode='4600001000024' Quantity='1'/>", out)

    def test_clear_sends_an_empty_catalogue(self):
        table = self.terminal.write("catalogue.xml", catalogue(5))
        self.assertEqual(self.terminal.run("upload", table)[0], 0)
        code, _, err = self.terminal.run("clear")
        self.assertEqual(code, 0, err)
        self.assertEqual(rows(self.terminal.path("Merxa5", "Merxa.db"), "select count(*) from Articule"), [(0,)])

    def test_exit_status_is_the_drivers_error_code(self):
        table = self.terminal.write("catalogue.xml", catalogue(3))
        not_xml = self.terminal.write("broken.xml", "<Table><Record Articule='1'></Table>")
        cases = [
            # (name, verb, sim arguments, expected code, message on stderr)
            ("old application version", ("upload", table), ("--version", "4.1.7"), 5,
             "Your version Merxa 4.1.7 is not supported."),
            ("download from an old version", ("download",), ("--version", "4.1.7"), 4,
             "Version Merxa 4.1.7 Is not supported by this driver."),
            ("no settings file on the terminal", ("upload", table), ("--no-setup",), 4,
             "The requested file is missing on the device."),
            ("terminal breaks the connection", ("upload", table), ("--close-at", "4"), 4, "TSD"),
            ("a table that is not XML", ("upload", not_xml), (), 5, "Error while unloading table, try again."),
            ("messages in Russian", ("upload", not_xml, "--lang", "ru"), (), 5,
             "XML не валидный, проверьте параметр XmlТаблица."),
        ]
        for number, (name, verb, sim_args, expected, message) in enumerate(cases):
            with self.subTest(name):
                # A terminal of its own: no case sees files another one left.
                terminal = Terminal(os.path.join(self.work, "case%d" % number), *self.terminal.sim_args)
                code, _, err = terminal.run(*verb, sim_args=sim_args)
                self.assertEqual(code, expected, err)
                self.assertIn(message, err)

    def test_failures_before_the_terminal(self):
        table = self.terminal.write("catalogue.xml", catalogue(3))
        cases = [
            ("no terminal within the waiting time", ("clear",), 1, "Connection timeout."),
            ("an address that is no address", ("clear", "--address", "300.1.1.1"), 8, "IP Address"),
            ("an unknown option", ("clear", "--colour"), 64, "unknown option --colour"),
            ("upload without a file", ("upload",), 64, "needs one file"),
            ("a file that does not exist", ("upload", os.path.join(self.work, "none.xml")), 65, "cannot read"),
            ("packages of a text that is not a table",
             ("upload", self.terminal.write("x.xml", "<List/>"), "--package-size", "2"), 65, "no root element Table"),
            ("--all with --choose", ("download", "--all", "--choose", "A"), 64, "exclude each other"),
        ]
        for name, verb, expected, message in cases:
            with self.subTest(name):
                # The options given in the case come after the common ones and win.
                code, _, err = self.terminal.run(*verb, sim=False, timeout=1)
                self.assertEqual(code, expected, err)
                self.assertIn(message, err)


if __name__ == "__main__":
    unittest.main()
