#include "config/xml_document.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <limits>
#include <map>

#include "config/xml_entities.h"

namespace wayfarer {
namespace {

// Byte classes, one table lookup per byte in the scanning loops.
enum : uint8_t {
    kSpace = 1,           // tab, line feed, carriage return, space
    kNameStart = 2,       // may follow "<" in a start tag
    kNameEnd = 4,         // ends a tag name while indexing: space, "/", ">"
    kTagNameStop = 8,     // ends a tag name when it is compared with a search name
    kAttrTokenStop = 16,  // ends an attribute name token
    kValueStop = 32,      // ends an unquoted value token
    kEqualsOrGt = 64,     // "=" or ">": what matters in a start tag outside values
};

constexpr std::array<uint8_t, 256> MakeClasses() {
    std::array<uint8_t, 256> c{};
    for (unsigned b = 0; b < 256; ++b) {
        uint8_t k = 0;
        const bool space = b == '\t' || b == '\n' || b == '\r' || b == ' ';
        if (space) {
            k |= kSpace | kNameEnd | kTagNameStop | kAttrTokenStop | kValueStop;
        }
        if ((b >= 'A' && b <= 'Z') || b == '_' || b == ':' || b > 0x60) {
            k |= kNameStart;
        }
        if (b == '/' || b == '>') {
            k |= kNameEnd;
        }
        if (b == '!' || b == '"' || b == '\'' || b == '/' || b == ';' || b == '<' || b == '=' ||
            b == '>' || b == '?' || b == '\\') {
            k |= kTagNameStop;
        }
        if (b == '/' || b == '=' || b == '>' || b == '?') {
            k |= kAttrTokenStop;
        }
        if (b == '>') {
            k |= kValueStop;
        }
        if (b == '=' || b == '>') {
            k |= kEqualsOrGt;
        }
        c[b] = k;
    }
    return c;
}

constexpr std::array<uint8_t, 256> kClasses = MakeClasses();

inline bool Is(char c, uint8_t cls) { return (kClasses[static_cast<unsigned char>(c)] & cls) != 0; }

// Word-at-a-time search: a machine word holds several bytes, and a value
// of a few dozen bytes is then looked at in a few steps.
using Word = size_t;
constexpr Word kOnes = ~Word{0} / 0xFF;  // 0x0101...
constexpr Word kHighBits = kOnes * 0x80;
constexpr ptrdiff_t kWordSize = sizeof(Word);

// Where the first byte in memory is the word's lowest, the position of a
// hit follows from the word alone; elsewhere a word with a hit is finished
// byte by byte.
#if defined(_MSC_VER) || (defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__) && \
                           __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__)
constexpr bool kLittleEndian = true;
#else
constexpr bool kLittleEndian = false;
#endif

inline Word LoadWord(const char* p) {
    Word w;
    std::memcpy(&w, p, sizeof(w));
    return w;
}

// The high bit of each byte of `w` that equals the byte whose copies fill
// `pattern`. Exact up to and including the first such byte; bytes after it
// may be marked wrongly, so only the lowest mark is used.
inline Word HasByte(Word w, Word pattern) {
    const Word x = w ^ pattern;
    return (x - kOnes) & ~x & kHighBits;
}

// Given non-zero marks from HasByte: all bits below the lowest mark.
inline Word BelowFirstHit(Word hits) { return (hits & (~hits + 1)) - 1; }

// The byte offset of the lowest mark (little-endian: the first in memory).
// The bits below it hold one bit per byte before it; multiplying by kOnes
// adds them up in the top byte.
inline ptrdiff_t FirstHitOffset(Word hits) {
    const Word perByte = BelowFirstHit(hits) & kOnes;
    return static_cast<ptrdiff_t>((perByte * kOnes) >> (8 * (sizeof(Word) - 1))) - 1;
}

// The first `c` in [p, end), or `end`. Short runs are the rule (attribute
// values); a long one is handed to memchr after a few words.
inline const char* FindByte(const char* p, const char* end, char c) {
    const Word pattern = kOnes * static_cast<unsigned char>(c);
    for (int i = 0; i < 4 && end - p >= kWordSize; ++i) {
        const Word hits = HasByte(LoadWord(p), pattern);
        if (hits != 0) {
            if constexpr (kLittleEndian) {
                return p + FirstHitOffset(hits);
            } else {
                while (*p != c) {
                    ++p;
                }
                return p;
            }
        }
        p += kWordSize;
    }
    if (end - p >= kWordSize) {
        const void* hit = std::memchr(p, c, static_cast<size_t>(end - p));
        return hit != nullptr ? static_cast<const char*>(hit) : end;
    }
    while (p < end && *p != c) {
        ++p;
    }
    return p;
}

constexpr uint32_t kEmptyTag = 0x10000;  // node flag: "/>" closes the start tag

struct Node {
    NodeKind kind = NodeKind::EndOfText;
    const char* start = nullptr;
    const char* end = nullptr;  // one past the node
    const char* name = nullptr;
    size_t nameLength = 0;
    uint32_t flags = 0;
    // Error nodes only.
    std::string_view errorId;
    std::string_view errorType;
};

// The text ended inside a tag: an error node up to the end, naming what was
// open.
void Unterminated(Node& n, const char* end, std::string_view type) {
    n.kind = NodeKind::Error;
    n.end = end;
    n.errorId = "unterminated_tag_syntax";
    n.errorType = type;
}

// A malformed tag: the error node runs from the offending byte to the next ">"
// (included) or stops before a "<", so the scan picks up the next real tag.
void ErrorNode(Node& n, const char* from, const char* end, std::string_view id) {
    for (const char* q = from; q < end; ++q) {
        if (*q == '>' || *q == '<') {
            n.kind = NodeKind::Error;
            n.end = *q == '>' ? q + 1 : q;
            n.errorId = id;
            return;
        }
    }
    Unterminated(n, end, "tag");
}

const char* ScanName(const char* q, const char* end) {
    while (q < end && !Is(*q, kNameEnd)) {
        ++q;
    }
    return q;
}

// Finds the ">" that closes a start or end tag, from the end of its name.
// Quotes count only as an attribute value after "="; an unquoted value runs
// to a space. Returns `end` when there is no such ">".
const char* FindTagEnd(const char* q, const char* end, bool& emptyTag) {
    for (;;) {
        while (q < end && !Is(*q, kEqualsOrGt)) {
            ++q;
        }
        if (q >= end) {
            return end;
        }
        if (*q == '>') {
            emptyTag = q[-1] == '/';
            return q;
        }
        // After "=", spaces and more "=" still wait for the value.
        ++q;
        while (q < end && (Is(*q, kSpace) || *q == '=')) {
            ++q;
        }
        if (q >= end) {
            return end;
        }
        const char c = *q;
        if (c == '>') {
            emptyTag = q[-1] == '/';
            return q;
        }
        if (c == '"' || c == '\'') {
            q = FindByte(q + 1, end, c);
            if (q >= end) {
                return end;
            }
            ++q;
            continue;
        }
        const char* const valueStart = q;
        ++q;
        while (q < end && !Is(*q, kValueStop)) {
            ++q;
        }
        if (q >= end) {
            return end;
        }
        if (*q == '>') {
            // A "/" that ends an unquoted value belongs to it, unless it
            // stands alone after a space ("a= />").
            emptyTag = q[-1] == '/' && q - 1 == valueStart && Is(q[-2], kSpace);
            return q;
        }
        ++q;
    }
}

// Finds the ">" ending a comment, CDATA section or processing instruction:
// the first one preceded by `marker` (its last byte being the ">"), where the
// marker begins at or after `from`, so "<!-->" does not close itself.
const char* FindMarkedEnd(const char* from, const char* end, std::string_view marker) {
    const size_t before = marker.size() - 1;
    if (static_cast<size_t>(end - from) <= before) {
        return end;
    }
    for (const char* q = from + before; q < end;) {
        const void* gt = std::memchr(q, '>', static_cast<size_t>(end - q));
        if (gt == nullptr) {
            return end;
        }
        const char* g = static_cast<const char*>(gt);
        if (std::memcmp(g - before, marker.data(), before) == 0) {
            return g;
        }
        q = g + 1;
    }
    return end;
}

// A document type: ends at the first ">" outside quotes and outside nested
// "<!ELEMENT", "<!ATTLIST", "<!ENTITY", "<!NOTATION" declarations and comments.
// A "<!-" that does not open a comment is tolerated as a declaration; any
// other "<!" makes the whole document type an error node.
void ScanDocumentType(const char* p, const char* end, Node& n) {
    char quote = 0;
    bool nested = false;
    for (const char* q = p + 3; q < end; ++q) {
        const char c = *q;
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            if (!nested) {
                n.kind = NodeKind::DocumentType;
                n.end = q + 1;
                return;
            }
            nested = false;
        } else if (c == '<' && q + 1 < end && q[1] == '!') {
            if (q + 2 >= end) {
                break;
            }
            const char d = q[2];
            if (d == '-' && q + 3 < end && q[3] == '-') {
                const char* close = FindMarkedEnd(q + 4, end, "-->");
                if (close == end) {
                    break;
                }
                q = close;
            } else if (d == 'A' || d == 'E' || d == 'N' || d == '-') {
                nested = true;
                q += 2;
            } else {
                ErrorNode(n, q + 2, end, "doctype_tag_syntax");
                return;
            }
        }
    }
    Unterminated(n, end, "document_type");
}

// Returns the node that starts at `p`; `end` is the end of the text.
NodeKind ScanNode(const char* p, const char* end, Node& n) {
    n.start = p;
    n.flags = 0;
    n.name = nullptr;
    n.nameLength = 0;
    n.errorType = {};
    if (p >= end) {
        n.kind = NodeKind::EndOfText;
        n.end = p;
        return n.kind;
    }
    if (*p != '<') {
        const char* q = p;
        while (q < end && Is(*q, kSpace)) {
            ++q;
        }
        if (q == end || *q == '<') {
            n.kind = NodeKind::Whitespace;
            n.end = q;
        } else {
            const void* lt = std::memchr(q, '<', static_cast<size_t>(end - q));
            n.kind = NodeKind::Text;
            n.end = lt != nullptr ? static_cast<const char*>(lt) : end;
        }
        return n.kind;
    }

    if (p + 1 >= end) {
        ErrorNode(n, p + 1, end, "first_tag_syntax");
        return n.kind;
    }
    const char c1 = p[1];
    if (Is(c1, kNameStart) || c1 == '/') {
        const bool isEnd = c1 == '/';
        n.name = isEnd ? p + 2 : p + 1;
        const char* nameEnd = ScanName(n.name, end);
        n.nameLength = static_cast<size_t>(nameEnd - n.name);
        bool emptyTag = false;
        const char* gt = FindTagEnd(nameEnd, end, emptyTag);
        if (gt == end) {
            Unterminated(n, end, isEnd ? "end_tag" : "start_tag");
            return n.kind;
        }
        n.end = gt + 1;
        // The index packs a start tag length into 22 bits and an end tag
        // length into 10; a longer tag would wrap and corrupt the index, so it
        // is a syntax error instead.
        const auto length = static_cast<uint64_t>(n.end - p);
        if (length > (isEnd ? ElementRecord::kMaxEndTagLength : ElementRecord::kMaxStartTagLength)) {
            n.kind = NodeKind::Error;
            n.errorId = "tag_too_long";
            n.errorType = isEnd ? "end_tag" : "start_tag";
            return n.kind;
        }
        n.kind = isEnd ? NodeKind::EndTag : NodeKind::Element;
        if (!isEnd && emptyTag) {
            n.flags = kEmptyTag;
        }
        return n.kind;
    }
    if (c1 == '?') {
        n.name = p + 2;
        n.nameLength = static_cast<size_t>(ScanName(n.name, end) - n.name);
        const char* gt = FindMarkedEnd(p + 2, end, "?>");
        if (gt == end) {
            Unterminated(n, end, "processing_instruction");
        } else {
            n.kind = NodeKind::ProcessingInstruction;
            n.end = gt + 1;
        }
        return n.kind;
    }
    if (c1 != '!') {
        ErrorNode(n, p + 1, end, "first_tag_syntax");
        return n.kind;
    }
    if (p + 2 >= end) {
        ErrorNode(n, p + 2, end, "exclamation_tag_syntax");
        return n.kind;
    }
    const char c2 = p[2];
    if (c2 == '-' || c2 == '[') {
        const bool comment = c2 == '-';
        if (p + 3 >= end || p[3] != (comment ? '-' : 'C')) {
            ErrorNode(n, p + 3, end, comment ? "comment_tag_syntax" : "cdata_section_syntax");
            return n.kind;
        }
        const char* gt = FindMarkedEnd(p + 4, end, comment ? "-->" : "]]>");
        if (gt == end) {
            Unterminated(n, end, comment ? "comment" : "cdata_section");
        } else {
            n.kind = comment ? NodeKind::Comment : NodeKind::CData;
            n.end = gt + 1;
        }
        return n.kind;
    }
    if (c2 == 'D') {
        ScanDocumentType(p, end, n);
        return n.kind;
    }
    ErrorNode(n, p + 2, end, "exclamation_tag_syntax");
    return n.kind;
}

// The search-name rule shared by FindElement and GetAttribute: `token` must
// be the first bytes of `name`, and `name` must end right there or go on
// with a space, "/", "=" or a bracket. This part takes a token of `n` bytes
// whose first byte is known to equal the name's.
inline bool NameMatchesAfterFirst(const char* token, size_t n, std::string_view name) {
    if (n > name.size()) {
        return false;
    }
    if (n < name.size()) {
        const char next = name[n];
        if (next != ' ' && next != '/' && next != '=' && next != '[' && next != ']') {
            return false;
        }
    }
    for (size_t i = 1; i < n; ++i) {
        if (token[i] != name[i]) {
            return false;
        }
    }
    return true;
}

inline bool NameMatches(std::string_view token, std::string_view name) {
    return !token.empty() && token.size() <= name.size() && token[0] == name[0] &&
           NameMatchesAfterFirst(token.data(), token.size(), name);
}

// Attribute tokens of a start tag. A quoted token runs to the same quote or
// to the end of the tag; an unquoted one after "=" to a space or ">", any
// other to a space, "/", "=", ">" or "?" (a token starting with one of those
// is that byte alone). Every start tag in the index ends with ">", which
// stops all the unquoted loops below, so they need no end check when they
// start inside the tag; only a quoted token can run to its end.
inline const char* SkipSpacesInTag(const char* p) {
    while (Is(*p, kSpace)) {
        ++p;
    }
    return p;
}

inline const char* UnquotedEndInTag(const char* p, uint8_t stop) {
    while (!Is(*p, stop)) {
        ++p;
    }
    return p;
}

inline bool IsQuote(char c) { return c == '"' || c == '\''; }

// A token starting with one of these ends the attribute list.
inline bool EndsAttributes(char c) { return c == '/' || c == '>' || c == '?'; }

// The quoted token whose quote is at `p`: its content, with `p` moved past
// the closing quote (or to `end`). `plain` tells that the content holds no
// "&", so it needs no decoding.
inline std::string_view QuotedToken(const char*& p, const char* end, bool& plain) {
    const char quote = *p;
    const char* const begin = p + 1;
    const char* q = begin;
    const Word quotes = kOnes * static_cast<unsigned char>(quote);
    const Word amps = kOnes * static_cast<unsigned char>('&');
    Word amp = 0;
    while (end - q >= kWordSize) {
        const Word w = LoadWord(q);
        const Word hits = HasByte(w, quotes);
        if (hits != 0) {
            if constexpr (kLittleEndian) {
                // Marks for "&" are exact below the first quote.
                plain = (amp | (HasByte(w, amps) & BelowFirstHit(hits))) == 0;
                q += FirstHitOffset(hits);
                p = q + 1;
                return {begin, static_cast<size_t>(q - begin)};
            } else {
                break;
            }
        }
        amp |= HasByte(w, amps);
        q += kWordSize;
    }
    bool seen = amp != 0;
    while (q < end && *q != quote) {
        seen = seen || *q == '&';
        ++q;
    }
    plain = !seen;
    p = q < end ? q + 1 : end;
    return {begin, static_cast<size_t>(q - begin)};
}

inline void SkipQuoted(const char*& p, const char* end) {
    bool plain = false;
    QuotedToken(p, end, plain);
}

// Skips the tag name, the first token of a start tag; `p` is just after
// the tag's "<".
const char* SkipTagName(const char* p, const char* end) {
    p = SkipSpacesInTag(p);
    if (IsQuote(*p)) {
        SkipQuoted(p, end);
        return p;
    }
    return Is(*p, kAttrTokenStop) ? p + 1 : UnquotedEndInTag(p + 1, kAttrTokenStop);
}

// Reads the attribute that follows `p` in a start tag and moves `p` past it;
// false at the end of the list. A name without "=" is its own value; a name
// whose "=" is followed by the end of the list has an empty value (and the
// list ends with it). Quoted tokens and values that follow no name belong to
// no attribute and are skipped. `plain` is true when the value is known to
// hold no "&".
inline bool NextAttribute(const char*& p, const char* end, std::string_view& name, std::string_view& value,
                          bool& plain) {
    for (;;) {
        if (p >= end) {
            return false;
        }
        p = SkipSpacesInTag(p);
        if (EndsAttributes(*p)) {
            return false;
        }
        if (IsQuote(*p)) {
            SkipQuoted(p, end);
            continue;
        }
        if (*p == '=') {
            p = SkipSpacesInTag(p + 1);
            if (EndsAttributes(*p)) {
                return false;
            }
            if (IsQuote(*p)) {
                SkipQuoted(p, end);
            } else {
                p = UnquotedEndInTag(p + 1, kValueStop);
            }
            continue;
        }
        const char* const nameBegin = p;
        p = UnquotedEndInTag(p + 1, kAttrTokenStop);
        name = std::string_view(nameBegin, static_cast<size_t>(p - nameBegin));
        plain = false;
        const char* q = SkipSpacesInTag(p);
        if (*q != '=') {
            value = name;
            return true;
        }
        q = SkipSpacesInTag(q + 1);
        if (EndsAttributes(*q)) {
            value = name.substr(0, 0);
            p = end;
            return true;
        }
        if (IsQuote(*q)) {
            value = QuotedToken(q, end, plain);
            p = q;
        } else {
            p = UnquotedEndInTag(q + 1, kValueStop);
            value = std::string_view(q, static_cast<size_t>(p - q));
        }
        return true;
    }
}

// FindElement accepts a plain name with optional bracketed suffixes such as
// "entry[2]"; they are checked for balance and otherwise ignored. Quotes
// inside brackets may hold "]". Brackets do not nest.
bool IsSearchableName(std::string_view name) {
    if (!name.empty() && name[0] == '/') {
        return false;
    }
    bool inBracket = false;
    char quote = 0;
    for (char c : name) {
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            }
        } else if (inBracket) {
            if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == ']') {
                inBracket = false;
            } else if (c == '[') {
                return false;
            }
        } else if (c == '[') {
            inBracket = true;
        } else if (c == ']') {
            return false;
        }
    }
    return !inBracket;
}

// Code point of the lower-cased reference `code` (without "&" and ";"), 0
// when it is not one.
uint32_t ReferenceValue(std::string_view code) {
    if (code.empty() || code[0] != '#') {
        // XML's own five, the bulk of all references, before the table.
        if (code == "amp") {
            return '&';
        }
        if (code == "lt") {
            return '<';
        }
        if (code == "gt") {
            return '>';
        }
        if (code == "quot") {
            return '"';
        }
        if (code == "apos") {
            return '\'';
        }
        return xml_entities::Lookup(code);
    }
    uint32_t value = 0;
    if (code.size() > 1 && code[1] == 'x') {
        for (size_t i = 2; i < code.size(); ++i) {
            const char c = code[i];
            uint32_t digit = 0;
            if (c >= '0' && c <= '9') {
                digit = static_cast<uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = static_cast<uint32_t>(c - 'a' + 10);
            } else {
                break;
            }
            value = value * 16 + digit;
        }
    } else {
        for (size_t i = 1; i < code.size() && code[i] >= '0' && code[i] <= '9'; ++i) {
            value = value * 10 + static_cast<uint32_t>(code[i] - '0');
        }
    }
    return value;  // at most nine bytes of code, so no overflow
}

// Writes the UTF-8 form of `cp` at `w`; returns the end.
char* PutUtf8(char* w, uint32_t cp) {
    if (cp < 0x80) {
        *w++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *w++ = static_cast<char>(0xC0 | (cp >> 6));
        *w++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *w++ = static_cast<char>(0xE0 | (cp >> 12));
        *w++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *w++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *w++ = static_cast<char>(0xF0 | ((cp >> 18) & 0x07));
        *w++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *w++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *w++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return w;
}

// Decodes [p, end) to `w` and returns the end of the output. A reference is
// never shorter than what it decodes to (the shortest, "&lt;" or "&#1;", is
// four bytes; a four-byte code point needs a five-digit number), so `w` needs
// room for end - p bytes.
char* DecodeTo(char* w, const char* p, const char* const end) {
    while (p < end) {
        const void* amp = std::memchr(p, '&', static_cast<size_t>(end - p));
        const char* a = amp != nullptr ? static_cast<const char*>(amp) : end;
        std::memcpy(w, p, static_cast<size_t>(a - p));
        w += a - p;
        if (a == end) {
            break;
        }
        char code[9];
        size_t length = 0;
        const char* q = a + 1;
        while (length < sizeof(code) && q < end && static_cast<unsigned char>(*q) < 0x80 && *q != ';') {
            const char c = *q;
            code[length++] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
            ++q;
        }
        const uint32_t cp = (q < end && *q == ';') ? ReferenceValue(std::string_view(code, length)) : 0;
        if (cp != 0) {
            w = PutUtf8(w, cp);
            p = q + 1;
        } else {
            *w++ = '&';
            p = a + 1;
        }
    }
    return w;
}

void DecodeInto(std::string& out, std::string_view text) {
    const size_t base = out.size();
    out.resize(base + text.size());
    char* const first = &out[0];
    char* const w = DecodeTo(first + base, text.data(), text.data() + text.size());
    out.resize(static_cast<size_t>(w - first));
}

// Values and texts are mostly short, where calling memchr costs more than
// looking at a few words.
inline bool HasReference(std::string_view text) {
    if (text.size() > 64) {
        return std::memchr(text.data(), '&', text.size()) != nullptr;
    }
    const char* p = text.data();
    const char* const end = p + text.size();
    const Word amps = kOnes * static_cast<unsigned char>('&');
    for (; end - p >= kWordSize; p += kWordSize) {
        if (HasByte(LoadWord(p), amps) != 0) {
            return true;
        }
    }
    for (; p < end; ++p) {
        if (*p == '&') {
            return true;
        }
    }
    return false;
}

// DecodeText without the decoding work for text that holds no "&", and
// without growing a string step by step for text that does.
std::string Decoded(std::string_view text) {
    if (!HasReference(text)) {
        return std::string(text);
    }
    char buffer[256];
    if (text.size() <= sizeof(buffer)) {
        const char* const w = DecodeTo(buffer, text.data(), text.data() + text.size());
        return std::string(buffer, static_cast<size_t>(w - buffer));
    }
    std::string out;
    DecodeInto(out, text);
    return out;
}

void EncodeInto(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '&': out += "&amp;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c; break;
        }
    }
}

void AppendNumber(std::string& out, std::string_view name, int32_t value) {
    if (value < 0) {
        return;
    }
    char digits[12];
    size_t n = 0;
    auto v = static_cast<uint32_t>(value);
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    out += ' ';
    out += name;
    out += "=\"";
    while (n > 0) {
        out += digits[--n];
    }
    out += '"';
}

// Appends a record without the length limit; syntax errors always get in.
void AppendRecord(std::string& result, std::string_view id, std::string_view attrName,
                  std::string_view attrValue, int32_t offset, int32_t offset2) {
    result += '<';
    result += id;
    if (!attrName.empty()) {
        result += ' ';
        result += attrName;
        result += "=\"";
        EncodeInto(result, attrValue);
        result += '"';
    }
    AppendNumber(result, "offset", offset);
    AppendNumber(result, "offset2", offset2);
    result += "/>";
}

}  // namespace

// The open elements, innermost last. Finding the element an end tag closes
// costs no more than the elements it then closes, except for a stray end tag,
// which would search the whole stack every time: quadratic on a text of many
// open elements and stray end tags. So from the first end tag that misses the
// innermost element on, the open names are also counted (in an ordered map,
// which crafted names cannot flood), and a stray end tag costs one lookup.
class XmlDocument::OpenStack {
public:
    OpenStack() { items_.reserve(7); }

    bool Empty() const { return items_.empty(); }
    size_t Size() const { return items_.size(); }
    int32_t IndexAt(size_t i) const { return items_[i].index; }
    std::string_view NameAt(size_t i) const { return items_[i].Name(); }
    // The innermost open element, or the document when none is open.
    int32_t Innermost() const { return items_.empty() ? 0 : items_.back().index; }

    void Push(int32_t index, std::string_view name) {
        // Filled field by field: copying a whole temporary Item (or the name
        // as one string_view) made the copy wait on partly written memory,
        // a stall that cost a good part of the indexing time.
        Item& item = items_.emplace_back();
        item.index = index;
        item.name = name.data();
        item.nameLength = name.size();
        if (counting_) {
            ++counts_[name];
        }
    }

    // Closes the innermost element.
    void Pop() {
        if (counting_) {
            Uncount(items_.back().Name());
        }
        items_.pop_back();
    }

    void Truncate(size_t size) {
        if (counting_) {
            for (size_t i = size; i < items_.size(); ++i) {
                Uncount(items_[i].Name());
            }
        }
        items_.resize(size);
    }

    // Number of open elements up to and including the innermost one named
    // `name`; 0 when no open element has that name.
    size_t Find(std::string_view name) {
        if (!items_.empty() && items_.back().Name() == name) {
            return items_.size();
        }
        if (!counting_) {
            for (const Item& item : items_) {
                ++counts_[item.Name()];
            }
            counting_ = true;
        }
        if (counts_.find(name) == counts_.end()) {
            return 0;
        }
        size_t i = items_.size() - 1;  // the innermost one did not match
        while (items_[i - 1].Name() != name) {
            --i;
        }
        return i;
    }

private:
    void Uncount(std::string_view name) {
        const auto it = counts_.find(name);
        if (--it->second == 0) {
            counts_.erase(it);
        }
    }

    struct Item {
        int32_t index;
        const char* name;
        size_t nameLength;
        std::string_view Name() const { return {name, nameLength}; }
    };
    std::vector<Item> items_;
    std::map<std::string_view, size_t> counts_;
    bool counting_ = false;
};

XmlDocument::XmlDocument() { SetText({}); }

XmlDocument::~XmlDocument() = default;

void XmlDocument::Reserve(int64_t capacity) {
    constexpr int64_t kBlock = 65536;
    capacity = std::min<int64_t>(capacity, std::numeric_limits<int32_t>::max());
    if (capacity <= capacity_) {
        return;
    }
    // Small documents get a small last block, replaced by a larger copy as
    // they grow, instead of a full 2 MB block up front.
    const int64_t filled = static_cast<int64_t>(capacity_ / kBlock) * kBlock;
    if (capacity_ > filled) {
        const int64_t size = std::min(kBlock, capacity - filled);
        auto block = std::make_unique<ElementRecord[]>(static_cast<size_t>(size));
        const int64_t used = std::min<int64_t>(capacity_, nextFree_) - filled;
        if (used > 0) {
            std::copy(blocks_.back().get(), blocks_.back().get() + used, block.get());
        }
        blocks_.back() = std::move(block);
        capacity_ = static_cast<int32_t>(filled + size);
    }
    while (capacity_ < capacity) {
        const int64_t size = std::min(kBlock, capacity - capacity_);
        blocks_.push_back(std::make_unique<ElementRecord[]>(static_cast<size_t>(size)));
        capacity_ = static_cast<int32_t>(capacity_ + size);
    }
}

int32_t XmlDocument::NewRecord() {
    if (nextFree_ >= capacity_) {
        Reserve(static_cast<int64_t>(capacity_) + std::max(capacity_ / 2, 1));
    }
    const int32_t index = nextFree_++;
    Rec(index) = ElementRecord{};
    return index;
}

void XmlDocument::LinkLastChild(int32_t parent, int32_t index) {
    ElementRecord& p = Rec(parent);
    ElementRecord& r = Rec(index);
    r.parent = parent;
    if (p.firstChild == 0) {
        p.firstChild = index;
        r.flags |= ElementRecord::kFirstChild;
        r.previous = index;
    } else {
        ElementRecord& first = Rec(p.firstChild);
        const int32_t last = first.previous;
        Rec(last).next = index;
        r.previous = last;
        first.previous = index;
    }
}

bool XmlDocument::SetText(std::string_view text) {
    attributes_.element = 0;
    result_.clear();
    parentPos_ = 0;
    currentPos_ = 0;
    childPos_ = 0;
    nodeKind_ = 0;
    nextFree_ = 1;

    size_t length = text.size();
    if (length != 0) {
        const void* zero = std::memchr(text.data(), 0, length);
        if (zero != nullptr) {
            length = static_cast<size_t>(static_cast<const char*>(zero) - text.data());
        }
    }
    // Offsets in the index are 32-bit; a longer text cannot be indexed.
    if (length > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
        text_.clear();
        Reserve(8);
        Rec(0) = ElementRecord{};
        Rec(0).flags = ElementRecord::kDocIllFormed;
        AddResult(result_, "text_too_long");
        return false;
    }
    text_.assign(text.data(), length);
    Reserve(static_cast<int64_t>(length / 64) + 8);
    Rec(0) = ElementRecord{};
    if (length != 0) {
        Index();
    }
    return IsWellFormed();
}

void XmlDocument::Index() {
    const char* const base = text_.data();
    const char* const end = base + text_.size();
    OpenStack open;
    Node node;
    for (const char* p = base; ScanNode(p, end, node) != NodeKind::EndOfText; p = node.end) {
        const auto offset = static_cast<int32_t>(node.start - base);
        const auto length = static_cast<int32_t>(node.end - node.start);
        switch (node.kind) {
            case NodeKind::Element: {
                const int32_t index = NewRecord();
                LinkLastChild(open.Innermost(), index);
                ElementRecord& r = Rec(index);
                r.start = offset;
                r.length = length;
                r.tagLengths = static_cast<uint32_t>(length);
                // The level has 16 bits; deeper nesting saturates rather
                // than spilling into the flag bits.
                r.flags |= static_cast<uint32_t>(std::min<size_t>(open.Size(), ElementRecord::kLevelMask));
                if ((node.flags & kEmptyTag) == 0) {
                    open.Push(index, std::string_view(node.name, node.nameLength));
                }
                break;
            }
            case NodeKind::EndTag: {
                const std::string_view name(node.name, node.nameLength);
                const size_t i = open.Find(name);
                if (i == 0) {
                    Rec(0).flags |= ElementRecord::kDocIllFormed;
                    Rec(open.Innermost()).flags |= ElementRecord::kHasError;
                    AddResult(result_, "lone_end_tag", "tagname", name, offset);
                    break;
                }
                if (i < open.Size()) {
                    CloseUnended(open, i, offset + 1);
                }
                ElementRecord& r = Rec(open.Innermost());
                r.length = offset + length - r.start;
                r.tagLengths |= static_cast<uint32_t>(length) << 22;
                open.Pop();
                break;
            }
            case NodeKind::Error:
                Rec(0).flags |= ElementRecord::kDocIllFormed;
                Rec(open.Innermost()).flags |= ElementRecord::kHasError;
                AppendRecord(result_, node.errorId, node.errorType.empty() ? "" : "type",
                             node.errorType, offset, -1);
                break;
            default:
                break;
        }
    }
    const auto textLength = static_cast<int32_t>(text_.size());
    if (!open.Empty()) {
        CloseUnended(open, 0, textLength);
    }
    ElementRecord& doc = Rec(0);
    doc.length = textLength;
    if (doc.firstChild == 0) {
        AddResult(result_, "no_root_element");
    } else if (Rec(doc.firstChild).next != 0) {
        AddResult(result_, "root_has_sibling");
    }
}

// Closes open[from..] as never ended, innermost first. Each one's children
// follow it as siblings. Their parent links are fixed in one walk at the end:
// they all land under the same parent (open[from - 1] or the document), which
// is never itself closed as unended afterwards, so every record moves at most
// once and a long chain of unended elements stays linear.
void XmlDocument::CloseUnended(OpenStack& open, size_t from, int32_t offset2) {
    const int32_t target = from == 0 ? 0 : open.IndexAt(from - 1);
    bool hadError = false;
    for (size_t i = open.Size(); i-- > from;) {
        const int32_t index = open.IndexAt(i);
        ElementRecord& r = Rec(index);
        r.length = r.StartTagLength();
        r.tagLengths &= ElementRecord::kMaxStartTagLength;
        r.flags |= ElementRecord::kNotEnded;
        if ((r.flags & ElementRecord::kHasError) != 0) {
            hadError = true;
            r.flags &= ~ElementRecord::kHasError;
        }
        if (r.firstChild != 0) {
            // It is its parent's last child: splice its children in after it.
            const int32_t first = r.firstChild;
            const int32_t last = Rec(first).previous;
            ElementRecord& parent = Rec(i == 0 ? 0 : open.IndexAt(i - 1));
            Rec(parent.firstChild).previous = last;
            r.next = first;
            r.firstChild = 0;
            Rec(first).previous = index;
        }
        AddResult(result_, "unended_start_tag", "tagname", open.NameAt(i), r.start, offset2);
    }
    Rec(0).flags |= ElementRecord::kDocIllFormed;
    if (hadError) {
        Rec(target).flags |= ElementRecord::kHasError;
    }
    for (int32_t n = Rec(open.IndexAt(from)).next; n != 0; n = Rec(n).next) {
        ElementRecord& moved = Rec(n);
        moved.parent = target;
        moved.flags &= ~ElementRecord::kFirstChild;
    }
    open.Truncate(from);
}

bool XmlDocument::IsWellFormed() const {
    const ElementRecord& doc = Rec(0);
    if ((doc.flags & ElementRecord::kDocIllFormed) != 0) {
        return false;
    }
    return doc.firstChild != 0 && Rec(doc.firstChild).next == 0;
}

const ElementRecord& XmlDocument::Element(int32_t index) const {
    return (index > 0 && index < nextFree_) ? Rec(index) : Rec(0);
}

std::string_view XmlDocument::TagNameOf(int32_t index) const {
    const ElementRecord& r = Rec(index);
    const char* p = text_.data() + r.start + 1;
    const char* const tagEnd = text_.data() + r.start + r.StartTagLength();
    while (p < tagEnd && Is(*p, kSpace)) {
        ++p;
    }
    if (p >= tagEnd) {
        return {};
    }
    const char* q = p + 1;
    while (q < tagEnd && !Is(*q, kTagNameStop)) {
        ++q;
    }
    return {p, static_cast<size_t>(q - p)};
}

std::string_view XmlDocument::CurrentTagName() const {
    return currentPos_ == 0 ? std::string_view() : TagNameOf(currentPos_);
}

bool XmlDocument::FindElement(std::string_view name) {
    if (!IsSearchableName(name)) {
        return false;
    }
    int32_t candidate = currentPos_ != 0 ? Rec(currentPos_).next : Rec(parentPos_).firstChild;
    for (; candidate != 0; candidate = Rec(candidate).next) {
        if (name.empty() || NameMatches(TagNameOf(candidate), name)) {
            currentPos_ = candidate;
            childPos_ = 0;
            nodeKind_ = 1;
            return true;
        }
    }
    return false;
}

bool XmlDocument::IntoElement() {
    if (currentPos_ == 0 || nodeKind_ != 1) {
        return false;
    }
    parentPos_ = currentPos_;
    currentPos_ = childPos_;
    childPos_ = 0;
    nodeKind_ = currentPos_ != 0 ? 1 : 0;
    return true;
}

bool XmlDocument::OutOfElement() {
    if (parentPos_ == 0) {
        return false;
    }
    childPos_ = currentPos_;
    currentPos_ = parentPos_;
    parentPos_ = Rec(currentPos_).parent;
    nodeKind_ = 1;
    return true;
}

void XmlDocument::ResetPosition() {
    currentPos_ = 0;
    childPos_ = 0;
    nodeKind_ = 0;
}

// Tokens are read only within the start tag: a stray quote must not carry
// the search into the element's content or into later elements.
void XmlDocument::ReadAttributes() const {
    const ElementRecord& r = Rec(currentPos_);
    const char* const end = text_.data() + r.start + r.StartTagLength();
    const char* p = SkipTagName(text_.data() + r.start + 1, end);
    AttributeCache& cache = attributes_;
    cache.element = currentPos_;
    cache.count = 0;
    cache.plain = 0;
    cache.rest = nullptr;
    std::string_view name;
    std::string_view value;
    bool plain = false;
    while (NextAttribute(p, end, name, value, plain)) {
        // A name is never empty and, like its start tag, shorter than 2^22.
        cache.keys[cache.count] =
            static_cast<uint32_t>(name.size()) << 8 | static_cast<unsigned char>(name[0]);
        cache.names[cache.count] = name.data();
        cache.values[cache.count] = value;
        cache.plain |= static_cast<uint32_t>(plain) << cache.count;
        if (++cache.count == AttributeCache::kCapacity) {
            cache.rest = p;
            break;
        }
    }
}

std::string XmlDocument::GetAttribute(std::string_view name) const {
    if (currentPos_ == 0 || name.empty()) {
        return {};
    }
    if (attributes_.element != currentPos_) {
        ReadAttributes();
    }
    const AttributeCache& cache = attributes_;
    const auto first = static_cast<unsigned char>(name[0]);
    for (uint32_t i = 0; i < cache.count; ++i) {
        const uint32_t key = cache.keys[i];
        if ((key & 0xFF) == first && NameMatchesAfterFirst(cache.names[i], key >> 8, name)) {
            const std::string_view value = cache.values[i];
            return ((cache.plain >> i) & 1) != 0 ? std::string(value) : Decoded(value);
        }
    }
    if (cache.rest == nullptr) {
        return {};
    }
    const ElementRecord& r = Rec(currentPos_);
    const char* const end = text_.data() + r.start + r.StartTagLength();
    const char* p = cache.rest;
    std::string_view token;
    std::string_view value;
    bool plain = false;
    while (NextAttribute(p, end, token, value, plain)) {
        if (NameMatches(token, name)) {
            return plain ? std::string(value) : Decoded(value);
        }
    }
    return {};
}

std::string XmlDocument::GetData() const {
    if (currentPos_ == 0) {
        return {};
    }
    const ElementRecord& r = Rec(currentPos_);
    if (r.StartTagLength() == r.length || r.firstChild != 0) {
        return {};
    }
    const char* const begin = text_.data() + r.start + r.StartTagLength();
    const char* const end = text_.data() + r.start + r.length - r.EndTagLength();
    const auto size = static_cast<size_t>(end - begin);
    if (std::memchr(begin, '<', size) == nullptr) {
        return Decoded(std::string_view(begin, size));
    }
    std::string out;
    Node node;
    for (const char* p = begin; ScanNode(p, end, node) != NodeKind::EndOfText; p = node.end) {
        if (node.kind == NodeKind::Text) {
            DecodeInto(out, std::string_view(node.start, static_cast<size_t>(node.end - node.start)));
        } else if (node.kind == NodeKind::CData) {
            // "<![CDATA[" ... "]]>"; only its "C" was checked, so a short
            // section has no content rather than a negative one.
            const char* contentEnd = node.end - 3;
            const char* contentBegin = contentEnd - node.start >= 9 ? node.start + 9 : contentEnd;
            out.append(contentBegin, static_cast<size_t>(contentEnd - contentBegin));
        }
    }
    return out;
}

std::string XmlDocument::DecodeText(std::string_view text) { return Decoded(text); }

std::string XmlDocument::EncodeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    EncodeInto(out, text);
    return out;
}

void XmlDocument::AddResult(std::string& result, std::string_view id, std::string_view attrName,
                            std::string_view attrValue, int32_t offset, int32_t offset2) {
    if (result.size() > 999) {
        return;
    }
    AppendRecord(result, id, attrName, attrValue, offset, offset2);
}

}  // namespace wayfarer
