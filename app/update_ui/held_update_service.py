"""An update service for the update check's Wine tests that holds its
replies: while `holding` is set, each request for the update page waits until
the test releases it. A test then knows, without a clock, that a check is
still waiting: it counts the requests that arrived and the replies that went
out. The pages are written here by hand in the update page's format."""

import threading

import wine_testkit as kit

UPDATE_PATH = "/cgi-bin/custom/output_custom_window.cgi"
# A held reply goes out after this long even if the test never releases it,
# so that a failed test does not leave a check waiting for ever.
HOLD_LIMIT = 120


class HeldUpdateService(kit.PageServer):
    """Serves the update page offering Korvane 1.0.1 at `link` on
    127.0.0.1:port for the length of a with-block."""

    def __init__(self, port=kit.UPDATE_PORT, link="http://127.0.0.1/download/Korvane.zip"):
        self.holding, self.arrived, self.answered = True, 0, 0
        self.condition = threading.Condition()
        self.generation = 0  # release_all() moves it on
        self.page = ("<html><body><script type=\"text/javascript\">\nvar custom_window = "
                     "{\"items\":[{\"title\":'Korvane 1.0.1',\"imgsrc\":'%s'}]};\n"
                     "</script></body></html>\n" % link).encode("gbk")
        super().__init__(self.route, port)

    def route(self, request, path, *_):
        if request.command != "POST" or path != UPDATE_PATH:
            return 404, b"", "text/plain"
        with self.condition:
            self.arrived += 1
            generation = self.generation
            self.condition.notify_all()
            self.condition.wait_for(lambda: not self.holding or self.generation != generation,
                                    timeout=HOLD_LIMIT)
        return 200, self.page, "text/html; charset=gb2312"

    def sent(self, request):
        if request.command == "POST" and request.path == UPDATE_PATH:
            with self.condition:
                self.answered += 1
                self.condition.notify_all()

    def __exit__(self, *exc):
        self.release_all(hold_on=False)
        super().__exit__(*exc)

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

    def counts(self):
        with self.condition:
            return self.arrived, self.answered
