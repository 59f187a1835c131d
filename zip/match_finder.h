// The match finder of the deflate compressor: for the string at each position, the longest
// earlier string within the dictionary that it repeats. The lazy loop (deflate.cpp) asks it at
// nearly every position, so what runs per string is here, inline; the rest is in
// match_finder.cpp, the tables in deflate_state.h. Internal to the compressor.
//
// The stream must be byte for byte the reference one (the identity tests), so the search has
// one rule it may never change: the match chosen at a position is the one the plain hash-chain
// walk would choose. How it gets there faster is free.
//
// Terms, as the code names them:
// - position: an offset in the window; s.position is the one being coded. A string is the three
//   bytes (kMinMatch) at a position. The scan is the string at s.position, a candidate an
//   earlier string that the search compares with it, and a match the bytes the two share, at
//   most kMaxMatch. The held match (s.previous_length at s.match_start) is the one found at the
//   position before: a candidate must beat it.
// - lookahead: the bytes from s.position on that are read and not yet coded. A search needs
//   kMinLookahead of them, room for the longest match and the string after it.
// - farthest distance (kMaxDistance): how far back a candidate may lie, the dictionary less
//   kMinLookahead; a search's limit is the position that far back, and its candidates lie
//   above it.
// - the four lengths of each level's row in the tuning table (kTuning, deflate.cpp):
//   chain (s.max_chain) is the budget, the number of candidates of a hash chain that a search
//   may look at; good (s.good_match): a held match this long cuts the budget to a quarter;
//   nice (s.nice_match): a match this long ends the search; lazy (s.max_lazy), below.
// - lazy matching, from kFirstLazyLevel on: the match found at a position is coded only when
//   the search at the next position finds none longer; else a literal is coded and the longer
//   match is held instead. A held match of lazy bytes or more is coded without that search.
//   The greedy levels below code each match as found, and the strings inside a match longer
//   than lazy join no hash chain.
// - too far (kTooFar): a match of three bytes farther back than this costs more than its three
//   literals, and the lazy loop drops it.
// - hash, head, chain; rank, place; prefix chain, prefix, key; join, lag, join along; settled
//   place, detour, crowded, shift: in the paragraphs below, each where it is used.
//
// Window. Input is read into a window of twice the dictionary. Positions are offsets in it,
// and 0 is never a candidate, so a link of 0 ends every chain. Once the position passes the
// dictionary plus the farthest distance, the window slides: the upper half is copied down and
// every table of positions slides by the dictionary's size with one rule: a position that
// would fall below the window becomes 0 (SlidePositions). A table that missed a slide would
// point at the wrong bytes; the walks then fail the entry rather than spin (LeadsBack, below).
//
// Hash chains. Each string has a hash of its three bytes (RollHash, rolled on from the string
// before it) and is inserted at its hash's head (s.head); chain[] links it to the string that
// held the head before, so a chain runs newest to oldest over the strings of one hash. The
// plain walk visits the chain from the head, at most the budget of candidates (a quarter once
// the held match is good) and none beyond the farthest distance, and keeps the first of the
// longest matches, stopping at nice.
//
// Ranks. A head also counts the strings that ever joined its chain, and each string keeps the
// count it found (rank[]). Along a chain ranks fall by one per link, so for any string of the
// chain, the head's rank minus its own is its place in the walk (Place): whether the budget
// would have reached it is known without walking there.
//
// Prefix chains. Once a match of n bytes is held, only strings sharing n + 1 bytes with the
// scan can be longer, and in a long hash chain most do not. Beside the hash chains run three
// chains of strings, each string under a key that hashes its first 4, 8 or 16 bytes, its
// prefix (PrefixHash, prefix_hash.h). The search walks the shortest that still covers n + 1
// bytes; candidates with another prefix (another string under the same key) are skipped,
// those with the scan's prefix are the hash chain's own candidates in the same newest-to-oldest
// order, so the first longest among them within the budget, as ranks tell, is the plain walk's
// choice. When the match grows past the chain's prefix the search moves to the next chain.
// Strings join the prefix chains (JoinPrefixChains) only when needed: each chain when a search
// is about to walk it, and only while it lags little, that is lacks few of the strings before
// the position (WorthJoining); chains walked within the last kJoinAlong strings join along
// in the same pass over the strings.
//
// Bounds. A key can be crowded with strings of other prefixes (an input can be made so). The
// place up to which the hash walk's outcome is known (search.known_place) is the settled place.
// A prefix walk may visit as many candidates as the hash walk would have up to the settled
// place, plus a detour (kDetour); past that it hands back to the hash chain at that place and
// marks the key crowded (s.crowded) until the window slides. A later search whose key is
// crowded and whose match already covers the chain's prefix walks the chain of the next
// string's key instead, a shift of one byte: a candidate sharing one byte more with the scan
// is the string before one sharing the prefix with the scan's next string, and strings made
// to collide in one key are scattered in the other (crowding both takes far more search). Such
// a shifted walk skips also the strings before another byte, so it marks crowded keys apart: a
// run of zeros after one other byte must not keep the walks of the zeros' own key off its
// chain. Else, and at the greedy levels, where strings inside long matches join no hash chain,
// it keeps to the hash chain. Every walk therefore visits at most the budget plus a fixed
// number of candidates, counting those of other prefixes, and every link must lead to an older
// string, or the entry fails with "no future" or "chain out of step".
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "zip/deflate_state.h"
#include "zip/prefix_hash.h"

namespace zip_deflate {

// From this level on, the lazy loop hashes every string; below it, the strings inside a long
// match join no chain.
inline constexpr int kFirstLazyLevel = 4;

// The hash of a string from that of the string before it and the string's last byte.
inline unsigned RollHash(unsigned hash, unsigned byte) {
    return ((hash << kHashShift) ^ byte) & kHashMask;
}

inline void UpdateHash(State& s, unsigned byte) { s.hash = RollHash(s.hash, byte); }

// Puts the string at `at`, whose hash is `hash`, at the head of its chain; answers the head
// it displaced.
inline unsigned LinkString(State& s, unsigned hash, unsigned at) {
    State::Head& entry = s.head[hash];
    const unsigned head = entry.position;
    const unsigned slot = at & kWindowMask;
    s.chain[slot] = static_cast<std::uint16_t>(head);
    s.rank[slot] = entry.count;
    entry = {static_cast<std::uint16_t>(at), static_cast<std::uint16_t>(entry.count + 1)};
    return head;
}

// Inserts the string at `at` and answers the previous head of its chain.
inline unsigned InsertString(State& s, unsigned at) {
    UpdateHash(s, s.window[at + kMinMatch - 1]);
    const unsigned head = LinkString(s, s.hash, at);
    // The next string's head is wanted soon: start fetching it while this one is searched.
    __builtin_prefetch(&s.head[RollHash(s.hash, s.window[at + kMinMatch])]);
    return head;
}

// Inserts the strings from `first` to `last`, those inside a match. One follows the other, so
// the rolling hash stays in a register and no head is fetched ahead.
inline void InsertStrings(State& s, unsigned first, unsigned last) {
    unsigned hash = s.hash;
    for (unsigned at = first; at <= last; ++at) {
        hash = RollHash(hash, s.window[at + kMinMatch - 1]);
        LinkString(s, hash, at);
    }
    s.hash = hash;
}

inline std::uint64_t Load64(const std::uint8_t* p) {
    std::uint64_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// Bytes equal at a and b, from 0 up to `limit`, eight at a time.
inline unsigned MatchLength(const std::uint8_t* a, const std::uint8_t* b, unsigned limit) {
    unsigned length = 0;
    while (length < limit) {
        const std::uint64_t difference = Load64(a + length) ^ Load64(b + length);
        if (difference != 0) {
            length += static_cast<unsigned>(__builtin_ctzll(difference)) >> 3;
            return std::min(length, limit);
        }
        length += 8;
    }
    return limit;
}

inline std::uint16_t Load16(const std::uint8_t* p) {
    std::uint16_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

inline constexpr unsigned kPrefixLength[kPrefixChains] = {4, 8, 16};
// A search leaves the hash chain for a prefix chain when that chain lags fewer strings behind
// than kCheapJoin, or than kJoinPerVisit for each candidate the walk has looked at.
inline constexpr unsigned kCheapJoin = 1024;
inline constexpr unsigned kJoinPerVisit = 128;
inline constexpr unsigned kAllChains = (1u << kPrefixChains) - 1;

// Puts every string up to `last` into the prefix chains of `wanted`, one bit per chain: those
// that lag more than the others catch up apart, then all go on together.
void JoinPrefixChains(State& s, unsigned wanted, unsigned last);

struct Search {
    const std::uint8_t* window;
    const std::uint8_t* scan;
    unsigned position;
    unsigned limit;
    unsigned nice;
    unsigned budget;
    std::uint16_t head_rank;
    unsigned best;
    unsigned match_start;
    // How far the hash chain's walk is settled: up to `known`, the `known_place`-th string of
    // the chain (the head is the 0th), it holds best and match_start as they are now.
    unsigned known;
    unsigned known_place;
    // The prefix chain is walked from the string `shift` bytes on from the scan: 0, or 1 when
    // strings of other prefixes crowd the scan's own key.
    unsigned shift;
    const char* fault;  // a link that does not lead back to an older string
};

// Every link leads to an older string, so a walk that checks that each candidate lies before
// the last one ends, and reads no byte past the search's position, whatever the tables hold.
inline bool LeadsBack(Search& search, unsigned candidate, unsigned previous) {
    if (candidate < previous) {
        return true;
    }
    search.fault = candidate >= search.position ? "no future" : "chain out of step";
    return false;
}

// The prefix chain that a search holding a match of `best` bytes walks first.
inline unsigned FirstChain(unsigned best) {
    return best < kPrefixLength[1] - 1 ? 0 : best < kPrefixLength[2] - 1 ? 1 : 2;
}

inline unsigned ScanKey(const Search& search, unsigned chain, unsigned shift) {
    const std::uint8_t* const from = search.scan + shift;
    return chain == 0   ? PrefixHash<4>(from)
           : chain == 1 ? PrefixHash<8>(from)
                        : PrefixHash<16>(from);
}

// The prefix chains pay once a match is held, unless the chain lags far behind: then the
// input has had few searches that reached it, and catching up would cost more than the walk
// of the hash chain, until that walk proves long. `place` is where the hash chain's walk stands.
inline bool WorthJoining(const State& s, const Search& search, unsigned chain, unsigned place) {
    const unsigned next = s.prefix_next[chain];  // past the position once joined up to it
    const unsigned lag = next > search.position ? 0 : search.position - next;
    return lag < kCheapJoin || lag < kJoinPerVisit * (place + 1);
}

inline bool Crowded(const State& s, const Search& search, unsigned chain, unsigned shift) {
    const unsigned key = ScanKey(search, chain, shift);
    return (s.crowded[kShifts * chain + shift][key >> 6] >> (key & 63) & 1) != 0;
}

inline void MarkCrowded(State& s, const Search& search, unsigned chain, unsigned shift) {
    const unsigned key = ScanKey(search, chain, shift);
    s.crowded[kShifts * chain + shift][key >> 6] |= std::uint64_t{1} << (key & 63);
}

// Where a prefix chain can be walked for the scan: from its own string, or, when strings of
// other prefixes crowd that key, from the next string's key, which holds the scan's
// candidates one byte on. That chain filters one byte more, so it serves only a match that
// already covers the chain's prefix, and only where every string is in the hash chain: the
// string before one of the chain must be a candidate of the plain walk. Answers false when no
// key is open.
inline bool OpenShift(const State& s, Search& search, unsigned chain, unsigned best) {
    const unsigned shifts = best >= kPrefixLength[chain] && s.level >= kFirstLazyLevel ? 2 : 1;
    for (unsigned shift = 0; shift < shifts; ++shift) {
        if (!Crowded(s, search, chain, shift)) {
            search.shift = shift;
            return true;
        }
    }
    return false;
}

// Walks the hash chain from `candidate`, its `place`-th string, while the budget and the limit
// allow; a candidate counts when its bytes at best - 1 and best and its first two agree with
// the scan. With `may_leave`, answers false once a match of three bytes or more is held and the
// prefix chains should take over, the walk settled up to where it left; otherwise, and when the
// search is over, true.
[[gnu::always_inline]] inline bool WalkHashChain(const State& s, Search& search, unsigned candidate,
                                                 unsigned place, unsigned previous,
                                                 bool may_leave) {
    // The walk's own copies, kept in registers: stores through `search` would make every
    // later load of the tables wait on them.
    const std::uint8_t* const window = search.window;
    const std::uint8_t* const scan = search.scan;
    const std::uint16_t* const links = s.chain.data();
    const unsigned limit = search.limit;
    const unsigned budget = search.budget;
    const unsigned nice = search.nice;
    unsigned best = search.best;
    unsigned match_start = search.match_start;
    std::uint16_t end_pair = Load16(scan + best - 1);
    const std::uint16_t start_pair = Load16(scan);
    // The walk may leave once it holds a match this long; candidates it may still visit.
    unsigned leave_from = may_leave ? kMinMatch : kMaxMatch + 1;
    unsigned left = place < budget ? budget - place - 1 : 0;
    bool over = true;
    for (bool going = LeadsBack(search, candidate, previous); going;) {
        const std::uint8_t* const match = window + candidate;
        if (Load16(match + best - 1) == end_pair && Load16(match) == start_pair) {
            const unsigned length = 2 + MatchLength(scan + 2, match + 2, kMaxMatch - 2);
            if (length > best) {
                match_start = candidate;
                best = length;
                if (length >= nice) {
                    break;
                }
                end_pair = Load16(scan + best - 1);
            }
        }
        const unsigned next = links[candidate & kWindowMask];
        if (next <= limit || left == 0) {
            break;
        }
        if (best >= leave_from) [[unlikely]] {
            const unsigned at = budget - 1 - left;
            if (WorthJoining(s, search, FirstChain(best), at)) {
                if (OpenShift(s, search, FirstChain(best), best)) {
                    search.known = candidate;
                    search.known_place = at;
                    over = false;
                    break;
                }
                leave_from = kMaxMatch + 1;
            }
        }
        going = LeadsBack(search, next, candidate);
        candidate = next;
        --left;
    }
    search.best = best;
    search.match_start = match_start;
    return over;
}

enum class Walk { kDone, kNextChain, kHashChain };

// Walks prefix chain `chain` from the key that OpenShift chose.
Walk WalkChain(State& s, Search& search, unsigned chain);

// Chooses the match that the plain walk of the hash chain from `head` would: the first of the
// longest among the strings it reaches within the budget, or the first as long as nice. Once
// a match of three bytes or more is held, only strings that share more bytes can be longer,
// and the walk moves to the prefix chains of those, which skip the others of the hash chain in
// its order. Where strings of other prefixes crowd a prefix chain, the walk goes back to the
// hash chain where it stood. Each walk is bounded by the budget or twice it.
//
// In: `head`, the previous head of the chain of the string at s.position, just inserted
// (non-zero, within the farthest distance); s.previous_length and s.match_start, the match
// held from the position before, which a candidate must beat; s.nice_match, s.max_chain and
// s.good_match; the window with at least kMinLookahead bytes from the position.
// Out: the length of the best match, at least s.previous_length (it may run past the
// lookahead; the caller cuts it). Leaves s.match_start at that match, the prefix chains
// joined up to the position for those walked, a key marked crowded when its walk handed back,
// and s.error set when the lookahead was short or a link did not lead back.
// Inlined into both loops: the search's fields then stay in registers.
[[gnu::always_inline]] inline unsigned LongestMatch(State& s, unsigned head) {
    Search search{};
    search.window = s.window.data();
    search.position = s.position;
    search.scan = search.window + search.position;
    search.limit = search.position > kMaxDistance ? search.position - kMaxDistance : 0;
    search.nice = s.nice_match;
    search.best = s.previous_length;
    search.match_start = s.match_start;
    search.budget = s.max_chain;
    if (s.previous_length >= s.good_match) {
        search.budget >>= 2;
    }
    search.budget = std::max(search.budget, 1u);  // level 0's row: look at the head alone
    if (search.position > s.window_size - kMinLookahead) {
        s.error = "insufficient lookahead";
    }
    if (search.position + kMaxMatch > s.window_size) {
        s.error = "wild scan";
    }
    if (!WalkHashChain(s, search, head, 0, search.position, true)) {
        search.head_rank = s.rank[head & kWindowMask];
        // The hash walk chose the first chain and its shift.
        unsigned chain = FirstChain(search.best);
        Walk walk = WalkChain(s, search, chain);
        for (;;) {
            if (walk == Walk::kHashChain) {
                MarkCrowded(s, search, chain, search.shift);
                break;
            }
            if (walk == Walk::kDone) {
                break;
            }
            chain = FirstChain(search.best);
            if (!OpenShift(s, search, chain, search.best) ||
                !WorthJoining(s, search, chain, search.known_place)) {
                walk = Walk::kHashChain;
                break;
            }
            walk = WalkChain(s, search, chain);
        }
        if (walk == Walk::kHashChain) {
            const unsigned next = s.chain[search.known & kWindowMask];
            if (next > search.limit && search.known_place + 1 < search.budget) {
                WalkHashChain(s, search, next, search.known_place + 1, search.known, false);
            }
        }
    }
    if (search.fault != nullptr) {
        s.error = search.fault;
    }
    s.match_start = search.match_start;
    return search.best;
}

inline std::uint32_t ReadInput(State& s, std::uint8_t* into, std::uint32_t size) {
    return s.read(s.context, into, size);
}

// Reads on until the lookahead holds kMinLookahead bytes or the input ends; first slides the
// window once the position has passed the dictionary and the farthest distance.
void FillWindow(State& s);

// Leaves every chain empty for the next entry. The last entry left the window as it was at its
// end, its input ending at `position`, every string it hashed still in place, and the strings
// before `prefix_next` in the prefix chains: their keys name every head it set. After a failed
// entry the tables may be out of step, and everything is cleared.
void ClearHeads(State& s, bool failed);

}  // namespace zip_deflate
