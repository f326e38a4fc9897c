"""Checks the local search service against what the harvester relies on: result pages whose
links the anchor scan and the image link pattern find, files that answer HEAD and GET alike,
byte ranges, attachment names, and answers that depend on nothing but the keyword."""

import http.client
import os
import re
import socket
import struct
import sys
import unittest

sys.dont_write_bytecode = True  # keep the source tree free of caches
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import search_service  # noqa: E402


def image_link_pattern(host):
    # The harvester's pattern, with the host's dots left as they are (they match any byte).
    return re.compile(
        "http://" + host + r"/i\?z=0&cl=2&ct=\d+&sn=&lm=-1&cm=1&sc=0&bu=&rn=21&tn=baiduimage"
        r"&word=[^\s]*&pn=\d+|http://[^\s]*.jpg|http://[^\s]*.gif|http://[^\s]*.bmp")


def anchors(page, extension):
    # The anchor scan in short: href="..." lower-cased, kept when it holds the extension.
    found = []
    for href, title in re.findall(r'<a [^>]*href="([^"]*)"[^>]*>(.*?)</a>', page):
        href = href.lower()
        if href.find(extension) > 0:
            found.append((href, re.sub(r"<[^>]*>", "", title)))
    return found


class ServiceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.options = search_service.Options(results=40, per_page=10, image_per_page=18)
        cls.service = search_service.start_in_thread(cls.options)
        cls.host = cls.service.public_host

    @classmethod
    def tearDownClass(cls):
        cls.service.shutdown()
        cls.service.server_close()

    def fetch(self, target, method="GET", headers=None):
        connection = http.client.HTTPConnection(self.host, timeout=10)
        try:
            connection.request(method, target, headers=headers or {})
            response = connection.getresponse()
            body = response.read()
            return response.status, dict(response.getheaders()), body
        finally:
            connection.close()

    def path_of(self, url):
        prefix = "http://" + self.host
        self.assertTrue(url.startswith(prefix), url)
        return url[len(prefix):]

    def test_document_pages_hold_anchors_to_files_on_the_service(self):
        for kind in search_service.DOC_KINDS:
            status, headers, body = self.fetch("/s?q1=filetype:%s%%20Abc&pn=10" % kind)
            self.assertEqual(status, 200)
            self.assertIn("text/html", headers["Content-Type"])
            links = anchors(body.decode(), "." + kind)
            self.assertEqual(len(links), 10, kind)
            statuses = set()
            for href, title in links:
                self.assertTrue(title.startswith("abc %s " % kind), title)
                head_status, head, _ = self.fetch(self.path_of(href), "HEAD")
                statuses.add(head_status)
                if head_status == 200:
                    self.assertNotIn("text/html", head["Content-Type"])
                    get_status, get, data = self.fetch(self.path_of(href))
                    self.assertEqual(get_status, 200)
                    self.assertEqual(int(head["Content-Length"]), len(data))
                    self.assertEqual(get["Content-Length"], head["Content-Length"])
            self.assertEqual(statuses, {200, 404}, kind)

    def test_documents_include_short_named_and_missing_ones(self):
        sizes, named = [], []
        for i in range(14):
            r = search_service.document_result(self.options, "pdf", "abc", i)
            if r.status == 200:
                sizes.append(len(r.body))
            if r.disposition:
                named.append(r)
        self.assertTrue(any(s < 2000 for s in sizes))
        self.assertTrue(any(s >= 2000 for s in sizes))
        self.assertTrue(named)
        status, headers, body = self.fetch(named[0].path)
        self.assertEqual(status, 200)
        self.assertEqual(headers["Content-Disposition"], 'attachment; filename="report-5.pdf"')
        self.assertTrue(body.startswith(b"%PDF-1.4"))

    def test_image_pages_match_the_link_pattern_exactly(self):
        status, headers, body = self.fetch(
            "/i?tn=baiduimage&ct=201326592&cl=2&lm=-1&pv=&z=3&word=abc&z=0")
        self.assertEqual(status, 200)
        self.assertIn("text/html", headers["Content-Type"])
        matches = image_link_pattern(self.host).findall(body.decode())
        pages = [m for m in matches if "/i?" in m]
        pictures = [m for m in matches if "/i?" not in m]
        self.assertEqual(pages, ["http://%s/i?z=0&cl=2&ct=201326592&sn=&lm=-1&cm=1&sc=0&bu="
                                 "&rn=21&tn=baiduimage&word=abc&pn=18" % self.host])
        self.assertEqual(len(pictures), 18)
        magic = {"jpg": b"\xff\xd8\xff", "gif": b"GIF89a", "bmp": b"BM"}
        kinds = set()
        for url in pictures:
            status, headers, data = self.fetch(self.path_of(url))
            if status == 404:
                continue
            extension = url.rsplit(".", 1)[1]
            kinds.add(extension)
            self.assertTrue(data.startswith(magic[extension]), url)
            self.assertEqual(int(headers["Content-Length"]), len(data))
        self.assertEqual(kinds, {"jpg", "gif", "bmp"})
        # The last page has no further link; a page past the end has no pictures.
        _, _, last = self.fetch("/i?word=abc&pn=36")
        self.assertEqual(len(image_link_pattern(self.host).findall(last.decode())), 4)
        _, _, past = self.fetch("/i?word=abc&pn=400")
        self.assertEqual(image_link_pattern(self.host).findall(past.decode()), [])

    def test_pictures_are_well_formed(self):
        jpeg = search_service.make_jpeg(7, 5000)
        self.assertEqual(len(jpeg), 5000)
        self.assertEqual(jpeg[-2:], b"\xff\xd9")
        gif = search_service.make_gif(7, 5000)
        self.assertEqual(len(gif), 5000)
        self.assertEqual(gif[-1:], b"\x3b")
        self.assertEqual(struct.unpack("<HH", gif[6:10]), (16, 16))
        bmp = search_service.make_bmp(7, 5000)
        self.assertEqual(struct.unpack("<I", bmp[2:6])[0], len(bmp))
        # Segments of the JPEG chain up to the scan with correct lengths.
        at = 2
        while jpeg[at + 1] != 0xDA:
            self.assertEqual(jpeg[at], 0xFF)
            at += 2 + struct.unpack(">H", jpeg[at + 2:at + 4])[0]
        self.assertLess(at, len(jpeg))

    def test_ranges_resume_where_asked(self):
        _, _, whole = self.fetch("/size/5000/a.pdf")
        self.assertEqual(len(whole), 5000)
        cases = [("bytes=1000-", 206, whole[1000:]), ("bytes=10-19", 206, whole[10:20]),
                 ("bytes=0-", 206, whole), ("bytes=5000-", 416, b"")]
        for header, expected_status, expected in cases:
            status, headers, body = self.fetch("/size/5000/a.pdf", headers={"Range": header})
            self.assertEqual(status, expected_status, header)
            self.assertEqual(body, expected, header)
            self.assertEqual(int(headers["Content-Length"]), len(expected))

    def test_answers_depend_only_on_the_keyword(self):
        first = self.fetch("/s?q1=filetype:doc%20xyz&pn=0")[2]
        second = self.fetch("/s?q1=filetype:doc%20xyz&pn=0")[2]
        other = self.fetch("/s?q1=filetype:doc%20xyzz&pn=0")[2]
        self.assertEqual(first, second)
        self.assertNotEqual(first, other)
        a = search_service.document_result(self.options, "doc", "xyz", 1).body
        self.assertEqual(a, search_service.document_result(self.options, "doc", "XYZ", 1).body)

    def test_chinese_keyword_and_text_page(self):
        word = "\u7535\u8def"
        quoted = search_service.quote_word(word)
        _, _, body = self.fetch("/s?q1=filetype:xls%20" + quoted + "&pn=0")
        links = anchors(body.decode(), ".xls")
        self.assertEqual(len(links), 10)
        self.assertEqual(self.fetch(self.path_of(links[0][0]), "HEAD")[0], 200)
        status, headers, text = self.fetch("/txt/doc/abc/list.TXT")
        self.assertEqual(status, 200)
        self.assertTrue(headers["Content-Type"].startswith("text/plain"))
        self.assertEqual(len(anchors(text.decode(), ".doc")), 10)

    def raw_get(self, target):
        # http.client refuses blanks and non-ASCII bytes in a target; some clients send them raw.
        host, port = self.host.split(":")
        with socket.create_connection((host, int(port)), timeout=10) as connection:
            connection.sendall(b"GET " + target + b" HTTP/1.1\r\nHost: " + self.host.encode() +
                               b"\r\nConnection: close\r\n\r\n")
            answer = b""
            while True:
                piece = connection.recv(65536)
                if not piece:
                    break
                answer += piece
        head, _, body = answer.partition(b"\r\n\r\n")
        return int(head.split(b" ")[1]), body

    def test_raw_keywords_with_blanks_and_chinese(self):
        word = "red \u7535\u8def"
        status, body = self.raw_get(b"/s?q1=filetype:doc%20" + word.encode() + b"&pn=0")
        self.assertEqual(status, 200)
        links = anchors(body.decode(), ".doc")
        self.assertEqual(len(links), 10)
        self.assertTrue(links[0][1].startswith(word + " doc "), links[0][1])
        self.assertEqual(self.fetch(self.path_of(links[0][0]), "HEAD")[0], 200)
        status, body = self.raw_get(b"/i?tn=baiduimage&ct=201326592&cl=2&lm=-1&pv=&z=3&word=" +
                                    word.encode() + b"&z=0")
        self.assertEqual(status, 200)
        pictures = image_link_pattern(self.host).findall(body.decode())
        self.assertEqual(len(pictures), 19)
        self.assertIn(search_service.quote_word(word), pictures[-1])

    def test_list_names_every_file_a_task_saves(self):
        _, _, body = self.fetch("/list?kind=pdf&word=abc&pages=1")
        listed = sorted(body.decode().split())
        expected = []
        for pn in (0, 10):
            _, _, page = self.fetch("/s?q1=filetype:pdf%%20abc&pn=%d" % pn)
            for href, _ in anchors(page.decode(), ".pdf"):
                status, headers, _ = self.fetch(self.path_of(href), "HEAD")
                if status == 200 and int(headers["Content-Length"]) >= 2000:
                    expected.append(href)
        self.assertEqual(listed, sorted(expected))
        self.assertEqual(self.fetch("/list?kind=exe&word=abc")[0], 404)


if __name__ == "__main__":
    unittest.main()
