"""quarry-cli in live mode against the local live stand-in: an image task and a PDF task run to
their end. Every result page is asked for with the session cookies, files arrive over https
(the image service listens on https alone) or through redirects that switch between https and
plain http (the PDF service), the refusal of a result page in the middle is told, pauses the
result pages and is retried, the summary counts it, and the records hold the files' final
addresses with the files byte for byte as served. The mode comes from --live or from the
window's setting in sys/quarry.ini. The path of quarry-cli is the first argument (or
QUARRY_CLI)."""

import os
import sqlite3
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

sys.dont_write_bytecode = True  # keep the source tree free of caches
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import live_service  # noqa: E402

CLI = os.environ.get("QUARRY_CLI", "")
REFUSAL = ("the search service refused the request and asks for a verification; result pages "
           "paused for 5 minutes")
PAUSE_MS = 1500


class LiveCliTest(unittest.TestCase):
    def setUp(self):
        self.home_holder = tempfile.TemporaryDirectory(prefix="quarry-live-cli-")
        self.home = self.home_holder.name + "/"
        self.service = None

    def tearDown(self):
        if self.service:
            self.service.stop()
        self.home_holder.cleanup()

    def start_service(self, options, http_port):
        self.service = live_service.LiveService(options, port=0, http_port=http_port).start()
        context = ssl.create_default_context(cafile=self.service.ca)
        self.opener = urllib.request.build_opener(urllib.request.HTTPSHandler(context=context))

    def run_task(self, kind, word, pages, *flags):
        """Runs the task and returns (exit status, stdout, [(seconds, stderr line)])."""
        host = "127.0.0.1:%d" % self.service.https_port
        command = [CLI, "--home", self.home, "--web-host", host, "--image-host", host,
                   "--test-authority", self.service.ca, "run", "--keyword", word, "--kind", kind,
                   "--pages", str(pages), "--threads", "3", "--verbose"] + list(flags)
        environment = dict(os.environ, QUARRY_TEST_REFUSAL_PAUSE_MS=str(PAUSE_MS))
        start = time.monotonic()
        lines = []
        with subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              env=environment) as process:
            for line in process.stderr:
                lines.append((time.monotonic() - start, line.rstrip("\n")))
            output = process.stdout.read()
            process.wait(timeout=120)
        return process.returncode, output, lines

    def check_run(self, kind, word, pages, refusals, *flags):
        status, output, lines = self.run_task(kind, word, pages, *flags)
        texts = [text for _, text in lines]
        self.assertEqual(status, 0, output + "\n".join(texts[-40:]))
        self.assertIn("Live search: %d result pages refused by the service" % refusals, output)

        # Each refusal is told once; no result page is asked for during the pause after it.
        refused = [(at, text) for at, text in lines if text.endswith(REFUSAL)]
        self.assertEqual(len(refused), refusals, texts)
        page_requests = [at for at, text in lines if "开始下载网页：" in text]
        for refused_at, _ in refused:
            later = [at for at in page_requests if at > refused_at]
            self.assertTrue(later, "the refused page was not asked for again")
            self.assertGreaterEqual(min(later) - refused_at, PAUSE_MS / 1000.0 - 0.1)
        # One result page per second at most, counted from the previous result page's request,
        # and from the front page's for the first.
        for first, second in zip(page_requests, page_requests[1:]):
            self.assertGreaterEqual(second - first, 0.9)
        front = [at for at, text in lines if "获取会话 Cookie" in text]
        self.assertGreaterEqual(page_requests[0] - front[0], 0.9)
        # The cookies were fetched, then fetched anew after the first refusal only: at most
        # once an hour.
        self.assertEqual(sum("获取会话 Cookie" in text for text in texts), 2)
        # No ad was touched: no click-through, no landing page, no related search.
        self.assertEqual(self.service.state.stats["ads"], 0)
        self.assertTrue(any("重定向（第 2 次）" in text for text in texts))

        # The records hold the final addresses of exactly the files the service lists, and
        # every file is on disk as served.
        folder = self.home + "DownData/" + word + "/"
        database = sqlite3.connect(folder + "db.sqlite")
        rows = database.execute("SELECT filename, url FROM filename").fetchall()
        database.close()
        expected = live_service.live_list(self.service.options, self.service.place, kind, word,
                                          pages)
        self.assertEqual(sorted(url for _, url in rows), sorted(expected))
        for filename, url in rows:
            asked = urllib.request.Request(url, headers={
                "Referer": "https://%s/" % self.service.place.https})
            with open(filename, "rb") as saved, self.opener.open(asked, timeout=10) as served:
                self.assertEqual(saved.read(), served.read(), url)
        return [url for _, url in rows], texts

    def test_image_task_over_https_with_the_mode_from_the_settings(self):
        # https alone: every picture arrives over TLS, through redirects or not.
        # The pictures are hot-link protected: only a request that names the image service as
        # its Referer gets one.
        self.start_service(live_service.Options(results=40, refuse_image={2}, hotlink=True), -1)
        os.makedirs(self.home + "sys", exist_ok=True)
        with open(self.home + "sys/quarry.ini", "w") as ini:
            ini.write("[General]\nx=1\n\n[Settings]\nsearchMode=live\n")
        urls, _ = self.check_run("image", "tulips", 3, 1)
        self.assertEqual(len(urls), 34)  # every sixth picture is missing
        self.assertEqual(self.service.state.stats["hotlink_refused"], 0)
        self.assertTrue(all(url.startswith("https://") for url in urls), urls)

    def test_pdf_task_through_the_redirector_and_switching_redirects(self):
        # One page refused twice: by a redirect to the verification host, then by the
        # verification page.
        self.start_service(live_service.Options(results=40, refuse_web={3, 4},
                                                web_refusal="alternate"), 0)
        urls, texts = self.check_run("pdf", "alpine lakes", 4, 2, "--live")
        self.assertEqual(len(urls), 34)
        self.assertTrue(any(url.startswith("http://") for url in urls))
        self.assertTrue(any("跳转链接指向：" in text for text in texts))
        # Each result page's ads and its related search are skipped, and said so once a page.
        self.assertTrue(any("跳过广告 2 条、站内链接 1 条（不请求）..." in text for text in texts))
        hop_targets = [text for text in texts if "重定向" in text]
        self.assertTrue(any("http://" in text for text in hop_targets))
        self.assertTrue(any("https://" in text for text in hop_targets))

    def test_a_certificate_refused_on_every_request_fails_the_run(self):
        # Without the test authority the service's certificate is refused: nothing arrives,
        # and the run says so and fails instead of counting pages it never got.
        self.start_service(live_service.Options(results=20), -1)
        host = "127.0.0.1:%d" % self.service.https_port
        done = subprocess.run([CLI, "--home", self.home, "--web-host", host, "--image-host", host,
                               "run", "--live", "--keyword", "x", "--kind", "pdf", "--pages", "1"],
                              capture_output=True, text=True, timeout=120)
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        self.assertIn(": 0 pages fetched", done.stdout)
        self.assertIn("Live search: 0 result pages refused by the service", done.stdout)
        self.assertIn("Failed: no result page arrived", done.stdout)


if __name__ == "__main__":
    if len(sys.argv) > 1:
        CLI = sys.argv.pop(1)
    if not CLI:
        sys.exit("usage: cli_live_test.py PATH-OF-QUARRY-CLI")
    unittest.main()
