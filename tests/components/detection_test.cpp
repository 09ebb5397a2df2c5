#include "components/detection.h"

#include <gtest/gtest.h>

namespace wayfarer {
namespace {

constexpr uint32_t Half(uint32_t high, uint32_t low) { return (high << 16) | low; }

struct VersionCase {
    const char* required;
    uint32_t fileMs;
    uint32_t fileLs;
    bool meets;
};

TEST(FileVersionMeets, ComparesEachHalfOnItsOwn) {
    const VersionCase cases[] = {
        {"1.0.0.2", Half(1, 0), Half(0, 2), true},
        {"1.0.0.5", Half(1, 1), Half(0, 0), false},  // newer high half, lower low half
        {"1.0.0.2", Half(2, 0), Half(0, 0), false},
        {"2", Half(2, 0), Half(0, 0), true},
        {"2.1", Half(2, 0), Half(9, 9), false},
        {"", Half(0, 0), Half(0, 0), true},
        {"beta", Half(0, 0), Half(0, 0), true},  // no digits reads as 0
        {" 3x.-1.0.0", Half(3, 0), Half(0, 0), false},  // atoi pieces; -1 is 0xFFFF
        {"3.65535.0.0", Half(3, 0xFFFF), Half(0, 0), true},
        {"3.65536.0.0", Half(3, 0), Half(0, 0), true},  // only the low 16 bits count
        {"1.2.3.4.5", Half(1, 2), Half(3, 4), true},    // a fifth piece is ignored
        {"1..3", Half(1, 0), Half(3, 0), true},
        {"99999999999.0.0.0", Half(0xFFFF, 0), Half(0, 0), true},  // clamped like a 32-bit int
        {"1.0.0.1", 0xFFFFFFFFu, 0xFFFFFFFFu, true},
    };
    for (const VersionCase& c : cases) {
        EXPECT_EQ(FileVersionMeets(c.required, c.fileMs, c.fileLs), c.meets)
            << "required \"" << c.required << "\" against " << std::hex << c.fileMs << "." << c.fileLs;
    }
}

}  // namespace
}  // namespace wayfarer
