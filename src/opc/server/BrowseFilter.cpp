#include "opc/server/BrowseFilter.h"

#include <cwctype>

namespace tw::opc {
namespace {

wchar_t Lower(wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); }
wchar_t Upper(wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); }

}  // namespace

bool TBrowsePattern::Compile(const std::wstring& pattern) {
    tokens_.clear();
    int stars = 0;
    for (size_t i = 0; i < pattern.size();) {
        const wchar_t c = pattern[i];
        if (c == L'[') {
            ++i;
            if (!CompileSet(pattern, i)) return false;
            continue;
        }
        if (c == L'*') {
            if (++stars > kMaxPatternStars) return false;
            // Adjacent stars match what one does; keeping one avoids pointless backtracking.
            if (tokens_.empty() || tokens_.back().kind != TKind::AnyRun) tokens_.emplace_back(TKind::AnyRun);
        } else if (c == L'?') {
            tokens_.emplace_back(TKind::AnyOne);
        } else {
            tokens_.emplace_back(TKind::Literal, c);
        }
        ++i;
    }
    return true;
}

// i is just past "["; on success it is just past the closing "]".
bool TBrowsePattern::CompileSet(const std::wstring& pattern, size_t& i) {
    TToken set(TKind::Set);
    if (i < pattern.size() && pattern[i] == L'!') {
        set.negated = true;
        ++i;
    }
    while (i < pattern.size() && pattern[i] != L']') {
        const wchar_t first = pattern[i];
        // "[-z]" is a range without a first character; "[-]" is just the character.
        if (first == L'-' && set.ranges.empty() && i + 1 < pattern.size() && pattern[i + 1] != L']') return false;
        if (i + 2 < pattern.size() && pattern[i + 1] == L'-' && pattern[i + 2] != L']') {
            set.ranges.emplace_back(first, pattern[i + 2]);
            i += 3;
        } else {
            set.ranges.emplace_back(first, first);
            ++i;
        }
    }
    if (i >= pattern.size() || set.ranges.empty()) return false;  // unclosed or empty
    ++i;
    tokens_.push_back(std::move(set));
    return true;
}

bool TBrowsePattern::MatchOne(const TToken& token, wchar_t c) {
    switch (token.kind) {
        case TKind::AnyOne: return true;
        case TKind::Literal: return Lower(token.ch) == Lower(c);
        case TKind::Set: {
            bool in = false;
            for (const auto& [lo, hi] : token.ranges)
                for (wchar_t v : {c, Lower(c), Upper(c)}) in = in || (v >= lo && v <= hi);
            return in != token.negated;
        }
        case TKind::AnyRun: break;
    }
    return false;
}

bool TBrowsePattern::Matches(const std::wstring& name) const {
    // Greedy walk that returns to the last star on a mismatch: time grows with the product of the
    // lengths, never exponentially.
    size_t t = 0, n = 0;
    size_t starToken = std::wstring::npos, starName = 0;
    while (n < name.size()) {
        if (t < tokens_.size() && tokens_[t].kind == TKind::AnyRun) {
            starToken = t++;
            starName = n;
        } else if (t < tokens_.size() && MatchOne(tokens_[t], name[n])) {
            ++t;
            ++n;
        } else if (starToken != std::wstring::npos) {
            t = starToken + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (t < tokens_.size() && tokens_[t].kind == TKind::AnyRun) ++t;
    return t == tokens_.size();
}

}  // namespace tw::opc
