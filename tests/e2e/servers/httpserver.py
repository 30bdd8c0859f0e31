#!/usr/bin/env python3
"""Fault-injecting HTTP(S) file server for tests, loopback only, bounded.

Serves the files of --root on 127.0.0.1 and misbehaves on request, so that downloaders and manifest readers
can be tested against every way a real server goes wrong. Python 3 standard library only.

Start:
    httpserver.py --root DIR [--port 0] [--port-file F] [--log LOG.jsonl] [--control CONTROL.json]
                  [--cert CERT.pem --key KEY.pem] [--max-requests N] [--max-seconds T] [--chunk BYTES]

    --port 0 picks a free port; the chosen port is written to --port-file (and printed as "port N" on stdout).
    With --cert/--key the server speaks HTTPS (TLS) on the same port instead of plain HTTP; handshakes are
    logged ({"tls_hello": SNI} or {"tls_error": REASON, "sni": SNI}), so a client that refuses the
    certificate is still seen to have spoken TLS.
    The server stops by itself after --max-requests requests (default 2000) or --max-seconds (default 600),
    whichever comes first. It binds 127.0.0.1 only.

Choosing a behaviour (first match wins):
    1. The control file (--control), re-read at every request: a JSON object mapping a URL path (without
       query) to a mode object, e.g. {"/big.bin": {"mode": "drop", "after": 65536}}. A key "*" applies to
       every path. Tests rewrite the file between steps ("first request drops, the next one is served").
       A mode object may carry "times": N - it then applies to the next N requests of that path only
       (counted by the server) and the path is served normally afterwards - and "ranged": 1 - it then
       applies only to requests that carry a Range header (a server that answers ranges wrongly but
       serves a plain GET well).
    2. A path prefix naming the mode: /<mode>/<file>, e.g. /norange/big.bin serves big.bin ignoring Range.
       Parameters then come from the query string: /drop/big.bin?after=1000.
    3. Otherwise the file is served with Range honoured ("ok").

Modes (parameters in brackets):
    ok          honour "Range: bytes=N-" / "bytes=N-M" with 206 and Content-Range; 416 with
                "Content-Range: bytes */SIZE" when N >= SIZE; 200 without Range.
    norange     always 200 with the whole file, Range ignored.
    badrange    206 whose Content-Range (and body) start at the wrong offset [shift: bytes, default -1 i.e.
                one byte before the asked offset; "zero": 1 to always start at 0 while claiming 206].
    short       announce the full Content-Length but send only part of the body [after: bytes, default half],
                then close the connection cleanly.
    drop        send [after] bytes of the body (default half) and then reset the connection (RST).
    nolength    no Content-Length; the body ends when the connection closes (Range honoured) [after: close
                cleanly after this many bytes of the body, default all of it].
    portal      a captive portal: every request gets 200 with a small "Network login" HTML page (text/html,
                with Content-Length), whatever the path and Range.
    status      answer with [code] (e.g. 404, 500) and a small HTML body [retry_after: a Retry-After header with
                this value, seconds or an HTTP date; "date+N" is the date N seconds after the server's own clock,
                which its Date header carries].
    404, 500    shorthand for status with that code.
    416         always 416 with "Content-Range: bytes */SIZE" [size: the size to claim, default the real one].
    416bare     always 416 without Content-Range.
    slow        honour Range but send [chunk] bytes then sleep [delay] seconds (default 0.05) between chunks.
    stall       send [after] bytes then hold the connection open without sending for [delay] seconds
                (default 30), then close it.
    redirect    302 to [location] (default the same path with the mode prefix removed).
    ignoreifrange  like ok, but a Range is honoured even when If-Range names another version.
    gzip        like ok, with "Content-Encoding: gzip" claimed for the (unchanged) body.
CONNECT host:port is answered as an HTTPS proxy does, for loopback targets only: the bytes are relayed both
ways, and the request is logged with the target as its path; a proxy test points a client at this server.
Every file answer carries ETag (and Last-Modified for files on disk); "If-Range" naming another version
than the current one gets the whole file with 200.

Generated files: a path /gen/<size>/<name> serves <size> bytes of a fixed pattern (byte i = (i * 131 + i // 65536)
& 255) without touching the disk; the same pattern is produced by `python3 httpserver.py --make FILE SIZE`.

Log (--log): one JSON line per request, written when the request arrives and flushed at once:
    {"n": 1, "time": 12.3, "method": "GET", "path": "/big.bin", "query": "", "mode": "ok",
     "headers": {"Range": "bytes=1000-", ...}, "range": "bytes=1000-"}
and one line when the answer is done: {"n": 1, "done": true, "status": 206, "sent": 4096, "mode": "ok"}.
Header names keep the client's spelling; "range" repeats the Range header (null when absent).
"""
import argparse
import email.utils
import json
import os
import re
import selectors
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

MODES = {"ok", "norange", "badrange", "short", "drop", "nolength", "status", "404", "500", "416", "416bare",
         "slow", "stall", "redirect", "ignoreifrange", "gzip", "portal"}

# What a captive portal answers in place of any file (187 bytes).
PORTAL_PAGE = ("<html><head><title>Network login</title></head><body><form method=\"post\" action=\"/login\">"
               "Sign in to use this network:  <input name=\"access_code\"><input type=\"submit\"></form></body></html>")


def pattern_bytes(offset, length):
    """Bytes [offset, offset+length) of the generated pattern."""
    out = bytearray(length)
    for k in range(length):
        i = offset + k
        out[k] = (i * 131 + (i >> 16)) & 255
    return bytes(out)


class PatternSource:
    """A generated file: the pattern, produced in 64 KiB pieces that are cached by their index."""
    PIECE = 65536

    def __init__(self, size):
        self.size = size
        self._cache = {}
        self.etag, self.modified = '"gen-%d"' % size, None

    def read(self, offset, length):
        out = bytearray()
        end = min(self.size, offset + length)
        while offset < end:
            index, within = divmod(offset, self.PIECE)
            piece = self._cache.get(index)
            if piece is None:
                piece = pattern_bytes(index * self.PIECE, self.PIECE)
                if len(self._cache) < 64:
                    self._cache[index] = piece
            take = min(end - offset, self.PIECE - within)
            out += piece[within:within + take]
            offset += take
        return bytes(out)

    def close(self):
        pass


class FileSource:
    def __init__(self, path):
        self._f = open(path, "rb")
        st = os.fstat(self._f.fileno())
        self.size = st.st_size
        # Validators as common servers make them: a file rewritten in place gets new ones.
        self.etag = '"%x-%x"' % (st.st_mtime_ns, st.st_size)
        self.modified = email.utils.formatdate(st.st_mtime, usegmt=True)

    def read(self, offset, length):
        self._f.seek(offset)
        return self._f.read(length)

    def close(self):
        self._f.close()


class State:
    def __init__(self, args):
        self.args = args
        self.lock = threading.Lock()
        self.count = 0
        self.path_counts = {}
        self.log = open(args.log, "a", encoding="utf-8") if args.log else None
        self.started = time.monotonic()
        self.stop = threading.Event()

    def next_number(self):
        with self.lock:
            self.count += 1
            if self.count >= self.args.max_requests:
                self.stop.set()
            return self.count

    def write_log(self, record):
        if not self.log:
            return
        with self.lock:
            self.log.write(json.dumps(record, ensure_ascii=False) + "\n")
            self.log.flush()

    def control_mode(self, path):
        """The mode object the control file gives this path, honouring "times"."""
        if not self.args.control or not os.path.exists(self.args.control):
            return None
        try:
            with open(self.args.control, encoding="utf-8") as f:
                table = json.load(f)
        except (OSError, ValueError):
            return None
        entry = table.get(path, table.get("*"))
        if not isinstance(entry, dict):
            return None
        times = entry.get("times")
        if times is not None:
            key = (path, json.dumps(entry, sort_keys=True))
            with self.lock:
                used = self.path_counts.get(key, 0)
                if used >= int(times):
                    return None
                self.path_counts[key] = used + 1
        return entry


def relay(a, b, stop):
    """Copies bytes both ways between two sockets until one side closes; returns the bytes relayed."""
    total = 0
    with selectors.DefaultSelector() as sel:
        sel.register(a, selectors.EVENT_READ, b)
        sel.register(b, selectors.EVENT_READ, a)
        while not stop.is_set():
            for key, _ in sel.select(0.2):
                try:
                    data = key.fileobj.recv(65536)
                    if not data:
                        return total
                    key.data.sendall(data)
                except OSError:
                    return total
                total += len(data)
    return total


def parse_range(value, size):
    """(first, last) of a single "bytes=a-b" / "bytes=a-" / "bytes=-n" range, or None when absent or
    unusable. first may exceed size (the caller answers 416)."""
    if not value:
        return None
    m = re.fullmatch(r"\s*bytes\s*=\s*(\d*)\s*-\s*(\d*)\s*", value)
    if not m or (m.group(1) == "" and m.group(2) == ""):
        return None
    if m.group(1) == "":
        n = int(m.group(2))
        return (max(0, size - n), size - 1)
    first = int(m.group(1))
    last = int(m.group(2)) if m.group(2) else size - 1
    return (first, min(last, size - 1))


class Handler(BaseHTTPRequestHandler):
    server_version = "VantorixTestHTTP/1.0"
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *a):  # the JSON log replaces the default stderr lines
        pass

    def do_HEAD(self):
        self.handle_get(head=True)

    def do_GET(self):
        self.handle_get(head=False)

    def do_CONNECT(self):
        """Acts as a proxy for HTTPS: tunnels to a loopback host:port and relays both ways until either
        side closes (or the server stops). Logged like a request, with the target as its path."""
        self.n = self.state.next_number()
        self.mode = "connect"
        self.state.write_log({"n": self.n, "time": round(time.monotonic() - self.state.started, 3),
                              "method": "CONNECT", "path": self.path, "query": "", "mode": "connect",
                              "headers": dict(self.headers.items()), "range": None})
        host, _, port = self.path.rpartition(":")
        if host not in ("127.0.0.1", "localhost") or not port.isdigit():
            return self.plain(403, "<html><body>loopback targets only</body></html>")
        try:
            upstream = socket.create_connection(("127.0.0.1", int(port)), timeout=10)
        except OSError:
            return self.plain(502, "<html><body>target unreachable</body></html>")
        self.send_response(200, "Connection Established")
        self.end_headers()
        self.wfile.flush()
        relayed = relay(self.connection, upstream, self.state.stop)
        upstream.close()
        self.close_connection = True
        self.finish_log(200, relayed)

    # -- helpers ---------------------------------------------------------------------------------------
    def finish_log(self, status, sent):
        self.state.write_log({"n": self.n, "done": True, "status": status, "sent": sent, "mode": self.mode})

    def plain(self, code, text, extra=()):
        body = text.encode()
        self.send_response(code)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        for k, v in extra:
            self.send_header(k, v)
        self.end_headers()
        if not self.head:
            self.wfile.write(body)
        self.finish_log(code, len(body))

    def reset_connection(self):
        """Abort with RST so the client sees a cut, not an orderly end."""
        try:
            self.wfile.flush()
        except OSError:
            pass
        try:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        except OSError:
            pass
        self.close_connection = True
        try:
            self.connection.close()
        except OSError:
            pass

    def send_body(self, source, first, length, mode, params):
        """Sends length bytes from first; returns the number sent. Applies the cut modes."""
        chunk = int(params.get("chunk", self.state.args.chunk))
        delay = float(params.get("delay", 0.05 if mode == "slow" else 30))
        limit = length
        if mode in ("short", "drop", "stall"):
            limit = min(length, int(params.get("after", length // 2)))
        elif mode == "nolength" and "after" in params:
            limit = min(length, int(params["after"]))
        sent = 0
        while sent < limit and not self.state.stop.is_set():
            take = min(chunk, limit - sent)
            data = source.read(first + sent, take)
            if not data:
                break
            self.wfile.write(data)
            sent += len(data)
            if mode == "slow":
                self.wfile.flush()
                time.sleep(delay)
        self.wfile.flush()
        if mode == "stall":
            end = time.monotonic() + delay
            while time.monotonic() < end and not self.state.stop.is_set():
                time.sleep(0.05)
            self.close_connection = True
        elif mode == "drop":
            self.reset_connection()
        elif mode == "short":
            self.close_connection = True
        return sent

    def open_source(self, rel):
        m = re.fullmatch(r"/gen/(\d+)/[^/]+", rel)
        if m:
            return PatternSource(int(m.group(1)))
        root = os.path.realpath(self.state.args.root)
        path = os.path.realpath(os.path.join(root, urllib.parse.unquote(rel).lstrip("/")))
        if not (path == root or path.startswith(root + os.sep)) or not os.path.isfile(path):
            return None
        return FileSource(path)

    # -- the one request handler -----------------------------------------------------------------------
    def handle_get(self, head):
        self.head = head
        self.n = self.state.next_number()
        url = urllib.parse.urlsplit(self.path)
        rel = url.path
        params = dict(urllib.parse.parse_qsl(url.query))
        mode = "ok"
        entry = self.state.control_mode(rel)
        if entry is not None and entry.get("ranged") and self.headers.get("Range") is None:
            entry = {}
        if entry is not None:
            mode = str(entry.get("mode", "ok"))
            params.update({k: v for k, v in entry.items() if k not in ("mode", "times", "ranged")})
        else:
            parts = rel.split("/", 2)
            if len(parts) == 3 and parts[1] in MODES:
                mode = parts[1]
                rel = "/" + parts[2]
        self.mode = mode
        self.state.write_log({"n": self.n, "time": round(time.monotonic() - self.state.started, 3),
                              "method": self.command, "path": url.path, "query": url.query, "mode": mode,
                              "headers": dict(self.headers.items()), "range": self.headers.get("Range")})
        if mode in ("status", "404", "500"):
            code = int(params.get("code", mode if mode != "status" else 500))
            extra = []
            after = params.get("retry_after")
            if after is not None:
                if after.startswith("date+"):
                    after = email.utils.formatdate(time.time() + float(after[5:]), usegmt=True)
                extra.append(("Retry-After", after))
            return self.plain(code, "<html><body>error %d</body></html>" % code, extra)
        if mode == "portal":
            return self.plain(200, PORTAL_PAGE)
        if mode == "redirect":
            return self.plain(302, "moved", [("Location", params.get("location", rel))])
        source = self.open_source(rel)
        if source is None:
            return self.plain(404, "<html><body>not found</body></html>")
        try:
            self.serve_file(source, mode, params)
        finally:
            source.close()

    def serve_file(self, source, mode, params):
        size = source.size
        if mode == "416":
            claim = int(params.get("size", size))
            return self.plain(416, "range not satisfiable", [("Content-Range", "bytes */%d" % claim)])
        if mode == "416bare":
            return self.plain(416, "range not satisfiable")
        wanted = None if mode == "norange" else parse_range(self.headers.get("Range"), size)
        # If-Range naming another version than the current one: the whole file, as RFC 9110 asks.
        if_range = self.headers.get("If-Range")
        if wanted is not None and if_range and mode != "ignoreifrange" and if_range not in (source.etag, source.modified):
            wanted = None
        if wanted is not None and wanted[0] >= size:
            return self.plain(416, "range not satisfiable", [("Content-Range", "bytes */%d" % size)])
        if wanted is None:
            status, first, last = 200, 0, size - 1
        else:
            status, first, last = 206, wanted[0], wanted[1]
        claimed_first = first
        if mode == "badrange" and status == 206:
            if params.get("zero"):
                first = 0
            else:
                first = max(0, first + int(params.get("shift", -1)))
            claimed_first = first
        length = max(0, last - first + 1)
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("ETag", source.etag)
        if source.modified:
            self.send_header("Last-Modified", source.modified)
        if mode == "gzip":
            self.send_header("Content-Encoding", "gzip")
        if mode == "nolength":
            self.close_connection = True
            self.send_header("Connection", "close")
        else:
            self.send_header("Content-Length", str(length))
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (claimed_first, last, size))
        self.end_headers()
        sent = 0
        if not self.head:
            try:
                sent = self.send_body(source, first, length, mode, params)
            except (BrokenPipeError, ConnectionResetError):
                self.close_connection = True
        self.finish_log(status, sent)


class TLSServer(ThreadingHTTPServer):
    """HTTPS: each accepted connection is wrapped here, so that a handshake a client gives up on (for instance
    because it does not trust the certificate) is logged as {"tls_error": reason, "sni": name} instead of
    vanishing; a good handshake logs {"tls_hello": name}."""

    def __init__(self, address, handler, context, state):
        super().__init__(address, handler)
        self.tls_context = context
        self.tls_state = state
        self._sni = threading.local()
        context.sni_callback = self._on_sni

    def _on_sni(self, sslobj, server_name, context):
        self._sni.name = server_name

    def get_request(self):
        sock, addr = self.socket.accept()
        sock.settimeout(10)
        self._sni.name = None
        try:
            tls = self.tls_context.wrap_socket(sock, server_side=True)
        except (ssl.SSLError, OSError) as e:
            self.tls_state.write_log({"tls_error": str(getattr(e, "reason", None) or e), "sni": self._sni.name})
            sock.close()
            raise OSError("TLS handshake failed")
        tls.settimeout(None)
        self.tls_state.write_log({"tls_hello": self._sni.name})
        return tls, addr


def main():
    ap = argparse.ArgumentParser(description="fault-injecting loopback HTTP(S) server for tests")
    ap.add_argument("--root", default=".")
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--port-file")
    ap.add_argument("--log")
    ap.add_argument("--control")
    ap.add_argument("--cert")
    ap.add_argument("--key")
    ap.add_argument("--max-requests", type=int, default=2000)
    ap.add_argument("--max-seconds", type=float, default=600)
    ap.add_argument("--chunk", type=int, default=65536)
    ap.add_argument("--make", nargs=2, metavar=("FILE", "SIZE"), help="write the generated pattern and exit")
    args = ap.parse_args()

    if args.make:
        path, size = args.make[0], int(args.make[1])
        src = PatternSource(size)
        with open(path, "wb") as f:
            for off in range(0, size, 1 << 20):
                f.write(src.read(off, min(1 << 20, size - off)))
        return 0

    state = State(args)
    Handler.state = state
    if args.cert:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(args.cert, args.key)
        server = TLSServer(("127.0.0.1", args.port), Handler, ctx, state)
    else:
        server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    port = server.server_address[1]
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(str(port))
        os.replace(tmp, args.port_file)
    print("port %d" % port, flush=True)

    server.timeout = 0.2
    deadline = time.monotonic() + args.max_seconds
    while not state.stop.is_set() and time.monotonic() < deadline:
        server.handle_request()
    state.stop.set()
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
