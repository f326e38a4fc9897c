"""quarry-cli against the local search service: an image task and a PDF task each run to their
end with every file saved byte for byte and recorded once, the task lands in sys/finished.tsk
with the right counters, Ctrl+C stops a task and still saves the task files, and bad arguments
exit with 2. The path of quarry-cli is the first argument (or QUARRY_CLI)."""

import http.client
import os
import signal
import sqlite3
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # keep the source tree free of caches
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import search_service  # noqa: E402

CLI = os.environ.get("QUARRY_CLI", "")
RECORD_SIZE = 564


def read_tasks(path):
    """The records of a task file as dicts of the fields the tests look at."""
    tasks = []
    if not os.path.exists(path):
        return tasks
    with open(path, "rb") as source:
        data = source.read()
    for at in range(0, len(data) - RECORD_SIZE + 1, RECORD_SIZE):
        record = data[at:at + RECORD_SIZE]
        keyword = record[22:22 + 258].split(b"\0", 1)[0].decode("utf-8")
        pages, fetched, files, threads = struct.unpack("<iiii", record[280:296])
        folder = record[296:296 + 260].split(b"\0", 1)[0].decode("utf-8")
        tasks.append({"kind": record[0], "state": record[21], "keyword": keyword,
                      "pageCount": pages, "pagesFetched": fetched, "filesFetched": files,
                      "threadCount": threads, "folder": folder})
    return tasks


class CliTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = search_service.start_in_thread(search_service.Options(results=40))
        cls.host = cls.service.public_host

    @classmethod
    def tearDownClass(cls):
        cls.service.shutdown()
        cls.service.server_close()

    def setUp(self):
        self.home_holder = tempfile.TemporaryDirectory(prefix="quarry-cli-")
        self.home = self.home_holder.name + "/"

    def tearDown(self):
        self.home_holder.cleanup()

    def cli(self, *args, **kwargs):
        command = [CLI, "--home", self.home, "--web-host", self.host, "--image-host", self.host]
        return subprocess.run(command + list(args), capture_output=True, text=True, timeout=120,
                              **kwargs)

    def served(self, url):
        connection = http.client.HTTPConnection(self.host, timeout=10)
        try:
            connection.request("GET", url[len("http://" + self.host):])
            response = connection.getresponse()
            return response.status, response.read()
        finally:
            connection.close()

    def listed(self, kind, word, pages):
        status, body = self.served("http://%s/list?kind=%s&word=%s&pages=%d"
                                   % (self.host, kind, word, pages))
        self.assertEqual(status, 200)
        return sorted(body.decode().split())

    def check_harvest(self, kind, word, pages, threads, expected_pages):
        done = self.cli("run", "--keyword", word, "--kind", kind, "--pages", str(pages),
                        "--threads", str(threads))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("Finished:", done.stdout)
        folder = self.home + "DownData/" + word + "/"
        database = sqlite3.connect(folder + "db.sqlite")
        rows = database.execute("SELECT filename, url, title FROM filename").fetchall()
        database.close()
        expected = self.listed(kind, word, pages)
        self.assertTrue(expected)
        self.assertEqual(sorted(url for _, url, _ in rows), expected)
        for filename, url, title in rows:
            status, body = self.served(url)
            self.assertEqual(status, 200)
            with open(filename, "rb") as saved:
                self.assertEqual(saved.read(), body, filename)
            self.assertTrue(filename.startswith(folder))
            self.assertEqual(bool(title), kind != "image", title)
        on_disk = [name for name in os.listdir(folder) if not name.startswith("db.sqlite")]
        self.assertEqual(len(on_disk), len(rows))
        finished = read_tasks(self.home + "sys/finished.tsk")
        self.assertEqual(len(finished), 1)
        self.assertEqual(finished[0]["keyword"], word)
        self.assertEqual(finished[0]["state"], 4)
        self.assertEqual(finished[0]["filesFetched"], len(rows))
        self.assertEqual(finished[0]["pagesFetched"], expected_pages)
        self.assertEqual(finished[0]["folder"], folder)
        self.assertFalse(os.path.exists(self.home + "sys/unfinished.tsk"))
        printed = self.cli("records", folder)
        self.assertEqual(printed.returncode, 0)
        self.assertEqual(len(printed.stdout.splitlines()), len(rows))
        listing = self.cli("list")
        self.assertIn("Finished tasks (1)", listing.stdout)
        self.assertIn(word, listing.stdout)

    def test_image_task(self):
        # Seeded pn=0 and pn=18; 40 results make each page link to the next: 0 -> 18 -> 36,
        # and the seeded 18 -> 36 again. Five pages in all.
        self.check_harvest("image", "flower", 1, 3, 5)

    def test_pdf_task(self):
        self.check_harvest("pdf", "report", 2, 6, 3)

    def test_interrupt_stops_and_saves(self):
        command = [CLI, "--home", self.home, "--web-host", self.host, "--image-host", self.host,
                   "run", "--keyword", "slow", "--kind", "doc", "--pages", "500", "--threads", "1"]
        process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   text=True)
        # Interrupt as soon as the task has been seeded (its database exists): 501 result pages
        # cannot all be fetched by then, however fast the machine.
        database = self.home + "DownData/slow/db.sqlite"
        deadline = time.monotonic() + 20
        while not os.path.exists(database) and time.monotonic() < deadline:
            time.sleep(0.005)
        process.send_signal(signal.SIGINT)
        out, err = process.communicate(timeout=60)
        self.assertEqual(process.returncode, 0, err)
        self.assertIn("Stopped:", out)
        finished = read_tasks(self.home + "sys/finished.tsk")
        self.assertEqual([t["keyword"] for t in finished], ["slow"])
        self.assertEqual(finished[0]["state"], 4)
        self.assertLess(finished[0]["pagesFetched"], 501)

    def test_task_files_not_saved_exit_with_1(self):
        # A folder where the new task file must go defeats the save, even for root.
        os.makedirs(self.home + "sys/finished.tsk.new")
        done = self.cli("run", "--keyword", "unsaved", "--kind", "pdf", "--pages", "1")
        self.assertEqual(done.returncode, 1, done.stdout)
        self.assertIn("finished.tsk", done.stderr)

    def test_bad_arguments_exit_with_2(self):
        cases = [("run",), ("run", "--keyword"), ("run", "--keyword", "a", "--kind", "exe"),
                 ("run", "--keyword", "a", "--pages", "0"),
                 ("run", "--keyword", "a", "--pages", "501"),
                 ("run", "--keyword", "a", "--threads", "7"), ("run", "--keyword", ""),
                 ("run", "--keyword", "a", "--colour"), ("records",), ("frobnicate",), ()]
        for args in cases:
            done = self.cli(*args)
            self.assertEqual(done.returncode, 2, args)
            self.assertTrue(done.stderr.strip(), args)
        self.assertFalse(os.path.exists(self.home + "sys/finished.tsk"))


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        CLI = sys.argv.pop(1)
    if not CLI:
        sys.exit("usage: cli_end_to_end_test.py PATH-OF-QUARRY-CLI")
    unittest.main()
