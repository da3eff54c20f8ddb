// Time BuildUpdateReply takes on a 4 MiB update page, with the product's
// entry near the end (the whole page is searched) and near the start.
// MB/s counts page characters: bytes on the wire for an ASCII page.
#include "update_reply.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace korvane::update;

constexpr std::size_t kPageChars = 4u << 20;  // ASCII: 4 MiB on the wire
constexpr int kRuns = 20;

std::u16string Entry(std::u16string_view title, int index) {
    const std::string number = std::to_string(index);
    return u"{\"title\":'" + std::u16string(title) +
           u"',\"url\":'http\\x3a\\x2f\\x2fexample.com\\x2fitem" +
           std::u16string(number.begin(), number.end()) +
           u"',\"imgsrc\":'http\\x3a\\x2f\\x2fexample.com\\x2fimg.png',\"w\":300},\n";
}

// Entries of other products, with the product's entry at `where` (0..1).
std::u16string MakePage(double where) {
    const std::u16string own = Entry(u"Korvane 1.0.1", 0);
    std::u16string page = u"<html><script>var w = [\n";
    const auto own_at = static_cast<std::size_t>(where * (kPageChars - 4096));
    bool placed = false;
    for (int i = 1; page.size() + 512 < kPageChars; ++i) {
        if (!placed && page.size() >= own_at) page += own, placed = true;
        page += Entry(i % 2 ? u"Korvan 9.9.9" : u"Other 2.0.0", i);
    }
    if (!placed) page += own;
    page += u"];</script></html>";
    page.resize(kPageChars, u' ');
    return page;
}

std::optional<std::u16string> KeepText(std::u16string_view text) { return std::u16string(text); }

void Measure(const char* label, const std::u16string& page) {
    std::vector<double> ms;
    std::u16string reply;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        reply = BuildUpdateReply(page, u"Korvane", ParsePlainNumber, KeepText);
        const auto stop = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    // Searched: up to the next entry's title after the product's entry.
    std::size_t searched = page.size();
    if (const auto own = page.find(u"\"title\":'Korvane "); own != std::u16string::npos) {
        searched = std::min(page.size(), page.find(u"\"title\"", own + 1) + 7);
    }
    std::printf(
        "%-30s searched %8zu of %zu chars  median %9.4f ms  min %9.4f ms  %7.1f MB/s"
        "  reply %zu chars\n",
        label, searched, page.size(), median, ms.front(), searched / 1e3 / median, reply.size());
}

}  // namespace

int main() {
    Measure("4 MiB page, entry near end", MakePage(1.0));
    Measure("4 MiB page, entry near start", MakePage(0.0));
    Measure("4 MiB page, no entry", [] {
        auto page = MakePage(1.0);
        const auto at = page.find(u"'Korvane ");
        page[at + 1] = u'k';
        return page;
    }());
    return 0;
}
