// How the match finder works, and the terms it uses, is told at the top of match_finder.h.
#include "zip/match_finder.h"

#include <array>

namespace zip_deflate {
namespace {

inline std::uint32_t Load32(const std::uint8_t* p) {
    std::uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// Strings of other prefixes that share a prefix chain's key are skipped at a cost: a prefix
// chain's walk may visit this many candidates more than the hash chain's walk would over the
// same strings before the search goes back to the hash chain.
constexpr unsigned kDetour = 16;
// A chain walked within this many strings joins along when another chain joins: on natural
// input every chain is walked that often, and one pass for all costs less than each catching
// up apart, or than searches that find a chain lagging and keep to the hash chain. A chain
// that no search walks, as on input whose matches never grow, stops joining a window after.
constexpr unsigned kJoinAlong = kWindowSize;
// A prefix walk looks at the ranks of the strings it passes every this many candidates: past
// the budget it ends; else the place it has settled allows it more candidates.
constexpr unsigned kLook = 8;

// Puts the string at `at`, whose bytes are at `bytes`, into prefix chain kChain.
template <unsigned kChain>
inline void JoinString(State& s, const std::uint8_t* bytes, unsigned at) {
    const unsigned key = PrefixHash<kPrefixLength[kChain]>(bytes);
    s.prefix_chain[kChain][at & kWindowMask] = s.prefix_head[kChain][key];
    s.prefix_head[kChain][key] = static_cast<std::uint16_t>(at);
}

// Puts the strings from `from` to `last` into the prefix chains of kMask, one pass for all:
// the chains walked together share the loop.
template <unsigned kMask>
void JoinTogether(State& s, unsigned from, unsigned last) {
    const std::uint8_t* const window = s.window.data();
    for (unsigned at = from; at <= last; ++at) {
        if constexpr ((kMask & 1) != 0) {
            JoinString<0>(s, window + at, at);
        }
        if constexpr ((kMask & 2) != 0) {
            JoinString<1>(s, window + at, at);
        }
        if constexpr ((kMask & 4) != 0) {
            JoinString<2>(s, window + at, at);
        }
    }
}

// The first string that prefix chain `chain` lacks for a search at `last`. Strings at the
// farthest distance or beyond are out of reach of this search and of every later one.
inline unsigned FirstToJoin(const State& s, unsigned chain, unsigned last) {
    return std::max(s.prefix_next[chain], last > kMaxDistance ? last - kMaxDistance + 1 : 0u);
}

// Whether every prefix chain lacks the same strings.
inline bool InStep(const State& s) {
    return std::all_of(s.prefix_next.begin(), s.prefix_next.end(),
                       [&](unsigned next) { return next == s.prefix_next[0]; });
}

}  // namespace

void JoinPrefixChains(State& s, unsigned wanted, unsigned last) {
    std::array<unsigned, kPrefixChains> firsts{};
    unsigned members = 0;
    unsigned start = 0;
    for (unsigned chain = 0; chain < kPrefixChains; ++chain) {
        firsts[chain] = FirstToJoin(s, chain, last);
        if ((wanted >> chain & 1) != 0 && firsts[chain] <= last) {
            members |= 1u << chain;
            start = std::max(start, firsts[chain]);
        }
    }
    if ((members & 1) != 0 && firsts[0] < start) {
        JoinTogether<1>(s, firsts[0], start - 1);
    }
    if ((members & 2) != 0 && firsts[1] < start) {
        JoinTogether<2>(s, firsts[1], start - 1);
    }
    if ((members & 4) != 0 && firsts[2] < start) {
        JoinTogether<4>(s, firsts[2], start - 1);
    }
    // Each pass by name, not through a table: so they inline here, which the log corpus feels.
    switch (members) {
        case 1:
            JoinTogether<1>(s, start, last);
            break;
        case 2:
            JoinTogether<2>(s, start, last);
            break;
        case 3:
            JoinTogether<3>(s, start, last);
            break;
        case 4:
            JoinTogether<4>(s, start, last);
            break;
        case 5:
            JoinTogether<5>(s, start, last);
            break;
        case 6:
            JoinTogether<6>(s, start, last);
            break;
        case 7:
            JoinTogether<7>(s, start, last);
            break;
        default:
            return;
    }
    for (unsigned chain = 0; chain < kPrefixChains; ++chain) {
        if ((members >> chain & 1) != 0) {
            s.prefix_next[chain] = last + 1;
        }
    }
}

namespace {

inline void Settle(Search& search, unsigned candidate, unsigned place) {
    if (place > search.known_place) {
        search.known = candidate;
        search.known_place = place;
    }
}

// A string's place in the hash chain, from the ranks; meaningful for strings of the chain only.
inline unsigned Place(const State& s, const Search& search, unsigned candidate) {
    return static_cast<std::uint16_t>(search.head_rank - s.rank[candidate & kWindowMask]);
}

// The first kLength bytes of the scan, held to compare candidates with.
template <unsigned kLength>
struct PrefixOf {
    std::uint64_t low;
    std::uint64_t high;
    explicit PrefixOf(const std::uint8_t* p)
        : low(kLength == 4 ? Load32(p) : Load64(p)), high(kLength == 16 ? Load64(p + 8) : 0) {}
    bool Matches(const std::uint8_t* p) const {
        if constexpr (kLength == 4) {
            return Load32(p) == low;
        } else if constexpr (kLength == 8) {
            return Load64(p) == low;
        } else {
            return ((Load64(p) ^ low) | (Load64(p + 8) ^ high)) == 0;
        }
    }
};

// Walks the chain of strings whose first kLength bytes share a key with the scan's, or with
// the string kShift bytes on from it: then each string of the chain stands for the candidate
// kShift bytes before it. Those of the scan's prefix hold all that can beat the best match so
// far, in the hash chain's order; the others only cost. Answers kNextChain when the best match
// has grown to `next_best`, kHashChain when strings of other prefixes crowd the chain so that
// the hash chain is the cheaper walk on from search.known, kDone when the search is over.
// Visits at most the budget and kDetour candidates. Out of line, one function per chain and
// shift, so that each loop keeps its values in registers.
template <unsigned kChain, unsigned kShift>
[[gnu::noinline]] Walk WalkPrefixChain(const State& s, unsigned first, Search& search,
                                       unsigned next_best) {
    constexpr unsigned kLength = kPrefixLength[kChain];
    const std::uint8_t* const scan = search.scan;
    const PrefixOf<kLength> prefix(scan + kShift);
    const std::uint8_t first_byte = scan[0];
    unsigned best = search.best;
    std::uint16_t end_pair = Load16(scan + best - 1);
    const unsigned detour = std::min(kDetour, search.budget);
    // This walk may visit as many candidates as the hash chain's walk up to the settled place
    // would, and a detour more. It looks at the ranks every kLook visits or so (at visit
    // `next_look`, when `quota` runs out): there it settles, and ends once past the budget.
    unsigned allowance = search.known_place + 1 + detour;
    unsigned quota = std::min(allowance, kLook);
    unsigned next_look = quota + 1;
    std::size_t last_of_prefix = 0;  // none yet: position 0 is never a candidate
    // A link must lead below the last one and above the limit: one unsigned test for both.
    const std::size_t lowest = search.limit + kShift + 1;
    std::size_t span = search.position + kShift - lowest;
    Walk walk = Walk::kDone;
    std::size_t link = first;
    for (;;) {
        const std::size_t above = link - lowest;
        if (above >= span) [[unlikely]] {
            if (link >= lowest) {
                LeadsBack(search, static_cast<unsigned>(link),
                          static_cast<unsigned>(span + lowest));
            }
            break;
        }
        span = above;
        if (quota == 0) [[unlikely]] {
            const unsigned visits = next_look;
            if (last_of_prefix != 0) {
                const unsigned place = Place(s, search, static_cast<unsigned>(last_of_prefix));
                if (place >= search.budget) {
                    break;
                }
                Settle(search, static_cast<unsigned>(last_of_prefix), place);
                allowance = search.known_place + 1 + detour;
            }
            if (visits > allowance) {
                walk = Walk::kHashChain;
                break;
            }
            const unsigned step = std::min(allowance - visits, kLook);
            quota = step + 1;
            next_look = visits + step + 1;
        }
        --quota;
        const std::size_t candidate = link - kShift;
        const std::uint8_t* const match = s.window.data() + candidate;
        link = s.prefix_chain[kChain][link & kWindowMask];
        if (!prefix.Matches(match + kShift) || (kShift != 0 && match[0] != first_byte)) [[likely]] {
            continue;
        }
        last_of_prefix = candidate;
        if (Load16(match + best - 1) != end_pair) {
            continue;
        }
        // Ranks only grow along the chain, so the budget must stop the walk before a candidate
        // is measured.
        const unsigned place = Place(s, search, static_cast<unsigned>(candidate));
        if (place >= search.budget) {
            break;
        }
        constexpr unsigned kKnown = kLength + kShift;
        const unsigned length =
            kKnown + MatchLength(scan + kKnown, match + kKnown, kMaxMatch - kKnown);
        if (length > best) {
            search.match_start = static_cast<unsigned>(candidate);
            best = length;
            if (length >= search.nice) {
                break;
            }
            if (length >= next_best) {
                Settle(search, static_cast<unsigned>(candidate), place);
                walk = Walk::kNextChain;
                break;
            }
            end_pair = Load16(scan + best - 1);
        }
    }
    search.best = best;
    return walk;
}

// The strings up to the position join first. The next string has not joined: its key's head
// is where its own link would point.
template <unsigned kChain>
Walk WalkChainFrom(State& s, Search& search, unsigned next_best) {
    constexpr unsigned kLength = kPrefixLength[kChain];
    const unsigned position = search.position;
    if (s.prefix_next[kChain] <= position) {
        // Chains walked lately are likely walked again soon: they join in the same pass.
        unsigned along = 0;
        for (unsigned chain = 0; chain < kPrefixChains; ++chain) {
            if (chain != kChain && position < s.join_along_until[chain]) {
                along |= 1u << chain;
            }
        }
        if (along == 0) {
            // A chain walked alone, as on input whose matches seldom grow: its joins are a
            // few strings each, so they skip the set-up of a joint pass.
            JoinTogether<1u << kChain>(s, FirstToJoin(s, kChain, position), position);
            s.prefix_next[kChain] = position + 1;
        } else if ((along | 1u << kChain) == kAllChains && InStep(s)) {
            // The usual case on natural input: every chain walked lately and none behind the
            // others, so one pass inline here, without the call and set-up of a catch-up.
            JoinTogether<kAllChains>(s, FirstToJoin(s, kChain, position), position);
            s.prefix_next.fill(position + 1);
        } else {
            JoinPrefixChains(s, along | 1u << kChain, position);
        }
    }
    s.join_along_until[kChain] = position + kJoinAlong;
    if (search.shift == 0) {
        return WalkPrefixChain<kChain, 0>(s, s.prefix_chain[kChain][position & kWindowMask], search,
                                          next_best);
    }
    const unsigned first = s.prefix_head[kChain][PrefixHash<kLength>(search.scan + 1)];
    return WalkPrefixChain<kChain, 1>(s, first, search, next_best);
}

}  // namespace

Walk WalkChain(State& s, Search& search, unsigned chain) {
    switch (chain) {
        case 0:
            return WalkChainFrom<0>(s, search, kPrefixLength[1] - 1);
        case 1:
            return WalkChainFrom<1>(s, search, kPrefixLength[2] - 1);
        default:
            return WalkChainFrom<2>(s, search, kMaxMatch + 1);
    }
}

namespace {

// A position that slides out of the window becomes 0, the end of every chain. Subtracting the
// smaller of the position and the window's size is that rule in a form the compiler runs eight
// positions to an instruction; kept out of line, as within a loop over the tables it does not.
template <std::size_t kSize>
[[gnu::noinline]] void SlidePositions(std::array<std::uint16_t, kSize>& table) {
    for (auto& value : table) {
        value = static_cast<std::uint16_t>(value - std::min<std::uint16_t>(value, kWindowSize));
    }
}

// Clearing the heads that an entry's strings set costs less than clearing them all up to this
// many strings: one store per string into the hash heads, three hashes and stores per string
// into the prefix heads.
constexpr unsigned kCheapHashClear = 16384;
constexpr unsigned kCheapPrefixClear = 2048;

template <unsigned kChain>
void ClearPrefixHeads(State& s, bool failed) {
    auto& heads = s.prefix_head[kChain];
    const unsigned joined = s.prefix_next[kChain];
    if (failed || joined > kCheapPrefixClear) {
        heads.fill(0);
    } else {
        for (unsigned at = 0; at < joined; ++at) {
            heads[PrefixHash<kPrefixLength[kChain]>(s.window.data() + at)] = 0;
        }
    }
}

}  // namespace

void FillWindow(State& s) {
    do {
        unsigned more = s.window_size - s.lookahead - s.position;
        if (s.position >= kWindowSize + kMaxDistance && s.sliding) {
            std::memcpy(s.window.data(), s.window.data() + kWindowSize, kWindowSize);
            s.match_start -= kWindowSize;
            s.position -= kWindowSize;
            s.block_start -= static_cast<std::int32_t>(kWindowSize);
            for (auto& entry : s.head) {
                entry.position = static_cast<std::uint16_t>(
                    entry.position - std::min<std::uint16_t>(entry.position, kWindowSize));
            }
            SlidePositions(s.chain);
            for (auto& table : s.prefix_head) {
                SlidePositions(table);
            }
            for (auto& table : s.prefix_chain) {
                SlidePositions(table);
            }
            for (auto& next : s.prefix_next) {
                next = next >= kWindowSize ? next - kWindowSize : 0;
            }
            for (auto& until : s.join_along_until) {
                until = until >= kWindowSize ? until - kWindowSize : 0;
            }
            // What crowds a chain slides out with the strings.
            for (auto& bits : s.crowded) {
                bits.fill(0);
            }
            more += kWindowSize;
        }
        if (s.end_of_input) {
            return;
        }
        if (more < 2) {
            s.error = "more < 2";
            return;  // no room to read into: nothing would change
        }
        const std::uint32_t got = ReadInput(s, s.window.data() + s.position + s.lookahead, more);
        if (got == 0 || got == kReadEnd) {
            s.end_of_input = true;
        } else {
            s.lookahead += got;
        }
    } while (s.lookahead < kMinLookahead && !s.end_of_input);
}

void ClearHeads(State& s, bool failed) {
    const std::uint8_t* const window = s.window.data();
    const unsigned end = s.position;
    if (failed || end > kCheapHashClear) {
        std::memset(s.head.data(), 0, sizeof s.head);
    } else {
        for (unsigned at = 0; at + kMinMatch <= end; ++at) {
            s.head[RollHash(RollHash(window[at], window[at + 1]), window[at + 2])].position = 0;
        }
    }
    ClearPrefixHeads<0>(s, failed);
    ClearPrefixHeads<1>(s, failed);
    ClearPrefixHeads<2>(s, failed);
    std::memset(s.crowded.data(), 0, sizeof s.crowded);
}

}  // namespace zip_deflate
