"""quarry-cli against the local search service: an image task and a PDF task, with keywords that
need escaping, each run to their end with every file saved byte for byte and recorded once, the
task lands in sys/finished.tsk with the right counters; Ctrl+C, SIGTERM and SIGHUP leave the
task paused and "resume" completes it; a task whose folder or database cannot be used does not
start and stays waiting; files the database refuses are counted apart from the saved ones; a
damaged task file is kept aside and reported; a full disk stops the task; bad arguments and bad
keywords exit with 2, an unusable home with 1; a relative home or folder is kept as an absolute
one; keyword lists are added and run in order, a bad line adding nothing. The path of
quarry-cli is the first argument (or QUARRY_CLI)."""

import csv
import http.client
import json
import os
import re
import signal
import socket
import sqlite3
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

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

    def cli(self, *args, timeout=120, **kwargs):
        command = [CLI, "--home", self.home, "--web-host", self.host, "--image-host", self.host]
        return subprocess.run(command + list(args), capture_output=True, text=True,
                              timeout=timeout, **kwargs)

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
                                   % (self.host, kind, urllib.parse.quote(word), pages))
        self.assertEqual(status, 200)
        return sorted(body.decode().split())

    def check_harvest(self, kind, word, pages, threads, expected_pages):
        done = self.cli("run", "--keyword", word, "--kind", kind, "--pages", str(pages),
                        "--threads", str(threads))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("Finished:", done.stdout)
        self.assertEqual(done.stderr, "")
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
        self.assertIn(", %d saved, %d recorded in " % (len(rows), len(rows)), done.stdout)
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
        # and the seeded 18 -> 36 again, which is not asked for twice. Three pages in all. The
        # keyword reaches the service whole: a raw "#" would end the address, "+" and "%" would
        # change it.
        self.check_harvest("image", "花 C#+1%2", 1, 3, 3)

    def test_pdf_task(self):
        # A raw "&" would start a field of its own and "#" swallow "&pn=10": every result page
        # would be page 1. The blanks around the keyword are trimmed.
        self.check_harvest("pdf", "C# a&b", 2, 6, 3)

    def test_relative_home_and_folder_are_kept_absolute(self):
        # The task files outlive the folder a run was started in: the window and "resume" must
        # find the same task folder and database from anywhere.
        started_in = os.path.realpath(self.home) + "/"  # as the program sees its folder
        cases = [  # --home, --folder, the task folder that must be kept
            ("h", None, started_in + "h/DownData/rel/"),
            ("./h2/", "dl", started_in + "dl/rel/"),
        ]
        os.makedirs(started_in + "dl")
        for home, folder, expected in cases:
            command = [CLI, "--home", home, "--web-host", self.host, "--image-host", self.host,
                       "run", "--keyword", "rel", "--kind", "pdf", "--pages", "1"]
            if folder:
                command += ["--folder", folder]
            done = subprocess.run(command, capture_output=True, text=True, timeout=120,
                                  cwd=started_in)
            self.assertEqual(done.returncode, 0, done.stderr)
            finished = read_tasks(os.path.join(self.home, home, "sys/finished.tsk"))
            self.assertEqual([task["folder"] for task in finished], [expected])
            database = sqlite3.connect(expected + "db.sqlite")
            names = [name for (name,) in database.execute("SELECT filename FROM filename")]
            database.close()
            self.assertTrue(names)
            for name in names:
                self.assertTrue(name.startswith(expected), name)

    def test_stop_signals_pause_and_resume_completes(self):
        signals = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
        pages = 500
        for number in signals:
            name = signal.Signals(number).name
            with self.subTest(signal=name):
                command = [CLI, "--home", self.home, "--web-host", self.host, "--image-host",
                           self.host, "run", "--keyword", name, "--kind", "doc", "--pages",
                           str(pages), "--threads", "1"]
                process = subprocess.Popen(command, stdout=subprocess.PIPE,
                                           stderr=subprocess.PIPE, text=True)
                # Signalled as soon as the task has been seeded (its database exists): 501
                # result pages cannot all be fetched by then, however fast the machine.
                database = self.home + "DownData/" + name + "/db.sqlite"
                deadline = time.monotonic() + 20
                while not os.path.exists(database) and time.monotonic() < deadline:
                    time.sleep(0.005)
                process.send_signal(number)
                out, err = process.communicate(timeout=60)
                self.assertEqual(process.returncode, 0, err)
                self.assertIn("Stopped:", out)
                self.assertIn("paused", out)
                waiting = read_tasks(self.home + "sys/unfinished.tsk")
                self.assertEqual(waiting[-1]["keyword"], name)
                self.assertLess(waiting[-1]["pagesFetched"], pages + 1)
                listing = self.cli("list")
                self.assertEqual(listing.returncode, 0, listing.stderr)
                self.assertRegex(listing.stdout, r"\n  %s +doc +paused " % name)
        self.assertFalse(os.path.exists(self.home + "sys/finished.tsk"))
        # One resume goes on with the three, one after another, and completes each: every
        # listed file recorded once.
        done = self.cli("resume", timeout=300)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout.count("Finished:"), len(signals), done.stdout)
        finished = read_tasks(self.home + "sys/finished.tsk")
        self.assertEqual([(t["keyword"], t["state"]) for t in finished],
                         [(signal.Signals(n).name, 4) for n in signals])
        for task in finished:  # the counters go on from where the cut-off run left them
            self.assertGreaterEqual(task["pagesFetched"], pages + 1)
        self.assertFalse(os.path.exists(self.home + "sys/unfinished.tsk"))
        for number in signals:
            name = signal.Signals(number).name
            database = sqlite3.connect(self.home + "DownData/" + name + "/db.sqlite")
            urls = sorted(url for (url,) in database.execute("SELECT url FROM filename"))
            database.close()
            self.assertEqual(urls, self.listed("doc", name, pages), name)

    def test_keyword_lists(self):
        # "add" lists waiting tasks without running them; "run --keywords-file" adds the file's
        # tasks and runs only them, in order, leaving out one already waiting; a bad line adds
        # nothing.
        def keywords(name, text):
            path = self.home + name
            with open(path, "wb") as target:
                target.write(text.encode("utf-8"))
            return path

        for word in ("alpha", "other"):
            done = self.cli("add", "--keyword", word, "--kind", "pdf", "--pages", "1")
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertIn("Added: Task '%s' (pdf, 1 pages" % word, done.stdout)
        self.assertEqual([(t["keyword"], t["state"]) for t in
                          read_tasks(self.home + "sys/unfinished.tsk")],
                         [("alpha", 0), ("other", 0)])
        for name, text, line in [("bad", "# words\nfine\n\nx/y\n", "line 4: "),
                                 ("tab", "fine\r\nb\tc\r\n", "line 2: "),
                                 ("latin1", "fine\n", "line 2: "),
                                 ("empty", "# nothing\n\n", "no keyword")]:
            path = keywords(name, text)
            if name == "latin1":
                with open(path, "ab") as target:
                    target.write(b"caf\xe9\n")
            for command in ("add", "run"):
                done = self.cli(command, "--keywords-file", path)
                self.assertEqual(done.returncode, 2, (name, command, done.stderr))
                self.assertIn(path + ": " + line, done.stderr, name)
        done = self.cli("add", "--keywords-file", self.home + "missing")
        self.assertEqual(done.returncode, 2)
        done = self.cli("run", "--keyword", "k", "--keywords-file", self.home + "missing")
        self.assertEqual(done.returncode, 2)
        self.assertEqual(len(read_tasks(self.home + "sys/unfinished.tsk")), 2)

        path = keywords("good", "\ufeff# flowers\r\nbeta\r\n\r\nalpha\n  gamma \n")
        done = self.cli("run", "--keywords-file", path, "--kind", "pdf", "--pages", "1")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("Skipped 'alpha'", done.stdout)
        headings = re.findall(r"^Task '(\w+)'", done.stdout, re.M)
        self.assertEqual(headings, ["beta", "gamma"])
        self.assertEqual(done.stdout.count("Finished:"), 2)
        figures = [tuple(int(n) for n in found) for found in re.findall(
            r"Finished: (\d+) pages fetched, (\d+) files fetched, (\d+) saved, (\d+) recorded",
            done.stdout)]
        self.assertEqual(len(figures), 2)
        self.assertTrue(all(saved for _, _, saved, _ in figures), done.stdout)
        self.assertIn("Total: 2 tasks, %d pages fetched, %d files fetched, %d saved, %d recorded"
                      % tuple(sum(column) for column in zip(*figures)), done.stdout)
        self.assertEqual([t["keyword"] for t in read_tasks(self.home + "sys/finished.tsk")],
                         ["beta", "gamma"])
        self.assertEqual([(t["keyword"], t["state"]) for t in
                          read_tasks(self.home + "sys/unfinished.tsk")],
                         [("alpha", 0), ("other", 0)])

    def start_proxy(self, kind):
        """Starts tinyproxy ("http") or danted ("socks5") on a free 127.0.0.1 port with its
        files in the test's home; returns its address and its log's path."""
        binary = {"http": "/usr/bin/tinyproxy", "socks5": "/usr/sbin/danted"}[kind]
        if not os.access(binary, os.X_OK):
            self.skipTest(binary + " is not installed")
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        folder = tempfile.mkdtemp(prefix="proxy-", dir=self.home)
        os.chmod(folder, 0o777)
        conf = os.path.join(folder, "proxy.conf")
        log = os.path.join(folder, "proxy.log")
        with open(conf, "w") as target:
            if kind == "http":
                target.write("User nobody\nGroup nogroup\nPort %d\nListen 127.0.0.1\n"
                             "LogLevel Connect\nMaxClients 32\n" % port)
                command = [binary, "-d", "-c", conf]
            else:
                target.write("logoutput: stderr\ninternal: 127.0.0.1 port = %d\n"
                             "external: 127.0.0.1\nsocksmethod: none\n"
                             "user.privileged: root\nuser.unprivileged: nobody\n"
                             "client pass { from: 127.0.0.1/32 to: 0.0.0.0/0 }\n"
                             "socks pass { from: 0.0.0.0/0 to: 0.0.0.0/0 log: connect }\n" % port)
                command = [binary, "-f", conf, "-p", os.path.join(folder, "pid")]
        output = open(log, "w")
        process = subprocess.Popen(command, stdout=output, stderr=subprocess.STDOUT)
        self.addCleanup(output.close)
        self.addCleanup(process.wait)
        self.addCleanup(process.terminate)
        for _ in range(200):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.02)
        return "%s://127.0.0.1:%d" % (kind, port), log

    def test_harvests_through_proxies(self):
        # Every request of the task goes through the proxy: the option, then the setting, then
        # the environment; a proxy that cannot be reached is told on the log.
        for kind in ("http", "socks5"):
            proxy, log = self.start_proxy(kind)
            word = "via " + kind
            done = self.cli("--proxy", proxy, "run", "--keyword", word, "--kind", "pdf",
                            "--pages", "1")
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
            match = re.search(r"Finished: (\d+) pages fetched, (\d+) files fetched, (\d+) saved",
                              done.stdout)
            self.assertTrue(match and int(match.group(3)) > 0, done.stdout)
            with open(log) as source:
                told = source.read()
            self.assertIn(urllib.parse.quote(word) if kind == "http" else "127.0.0.1", told)
            if kind == "http":
                self.assertIn("GET http://" + self.host + "/", told)
        closed = "socks5://127.0.0.1:1"
        done = self.cli("--proxy", closed, "run", "--keyword", "nowhere", "--kind", "pdf",
                        "--pages", "1", "--verbose")
        self.assertEqual(done.returncode, 1, done.stdout)
        self.assertIn("无法连接代理服务器 " + closed, done.stderr)
        self.assertIn("Proxy: 无法连接代理服务器 " + closed, done.stdout)
        self.assertIn("Failed: no result page arrived", done.stdout)
        # The setting of the window; six result pages: the third failure stops the task, told
        # once. And a bad --proxy refused.
        os.makedirs(self.home + "sys", exist_ok=True)
        with open(self.home + "sys/quarry.ini", "w") as ini:
            ini.write("[Settings]\nproxy=%s\n" % closed)
        done = self.cli("run", "--keyword", "set", "--kind", "pdf", "--pages", "5", "--verbose")
        self.assertEqual(done.returncode, 1, done.stdout)
        self.assertEqual(done.stderr.count("无法连接代理服务器 " + closed), 2, done.stderr)
        self.assertIn("任务“set”已停止：代理服务器 %s 连续 3 次无法连接。" % closed, done.stderr)
        done = self.cli("--proxy", "ftp://h:1", "list")
        self.assertEqual(done.returncode, 2)
        self.assertIn("--proxy", done.stderr)

    def test_unusable_home_exits_with_1(self):
        plain = self.home + "plain"
        with open(plain, "w") as source:
            source.write("not a folder")
        for args in [("list",), ("resume",), ("run", "--keyword", "k", "--pages", "1")]:
            done = subprocess.run([CLI, "--home", plain, "--web-host", self.host, "--image-host",
                                   self.host] + list(args), capture_output=True, text=True,
                                  timeout=60)
            self.assertEqual(done.returncode, 1, args)
            self.assertIn(plain, done.stderr, args)

    def test_a_run_without_result_pages_fails(self):
        # Every connection refused: nothing arrived, which is a failure, not "3 pages fetched".
        refused = "127.0.0.1:1"
        done = subprocess.run([CLI, "--home", self.home, "--web-host", refused, "--image-host",
                               refused, "run", "--keyword", "k", "--pages", "2"],
                              capture_output=True, text=True, timeout=60)
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        self.assertIn(": 0 pages fetched, 0 files fetched", done.stdout)
        self.assertIn("Failed: no result page arrived", done.stdout)
        self.assertIn("没有收到任何结果页", done.stderr)

    def make_database(self, folder, sql):
        os.makedirs(folder, exist_ok=True)
        database = sqlite3.connect(folder + "db.sqlite")
        database.executescript(sql)
        database.close()

    def test_unusable_folder_or_database_keeps_the_task_waiting(self):
        down = self.home + "DownData/"
        os.makedirs(down)
        with open(self.home + "plain", "w") as plain:
            plain.write("a file")
        os.makedirs(down + "folder/db.sqlite")
        os.makedirs(down + "junk")
        with open(down + "junk/db.sqlite", "wb") as junk:
            junk.write(b"garbage" * 600)
        self.make_database(down + "columns/", "CREATE TABLE filename(name TEXT)")
        cases = [  # keyword, download folder, what the reason says
            ("missing", self.home + "missing", "No such file or directory"),
            ("under-a-file", self.home + "plain", "Not a directory"),
            ("folder", down, "unable to open"),
            ("junk", down, "not a database"),
            ("columns", down, "no column named"),
        ]
        for word, folder, reason in cases:
            with self.subTest(case=word):
                done = self.cli("run", "--keyword", word, "--kind", "pdf", "--pages", "1",
                                "--folder", folder)
                self.assertEqual(done.returncode, 1, done.stdout)
                self.assertIn("“%s”" % word, done.stderr)
                self.assertIn(reason, done.stderr)
                self.assertNotIn("Finished", done.stdout)
        waiting = read_tasks(self.home + "sys/unfinished.tsk")
        self.assertEqual([(t["keyword"], t["state"]) for t in waiting],
                         [(word, 0) for word, _, _ in cases])
        self.assertFalse(os.path.exists(self.home + "sys/finished.tsk"))
        with open(down + "junk/db.sqlite", "rb") as junk:
            self.assertEqual(junk.read(), b"garbage" * 600)
        # Resuming tells every reason again, and the tasks still wait.
        again = self.cli("resume")
        self.assertEqual(again.returncode, 1, again.stdout)
        self.assertEqual(again.stderr.count("不能开始"), len(cases), again.stderr)
        self.assertEqual(len(read_tasks(self.home + "sys/unfinished.tsk")), len(cases))

    def test_refused_rows_are_counted_apart(self):
        folder = self.home + "DownData/refused/"
        # The task's check tries a row with an empty address; these rows are refused later.
        self.make_database(folder, "CREATE TABLE filename(filename TEXT, url TEXT, title TEXT);"
                                   "CREATE TRIGGER refuse BEFORE INSERT ON filename WHEN "
                                   "NEW.url LIKE '%1.pdf' OR NEW.url LIKE '%4.pdf' BEGIN "
                                   "SELECT RAISE(ABORT, 'refused'); END")
        done = self.cli("run", "--keyword", "refused", "--kind", "pdf", "--pages", "2",
                        "--verbose")
        self.assertEqual(done.returncode, 1, done.stdout)
        match = re.search(r"Finished: .*, (\d+) saved, (\d+) recorded in ", done.stdout)
        self.assertTrue(match, done.stdout)
        saved, recorded = int(match.group(1)), int(match.group(2))
        database = sqlite3.connect(folder + "db.sqlite")
        rows = database.execute("SELECT count(*) FROM filename").fetchone()[0]
        database.close()
        on_disk = [name for name in os.listdir(folder) if not name.startswith("db.sqlite")]
        self.assertEqual(recorded, rows)
        self.assertEqual(saved, len(on_disk))
        self.assertGreater(saved, recorded)
        self.assertEqual(done.stderr.count("记录写入失败："), saved - recorded)

    def test_damaged_task_file_is_kept_aside_and_reported(self):
        # One whole waiting task and the first 100 bytes of another.
        self.cli("run", "--keyword", "whole", "--kind", "pdf", "--folder", self.home + "none")
        with open(self.home + "sys/unfinished.tsk", "rb") as source:
            whole = source.read()
        self.assertEqual(len(whole), RECORD_SIZE)
        damaged = whole + whole[:100]
        with open(self.home + "sys/unfinished.tsk", "wb") as target:
            target.write(damaged)
        listing = self.cli("list")
        self.assertIn("unfinished.tsk.broken", listing.stderr)
        self.assertIn("Unfinished tasks (1)", listing.stdout)
        done = self.cli("run", "--keyword", "next", "--kind", "pdf", "--pages", "1")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("unfinished.tsk.broken", done.stderr)
        with open(self.home + "sys/unfinished.tsk.broken", "rb") as kept:
            self.assertEqual(kept.read(), damaged)
        self.assertEqual([t["keyword"] for t in read_tasks(self.home + "sys/unfinished.tsk")],
                         ["whole"])
        self.assertEqual(self.cli("list").stderr, "")  # rewritten whole: nothing more to say

    def test_full_disk_stops_the_task(self):
        """A real full disk: a 512 KB tmpfs as the download folder. Needs the right to mount
        (root outside a restricted container); skipped otherwise."""
        mount = self.home + "small/"
        os.makedirs(mount)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=512k", "tmpfs", mount],
                                 capture_output=True)
        if mounted.returncode != 0:
            self.skipTest("cannot mount a tmpfs here")
        # Documents of about 64 KB: a handful fill the disk.
        service = search_service.start_in_thread(search_service.Options(results=40,
                                                                        doc_size=65536))
        try:
            host = service.public_host
            done = subprocess.run(
                [CLI, "--home", self.home, "--web-host", host, "--image-host", host, "run",
                 "--keyword", "big", "--kind", "pdf", "--pages", "3", "--threads", "3",
                 "--folder", mount, "--verbose"], capture_output=True, text=True, timeout=120)
            folder = mount + "big/"
            names = os.listdir(folder)
            # Room again, or SQLite cannot even read the database it left in WAL mode.
            subprocess.run(["mount", "-o", "remount,size=4m", mount], check=True)
            database = sqlite3.connect(folder + "db.sqlite")
            rows = database.execute("SELECT filename FROM filename").fetchall()
            database.close()
            sizes = {name: os.path.getsize(folder + name) for name in names
                     if not name.startswith("db.sqlite")}
        finally:
            service.shutdown()
            service.server_close()
            subprocess.run(["umount", "-l", mount])
        self.assertEqual(done.returncode, 1, done.stdout)
        self.assertIn("磁盘已满", done.stderr)
        self.assertIn("Stopped:", done.stdout)
        # Every file left is whole (no ".part"); the summary counts them and the rows truly,
        # whether the last row still found room or not.
        files = sorted(folder + name for name in names if not name.startswith("db.sqlite"))
        self.assertFalse([name for name in files if name.endswith(".part")], files)
        self.assertTrue(set(r[0] for r in rows) <= set(files))
        self.assertIn(", %d saved, %d recorded in " % (len(files), len(rows)), done.stdout)
        self.assertEqual(done.stderr.count("记录写入失败："), len(files) - len(rows))
        for name in files:
            self.assertGreater(sizes[os.path.basename(name)], 2000, name)
        # It stopped instead of trying every file of its 40 results.
        self.assertLess(done.stderr.count("开始下载文件："), 20)
        finished = read_tasks(self.home + "sys/finished.tsk")
        self.assertEqual(finished[0]["state"], 4)

    def test_task_files_not_saved_exit_with_1(self):
        # A folder where the new task file must go defeats the save, even for root.
        os.makedirs(self.home + "sys/finished.tsk.new")
        done = self.cli("run", "--keyword", "unsaved", "--kind", "pdf", "--pages", "1")
        self.assertEqual(done.returncode, 1, done.stdout)
        self.assertIn("finished.tsk", done.stderr)

    def test_filters_failures_duplicates_and_export(self):
        # The service's pictures are 16 or 32 pixels wide: a task that asks for 100 keeps none of
        # them, and lists each with its reason beside the missing and the tiny ones.
        folder = self.home + "DownData/filtered/"
        done = self.cli("run", "--keyword", "filtered", "--pages", "1", "--min-width", "100")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn(", 0 saved, 0 recorded in ", done.stdout)
        self.assertRegex(done.stdout, r"Not kept: \d+ addresses \(0 duplicates\)")
        wanted = len(self.listed("image", "filtered", 1))
        report = self.cli("failures", folder)
        self.assertEqual(report.returncode, 0, report.stderr)
        self.assertRegex(report.stdout, r"\n  filtered +%d\n" % wanted)
        self.assertRegex(report.stdout, r"\n  not_found +\d+\n")
        self.assertRegex(report.stdout, r"\n  too_small +\d+\n")
        self.assertIn("0 worth a retry", report.stdout)
        self.assertIn("Nothing to retry", self.cli("retry", folder).stdout)

        # The same task without the filter keeps them all.
        self.assertEqual(self.cli("run", "--keyword", "filtered", "--pages", "1").returncode, 0)
        pictures = [n for n in os.listdir(folder) if n.endswith((".jpg", ".gif", ".bmp"))]
        self.assertEqual(len(pictures), wanted)

        # Two homes harvesting one keyword into one folder at the same time keep one copy of
        # each picture between them.
        homes = [tempfile.TemporaryDirectory(prefix="quarry-cli-twin-") for _ in range(2)]
        for holder in homes:
            self.addCleanup(holder.cleanup)
        shared = homes[0].name + "/shared"
        os.mkdir(shared)
        runs = [subprocess.Popen([CLI, "--home", holder.name, "--image-host", self.host, "run",
                                  "--keyword", "twice", "--pages", "1", "--threads", "6",
                                  "--folder", shared], stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True) for holder in homes]
        for run in runs:
            out, err = run.communicate(timeout=120)
            self.assertEqual(run.returncode, 0, err)
        twins = [n for n in os.listdir(shared + "/twice") if n.endswith((".jpg", ".gif", ".bmp"))]
        self.assertEqual(len(twins), len(self.listed("image", "twice", 1)))

        exported = self.cli("export", folder, "--format", "json")
        self.assertEqual(exported.returncode, 0, exported.stderr)
        records = json.loads(exported.stdout)
        self.assertEqual(len(records["files"]), wanted)
        self.assertTrue(all(len(f["sha256"]) == 64 and f["width"] in (16, 32)
                            for f in records["files"]))
        reasons = {f["reason"] for f in records["failures"]}
        self.assertEqual(reasons, {"not_found", "too_small"})  # the filtered ones are kept now
        table = self.home + "records.csv"
        self.assertEqual(self.cli("export", folder, "--format", "csv", "--output", table)
                         .returncode, 0)
        with open(table, newline="") as source:
            rows = list(csv.reader(source))
        self.assertEqual(rows[0][:3], ["type", "file", "url"])
        self.assertEqual(sum(row[0] == "file" for row in rows), wanted)
        for args in [("run", "--keyword", "a", "--formats", "tiff"),
                     ("run", "--keyword", "a", "--min-size", "big"),
                     ("run", "--keyword", "a", "--min-size", "5k", "--max-size", "1k"),
                     ("export", folder), ("export", folder, "--format", "xml"), ("failures",)]:
            self.assertEqual(self.cli(*args).returncode, 2, args)

    def test_bad_arguments_exit_with_2(self):
        cases = [("run",), ("run", "--keyword"), ("run", "--keyword", "a", "--kind", "exe"),
                 ("run", "--keyword", "a", "--pages", "0"),
                 ("run", "--keyword", "a", "--pages", "501"),
                 ("run", "--keyword", "a", "--threads", "7"), ("run", "--keyword", ""),
                 ("run", "--keyword", "a", "--colour"), ("records",), ("frobnicate",), (),
                 ("run", "--keyword", "   "), ("run", "--keyword", "a\nb"),
                 ("run", "--keyword", "\tab"), ("run", "--keyword", "a\x01b")]
        # Not UTF-8: the GBK bytes of a word, a cut character, an overlong "/".
        not_utf8 = [b"\xbb\xa8", b"ab\xe4\xb8", b"a\xc0\xafb"]
        cases += [("run", "--keyword", keyword) for keyword in not_utf8]
        for args in cases:
            done = self.cli(*args)
            self.assertEqual(done.returncode, 2, args)
            self.assertTrue(done.stderr.strip(), args)
            if args[-1:] and args[-1] in not_utf8:
                self.assertIn("UTF-8", done.stderr, args)
        self.assertFalse(os.path.exists(self.home + "sys/finished.tsk"))


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        CLI = sys.argv.pop(1)
    if not CLI:
        sys.exit("usage: cli_end_to_end_test.py PATH-OF-QUARRY-CLI")
    unittest.main()
