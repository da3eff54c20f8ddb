"""An update service for the update check's Wine tests that holds its
replies: while `holding` is set, each request for the update page waits until
the test releases it. A test then knows that a check is waiting, and that it
is still waiting, without a clock: it counts the requests that arrived and
the replies that went out.

The pages are written here by hand in the update page's format (an entry's
title, the product name, a blank and the version, and its download link).
"""

import http.server
import threading

UPDATE_PATH = "/cgi-bin/custom/output_custom_window.cgi"
# A held reply goes out after this long even if the test never releases it,
# so that a failed test does not leave a check waiting for ever.
HOLD_LIMIT = 120


def update_page(version, link):
    """The update page with one entry of Korvane, or none for version None."""
    items = "" if version is None else "{\"title\":'Korvane %s',\"imgsrc\":'%s'}" % (version, link)
    return ("<html><body><script type=\"text/javascript\">\n"
            "var custom_window = {\"items\":[%s]};\n</script></body></html>\n" % items)


class HeldUpdateService:
    """Serves the update page on 127.0.0.1:port for the length of a
    with-block. reply(n) gives the version offered to the n-th request
    (from 1), or None for a page without the product."""

    def __init__(self, port, link, reply=lambda n: "1.0.1"):
        self.holding = True
        self.arrived = 0
        self.answered = 0
        self.condition = threading.Condition()
        self.generation = 0  # release_all() moves it on
        service = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *_):
                pass

            def do_POST(self):
                length = int(self.headers.get("Content-Length", 0) or 0)
                if length:
                    self.rfile.read(length)
                if self.path != UPDATE_PATH:
                    self.send_error(404)
                    return
                with service.condition:
                    service.arrived += 1
                    number = service.arrived
                    generation = service.generation
                    service.condition.notify_all()
                    service.condition.wait_for(
                        lambda: not service.holding or service.generation != generation,
                        timeout=HOLD_LIMIT)
                body = update_page(reply(number), link).encode("gbk")
                try:
                    self.send_response(200)
                    self.send_header("Content-Type", "text/html; charset=gb2312")
                    self.send_header("Content-Length", str(len(body)))
                    self.end_headers()
                    self.wfile.write(body)
                except OSError:
                    pass  # the client gave up
                with service.condition:
                    service.answered += 1
                    service.condition.notify_all()

        http.server.ThreadingHTTPServer.allow_reuse_address = True
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
        self.server.daemon_threads = True

    def __enter__(self):
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        return self

    def __exit__(self, *exc):
        self.release_all(hold_on=False)
        self.server.shutdown()
        self.server.server_close()

    def release_all(self, hold_on=True):
        """Lets every held reply go out; later requests are held again
        unless hold_on is False."""
        with self.condition:
            self.generation += 1
            self.holding = hold_on
            self.condition.notify_all()

    def set_holding(self, holding):
        with self.condition:
            self.holding = holding
            self.condition.notify_all()

    def wait_arrived(self, count, timeout):
        """Whether `count` requests have arrived within `timeout` seconds."""
        with self.condition:
            return self.condition.wait_for(lambda: self.arrived >= count, timeout=timeout)

    def wait_answered(self, count, timeout):
        with self.condition:
            return self.condition.wait_for(lambda: self.answered >= count, timeout=timeout)

    def counts(self):
        with self.condition:
            return self.arrived, self.answered
