#include "config/xml_document.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace wayfarer {
namespace {

constexpr uint32_t kFirst = ElementRecord::kFirstChild;
constexpr uint32_t kNotEnded = ElementRecord::kNotEnded;
constexpr uint32_t kHasError = ElementRecord::kHasError;
constexpr uint32_t kIllFormed = ElementRecord::kDocIllFormed;

struct Expected {
    int32_t start;
    int32_t length;
    int32_t startTag;
    int32_t endTag;
    uint32_t flags;  // level included
    int32_t parent;
    int32_t firstChild;
    int32_t next;
    int32_t previous;
};

void ExpectRecords(const XmlDocument& doc, const std::vector<Expected>& records) {
    ASSERT_EQ(doc.ElementCount(), static_cast<int32_t>(records.size()));
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE("record " + std::to_string(i));
        const ElementRecord& r = doc.Element(static_cast<int32_t>(i));
        const Expected& e = records[i];
        EXPECT_EQ(r.start, e.start);
        EXPECT_EQ(r.length, e.length);
        EXPECT_EQ(r.StartTagLength(), e.startTag);
        EXPECT_EQ(r.EndTagLength(), e.endTag);
        EXPECT_EQ(r.flags, e.flags);
        EXPECT_EQ(r.parent, e.parent);
        EXPECT_EQ(r.firstChild, e.firstChild);
        EXPECT_EQ(r.next, e.next);
        EXPECT_EQ(r.previous, e.previous);
    }
}

std::string Repeat(const std::string& s, size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (size_t i = 0; i < n; ++i) {
        out += s;
    }
    return out;
}

// ---------------------------------------------------------------- index

TEST(XmlReaderIndex, RecordsEveryFieldAndLinkOfAWellFormedTree) {
    XmlDocument doc;
    EXPECT_TRUE(doc.SetText(R"(<r><a x="1">t</a><b/><c><d/></c></r>)"));
    EXPECT_EQ(doc.GetResult(), "");
    ExpectRecords(doc, {
        {0, 36, 0, 0, 0, 0, 1, 0, 0},
        {0, 36, 3, 4, kFirst | 0, 0, 2, 0, 1},
        {3, 14, 9, 4, kFirst | 1, 1, 0, 3, 4},  // previous of a first child: the last child
        {17, 4, 4, 0, 1, 1, 0, 4, 2},
        {21, 11, 3, 4, 1, 1, 5, 0, 3},
        {24, 4, 4, 0, kFirst | 2, 4, 0, 0, 5},
    });
}

TEST(XmlReaderIndex, EndTagOfParentLeavesInnerElementUnended) {
    XmlDocument doc;
    EXPECT_FALSE(doc.SetText("<a><b></a>"));
    EXPECT_EQ(doc.GetResult(), R"(<unended_start_tag tagname="b" offset="3" offset2="7"/>)");
    ExpectRecords(doc, {
        {0, 10, 0, 0, kIllFormed, 0, 1, 0, 0},
        {0, 10, 3, 4, kFirst | 0, 0, 2, 0, 1},
        {3, 3, 3, 0, kFirst | kNotEnded | 1, 1, 0, 0, 2},
    });
}

TEST(XmlReaderIndex, ChildrenOfAnUnendedElementFollowItAsSiblings) {
    XmlDocument doc;
    // a is never ended; b and c become r's children after a, and the error
    // seen inside a moves to r.
    EXPECT_FALSE(doc.SetText("<r><a><b/></x><c/></r>"));
    EXPECT_EQ(doc.GetResult(),
              R"(<lone_end_tag tagname="x" offset="10"/>)"
              R"(<unended_start_tag tagname="a" offset="3" offset2="19"/>)");
    ExpectRecords(doc, {
        {0, 22, 0, 0, kIllFormed, 0, 1, 0, 0},
        {0, 22, 3, 4, kFirst | kHasError | 0, 0, 2, 0, 1},
        {3, 3, 3, 0, kFirst | kNotEnded | 1, 1, 0, 3, 4},
        {6, 4, 4, 0, 2, 1, 0, 4, 2},  // no longer a first child; level kept
        {14, 4, 4, 0, 2, 1, 0, 0, 3},
    });
}

TEST(XmlReaderIndex, ElementsLeftOpenAtTheEndAllBecomeTopLevel) {
    XmlDocument doc;
    EXPECT_FALSE(doc.SetText("<r><a><b><!x><c/>"));
    EXPECT_EQ(doc.GetResult(),
              R"(<exclamation_tag_syntax offset="9"/>)"
              R"(<unended_start_tag tagname="b" offset="6" offset2="17"/>)"
              R"(<unended_start_tag tagname="a" offset="3" offset2="17"/>)"
              R"(<unended_start_tag tagname="r" offset="0" offset2="17"/>)"
              R"(<root_has_sibling/>)");
    ExpectRecords(doc, {
        {0, 17, 0, 0, kIllFormed | kHasError, 0, 1, 0, 0},
        {0, 3, 3, 0, kFirst | kNotEnded | 0, 0, 0, 2, 4},
        {3, 3, 3, 0, kNotEnded | 1, 0, 0, 3, 1},
        {6, 3, 3, 0, kNotEnded | 2, 0, 0, 4, 2},
        {13, 4, 4, 0, 3, 0, 0, 0, 3},
    });
}

TEST(XmlReaderIndex, SlashEndingAnUnquotedValueDoesNotCloseTheTag) {
    XmlDocument doc;
    EXPECT_TRUE(doc.SetText("<a x=1/><b/></a>"));
    ExpectRecords(doc, {
        {0, 16, 0, 0, 0, 0, 1, 0, 0},
        {0, 16, 8, 4, kFirst | 0, 0, 2, 0, 1},
        {8, 4, 4, 0, kFirst | 1, 1, 0, 0, 2},
    });
}

TEST(XmlReaderIndex, EndTagsAfterAStrayOneStillFindTheirElements) {
    // After the first stray end tag the open names are also counted; the
    // count must follow every element opened and closed from then on.
    const struct {
        const char* text;
        const char* result;
        std::vector<Expected> records;
    } cases[] = {
        {"<a><b></x><b></b></b></a>",
         R"(<lone_end_tag tagname="x" offset="6"/>)",
         {{0, 25, 0, 0, kIllFormed, 0, 1, 0, 0},
          {0, 25, 3, 4, kFirst | 0, 0, 2, 0, 1},
          {3, 18, 3, 4, kFirst | kHasError | 1, 1, 3, 0, 2},
          {10, 7, 3, 4, kFirst | 2, 2, 0, 0, 3}}},
        {"<a><b></x></b></b></a>",
         R"(<lone_end_tag tagname="x" offset="6"/><lone_end_tag tagname="b" offset="14"/>)",
         {{0, 22, 0, 0, kIllFormed, 0, 1, 0, 0},
          {0, 22, 3, 4, kFirst | kHasError | 0, 0, 2, 0, 1},
          {3, 11, 3, 4, kFirst | kHasError | 1, 1, 0, 0, 2}}},
        {"<r><a><b><c></x></a><c></c></r>",
         R"(<lone_end_tag tagname="x" offset="12"/>)"
         R"(<unended_start_tag tagname="c" offset="9" offset2="17"/>)"
         R"(<unended_start_tag tagname="b" offset="6" offset2="17"/>)",
         {{0, 31, 0, 0, kIllFormed, 0, 1, 0, 0},
          {0, 31, 3, 4, kFirst | 0, 0, 2, 0, 1},
          {3, 17, 3, 4, kFirst | kHasError | 1, 1, 3, 5, 5},
          {6, 3, 3, 0, kFirst | kNotEnded | 2, 2, 0, 4, 4},
          {9, 3, 3, 0, kNotEnded | 3, 2, 0, 0, 3},
          {20, 7, 3, 4, 1, 1, 0, 0, 2}}},
        {"<r><a><b></x></a></b></r>",
         R"(<lone_end_tag tagname="x" offset="9"/>)"
         R"(<unended_start_tag tagname="b" offset="6" offset2="14"/>)"
         R"(<lone_end_tag tagname="b" offset="17"/>)",
         {{0, 25, 0, 0, kIllFormed, 0, 1, 0, 0},
          {0, 25, 3, 4, kFirst | kHasError | 0, 0, 2, 0, 1},
          {3, 14, 3, 4, kFirst | kHasError | 1, 1, 3, 0, 2},
          {6, 3, 3, 0, kFirst | kNotEnded | 2, 2, 0, 0, 3}}},
        {"<ab><a></x></ab>",
         R"(<lone_end_tag tagname="x" offset="7"/>)"
         R"(<unended_start_tag tagname="a" offset="4" offset2="12"/>)",
         {{0, 16, 0, 0, kIllFormed, 0, 1, 0, 0},
          {0, 16, 4, 5, kFirst | kHasError | 0, 0, 2, 0, 1},
          {4, 3, 3, 0, kFirst | kNotEnded | 1, 1, 0, 0, 2}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        XmlDocument doc;
        EXPECT_FALSE(doc.SetText(c.text));
        EXPECT_EQ(doc.GetResult(), c.result);
        ExpectRecords(doc, c.records);
    }
}

struct WellFormedCase {
    const char* name;
    std::string text;
    bool wellFormed;
    const char* result;
    uint32_t docFlags;  // record 0: neither no_root_element nor root_has_sibling marks it
};

// The case name, so that parameterised test names stay short in listings.
void PrintTo(const WellFormedCase& c, std::ostream* os) { *os << c.name; }

class XmlReaderWellFormed : public ::testing::TestWithParam<WellFormedCase> {};

TEST_P(XmlReaderWellFormed, VerdictAndResult) {
    XmlDocument doc;
    EXPECT_EQ(doc.SetText(GetParam().text), GetParam().wellFormed);
    EXPECT_EQ(doc.IsWellFormed(), GetParam().wellFormed);
    EXPECT_EQ(doc.GetResult(), GetParam().result);
    EXPECT_EQ(doc.Element(0).flags, GetParam().docFlags);
}

const WellFormedCase kWellFormedCases[] = {
    {"Empty", "", false, "", 0},
    {"TwoSpaces", "  ", false, "<no_root_element/>", 0},
    {"DeclarationAlone", "<?xml version=\"1.0\"?>", false, "<no_root_element/>", 0},
    {"TwoTopLevelElements", "<a/><b/>", false, "<root_has_sibling/>", 0},
    {"Prolog",
     "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- c -->\n"
     "<!DOCTYPE r [\n<!ELEMENT r (#PCDATA)>\n<!ENTITY e \"x>y\">\n<!-- a > b -->\n]>\n"
     "<r>t</r>\n<!-- after -->\n",
     true, "", 0},
    {"DoctypeDeclarationKindsAndQuotes",
     "<!DOCTYPE a [<!ATTLIST a x CDATA '>'><!NOTATION n SYSTEM \"it's>\">]><a/>", true, "", 0},
    {"DoctypeDashDeclaration", "<!DOCTYPE a [<!-x>]><a/>", true, "", 0},
    {"TrailingTextIsNoElement", "<r/>tail", true, "", 0},
    {"QuotedGreaterThan", "<a x='1>2'/>", true, "", 0},
    {"SlashAfterSpaceAfterEquals", "<a x= />", true, "", 0},
    {"QuoteAfterDoubleEquals", "<a x==\"/>\"></a>", true, "", 0},
    {"QuoteOutsideValueIsPlain", "<a \"x>\"</a>", true, "", 0},
    {"SlashBeforeSpaceIsNotEmpty", "<a/ >", false,
     R"(<unended_start_tag tagname="a" offset="0" offset2="5"/>)", kIllFormed},
    {"UnquotedSlash", "<a x=1/>", false, R"(<unended_start_tag tagname="a" offset="0" offset2="8"/>)",
     kIllFormed},
    {"CommentDoesNotCloseOnItsOpening", "<a/><!-->-->", true, "", 0},
    {"EndTagNamesCompareWhole", "<ab></a></ab>", false, R"(<lone_end_tag tagname="a" offset="4"/>)",
     kIllFormed},
    {"ZeroByteEndsTheText", std::string("<a/>\0<b/>", 9), true, "", 0},
    {"SlashRightAfterEqualsIsAValue", "<a x=/>", false,
     R"(<unended_start_tag tagname="a" offset="0" offset2="7"/>)", kIllFormed},
    {"SpacesAndEqualsBeforeAQuotedValue", "<a x = =\t'/>'/>", true, "", 0},
    {"LongQuotedValueHidesGreaterThan",
     "<a x=\"" + std::string(40, 'v') + ">" + std::string(40, 'w') + "\"/>", true, "", 0},
    {"LongQuotedValueUnclosed", "<a x='" + std::string(40, 'v') + "/>", false,
     R"(<unterminated_tag_syntax type="start_tag" offset="0"/><no_root_element/>)", kIllFormed | kHasError},
};

INSTANTIATE_TEST_SUITE_P(XmlReaderIndex, XmlReaderWellFormed, ::testing::ValuesIn(kWellFormedCases),
                         [](const ::testing::TestParamInfo<WellFormedCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(XmlReaderIndex, TextAfterAZeroByteIsNotPartOfTheDocument) {
    XmlDocument doc;
    doc.SetText(std::string("<a/>\0<b/>", 9));
    EXPECT_EQ(doc.ElementCount(), 2);
    EXPECT_EQ(doc.Element(0).length, 4);
}

TEST(XmlReaderIndex, IndexSpansManyBlocks) {
    constexpr int32_t kChildren = 200000;
    XmlDocument doc;
    ASSERT_TRUE(doc.SetText("<r>" + Repeat("<e/>", kChildren) + "</r>"));
    ASSERT_EQ(doc.ElementCount(), kChildren + 2);
    EXPECT_EQ(doc.Element(2).previous, kChildren + 1);
    for (int32_t i : {2, 65535, 65536, 65537, 131071, 131072, kChildren + 1}) {
        SCOPED_TRACE(i);
        const ElementRecord& r = doc.Element(i);
        EXPECT_EQ(r.start, 3 + (i - 2) * 4);
        EXPECT_EQ(r.parent, 1);
        EXPECT_EQ(r.next, i == kChildren + 1 ? 0 : i + 1);
        if (i != 2) {
            EXPECT_EQ(r.previous, i - 1);
        }
    }
    ASSERT_TRUE(doc.FindElement("r"));
    ASSERT_TRUE(doc.IntoElement());
    int32_t found = 0;
    while (doc.FindElement("e")) {
        ++found;
    }
    EXPECT_EQ(found, kChildren);
    EXPECT_EQ(doc.CurrentPos(), kChildren + 1);

    // A new text starts from scratch in the memory already there.
    EXPECT_TRUE(doc.SetText("<x/>"));
    EXPECT_EQ(doc.ElementCount(), 2);
    EXPECT_EQ(doc.Element(1).next, 0);
    EXPECT_EQ(doc.Element(0).firstChild, 1);
}

TEST(XmlReaderIndex, EndTagLongerThanItsFieldIsAnError) {
    XmlDocument doc;
    const std::string longest = "</a" + std::string(1019, ' ') + ">";  // 1023 bytes
    EXPECT_TRUE(doc.SetText("<a>" + longest));
    EXPECT_EQ(doc.Element(1).EndTagLength(), 1023);
    EXPECT_EQ(doc.Element(1).StartTagLength(), 3);
    EXPECT_EQ(doc.Element(1).length, 1026);

    EXPECT_FALSE(doc.SetText("<a>" + longest.substr(0, 3) + " " + longest.substr(3)));
    EXPECT_EQ(doc.GetResult(),
              R"(<tag_too_long type="end_tag" offset="3"/>)"
              R"(<unended_start_tag tagname="a" offset="0" offset2="1027"/>)");
    EXPECT_EQ(doc.Element(1).flags, kFirst | kNotEnded);
    EXPECT_EQ(doc.Element(0).flags, kIllFormed | kHasError);
}

TEST(XmlReaderIndex, StartTagLongerThanItsFieldIsAnError) {
    XmlDocument doc;
    const std::string longest = "<a" + std::string(4194300, ' ') + ">";  // 4,194,303 bytes
    EXPECT_TRUE(doc.SetText(longest + "</a>"));
    EXPECT_EQ(doc.Element(1).StartTagLength(), 4194303);
    EXPECT_EQ(doc.Element(1).EndTagLength(), 4);

    EXPECT_FALSE(doc.SetText("<a " + longest.substr(2) + "</a>"));
    EXPECT_EQ(doc.ElementCount(), 1);
    EXPECT_EQ(doc.GetResult(),
              R"(<tag_too_long type="start_tag" offset="0"/>)"
              R"(<lone_end_tag tagname="a" offset="4194304"/>)"
              R"(<no_root_element/>)");
}

TEST(XmlReaderIndex, DeepNestingSaturatesTheLevelInsteadOfSettingFlags) {
    constexpr int32_t kDepth = 0x100001;  // the deepest level would be the NOT_ENDED bit
    XmlDocument doc;
    ASSERT_TRUE(doc.SetText(Repeat("<a>", kDepth) + Repeat("</a>", kDepth)));
    EXPECT_EQ(doc.Element(0x10001).Level(), 0xFFFF);  // level 0x10000
    EXPECT_EQ(doc.Element(kDepth).flags, kFirst | 0xFFFF);
    EXPECT_EQ(doc.Element(kDepth).parent, kDepth - 1);
}

// ---------------------------------------------------------------- navigation

class XmlReaderNavigation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(doc_.SetText(
            "<checkitems base=\"https://x\">"
            "<config type=\"registry\">"
            "<entry name=\"a\">1</entry><entry1 name=\"n\"/><entry name=\"b\">2</entry>"
            "</config>"
            "<config type=\"dns\"><entry name=\"c\">3</entry></config>"
            "<item/>"
            "</checkitems>"));
    }
    void ExpectCursor(int32_t parent, int32_t current, int32_t child, int32_t kind) {
        EXPECT_EQ(doc_.ParentPos(), parent);
        EXPECT_EQ(doc_.CurrentPos(), current);
        EXPECT_EQ(doc_.ChildPos(), child);
        EXPECT_EQ(doc_.CursorNodeKind(), kind);
    }
    // Records: 1 checkitems, 2 config, 3 entry a, 4 entry1, 5 entry b,
    // 6 config, 7 entry c, 8 item.
    XmlDocument doc_;
};

TEST_F(XmlReaderNavigation, WalksTheWayTheDocumentModelDoes) {
    ExpectCursor(0, 0, 0, 0);
    EXPECT_FALSE(doc_.IntoElement());
    ASSERT_TRUE(doc_.FindElement("checkitems"));
    EXPECT_EQ(doc_.GetAttribute("base"), "https://x");
    ASSERT_TRUE(doc_.IntoElement());
    ExpectCursor(1, 0, 0, 0);
    EXPECT_FALSE(doc_.IntoElement());

    ASSERT_TRUE(doc_.FindElement("config"));
    ASSERT_TRUE(doc_.IntoElement());
    ASSERT_TRUE(doc_.FindElement("entry"));
    EXPECT_EQ(doc_.GetAttribute("name"), "a");
    ASSERT_TRUE(doc_.FindElement("entry"));  // entry1 is not an entry
    EXPECT_EQ(doc_.GetAttribute("name"), "b");
    ExpectCursor(2, 5, 0, 1);
    EXPECT_FALSE(doc_.FindElement("entry"));
    ExpectCursor(2, 5, 0, 1);  // a failed search leaves the cursor alone

    doc_.ResetPosition();
    ExpectCursor(2, 0, 0, 0);
    ASSERT_TRUE(doc_.FindElement("entry"));
    EXPECT_EQ(doc_.GetAttribute("name"), "a");

    ASSERT_TRUE(doc_.OutOfElement());
    ExpectCursor(1, 2, 3, 1);
    ASSERT_TRUE(doc_.FindElement("config"));
    EXPECT_EQ(doc_.GetAttribute("type"), "dns");
    ASSERT_TRUE(doc_.IntoElement());
    ASSERT_TRUE(doc_.FindElement("entry"));
    EXPECT_EQ(doc_.GetData(), "3");
    ASSERT_TRUE(doc_.OutOfElement());
    ASSERT_TRUE(doc_.IntoElement());  // back to the child it came out of
    ExpectCursor(6, 7, 0, 1);
    ASSERT_TRUE(doc_.OutOfElement());
    ASSERT_TRUE(doc_.OutOfElement());
    ExpectCursor(0, 1, 6, 1);
    EXPECT_FALSE(doc_.OutOfElement());
    EXPECT_EQ(doc_.CurrentTagName(), "checkitems");
}

TEST_F(XmlReaderNavigation, SearchNameForms) {
    struct Case {
        const char* name;
        int32_t found;  // 0: no match
    } cases[] = {
        {"entry", 3},
        {"", 3},
        {"entry[2]", 3},  // a bracket suffix is accepted and ignored
        {"entry[@name='a]']", 3},
        {"entry name", 3},
        {"entry1", 4},
        {"entr", 0},
        {"entry12", 0},
        {"/entry", 0},
        {"//entry", 0},
        {"entry[", 0},
        {"entry]", 0},
        {"entry[1][", 0},
        {"Entry", 0},
    };
    ASSERT_TRUE(doc_.FindElement("checkitems"));
    ASSERT_TRUE(doc_.IntoElement());
    ASSERT_TRUE(doc_.FindElement("config"));
    ASSERT_TRUE(doc_.IntoElement());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        doc_.ResetPosition();
        EXPECT_EQ(doc_.FindElement(c.name), c.found != 0);
        EXPECT_EQ(doc_.CurrentPos(), c.found);
    }
}

// ---------------------------------------------------------------- attributes

struct AttributeCase {
    const char* text;  // the current element is the first top-level element
    const char* name;
    const char* value;
};

TEST(XmlReaderAttributes, Values) {
    const AttributeCase cases[] = {
        {"<a x='1>2'/>", "x", "1>2"},
        {"<a x=\"\"/>", "x", ""},
        {"<a y=\"1\"/>", "x", ""},
        {"<a x=\"1\"/>", "", ""},
        {"<x x=\"1\"/>", "x", "1"},
        {"<b a=\"1\"/>", "b", ""},  // the tag name is not an attribute
        {"<a x = \"v\"/>", "x", "v"},
        {"<a x=v/></a>", "x", "v/"},
        {"<a x=\"1\" x=\"2\"/>", "x", "1"},
        {"<a xy=\"1\" x=\"2\"/>", "x", "2"},
        {"<a y=\"x\" x=\"2\"/>", "x", "2"},
        {"<a b/>", "b", "b"},
        {"<a b c=\"1\"/>", "b", "b"},
        {"<a b=/>", "b", ""},
        {"<a x=\"&lt;&amp;&#65;&eacute;\"/>", "x", "<&A\xC3\x89"},
        {"<a x=\"1\"/>", "x[1]", "1"},
        {"<a x=\"1\"/>", "x1", ""},
        {"<a x='say \"hi\"'/>", "x", "say \"hi\""},
        {"<a x=1&amp;2 />", "x", "1&2"},
        {"<a x&amp;y/>", "x&amp;y", "x&y"},  // its own name as value, decoded too
        {"<a k 'v>", "k", "k"},              // a stray quote runs to the end of the tag
        {"<a 'x=\"1\">", "x", ""},
    };
    for (const AttributeCase& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.name);
        XmlDocument doc;
        doc.SetText(c.text);
        ASSERT_TRUE(doc.FindElement());
        EXPECT_EQ(doc.GetAttribute(c.name), c.value);
    }
}

TEST(XmlReaderAttributes, NothingWithoutACurrentElement) {
    XmlDocument doc;
    doc.SetText("<a x=\"1\"/>");
    EXPECT_EQ(doc.GetAttribute("x"), "");
}

TEST(XmlReaderAttributes, StrayQuoteDoesNotReachIntoTheNextElement) {
    XmlDocument doc;
    ASSERT_TRUE(doc.SetText("<a '>it's<b x=\"2\"/></a>"));
    ASSERT_TRUE(doc.FindElement("a"));
    EXPECT_EQ(doc.GetAttribute("x"), "");
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.FindElement("b"));
    EXPECT_EQ(doc.GetAttribute("x"), "2");
}

TEST(XmlReaderAttributes, ValuesFollowTheCursor) {
    XmlDocument doc;
    ASSERT_TRUE(doc.SetText("<r x=\"r\"><e x=\"1\"/><e y=\"b\" x=\"2\"/><e/><f x=\"f\"/></r>"));
    ASSERT_TRUE(doc.FindElement("r"));
    EXPECT_EQ(doc.GetAttribute("x"), "r");
    ASSERT_TRUE(doc.IntoElement());
    EXPECT_EQ(doc.GetAttribute("x"), "");  // no current element yet
    ASSERT_TRUE(doc.FindElement("e"));
    EXPECT_EQ(doc.GetAttribute("x"), "1");
    EXPECT_EQ(doc.GetAttribute("y"), "");
    ASSERT_TRUE(doc.FindElement("e"));
    EXPECT_EQ(doc.GetAttribute("y"), "b");
    EXPECT_EQ(doc.GetAttribute("x"), "2");
    ASSERT_TRUE(doc.FindElement("e"));
    EXPECT_EQ(doc.GetAttribute("x"), "");
    EXPECT_EQ(doc.GetAttribute("y"), "");
    ASSERT_TRUE(doc.FindElement());
    EXPECT_EQ(doc.GetAttribute("x"), "f");
    ASSERT_TRUE(doc.OutOfElement());
    EXPECT_EQ(doc.GetAttribute("x"), "r");
    ASSERT_TRUE(doc.IntoElement());  // back to f
    EXPECT_EQ(doc.GetAttribute("x"), "f");
    doc.ResetPosition();
    EXPECT_EQ(doc.GetAttribute("x"), "");
    ASSERT_TRUE(doc.FindElement("e"));
    EXPECT_EQ(doc.GetAttribute("x"), "1");
}

TEST(XmlReaderAttributes, NewTextIsReadAfresh) {
    // The same element, by index, in a new text with the attributes moved.
    XmlDocument doc;
    ASSERT_TRUE(doc.SetText("<a x=\"1\" y=\"2\"/>"));
    ASSERT_TRUE(doc.FindElement());
    EXPECT_EQ(doc.GetAttribute("x"), "1");
    ASSERT_TRUE(doc.SetText("<a y=\"3\" x=\"4\"/>"));
    EXPECT_EQ(doc.GetAttribute("x"), "");
    ASSERT_TRUE(doc.FindElement());
    EXPECT_EQ(doc.GetAttribute("x"), "4");
    EXPECT_EQ(doc.GetAttribute("y"), "3");
    EXPECT_FALSE(doc.SetText(""));
    EXPECT_FALSE(doc.FindElement());
    EXPECT_EQ(doc.GetAttribute("x"), "");
}

TEST(XmlReaderAttributes, ReferenceAnywhereInAValueIsDecoded) {
    // Values are searched for "&" several bytes at a time: a reference must
    // be found at every offset, next to either quote, and a value without one
    // next to it must stay as it is.
    for (size_t before = 0; before <= 17; ++before) {
        for (size_t after = 0; after <= 9; ++after) {
            for (const char* quote : {"\"", "'"}) {
                const std::string value = std::string(before, 'v') + "&lt;" + std::string(after, 'w');
                const std::string decoded = std::string(before, 'v') + "<" + std::string(after, 'w');
                const std::string plain(before + after, 'p');
                const std::string x = std::string("x=") + quote + value + quote;
                const std::string y = std::string("y=") + quote + plain + quote;
                // x first, then last, where the tag ends within a few bytes.
                const std::string texts[] = {"<a " + x + " " + y + "&amp;/>", "<a " + y + " " + x + "/>"};
                for (const std::string& text : texts) {
                    SCOPED_TRACE(text);
                    XmlDocument doc;
                    ASSERT_TRUE(doc.SetText(text));
                    ASSERT_TRUE(doc.FindElement());
                    EXPECT_EQ(doc.GetAttribute("x"), decoded);
                    EXPECT_EQ(doc.GetAttribute("y"), plain);
                }
            }
        }
    }
}

TEST(XmlReaderAttributes, ElementWithManyAttributes) {
    // Twenty attributes: past the sixteenth, names are read on from where
    // the first sixteen ended, so the cases straddle that point.
    std::string many = "<e";
    for (int i = 0; i < 15; ++i) {
        many += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    }
    const struct {
        std::string text;
        std::vector<std::pair<std::string, std::string>> values;  // asked in this order
    } cases[] = {
        {many + " self a3=\"dup\" late='l&amp;t' a15=\"15\" last/>",
         {{"late", "l&t"}, {"a0", "0"}, {"a3", "3"}, {"a14", "14"}, {"self", "self"}, {"a15", "15"},
          {"last", "last"}, {"late[1]", "l&t"}, {"a1", "1"}, {"a16", ""}, {"e", ""}, {"", ""}}},
        {many + " s1='x'/>", {{"a16", ""}, {"s1", "x"}, {"a7", "7"}}},
        {many + " s1='x' s2=/><f s3='y'/>", {{"s3", ""}, {"s2", ""}, {"s1", "x"}}},
        {many + " s1='x' s2 'stray' s3=\"z\"/>", {{"s3", "z"}, {"s2", "s2"}, {"stray", ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        XmlDocument doc;
        doc.SetText(c.text);
        ASSERT_TRUE(doc.FindElement("e"));
        for (const auto& [name, value] : c.values) {
            SCOPED_TRACE(name);
            EXPECT_EQ(doc.GetAttribute(name), value);
        }
    }
}

// ---------------------------------------------------------------- data

TEST(XmlReaderData, ContentOfTheFirstElement) {
    const struct {
        const char* text;
        const char* data;
    } cases[] = {
        {"<a> v </a>", " v "},
        {"<a>a<!--c-->b</a>", "ab"},
        {"<a><![CDATA[<x>&amp;]]></a>", "<x>&amp;"},
        {"<a>&lt;<![CDATA[&lt;]]> &gt; </a>", "<&lt; > "},
        {"<a>x <?pi?> y</a>", "x  y"},
        {"<a> <!--c--> </a>", ""},
        {"<a>x &amp; y</a>", "x & y"},
        {"<a>1</b>2</a>", "12"},
        {"<a><![C]]></a>", ""},
        {"<a></a>", ""},
        {"<a/>", ""},
        {"<a><b/>text</a>", ""},
        {"<a>text<b/></a>", ""},
        {"<a>a<!--c-->&lt;b&gt;</a>", "a<b>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        XmlDocument doc;
        doc.SetText(c.text);
        ASSERT_TRUE(doc.FindElement("a"));
        EXPECT_EQ(doc.GetData(), c.data);
    }
}

TEST(XmlReaderData, ReferenceAnywhereInTheTextIsDecoded) {
    // Short texts are searched for "&" several bytes at a time, long ones by
    // the library; offsets cover both and the switch between them.
    const size_t befores[] = {0, 1, 6, 7, 8, 9, 15, 16, 17, 56, 59, 60, 61, 64, 65, 100};
    const size_t afters[] = {0, 1, 7, 8};
    for (size_t before : befores) {
        for (size_t after : afters) {
            const std::string text = std::string(before, 'v') + "&amp;" + std::string(after, 'w');
            SCOPED_TRACE(text);
            XmlDocument doc;
            ASSERT_TRUE(doc.SetText("<a>" + text + "</a>"));
            ASSERT_TRUE(doc.FindElement("a"));
            EXPECT_EQ(doc.GetData(), std::string(before, 'v') + "&" + std::string(after, 'w'));
            ASSERT_TRUE(doc.SetText("<a>" + std::string(before + after + 1, 'p') + "</a>"));
            ASSERT_TRUE(doc.FindElement("a"));
            EXPECT_EQ(doc.GetData(), std::string(before + after + 1, 'p'));
        }
    }
}

TEST(XmlReaderData, UnendedElementAndNoElementGiveNothing) {
    XmlDocument doc;
    doc.SetText("<r><a>text</r>");
    EXPECT_EQ(doc.GetData(), "");
    ASSERT_TRUE(doc.FindElement("r"));
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.FindElement("a"));
    EXPECT_EQ(doc.GetData(), "");
}

// ---------------------------------------------------------------- entities

TEST(XmlReaderEntities, DecodeText) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"&AMP;", "&"},
        {"&#65;", "A"},
        {"&#x41;", "A"},
        {"&#X41;", "A"},
        {"&#65x;", "A"},
        {"a&lt;b&gt;c&quot;&apos;", "a<b>c\"'"},
        {"&#0;", "&#0;"},
        {"&#x;", "&#x;"},
        {"&nosuch;", "&nosuch;"},
        {"&amp", "&amp"},
        {"&&amp;", "&&"},
        {"&#x0000041;", "A"},              // nine bytes before ";"
        {"&#x00000041;", "&#x00000041;"},  // ten
        {"&\xC3\xA9;", "&\xC3\xA9;"},
        {"&eacute;", "\xC3\x89"},  // the capital variant wins
        {"&Eacute;", "\xC3\x89"},
        {"&rarr;", "\xE2\x87\x92"},
        {"&thetasym;", "\xCF\x91"},
        {"&nbsp;&copy;", "\xC2\xA0\xC2\xA9"},
        {"&euro;&hellip;", "\xE2\x82\xAC\xE2\x80\xA6"},
        {"&#x7F;&#x80;&#x7FF;&#x800;", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80"},
        {"&#xFFFF;&#x10000;&#x10FFFF;", "\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {"&#128512;", "\xF0\x9F\x98\x80"},
        {"\t\r\n x", "\t\r\n x"},
        {"&QUOT;&Apos;&gT;&Lt;&aMp;", "\"'><&"},
        {"&am;&ampx;&quo;&l;&apos", "&am;&ampx;&quo;&l;&apos"},
        {"&", "&"},
        {"x&", "x&"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(XmlDocument::DecodeText(c.in), c.out);
    }
}

TEST(XmlReaderEntities, LongTextIsDecodedWhole) {
    const size_t lengths[] = {250, 251, 252, 253, 256, 257, 300, 5000};
    for (size_t length : lengths) {
        SCOPED_TRACE(length);
        // "&amp;" at the start and the end, "&#128512;" (nine bytes, four out)
        // in the middle.
        const size_t fill = length - 5 - 9 - 5;
        const std::string in = "&amp;" + std::string(fill / 2, 'x') + "&#128512;" +
                               std::string(fill - fill / 2, 'y') + "&amp;";
        ASSERT_EQ(in.size(), length);
        EXPECT_EQ(XmlDocument::DecodeText(in), "&" + std::string(fill / 2, 'x') + "\xF0\x9F\x98\x80" +
                                                   std::string(fill - fill / 2, 'y') + "&");
    }
    // One reference at the end: the output is nearly as long as the input.
    const size_t nearlyWhole[] = {255, 256, 257, 258, 259, 260, 261, 263, 264, 265};
    for (size_t length : nearlyWhole) {
        SCOPED_TRACE(length);
        const std::string text(length - 4, 'z');
        EXPECT_EQ(XmlDocument::DecodeText(text + "&gt;"), text + ">");
    }
}

TEST(XmlReaderEntities, EncodeTextRoundTrips) {
    EXPECT_EQ(XmlDocument::EncodeText("<a href=\"x\">'&'</a>"),
              "&lt;a href=&quot;x&quot;&gt;&apos;&amp;&apos;&lt;/a&gt;");
    for (const char* s : {"", "plain \xE4\xB8\xAD", "&amp;&#65;", "&&;;<<>>\"'"}) {
        EXPECT_EQ(XmlDocument::DecodeText(XmlDocument::EncodeText(s)), s);
    }
}

// ---------------------------------------------------------------- results

TEST(XmlReaderResults, RecordFormat) {
    std::string result;
    XmlDocument::AddResult(result, "no_root_element");
    XmlDocument::AddResult(result, "lone_end_tag", "tagname", "a<\"&", 40);
    XmlDocument::AddResult(result, "unended_start_tag", "tagname", "", 0, 7);
    XmlDocument::AddResult(result, "x", {}, {}, -1, 3);
    EXPECT_EQ(result,
              "<no_root_element/>"
              R"(<lone_end_tag tagname="a&lt;&quot;&amp;" offset="40"/>)"
              R"(<unended_start_tag tagname="" offset="0" offset2="7"/>)"
              R"(<x offset2="3"/>)");
}

TEST(XmlReaderResults, RecordIsDroppedOnlyOnceTheTextPasses999Bytes) {
    std::string result(999, 'x');
    XmlDocument::AddResult(result, "a");
    EXPECT_EQ(result.size(), 1003u);
    XmlDocument::AddResult(result, "b");
    EXPECT_EQ(result.size(), 1003u);
}

TEST(XmlReaderResults, LoneEndTagMarksTheInnermostOpenElement) {
    XmlDocument doc;
    EXPECT_FALSE(doc.SetText("<checkitems><config type=\"registry\">abcd</b></config></checkitems>"));
    EXPECT_EQ(doc.GetResult(), R"(<lone_end_tag tagname="b" offset="40"/>)");
    EXPECT_EQ(doc.Element(0).flags, kIllFormed);
    EXPECT_EQ(doc.Element(1).flags, kFirst | 0);
    EXPECT_EQ(doc.Element(2).flags, kFirst | kHasError | 1);
    EXPECT_EQ(doc.Element(2).length, 41);
}

TEST(XmlReaderResults, SyntaxErrors) {
    const struct {
        const char* text;
        const char* result;
    } cases[] = {
        {"<a><1/></a>", R"(<first_tag_syntax offset="3"/>)"},
        {"<a>< b></a>", R"(<first_tag_syntax offset="3"/>)"},
        {"<a><!x></a>", R"(<exclamation_tag_syntax offset="3"/>)"},
        {"<a><!-x--></a>", R"(<comment_tag_syntax offset="3"/>)"},
        {"<a><![x]]></a>", R"(<cdata_section_syntax offset="3"/>)"},
        {"<!DOCTYPE a [<!x>]><a/>", R"(<doctype_tag_syntax offset="0"/>)"},
        {"<a/><!-- x", R"(<unterminated_tag_syntax type="comment" offset="4"/>)"},
        {"<a/><![CDATA[x]>", R"(<unterminated_tag_syntax type="cdata_section" offset="4"/>)"},
        {"<a/><?pi x>", R"(<unterminated_tag_syntax type="processing_instruction" offset="4"/>)"},
        {"<a/><!x", R"(<unterminated_tag_syntax type="tag" offset="4"/>)"},
        {"<a/><", R"(<unterminated_tag_syntax type="tag" offset="4"/>)"},
        {"<a/><b x='>", R"(<unterminated_tag_syntax type="start_tag" offset="4"/>)"},
        {"<!DOCTYPE a [<!ENTITY e \">\">", R"(<unterminated_tag_syntax type="document_type" offset="0"/>)"
                                         R"(<no_root_element/>)"},
        {"<a></a", R"(<unterminated_tag_syntax type="end_tag" offset="3"/>)"
                   R"(<unended_start_tag tagname="a" offset="0" offset2="6"/>)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        XmlDocument doc;
        EXPECT_FALSE(doc.SetText(c.text));
        EXPECT_EQ(doc.GetResult(), c.result);
        EXPECT_NE(doc.Element(0).flags & kIllFormed, 0u);
    }
}

TEST(XmlReaderResults, ErrorNodeMarksTheInnermostElementAndScanningGoesOn) {
    XmlDocument doc;
    EXPECT_FALSE(doc.SetText("<r><a><!x><b/></a></r>"));
    EXPECT_EQ(doc.Element(2).flags, kFirst | kHasError | 1);
    EXPECT_EQ(doc.Element(3).parent, 2);
    EXPECT_EQ(doc.Element(1).length, 22);
}

TEST(XmlReaderResults, ErrorNodeStopsBeforeTheNextTag) {
    XmlDocument doc;
    EXPECT_FALSE(doc.SetText("<r><!x<b/></r>"));
    EXPECT_EQ(doc.GetResult(), R"(<exclamation_tag_syntax offset="3"/>)");
    ExpectRecords(doc, {
        {0, 14, 0, 0, kIllFormed, 0, 1, 0, 0},
        {0, 14, 3, 4, kFirst | kHasError | 0, 0, 2, 0, 1},
        {6, 4, 4, 0, kFirst | 1, 1, 0, 0, 2},
    });
}

TEST(XmlReaderResults, SyntaxErrorsAreKeptWhenOtherRecordsAreDropped) {
    XmlDocument doc;
    EXPECT_FALSE(doc.SetText("<r>" + Repeat("</x>", 60) + "<1></r>"));
    const std::string& result = doc.GetResult();
    const std::string last = R"(<first_tag_syntax offset="243"/>)";
    ASSERT_GT(result.size(), last.size());
    EXPECT_EQ(result.substr(result.size() - last.size()), last);
    // Lone end tags stop once the text passes 999 bytes: records at offsets
    // 3, 7, ... of 38 bytes (one digit), 39 (two) and 40 (three).
    const std::string lone = result.substr(0, result.size() - last.size());
    EXPECT_EQ(lone.size(), 38u * 2 + 39u * 23 + 40u * 1);
    EXPECT_EQ(lone.substr(lone.size() - 40), R"(<lone_end_tag tagname="x" offset="103"/>)");
}

TEST(XmlReaderResults, NewTextClearsTheResult) {
    XmlDocument doc;
    EXPECT_FALSE(doc.SetText("</a>"));
    EXPECT_FALSE(doc.GetResult().empty());
    EXPECT_TRUE(doc.SetText("<a/>"));
    EXPECT_EQ(doc.GetResult(), "");
    EXPECT_EQ(doc.Element(0).flags, 0u);
}

}  // namespace
}  // namespace wayfarer
