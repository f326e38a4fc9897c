"""quarry-cli killed with SIGKILL at several moments of a harvest (while its task is seeded,
while files are received, in the middle of a task-file save), or ended at once between a group's
names and its rows, and then resumed. After each kill the task is still listed and no file under
a final name is shorter than the server's; `resume` completes the task, its records then hold
each address once, every recorded file is whole, the folder holds no other file (no address was
fetched twice) and no ".part" file is left. The path of quarry-cli is the first argument (or
QUARRY_CLI)."""

import http.client
import os
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # keep the source tree free of caches
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import search_service  # noqa: E402
from cli_end_to_end_test import read_tasks  # noqa: E402

CLI = os.environ.get("QUARRY_CLI", "")
KIND, WORD, PAGES, THREADS = "pdf", "crash", 19, 6
PART = ".part"


class Harvest:
    """One home with one task of KIND and WORD, harvested from the service at `host`."""

    def __init__(self, home, host):
        self.home = home
        self.host = host
        self.folder = home + "DownData/" + WORD + "/"
        self.database = self.folder + "db.sqlite"

    def command(self, *args):
        return [CLI, "--home", self.home, "--web-host", self.host, "--image-host", self.host] + \
            list(args)

    def rows(self):
        """The (filename, url) rows of the task database; none while it cannot be read."""
        if not os.path.exists(self.database):
            return []
        try:
            database = sqlite3.connect("file:%s?mode=ro" % self.database, uri=True)
            try:
                return database.execute("SELECT filename, url FROM filename").fetchall()
            finally:
                database.close()
        except sqlite3.Error:
            return []

    def intents(self):
        """The filenames of the rows written as intents, not yet moved into the filename table."""
        database = sqlite3.connect("file:%s?mode=ro" % self.database, uri=True)
        try:
            return [name for (name,) in database.execute("SELECT filename FROM intent")]
        finally:
            database.close()

    def files(self):
        """The names in the task folder other than the database's."""
        if not os.path.isdir(self.folder):
            return []
        return [name for name in os.listdir(self.folder) if not name.startswith("db.sqlite")]

    def parts(self):
        return [name for name in self.files() if name.endswith(PART)]


# Each moment: its name, extra environment, and the condition that says it has come.
MOMENTS = [
    ("seeding", {}, lambda h: os.path.exists(h.database)),
    ("downloads", {}, lambda h: len(h.rows()) >= 5 and h.parts()),
    # Every save pauses between writing the new file and putting it in place: killed there,
    # the new file is left beside a task file that must still be whole.
    ("task-file save", {"QUARRY_SAVE_PAUSE_MS": "800"},
     lambda h: h.rows() and os.path.exists(h.home + "sys/unfinished.tsk.new")),
    # The committer ends the process itself right after the folder flush of its third group:
    # that group's files have their names, their rows are intents only.
    ("between names and rows", {"QUARRY_TEST_EXIT_BEFORE_ROWS": "3"}, None),
]


class KillTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Documents of about 64 KB take long enough that ".part" files are seen at work.
        cls.service = search_service.start_in_thread(
            search_service.Options(results=10 * (PAGES + 1), doc_size=65536))
        cls.host = cls.service.public_host
        listed = cls.served("/list?kind=%s&word=%s&pages=%d" % (KIND, WORD, PAGES))
        cls.listed = sorted(listed.decode().split())
        # The bytes of each file by the name the harvester gives it (after "DDHHMMSS-").
        cls.bodies = {}
        for url in cls.listed:
            connection = http.client.HTTPConnection(cls.host, timeout=10)
            connection.request("GET", url[len("http://" + cls.host):])
            response = connection.getresponse()
            body = response.read()
            disposition = response.getheader("Content-Disposition", "")
            connection.close()
            name = disposition.split("filename=")[-1].strip('"') if disposition else \
                url.rsplit("/", 1)[-1]
            cls.bodies[name] = body

    @classmethod
    def tearDownClass(cls):
        cls.service.shutdown()
        cls.service.server_close()

    @classmethod
    def served(cls, target):
        connection = http.client.HTTPConnection(cls.host, timeout=10)
        try:
            connection.request("GET", target)
            return connection.getresponse().read()
        finally:
            connection.close()

    def body_of(self, name):
        """The server's bytes for a saved file name: "DDHHMMSS-" and any "(n)" taken off."""
        name = name[9:]
        stem, dot, extension = name.rpartition(".")
        if stem.endswith(")") and "(" in stem:
            stem = stem[:stem.rindex("(")]
        return self.bodies.get(stem + dot + extension)

    def kill_at(self, harvest, moment, extra_environment):
        environment = dict(os.environ, **extra_environment)
        process = subprocess.Popen(
            harvest.command("run", "--keyword", WORD, "--kind", KIND, "--pages", str(PAGES),
                            "--threads", str(THREADS)),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=environment)
        deadline = time.monotonic() + 120
        if moment is None:  # the process kills itself at the moment
            self.assertEqual(process.wait(timeout=120), -signal.SIGKILL)
            # Files under their names that no row holds yet: once fetched again on resume.
            intents = harvest.intents()
            self.assertTrue(intents)
            self.assertTrue(all(os.path.exists(name) for name in intents))
            self.assertFalse(set(intents) & {name for name, _ in harvest.rows()})
            return
        try:
            while not moment(harvest):
                self.assertIsNone(process.poll(), "the harvest ended before the moment came")
                self.assertLess(time.monotonic(), deadline, "the moment never came")
                time.sleep(0.002)
        finally:
            process.send_signal(signal.SIGKILL)
            process.wait()

    def test_killed_harvests_resume_without_loss_or_repeats(self):
        for name, extra_environment, moment in MOMENTS:
            with self.subTest(moment=name), tempfile.TemporaryDirectory(prefix="quarry-kill-") as home:
                harvest = Harvest(home + "/", self.host)
                self.kill_at(harvest, moment, extra_environment)
                if "QUARRY_SAVE_PAUSE_MS" in extra_environment:
                    self.assertTrue(os.path.exists(harvest.home + "sys/unfinished.tsk.new"))

                listing = subprocess.run(harvest.command("list"), capture_output=True, text=True,
                                         timeout=60)
                self.assertIn("Unfinished tasks (1)", listing.stdout)
                self.assertIn(WORD, listing.stdout)
                for saved in harvest.files():
                    if saved.endswith(PART):
                        continue
                    with open(harvest.folder + saved, "rb") as source:
                        self.assertEqual(source.read(), self.body_of(saved), saved)

                done = subprocess.run(harvest.command("resume"), capture_output=True, text=True,
                                      timeout=300)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertIn("Finished:", done.stdout)
                rows = harvest.rows()
                self.assertEqual(sorted(url for _, url in rows), self.listed)
                for filename, _ in rows:
                    with open(filename, "rb") as source:
                        self.assertEqual(source.read(), self.body_of(os.path.basename(filename)))
                self.assertEqual(harvest.parts(), [])
                self.assertEqual(sorted(harvest.files()),
                                 sorted(os.path.basename(filename) for filename, _ in rows))
                finished = read_tasks(harvest.home + "sys/finished.tsk")
                self.assertEqual([(t["keyword"], t["state"]) for t in finished], [(WORD, 4)])
                self.assertFalse(os.path.exists(harvest.home + "sys/unfinished.tsk"))
                again = subprocess.run(harvest.command("resume"), capture_output=True, text=True,
                                       timeout=60)
                self.assertEqual(again.returncode, 0, again.stderr)
                self.assertIn("No waiting or paused task", again.stdout)


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        CLI = sys.argv.pop(1)
    if not CLI:
        sys.exit("usage: cli_kill_test.py PATH-OF-QUARRY-CLI")
    unittest.main()
