#include "fallback_choice.h"

namespace korvane {

std::wstring FallbackChoice::Choose(int script, const std::vector<std::wstring>& named,
                                    const Families& installed, const Missing& missing) {
    const std::optional<std::size_t> in_selected = missing(std::wstring());
    if (in_selected == std::size_t{0}) return {};
    Script& state = scripts_[script];
    if (state.fallback && missing(*state.fallback) == std::size_t{0}) return *state.fallback;
    // The face that lacks the fewest characters, fewer than the selected font.
    std::optional<std::wstring> best;
    std::optional<std::size_t> fewest = in_selected;
    const auto covers = [&](const std::wstring& face) {
        if (face.empty() || face == state.fallback || state.useless.count(face)) return false;
        const std::optional<std::size_t> lacks = missing(face);
        if (!lacks) {
            state.useless.insert(face);
            return false;
        }
        if (*lacks == 0) return true;
        if (!fewest || *lacks < *fewest) {
            fewest = lacks;
            best = face;
        }
        return false;
    };
    std::optional<std::wstring> found;
    for (const std::wstring& face : named) {
        if (covers(face)) {
            found = face;
            break;
        }
    }
    if (!found && !state.scanned) {
        state.scanned = true;
        for (const FontFamily& family : installed()) {
            if (family.outline && covers(family.face)) {
                found = family.face;
                break;
            }
        }
    }
    if (!found && state.fallback) return *state.fallback;
    if (!found) found = best;
    if (!found) return {};
    if (!state.fallback) state.fallback = found;
    return *found;
}

std::vector<std::wstring> FallbackChoice::Fallbacks() const {
    std::vector<std::wstring> faces;
    for (const auto& entry : scripts_) {
        if (entry.second.fallback) faces.push_back(*entry.second.fallback);
    }
    return faces;
}

}  // namespace korvane
