"""nginx serving a directory on a loopback port, for the update scenarios.

Everything nginx writes (pid, logs, temporary files) goes to a temporary directory of its own;
the server runs in the foreground as one process and is stopped by close().
"""
import os
import shutil
import socket
import subprocess
import tempfile
import time

NGINX = shutil.which("nginx") or "/usr/sbin/nginx"
START_TIMEOUT = 20

CONFIG = """\
daemon off;
master_process off;
worker_processes 1;
pid {work}/nginx.pid;
error_log {work}/error.log warn;
events {{ worker_connections 64; }}
http {{
    access_log {work}/access.log;
    client_body_temp_path {work}/client_body;
    proxy_temp_path {work}/proxy;
    fastcgi_temp_path {work}/fastcgi;
    uwsgi_temp_path {work}/uwsgi;
    scgi_temp_path {work}/scgi;
    default_type application/octet-stream;
    types {{ text/xml xml; }}
    server {{
        listen 127.0.0.1:{port};
        root {root};
    }}
}}
"""


class NginxServer:
    """nginx on 127.0.0.1:`port` serving `root`; the request paths it saw are in access_paths()."""

    def __init__(self, port, root):
        self.work = tempfile.mkdtemp(prefix="kvo-nginx-")
        config = os.path.join(self.work, "nginx.conf")
        with open(config, "w") as out:
            out.write(CONFIG.format(work=self.work, port=port, root=os.path.abspath(root)))
        self.process = subprocess.Popen([NGINX, "-p", self.work, "-e", os.path.join(self.work, "error.log"),
                                         "-c", config], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.time() + START_TIMEOUT
        while not self._listening(port):
            if self.process.poll() is not None or time.time() > deadline:
                error = self.process.stderr.read().decode(errors="replace") if self.process.poll() is not None else ""
                self.close()
                raise RuntimeError("nginx did not start: " + error + self.error_log())
            time.sleep(0.05)

    @staticmethod
    def _listening(port):
        with socket.socket() as probe:
            probe.settimeout(0.5)
            return probe.connect_ex(("127.0.0.1", port)) == 0

    def error_log(self):
        path = os.path.join(self.work, "error.log")
        if not os.path.exists(path):
            return ""
        with open(path, errors="replace") as log:
            return log.read()

    def access_paths(self):
        """The path of every request, in order (nginx writes each line when the response ends)."""
        path = os.path.join(self.work, "access.log")
        if not os.path.exists(path):
            return []
        with open(path, errors="replace") as log:
            lines = log.readlines()
        paths = []
        for line in lines:
            request = line.split('"')[1] if line.count('"') >= 2 else ""
            parts = request.split(" ")
            if len(parts) >= 2:
                paths.append(parts[1])
        return paths

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stderr.close()
        shutil.rmtree(self.work, ignore_errors=True)
