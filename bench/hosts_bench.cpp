// Scan plus replace-all of the hosts lines that pin the bank's host name:
// RemoveBadHostsLines against std::regex_replace with the expression whose
// matches the scanner reproduces (see checks/hosts.h).
//
// Inputs, each as working text (HostsWorkingText has folded CR LF; that step
// is the same whoever scans, so it is not timed):
// - generated hosts files of 75,000, 150,000 and 300,000 lines: comments,
//   blank lines, local names, ad-blocking entries, tabs, CR LF, names that
//   look like the bank's but are harmless, and a few bad lines;
// - a million blank lines with one bad line after them.
// std::regex is timed on the 150,000-line file and on the blank lines; the other
// two sizes only show how our time grows.
//
// Before any timing, both results must be equal on every input, or the
// program exits with 1: a ratio over different work means nothing.
//
// Each iteration copies the text and edits the copy (ours edits in place) or
// builds a new string (std::regex_replace). The expression is compiled once,
// outside the timing, which favours std::regex. Memory freed by one
// iteration stays with the process for the next, for both.
//
// libstdc++'s std::regex recurses per character: the million blank lines
// take about 300 MB of stack. So every benchmark loop, ours too, runs on a
// thread with a 1 GiB stack, and the times compared are that thread's CPU
// time (the library reads the clock of the thread that runs the loop).
//
// Usage: hosts_bench [benchmark flags]

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <pthread.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <iterator>
#include <map>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "bench/collecting_reporter.h"
#include "checks/hosts.h"

namespace {

using wayfarer::bench::CollectingReporter;

constexpr char kBankHost[] = "ebank.lunmarbank.example";

// ---- the large stack --------------------------------------------------------

struct StackJob {
    const std::function<void()>* work;
    std::string error;
};

void* RunStackJob(void* param) {
    auto* job = static_cast<StackJob*>(param);
    try {
        (*job->work)();
    } catch (const std::exception& e) {
        job->error = e.what();
    } catch (...) {
        job->error = "unknown exception";
    }
    return nullptr;
}

// Runs `work` on a thread whose stack holds std::regex's recursion over a
// million characters (about 300 bytes each). Only the pages touched are
// committed. Returns an empty string or what went wrong.
std::string RunWithLargeStack(const std::function<void()>& work) {
    constexpr size_t kStack = size_t{1} << 30;
    StackJob job{&work, {}};
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        return "pthread_attr_init failed";
    }
    int status = pthread_attr_setstacksize(&attributes, kStack);
    pthread_t thread;
    if (status == 0) {
        status = pthread_create(&thread, &attributes, &RunStackJob, &job);
    }
    pthread_attr_destroy(&attributes);
    if (status != 0) {
        return "cannot start a thread with a 1 GiB stack";
    }
    pthread_join(thread, nullptr);
    return job.error;
}

// ---- the expression ---------------------------------------------------------

// As the tests build it: the host's dots escaped by a replacement.
std::regex Oracle(const std::string& host) {
    const std::string escaped = std::regex_replace(host, std::regex("\\."), "\\.");
    return std::regex("\\n[\\s\\d\\.]+" + escaped + "\\s*(\\n|#.+\\n)",
                      std::regex::ECMAScript | std::regex::icase);
}

std::string Ours(const std::string& text, size_t* removed = nullptr) {
    std::string copy = text;
    const size_t count = wayfarer::RemoveBadHostsLines(copy, kBankHost);
    if (removed != nullptr) {
        *removed = count;
    }
    return copy;
}

std::string Theirs(const std::string& text, const std::regex& oracle) {
    return std::regex_replace(text, oracle, "\n");
}

// ---- inputs -----------------------------------------------------------------

class Random {
public:
    uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    template <class List>
    const auto& Pick(const List& list) {
        return list[Next() % (sizeof(list) / sizeof(list[0]))];
    }

private:
    uint32_t state_ = 0x9E3779B9u;
};

constexpr size_t kBadLinesPerFile = 8;

// What a hosts file grown by ad-blocking lists looks like: a header, local
// names, long runs of "0.0.0.0 name" entries in sections, blank lines and
// comments, mostly CR LF. Names close to the bank's stand around, but only
// kBadLinesPerFile lines, evenly spread and never adjacent, pin it.
std::string GenerateHostsFile(size_t lines) {
    static const char* const kHeader[] = {
        "# Hosts file: one address and its names on a line.",
        "#",
        "# The address comes first, then at least one space or tab, then the names.",
        "# Text after a # is a comment; blank lines are ignored.",
        "",
        "127.0.0.1       localhost",
        "::1             localhost",
        "",
    };
    static const char* const kSeparators[] = {" ", " ", " ", "\t", "  ", "\t\t", " \t"};
    static const char* const kAddresses[] = {"0.0.0.0", "0.0.0.0", "0.0.0.0", "127.0.0.1"};
    static const char* const kComments[] = {
        "# ---- advertising and tracking servers, section ",
        "# entries below were added by the filter list update ",
        "#",
        "# telemetry endpoints (kept for reference) ",
        "#127.0.0.1 blocked.example  disabled on request ",
    };
    static const char* const kBlanks[] = {"", "", "", " ", "\t", "  \t"};
    static const char* const kLocal[] = {"127.0.0.1 localhost", "127.0.0.1\tlocalhost.localdomain",
                                         "192.168.1.20\tnas.home.example", "::1 ip6-localhost"};
    // Harmless: commented out, a longer name, another of the bank's names,
    // more text after the name, letters in the address.
    static const char* const kNearMisses[] = {
        "# 203.0.113.7 ebank.lunmarbank.example",
        "0.0.0.0 xebank.lunmarbank.example",
        "0.0.0.0 ads.ebank.lunmarbank.example",
        "127.0.0.1 www.lunmarbank.example",
        "0.0.0.0 ebank.lunmarbank.example.cdn.example",
        "0.0.0.0 ebank.lunmarbank.example other.example",
        "fe80::1 ebank.lunmarbank.example",
    };
    struct Name {
        const char* prefix;
        const char* suffix;
    };
    static const Name kNames[] = {
        {"ads", ".example"},
        {"ads", ".example"},
        {"tracker", ".metrics-cdn.example"},
        {"pixel", ".ad-delivery-network.example"},
        {"telemetry-eu-", ".analytics.vendor.example"},
    };
    static const char* const kBadLines[] = {
        "203.0.113.7 ebank.lunmarbank.example",
        "\t198.51.100.23\tEBANK.LunmarBank.Example\t# shortcut",
        "  192.0.2.44   ebank.lunmarbank.example   ",
        "10.10.0.1 ebank.lunmarbank.example # test server",
    };

    Random random;
    std::string out;
    out.reserve(lines * 44);
    size_t written = 0;
    size_t bad = 0;
    unsigned name = 0;
    unsigned section = 0;
    const auto end = [&] {
        out += random.Next() % 64 == 0 ? "\n" : "\r\n";
        ++written;
    };
    for (const char* line : kHeader) {
        out += line;
        end();
    }
    while (written < lines) {
        if (bad < kBadLinesPerFile && written == lines * (2 * bad + 1) / (2 * kBadLinesPerFile)) {
            out += kBadLines[bad % std::size(kBadLines)];
            ++bad;
            end();
            continue;
        }
        const uint32_t kind = random.Next() % 1000;
        if (kind < 2) {
            out += random.Pick(kNearMisses);
        } else if (kind < 80) {
            out += random.Pick(kComments);
            out += std::to_string(++section);
        } else if (kind < 170) {
            out += random.Pick(kBlanks);
        } else if (kind < 185) {
            out += random.Pick(kLocal);
        } else {
            if (random.Next() % 8 == 0) {
                out += random.Pick(kBlanks);
            }
            out += random.Pick(kAddresses);
            out += random.Pick(kSeparators);
            const Name& style = random.Pick(kNames);
            out += style.prefix;
            out += std::to_string(++name);
            out += style.suffix;
            if (random.Next() % 6 == 0) {
                out += random.Pick(kSeparators);
                out += "# ad network";
            }
        }
        end();
    }
    return out;
}

struct Input {
    std::string name;   // used in benchmark names
    std::string label;  // used in the summary
    std::string text;   // working text
    size_t fileBytes = 0;
    size_t badLines = 0;
    bool againstRegex = false;
};

std::string Thousands(size_t n) {
    std::string digits = std::to_string(n);
    for (size_t i = digits.size(); i > 3; i -= 3) {
        digits.insert(i - 3, ",");
    }
    return digits;
}

double Megabytes(size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

std::string MegabyteLabel(size_t bytes) {
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%.1f MB", Megabytes(bytes));
    return buffer;
}

Input GeneratedInput(size_t lines, bool againstRegex) {
    Input input;
    input.name = "hosts_" + std::to_string(lines / 1000) + "k";
    const std::string file = GenerateHostsFile(lines);
    input.fileBytes = file.size();
    input.text = wayfarer::HostsWorkingText(file);
    input.label = Thousands(lines) + " lines, " + MegabyteLabel(input.text.size());
    input.badLines = kBadLinesPerFile;
    input.againstRegex = againstRegex;
    return input;
}

Input BlankLinesInput() {
    constexpr size_t kBlankLines = 1000000;
    Input input;
    input.name = "blank_1M";
    const std::string file = std::string(kBlankLines, '\n') + "127.0.0.1 " + kBankHost + "\n";
    input.fileBytes = file.size();
    input.text = wayfarer::HostsWorkingText(file);
    input.label = Thousands(kBlankLines) + " blank lines, " + MegabyteLabel(input.text.size());
    input.badLines = 1;
    input.againstRegex = true;
    return input;
}

// Both must remove the same lines, and as many as the input holds.
bool CheckInput(const Input& input, const std::regex& oracle) {
    size_t removed = 0;
    const std::string ours = Ours(input.text, &removed);
    std::string theirs;
    const std::string error = RunWithLargeStack([&] { theirs = Theirs(input.text, oracle); });
    std::printf("%s: %s of text (file %s bytes); %zu bad line(s) removed", input.name.c_str(),
                input.label.c_str(), Thousands(input.fileBytes).c_str(), removed);
    if (!error.empty()) {
        std::printf("; std::regex failed: %s\n", error.c_str());
        return false;
    }
    if (ours != theirs) {
        size_t at = 0;
        while (at < ours.size() && at < theirs.size() && ours[at] == theirs[at]) {
            ++at;
        }
        std::printf("; results differ from std::regex_replace's (%zu vs %zu bytes, first "
                    "difference at byte %zu)\n",
                    ours.size(), theirs.size(), at);
        return false;
    }
    if (removed != input.badLines) {
        std::printf("; the input holds %zu\n", input.badLines);
        return false;
    }
    std::printf("; std::regex_replace gives the same text\n");
    return true;
}

// ---- benchmarks -------------------------------------------------------------

void RunLoopOnLargeStack(benchmark::State& state, const std::function<void()>& loop,
                         size_t bytes) {
    const std::string error = RunWithLargeStack(loop);
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(bytes));
}

void ScanOurs(benchmark::State& state, const Input* input) {
    RunLoopOnLargeStack(
        state,
        [&] {
            for (auto _ : state) {
                std::string text = input->text;
                benchmark::DoNotOptimize(wayfarer::RemoveBadHostsLines(text, kBankHost));
                benchmark::DoNotOptimize(text.data());
            }
        },
        input->text.size());
}

void ScanRegex(benchmark::State& state, const Input* input, const std::regex* oracle) {
    RunLoopOnLargeStack(
        state,
        [&] {
            for (auto _ : state) {
                std::string text = Theirs(input->text, *oracle);
                benchmark::DoNotOptimize(text.data());
            }
        },
        input->text.size());
}

std::string OursName(const Input& input) { return "ours/" + input.name; }
std::string RegexName(const Input& input) { return "std_regex/" + input.name; }

const char* Verdict(bool ran, bool met) { return !ran ? "not run" : met ? "met" : "missed"; }

// The speed target is for the 150,000-line file; growth is linear when the
// time per MB stays flat (a quadratic scan would take 4x per MB at 4x the
// lines), allowing 1.5x for caches and noise.
void PrintSummary(const CollectingReporter& reporter, const std::vector<Input>& inputs,
                  const std::string& targetInput, const std::vector<std::string>& growthInputs) {
    constexpr double kSpeedTarget = 20;
    constexpr double kFlatness = 1.5;
    std::printf("\nstd::regex_replace time / ours (CPU time, scan plus replace-all):\n");
    bool targetRan = false;
    double targetRatio = 0;
    for (const Input& input : inputs) {
        if (!input.againstRegex) {
            continue;
        }
        const double ours = reporter.Seconds(OursName(input));
        const double theirs = reporter.Seconds(RegexName(input));
        if (ours <= 0 || theirs <= 0) {
            std::printf("ratio (%s, %s): not run\n", input.name.c_str(), input.label.c_str());
            continue;
        }
        std::printf("ratio (%s, %s): %.1fx (std::regex %.1f ms, ours %.3f ms)\n",
                    input.name.c_str(), input.label.c_str(), theirs / ours, theirs * 1e3,
                    ours * 1e3);
        if (input.name == targetInput) {
            targetRan = true;
            targetRatio = theirs / ours;
        }
    }
    std::printf("target: at least %.0fx faster than std::regex on %s: %s\n", kSpeedTarget,
                targetInput.c_str(), Verdict(targetRan, targetRatio >= kSpeedTarget));

    std::printf("\nOur CPU time per MB of text:\n");
    double lowest = 0;
    double highest = 0;
    size_t ran = 0;
    for (const std::string& name : growthInputs) {
        for (const Input& input : inputs) {
            if (input.name != name) {
                continue;
            }
            const double seconds = reporter.Seconds(OursName(input));
            if (seconds <= 0) {
                std::printf("  %-10s (%s): not run\n", name.c_str(), input.label.c_str());
                continue;
            }
            const double perMegabyte = seconds / Megabytes(input.text.size());
            std::printf("  %-10s (%s): %.3f ms/MB\n", name.c_str(), input.label.c_str(),
                        perMegabyte * 1e3);
            lowest = ran == 0 ? perMegabyte : std::min(lowest, perMegabyte);
            highest = ran == 0 ? perMegabyte : std::max(highest, perMegabyte);
            ++ran;
        }
    }
    const bool allRan = ran == growthInputs.size();
    std::printf("target: linear growth (time per MB within %.1fx across the sizes): %s",
                kFlatness, Verdict(allRan, highest <= kFlatness * lowest));
    if (allRan) {
        std::printf(" (highest / lowest: %.2fx)", highest / lowest);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    // glibc gives the top of its heap back once it passes twice the largest
    // block freed so far: then, at some text sizes only, every iteration
    // faults its fresh copies in page by page, and the time per MB jumps
    // with the size for reasons outside the scan. Keeping the memory (and
    // the large blocks in the heap) makes every size pay alike.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);

    benchmark::Initialize(&argc, argv);
    if (argc > 1) {
        benchmark::ReportUnrecognizedArguments(argc, argv);
        std::fprintf(stderr, "usage: %s [benchmark flags]\n", argv[0]);
        return 1;
    }

    std::regex oracle;
    try {
        oracle = Oracle(kBankHost);
    } catch (const std::regex_error& e) {
        std::fprintf(stderr, "the expression does not compile: %s\n", e.what());
        return 1;
    }

    std::vector<Input> inputs;
    inputs.push_back(GeneratedInput(75000, false));
    inputs.push_back(GeneratedInput(150000, true));
    inputs.push_back(GeneratedInput(300000, false));
    inputs.push_back(BlankLinesInput());

    bool same = true;
    for (const Input& input : inputs) {
        same = CheckInput(input, oracle) && same;
    }
    if (!same) {
        std::fprintf(stderr, "our results differ from std::regex_replace's; no timing\n");
        return 1;
    }
    std::printf("\n");

    for (const Input& input : inputs) {
        benchmark::RegisterBenchmark(OursName(input).c_str(), &ScanOurs, &input)
            ->Unit(benchmark::kMillisecond);
        if (input.againstRegex) {
            benchmark::RegisterBenchmark(RegexName(input).c_str(), &ScanRegex, &input, &oracle)
                ->Unit(benchmark::kMillisecond);
        }
    }
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintSummary(reporter, inputs, "hosts_150k", {"hosts_75k", "hosts_150k", "hosts_300k"});
    return 0;
}
