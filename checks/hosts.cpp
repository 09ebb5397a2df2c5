#include "checks/hosts.h"

namespace wayfarer {

namespace {

// \s and \d of the expression in the classic locale.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsAddressChar(char c) { return IsSpace(c) || (c >= '0' && c <= '9') || c == '.'; }

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool HostAt(std::string_view text, size_t at, std::string_view host) {
    if (host.size() > text.size() - at) {
        return false;
    }
    for (size_t i = 0; i < host.size(); ++i) {
        if (FoldCase(text[at + i]) != FoldCase(host[i])) {
            return false;
        }
    }
    return true;
}

// Where a match of \s*(\n|#.+\n) starting at `at` ends, as backtracking
// finds it: the greedy \s* first offers a comment right after the blanks,
// then gives back blanks up to the last line break among them.
std::optional<size_t> TailEnd(std::string_view text, size_t at) {
    size_t blanksEnd = at;
    std::optional<size_t> lastBreak;
    while (blanksEnd < text.size() && IsSpace(text[blanksEnd])) {
        if (text[blanksEnd] == '\n') {
            lastBreak = blanksEnd;
        }
        ++blanksEnd;
    }
    if (blanksEnd < text.size() && text[blanksEnd] == '#') {
        // "." stops at CR and LF; the comment needs one character and an LF.
        size_t end = blanksEnd + 1;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r') {
            ++end;
        }
        if (end > blanksEnd + 1 && end < text.size() && text[end] == '\n') {
            return end + 1;
        }
    }
    if (lastBreak) {
        return *lastBreak + 1;
    }
    return std::nullopt;
}

}  // namespace

std::string HostsWorkingText(std::string_view fileBytes) {
    std::string text;
    text.reserve(fileBytes.size() + 2);
    text += '\n';
    for (size_t i = 0; i < fileBytes.size(); ++i) {
        if (fileBytes[i] == '\r' && i + 1 < fileBytes.size() && fileBytes[i + 1] == '\n') {
            continue;
        }
        text += fileBytes[i];
    }
    text += '\n';
    if (text.size() > 1 && text[1] == '\n') {
        text.erase(0, 1);  // the file's own first line break stands in front
    }
    return text;
}

std::string HostsFileText(std::string_view workingText) {
    std::string text;
    text.reserve(workingText.size() * 2);
    for (const char c : workingText) {
        if (c == '\n') {
            text += '\r';
        }
        text += c;
    }
    return text;
}

std::optional<TextSpan> FindBadHostsLine(std::string_view text, std::string_view host,
                                         size_t from) {
    if (host.empty()) {
        return std::nullopt;
    }
    // Every line break in one run of address characters has the same run
    // end, and whether the host and the tail fit at a place does not depend
    // on where the match began. So the leftmost start is the run's first
    // line break, and greedy backtracking picks the last place that fits.
    // A host that starts with a letter can only stand where the run ends.
    const bool hostStartsInRun = IsAddressChar(host.front());
    size_t pos = from;
    while (pos < text.size()) {
        const size_t start = text.find('\n', pos);
        if (start == std::string_view::npos) {
            break;
        }
        size_t runEnd = start + 1;
        while (runEnd < text.size() && IsAddressChar(text[runEnd])) {
            ++runEnd;
        }
        // [\s\d\.]+ takes at least one character.
        if (runEnd >= start + 2) {
            const size_t lowest = hostStartsInRun ? start + 2 : runEnd;
            for (size_t at = runEnd + 1; at-- > lowest;) {
                if (!HostAt(text, at, host)) {
                    continue;
                }
                if (const std::optional<size_t> end = TailEnd(text, at + host.size())) {
                    return TextSpan{start, *end};
                }
            }
        }
        pos = runEnd;
    }
    return std::nullopt;
}

size_t RemoveBadHostsLines(std::string& text, std::string_view host) {
    std::string result;
    size_t pos = 0;
    size_t count = 0;
    while (const std::optional<TextSpan> match = FindBadHostsLine(text, host, pos)) {
        result.append(text, pos, match->begin - pos);
        result += '\n';
        pos = match->end;
        ++count;
    }
    if (count > 0) {
        result.append(text, pos, std::string::npos);
        text.swap(result);
    }
    return count;
}

HostsPlan PlanHostsFile(HostsFileState state, std::string_view fileBytes,
                        const std::vector<std::string>& hosts, bool repair) {
    HostsPlan plan;
    std::string text;
    if (state == HostsFileState::Read) {
        text = HostsWorkingText(fileBytes);
    }
    for (const auto& host : hosts) {
        if (!FindBadHostsLine(text, host)) {
            continue;
        }
        if (!repair) {
            return plan;
        }
        RemoveBadHostsLines(text, host);
    }
    if (!repair || state == HostsFileState::Missing) {
        plan.ok = true;
        return plan;
    }
    if (state == HostsFileState::Unreadable) {
        return plan;
    }
    plan.ok = true;
    plan.write = true;
    plan.content = HostsFileText(text);
    return plan;
}

}  // namespace wayfarer
