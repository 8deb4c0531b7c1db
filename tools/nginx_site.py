#!/usr/bin/env python3
"""A static web site served by nginx on a loopback port, for the demo, the round-trip test and
the benchmarks: the way an operator serves what KvoPublish laid out.

Everything nginx writes (configuration, pid, logs, temporary files) stays in a private folder.
nginx runs in the foreground without a master process, as the calling user, and is stopped by
close(). The access log has one line per request: "<request URI> <status> <body bytes sent>".

As a program: nginx_site.py --root DIR --port N [--limit-rate RATE] [--access-log FILE]
serves until it is ended (SIGTERM or SIGINT) or --lifetime seconds have passed.
"""
import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

NGINX = shutil.which("nginx") or "/usr/sbin/nginx"
START_TIMEOUT = 20

CONFIG = """daemon off;
master_process off;
worker_processes 1;
pid {work}/nginx.pid;
error_log {work}/error.log warn;
events {{ worker_connections 256; }}
http {{
    log_format kvo '$request_uri $status $body_bytes_sent $bytes_sent $request_length';
    access_log {access_log} kvo;
    client_body_temp_path {work}/client_body;
    proxy_temp_path {work}/proxy;
    fastcgi_temp_path {work}/fastcgi;
    uwsgi_temp_path {work}/uwsgi;
    scgi_temp_path {work}/scgi;
    default_type application/octet-stream;
    sendfile on;
    server {{
        listen 127.0.0.1:{port};
        root {root};
        location / {{ {limit} }}
    }}
}}
"""


def available():
    return os.access(NGINX, os.X_OK)


class NginxSite:
    """nginx serving `root` on 127.0.0.1:`port`; `limit_rate` (e.g. "200k") throttles each body."""

    def __init__(self, root, port, limit_rate=None, access_log=None):
        self.port = port
        self.work = tempfile.mkdtemp(prefix="kvo-nginx-")
        self.access_log = access_log or os.path.join(self.work, "access.log")
        limit = "limit_rate %s;" % limit_rate if limit_rate else ""
        config = os.path.join(self.work, "nginx.conf")
        with open(config, "w") as out:
            out.write(CONFIG.format(work=self.work, access_log=self.access_log, port=port,
                                    root=os.path.abspath(root), limit=limit))
        self.process = subprocess.Popen([NGINX, "-p", self.work, "-e", os.path.join(self.work, "error.log"),
                                         "-c", config], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + START_TIMEOUT
        while not self._listening():
            if self.process.poll() is not None or time.time() > deadline:
                error = self.error_log()
                self.close()
                raise RuntimeError("nginx did not start on port %d: %s" % (port, error))
            time.sleep(0.05)

    def _listening(self):
        with socket.socket() as probe:
            probe.settimeout(0.5)
            return probe.connect_ex(("127.0.0.1", self.port)) == 0

    def error_log(self):
        try:
            with open(os.path.join(self.work, "error.log"), errors="replace") as source:
                return source.read()
        except FileNotFoundError:
            return ""

    def access_paths(self):
        """The request URI of every request so far, in order."""
        return [uri for uri, _, _ in self.requests()]

    def requests(self):
        """[(uri, status, bytes sent)] of every request so far, in order."""
        try:
            with open(self.access_log) as source:
                lines = source.read().splitlines()
        except FileNotFoundError:
            return []
        entries = []
        for line in lines:
            uri, status, sent, _, _ = line.rsplit(" ", 4)
            entries.append((uri, int(status), int(sent)))
        return entries

    def traffic(self):
        """Bytes on the wire of every request so far: the request with its headers, and the response
        with its headers and body."""
        try:
            with open(self.access_log) as source:
                lines = source.read().splitlines()
        except FileNotFoundError:
            return 0
        return sum(int(response) + int(request) for response, request in
                   (line.rsplit(" ", 2)[1:] for line in lines))

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        shutil.rmtree(self.work, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--limit-rate")
    parser.add_argument("--access-log")
    parser.add_argument("--lifetime", type=float, default=3600)
    args = parser.parse_args()
    site = NginxSite(args.root, args.port, args.limit_rate, args.access_log)
    stop = []
    for signum in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signum, lambda *_: stop.append(1))
    print("serving %s on http://127.0.0.1:%d/" % (args.root, args.port), flush=True)
    deadline = time.time() + args.lifetime
    try:
        while not stop and site.process.poll() is None and time.time() < deadline:
            time.sleep(0.2)
    finally:
        site.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
