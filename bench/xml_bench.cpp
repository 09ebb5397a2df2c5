// Index-plus-walk throughput of XmlDocument against pugixml, tinyxml2 and
// expat, on the shipped configuration document and on a large generated one.
//
// Each iteration starts from the raw text, builds whatever the reader builds,
// then reads every element's attribute values and text, decoded. Before any
// timing, one hashed walk per reader proves they all read the same values; a
// mismatch stops the program, because ratios over different work mean nothing.
//
// Differences that cannot be removed:
// - XmlDocument has no attribute enumeration: it is asked by name, as the
//   application does, using the names each element type may carry. An absent
//   optional name (mask, md5, ...) still costs a scan of the start tag, and
//   every value comes back as a std::string. The peers hand out pointers.
// - XmlDocument, pugixml and tinyxml2 keep a copy of the text; expat streams
//   and builds nothing, and its character handler also sees the whitespace
//   between elements.
// - pugixml decodes while parsing, tinyxml2 on first access, XmlDocument on
//   every access; the walk touches each value once, so all of it is counted.
//
// Usage: xml_bench [benchmark flags] [document.xml]

#include <benchmark/benchmark.h>
#include <expat.h>
#include <pugixml.hpp>
#include <tinyxml2.h>

#include <array>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "bench/collecting_reporter.h"
#include "config/xml_document.h"

#ifndef WAYFARER_SOURCE_DIR
#define WAYFARER_SOURCE_DIR "."
#endif

namespace {

using wayfarer::bench::CollectingReporter;

// What a walk read. Empty values are not counted: XmlDocument cannot tell an
// empty attribute from a missing one, nor an empty element from a container.
struct Tally {
    uint64_t elements = 0;
    uint64_t attributes = 0;
    uint64_t texts = 0;
    uint64_t bytes = 0;
    uint64_t hash = 0;

    bool operator==(const Tally& o) const {
        return elements == o.elements && attributes == o.attributes && texts == o.texts &&
               bytes == o.bytes && hash == o.hash;
    }
};

// The timed walks: counts and lengths only, so the sink adds next to nothing.
struct CountingSink {
    Tally tally;
    void Element() { ++tally.elements; }
    void Attribute(const char*, size_t n) {
        if (n != 0) {
            ++tally.attributes;
            tally.bytes += n;
        }
    }
    void Text(const char*, size_t n) {
        if (n != 0) {
            ++tally.texts;
            tally.bytes += n;
        }
    }
};

// The check walk: hashes every value. XmlDocument reads attributes in its own
// order, so the values' hashes are summed, which ignores order.
struct HashSink {
    Tally tally;
    static uint64_t Fnv(const char* p, size_t n, uint64_t salt) {
        uint64_t h = 14695981039346656037ull ^ salt;
        for (size_t i = 0; i < n; ++i) {
            h = (h ^ static_cast<unsigned char>(p[i])) * 1099511628211ull;
        }
        return h;
    }
    void Element() { ++tally.elements; }
    void Attribute(const char* p, size_t n) {
        if (n != 0) {
            ++tally.attributes;
            tally.bytes += n;
            tally.hash += Fnv(p, n, 1);
        }
    }
    void Text(const char* p, size_t n) {
        if (n != 0) {
            ++tally.texts;
            tally.bytes += n;
            tally.hash += Fnv(p, n, 2);
        }
    }
};

// ---- XmlDocument ----------------------------------------------------------

// The attributes each element type of the configuration document may carry.
struct KnownElement {
    std::string_view tag;
    std::array<std::string_view, 5> attributes;  // unused slots stay empty
};

// Most frequent first.
constexpr KnownElement kKnownElements[] = {
    {"entry", {"name", "type", "value", "mask", "ip"}},
    {"detect", {"type"}},
    {"file", {"local", "version", "remote", "md5"}},
    {"installer", {"command", "md5"}},
    {"item", {"name", "type", "tips", "class"}},
    {"config", {"type"}},
    {"appinfo", {"version", "remote", "md5"}},
};

const std::array<std::string_view, 5>* AttributesOf(std::string_view tag) {
    for (const KnownElement& known : kKnownElements) {
        if (known.tag == tag) {
            return &known.attributes;
        }
    }
    return nullptr;
}

template <class Sink>
bool ReadWayfarer(std::string_view text, Sink& sink) {
    wayfarer::XmlDocument doc;
    const bool wellFormed = doc.SetText(text);
    for (;;) {
        if (doc.FindElement()) {
            sink.Element();
            if (const auto* names = AttributesOf(doc.CurrentTagName())) {
                for (std::string_view name : *names) {
                    if (name.empty()) {
                        break;
                    }
                    const std::string value = doc.GetAttribute(name);
                    sink.Attribute(value.data(), value.size());
                }
            }
            const std::string data = doc.GetData();
            sink.Text(data.data(), data.size());
            doc.IntoElement();
        } else if (!doc.OutOfElement()) {
            break;
        }
    }
    return wellFormed;
}

// ---- pugixml --------------------------------------------------------------

template <class Sink>
void WalkPugixml(pugi::xml_node parent, Sink& sink) {
    for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element) {
            continue;
        }
        sink.Element();
        for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
            const char* value = a.value();
            sink.Attribute(value, std::strlen(value));
        }
        const char* text = node.child_value();
        sink.Text(text, std::strlen(text));
        WalkPugixml(node, sink);
    }
}

template <class Sink>
bool ReadPugixml(std::string_view text, Sink& sink) {
    pugi::xml_document doc;
    const pugi::xml_parse_result result = doc.load_buffer(text.data(), text.size(), pugi::parse_default);
    WalkPugixml(doc, sink);
    return static_cast<bool>(result);
}

// ---- tinyxml2 -------------------------------------------------------------

template <class Sink>
void WalkTinyxml2(const tinyxml2::XMLElement* first, Sink& sink) {
    for (const tinyxml2::XMLElement* e = first; e != nullptr; e = e->NextSiblingElement()) {
        sink.Element();
        for (const tinyxml2::XMLAttribute* a = e->FirstAttribute(); a != nullptr; a = a->Next()) {
            const char* value = a->Value();
            sink.Attribute(value, std::strlen(value));
        }
        if (const char* text = e->GetText()) {
            sink.Text(text, std::strlen(text));
        }
        WalkTinyxml2(e->FirstChildElement(), sink);
    }
}

template <class Sink>
bool ReadTinyxml2(std::string_view text, Sink& sink) {
    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    const bool ok = doc.Parse(text.data(), text.size()) == tinyxml2::XML_SUCCESS;
    WalkTinyxml2(doc.FirstChildElement(), sink);
    return ok;
}

// ---- expat ----------------------------------------------------------------

// An element is a leaf until a child ends inside it; only a leaf's character
// data is its text, matching what the tree readers return.
template <class Sink>
struct ExpatWalk {
    Sink* sink;
    std::string text;
    bool leaf = false;

    static void XMLCALL Start(void* user, const XML_Char*, const XML_Char** attributes) {
        auto* w = static_cast<ExpatWalk*>(user);
        w->sink->Element();
        for (; *attributes != nullptr; attributes += 2) {
            w->sink->Attribute(attributes[1], std::strlen(attributes[1]));
        }
        w->text.clear();
        w->leaf = true;
    }
    static void XMLCALL End(void* user, const XML_Char*) {
        auto* w = static_cast<ExpatWalk*>(user);
        if (w->leaf) {
            w->sink->Text(w->text.data(), w->text.size());
        }
        w->leaf = false;
    }
    static void XMLCALL Characters(void* user, const XML_Char* s, int length) {
        auto* w = static_cast<ExpatWalk*>(user);
        if (w->leaf) {
            w->text.append(s, static_cast<size_t>(length));
        }
    }
};

template <class Sink>
bool ReadExpat(std::string_view text, Sink& sink) {
    ExpatWalk<Sink> walk{&sink, {}, false};
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &walk);
    XML_SetElementHandler(parser, &ExpatWalk<Sink>::Start, &ExpatWalk<Sink>::End);
    XML_SetCharacterDataHandler(parser, &ExpatWalk<Sink>::Characters);
    const bool ok = XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok;
}

// ---- inputs and registration ----------------------------------------------

struct Reader {
    const char* name;
    bool (*count)(std::string_view, CountingSink&);
    bool (*hash)(std::string_view, HashSink&);
};

// Ours first: the ratios are taken against it.
const Reader kReaders[] = {
    {"wayfarer", &ReadWayfarer<CountingSink>, &ReadWayfarer<HashSink>},
    {"pugixml", &ReadPugixml<CountingSink>, &ReadPugixml<HashSink>},
    {"tinyxml2", &ReadTinyxml2<CountingSink>, &ReadTinyxml2<HashSink>},
    {"expat", &ReadExpat<CountingSink>, &ReadExpat<HashSink>},
};
constexpr size_t kReaderCount = sizeof(kReaders) / sizeof(kReaders[0]);

struct Input {
    std::string name;   // used in benchmark names
    std::string label;  // used in the ratio lines
    std::string text;
};

std::string SizeLabel(size_t bytes) {
    char buffer[32];
    if (bytes >= 1024 * 1024) {
        std::snprintf(buffer, sizeof(buffer), "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    } else {
        std::snprintf(buffer, sizeof(buffer), "%.1f KB", static_cast<double>(bytes) / 1024.0);
    }
    return buffer;
}

class Random {
public:
    uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    std::string Hex(int digits) {
        static const char kDigits[] = "0123456789ABCDEF";
        std::string out;
        while (digits-- > 0) {
            out += kDigits[Next() & 0xF];
        }
        return out;
    }

private:
    uint32_t state_ = 0x2545F491u;
};

// Shaped like the configuration document, repeated until `target` bytes:
// registry entries (some with a mask and a reference in their text) and
// items with detection rules, files and installers. Only XML's own references
// are used, so every reader must decode them alike.
std::string GenerateDocument(size_t target) {
    Random random;
    std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<checkitems>\n";
    for (int block = 0; out.size() < target; ++block) {
        const std::string b = std::to_string(block);
        out += "  <config type=\"registry\">\n";
        for (int i = 0; i < 12; ++i) {
            out += "    <entry name=\"Setting" + b + "_" + std::to_string(i) +
                   "\" type=\"reg_dword\" value=\"" + std::to_string(random.Next() % 100000) + "\"";
            if (i % 4 == 0) {
                out += " mask=\"0x" + random.Hex(4) + "\"";
            }
            out += ">HKEY_CURRENT_USER\\Software\\Lunmar";
            out += (i % 3 == 0) ? " &amp; Partners" : "";
            out += "\\Internet Settings\\Zones\\" + std::to_string(i % 5) + "</entry>\n";
        }
        out += "  </config>\n";
        out += "  <item name=\"&#x4E2D;控件 " + b + "\" type=\"SafeActiveX\" tips=\"Keeps &quot;input&quot; safe &lt;" + b +
               "&gt;\">\n";
        for (int i = 0; i < 3; ++i) {
            out += "    <detect type=\"clsid\">{" + random.Hex(8) + "-" + random.Hex(4) + "-" + random.Hex(4) +
                   "-" + random.Hex(4) + "-" + random.Hex(12) + "}</detect>\n";
        }
        out += "    <file local=\"%windir%\\system32\\Lunmar" + b + ".dll\" version=\"1.0.0.1\"";
        if (block % 2 == 0) {
            out += " md5=\"" + random.Hex(32) + "\"";
        }
        if (block % 3 == 0) {
            out += " remote=\"https://download.lunmarbank.example/bench/" + b + ".dll\"";
        }
        out += "/>\n";
        out += "    <installer command='\"%1\" /S'>https://download.lunmarbank.example/bench/" + b +
               ".exe?a=1&amp;b=2</installer>\n";
        out += "  </item>\n";
    }
    out += "  <appinfo version=\"1.0.0.2\" remote=\"https://download.lunmarbank.example/bench/wayfarer.exe\"/>\n";
    out += "</checkitems>\n";
    return out;
}

bool ReadFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    out = buffer.str();
    return true;
}

void PrintTally(const char* reader, const Tally& t) {
    std::printf("  %-9s %" PRIu64 " elements, %" PRIu64 " attribute values, %" PRIu64 " texts, %" PRIu64
                " decoded bytes, hash %016" PRIx64 "\n",
                reader, t.elements, t.attributes, t.texts, t.bytes, t.hash);
}

// Every reader must accept the input and read the same values as ours.
bool CheckInput(const Input& input) {
    std::printf("%s: %zu bytes\n", input.name.c_str(), input.text.size());
    std::array<Tally, kReaderCount> tallies;
    bool same = true;
    for (size_t r = 0; r < kReaderCount; ++r) {
        HashSink sink;
        if (!kReaders[r].hash(input.text, sink)) {
            std::printf("  %s rejects %s\n", kReaders[r].name, input.name.c_str());
            same = false;
        }
        tallies[r] = sink.tally;
        same = same && tallies[r] == tallies[0];
    }
    if (same) {
        PrintTally("all read", tallies[0]);
        return true;
    }
    std::printf("  the readers disagree (XmlDocument reads only the attributes listed for its known "
                "element types):\n");
    for (size_t r = 0; r < kReaderCount; ++r) {
        PrintTally(kReaders[r].name, tallies[r]);
    }
    return false;
}

void RunIndexAndWalk(benchmark::State& state, const Reader* reader, const std::string* text) {
    for (auto _ : state) {
        CountingSink sink;
        if (!reader->count(*text, sink)) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(sink.tally);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text->size()));
}

std::string BenchmarkName(const Reader& reader, const Input& input) {
    return std::string(reader.name) + "/" + input.name;
}

void PrintRatios(const CollectingReporter& reporter, const std::vector<Input>& inputs) {
    std::printf("\nThroughput of wayfarer divided by each peer's (CPU time, index plus full walk):\n");
    for (const Input& input : inputs) {
        const double ours = reporter.Seconds(BenchmarkName(kReaders[0], input));
        if (ours <= 0) {
            continue;
        }
        std::array<double, kReaderCount> ratio{};
        for (size_t r = 1; r < kReaderCount; ++r) {
            const double peer = reporter.Seconds(BenchmarkName(kReaders[r], input));
            if (peer <= 0) {
                continue;
            }
            ratio[r] = peer / ours;
            std::printf("ratio wayfarer/%s (%s): %.2fx %s\n", kReaders[r].name, input.label.c_str(), ratio[r],
                        ratio[r] >= 1 ? "faster" : "(slower)");
        }
        // Peers in table order: pugixml, tinyxml2, expat.
        const auto verdict = [](double r, bool met) { return r <= 0 ? "not run" : met ? "met" : "missed"; };
        std::printf("target (%s): faster than tinyxml2: %s; faster than expat: %s; "
                    "time within 1.5x of pugixml's: %s",
                    input.label.c_str(), verdict(ratio[2], ratio[2] > 1), verdict(ratio[3], ratio[3] > 1),
                    verdict(ratio[1], ratio[1] > 0 && 1 / ratio[1] <= 1.5));
        if (ratio[1] > 0) {
            std::printf(" (ours takes %.2fx its time)", 1 / ratio[1]);
        }
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::string path = WAYFARER_SOURCE_DIR "/app/res/item.xml";
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        benchmark::ReportUnrecognizedArguments(argc, argv);
        std::fprintf(stderr, "usage: %s [benchmark flags] [document.xml]\n", argv[0]);
        return 1;
    }
    if (argc == 2) {
        path = argv[1];
    }

    std::vector<Input> inputs(2);
    if (!ReadFile(path, inputs[0].text)) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    const size_t slash = path.find_last_of("/\\");
    inputs[0].name = slash == std::string::npos ? path : path.substr(slash + 1);
    inputs[1].text = GenerateDocument(5u * 1024 * 1024);
    inputs[1].name = "generated_5MB";
    for (Input& input : inputs) {
        input.label = input.name + ", " + SizeLabel(input.text.size());
    }

    bool same = true;
    for (const Input& input : inputs) {
        same = CheckInput(input) && same;
    }
    if (!same) {
        std::fprintf(stderr, "readers disagree on the inputs; no timing\n");
        return 1;
    }
    std::printf("\n");

    for (const Input& input : inputs) {
        for (const Reader& reader : kReaders) {
            benchmark::RegisterBenchmark(BenchmarkName(reader, input).c_str(), &RunIndexAndWalk, &reader,
                                         &input.text)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintRatios(reporter, inputs);
    return 0;
}
