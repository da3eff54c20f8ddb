#include "caption_layout.h"
#include "caption_name.h"
#include "fallback_choice.h"
#include "font_names.h"
#include "shaped_line.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace korvane {
namespace {

// U+1F600 in UTF-16, as Windows holds it whatever the size of wchar_t here.
const std::wstring kPair{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};

// Advances as a CJK font gives them: 8 px for ASCII, 16 for ideographs,
// 7 for each half of a surrogate pair.
int Advance(wchar_t unit) { return unit < 0x80 ? 8 : unit >= 0xD800 && unit <= 0xDFFF ? 7 : 16; }

// Glyph slices as comparable tuples {run, first, count, offset}.
std::vector<std::tuple<std::size_t, std::size_t, std::size_t, std::int64_t>> Fields(
    const std::vector<GlyphSlice>& slices) {
    std::vector<std::tuple<std::size_t, std::size_t, std::size_t, std::int64_t>> fields;
    for (const GlyphSlice& s : slices) fields.emplace_back(s.run, s.first, s.count, s.offset);
    return fields;
}

CaptionLayout LayOut(const std::wstring& text, int* calls = nullptr) {
    CaptionLayout layout;
    layout.Build(text, 24, [&](const wchar_t* units, int count, int* ends) {
        EXPECT_LE(count, CaptionLayout::kMeasureChunk);
        int sum = 0;
        for (int i = 0; i < count; ++i) ends[i] = sum += Advance(units[i]);
        if (calls) ++*calls;
    });
    return layout;
}

// Line `line` of `text` between `left` and `right`: {first, count, offset},
// the offset 0 where the slice is empty.
void ExpectSlice(const CaptionLayout& layout, const std::wstring& text, std::int64_t left,
                 std::int64_t right, CaptionSlice expected, std::size_t line = 0) {
    const CaptionSlice slice = layout.Visible(text, line, left, right);
    EXPECT_EQ(std::tuple(slice.first, slice.count, slice.count ? slice.offset : 0),
              std::tuple(expected.first, expected.count, expected.offset))
        << left << ".." << right;
}

TEST(CaptionSlice, CutGlyphsDrawnWholePairsKeptEmptyOutsideTheStrip) {
    const std::wstring ascii = L"ABCDEFGHIJ";  // 8 px each
    const CaptionLayout a = LayOut(ascii);
    ExpectSlice(a, ascii, 0, 80, {0, 10, 0});
    ExpectSlice(a, ascii, 12, 30, {1, 3, 8});   // B cut on the left, D on the right
    ExpectSlice(a, ascii, 16, 32, {2, 2, 16});  // edges exactly between glyphs
    ExpectSlice(a, ascii, -50, 1, {0, 1, 0});

    const std::wstring mixed = L"欢迎A使用!";  // 16 16 8 16 16 8
    const CaptionLayout m = LayOut(mixed);
    ExpectSlice(m, mixed, 20, 40, {1, 2, 16});  // 迎 cut on the left, A whole, 使 not reached
    ExpectSlice(m, mixed, 39, 40, {2, 1, 32});
    ExpectSlice(m, mixed, 40, 41, {3, 1, 40});

    // A surrogate pair is never split.
    const std::wstring paired = L"a" + kPair + L"b";  // a 8, pair 7 + 7, b 8
    const CaptionLayout p = LayOut(paired);
    // Left edge inside the low half: the slice starts at the high half.
    ExpectSlice(p, paired, 17, 30, {1, 3, 8});
    // Right edge inside the high half: the low half comes along.
    ExpectSlice(p, paired, 0, 10, {0, 3, 0});

    // Empty while the caption is out of the strip.
    const std::wstring text = L"欢迎使用!";
    const CaptionLayout layout = LayOut(text);
    EXPECT_EQ(layout.Width(), 72);
    // Waiting at the right edge after a wrap: the strip lies left of it.
    EXPECT_EQ(layout.Visible(text, 0, -393, 0).count, 0u);
    // Gone on the left.
    EXPECT_EQ(layout.Visible(text, 0, 72, 465).count, 0u);
    const std::wstring empty;
    const CaptionLayout none = LayOut(empty);
    EXPECT_EQ(none.LineCount(), 1u);
    EXPECT_EQ(none.Width(), 0);
    EXPECT_EQ(none.Visible(empty, 0, -10, 10).count, 0u);
}

TEST(CaptionLayout, BreaksLinesAsDrawTextAndMeasuresLongLinesInChunks) {
    const std::wstring text = L"ab\r\ncdef\rg\n\nh";
    const CaptionLayout layout = LayOut(text);
    ASSERT_EQ(layout.LineCount(), 5u);
    EXPECT_EQ(std::tuple(layout.Line(1).start, layout.Line(1).length, layout.Line(3).length),
              std::tuple(4u, 4u, 0u));
    EXPECT_EQ(layout.Width(), 32);
    EXPECT_EQ(layout.Height(), 5 * 24);
    ExpectSlice(layout, text, 0, 80, {0, 2, 0});
    ExpectSlice(layout, text, 9, 17, {1, 2, 8}, 1);

    // A long line with a surrogate pair across a chunk boundary: the pair
    // is measured whole and the widths add up over the chunks.
    std::wstring line(CaptionLayout::kMeasureChunk - 1, L'x');
    line += kPair;
    line += std::wstring(5000, L'欢');
    int calls = 0;
    const CaptionLayout long_layout = LayOut(line, &calls);
    EXPECT_EQ(calls, 6);
    const std::int64_t pair_at = 8 * (CaptionLayout::kMeasureChunk - 1);
    EXPECT_EQ(long_layout.Width(), pair_at + 14 + 5000 * 16);
    ExpectSlice(long_layout, line, pair_at + 8, pair_at + 9,
                {CaptionLayout::kMeasureChunk - 1, 2, pair_at});
    ExpectSlice(long_layout, line, pair_at + 14 + 16 * 4000 + 3, pair_at + 14 + 16 * 4002,
                {CaptionLayout::kMeasureChunk + 1 + 4000, 2, pair_at + 14 + 16 * 4000});
}

TEST(ShapedLine, WhichLinesAreShapedWholeAndWhatARepaintDraws) {
    // Chinese, Latin and full-width punctuation keep the per-unit path;
    // right-to-left, joining, combining and beyond-the-BMP text does not.
    EXPECT_FALSE(NeedsShaping(L"欢迎使用 Korvane, 0123!。"));
    EXPECT_TRUE(NeedsShaping(L"abc \u05E9\u05DC\u05D5\u05DD"));    // Hebrew
    EXPECT_TRUE(NeedsShaping(L"\u0645\u0631\u062D\u0628\u0627"));  // Arabic
    EXPECT_TRUE(NeedsShaping(L"\u0915\u094D\u0937"));              // Devanagari cluster
    EXPECT_TRUE(NeedsShaping(L"e\u0301"));                         // combining accent
    EXPECT_TRUE(NeedsShaping(L"a\u200Db"));                        // ZWJ
    EXPECT_FALSE(NeedsShaping(kPair + L"\xD840\xDC00"));           // an emoji alone, U+20000
    EXPECT_TRUE(NeedsShaping(L"\xD83D\xDC4D\xD83C\xDFFD"));        // thumbs up, skin tone
    EXPECT_TRUE(NeedsShaping(L"\xD83C\xDDE8\xD83C\xDDF3"));        // a flag

    // A caption of lines 0 and 2 plain, line 1 shaped: the layout asks
    // only for line 1, takes its width and has no unit slice of it.
    const std::wstring text = L"ab\n\u05E9\u05DC\u05D5\u05DD\ncd";
    CaptionLayout layout;
    std::vector<std::size_t> asked;
    layout.Build(
        text, 24,
        [](const wchar_t*, int count, int* ends) {
            for (int i = 0; i < count; ++i) ends[i] = 8 * (i + 1);
        },
        [&](std::size_t line, TextSpan span) -> std::optional<std::int64_t> {
            const std::wstring_view units = std::wstring_view(text).substr(span.start, span.length);
            if (!NeedsShaping(units)) return std::nullopt;
            asked.push_back(line);
            return 50;
        });
    EXPECT_EQ(asked, std::vector<std::size_t>{1});
    EXPECT_EQ(std::pair(layout.Shaped(1), layout.Shaped(2)), std::pair(true, false));
    EXPECT_EQ(layout.Width(), 50);
    EXPECT_EQ(layout.Visible(text, 1, 0, 50).count, 0u);
    EXPECT_EQ(layout.Visible(text, 2, 0, 16).count, 2u);

    // Two runs in visual order: 3 glyphs of 10 px, then a base of 12 with a
    // mark of no advance and two more of 12.
    ShapedLine line;
    const int first_run[] = {10, 10, 10};
    const int second_run[] = {12, 0, 12, 12};
    line.AddRun(first_run, 3);
    line.AddRun(second_run, 4);
    EXPECT_EQ(line.Width(), 66);
    const auto expect = [&](std::int64_t left, std::int64_t right,
                            std::vector<GlyphSlice> expected) {
        EXPECT_EQ(Fields(line.Visible(left, right)), Fields(expected)) << left << ".." << right;
    };
    expect(0, 10, {{0, 0, 1, 0}});
    expect(15, 35, {{0, 1, 2, 10}, {1, 0, 2, 30}});  // across the runs; the mark goes along
    expect(35, 40, {{1, 0, 2, 30}});                 // the mark goes with its base
    expect(42, 43, {{1, 1, 2, 42}});
    expect(65, 1000, {{1, 3, 1, 54}});
    expect(66, 1000, {});
    expect(-50, 0, {});
}

TEST(ShapedLine, LongItemsAreCutIntoPiecesAtSpacesOrClusterBoundaries) {
    // Arabic words of 9 letters and a space: 5000 words, 50,000 units.
    const std::wstring word = L"\u0645\u0631\u062D\u0628\u0627\u0628\u0643\u0645\u0627 ";
    std::wstring words;
    for (int i = 0; i < 5000; ++i) words += word;
    const std::vector<TextSpan> pieces = SplitIntoPieces(words, TextSpan{0, words.size()});
    std::size_t next = 0;
    for (const TextSpan& piece : pieces) {
        EXPECT_EQ(piece.start, next);
        EXPECT_LE(piece.length, kMaxPieceUnits);
        next = piece.start + piece.length;
        if (next < words.size()) {
            EXPECT_GT(piece.length, kMaxPieceUnits - 10);  // the last space within reach
            EXPECT_EQ(words[next - 1], L' ');
        }
    }
    EXPECT_EQ(next, words.size());

    // No space at all, in clusters written out here: a cut falls only
    // between two of them, and no piece is longer than the room. Letters
    // with a vowel mark and an emoji with a variation selector; Thai with
    // marks, leading vowels and a phinthu joining two letters (300,000
    // units); Devanagari conjuncts; Brahmi beyond the BMP with its virama.
    const auto repeat = [](std::vector<std::wstring> clusters, std::size_t units) {
        std::wstring text;
        std::vector<bool> starts;
        for (std::size_t i = 0; text.size() < units; ++i) {
            const std::wstring& cluster = clusters[(i * 7 + i / 3) % clusters.size()];
            starts.push_back(true);
            starts.resize(starts.size() + cluster.size() - 1, false);
            text += cluster;
        }
        return std::pair{text, starts};
    };
    const struct {
        const char* name;
        std::size_t units, room;
        std::vector<std::wstring> clusters;
    } rows[] = {
        // clang-format off
        {"marked Arabic and emoji", 40000, 1000,
         {L"\u0628\u064E", L"\u0628\u064E", L"\xD83D\xDC4D\xFE0F", L"\u0628\u064E\u0651"}},
        {"Thai", 300000, kMaxPieceUnits,
         {L"\u0E01", L"\u0E01\u0E34", L"\u0E40", L"\u0E01\u0E48", L"\u0E01\u0E35\u0E49",
          L"\u0E23\u0E3A\u0E01", L"\u0E32"}},
        {"Devanagari", 20000, kMaxPieceUnits,
         {L"\u0915\u094D\u0937", L"\u0915\u093F", L"\u0938\u094D\u0924\u094D\u0930",
          L"\u0928\u0902", L"\u0905"}},
        // Ka, virama, ka; ka with the vowel sign i; ka alone.
        {"Brahmi", 20000, kMaxPieceUnits,
         {L"\xD804\xDC13\xD804\xDC46\xD804\xDC13", L"\xD804\xDC13\xD804\xDC3A", L"\xD804\xDC13"}},
        // One cluster longer than the room, which no real text has: cut at the room.
        {"a letter with 2000 marks", 2001, 512, {L"a" + std::wstring(2000, L'\u0301')}},
        // clang-format on
    };
    for (const auto& row : rows) {
        const auto [text, starts] = repeat(row.clusters, row.units);
        const std::vector<TextSpan> cut = SplitIntoPieces(text, TextSpan{0, text.size()}, row.room);
        ASSERT_GT(cut.size(), text.size() / row.room) << row.name;
        next = 0;
        for (const TextSpan& piece : cut) {
            EXPECT_EQ(piece.start, next) << row.name;
            EXPECT_LE(piece.length, row.room) << row.name;
            if (row.clusters[0].size() < row.room) {
                EXPECT_TRUE(starts[piece.start]) << row.name << ": cut at " << piece.start;
            } else if (piece.start + piece.length < text.size()) {
                EXPECT_EQ(piece.length, row.room) << row.name;
            }
            next = piece.start + piece.length;
        }
        EXPECT_EQ(next, text.size()) << row.name;
    }
    const std::wstring marked = repeat({L"\u0628\u064E"}, 2000).first;
    // A span within the text, shorter than the room, is one piece.
    const std::vector<TextSpan> one = SplitIntoPieces(marked, TextSpan{10, 500}, 1000);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(std::pair(one[0].start, one[0].length), std::pair(std::size_t{10}, std::size_t{500}));
}

TEST(CaptionName, TheCaptionsStartCutAtASpaceOrClusterBoundary) {
    const std::wstring ideographs(600, L'\u4E2D');
    std::wstring words;  // "abcd " over and over: a space every fifth unit
    while (words.size() < 600) words += L"abcd ";
    // An emoji (a surrogate pair) on units 499 and 500.
    const std::wstring pair_across = std::wstring(499, L'\u4E2D') + kPair + ideographs;
    // "e" with a combining acute accent on units 499 and 500.
    const std::wstring mark_across = std::wstring(499, L'\u4E2D') + L"e\u0301" + ideographs;
    // Devanagari letters only: no cluster boundary within the room at all.
    const std::wstring one_word(600, L'\u0915');
    const struct {
        const wchar_t* what;
        std::wstring_view caption;
        std::size_t length;
    } rows[] = {
        {L"a short caption whole", L"\u6B22\u8FCE\u4F7F\u7528!", 5},
        {L"exactly the room", std::wstring_view(ideographs).substr(0, 500), 500},
        {L"ideographs at the room's end", ideographs, 500},
        {L"before the last space in the room", words, 499},
        {L"not inside a surrogate pair", pair_across, 499},
        {L"not before a combining mark", mark_across, 499},
        {L"no boundary: the room, whole pairs", one_word, 500},
    };
    for (const auto& row : rows) {
        const std::wstring_view name = CaptionName(row.caption);
        EXPECT_EQ(name.size(), row.length) << row.what;
        EXPECT_EQ(name, row.caption.substr(0, row.length)) << row.what;
    }
    // The tip's room: 118 units after "Korvane: ".
    EXPECT_EQ(CaptionName(words, 118).size(), 114u);
}

TEST(ShapedLine, ShapesOnlyWhatNeedsItAndDrawsAFailedPieceAsCharacters) {
    // Visual order: Latin (simple, left to right), Hebrew (right to left, in
    // two pieces, the later one drawn first), then a Latin item with a
    // combining accent (needs shaping). Shaping gives 5 px a unit, measuring
    // 8 px a unit; the Hebrew piece that starts the item fails to shape.
    const std::wstring latin = L"Korvane ";
    const std::wstring hebrew(kMaxPieceUnits + 100, L'\u05E9');
    const std::wstring accented = L"e\u0301te";
    const std::wstring text = latin + hebrew + accented;
    const std::size_t hebrew_at = latin.size(), accented_at = hebrew_at + hebrew.size();
    const std::vector<LineItem> items{{{0, latin.size()}, false, false},
                                      {{hebrew_at, hebrew.size()}, true, true},
                                      {{accented_at, accented.size()}, false, false}};
    std::vector<std::size_t> shaped_at;
    ShapedLine line;
    line.Build(
        text, items,
        [&](TextSpan piece, bool, std::vector<int>& advances) {
            shaped_at.push_back(piece.start);
            if (piece.start == hebrew_at) return false;
            advances.assign(piece.length, 5);
            return true;
        },
        [](TextSpan piece, int* ends) {
            for (std::size_t k = 0; k < piece.length; ++k) ends[k] = 8 * static_cast<int>(k + 1);
        });
    ASSERT_EQ(line.RunCount(), 4u);
    ASSERT_EQ(shaped_at.size(), 3u);  // never the plain Latin item
    const std::size_t second_piece = shaped_at[0];
    EXPECT_GT(second_piece, hebrew_at);
    EXPECT_EQ(shaped_at, (std::vector<std::size_t>{second_piece, hebrew_at, accented_at}));
    // Latin as characters; the Hebrew item's pieces from its end, its first
    // piece (which failed) as characters; the accented item shaped.
    EXPECT_EQ((std::vector<bool>{line.Units(0), line.Units(1), line.Units(2), line.Units(3)}),
              (std::vector<bool>{true, false, true, false}));
    EXPECT_EQ(line.RunText(0).start, 0u);
    EXPECT_EQ(std::pair(line.RunText(2).start, line.RunText(2).length),
              std::pair(hebrew_at, second_piece - hebrew_at));
    const std::int64_t failed = static_cast<std::int64_t>(second_piece - hebrew_at);
    const std::int64_t width = 8 * static_cast<std::int64_t>(latin.size()) +
                               5 * (static_cast<std::int64_t>(hebrew.size()) - failed) +
                               8 * failed + 5 * static_cast<std::int64_t>(accented.size());
    EXPECT_EQ(line.Width(), width);
    // The failed piece is drawn where its measured characters lie.
    const std::int64_t failed_left = width - 5 * 4 - 8 * failed;
    EXPECT_EQ(Fields(line.Visible(failed_left + 8, failed_left + 17)),
              Fields({{2, 1, 2, failed_left + 8}}));
}

TEST(FallbackChoice, AnUncoveredPieceKeepsTheScriptsFallbackAndRasterFamiliesAreSkipped) {
    // Stand-in fonts by the characters they have; "Symbols" cannot draw
    // the script at all. Arabic is script 1, Thai script 2.
    const std::map<std::wstring, std::wstring> has{{L"", L"abc"},
                                                   {L"Linked", L"abc"},
                                                   {L"Bitmap", L"\u0628\u062A\u0E01"},
                                                   {L"Good", L"\u0628\u062A"},
                                                   {L"Thai", L"\u0E01"},
                                                   {L"Symbols", L""}};
    const std::vector<FontFamily> installed{
        {L"Bitmap", false}, {L"Good", true}, {L"Symbols", true}, {L"Thai", true}};
    std::map<std::wstring, int> tries;
    int scans = 0;
    FallbackChoice choice;
    const auto choose = [&](int script, const std::wstring& piece) {
        return choice.Choose(
            script, {L"Linked"},
            [&]() -> const std::vector<FontFamily>& {
                ++scans;
                return installed;
            },
            [&](const std::wstring& face) -> std::optional<std::size_t> {
                ++tries[face];
                if (face == L"Symbols") return std::nullopt;
                std::size_t missing = 0;
                for (const wchar_t c : piece) missing += has.at(face).find(c) == std::wstring::npos;
                return missing;
            });
    };
    EXPECT_EQ(choose(1, L"abc"), L"");               // the selected font covers it
    EXPECT_EQ(choose(1, L"\u0628\u062A"), L"Good");  // found by the scan, not in Bitmap
    EXPECT_EQ(choose(1, L"\u0628\u08A0"), L"Good");  // covered nowhere: the fallback stays
    EXPECT_EQ(choose(1, L"\u062A"), L"Good");
    EXPECT_EQ(scans, 1);
    EXPECT_EQ(tries.count(L"Bitmap"), 0u);
    EXPECT_EQ(tries[L"Symbols"], 0);  // the scan stopped at Good
    // Thai's first piece has a character nothing has: the family that
    // lacks the fewest becomes the script's fallback, and no second scan runs.
    EXPECT_EQ(choose(2, L"\u0E01\u0E99\u0E01"), L"Thai");
    EXPECT_EQ(choose(2, L"\u0E01"), L"Thai");
    EXPECT_EQ(scans, 2);
    EXPECT_EQ(tries[L"Symbols"], 1);       // cannot draw Thai: never tried for it again
    EXPECT_EQ(choose(3, L"\u0E99"), L"");  // nothing has any of it: the selected font
    EXPECT_EQ(choice.Fallbacks(), (std::vector<std::wstring>{L"Good", L"Thai"}));
}

TEST(FontNames, SystemLinkValuesAndEnglishFamilyNames) {
    using namespace std::string_view_literals;
    const struct {
        std::wstring_view value;
        std::vector<std::wstring> faces;
    } links[] = {
        {L"MSGOTHIC.TTC,MS UI Gothic\0MINGLIU.TTC,PMingLiU\0"sv, {L"MS UI Gothic", L"PMingLiU"}},
        {L"SIMSUN.TTC,SimSun,128,96\0\0AFTER.TTF,After"sv, {L"SimSun"}},  // to the empty entry
        {L"NOFACE.TTF\0,\0MALGUN.TTF,Malgun Gothic"sv, {L"Malgun Gothic"}},
        {L""sv, {}},
    };
    for (const auto& link : links) EXPECT_EQ(ParseSystemLink(link.value), link.faces);

    // A name table written out by hand: 3 records, strings at 42; the
    // Macintosh family name "Mac" and the Chinese one (宋体) before the US
    // English one, "SimSun" in UTF-16BE.
    // clang-format off
    const std::vector<unsigned char> table{
        0, 0, 0, 3, 0, 42,
        0, 1, 0, 1, 0, 0,    0, 1, 0, 3,  0, 0,
        0, 3, 0, 1, 8, 4,    0, 1, 0, 4,  0, 3,
        0, 3, 0, 1, 4, 9,    0, 1, 0, 12, 0, 7,
        'M', 'a', 'c',  0x5B, 0x8B, 0x4F, 0x53,
        0, 'S', 0, 'i', 0, 'm', 0, 'S', 0, 'u', 0, 'n'};
    // clang-format on
    EXPECT_EQ(EnglishFamilyName(table.data(), table.size()), L"SimSun");
    EXPECT_EQ(EnglishFamilyName(table.data(), table.size() - 2), L"");  // cut short
}

}  // namespace
}  // namespace korvane
