#include "UnifiedDiff.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace vxl_cli {

namespace {

constexpr size_t kContext = 3;
// Beyond this many differing lines the search's memory grows too large.
constexpr long kMaxDifferences = 2000;

enum class Op { Keep, Remove, Add };
struct Edit {
    Op op;
    size_t line;  // index in the text the line comes from (before for Keep)
};

// Lines with their newline, so a last line without one differs from one with.
std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(pos, end - pos));
        pos = end;
    }
    return lines;
}

using Lines = std::vector<std::string>;

// The shortest edit script of a[a0, a1) into b[b0, b1) (Myers' greedy search,
// keeping each round's furthest points for the walk back); false when it
// needs more than kMaxDifferences edits.
bool shortestEdits(const Lines& a, size_t a0, size_t a1, const Lines& b, size_t b0, size_t b1,
                   std::vector<Edit>& out) {
    const long n = static_cast<long>(a1 - a0), m = static_cast<long>(b1 - b0);
    const long most = std::min(n + m, kMaxDifferences);
    const long offset = most + 1;
    std::vector<long> v(static_cast<size_t>(2 * most + 3), 0);
    std::vector<std::vector<long>> rounds;  // rounds[d][k + d]: furthest x on diagonal k
    for (long d = 0; d <= most; ++d) {
        for (long k = -d; k <= d; k += 2) {
            long x = (k == -d || (k != d && v[k - 1 + offset] < v[k + 1 + offset]))
                         ? v[k + 1 + offset]
                         : v[k - 1 + offset] + 1;
            long y = x - k;
            while (x < n && y < m && a[a0 + x] == b[b0 + y]) ++x, ++y;
            v[k + offset] = x;
        }
        rounds.emplace_back(v.begin() + (offset - d), v.begin() + (offset + d + 1));
        if (std::abs(n - m) <= d && (n - m + d) % 2 == 0 && v[n - m + offset] >= n) {
            std::vector<Edit> reversed;
            long x = n, y = m;
            for (long e = d; e > 0; --e) {
                const std::vector<long>& prev = rounds[static_cast<size_t>(e - 1)];
                auto at = [&](long k) { return prev[static_cast<size_t>(k + e - 1)]; };
                const long k = x - y;
                const long prevK = (k == -e || (k != e && at(k - 1) < at(k + 1))) ? k + 1 : k - 1;
                const long prevX = at(prevK), prevY = prevX - prevK;
                for (; x > prevX && y > prevY; --x, --y) {
                    reversed.push_back({Op::Keep, a0 + static_cast<size_t>(x - 1)});
                }
                if (x == prevX) {
                    reversed.push_back({Op::Add, b0 + static_cast<size_t>(y - 1)});
                } else {
                    reversed.push_back({Op::Remove, a0 + static_cast<size_t>(x - 1)});
                }
                x = prevX;
                y = prevY;
            }
            for (; x > 0 && y > 0; --x, --y) {
                reversed.push_back({Op::Keep, a0 + static_cast<size_t>(x - 1)});
            }
            out.insert(out.end(), reversed.rbegin(), reversed.rend());
            return true;
        }
    }
    return false;
}

std::vector<Edit> editScript(const Lines& a, const Lines& b) {
    size_t prefix = 0;
    while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix]) ++prefix;
    size_t suffix = 0;
    while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
           a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix]) {
        ++suffix;
    }
    std::vector<Edit> edits;
    for (size_t i = 0; i < prefix; ++i) edits.push_back({Op::Keep, i});
    const size_t a1 = a.size() - suffix, b1 = b.size() - suffix;
    if (!shortestEdits(a, prefix, a1, b, prefix, b1, edits)) {
        for (size_t i = prefix; i < a1; ++i) edits.push_back({Op::Remove, i});
        for (size_t i = prefix; i < b1; ++i) edits.push_back({Op::Add, i});
    }
    for (size_t i = a1; i < a.size(); ++i) edits.push_back({Op::Keep, i});
    return edits;
}

// "-3,4" as diff writes it: the count is left out when it is 1, and an empty
// range names the line before it.
std::string range(size_t first, size_t count) {
    std::string text = std::to_string(count == 0 ? first : first + 1);
    if (count != 1) text += "," + std::to_string(count);
    return text;
}

void appendLine(std::string& out, char mark, const std::string& line) {
    out += mark;
    out += line;
    if (line.empty() || line.back() != '\n') out += "\n\\ No newline at end of file\n";
}

}  // namespace

std::string unifiedDiff(const std::string& before, const std::string& after) {
    const Lines a = splitLines(before), b = splitLines(after);
    const std::vector<Edit> edits = editScript(a, b);
    std::string out;
    size_t i = 0, aLine = 0, bLine = 0;  // lines of each text before edits[i]
    while (i < edits.size()) {
        size_t change = i;
        while (change < edits.size() && edits[change].op == Op::Keep) ++change;
        if (change == edits.size()) break;
        // A hunk runs until more than twice the context separates two changes.
        size_t end = change + 1, last = change;
        while (end < edits.size()) {
            size_t keeps = end;
            while (keeps < edits.size() && edits[keeps].op == Op::Keep) ++keeps;
            if (keeps == edits.size() || keeps - end > 2 * kContext) break;
            last = keeps;
            end = keeps + 1;
        }
        const size_t start = change - std::min(kContext, change - i);
        const size_t stop = std::min(edits.size(), last + 1 + kContext);
        for (size_t j = i; j < start; ++j) ++aLine, ++bLine;
        size_t aCount = 0, bCount = 0;
        for (size_t j = start; j < stop; ++j) {
            aCount += edits[j].op != Op::Add;
            bCount += edits[j].op != Op::Remove;
        }
        out += "@@ -" + range(aLine, aCount) + " +" + range(bLine, bCount) + " @@\n";
        for (size_t j = start; j < stop; ++j) {
            const Edit& e = edits[j];
            if (e.op == Op::Keep) appendLine(out, ' ', a[e.line]);
            if (e.op == Op::Remove) appendLine(out, '-', a[e.line]);
            if (e.op == Op::Add) appendLine(out, '+', b[e.line]);
        }
        aLine += aCount;
        bLine += bCount;
        i = stop;
    }
    return out;
}

}  // namespace vxl_cli
