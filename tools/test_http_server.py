#!/usr/bin/env python3
"""Loopback HTTP server for the tests: static files plus scripted misbehaviour.

Static files: GET /<path> serves <root>/<path> (root given with --root); GET /<path>?length=N
announces N as its Content-Length but sends the whole file (a stale header of a proxy or CDN).
One range ("Range: bytes=A-B" or "bytes=A-") is answered 206 with that part, unless the path is
asked with ?range=ignore (200 and the whole file, as a server without ranges); several ranges
are answered 200 with the whole file, as several CDNs do.
With --static-status N every static path is answered with status N and no file (a host that is
down, as a CDN in an outage answers).
Scripted responses: GET /gen?<options> answers a generated body whose byte i is (i * 7) % 251:
  size=N         body length (default 0)
  status=N       status code (default 200)
  length=TEXT    Content-Length header text instead of the real size (the connection is closed after
                 the body); "none" leaves it out
  chunk=N        send the body in pieces of N bytes, each flushed on its own (default: at once)
  pause=S        with chunk: wait S seconds after each piece (a trickling server; default 0.02)
  chunked=1      send the body with chunked transfer encoding and no Content-Length (as some CDNs
                 and proxies do); a body cut by the options below ends without its last chunk
  delay=S        wait S seconds before answering (status line and headers)
  header_pause=S send the status line and headers one byte at a time, S seconds apart (a server that
                 holds a client without ever being silent for long)
  stall_after=N  after N body bytes, keep the connection open and send nothing (for --stall seconds)
  stall_for=S    with stall_after: stay silent for S seconds instead of --stall
  reset_after=N  after N body bytes, and a moment for the client to read them (a reset discards
                 what it has not read yet), reset the connection (RST)
  close_after=N  after N body bytes, close the connection in order (what was sent arrives)
  text=HEX       the body is these bytes instead of the pattern (hex-encoded)
  corrupt=1      the whole body with its first byte changed (a copy that is not the file)
  id=NAME&fail=K the options status, length, stall_after and reset_after apply only to the first K
                 requests with this id (default: all); later ones are served plainly, so a test can
                 make a server fail and then recover
  A request with "Range: bytes=N-" is answered 206 with the body from N and its Content-Range,
  unless range=ignore (answers 200 and the whole body), range=shift (a Content-Range that starts
  one byte later than asked) or range=corrupt (the rest of a body whose first byte after N differs)
GET /mirror/NAME/gen?<options> is /gen as served by mirror NAME: an option written NAME.OPTION
applies to that mirror alone (a.status=503 fails mirror a only).
Every request line and its headers are appended to --log as one JSON object per line.
With --tls-port-file, a second listener speaks TLS with a self-signed certificate (made with
openssl at start): each connection is logged as {"tls_client_hello": <first byte was a TLS
handshake record>, "handshake": "ok"|<error>}; a completed handshake is answered with "tls-ok".
The server stops by itself after --lifetime seconds.
"""
import argparse
import http.server
import json
import os
import re
import socket
import socketserver
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse


PATTERN_PERIOD = bytes((i * 7) % 251 for i in range(251))
# Time for the client to read what was sent before a reset discards it.
RESET_GRACE_SECONDS = 0.5


def pattern_bytes(size):
    """Byte i is (i * 7) % 251: a period of 251 bytes, repeated."""
    return (PATTERN_PERIOD * (size // len(PATTERN_PERIOD) + 1))[:size]


def mirror_options(query, name):
    """The options of /gen for mirror `name`: its own NAME.OPTION ones over the shared ones."""
    shared = {key: value for key, value in query.items() if "." not in key}
    own = {key.split(".", 1)[1]: value for key, value in query.items() if key.startswith(name + ".")}
    return dict(shared, **own)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "KvoTestServer/1.0"

    def log_message(self, fmt, *args):  # quiet; requests go to the JSON log
        pass

    def record(self):
        if self.server.request_log:
            entry = {"method": self.command, "path": self.path, "headers": dict(self.headers.items()),
                     "time": time.time()}
            with self.server.log_lock, open(self.server.request_log, "a", encoding="utf-8") as out:
                out.write(json.dumps(entry) + "\n")

    def do_GET(self):
        self.record()
        url = urllib.parse.urlsplit(self.path)
        mirror = re.fullmatch(r"/mirror/(\w+)/gen", url.path)
        if url.path == "/gen":
            self.generated(urllib.parse.parse_qs(url.query))
        elif mirror:
            self.generated(mirror_options(urllib.parse.parse_qs(url.query), mirror.group(1)))
        else:
            query = urllib.parse.parse_qs(url.query)
            self.static(urllib.parse.unquote(url.path), query.get("length", [None])[0],
                        query.get("range", [None])[0] != "ignore")

    def static_range(self, size):
        """(first, last) of the one range asked for within `size` bytes, or None."""
        match = re.fullmatch(r"bytes=(\d+)-(\d*)", self.headers.get("Range", ""))
        if not match:
            return None
        first = int(match.group(1))
        last = min(int(match.group(2)), size - 1) if match.group(2) else size - 1
        return (first, last) if first <= last else None

    def static(self, path, announced=None, ranges=True):
        if self.server.static_status:
            self.send_response(self.server.static_status)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        root = os.path.realpath(self.server.root or "/nonexistent")
        target = os.path.realpath(os.path.join(root, path.lstrip("/")))
        if not target.startswith(root + os.sep) or not os.path.isfile(target):
            body = b"<html><body><h1>404 Not Found</h1></body></html>\n"
            self.send_response(404)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        size = os.path.getsize(target)
        part = self.static_range(size) if ranges else None
        first, left = (part[0], part[1] - part[0] + 1) if part else (0, size)
        self.send_response(206 if part else 200)
        if part:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (part[0], part[1], size))
        self.send_header("Content-Length", announced or str(left))
        if announced:
            self.close_connection = True
        self.send_header("Content-Type", "application/octet-stream")
        self.end_headers()
        with open(target, "rb") as source:
            source.seek(first)
            while left > 0:
                block = source.read(min(65536, left))
                if not block:
                    break
                self.wfile.write(block)
                left -= len(block)

    def plain_after_failures(self, query):
        """Drops the failure options once the request's id has failed `fail` times."""
        request_id, failures = query.get("id", [None])[0], query.get("fail", [None])[0]
        if request_id is None or failures is None:
            return query
        with self.server.log_lock:
            seen = self.server.requests_by_id.get(request_id, 0)
            self.server.requests_by_id[request_id] = seen + 1
        if seen < int(failures):
            return query
        return {name: value for name, value in query.items()
                if name not in ("status", "length", "stall_after", "reset_after", "close_after")}

    def range_start(self):
        header = self.headers.get("Range", "")
        if header.startswith("bytes=") and header.endswith("-") and header[6:-1].isdigit():
            return int(header[6:-1])
        return None

    def trickle_headers(self, pause):
        self._headers_buffer.append(b"\r\n")
        headers, self._headers_buffer = b"".join(self._headers_buffer), []
        for byte in headers:
            self.wfile.write(bytes([byte]))
            self.wfile.flush()
            time.sleep(pause)

    def generated(self, query):
        query = self.plain_after_failures(query)
        self.content_range = None  # the handler serves every request of a kept-alive connection
        option = lambda name, default=None: query.get(name, [default])[0]
        body = bytes.fromhex(option("text")) if option("text") is not None else pattern_bytes(int(option("size", "0")))
        if option("corrupt") == "1" and body:
            body = bytes([body[0] ^ 0xFF]) + body[1:]
        start, total = self.range_start(), len(body)
        if start is not None and option("range") != "ignore" and "status" not in query:
            if start >= total:
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % total)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            shown = start + 1 if option("range") == "shift" else start
            body = body[start:]
            if option("range") == "corrupt":
                body = bytes([body[0] ^ 0xFF]) + body[1:]
            query = dict(query, status=["206"])
            self.content_range = "bytes %d-%d/%d" % (shown, total - 1, total)
        delay = float(option("delay", "0"))
        if delay:
            time.sleep(delay)
        self.send_response(int(query.get("status", ["200"])[0]))
        if getattr(self, "content_range", None):
            self.send_header("Content-Range", self.content_range)
        length = option("length")
        chunked = option("chunked") == "1"
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        elif length is None:
            self.send_header("Content-Length", str(len(body)))
        elif length != "none":
            self.send_header("Content-Length", length)
            self.close_connection = True  # a mis-announced body ends with the connection
        else:
            self.close_connection = True
        self.send_header("Content-Type", "application/octet-stream")
        header_pause = option("header_pause")
        if header_pause is None:
            self.end_headers()
        else:
            self.trickle_headers(float(header_pause))
        self.wfile.flush()

        stall_after = option("stall_after")
        reset_after = option("reset_after")
        close_after = option("close_after")
        cut = min(int(x) for x in (stall_after, reset_after, close_after, str(len(body))) if x is not None)
        chunk = int(option("chunk", "0")) or max(cut, 1)
        pause = float(option("pause", "0.02"))  # by default just enough for the client to see separate reads
        sent = 0
        while sent < cut:
            piece = body[sent:min(sent + chunk, cut)]
            self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece) if chunked else piece)
            self.wfile.flush()
            sent += len(piece)
            if chunk < cut:
                time.sleep(pause)
        if chunked and cut == len(body):
            self.wfile.write(b"0\r\n\r\n")
            self.wfile.flush()
        if stall_after is not None:
            time.sleep(float(option("stall_for", self.server.stall_seconds)))
            self.close_connection = True
        elif reset_after is not None:
            time.sleep(RESET_GRACE_SECONDS)
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.close_connection = True
        elif close_after is not None:
            self.close_connection = True


TLS_RECORD_HANDSHAKE = 0x16
TLS_ANSWER = b"HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\ntls-ok"


def record_tls(server, entry):
    if server.request_log:
        entry["time"] = time.time()
        with server.log_lock, open(server.request_log, "a", encoding="utf-8") as out:
            out.write(json.dumps(entry) + "\n")


def serve_tls_connection(server, context, connection):
    with connection:
        connection.settimeout(10)
        try:
            first = connection.recv(1, socket.MSG_PEEK)
        except OSError:
            first = b""
        entry = {"tls_client_hello": first[:1] == bytes([TLS_RECORD_HANDSHAKE])}
        try:
            with context.wrap_socket(connection, server_side=True) as tls:
                entry["handshake"] = "ok"
                tls.recv(65536)
                tls.sendall(TLS_ANSWER)
        except (ssl.SSLError, OSError) as error:
            entry["handshake"] = str(error) or type(error).__name__
        record_tls(server, entry)


def start_tls_listener(server, port_file):
    """A TLS listener on loopback with a certificate that no client trusts."""
    # Beside the port file, so whoever made that directory removes the key with it.
    workdir = tempfile.mkdtemp(prefix="kvo-tls-", dir=os.path.dirname(os.path.abspath(port_file)))
    cert, key = os.path.join(workdir, "cert.pem"), os.path.join(workdir, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1",
                    "-days", "1", "-keyout", key, "-out", cert], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)

    def accept_loop():
        while True:
            connection, _ = listener.accept()
            threading.Thread(target=serve_tls_connection, args=(server, context, connection), daemon=True).start()

    threading.Thread(target=accept_loop, daemon=True).start()
    with open(port_file + ".tmp", "w") as out:
        out.write(str(listener.getsockname()[1]))
    os.replace(port_file + ".tmp", port_file)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, default=0, help="port on 127.0.0.1 (0: any free one)")
    parser.add_argument("--root", help="directory served for static paths")
    parser.add_argument("--static-status", type=int, help="answer every static path with this status")
    parser.add_argument("--log", help="file that receives one JSON line per request")
    parser.add_argument("--port-file", help="file that receives the chosen port once listening")
    parser.add_argument("--stall", type=float, default=60.0, help="seconds a stalled response stays silent")
    parser.add_argument("--tls-port-file", help="start the TLS listener; its port goes to this file")
    parser.add_argument("--lifetime", type=float, default=900.0, help="seconds until the server stops by itself")
    args = parser.parse_args()

    server = Server(("127.0.0.1", args.port), Handler)
    server.root = args.root
    server.static_status = args.static_status
    server.request_log = args.log
    server.log_lock = threading.Lock()
    server.stall_seconds = args.stall
    server.requests_by_id = {}
    port = server.server_address[1]
    if args.tls_port_file:
        start_tls_listener(server, args.tls_port_file)
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as out:
            out.write(str(port))
        os.replace(args.port_file + ".tmp", args.port_file)
    print(port, flush=True)
    threading.Timer(args.lifetime, server.shutdown).start()
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
