#include "scriptformat/Pattern.h"

bool MatchesPattern(QByteArrayView pattern, QByteArrayView text)
{
    // Greedy with one resumption point: on a mismatch only the latest "*" needs to take one more
    // character, since any earlier star's choice is covered by the later one.
    qsizetype p = 0, t = 0;
    qsizetype starAt = -1, resumeText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeText = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (starAt >= 0) {
            p = starAt + 1;
            t = ++resumeText;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}
