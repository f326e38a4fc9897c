#!/usr/bin/env python3
"""A local stand-in for the search engine, for tests, demonstrations and benchmarks.

It answers the two kinds of result-page address that Quarry builds:
  /s?q1=filetype:pdf%20KEYWORD&pn=N          web search, documents of one kind
  /i?...&word=KEYWORD...&pn=N                image search
and serves the files those pages point to, all on itself. Everything it answers is a pure
function of the keyword, the result number and the options, so two runs give the same bytes.

Result page shapes (what the harvester relies on):
  documents: one `<a href="http://HOST:PORT/...">title</a>` anchor per result whose address
             contains the kind's extension;
  images:    one picture address http://HOST:PORT/...jpg|.gif|.bmp per result, each followed by
             a quote and a blank, and (with --next-links) one link to the next result page in
             the exact shape of the image link pattern.

Result i of a keyword (0-based) is, for documents,
  i % 7 == 3   a short document (under 2000 bytes)
  i % 7 == 5   a download address with a query, named by Content-Disposition
  i % 7 == 6   a missing file (404)
  otherwise    a document of about --doc-size bytes
and for pictures i % 9 == 4 is a tiny picture, i % 9 == 8 a missing one, the rest about
--image-size bytes; the picture format cycles jpg, gif, bmp.

Further addresses, for tests:
  /size/N/NAME.EXT          a file of exactly N bytes
  /slow/N/MS/NAME.EXT       N bytes sent in 1 KB pieces with MS milliseconds between them
  /txt/EXT/KEYWORD/list.TXT the first result page of documents of EXT, served as text/plain
  /list?kind=K&word=W&pages=P
                            the addresses of the files a task of kind K (image, doc, ppt, pdf,
                            xls) with P result pages will save, one a line, in no set order
  /copy/K/NAME.EXT          picture K (a number): the same bytes under every NAME
                            (--extra lists such paths on the image result pages)
  /fault/F/NAME.EXT         a file that fails as F says: 404, 403, 503 (until /heal is asked
                            for, then a JPEG of 5000 bytes), cut (6000 bytes announced, 3000
                            sent, closed), stall (3000 of 6000 sent, then two seconds of
                            silence), notype (no Content-Type), tiny (500 bytes), nolength (no
                            Content-Length; the body ends when the connection closes)

Every file answer carries Content-Length, answers HEAD and GET, and honours "Range: bytes=".
The first line on standard output is the port, so a caller can ask for port 0.
"""

import argparse
import http.server
import re
import socketserver
import sys
import threading
import time
import urllib.parse

# The file makers live beside this service; they stay reachable as search_service.make_jpeg...
from sample_files import (  # noqa: F401
    exact_file, make_bmp, make_document, make_gif, make_jpeg, make_office, make_pdf,
    make_picture, seed_of)

DOC_KINDS = ("doc", "ppt", "pdf", "xls")
IMAGE_FORMATS = ("jpg", "gif", "bmp")
CONTENT_TYPES = {
    "doc": "application/msword",
    "ppt": "application/vnd.ms-powerpoint",
    "pdf": "application/pdf",
    "xls": "application/vnd.ms-excel",
    "jpg": "image/jpeg",
    "gif": "image/gif",
    "bmp": "image/bmp",
}
IMAGE_STEP = 18  # the harvester advances image result pages by 18
DOC_STEP = 10    # and document result pages by 10


class Options:
    def __init__(self, results=60, per_page=10, image_per_page=18, doc_size=4096,
                 image_size=6000, next_links=True, paging=1, repeat_links=False, dead_link="",
                 extra=()):
        self.results = results
        self.per_page = per_page
        self.image_per_page = image_per_page
        self.doc_size = doc_size
        self.image_size = image_size
        self.next_links = next_links
        self.paging = paging              # image pages linked after each one, as a paging bar
        self.repeat_links = repeat_links  # each picture twice, and picture 0 on every page
        self.dead_link = dead_link        # an address listed 200 times on every image page
        self.extra = tuple(extra)         # paths on this service listed on every image page


# ---------------------------------------------------------------------------------------------
# The catalogue: what result i of a keyword is.

class Result:
    def __init__(self, path, status, body, disposition=None, title=""):
        self.path = path          # path and query on this service
        self.status = status      # 200 or 404
        self.body = body          # bytes served (for 404 the error page)
        self.disposition = disposition
        self.title = title


def quote_word(word):
    return urllib.parse.quote(word, safe="")


def document_result(options, kind, word, i):
    word = word.lower()  # the harvester lower-cases document links, so they are keyed in lower case
    q = quote_word(word)
    title = "%s %s %d" % (word, kind, i)
    seed = seed_of(kind, word, i)
    size = options.doc_size + seed % 1024
    if i % 7 == 3:
        size = 1000 + seed % 900
    if i % 7 == 5:
        path = "/dl?k=%s&n=%d&type=.%s" % (q, i, kind)
        return Result(path, 200, make_document(kind, title, size), "report-%d.%s" % (i, kind), title)
    if i % 7 == 6:
        return Result("/missing/%s/%d.%s" % (q, i, kind), 404, b"", None, title)
    return Result("/d/%s/%d.%s" % (q, i, kind), 200, make_document(kind, title, size), None, title)


def image_result(options, word, i):
    q = quote_word(word)
    fmt = IMAGE_FORMATS[i % 3]
    seed = seed_of("image", word, i)
    if i % 9 == 8:
        return Result("/missing/%s/%d.%s" % (q, i, fmt), 404, b"")
    size = 0 if i % 9 == 4 else options.image_size + seed % 2048
    return Result("/p/%s/%d.%s" % (q, i, fmt), 200, make_picture(fmt, seed, size))


def parse_query(query):
    """Splits a query without turning '+' into a blank; values are percent-decoded."""
    fields = {}
    for part in query.split("&"):
        name, _, value = part.partition("=")
        fields.setdefault(name, urllib.parse.unquote(value, errors="replace"))
    return fields


def offset_of(fields):
    try:
        return max(0, int(fields.get("pn", "0") or "0"))
    except ValueError:
        return 0


# ---------------------------------------------------------------------------------------------
# Result pages.

def web_page(options, host, kind, word, pn):
    items = []
    for i in range(pn, min(pn + options.per_page, options.results)):
        r = document_result(options, kind, word, i)
        items.append('<div class="result"><h3><a href="http://%s%s" target="_blank">%s</a></h3>'
                     '<p>Result %d for %s</p></div>' % (host, r.path, html_text(r.title), i, html_text(word)))
    return ("<html><head><meta charset=\"utf-8\"><title>%s</title></head><body>\n%s\n</body></html>\n"
            % (html_text(word), "\n".join(items) or "<p>No more results.</p>"))


def image_page_link(host, word, pn):
    return ("http://%s/i?z=0&cl=2&ct=201326592&sn=&lm=-1&cm=1&sc=0&bu=&rn=21&tn=baiduimage"
            "&word=%s&pn=%d" % (host, quote_word(word), pn))


def next_image_pages(options, pn):
    """The offsets of the image pages that page `pn` links to."""
    if not options.next_links:
        return []
    starts = [pn + options.image_per_page * k for k in range(1, options.paging + 1)]
    return [start for start in starts if start < options.results]


def image_page(options, host, word, pn):
    lines = []
    end = min(pn + options.image_per_page, options.results)
    numbers = list(range(pn, end))
    if options.repeat_links:
        numbers = [0] + [i for i in numbers for _ in range(2)]
    for i in numbers:
        r = image_result(options, word, i)
        lines.append('<li><img src="http://%s%s" alt="picture %d"></li>' % (host, r.path, i))
    if options.dead_link:
        lines.extend('<li><img src="%s"></li>' % options.dead_link for _ in range(200))
    lines.extend('<li><img src="http://%s%s" alt="extra"></li>' % (host, path)
                 for path in options.extra)
    for start in next_image_pages(options, pn):
        lines.append('<p class="pages"><a href="%s" >next</a></p>'
                     % image_page_link(host, word, start))
    return ("<html><head><meta charset=\"utf-8\"><title>%s</title></head><body><ul>\n%s\n</ul></body></html>\n"
            % (html_text(word), "\n".join(lines) or "<li>No more pictures.</li>"))


def html_text(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")


def harvest_list(options, host, kind, word, pages):
    """The addresses a task would save: every good, long enough file on every page it walks,
    each once (a picture page reached twice leads to its pictures twice; the second time the
    harvester skips them)."""
    step = IMAGE_STEP if kind == "image" else DOC_STEP
    todo = [0] + [step * k for k in range(1, pages + 1)]
    found = []
    seen = set()
    while todo:
        pn = todo.pop()
        if kind == "image":
            end = min(pn + options.image_per_page, options.results)
            numbers = range(pn, end)
            todo.extend(next_image_pages(options, pn))
            results = [image_result(options, word, i) for i in numbers]
        else:
            numbers = range(pn, min(pn + options.per_page, options.results))
            results = [document_result(options, kind, word, i) for i in numbers]
        for r in results:
            address = "http://%s%s" % (host, r.path)
            if r.status == 200 and len(r.body) >= 2000 and address not in seen:
                seen.add(address)
                found.append(address)
    return found


# ---------------------------------------------------------------------------------------------
# The HTTP side.

class Answer:
    def __init__(self, status, body, content_type, disposition=None, pause=0.0, headers=()):
        self.status = status
        self.body = body
        self.content_type = content_type
        self.disposition = disposition
        self.pause = pause  # seconds between 1 KB pieces (slow files)
        self.headers = list(headers)  # further (name, value) header lines


def request_counts(counts):
    """The requests served so far, one line each: count, method, target."""
    text = "".join("%d %s\n" % (n, key) for key, n in sorted(counts.items()))
    return Answer(200, text.encode("utf-8"), "text/plain; charset=utf-8")


def route(options, host, target):
    path, _, query = target.partition("?")
    fields = parse_query(query)
    parts = [urllib.parse.unquote(p, errors="replace") for p in path.split("/")[1:]]
    lower = path.lower()
    if path == "/s":
        q1 = fields.get("q1", "")
        kind = "pdf"
        if q1.startswith("filetype:"):
            kind, _, word = q1[len("filetype:"):].partition(" ")
        else:
            word = q1
        if kind not in DOC_KINDS:
            return Answer(200, web_page(options, host, "pdf", word, 10 ** 9).encode(), "text/html")
        return Answer(200, web_page(options, host, kind, word, offset_of(fields)).encode("utf-8"),
                      "text/html; charset=utf-8")
    if path == "/i":
        page = image_page(options, host, fields.get("word", ""), offset_of(fields))
        return Answer(200, page.encode("utf-8"), "text/html; charset=utf-8")
    if path == "/list":
        kind = fields.get("kind", "image")
        try:
            pages = int(fields.get("pages", "1"))
        except ValueError:
            pages = 1
        if kind != "image" and kind not in DOC_KINDS:
            return not_found()
        text = "".join(u + "\n" for u in harvest_list(options, host, kind, fields.get("word", ""), pages))
        return Answer(200, text.encode("utf-8"), "text/plain; charset=utf-8")
    ext = lower.rsplit(".", 1)[-1] if "." in lower.rsplit("/", 1)[-1] else ""
    if lower.startswith("/d/") and len(parts) == 3 and ext in DOC_KINDS:
        i = parts[2].split(".")[0]
        if i.isdigit():
            r = document_result(options, ext, parts[1], int(i))
            if r.status == 200 and r.disposition is None:
                return Answer(200, r.body, CONTENT_TYPES[ext])
    if lower == "/dl":
        kind = fields.get("type", "").lstrip(".")
        n = fields.get("n", "")
        if kind in DOC_KINDS and n.isdigit():
            r = document_result(options, kind, fields.get("k", ""), int(n))
            if r.disposition:
                return Answer(200, r.body, CONTENT_TYPES[kind], r.disposition)
    if lower.startswith("/p/") and len(parts) == 3 and ext in IMAGE_FORMATS:
        i = parts[2].split(".")[0]
        if i.isdigit():
            r = image_result(options, parts[1], int(i))
            if r.status == 200 and r.path.lower() == lower:
                return Answer(200, r.body, CONTENT_TYPES[ext])
    if lower.startswith("/copy/") and len(parts) == 3 and parts[1].isdigit():
        return Answer(200, make_picture("jpg", seed_of("copy", parts[1]), options.image_size),
                      CONTENT_TYPES["jpg"])
    if lower.startswith("/size/") and len(parts) == 3 and parts[1].isdigit():
        size = min(int(parts[1]), 64 << 20)
        return Answer(200, exact_file(parts[2], size), CONTENT_TYPES.get(ext, "application/octet-stream"))
    if lower.startswith("/slow/") and len(parts) == 4 and parts[1].isdigit() and parts[2].isdigit():
        size = min(int(parts[1]), 64 << 20)
        return Answer(200, exact_file(parts[3], size), CONTENT_TYPES.get(ext, "application/octet-stream"),
                      pause=int(parts[2]) / 1000.0)
    if lower.startswith("/txt/") and len(parts) == 4 and parts[1].lower() in DOC_KINDS:
        page = web_page(options, host, parts[1].lower(), parts[2], 0)
        return Answer(200, page.encode("utf-8"), "text/plain; charset=utf-8")
    return not_found()


def not_found():
    return Answer(404, b"<html><body>Not found</body></html>\n", "text/html")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QuarrySearch/1.0"
    timeout = 30  # an idle kept-alive connection is closed after this many seconds
    # The head and the body go out in separate writes; without this a kept-alive client waits
    # for the delayed acknowledgement of the head before the body comes (about 40 ms a file).
    disable_nagle_algorithm = True

    def parse_request(self):
        # Quarry percent-encodes its keyword, but a client may send blanks and UTF-8 characters
        # unescaped in the request line (links copied from pages, older task files' addresses).
        # The target is everything between the method and the version; its blanks and
        # non-ASCII bytes are percent-encoded here, so the address splits into three words and
        # the keyword decodes as UTF-8 later.
        words = self.raw_requestline.rstrip(b"\r\n").split(b" ")
        if len(words) >= 3 and words[-1].startswith(b"HTTP/"):
            target = re.sub(rb"[ \x80-\xff]", lambda m: b"%%%02X" % m.group()[0],
                            b" ".join(words[1:-1]))
            self.raw_requestline = b" ".join((words[0], target, words[-1])) + b"\r\n"
        return super().parse_request()

    def log_message(self, fmt, *args):  # quiet: the harvester's own log tells the story
        if self.server.verbose:
            sys.stderr.write("%s\n" % (fmt % args))

    def do_HEAD(self):
        self.answer(send_body=False)

    def do_GET(self):
        self.answer(send_body=True)

    def answer(self, send_body):
        if self.path == "/requests":
            send_answer(self, request_counts(self.server.counts()), send_body)
            return
        self.server.count(self.command, self.path)
        if self.path == "/heal":
            self.server.healed = True
            send_answer(self, Answer(200, b"healed\n", "text/plain"), send_body)
            return
        if self.path.startswith("/fault/"):
            send_fault(self, self.path.split("/")[2], send_body)
            return
        send_answer(self, route(self.server.options, self.server.public_host, self.path), send_body)


def send_fault(handler, fault, send_body):
    """The answers of /fault/F/NAME (see the top of this file)."""
    body = exact_file("fault", 6000)
    if fault in ("404", "403") or (fault == "503" and not handler.server.healed):
        send_answer(handler, Answer(int(fault), b"<html>no</html>", "text/html"), send_body)
        return
    if fault == "503":
        send_answer(handler, Answer(200, make_jpeg(seed_of("healed"), 5000), "image/jpeg"),
                    send_body)
        return
    if fault == "tiny":
        send_answer(handler, Answer(200, exact_file("tiny", 500), "image/jpeg"), send_body)
        return
    handler.send_response(200)
    if fault != "notype":
        handler.send_header("Content-Type", "image/jpeg")
    if fault == "nolength":
        handler.send_header("Connection", "close")
        handler.close_connection = True
    else:
        handler.send_header("Content-Length", str(len(body)))
    handler.end_headers()
    if not send_body:
        return
    try:
        if fault in ("cut", "stall"):
            handler.wfile.write(body[:3000])
            handler.wfile.flush()
            if fault == "stall":
                time.sleep(2)
            handler.close_connection = True
        else:
            handler.wfile.write(body)
    except (BrokenPipeError, ConnectionResetError):
        handler.close_connection = True


def send_answer(handler, a, send_body):
    """Sends answer `a` through a request handler, honouring "Range: bytes=" for a 200."""
    body = a.body
    status = a.status
    first, last = 0, len(body) - 1
    ranged = handler.headers.get("Range", "")
    if status == 200 and ranged.startswith("bytes="):
        start, _, end = ranged[len("bytes="):].partition("-")
        if start.isdigit():
            first = int(start)
            if end.isdigit():
                last = min(int(end), len(body) - 1)
            if first >= len(body):
                handler.send_response(416)
                handler.send_header("Content-Range", "bytes */%d" % len(body))
                handler.send_header("Content-Length", "0")
                handler.end_headers()
                return
            status = 206
    piece = body[first:last + 1]
    handler.send_response(status)
    handler.send_header("Content-Type", a.content_type)
    handler.send_header("Content-Length", str(len(piece)))
    handler.send_header("Accept-Ranges", "bytes")
    if status == 206:
        handler.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, len(body)))
    if a.disposition:
        handler.send_header("Content-Disposition", 'attachment; filename="%s"' % a.disposition)
    for name, value in a.headers:
        handler.send_header(name, value)
    handler.end_headers()
    if not send_body:
        return
    try:
        if a.pause:
            for start in range(0, len(piece), 1024):
                handler.wfile.write(piece[start:start + 1024])
                handler.wfile.flush()
                time.sleep(a.pause)
        else:
            handler.wfile.write(piece)
    except (BrokenPipeError, ConnectionResetError):
        handler.close_connection = True


class Service(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 128

    def __init__(self, port, options, verbose=False):
        super().__init__(("127.0.0.1", port), Handler)
        self.options = options
        self.verbose = verbose
        self.public_host = "127.0.0.1:%d" % self.server_address[1]
        self._counts = {}
        self._counts_lock = threading.Lock()
        self.healed = False  # /fault/503/... answers with a file once /heal was asked for

    def count(self, method, target):
        with self._counts_lock:
            key = "%s %s" % (method, target)
            self._counts[key] = self._counts.get(key, 0) + 1

    def counts(self):
        with self._counts_lock:
            return dict(self._counts)

    def handle_error(self, request, client_address):
        # A client that hangs up in the middle of a request (a stopped task) is no fault of the
        # service; a trace of it would only clutter the demonstration's terminal.
        if isinstance(sys.exc_info()[1], ConnectionError):
            return
        super().handle_error(request, client_address)


def start_in_thread(options=None, port=0):
    """Starts a service on a free port in a background thread; returns it (call shutdown())."""
    service = Service(port, options or Options())
    threading.Thread(target=service.serve_forever, daemon=True).start()
    return service


def main(argv=None):
    parser = argparse.ArgumentParser(description="Local search service for Quarry's tests and demo.")
    parser.add_argument("--port", type=int, default=0, help="port on 127.0.0.1 (0: a free one)")
    parser.add_argument("--results", type=int, default=60, help="results per keyword")
    parser.add_argument("--per-page", type=int, default=10, help="documents per result page")
    parser.add_argument("--image-per-page", type=int, default=18, help="pictures per result page")
    parser.add_argument("--doc-size", type=int, default=4096, help="base size of a document")
    parser.add_argument("--image-size", type=int, default=6000, help="base size of a picture")
    parser.add_argument("--no-next-links", action="store_true",
                        help="leave the next-page link off image result pages")
    parser.add_argument("--paging", type=int, default=1,
                        help="image pages each image page links to, as a paging bar (default 1)")
    parser.add_argument("--repeat-links", action="store_true",
                        help="list each picture twice, and picture 0 on every image page")
    parser.add_argument("--dead-link", default="",
                        help="an address listed 200 times on every image page")
    parser.add_argument("--extra", action="append", default=[], metavar="PATH",
                        help="a path on this service (/fault/503/x.jpg, /copy/1/a.jpg) listed on "
                             "every image page after its pictures; may be repeated")
    parser.add_argument("--verbose", action="store_true", help="log every request on stderr")
    args = parser.parse_args(argv)
    for name in ("results", "per_page", "image_per_page", "doc_size", "image_size"):
        if getattr(args, name) < 0 or (name.endswith("per_page") and getattr(args, name) < 1):
            parser.error("--%s is out of range" % name.replace("_", "-"))
    if args.paging < 1:
        parser.error("--paging is out of range")
    options = Options(args.results, args.per_page, args.image_per_page, args.doc_size,
                      args.image_size, not args.no_next_links, args.paging, args.repeat_links,
                      args.dead_link, args.extra)
    service = Service(args.port, options, args.verbose)
    print(service.server_address[1], flush=True)
    try:
        service.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        service.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
