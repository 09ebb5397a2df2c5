// A small, tolerant XML reader over one in-memory UTF-8 text.
//
// SetText indexes the whole text in one pass; navigation then moves a cursor
// over that index, and attributes and text are decoded only when asked for.
// Problems found while indexing never stop the scan: each becomes a record in
// GetResult(), and IsWellFormed() gives the verdict. Portable; no exceptions
// leave this class (allocation failure aside).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace wayfarer {

// One element of the index. Record 0 stands for the document itself.
struct ElementRecord {
    int32_t start = 0;        // offset of the element's "<"
    int32_t length = 0;       // "<" to the end of its end tag (or start tag)
    uint32_t tagLengths = 0;  // start tag length in bits 0-21, end tag length in bits 22-31
    uint32_t flags = 0;       // nesting level in bits 0-15, plus the flags below
    int32_t parent = 0;
    int32_t firstChild = 0;
    int32_t next = 0;
    int32_t previous = 0;  // for a first child: the last child

    static constexpr uint32_t kLevelMask = 0xFFFF;
    static constexpr uint32_t kFirstChild = 0x80000;
    static constexpr uint32_t kNotEnded = 0x100000;
    static constexpr uint32_t kHasError = 0x200000;
    static constexpr uint32_t kDocIllFormed = 0x800000;

    static constexpr uint32_t kMaxStartTagLength = (1u << 22) - 1;  // 4,194,303
    static constexpr uint32_t kMaxEndTagLength = (1u << 10) - 1;    // 1023

    int32_t StartTagLength() const { return static_cast<int32_t>(tagLengths & kMaxStartTagLength); }
    int32_t EndTagLength() const { return static_cast<int32_t>(tagLengths >> 22); }
    int32_t Level() const { return static_cast<int32_t>(flags & kLevelMask); }
};

// What the node scanner found at a position.
enum class NodeKind : int32_t {
    EndTag = 0,
    Element = 1,
    Text = 2,
    Whitespace = 4,
    CData = 8,
    ProcessingInstruction = 16,
    Comment = 32,
    DocumentType = 64,
    Error = -1,
    EndOfText = -2,
};

class XmlDocument {
public:
    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Stores a copy of the text up to its first zero byte, clears the result,
    // indexes the text and resets the cursor. Returns IsWellFormed().
    // A start tag longer than 4,194,303 bytes or an end tag longer than 1023
    // does not fit the index; it becomes a syntax error ("tag_too_long").
    bool SetText(std::string_view text);
    bool IsWellFormed() const;
    const std::string& GetResult() const { return result_; }

    // Moves to the next sibling element whose tag name is `name`; an empty
    // name matches any element. Bracketed suffixes ("entry[2]") are accepted
    // and ignored; a leading "/", an unbalanced or nested bracket never
    // matches. On failure the cursor stays where it was.
    bool FindElement(std::string_view name = {});
    bool IntoElement();
    bool OutOfElement();
    void ResetPosition();

    // Decoded value of attribute `name` of the current element, read from its
    // start tag only; empty when there is no current element, no such
    // attribute, or `name` is empty. An attribute without "=" has its own
    // name as value. The start tag is read once per element and kept, so
    // even this const call must not run concurrently with another on the
    // same document.
    std::string GetAttribute(std::string_view name) const;
    // Decoded text content of the current element; empty for an element
    // with child elements, an empty-element tag or one never ended.
    std::string GetData() const;

    // Character and entity references decoded; anything unknown stays literal.
    static std::string DecodeText(std::string_view text);
    // The five markup characters escaped as entity references.
    static std::string EncodeText(std::string_view text);

    // Appends one result record "<id [attrName="..."] [offset=".."] [offset2=".."]/>"
    // to `result`, unless `result` already holds more than 999 bytes.
    // Negative offsets are left out.
    static void AddResult(std::string& result, std::string_view id,
                          std::string_view attrName = {}, std::string_view attrValue = {},
                          int32_t offset = -1, int32_t offset2 = -1);

    // Cursor and index, for callers that need positions (and for tests).
    int32_t ParentPos() const { return parentPos_; }
    int32_t CurrentPos() const { return currentPos_; }
    int32_t ChildPos() const { return childPos_; }
    int32_t CursorNodeKind() const { return nodeKind_; }
    // Number of records handed out, record 0 included (1 for an empty text).
    int32_t ElementCount() const { return nextFree_; }
    // Record `index`; an index outside 0..ElementCount()-1 gives record 0.
    const ElementRecord& Element(int32_t index) const;
    // The text of the current element's tag name; empty without one.
    std::string_view CurrentTagName() const;

private:
    class OpenStack;

    std::string text_;  // the text up to its first zero byte
    std::string result_;
    int32_t parentPos_ = 0;
    int32_t currentPos_ = 0;
    int32_t childPos_ = 0;
    int32_t nextFree_ = 1;
    int32_t nodeKind_ = 0;
    // The element index: blocks of 65536 records behind a table of blocks, so
    // a large document never needs one huge allocation. Every block but the
    // last is full.
    std::vector<std::unique_ptr<ElementRecord[]>> blocks_;
    int32_t capacity_ = 0;

    // GetAttribute's reading of one start tag: callers ask for several
    // attributes of each element, and re-reading the tag for every name
    // dominated their cost. Keyed by element index, which stays valid until
    // SetText; a tag with more attributes than fit keeps where reading
    // stopped, and names not found among the first ones are read from there.
    struct AttributeCache {
        static constexpr uint32_t kCapacity = 16;
        int32_t element = 0;  // 0: nothing cached
        uint32_t count = 0;
        uint32_t plain = 0;  // bit i: value i holds no "&" and needs no decoding
        const char* rest = nullptr;  // null when the whole tag was read
        // Per attribute: its name's length << 8 | its first byte, which
        // rejects most names without reading the text; the name; the value.
        uint32_t keys[kCapacity] = {};
        const char* names[kCapacity] = {};
        std::string_view values[kCapacity];
    };
    mutable AttributeCache attributes_;

    ElementRecord& Rec(int32_t index) {
        const auto i = static_cast<uint32_t>(index);
        return blocks_[i >> 16][i & 0xFFFF];
    }
    const ElementRecord& Rec(int32_t index) const {
        const auto i = static_cast<uint32_t>(index);
        return blocks_[i >> 16][i & 0xFFFF];
    }
    void Reserve(int64_t capacity);
    int32_t NewRecord();
    void Index();
    void LinkLastChild(int32_t parent, int32_t index);
    void CloseUnended(OpenStack& open, size_t from, int32_t offset2);
    std::string_view TagNameOf(int32_t index) const;
    void ReadAttributes() const;
};

}  // namespace wayfarer
