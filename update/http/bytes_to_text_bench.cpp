// BytesToText against iconv's CP936 decoder on the same 8 MiB of mixed
// ASCII and GBK text.
#include <iconv.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bytes_to_text.h"
#include "code_page_iconv.h"

using namespace korvane::http;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kBufferBytes = 8u << 20;
constexpr int kRounds = 7;

// Runs of ASCII words and GB2312 hanzi (lead 0xB0..0xD6, trail 0xA1..0xFE),
// from a fixed-seed generator so every run decodes the same bytes.
std::vector<std::uint8_t> MakeGbkText() {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(kBufferBytes);
    std::uint32_t state = 12345;
    auto next = [&](std::uint32_t range) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % range;
    };
    while (bytes.size() < kBufferBytes) {
        const std::uint32_t run = 1 + next(24);
        const bool hanzi = next(2);
        for (std::uint32_t i = 0; i < run && bytes.size() + 1 + hanzi <= kBufferBytes; ++i) {
            if (hanzi) bytes.push_back(static_cast<std::uint8_t>(0xB0 + next(0xD7 - 0xB0)));
            bytes.push_back(static_cast<std::uint8_t>(hanzi          ? 0xA1 + next(0xFF - 0xA1)
                                                      : next(5) == 0 ? ' '
                                                                     : 'a' + next(26)));
        }
    }
    return bytes;
}

std::u16string IconvDecode(iconv_t cd, const std::vector<std::uint8_t>& bytes) {
    std::u16string text(bytes.size(), u'\0');
    char* in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(bytes.data()));
    std::size_t in_left = bytes.size();
    char* out = reinterpret_cast<char*>(text.data());
    std::size_t out_left = text.size() * 2;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &in_left, &out, &out_left) == static_cast<std::size_t>(-1)) {
        std::perror("iconv");
        return {};
    }
    text.resize(text.size() - out_left / 2);
    return text;
}

template <typename F>
double BestMiBPerSecond(F&& decode) {
    double best = 0;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = Clock::now();
        decode();
        const std::chrono::duration<double> elapsed = Clock::now() - start;
        best = std::max(best, kBufferBytes / (1024.0 * 1024.0) / elapsed.count());
    }
    return best;
}

}  // namespace

int main() {
    const std::vector<std::uint8_t> bytes = MakeGbkText();
    const CodePage code_page = MakeIconvCodePage("CP936");
    iconv_t cd = iconv_open("UTF-16LE", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        std::perror("iconv_open");
        return 1;
    }

    const auto ours = BytesToText(bytes, code_page);
    const std::u16string reference = IconvDecode(cd, bytes);
    if (!ours || *ours != reference || reference.empty()) {
        std::fprintf(stderr, "BytesToText and iconv disagree\n");
        return 1;
    }

    std::size_t sink = 0;
    const double ours_rate =
        BestMiBPerSecond([&] { sink += BytesToText(bytes, code_page)->size(); });
    const double iconv_rate = BestMiBPerSecond([&] { sink += IconvDecode(cd, bytes).size(); });
    iconv_close(cd);

    std::printf("GBK buffer: %zu bytes -> %zu characters (best of %d rounds)\n", bytes.size(),
                reference.size(), kRounds);
    std::printf("BytesToText      %9.1f MiB/s\n", ours_rate);
    std::printf("iconv CP936      %9.1f MiB/s\n", iconv_rate);
    std::printf("ratio            %9.2f x\n", ours_rate / iconv_rate);
    return sink == 0;
}
