"""The update service's production setup on loopback for the tests: gunicorn
serving the application, and nginx running the shipped site in front of it,
in a private folder, touching no system service or file.

The site file is used as shipped; only its listen address, upstream, cache
folder, access log and the update answer's cache time are replaced."""

import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SITE = os.path.join(HERE, "korvane-update.nginx.conf")
sys.path.insert(0, os.path.join(HERE, "..", "..", "testing"))
from wine_testkit import port_open, wait_until  # noqa: E402


def python_with(module):
    """A Python that can import `module` (Debian's packages live in
    /usr/bin/python3's path), or None."""
    for python in dict.fromkeys([sys.executable, shutil.which("python3"), "/usr/bin/python3"]):
        if python and subprocess.run([python, "-c", f"import {module}"],
                                     capture_output=True).returncode == 0:
            return python
    return None


class Gunicorn:
    """The application under gunicorn with `workers` sync workers on
    127.0.0.1:port, answering from `entries`; its standard error is kept."""

    def __init__(self, folder, entries, port, workers=2, date=None):
        self.python = python_with("gunicorn")
        if self.python is None:
            raise RuntimeError("gunicorn is missing: scripts/setup.sh installs python3-gunicorn")
        self.port = port
        self.err_path = os.path.join(folder, "gunicorn.err")
        app = f"update_service:create_app({entries!r}, date={date!r})"
        self.command = [self.python, "-m", "gunicorn", "--chdir", HERE, "-w", str(workers),
                        "-b", f"127.0.0.1:{port}", "--graceful-timeout", "5", app]
        self.process = None

    def start(self):
        err = open(self.err_path, "ab")
        self.process = subprocess.Popen(self.command, stdout=subprocess.DEVNULL, stderr=err)
        err.close()
        booted = wait_until(lambda: self.stderr().count("Booting worker") >= 1 and
                            port_open(self.port) or self.process.poll() is not None, 30)
        if not booted or self.process.poll() is not None:
            self.stop()
            raise RuntimeError("gunicorn did not start:\n" + self.stderr())
        return self

    def stderr(self):
        with open(self.err_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if not wait_until(lambda: not port_open(self.port), 10):
            raise RuntimeError(f"gunicorn still listens on port {self.port}")


def site_for_test(text, port, upstream, cache, access_log, cache_seconds):
    """The shipped site with the test's addresses and folders."""
    replacements = [
        (r"listen 80;", f"listen 127.0.0.1:{port};"),
        (r"server 127.0.0.1:8080;", f"server {upstream};"),
        (r"/var/cache/nginx/korvane-update ", cache + " "),
        (r"/var/log/nginx/korvane-update.access.log", access_log),
        (r"proxy_cache_valid 200 60s;", f"proxy_cache_valid 200 {cache_seconds}s;"),
    ]
    for old, new in replacements:
        if text.count(old) != 1:
            raise RuntimeError(f"the site file should hold {old!r} once")
        text = text.replace(old, new)
    return text


class Nginx:
    """nginx with the shipped site on 127.0.0.1:port in front of `upstream`,
    in its own prefix under `folder`, in the foreground."""

    def __init__(self, folder, port, upstream, cache_seconds=60, worker_connections=1024,
                 workers=1, cache=True, static_port=None):
        self.port = port
        self.prefix = os.path.join(folder, "nginx")
        os.makedirs(os.path.join(self.prefix, "cache"), exist_ok=True)
        self.error_log = os.path.join(self.prefix, "error.log")
        self.access_log = os.path.join(self.prefix, "access.log")
        with open(SITE, encoding="utf-8") as f:
            site = site_for_test(f.read(), port, upstream, os.path.join(self.prefix, "cache"),
                                 self.access_log, cache_seconds)
        if not cache:
            site = site.replace("proxy_cache korvane_update;", "proxy_cache off;")
        if static_port:
            # The same answer as a file on a port of its own: the ceiling.
            # It logs every request as the site does.
            site += (f"server {{\n    listen 127.0.0.1:{static_port};\n"
                     f"    access_log {self.prefix}/static.log korvane_update;\n"
                     f"    root {self.prefix}/static;\n    default_type \"text/html; charset=gbk\";\n}}\n")
            os.makedirs(os.path.join(self.prefix, "static"), exist_ok=True)
        with open(os.path.join(self.prefix, "site.conf"), "w", encoding="utf-8") as f:
            f.write(site)
        temp = {name: os.path.join(self.prefix, name)
                for name in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi")}
        self.conf = os.path.join(self.prefix, "nginx.conf")
        with open(self.conf, "w", encoding="utf-8") as f:
            # Started as root, nginx's workers would run as "nobody", who
            # cannot enter the private folder.
            user = "user root;\n" if os.geteuid() == 0 else ""
            f.write(user + f"""daemon off;
worker_processes {workers};
worker_rlimit_nofile {2 * worker_connections + 64};
pid {self.prefix}/nginx.pid;
error_log {self.error_log} warn;
events {{ worker_connections {worker_connections}; }}
http {{
    default_type application/octet-stream;
""" + "".join(f"    {name}_temp_path {path};\n" for name, path in temp.items()) +
                    f"    include {self.prefix}/site.conf;\n}}\n")
        self.process = None

    def start(self):
        with open(os.path.join(self.prefix, "stderr.log"), "wb") as err:
            self.process = subprocess.Popen(["nginx", "-p", self.prefix, "-c", self.conf],
                                            stdout=subprocess.DEVNULL, stderr=err)
        if not wait_until(lambda: port_open(self.port) or self.process.poll() is not None, 20) \
                or self.process.poll() is not None:
            raise RuntimeError("nginx did not start:\n" + self.errors())
        return self

    def errors(self):
        try:
            with open(self.error_log, encoding="utf-8", errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def access_lines(self):
        try:
            with open(self.access_log, encoding="utf-8", errors="replace") as f:
                return f.read().splitlines()
        except OSError:
            return []

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def server_connections(port):
    """Connections the server on `port` holds open: established, or closed by
    the client and not yet by the server (CLOSE-WAIT)."""
    result = subprocess.run(["ss", "-tnH", "state", "established", "state", "close-wait",
                             "sport", "=", f":{port}"], capture_output=True, text=True)
    return len([line for line in result.stdout.splitlines() if line.strip()])


def cache_status(headers):
    match = re.search(r"^X-Cache-Status: (\S+)", headers, re.M | re.I)
    return match.group(1) if match else None


def main(argv):
    """For the benchmark script: writes an nginx configuration and prints
    its prefix; the script runs nginx -p PREFIX -c PREFIX/nginx.conf.
      service_stack.py nginx-conf FOLDER PORT UPSTREAM [--no-cache]
                       [--static-port PORT] [--workers N] [--connections N]"""
    import argparse
    parser = argparse.ArgumentParser(prog="service_stack.py nginx-conf")
    parser.add_argument("folder")
    parser.add_argument("port", type=int)
    parser.add_argument("upstream")
    parser.add_argument("--no-cache", action="store_true")
    parser.add_argument("--static-port", type=int)
    parser.add_argument("--workers", type=int, default=1)
    parser.add_argument("--connections", type=int, default=1024)
    args = parser.parse_args(argv)
    nginx = Nginx(args.folder, args.port, args.upstream, worker_connections=args.connections,
                  workers=args.workers, cache=not args.no_cache, static_port=args.static_port)
    print(nginx.prefix)
    return 0


if __name__ == "__main__":
    if sys.argv[1:2] != ["nginx-conf"]:
        sys.exit("usage: service_stack.py nginx-conf FOLDER PORT UPSTREAM [options]")
    sys.exit(main(sys.argv[2:]))
