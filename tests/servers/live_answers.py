"""What the local live stand-in (live_service.py) holds and answers, apart from its listeners:
the obfuscation of image addresses, the results of a keyword and where each one's file ends up,
the document result page, the image JSON, the redirector's answers, the refusals and the list
of the files a live task saves. Pure functions of their arguments, so the stand-in's routes and
its own tests can share them.
"""

import base64
import json
import os
import sys
import urllib.parse
import zlib

sys.dont_write_bytecode = True  # keep the source tree free of caches
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import search_service  # noqa: E402
from search_service import Answer, DOC_KINDS, IMAGE_FORMATS  # noqa: E402

REFUSAL_HOST = "wappass.baidu.com"
VERIFICATION_TITLE = "百度安全验证"
NEXT_PAGE = "下一页"
NO_RESULTS = "未找到相关结果"
WEB_STEP = 10
IMAGE_OFFSET_CAP = 1000

# The service's substitution of letters and digits in obfuscated addresses: plain -> encoded.
_DECODE_PAIRS = ("wa kb vc 1d je uf 2g ih ti 3j hk sl 4m gn 5o rp qq 6r fs pt 7u ev ow "
                 "81 d2 n3 94 c5 m6 07 b8 l9 a0").split()
_ENCODE = {plain: enc for enc, plain in _DECODE_PAIRS}
_DECODE = {enc: plain for enc, plain in _DECODE_PAIRS}
_TOKENS = ((":", "_z2C$q"), (".", "_z&e3B"), ("/", "AzdH3F"))


def encode_obj_url(url):
    """Obfuscates an address the way the image service writes objURL and fromURL."""
    out = []
    for c in url:
        token = next((t for p, t in _TOKENS if p == c), None)
        out.append(token if token else _ENCODE.get(c, c))
    return "".join(out)


def decode_obj_url(text):
    out, i = [], 0
    while i < len(text):
        for plain, token in _TOKENS:
            if text.startswith(token, i):
                out.append(plain)
                i += len(token)
                break
        else:
            out.append(_DECODE.get(text[i], text[i]))
            i += 1
    return "".join(out)


# ---------------------------------------------------------------------------------------------
# What the service holds.

class Options:
    def __init__(self, results=60, doc_size=4096, image_size=6000, refuse_web=(),
                 web_refusal="redirect", refuse_image=(), strict_headers=True,
                 cookie_domain=None, hotlink=False):
        self.results = results
        self.doc_size = doc_size
        self.image_size = image_size
        self.refuse_web = set(refuse_web)
        self.web_refusal = web_refusal  # redirect, page or alternate
        self.refuse_image = set(refuse_image)
        self.strict_headers = strict_headers
        self.cookie_domain = cookie_domain
        self.hotlink = hotlink  # pictures only for a request that names the image service

class Place:
    """Where the service is reachable: the https and the plain http host:port."""

    def __init__(self, https_host, http_host):
        self.https = https_host
        self.http = http_host or https_host
        self.plain_scheme = "http" if http_host else "https"

    def url(self, path, plain=False):
        return "%s://%s%s" % (self.plain_scheme if plain else "https",
                              self.http if plain else self.https, path)


def quote(word):
    return urllib.parse.quote(word, safe="")


def doc_title(kind, word, i):
    return "%s %s report %d" % (word, kind, i)


def doc_body(options, kind, word, i):
    seed = search_service.seed_of("live", kind, word, i)
    return search_service.make_document(kind, doc_title(kind, word, i),
                                        options.doc_size + seed % 1024)


def picture_body(options, fmt, word, i, size=None):
    seed = search_service.seed_of("live-image", word, i)
    return search_service.make_picture(fmt, seed, options.image_size + seed % 2048
                                       if size is None else size)


def doc_paths(kind, word, i):
    """(mu or None, final address path, plain http?, redirector answer) of document result i."""
    file_path = "/d/%s/%d.%s" % (quote(word), i, kind)
    variant = i % 6
    if variant == 0:
        return file_path, file_path, False, "302"
    if variant == 1:
        return None, file_path, False, "302"
    if variant == 2:
        return None, file_path, False, "meta"
    if variant == 3:
        return None, file_path, True, "script"
    if variant == 4:
        return "/xhop/2" + file_path, file_path, None, "302"
    return "/missing/%s/%d.%s" % (quote(word), i, kind), None, False, "302"


def doc_link_target(place, kind, word, i):
    """The address the redirector of result i names."""
    mu, final, plain, answer = doc_paths(kind, word, i)
    if i % 6 == 2:
        return place.url("/hop/2" + final)
    if mu:
        return place.url(mu)
    return place.url(final, plain=bool(plain))


def image_paths(word, i):
    """(picture path, final path, plain http?) of image result i; None final when missing."""
    fmt = IMAGE_FORMATS[i % 3]
    path = "/p/%s/%d.%s" % (quote(word), i, fmt)
    variant = i % 6
    if variant == 0:
        return path, path, False
    if variant == 1:
        return "/hop/2" + path, path, False
    if variant == 2:
        return path, path, True
    if variant == 3:
        return "/xhop/2" + path, path, None
    if variant == 4:
        mid = "/mid/%s/%d.jpg" % (quote(word), i)
        return mid, mid, False
    return "/missing/%s/%d.%s" % (quote(word), i, fmt), None, False


def final_url(place, path, plain):
    """Where a chain of hops ends: /xhop/2 switches scheme twice, so it ends on https."""
    return place.url(path, plain=bool(plain))


# ---------------------------------------------------------------------------------------------
# Answers.

def html_text(text):
    return search_service.html_text(text)


def link_token(kind, word, i):
    raw = ("%s|%d|%s" % (kind, i, word)).encode("utf-8")
    return base64.urlsafe_b64encode(raw).decode("ascii").rstrip("=")


def read_link_token(token):
    try:
        raw = base64.urlsafe_b64decode(token + "=" * (-len(token) % 4)).decode("utf-8")
        kind, number, word = raw.split("|", 2)
        return kind, int(number), word
    except (ValueError, UnicodeDecodeError):
        return None


def web_page(options, place, kind, word, pn):
    blocks = []
    end = min(pn + WEB_STEP, options.results)
    for i in range(pn, end):
        mu, _, _, _ = doc_paths(kind, word, i)
        mu_attr = ' mu="%s"' % html_text(place.url(mu)) if mu else ""
        link = place.url("/link?url=%s&wd=&eqid=%08x" % (link_token(kind, word, i),
                                                         zlib.crc32(word.encode())))
        blocks.append(
            '<div class="result c-container xpath-log new-pmd" srcid="1599" id="%d" '
            'tpl="se_com_default"%s><div class="c-container"><h3 class="c-title t _x7kQ2">'
            '<a href="%s" target="_blank"><em>%s</em> %s</a></h3>'
            '<div class="_c9f3a"><span class="c-color-gray2">%s</span> 全文共 %d 页</div>'
            '</div></div>' % (i + 1, mu_attr, html_text(link), html_text(word),
                              html_text(doc_title(kind, "", i).strip()), kind.upper(), i + 2))
    if blocks:
        # Ads among the results, as the service shows them: a promoted block whose title goes
        # through the click-through address, one marked only by its label with a landing page
        # as its mu, and a block of related searches that links the service itself.
        blocks.insert(0, '<div class="result c-container" data-tuiguang="1"><h3><a href="%s">'
                      '%s 广告一</a></h3></div>' % (html_text(place.url("/baidu.php?url=ad%d" % pn)),
                                                   html_text(word)))
        blocks.insert(2, '<div class="result c-container" mu="%s"><h3><a href="%s">%s 推广</a>'
                      '</h3><span class="c-gap-left">广告</span></div>'
                      % (html_text(place.url("/ad/landing%d.pdf" % pn)),
                         html_text(place.url("/ad/landing%d.pdf" % pn)), html_text(word)))
        blocks.append('<div class="result c-container"><h3><a href="%s">相关搜索</a></h3></div>'
                      % html_text(place.url("/s/related?wd=%s" % quote(word))))
        left = "\n".join(blocks)
    else:
        left = ('<div class="nors"><p>抱歉没有找到与<span>“%s”</span>相关的网页。</p>'
                '<p>%s</p></div>' % (html_text(word), NO_RESULTS))
    pager = ""
    if end < options.results:
        next_query = "/s?wd=%s&pn=%d&rn=10&ie=utf-8" % (quote(word + " filetype:" + kind), end)
        pager = ('<div id="page"><div class="page-inner_2jZi2"><a class="n" href="%s">%s &gt;'
                 '</a></div></div>' % (html_text(next_query), NEXT_PAGE))
    return ('<!DOCTYPE html><html><head><meta charset="utf-8"><title>%s filetype:%s_百度搜索'
            '</title><style>._x7kQ2{font-size:18px}</style><script>var bds={"pager":"%s"};'
            '</script></head><body><div id="wrapper"><div id="head"><a href="/">百度首页</a>'
            '</div><div id="container"><div id="content_left">\n%s\n</div>%s</div></div>'
            '</body></html>\n' % (html_text(word), kind, NEXT_PAGE, left, pager))


def verification_page():
    # About the size of the real one, with none of the result page's marks.
    filler = "".join('<div class="vcode-spin-%d"></div>' % k for k in range(30))
    return ('<!DOCTYPE html><html><head><meta charset="utf-8"><title>%s</title>'
            '<meta name="viewport" content="width=device-width"></head><body>'
            '<div id="wrapper"><div class="timeout hide"><p>网络不给力，请稍后重试</p></div>'
            '%s<a href="https://%s/static/captcha/tuxing.html">返回首页</a></div>'
            '</body></html>\n' % (VERIFICATION_TITLE, filler, REFUSAL_HOST)).encode("utf-8")


def web_refusal(options, place, target, number):
    style = options.web_refusal
    if style == "alternate":
        style = "redirect" if number % 2 else "page"
    if style == "page":
        return Answer(200, verification_page(), "text/html; charset=utf-8")
    location = ("https://%s/static/captcha/tuxing.html?&ak=c27bbc89afca0463650ac9bde68ebe06"
                "&backurl=%s&timestamp=%d&signature=0" % (REFUSAL_HOST,
                                                          quote(place.url(target)), number))
    return Answer(302, b"", "text/html", headers=[("Location", location)])


def image_refusal():
    body = {"antiFlag": 1, "message": "Forbid spider access", "bfe_log_id": "8613251707934405376"}
    return Answer(200, json.dumps(body).encode(), "application/json; charset=utf-8")


def image_item(options, place, word, i):
    fmt = IMAGE_FORMATS[i % 3]
    picture, _, plain = image_paths(word, i)
    variant = i % 6
    address = place.url(picture, plain=bool(plain))
    source_page = place.url("/page/%s/%d.html" % (quote(word), i))
    thumb = place.url("/thumb/%s/%d.jpg" % (quote(word), i))
    title = "<strong>%s</strong> picture %d" % (word, i)
    if i % 4 == 1:
        title = "<strong>%s</strong>'s picture %d" % (word, i)  # becomes \' in the answer
    item = {
        "adType": "0", "hasAspData": "0",
        "thumbURL": thumb, "middleURL": place.url("/mid/%s/%d.jpg" % (quote(word), i)),
        "hoverURL": thumb, "largeTnImageUrl": "", "pageNum": i, "bdSrcType": "0",
        "objURL": encode_obj_url(address), "fromURL": encode_obj_url(source_page),
        "fromURLHost": place.https, "width": 400 + i, "height": 300 + i, "type": fmt,
        "fromPageTitle": title, "fromPageTitleEnc": title.replace("<strong>", "")
                                                        .replace("</strong>", ""),
    }
    if variant in (0, 5):
        item["replaceUrl"] = [{"ObjURL": address, "FromURL": source_page}]
    elif variant == 1:
        item["replaceUrl"] = [{"ObjUrl": address, "FromUrl": source_page}]
    elif variant == 2:
        pass
    elif variant == 3:
        item["replaceUrl"] = []
    else:
        del item["objURL"]
    return item


def image_answer(options, place, word, pn, rn):
    rn = max(1, min(rn, 60))
    items = [image_item(options, place, word, i)
             for i in range(pn, min(pn + rn, options.results))]
    items.append({})
    if not items[:-1]:
        items.append({})
    doc = {"queryEnc": quote(word), "queryExt": word, "listNum": options.results,
           "displayNum": options.results * 37, "gsm": "%x" % (pn + rn),
           "bdFmtDispNum": "约%d" % (options.results * 37), "bdSearchTime": "",
           "isNeedAsyncRequest": 0, "bdIsClustered": "1", "data": items}
    text = json.dumps(doc, ensure_ascii=False)
    # The service escapes apostrophes, which strict JSON does not allow; only strings hold any.
    text = text.replace("'", "\\'")
    return Answer(200, text.encode("utf-8"), "text/javascript; charset=UTF-8")


def redirector(place, token, options):
    found = read_link_token(token)
    if not found or found[0] not in DOC_KINDS:
        return search_service.not_found()
    kind, i, word = found
    target = doc_link_target(place, kind, word, i)
    _, _, _, answer = doc_paths(kind, word, i)
    if answer == "meta":
        page = ('<html><head><noscript><META http-equiv="refresh" content="0;URL=\'%s\'">'
                '</noscript></head><body></body></html>\n' % html_text(target))
        return Answer(200, page.encode("utf-8"), "text/html; charset=utf-8")
    if answer == "script":
        escaped = target.replace("/", "\\/")
        page = ('<html><head><script>window.location.replace("%s")</script></head>'
                '<body></body></html>\n' % escaped)
        return Answer(200, page.encode("utf-8"), "text/html; charset=utf-8")
    return Answer(302, b"", "text/html", headers=[("Location", target)])


def live_list(options, place, kind, word, pages):
    """Final addresses of the files a live task walking `pages` result pages saves."""
    found = []
    if kind == "image":
        for page in range(pages):
            pn = page * 30
            if pn >= min(options.results, IMAGE_OFFSET_CAP):
                break
            for i in range(pn, min(pn + 30, options.results)):
                _, final, plain = image_paths(word, i)
                if final:
                    found.append(final_url(place, final, plain))
    else:
        for page in range(pages):
            pn = page * WEB_STEP
            if pn >= options.results:
                break
            for i in range(pn, min(pn + WEB_STEP, options.results)):
                _, final, plain, _ = doc_paths(kind, word, i)
                if final:
                    found.append(final_url(place, final, plain))
    return found
