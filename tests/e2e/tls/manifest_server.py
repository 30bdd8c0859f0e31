#!/usr/bin/env python3
"""Loopback HTTP or HTTPS server for the manifest fetch tests; stops by itself.

    manifest_server.py --manifest FILE --port-file F [--cert C --key K] [--max-seconds 120] [--delay 8]

Paths (each answers one way):
    /updata.json     200, the manifest file          /bom.json        200, UTF-8 BOM + the manifest
    /echo-ims        200, body = the If-Modified-Since header the client sent ("<none>" when absent)
    /404, /500       that status, with the manifest as the body (an error page is not a manifest)
    /redirect        302 to /updata.json             /html            200, an HTML page
    /stall-head      reads the request, answers nothing for --delay seconds
    /stall-body      announces 1000 bytes, sends 10, then nothing for --delay seconds
    /trickle         no length, one byte every 0.2 s for --delay seconds
    /huge-declared   Content-Length 50 MB, sends until the client goes away (at most 4 MB)
    /huge-chunked    no length, sends until the client goes away (at most 8 MB)
"""
import argparse
import http.server
import os
import socketserver
import ssl
import threading
import time


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--manifest", required=True)
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--cert")
    ap.add_argument("--key")
    ap.add_argument("--max-seconds", type=float, default=120)
    ap.add_argument("--delay", type=float, default=8)
    args = ap.parse_args()
    with open(args.manifest, "rb") as f:
        manifest = f.read()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *a):
            pass

        def answer(self, code, body, ctype="application/json; charset=utf-8", extra=()):
            self.send_response(code)
            self.send_header("Content-Type", ctype)
            self.send_header("Content-Length", str(len(body)))
            for k, v in extra:
                self.send_header(k, v)
            self.end_headers()
            self.wfile.write(body)

        def stream(self, block, limit, pause, length=None):
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            if length is not None:
                self.send_header("Content-Length", str(length))
            self.send_header("Connection", "close")
            self.end_headers()
            sent, end = 0, time.time() + args.delay
            try:
                while sent < limit and time.time() < end:
                    self.wfile.write(block)
                    self.wfile.flush()
                    sent += len(block)
                    if pause:
                        time.sleep(pause)
            except OSError:
                pass
            self.close_connection = True

        def do_GET(self):
            p = self.path.split("?")[0]
            if p == "/updata.json":
                self.answer(200, manifest)
            elif p == "/bom.json":
                self.answer(200, b"\xef\xbb\xbf" + manifest)
            elif p == "/echo-ims":
                self.answer(200, self.headers.get("If-Modified-Since", "<none>").encode(), "text/plain")
            elif p in ("/404", "/500"):
                self.answer(int(p[1:]), manifest)
            elif p == "/redirect":
                self.answer(302, b"", extra=[("Location", "/updata.json")])
            elif p == "/html":
                self.answer(200, b"<html><body>maintenance</body></html>", "text/html")
            elif p == "/stall-head":
                time.sleep(args.delay)
                self.close_connection = True
            elif p == "/stall-body":
                self.send_response(200)
                self.send_header("Content-Length", "1000")
                self.end_headers()
                self.wfile.write(b"{" * 10)
                self.wfile.flush()
                time.sleep(args.delay)
                self.close_connection = True
            elif p == "/trickle":
                self.stream(b"x", 10**6, 0.2)
            elif p == "/huge-declared":
                self.stream(b"y" * 65536, 4 << 20, 0, length=50 << 20)
            elif p == "/huge-chunked":
                self.stream(b"z" * 65536, 8 << 20, 0)
            else:
                self.answer(404, b"no such path", "text/plain")

    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        daemon_threads = True
        allow_reuse_address = True

    server = Server(("127.0.0.1", 0), Handler)
    if args.cert:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(args.cert, args.key)
        server.socket = ctx.wrap_socket(server.socket, server_side=True)
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(tmp, args.port_file)
    threading.Timer(args.max_seconds, server.shutdown).start()
    server.serve_forever(poll_interval=0.2)


if __name__ == "__main__":
    main()
