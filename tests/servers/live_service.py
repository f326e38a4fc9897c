#!/usr/bin/env python3
"""A local stand-in for the search service as it answers today, for the live mode's tests
and demonstration: https with a certificate of a test authority made at start-up by openssl,
session cookies, image results as JSON for a script, document results whose links go through
a redirector, refusals, and files behind https and behind redirects.

It listens on 127.0.0.1 twice: https on --port and plain http on --http-port (-1: none), both
answering the same addresses, so that redirects can switch between the two. It prints three
lines on standard output: the https port, the http port (0 when none) and the path of the
test authority's certificate (ca.pem in --cert-dir, or in a temporary folder).

Addresses (HOST is 127.0.0.1:PORT of the listener asked):
  /                         hands out the session cookies (BAIDUID, BIDUPSID, PSTM, BDSVRTM);
                            result pages are refused without a BAIDUID it handed out
  /s?wd=K%20filetype%3Apdf&pn=P&rn=10&ie=utf-8
                            document results: div.c-container blocks in #content_left, "下一页"
                            while more follow, "未找到相关结果" past the end
  /search/acjson?tn=resultjson_com&...&word=K&pn=P&rn=R
                            image results as JSON with listNum and data; strings escape
                            apostrophes as \\' and the list ends in empty {} items; with
                            --strict-headers (the default) it also wants the Referer
                            https://HOST/ and X-Requested-With: XMLHttpRequest
  /link?url=TOKEN           the redirector (302, or a 200 page with a refresh or a script)
  /d/K/I.EXT  /p/K/I.FMT  /mid/K/I.jpg  /thumb/K/I.jpg
                            documents, pictures, the middle-sized and the thumbnail pictures
  /hop/N/REST               302 to /hop/N-1/REST on the same scheme; /hop/0/REST is /REST
  /xhop/N/REST              the same, switching between https and http at every hop
  /missing/...              404
  /size/N/NAME.EXT          a file of exactly N bytes
  /list?kind=K&word=W&pages=P
                            the final addresses of the files a live task of kind K (image, doc,
                            ppt, pdf, xls) walking P result pages saves, one a line
  /_stats                   counters as JSON: cookie hand-outs, result pages, refusals, ...

Result i of a keyword (0-based), documents:
  i % 6 == 0  mu: the https file; its title link is the redirector (a 302)
  i % 6 == 1  no mu; redirector 302 to the https file
  i % 6 == 2  no mu; redirector page with a refresh to the file behind two https redirects
  i % 6 == 3  no mu; redirector page with window.location.replace to the file over plain http
  i % 6 == 4  mu: the file behind two redirects that switch scheme
  i % 6 == 5  mu: a missing file (404)
pictures:
  i % 6 == 0  replaceUrl[0].ObjURL: the https picture (objURL, obfuscated, says the same)
  i % 6 == 1  replaceUrl[0].ObjUrl: the picture behind two https redirects
  i % 6 == 2  no replaceUrl; the obfuscated objURL names the picture over plain http
  i % 6 == 3  an empty replaceUrl; objURL names the picture behind scheme-switching redirects
  i % 6 == 4  neither: middleURL, a middle-sized picture on the service
  i % 6 == 5  replaceUrl[0].ObjURL: a missing picture (404)
Without a plain http listener the plain-http cases stay on https.

Refusals on purpose: --refuse-web 2,5 refuses the 2nd and 5th document result-page requests
(as a 302 to the verification host, or with --web-refusal page as the verification page, or
alternating with --web-refusal alternate); --refuse-image 3 the 3rd image request. Counting
includes refused requests, so a retry of a refused page gets through.
"""

import argparse
import json
import os
import signal
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import http.server
import time
import urllib.parse
import zlib

sys.dont_write_bytecode = True  # keep the source tree free of caches
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import search_service  # noqa: E402
from search_service import Answer, CONTENT_TYPES, DOC_KINDS, IMAGE_FORMATS  # noqa: E402
# The answers themselves (live_answers.py); the tests reach some of them through this module.
from live_answers import (  # noqa: E402,F401
    NEXT_PAGE, NO_RESULTS, Options, Place, decode_obj_url, doc_body, image_answer,
    image_refusal, live_list, picture_body, redirector, web_page, web_refusal)


# ---------------------------------------------------------------------------------------------
# Certificates.

def make_certificates(folder, names=("localhost",), addresses=("127.0.0.1",)):
    """Makes a test authority and a server certificate for `names` and `addresses` in `folder`
    with openssl; returns (ca.pem, server.pem, server.key)."""
    os.makedirs(folder, exist_ok=True)
    ca_key, ca_pem = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.pem")
    key, csr = os.path.join(folder, "server.key"), os.path.join(folder, "server.csr")
    pem, ext = os.path.join(folder, "server.pem"), os.path.join(folder, "server.ext")
    curve = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run = lambda *args: subprocess.run(["openssl", *args], check=True, capture_output=True)
    run("req", "-x509", *curve, "-keyout", ca_key, "-out", ca_pem, "-days", "3",
        "-subj", "/CN=Quarry Test Authority",
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run("req", *curve, "-keyout", key, "-out", csr, "-subj", "/CN=%s" % names[0])
    alt = ",".join(["DNS:%s" % n for n in names] + ["IP:%s" % a for a in addresses])
    with open(ext, "w") as f:
        f.write("subjectAltName=%s\nbasicConstraints=CA:FALSE\n"
                "keyUsage=critical,digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\n" % alt)
    run("x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-CAcreateserial",
        "-out", pem, "-days", "3", "-extfile", ext)
    return ca_pem, pem, key


# ---------------------------------------------------------------------------------------------
# What the service holds.

class State:
    """What both listeners share: issued cookies and counters."""

    def __init__(self):
        self.lock = threading.Lock()
        self.issued = set()
        self.stats = {"cookie_handouts": 0, "web_pages": 0, "image_pages": 0, "refused_web": 0,
                      "refused_image": 0, "redirector": 0, "files": 0, "ads": 0,
                      "hotlink_refused": 0}

    def count(self, name):
        with self.lock:
            self.stats[name] += 1
            return self.stats[name]


def has_cookie(handler, state):
    cookies = handler.headers.get("Cookie", "")
    for part in cookies.split(";"):
        name, _, value = part.strip().partition("=")
        if name == "BAIDUID" and value in state.issued:
            return True
    return False


def cookie_answer(options, state):
    number = state.count("cookie_handouts")
    baiduid = "%08X%08X%08X%08X:FG=1" % tuple(zlib.crc32(b"%d-%d" % (number, k)) for k in range(4))
    with state.lock:
        state.issued.add(baiduid)
    expires = time.strftime("%a, %d-%b-%y %H:%M:%S GMT", time.gmtime(time.time() + 365 * 86400))
    domain = "; domain=%s" % options.cookie_domain if options.cookie_domain else ""
    headers = [
        ("Set-Cookie", "BAIDUID=%s; expires=%s; max-age=31536000; path=/%s; version=1; "
                       "comment=bd" % (baiduid, expires, domain)),
        ("Set-Cookie", "BIDUPSID=%s; expires=Thu, 31-Dec-37 23:55:55 GMT; max-age=2147483647; "
                       "path=/%s" % (baiduid[:32], domain)),
        ("Set-Cookie", "PSTM=%d; expires=Thu, 31-Dec-37 23:55:55 GMT; max-age=2147483647; "
                       "path=/%s" % (int(time.time()), domain)),
        ("Set-Cookie", "BDSVRTM=0; path=/"),
    ]
    page = "<!DOCTYPE html><html><head><title>百度一下，你就知道</title></head><body></body></html>\n"
    return Answer(200, page.encode("utf-8"), "text/html; charset=utf-8", headers=headers)


def hop(place, listener_tls, rest, hops, switch):
    """The 302 of /hop/N/REST or /xhop/N/REST."""
    prefix = "/xhop/%d" if switch else "/hop/%d"
    path = (prefix % (hops - 1) + rest) if hops > 1 else rest
    plain = listener_tls if switch else not listener_tls
    return Answer(302, b"", "text/html", headers=[("Location", place.url(path, plain=plain))])


def route(handler, options, state, place, listener_tls):
    target = handler.path
    path, _, query = target.partition("?")
    fields = search_service.parse_query(query)
    parts = [urllib.parse.unquote(p, errors="replace") for p in path.split("/")[1:]]
    if path == "/":
        return cookie_answer(options, state)
    if path == "/_stats":
        with state.lock:
            body = json.dumps(state.stats).encode()
        return Answer(200, body, "application/json")
    if path == "/s":
        number = state.count("web_pages")
        if number in options.refuse_web or not has_cookie(handler, state):
            state.count("refused_web")
            return web_refusal(options, place, target, number)
        wd = fields.get("wd", "")
        word, _, kind = wd.rpartition(" filetype:")
        if kind not in DOC_KINDS:
            word, kind = wd, "pdf"
        pn = search_service.offset_of(fields)
        return Answer(200, web_page(options, place, kind, word, pn).encode("utf-8"),
                      "text/html; charset=utf-8")
    if path == "/search/acjson":
        number = state.count("image_pages")
        referer_ok = handler.headers.get("Referer", "").startswith("https://%s/" % place.https)
        script_ok = handler.headers.get("X-Requested-With", "") == "XMLHttpRequest"
        # The service's own script names the keyword twice, as queryWord and as word.
        query_ok = fields.get("queryWord") == fields.get("word")
        if (number in options.refuse_image or not has_cookie(handler, state) or
                (options.strict_headers and not (referer_ok and script_ok and query_ok))):
            state.count("refused_image")
            return image_refusal()
        try:
            rn = int(fields.get("rn", "30") or "30")
        except ValueError:
            rn = 30
        return image_answer(options, place, fields.get("word", ""),
                            search_service.offset_of(fields), rn)
    if path in ("/baidu.php", "/aclick") or path.startswith("/ad/") or path == "/s/related":
        # An ad's click-through or landing page, or a page of the service that is no result:
        # a polite client never asks for one.
        state.count("ads")
        return Answer(200, b"<html><body>ad</body></html>", "text/html; charset=utf-8")
    if path == "/link":
        state.count("redirector")
        return redirector(place, fields.get("url", ""), options)
    if path == "/list":
        kind = fields.get("kind", "image")
        if kind != "image" and kind not in DOC_KINDS:
            return search_service.not_found()
        try:
            pages = int(fields.get("pages", "1"))
        except ValueError:
            pages = 1
        text = "".join(u + "\n" for u in live_list(options, place, kind, fields.get("word", ""),
                                                    pages))
        return Answer(200, text.encode("utf-8"), "text/plain; charset=utf-8")
    if parts and parts[0] in ("hop", "xhop") and len(parts) >= 3 and parts[1].isdigit():
        rest = "/" + "/".join(path.split("/")[3:])
        hops = int(parts[1])
        if hops == 0:
            handler.path = rest + ("?" + query if query else "")
            return route(handler, options, state, place, listener_tls)
        return hop(place, listener_tls, rest, min(hops, 20), parts[0] == "xhop")
    name_ext = parts[-1].rsplit(".", 1) if parts and "." in parts[-1] else None
    number = name_ext[0] if name_ext else ""
    ext = name_ext[1].lower() if name_ext else ""
    if len(parts) == 3 and number.isdigit():
        word, i = parts[1], int(number)
        if parts[0] == "d" and ext in DOC_KINDS:
            state.count("files")
            return Answer(200, doc_body(options, ext, word, i), CONTENT_TYPES[ext])
        referer = handler.headers.get("Referer", "")
        if (options.hotlink and parts[0] in ("p", "mid") and
                not referer.startswith("https://%s/" % place.https)):
            # Hot-link protection: a picture asked for from elsewhere is refused.
            state.count("hotlink_refused")
            return Answer(403, b"forbidden", "text/plain")
        if parts[0] == "p" and ext == IMAGE_FORMATS[i % 3] and i % 6 != 5:
            state.count("files")
            return Answer(200, picture_body(options, ext, word, i), CONTENT_TYPES[ext])
        if parts[0] == "mid" and ext == "jpg":
            state.count("files")
            return Answer(200, picture_body(options, "jpg", word, i), CONTENT_TYPES["jpg"])
        if parts[0] == "thumb" and ext == "jpg":
            return Answer(200, picture_body(options, "jpg", word, i, size=0), CONTENT_TYPES["jpg"])
    if parts and parts[0] == "size" and len(parts) == 3 and parts[1].isdigit():
        size = min(int(parts[1]), 256 << 20)
        return Answer(200, search_service.exact_file(parts[2], size),
                      CONTENT_TYPES.get(ext, "application/octet-stream"))
    return search_service.not_found()


# ---------------------------------------------------------------------------------------------
# The HTTP side.

class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "BWS/1.1"
    timeout = 30
    disable_nagle_algorithm = True

    def setup(self):
        super().setup()
        if isinstance(self.request, ssl.SSLSocket):
            self.request.do_handshake()  # here, in the request's thread, under its time limit

    def log_message(self, fmt, *args):
        if self.server.verbose:
            sys.stderr.write("%s\n" % (fmt % args))

    def answer(self, send_body):
        server = self.server
        a = route(self, server.options, server.state, server.place, server.tls)
        search_service.send_answer(self, a, send_body)

    def do_HEAD(self):
        self.answer(send_body=False)

    def do_GET(self):
        self.answer(send_body=True)


class Listener(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 128

    def __init__(self, port, context, options, state, verbose):
        super().__init__(("127.0.0.1", port), Handler)
        self.context = context
        self.tls = context is not None
        self.options = options
        self.state = state
        self.verbose = verbose
        self.place = None

    def get_request(self):
        connection, address = super().get_request()
        if self.context is not None:
            # The handshake waits for the request's thread, so a silent client blocks no one.
            connection = self.context.wrap_socket(connection, server_side=True,
                                                  do_handshake_on_connect=False)
        return connection, address

    def handle_error(self, request, client_address):
        # Clients that hang up, or refuse the certificate as a test asks them to, are no fault.
        if isinstance(sys.exc_info()[1], (ConnectionError, ssl.SSLError, TimeoutError)):
            return
        super().handle_error(request, client_address)


class LiveService:
    """Both listeners and what they share; start() runs them in background threads."""

    def __init__(self, options=None, port=0, http_port=0, cert_dir=None, verbose=False):
        self.options = options or Options()
        self.state = State()
        self._temp = None
        if cert_dir is None:
            self._temp = tempfile.TemporaryDirectory(prefix="quarry-live-")
            cert_dir = self._temp.name
        self.ca, cert, key = make_certificates(cert_dir)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        self.https = Listener(port, context, self.options, self.state, verbose)
        self.http = (Listener(http_port, None, self.options, self.state, verbose)
                     if http_port >= 0 else None)
        place = Place("127.0.0.1:%d" % self.https.server_address[1],
                      "127.0.0.1:%d" % self.http.server_address[1] if self.http else None)
        for listener in (self.https, self.http):
            if listener:
                listener.place = place
        self.place = place
        self.https_port = self.https.server_address[1]
        self.http_port = self.http.server_address[1] if self.http else 0

    def start(self):
        for listener in (self.https, self.http):
            if listener:
                threading.Thread(target=listener.serve_forever, daemon=True).start()
        return self

    def stop(self):
        for listener in (self.https, self.http):
            if listener:
                listener.shutdown()
                listener.server_close()
        if self._temp:
            self._temp.cleanup()


def numbers(text):
    return [int(n) for n in text.split(",") if n.strip()] if text else []


def main(argv=None):
    parser = argparse.ArgumentParser(description="Local live search service for Quarry.")
    parser.add_argument("--port", type=int, default=0, help="https port on 127.0.0.1 (0: free)")
    parser.add_argument("--http-port", type=int, default=0,
                        help="plain http port on 127.0.0.1 (0: free, -1: none)")
    parser.add_argument("--cert-dir", help="folder for the test certificates (default: temporary)")
    parser.add_argument("--results", type=int, default=60, help="results per keyword")
    parser.add_argument("--doc-size", type=int, default=4096, help="base size of a document")
    parser.add_argument("--image-size", type=int, default=6000, help="base size of a picture")
    parser.add_argument("--refuse-web", default="", help="document page requests to refuse: 2,5")
    parser.add_argument("--web-refusal", choices=("redirect", "page", "alternate"),
                        default="redirect", help="how document pages are refused")
    parser.add_argument("--refuse-image", default="", help="image page requests to refuse: 3")
    parser.add_argument("--lax-headers", action="store_true",
                        help="answer image requests without Referer and X-Requested-With")
    parser.add_argument("--cookie-domain", help="Domain attribute of the session cookies")
    parser.add_argument("--verbose", action="store_true", help="log every request on stderr")
    args = parser.parse_args(argv)
    if args.results < 0 or args.doc_size < 0 or args.image_size < 0:
        parser.error("sizes and counts must not be negative")
    try:
        options = Options(args.results, args.doc_size, args.image_size, numbers(args.refuse_web),
                          args.web_refusal, numbers(args.refuse_image), not args.lax_headers,
                          args.cookie_domain)
    except ValueError:
        parser.error("--refuse-web and --refuse-image take numbers separated by commas")
    service = LiveService(options, args.port, args.http_port, args.cert_dir, args.verbose)
    print(service.https_port, flush=True)
    print(service.http_port, flush=True)
    print(service.ca, flush=True)
    service.start()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))  # so that the certificates go too
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass
    finally:
        service.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
