// Hosts file: lines that pin one of the bank's host names to an address.
// The scanner and the rewrite are portable; reading and replacing the file
// is Windows only.
//
// A line is bad for host H where the ECMAScript expression
//   \n[\s\d\.]+H\s*(\n|#.+\n)
// (case-insensitive, the dots of H escaped) matches the working text. The
// scanner finds exactly the matches a backtracking engine finds, in one
// pass, without recursion: std::regex recurses per character and overflows
// the stack on a few thousand blank lines.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/check_items.h"

namespace wayfarer {

// The file's bytes with CR LF turned into LF, one LF appended, and one put
// in front unless the text already starts with one: so the first and the
// last line sit between line breaks.
std::string HostsWorkingText(std::string_view fileBytes);
// Every LF back to CR LF; a lone CR stays as it is.
std::string HostsFileText(std::string_view workingText);

struct TextSpan {
    size_t begin = 0;
    size_t end = 0;
};

// The leftmost match at or after `from`, with the extent the expression
// gives it. The host is literal text (no character of it is an operator);
// an empty host matches nothing.
std::optional<TextSpan> FindBadHostsLine(std::string_view text, std::string_view host,
                                         size_t from = 0);
// Replaces every match, left to right and non-overlapping, by one LF, and
// returns how many there were. A match takes the line break in front of
// the next line with it, so of two bad lines in a row only the first goes.
size_t RemoveBadHostsLines(std::string& text, std::string_view host);

enum class HostsFileState { Read, Missing, Unreadable };

struct HostsPlan {
    bool ok = false;
    bool write = false;    // replace the file with `content`
    std::string content;
};
// The check (repair false) or repair over the file as read. A file that
// exists but could not be read passes the check (nothing in it is known to
// be bad) but is never rewritten: its repair fails. A missing file has
// nothing to repair.
HostsPlan PlanHostsFile(HostsFileState state, std::string_view fileBytes,
                        const std::vector<std::string>& hosts, bool repair);

#ifdef _WIN32
struct HostsFileOptions {
    // Empty: %windir%\system32\drivers\etc\hosts.
    std::wstring path;
    // Run after a successful rewrite: the DNS check, so that its result
    // follows the new file at once.
    std::function<void()> afterRewrite;
};

// Stores its result in hostsOk.
bool CheckHostsFile(CheckItems& items, bool repair, const HostsFileOptions& options = {});
#endif

}  // namespace wayfarer
