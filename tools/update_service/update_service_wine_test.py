#!/usr/bin/env python3
"""Update.dll under Wine against the production setup: `Updates` and
`GetNetDate` of the real library, through nginx (the shipped site) to
gunicorn with 2 workers. The build under test must talk to 127.0.0.1:PORT
for both hosts; nginx listens there, so the port must be free.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile

import service_stack as stack
import wine_testkit as kit

DATE_TEXT = "2013年5月8日 星期三"
DOWNLOAD = "http://127.0.0.1/download/Korvane-1.0.1.exe"
ENTRIES = {"10001": [{"title": "Korvane 1.0.1", "imgsrc": DOWNLOAD}]}

check = kit.Suite()


def client(args, *command):
    result = kit.wine(args.client, *command, timeout=180)
    return [line.rstrip("\r") for line in result.stdout.decode("utf-8", "replace").splitlines()]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--client", required=True)
    parser.add_argument("--port", type=int, default=18080)
    args = parser.parse_args()
    # Another test serving this address may still be finishing.
    if not kit.wait_until(lambda: not kit.port_open(args.port), 120, 0.5):
        print(f"port {args.port} is in use; cannot run nginx there", file=sys.stderr)
        return 1

    subprocess.run(["wineserver", "-p10"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    dll_dir = os.path.dirname(os.path.abspath(args.dll))
    with tempfile.TemporaryDirectory() as folder:
        entries = os.path.join(folder, "entries.json")
        with open(entries, "w", encoding="utf-8") as f:
            json.dump(ENTRIES, f, ensure_ascii=False)
        upstream = kit.free_port()
        gunicorn = stack.Gunicorn(folder, entries, upstream, workers=2, date=DATE_TEXT).start()
        nginx = stack.Nginx(folder, args.port, f"127.0.0.1:{upstream}")
        try:
            nginx.start()
            code = kit.wine("regsvr32", "/s", "Update.dll", cwd=dll_dir).returncode
            check(code == 0, "regsvr32 /s Update.dll", f"exit {code}")

            lines = client(args, "updates", "10001", "Korvane")
            check(lines[:1] == ["REPLY OK|True|1.0.1|" + DOWNLOAD],
                  "Updates through nginx and gunicorn", " / ".join(lines))
            log = nginx.access_lines()
            check(len(log) == 1 and " 200 " in log[0] and "cache=MISS" in log[0]
                  and "POST /cgi-bin/custom/output_custom_window.cgi" in log[0],
                  "nginx passed the check to gunicorn", " / ".join(log))

            lines = client(args, "updates", "10001", "Korvane")
            check(lines[:1] == ["REPLY OK|True|1.0.1|" + DOWNLOAD], "a second check", lines)
            log = nginx.access_lines()
            check(len(log) == 2 and "cache=HIT" in log[-1], "nginx answered it from its cache",
                  " / ".join(log[-1:]))

            lines = client(args, "date")
            check(lines[:1] == ["DATE 2013-05-08 00:00:00"], "GetNetDate through nginx",
                  " / ".join(lines))
            log = nginx.access_lines()
            check(len(log) == 3 and "\"GET / HTTP/1.1\" 200" in log[-1],
                  "nginx served the date page", " / ".join(log[-1:]))
        finally:
            kit.wine("regsvr32", "/u", "/s", "Update.dll", cwd=dll_dir)
            nginx.stop()
            gunicorn.stop()
        check("Traceback" not in gunicorn.stderr(), "gunicorn wrote no traceback")
        check("[crit]" not in nginx.errors() and "[alert]" not in nginx.errors(),
              "nginx logged no critical error")
    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
