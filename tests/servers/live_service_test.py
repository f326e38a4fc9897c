"""Checks the local live search service against the formats the live mode relies on: a
certificate that only the test authority vouches for, cookies that result pages require,
image answers in lenient JSON whose picture addresses (plain, obfuscated or middle-sized) lead
through redirects to real pictures, document pages whose mu and redirector links lead to real
documents, refusals of every kind on request, and a /list that names exactly the files a
crawl following those rules reaches."""

import http.client
import html.parser
import json
import os
import re
import ssl
import subprocess
import sys
import unittest
import urllib.parse

sys.dont_write_bytecode = True  # keep the source tree free of caches
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import live_service  # noqa: E402

MAGIC = {"jpg": b"\xff\xd8\xff", "gif": b"GIF89a", "bmp": b"BM", "pdf": b"%PDF-1.4",
         "doc": b"\xd0\xcf\x11\xe0"}


class Client:
    """A tiny browser: cookies by name, redirects followed (at most 5 hops)."""

    def __init__(self, ca):
        self.context = ssl.create_default_context(cafile=ca)
        self.cookies = {}

    def fetch(self, url, headers=None, method="GET", follow=False):
        hops = []
        for _ in range(6):
            parts = urllib.parse.urlsplit(url)
            target = parts.path + ("?" + parts.query if parts.query else "")
            if parts.scheme == "https":
                connection = http.client.HTTPSConnection(parts.hostname, parts.port, timeout=10,
                                                         context=self.context)
            else:
                connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=10)
            sent = dict(headers or {})
            if self.cookies:
                sent["Cookie"] = "; ".join("%s=%s" % kv for kv in self.cookies.items())
            try:
                connection.request(method, target, headers=sent)
                response = connection.getresponse()
                body = response.read()
            finally:
                connection.close()
            for name, value in response.getheaders():
                if name.lower() == "set-cookie":
                    key, _, rest = value.partition("=")
                    self.cookies[key] = rest.split(";")[0]
            location = response.getheader("Location")
            if follow and response.status in (301, 302) and location:
                hops.append(location)
                url = location
                continue
            return response.status, response, body, hops
        raise AssertionError("more than 5 redirects from %s" % url)


def lenient_json(text):
    return json.loads(re.sub(r"\\'", "'", text))


def picture_address(item):
    """The rule of the live mode: replaceUrl[0].ObjURL/ObjUrl, objURL decoded, middleURL."""
    replace = item.get("replaceUrl") or []
    if replace:
        plain = replace[0].get("ObjURL") or replace[0].get("ObjUrl")
        if plain:
            return plain
    if item.get("objURL"):
        return live_service.decode_obj_url(item["objURL"])
    return item["middleURL"]


class ResultBlocks(html.parser.HTMLParser):
    """The outermost div.c-container blocks of #content_left: mu, h3 > a href and text."""

    def __init__(self):
        super().__init__()
        self.stack, self.blocks, self.texts = [], [], []
        self.in_left = self.block_depth = self.link_depth = None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        depth = len(self.stack)
        self.stack.append(tag)
        classes = (attrs.get("class") or "").split()
        if attrs.get("id") == "content_left":
            self.in_left = depth
        elif (self.in_left is not None and self.block_depth is None and tag == "div" and
              ("c-container" in classes or "result" in classes)):
            self.block_depth = depth
            self.blocks.append({"mu": attrs.get("mu"), "href": None, "title": ""})
        elif (tag == "a" and self.block_depth is not None and self.stack[-2] == "h3" and
              self.blocks[-1]["href"] is None):
            self.blocks[-1]["href"] = attrs.get("href")
            self.link_depth = depth

    def handle_endtag(self, tag):
        while self.stack:
            if self.stack.pop() == tag:
                break
        if self.link_depth is not None and len(self.stack) <= self.link_depth:
            self.link_depth = None
        if self.block_depth is not None and len(self.stack) <= self.block_depth:
            self.block_depth = None
        if self.in_left is not None and len(self.stack) <= self.in_left:
            self.in_left = None

    def handle_data(self, data):
        if self.stack and self.stack[-1] in ("script", "style"):
            return  # not what a reader sees
        self.texts.append(data)
        if self.link_depth is not None:
            self.blocks[-1]["title"] += data


class LiveServiceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = live_service.LiveService(live_service.Options(results=40)).start()
        cls.place = cls.service.place
        cls.image_headers = {"Referer": "https://%s/" % cls.place.https,
                             "X-Requested-With": "XMLHttpRequest"}

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()

    def client_with_cookies(self):
        client = Client(self.service.ca)
        status, response, _, _ = client.fetch(self.place.url("/"))
        self.assertEqual(status, 200)
        return client, response

    def test_certificate_names_the_loopback_host_for_the_test_authority_only(self):
        for host in ("127.0.0.1", "localhost"):
            status, _, _, _ = Client(self.service.ca).fetch(
                "https://%s:%d/" % (host, self.service.https_port))
            self.assertEqual(status, 200, host)
        with self.assertRaises(ssl.SSLCertVerificationError):
            connection = http.client.HTTPSConnection("127.0.0.1", self.service.https_port,
                                                     timeout=10,
                                                     context=ssl.create_default_context())
            connection.request("GET", "/")
        wrong_name = ssl.create_default_context(cafile=self.service.ca)
        with self.assertRaises(ssl.SSLCertVerificationError):
            with wrong_name.wrap_socket(__import__("socket").create_connection(
                    ("127.0.0.1", self.service.https_port), timeout=10),
                    server_hostname="www.example.org"):
                pass
        self.assertEqual(live_service.decode_obj_url("ippr_z2C$qAzdH3FAzdH3F"), "http://")

    def test_cookies_are_handed_out_and_result_pages_require_them(self):
        web = self.place.url("/s?wd=abc%20filetype%3Apdf&pn=0&rn=10&ie=utf-8")
        image = self.place.url("/search/acjson?tn=resultjson_com&ipn=rj&ie=utf-8&oe=utf-8"
                               "&queryWord=abc&word=abc&pn=0&rn=30")
        stranger = Client(self.service.ca)
        status, response, _, _ = stranger.fetch(web)
        self.assertEqual(status, 302)
        self.assertTrue(response.getheader("Location").startswith(
            "https://wappass.baidu.com/static/captcha/"))
        _, _, body, _ = stranger.fetch(image, self.image_headers)
        self.assertEqual(json.loads(body)["antiFlag"], 1)
        self.assertNotIn("data", json.loads(body))

        client, response = self.client_with_cookies()
        set_cookies = [v for k, v in response.getheaders() if k.lower() == "set-cookie"]
        self.assertEqual([c.split("=")[0] for c in set_cookies],
                         ["BAIDUID", "BIDUPSID", "PSTM", "BDSVRTM"])
        self.assertRegex(set_cookies[0], r"^BAIDUID=[0-9A-F]{32}:FG=1; expires=\w{3}, "
                                         r"\d\d-\w{3}-\d\d \d\d:\d\d:\d\d GMT; max-age=\d+; path=/")
        self.assertEqual(client.fetch(web)[0], 200)
        self.assertIn("antiFlag", json.loads(client.fetch(image)[2]))  # the script headers lack
        self.assertIn("data", lenient_json(client.fetch(image, self.image_headers)[2].decode()))
        stranger.cookies["BAIDUID"] = "0" * 32 + ":FG=1"  # one the service never handed out
        self.assertEqual(stranger.fetch(web)[0], 302)

    def test_image_pages_lead_to_every_listed_picture(self):
        client, _ = self.client_with_cookies()
        finals, sources, pn = [], set(), 0
        while True:
            status, response, body, _ = client.fetch(
                self.place.url("/search/acjson?tn=resultjson_com&ipn=rj&ie=utf-8&oe=utf-8"
                               "&queryWord=%E8%8A%B1%20x&word=%E8%8A%B1%20x&pn=" + str(pn)
                               + "&rn=30"), self.image_headers)
            self.assertEqual(status, 200)
            text = body.decode("utf-8")
            if pn == 0:
                self.assertIn("\\'", text)
                with self.assertRaises(json.JSONDecodeError):
                    json.loads(text)
            answer = lenient_json(text)
            self.assertEqual(answer["listNum"], 40)
            self.assertEqual(answer["data"][-1], {})
            items = [item for item in answer["data"] if "thumbURL" in item]
            if not items:
                break
            for item in items:
                address = picture_address(item)
                if item.get("objURL"):
                    decoded = live_service.decode_obj_url(item["objURL"])
                    self.assertTrue(decoded.startswith(("http://", "https://")), decoded)
                    if item.get("replaceUrl"):
                        self.assertEqual(decoded, address)
                sources.add("replace" if item.get("replaceUrl") else
                            "obj" if item.get("objURL") else "middle")
                self.assertNotIn("<", item["fromPageTitle"].replace("<strong>", "")
                                 .replace("</strong>", ""))
                status, response, data, hops = client.fetch(address, follow=True)
                if status == 404:
                    continue
                self.assertEqual(status, 200, address)
                self.assertTrue(data.startswith(MAGIC[response.getheader("Content-Type")
                                                      .split("/")[1].replace("jpeg", "jpg")]))
                self.assertGreaterEqual(len(data), 2000)
                finals.append(hops[-1] if hops else address)
            pn += 30
        self.assertEqual(pn, 60)  # 40 results: two pages, the third has nothing
        self.assertEqual(sources, {"replace", "obj", "middle"})
        self.assertTrue(any(u.startswith("http://") for u in finals))
        _, _, listed, _ = client.fetch(self.place.url("/list?kind=image&word=%E8%8A%B1%20x&pages=5"))
        self.assertEqual(sorted(listed.decode().split()), sorted(finals))

    def test_document_pages_lead_to_every_listed_document(self):
        client, _ = self.client_with_cookies()
        finals, answers, pn = [], set(), 0
        while True:
            _, _, body, _ = client.fetch(self.place.url(
                "/s?wd=" + urllib.parse.quote("年报 filetype:pdf", safe="") + "&pn=%d&rn=10&ie=utf-8"
                % pn))
            parser = ResultBlocks()
            parser.feed(body.decode("utf-8"))
            visible = "".join(parser.texts)
            if not parser.blocks:
                self.assertIn(live_service.NO_RESULTS, visible)
                break
            # The ads and the related searches that stand among the results.
            ads = [block for block in parser.blocks
                   if "/baidu.php?" in (block["href"] or "") or "/ad/" in (block["mu"] or "")
                   or "/s/related" in (block["href"] or "")]
            self.assertEqual(len(ads), 3)
            for block in parser.blocks:
                if block in ads:
                    continue
                self.assertTrue(block["title"].startswith("年报 pdf report"), block["title"])
                self.assertIn("/link?url=", block["href"])
                address = block["mu"]
                if not address:
                    status, response, page, _ = client.fetch(block["href"])
                    if status == 302:
                        address = response.getheader("Location")
                        answers.add("302")
                    else:
                        text = page.decode()
                        meta = re.search(r"content=\"0;URL='([^']*)'\"", text)
                        script = re.search(r'window\.location\.replace\("([^"]*)"\)', text)
                        address = (meta or script).group(1).replace("\\/", "/")
                        answers.add("meta" if meta else "script")
                status, response, data, hops = client.fetch(address, follow=True)
                if status == 404:
                    continue
                self.assertTrue(data.startswith(b"%PDF-1.4"), address)
                finals.append(hops[-1] if hops else address)
            self.assertEqual(live_service.NEXT_PAGE in visible, pn + 10 < 40, pn)
            pn += 10
        self.assertEqual(answers, {"302", "meta", "script"})
        _, _, listed, _ = client.fetch(self.place.url(
            "/list?kind=pdf&word=" + urllib.parse.quote("年报") + "&pages=9"))
        self.assertEqual(sorted(listed.decode().split()), sorted(finals))

    def test_files_redirects_and_ranges(self):
        client = Client(self.service.ca)
        path = "/d/abc/0.doc"
        cases = [("/hop/2" + path, ["https", "https"]), ("/xhop/3" + path, ["http", "https", "http"])]
        for start, schemes in cases:
            status, _, data, hops = client.fetch(self.place.url(start), follow=True)
            self.assertEqual(status, 200)
            self.assertTrue(data.startswith(MAGIC["doc"]))
            self.assertEqual([urllib.parse.urlsplit(h).scheme for h in hops], schemes)
        _, _, whole, _ = client.fetch(self.place.url("/size/5000/a.pdf"))
        status, response, piece, _ = client.fetch(self.place.url("/size/5000/a.pdf"),
                                                  {"Range": "bytes=1000-"})
        self.assertEqual((status, piece), (206, whole[1000:]))
        self.assertEqual(response.getheader("Content-Range"), "bytes 1000-4999/5000")
        self.assertEqual(client.fetch(self.place.url("/missing/x.pdf"))[0], 404)

    def test_refusals_on_request(self):
        service = live_service.LiveService(live_service.Options(
            results=40, refuse_web=(2, 3), web_refusal="alternate", refuse_image=(2,)),
            http_port=-1).start()
        try:
            client = Client(service.ca)
            client.fetch(service.place.url("/"))
            web = service.place.url("/s?wd=abc%20filetype%3Appt&pn=0&rn=10&ie=utf-8")
            statuses = [client.fetch(web) for _ in range(4)]
            self.assertEqual([s[0] for s in statuses], [200, 200, 302, 200])
            refused_page = statuses[1][2].decode()
            self.assertIn("<title>百度安全验证</title>", refused_page)
            self.assertNotIn("content_left", refused_page)
            self.assertTrue(1000 < len(statuses[1][2]) < 2000, len(statuses[1][2]))
            self.assertIn("wappass.baidu.com", statuses[2][1].getheader("Location"))
            self.assertIn("content_left", statuses[3][2].decode())
            image = service.place.url("/search/acjson?queryWord=abc&word=abc&pn=0&rn=30")
            headers = {"Referer": "https://%s/" % service.place.https,
                       "X-Requested-With": "XMLHttpRequest"}
            answers = [lenient_json(client.fetch(image, headers)[2].decode()) for _ in range(3)]
            self.assertEqual(["antiFlag" in a for a in answers], [False, True, False])
            self.assertEqual(answers[1]["message"], "Forbid spider access")
            # Without a plain listener every address stays on https.
            _, _, listed, _ = client.fetch(service.place.url("/list?kind=image&word=abc&pages=2"))
            self.assertTrue(all(u.startswith("https://") for u in listed.decode().split()))
            stats = json.loads(client.fetch(service.place.url("/_stats"))[2])
            self.assertEqual((stats["web_pages"], stats["refused_web"], stats["refused_image"]),
                             (4, 2, 1))
        finally:
            service.stop()

    def test_command_line_prints_ports_and_authority(self):
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "live_service.py")
        process = subprocess.Popen([sys.executable, script, "--port", "0", "--http-port", "-1"],
                                   stdout=subprocess.PIPE, text=True)
        try:
            https_port = int(process.stdout.readline())
            self.assertEqual(process.stdout.readline().strip(), "0")
            ca = process.stdout.readline().strip()
            self.assertTrue(os.path.isfile(ca))
            status, _, _, _ = Client(ca).fetch("https://127.0.0.1:%d/" % https_port)
            self.assertEqual(status, 200)
        finally:
            process.terminate()
            process.wait(timeout=20)
            process.stdout.close()
        self.assertFalse(os.path.exists(ca))  # the temporary certificates are removed


if __name__ == "__main__":
    unittest.main()
