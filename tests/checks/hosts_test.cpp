#include "checks/hosts.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <random>
#include <regex>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include "common/handles.h"
#else
#include <pthread.h>
#endif

namespace wayfarer {
namespace {

// std::regex recurses per character: the oracle runs on a thread with a
// stack large enough for it.
void RunWithLargeStack(const std::function<void()>& work) {
    constexpr size_t kStack = 256u << 20;
#ifdef _WIN32
    struct Call {
        static DWORD WINAPI Run(void* param) {
            (*static_cast<const std::function<void()>*>(param))();
            return 0;
        }
    };
    const unique_handle thread(CreateThread(nullptr, kStack, &Call::Run,
                                            const_cast<std::function<void()>*>(&work),
                                            STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    ASSERT_TRUE(thread);
    WaitForSingleObject(thread.get(), INFINITE);
#else
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kStack);
    pthread_t thread;
    const int started = pthread_create(
        &thread, &attributes,
        [](void* param) -> void* {
            (*static_cast<const std::function<void()>*>(param))();
            return nullptr;
        },
        const_cast<std::function<void()>*>(&work));
    pthread_attr_destroy(&attributes);
    ASSERT_EQ(started, 0);
    pthread_join(thread, nullptr);
#endif
}

// The expression as the check describes it, dots escaped by a replacement.
std::regex Oracle(const std::string& host) {
    const std::string escaped = std::regex_replace(host, std::regex("\\."), "\\.");
    return std::regex("\\n[\\s\\d\\.]+" + escaped + "\\s*(\\n|#.+\\n)",
                      std::regex::ECMAScript | std::regex::icase);
}

const std::string kHost = "www.lunmarbank.example";

TEST(HostsText, WorkingTextSitsBetweenLineBreaks) {
    const struct {
        const char* file;
        const char* working;
    } cases[] = {
        {"", "\n"},
        {"a", "\na\n"},
        {"a\r\nb", "\na\nb\n"},
        {"a\r\nb\r\n", "\na\nb\n\n"},
        {"\r\na", "\na\n"},
        {"\na", "\na\n"},
        {"a\rb\nc", "\na\rb\nc\n"},
        {"a\r\r\n", "\na\r\n\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HostsWorkingText(c.file), c.working) << '"' << c.file << '"';
    }
    EXPECT_EQ(HostsFileText("\na\rb\n\n"), "\r\na\rb\r\n\r\n");
}

struct HostsCase {
    const char* name;
    std::string file;
    bool bad;
};

TEST(HostsScanner, TellsBadLinesFromHarmlessOnes) {
    const std::string H = kHost;
    const HostsCase cases[] = {
        {"only line, no final break", "127.0.0.1 " + H, true},
        {"upper case, blanks, comment", "# hosts\r\n  1.2.3.4 \t WWW.LUNMARBANK.EXAMPLE   # pinned\r\n", true},
        {"among other lines", "127.0.0.1 localhost\r\n10.0.0.1 " + H + "\r\n::1 localhost\r\n", true},
        {"blank lines before", "\r\n\r\n   \r\n1.2.3.4 " + H + "\r\n", true},
        {"commented out", "# 127.0.0.1 " + H + "\r\n", false},
        {"longer name ending with it", "127.0.0.1 x" + H + "\r\n", false},
        {"longer name ending with it after a dot", "127.0.0.1 x." + H + "\r\n", false},
        {"digits and a dot stuck to it", "127.0.0.1 1." + H + "\r\n", true},
        {"another name before", "127.0.0.1 other " + H + "\r\n", false},
        {"another name after", "127.0.0.1 " + H + " other\r\n", false},
        {"hyphens for dots", "127.0.0.1 www-lunmarbank-example\r\n", false},
        {"letters in the address", "a.b.c.d " + H + "\r\n", false},
        {"colons in the address", "::1 " + H + "\r\n", false},
        {"name followed by more name", "1.2.3.4 " + H + "x\r\n", false},
        {"empty comment", "1.2.3.4 " + H + " #\r\n", false},
        {"comment cut by a lone CR", "1.2.3.4 " + H + " #a\rb\r\n", false},
        {"no address at all", H + "\r\n", false},
    };
    for (const auto& c : cases) {
        const std::string text = HostsWorkingText(c.file);
        EXPECT_EQ(FindBadHostsLine(text, kHost).has_value(), c.bad) << c.name;
        EXPECT_EQ(PlanHostsFile(HostsFileState::Read, c.file, {"other.example", kHost}, false).ok,
                  !c.bad)
            << c.name;
    }
}

TEST(HostsScanner, RepairLeavesLineBreaksWhereBadLinesWere) {
    const std::vector<std::string> hosts = {kHost};
    const auto repair = PlanHostsFile(HostsFileState::Read, "127.0.0.1 " + kHost, hosts, true);
    ASSERT_TRUE(repair.ok);
    ASSERT_TRUE(repair.write);
    EXPECT_EQ(repair.content, "\r\n");
    EXPECT_TRUE(PlanHostsFile(HostsFileState::Read, repair.content, hosts, false).ok);

    const auto kept = PlanHostsFile(
        HostsFileState::Read, "127.0.0.1 localhost\n1.2.3.4 " + kHost + " # x\n::1 localhost", hosts,
        true);
    EXPECT_EQ(kept.content, "\r\n127.0.0.1 localhost\r\n::1 localhost\r\n");

    // Rewritten even with nothing to remove, as the repair always is.
    const auto clean = PlanHostsFile(HostsFileState::Read, "", hosts, true);
    EXPECT_TRUE(clean.write);
    EXPECT_EQ(clean.content, "\r\n");
}

TEST(HostsScanner, TwoBadLinesInARowNeedTwoRepairs) {
    const std::vector<std::string> hosts = {kHost};
    for (const std::string gap : {"", "\r\n\r\n", " \r\n\t\r\n"}) {
        SCOPED_TRACE("gap '" + gap + "'");
        std::string file = "1.1.1.1 " + kHost + "\r\n" + gap + "2.2.2.2 " + kHost + "\r\n";
        const auto first = PlanHostsFile(HostsFileState::Read, file, hosts, true);
        ASSERT_TRUE(first.write);
        EXPECT_EQ(first.content, "\r\n2.2.2.2 " + kHost + "\r\n\r\n");
        EXPECT_FALSE(PlanHostsFile(HostsFileState::Read, first.content, hosts, false).ok);
        const auto second = PlanHostsFile(HostsFileState::Read, first.content, hosts, true);
        EXPECT_TRUE(PlanHostsFile(HostsFileState::Read, second.content, hosts, false).ok);
    }
}

TEST(HostsScanner, FilesThatCouldNotBeReadAreNeverRewritten) {
    const std::vector<std::string> hosts = {kHost};
    const auto unreadableCheck = PlanHostsFile(HostsFileState::Unreadable, "", hosts, false);
    EXPECT_TRUE(unreadableCheck.ok) << "nothing in it is known to be bad";
    const auto unreadableRepair = PlanHostsFile(HostsFileState::Unreadable, "", hosts, true);
    EXPECT_FALSE(unreadableRepair.ok);
    EXPECT_FALSE(unreadableRepair.write);

    const auto missing = PlanHostsFile(HostsFileState::Missing, "", hosts, true);
    EXPECT_TRUE(missing.ok);
    EXPECT_FALSE(missing.write);
}

TEST(HostsScanner, HostNamesAreLiteralText) {
    // An operator in a name is a character like any other, never syntax.
    EXPECT_TRUE(FindBadHostsLine("\n1.2.3.4 a+b(c).example\n", "a+b(c).example"));
    EXPECT_FALSE(FindBadHostsLine("\n1.2.3.4 aab(c).example\n", "a+b(c).example"));
    EXPECT_FALSE(FindBadHostsLine("\n1.2.3.4 axb.example\n", "a.b.example"));
    EXPECT_FALSE(FindBadHostsLine("\n1.2.3.4 \n\n", "")) << "an empty name maps nothing";
}

TEST(HostsScanner, AMillionBlankLinesAreScannedWithoutRecursion) {
    std::string text(1000000, '\n');
    text += "127.0.0.1 " + kHost + "\n";
    const auto match = FindBadHostsLine(text, kHost);
    ASSERT_TRUE(match);
    EXPECT_EQ(match->begin, 0u) << "the blank lines before it belong to the match";
    EXPECT_EQ(match->end, text.size());
    EXPECT_EQ(RemoveBadHostsLines(text, kHost), 1u);
    EXPECT_EQ(text, "\n");

    std::string harmless(1000000, '\n');
    harmless += "127.0.0.1 x" + kHost + "\n" + std::string(1000000, '\n');
    EXPECT_FALSE(FindBadHostsLine(harmless, kHost));

    // A name that starts with a digit may stand anywhere in a long address
    // run; the scan still completes and finds the last place that fits.
    std::string digits = "\n";
    for (int i = 0; i < 200000; ++i) {
        digits += "1. ";
    }
    digits += "1.ab\n";
    const auto last = FindBadHostsLine(digits, "1.ab");
    ASSERT_TRUE(last);
    EXPECT_EQ(last->begin, 0u);
    EXPECT_EQ(last->end, digits.size());
    EXPECT_FALSE(FindBadHostsLine(digits, "1.abc"));
}

// Small hosts texts from the pieces real files are made of, and the traps.
std::string RandomHostsText(std::mt19937& random, const std::vector<std::string>& names) {
    static const char* const addresses[] = {"127.0.0.1", "1.2.3.4", "::1", "10.0.0.x", "0.0.0.0",
                                            "1", ".", ""};
    static const char* const blanks[] = {" ", "\t", "  ", " \t ", ""};
    static const char* const ends[] = {"\n", "\r\n", "\r", "", "\n\n", "\r\n\r\n"};
    static const char* const comments[] = {"#", "# c", "#x y", "#\r"};
    auto pick = [&random](const auto& list) {
        return std::string(list[random() % std::size(list)]);
    };
    std::string text;
    const int lines = static_cast<int>(random() % 6);
    for (int i = 0; i < lines; ++i) {
        switch (random() % 6) {
            case 0:
                text += pick(blanks) + pick(ends);
                break;
            case 1:
                text += pick(comments) + " " + pick(addresses) + " " +
                        names[random() % names.size()] + pick(ends);
                break;
            default: {
                text += pick(blanks) + pick(addresses) + pick(blanks);
                const int count = 1 + static_cast<int>(random() % 3 == 0);
                for (int n = 0; n < count; ++n) {
                    text += names[random() % names.size()] + pick(blanks);
                }
                if (random() % 3 == 0) {
                    text += pick(comments);
                }
                text += pick(ends);
                break;
            }
        }
    }
    return text;
}

TEST(HostsScanner, FindsWhatTheExpressionFindsAndReplacesAlike) {
    // Names with dots, digits in front, and the tricky spellings of each.
    const std::vector<std::string> hosts = {"a.bh", "1.ab", "ab"};
    const std::vector<std::string> names = {"a.bh", "A.BH", "xa.bh", "a-bh", "a.bhh", "1.a.bh",
                                            "1.ab", "1.AB", "11.ab", "ab", "Ab", "xab", "a.b",
                                            "a.bh.", "other"};
    std::mt19937 random(20240601);
    std::vector<std::string> texts;
    for (int i = 0; i < 4000; ++i) {
        texts.push_back(HostsWorkingText(RandomHostsText(random, names)));
    }
    int withMatches = 0;
    RunWithLargeStack([&] {
        for (const auto& host : hosts) {
            const std::regex oracle = Oracle(host);
            for (const auto& text : texts) {
                std::smatch expected;
                const bool found = std::regex_search(text, expected, oracle);
                const auto match = FindBadHostsLine(text, host);
                ASSERT_EQ(match.has_value(), found) << host << " in \"" << text << '"';
                if (found) {
                    ++withMatches;
                    EXPECT_EQ(match->begin, static_cast<size_t>(expected.position(0)))
                        << host << " in \"" << text << '"';
                    EXPECT_EQ(match->end - match->begin, static_cast<size_t>(expected.length(0)))
                        << host << " in \"" << text << '"';
                }
                std::string replaced = text;
                RemoveBadHostsLines(replaced, host);
                ASSERT_EQ(replaced, std::regex_replace(text, oracle, "\n"))
                    << host << " in \"" << text << '"';
            }
        }
    });
    // The generator must produce both outcomes in earnest.
    EXPECT_GT(withMatches, 500);
    EXPECT_LT(withMatches, 3 * 4000 - 500);
}

}  // namespace
}  // namespace wayfarer
