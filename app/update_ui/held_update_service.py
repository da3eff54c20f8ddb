"""An update service for the update check's Wine tests that holds its
replies: while `holding` is set, each request for the update page waits until
the test releases it. A test then knows that a check is waiting, and that it
is still waiting, without a clock: it counts the requests that arrived and
the replies that went out.

The pages are written here by hand in the update page's format (an entry's
title, the product name, a blank and the version, and its download link).
"""

import threading

import wine_testkit as kit

UPDATE_PATH = "/cgi-bin/custom/output_custom_window.cgi"
# A held reply goes out after this long even if the test never releases it,
# so that a failed test does not leave a check waiting for ever.
HOLD_LIMIT = 120


def update_page(version, link):
    """The update page with one entry of Korvane, or none for version None."""
    items = "" if version is None else "{\"title\":'Korvane %s',\"imgsrc\":'%s'}" % (version, link)
    return ("<html><body><script type=\"text/javascript\">\n"
            "var custom_window = {\"items\":[%s]};\n</script></body></html>\n" % items)


class HeldUpdateService(kit.PageServer):
    """Serves the update page on 127.0.0.1:port for the length of a
    with-block. reply(n) gives the version offered to the n-th request
    (from 1), or None for a page without the product."""

    def __init__(self, port, link, reply=lambda n: "1.0.1"):
        self.holding = True
        self.arrived = 0
        self.answered = 0
        self.condition = threading.Condition()
        self.generation = 0  # release_all() moves it on
        self.link, self.reply = link, reply
        super().__init__(self.route, port)

    def route(self, request, path, *_):
        if request.command != "POST" or path != UPDATE_PATH:
            return 404, b"", "text/plain"
        with self.condition:
            self.arrived += 1
            number, generation = self.arrived, self.generation
            self.condition.notify_all()
            self.condition.wait_for(lambda: not self.holding or self.generation != generation,
                                    timeout=HOLD_LIMIT)
        return 200, update_page(self.reply(number), self.link).encode("gbk"), \
            "text/html; charset=gb2312"

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

    def wait_answered(self, count, timeout):
        with self.condition:
            return self.condition.wait_for(lambda: self.answered >= count, timeout=timeout)

    def counts(self):
        with self.condition:
            return self.arrived, self.answered
