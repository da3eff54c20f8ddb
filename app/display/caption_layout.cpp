#include "caption_layout.h"

#include <algorithm>

#include "utf16.h"

namespace korvane {
namespace {

// The first index in [lo, hi) for which `past` holds, or hi; `past` is
// false then true along the range.
template <class Predicate>
std::size_t FirstWhere(std::size_t lo, std::size_t hi, Predicate past) {
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (past(mid)) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    return lo;
}

}  // namespace

void CaptionLayout::Build(std::wstring_view text, int line_height, const Measure& measure,
                          const ShapeLine& shape) {
    // Fresh vectors, so that a shorter text also gives the memory back.
    std::vector<LaidOutLine>().swap(lines_);
    std::vector<std::int64_t>((text.size() >> kBlockBits) + 1).swap(blocks_);
    std::vector<std::uint32_t>(text.size()).swap(offsets_);
    width_ = 0;
    line_height_ = line_height;

    std::int64_t running = 0;
    const auto record = [&](std::size_t unit, std::int64_t after) {
        const std::size_t block = unit >> kBlockBits;
        if ((unit & ((std::size_t{1} << kBlockBits) - 1)) == 0) blocks_[block] = running;
        offsets_[unit] = static_cast<std::uint32_t>(after - blocks_[block]);
        running = after;
    };
    std::vector<int> ends(kMeasureChunk);
    std::size_t start = 0;
    for (;;) {
        const std::int64_t origin = running;
        std::size_t end = start;
        while (end < text.size() && text[end] != L'\r' && text[end] != L'\n') ++end;
        const TextSpan span{start, end - start};
        const std::optional<std::int64_t> shaped_width =
            shape ? shape(lines_.size(), span) : std::nullopt;
        if (shaped_width) {
            for (std::size_t unit = start; unit < end; ++unit) record(unit, running);
        }
        // Measured in chunks that never split a surrogate pair.
        for (std::size_t unit = shaped_width ? end : start; unit < end;) {
            std::size_t count = std::min<std::size_t>(kMeasureChunk, end - unit);
            if (unit + count < end && IsPairSecond(text, unit + count)) --count;
            measure(text.data() + unit, static_cast<int>(count), ends.data());
            const std::int64_t base = running;
            for (std::size_t k = 0; k < count; ++k) {
                record(unit + k, std::max(base + ends[k], running));
            }
            unit += count;
        }
        lines_.push_back(LaidOutLine{span, origin, shaped_width.has_value()});
        width_ = std::max(width_, shaped_width ? *shaped_width : running - origin);
        if (end == text.size()) break;
        // A break adds nothing; CR LF is one break.
        std::size_t next = end + 1;
        if (text[end] == L'\r' && next < text.size() && text[next] == L'\n') ++next;
        for (std::size_t unit = end; unit < next; ++unit) record(unit, running);
        start = next;
    }
}

CaptionSlice CaptionLayout::Visible(std::wstring_view text, std::size_t line, std::int64_t left,
                                    std::int64_t right) const {
    const LaidOutLine& l = lines_[line];
    if (l.shaped) return {};
    const std::size_t lo = l.span.start;
    const std::size_t hi = lo + l.span.length;
    if (lo == hi || right <= left) return {};
    const auto end_of = [&](std::size_t unit) { return After(unit) - l.origin; };
    const auto start_of = [&](std::size_t unit) { return unit == lo ? 0 : end_of(unit - 1); };
    // The first unit that ends right of `left`, the first that starts at or
    // right of `right`.
    std::size_t first = FirstWhere(lo, hi, [&](std::size_t u) { return end_of(u) > left; });
    std::size_t last = FirstWhere(first, hi, [&](std::size_t u) { return start_of(u) >= right; });
    if (first == last) return {};
    std::size_t count = last - first;
    KeepPairsWhole(text.substr(0, hi), first, count);
    return CaptionSlice{first - lo, count, start_of(first)};
}

}  // namespace korvane
