#include "TextCollation.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>

namespace Tallis::ImageUpdate {
namespace {

constexpr wchar_t kAsciiEnd = 0x80;

// First-level rank of every ASCII character (letters share one rank per letter); 0 for a
// character that lstrcmpiW ignores at the first level (hyphen, apostrophe, control characters).
struct AsciiWeights {
    LCID locale = 0;
    bool usable = false;
    std::array<std::uint8_t, kAsciiEnd> rank{};
};

AsciiWeights g_weights;
INIT_ONCE g_weightsOnce = INIT_ONCE_STATIC_INIT;
// Spares every comparison the call into InitOnceExecuteOnce once the table is measured.
std::atomic<bool> g_measured{false};

// Languages whose default collation gives ASCII no contractions or expansions (unlike, for
// instance, Danish "aa", Czech "ch" or Hungarian "cs") and no special case mapping (Turkish).
bool LocaleHasPlainAscii(LCID locale) noexcept
{
    if (SORTIDFROMLCID(locale) != SORT_DEFAULT)
        return false;
    switch (PRIMARYLANGID(LANGIDFROMLCID(locale))) {
    case LANG_ENGLISH:
    case LANG_GERMAN:
    case LANG_FRENCH:
    case LANG_ITALIAN:
    case LANG_PORTUGUESE:
    case LANG_DUTCH:
    case LANG_GREEK:
    case LANG_RUSSIAN:
    case LANG_JAPANESE:
        return true;
    default:
        return false;
    }
}

int Platform(const wchar_t* a, const wchar_t* b) noexcept
{
    return lstrcmpiW(a, b);
}

// c ignored at the first level: between two letters it cannot outweigh the letter after it.
bool IgnoredAtFirstLevel(wchar_t c) noexcept
{
    static const wchar_t kContexts[][3] = {{L'm', L'n', L'o'}, {L'x', L'y', L'z'}};
    for (const auto& context : kContexts) {
        const wchar_t withLow[] = {context[0], c, context[1], 0};
        const wchar_t withHigh[] = {context[0], c, context[2], 0};
        const wchar_t low[] = {context[0], context[1], 0};
        const wchar_t high[] = {context[0], context[2], 0};
        if (!(Platform(withLow, high) < 0 && Platform(withHigh, low) > 0))
            return false;
    }
    return true;
}

BOOL CALLBACK MeasureWeights(PINIT_ONCE, PVOID, PVOID*) noexcept
{
    AsciiWeights& weights = g_weights;
    weights.locale = GetThreadLocale();
    if (!LocaleHasPlainAscii(weights.locale))
        return TRUE;

    std::array<wchar_t, kAsciiEnd> ranked{};
    std::size_t count = 0;
    for (wchar_t c = 1; c < kAsciiEnd; ++c) {
        if (!IgnoredAtFirstLevel(c))
            ranked[count++] = c;
    }
    const auto single = [](wchar_t c) { return std::array<wchar_t, 2>{c, 0}; };
    std::sort(ranked.begin(), ranked.begin() + count,
              [&](wchar_t x, wchar_t y) { return Platform(single(x).data(), single(y).data()) < 0; });

    std::uint8_t rank = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const wchar_t c = ranked[i];
        if (i == 0 || Platform(single(ranked[i - 1]).data(), single(c).data()) != 0) {
            // Neighbouring ranks must differ at the first level: a later character in the
            // opposite order may not reverse them.
            if (i != 0) {
                const wchar_t before[] = {ranked[i - 1], L'z', 0};
                const wchar_t after[] = {c, L'a', 0};
                if (Platform(before, after) >= 0)
                    return TRUE;
            }
            ++rank;
        }
        weights.rank[c] = rank;
    }
    for (wchar_t letter = 0; letter < 26; ++letter) {
        const std::uint8_t lower = weights.rank[L'a' + letter];
        if (lower == 0 || lower != weights.rank[L'A' + letter])
            return TRUE;
        if (letter != 0 && lower <= weights.rank[L'a' + letter - 1])
            return TRUE;
    }
    weights.usable = true;
    return TRUE;
}

const AsciiWeights& Weights() noexcept
{
    if (!g_measured.load(std::memory_order_acquire)) {
        InitOnceExecuteOnce(&g_weightsOnce, &MeasureWeights, nullptr, nullptr);
        g_measured.store(true, std::memory_order_release);
    }
    return g_weights;
}

// The next first-level rank at p (p moves past it), 0 at the end of the text, -1 at a
// character outside ASCII. unranked is set when a character without first-level weight is passed.
int NextRank(const wchar_t*& p, const std::array<std::uint8_t, kAsciiEnd>& rank, bool& unranked) noexcept
{
    while (const wchar_t c = *p) {
        if (c >= kAsciiEnd)
            return -1;
        ++p;
        if (const std::uint8_t r = rank[c])
            return r;
        unranked = true;
    }
    return 0;
}

bool RestIsAscii(const wchar_t* p) noexcept
{
    for (; *p; ++p) {
        if (*p >= kAsciiEnd)
            return false;
    }
    return true;
}

} // namespace

bool AsciiCollationActive() noexcept
{
    const AsciiWeights& weights = Weights();
    return weights.usable && weights.locale == GetThreadLocale();
}

std::int32_t CompareTextsNoCase(const wchar_t* a, const wchar_t* b) noexcept
{
    if (!a || !b || !AsciiCollationActive())
        return Platform(a, b);
    const auto& rank = g_weights.rank;
    const wchar_t* p = a;
    const wchar_t* q = b;
    // Paths and descriptor texts share long beginnings: pass equal ranked characters quickly.
    while (*p == *q && *p != 0 && *p < kAsciiEnd && rank[*p] != 0) {
        ++p;
        ++q;
    }
    bool unranked = false;
    for (;;) {
        const int left = NextRank(p, rank, unranked);
        const int right = NextRank(q, rank, unranked);
        if (left < 0 || right < 0)
            return Platform(a, b);
        if (left != right) {
            // A non-ASCII character further on could still combine with what came before.
            if (!RestIsAscii(p) || !RestIsAscii(q))
                return Platform(a, b);
            return left < right ? -1 : 1;
        }
        if (left == 0)
            return unranked ? Platform(a, b) : 0;
    }
}

} // namespace Tallis::ImageUpdate
