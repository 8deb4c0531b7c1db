#!/usr/bin/env python3
"""Runs a command while a loopback test HTTP server is up.

The command sees KVO_TEST_HTTP_PORT (the server's port), KVO_TEST_CLOSED_PORT (a port where
nothing listens), KVO_TEST_HTTP_LOG (the server's request log) and KVO_TEST_HTTPS_PORT (its TLS
listener, whose certificate no client trusts) and KVO_TEST_HTTP_ROOT (the folder its static files
are served from). Usage:
  with_http_server.py [--root DIR] -- command args...
"""
import argparse
import os
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def closed_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    with tempfile.TemporaryDirectory(prefix="kvo-http-") as work:
        port_file = os.path.join(work, "port")
        tls_port_file = os.path.join(work, "tls-port")
        log = os.path.join(work, "requests.log")
        server_args = [sys.executable, os.path.join(HERE, "test_http_server.py"), "--port-file", port_file,
                       "--log", log, "--stall", "30", "--lifetime", "1200", "--tls-port-file", tls_port_file]
        # Without a root of its own the server serves a fresh folder, which the command fills.
        root = args.root or os.path.join(work, "root")
        os.makedirs(root, exist_ok=True)
        server_args += ["--root", root]
        server = subprocess.Popen(server_args, stdout=subprocess.DEVNULL)
        try:
            deadline = time.time() + 10
            while not os.path.exists(port_file):
                if time.time() > deadline or server.poll() is not None:
                    print("with_http_server: the test server did not start", file=sys.stderr)
                    return 1
                time.sleep(0.05)
            env = dict(os.environ, KVO_TEST_HTTP_PORT=open(port_file).read().strip(),
                       KVO_TEST_HTTPS_PORT=open(tls_port_file).read().strip(),
                       KVO_TEST_CLOSED_PORT=str(closed_port()), KVO_TEST_HTTP_LOG=log,
                       KVO_TEST_HTTP_ROOT=root)
            return subprocess.call(command, env=env)
        finally:
            server.kill()
            server.wait()


if __name__ == "__main__":
    sys.exit(main())
