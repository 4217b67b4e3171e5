// The filter pattern of BrowseOPCItemIDs: "*" any run, "?" one character, "[...]" one character of a
// set with "a-z" ranges and a leading "!" for negation; letters match regardless of case and the
// whole name must match.
#pragma once

#include <string>
#include <vector>

namespace tw::opc {

constexpr int kMaxPatternStars = 30;

class TBrowsePattern {
public:
    // False for an invalid pattern: an unclosed or empty set, a range without a first character, or
    // more than kMaxPatternStars stars.
    bool Compile(const std::wstring& pattern);
    bool Matches(const std::wstring& name) const;

private:
    enum class TKind { Literal, AnyOne, AnyRun, Set };
    struct TToken {
        explicit TToken(TKind k, wchar_t c = 0) : kind(k), ch(c) {}
        TKind kind;
        wchar_t ch = 0;
        bool negated = false;
        std::vector<std::pair<wchar_t, wchar_t>> ranges;
    };
    static bool MatchOne(const TToken& token, wchar_t c);
    bool CompileSet(const std::wstring& pattern, size_t& i);

    std::vector<TToken> tokens_;
};

}  // namespace tw::opc
