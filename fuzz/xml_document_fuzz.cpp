// libFuzzer target for XmlDocument. Beyond the sanitizers it checks that the
// index is a consistent tree over the text, that a depth-first walk through
// the public cursor reaches every element exactly once, and that the verdict
// agrees with the result text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/xml_document.h"

namespace {

using wayfarer::ElementRecord;
using wayfarer::XmlDocument;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void CheckIndex(const XmlDocument& doc, std::string_view text) {
    const int32_t count = doc.ElementCount();
    Require(count >= 1);
    const ElementRecord& doc0 = doc.Element(0);
    Require(doc0.length == static_cast<int32_t>(text.size()));
    Require(doc0.parent == 0 && doc0.next == 0 && doc0.tagLengths == 0);
    Require((doc0.flags & ~(ElementRecord::kDocIllFormed | ElementRecord::kHasError)) == 0);
    Require(count == 1 ? doc0.firstChild == 0 : doc0.firstChild == 1);

    for (int32_t i = 1; i < count; ++i) {
        const ElementRecord& r = doc.Element(i);
        Require(r.start >= 0 && r.StartTagLength() >= 3);
        Require(r.length >= r.StartTagLength() + r.EndTagLength());
        Require(static_cast<int64_t>(r.start) + r.length <= doc0.length);
        Require(text[static_cast<size_t>(r.start)] == '<');
        Require(text[static_cast<size_t>(r.start + r.StartTagLength() - 1)] == '>');
        Require((r.flags & (ElementRecord::kDocIllFormed | 0x70000u)) == 0);
        if ((r.flags & ElementRecord::kNotEnded) != 0) {
            Require(r.EndTagLength() == 0 && r.length == r.StartTagLength());
        }
        if (r.EndTagLength() != 0) {
            const size_t endTag = static_cast<size_t>(r.start + r.length - r.EndTagLength());
            Require(text.compare(endTag, 2, "</") == 0);
            Require(text[static_cast<size_t>(r.start + r.length - 1)] == '>');
        }

        // Links: parents come first, siblings and children follow in
        // document order, and every link is answered by its counterpart.
        Require(r.parent >= 0 && r.parent < i);
        const ElementRecord& parent = doc.Element(r.parent);
        Require(r.parent == 0 || r.Level() > parent.Level() || parent.Level() == 0xFFFF);
        Require(((r.flags & ElementRecord::kFirstChild) != 0) == (parent.firstChild == i));
        Require(r.firstChild == 0 || (r.firstChild > i && r.firstChild < count));
        Require(r.next == 0 || (r.next > i && r.next < count));
        Require(r.previous >= 1 && r.previous < count);
        if (r.next != 0) {
            Require(doc.Element(r.next).previous == i);
            Require(doc.Element(r.next).parent == r.parent);
            Require(doc.Element(r.next).start >= r.start + r.length);
        } else {
            Require(doc.Element(parent.firstChild).previous == i);
        }
        if (r.firstChild != 0) {
            Require(doc.Element(r.firstChild).parent == i);
            Require(r.EndTagLength() != 0);
        }
    }
}

void Walk(XmlDocument& doc) {
    const int32_t count = doc.ElementCount();
    int32_t visited = 0;
    int32_t depth = 0;
    for (;;) {
        if (doc.FindElement()) {
            ++visited;
            Require(visited < count);
            const int32_t current = doc.CurrentPos();
            Require(current > 0 && current < count);
            Require(doc.CursorNodeKind() == 1);
            const ElementRecord& r = doc.Element(current);
            Require(r.parent == doc.ParentPos());

            const std::string_view tag = doc.CurrentTagName();
            Require(!tag.empty() && tag.size() < static_cast<size_t>(r.StartTagLength()));
            for (const char* name : {"type", "name", "value", "x"}) {
                doc.GetAttribute(name);
            }
            Require(doc.GetAttribute(std::string(tag)).size() < static_cast<size_t>(r.StartTagLength()));
            const std::string data = doc.GetData();
            if (r.firstChild != 0 || r.StartTagLength() == r.length) {
                Require(data.empty());
            }
            Require(data.size() <= static_cast<size_t>(r.length));

            Require(doc.IntoElement());
            Require(doc.ParentPos() == current && doc.CurrentPos() == 0 && doc.CursorNodeKind() == 0);
            ++depth;
            continue;
        }
        const int32_t child = doc.CurrentPos();
        if (!doc.OutOfElement()) {
            break;
        }
        --depth;
        Require(depth >= 0 && doc.ChildPos() == child);
    }
    Require(depth == 0);
    Require(visited == count - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string_view text = input.substr(0, input.find('\0'));

    XmlDocument doc;
    const bool wellFormed = doc.SetText(input);
    Require(wellFormed == doc.IsWellFormed());
    if (!doc.GetResult().empty()) {
        Require(!wellFormed);
    }
    CheckIndex(doc, text);
    Walk(doc);

    // The reader's own escaping must always decode back to what it was given.
    Require(XmlDocument::DecodeText(XmlDocument::EncodeText(text)) == text);
    return 0;
}
