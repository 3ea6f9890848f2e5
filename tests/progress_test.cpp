// sgltool's progress line: its text, and when it shows (only on a terminal, only
// after a second, redrawn at most ten times a second).
#include "tools/progress.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace ase2sgl {
namespace {

using tools::FormatProgress;
using tools::ProgressLine;

TEST(Progress, Text)
{
    constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
    struct Case {
        std::uint64_t done, total;
        const char* text;
    };
    const Case cases[] = {
        {0, 100 * kMiB, "convert a.ase: 0% (0 of 100 MiB)"},
        {45 * kMiB, 100 * kMiB, "convert a.ase: 45% (45 of 100 MiB)"},
        {100 * kMiB - 1, 100 * kMiB, "convert a.ase: 99% (99 of 100 MiB)"},  // 100% only when done
        {100 * kMiB, 100 * kMiB, "convert a.ase: 100% (100 of 100 MiB)"},
        {200 * kMiB, 100 * kMiB, "convert a.ase: 100% (100 of 100 MiB)"},  // a file that grew while read
        {(std::uint64_t{1} << 62) - 1, std::uint64_t{1} << 62,
         "convert a.ase: 99% (4398046511103 of 4398046511104 MiB)"},
        {3 * kMiB + 5, 0, "convert a.ase: 3 MiB"},  // a pipe: no size known
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatProgress("convert a.ase", c.done, c.total), c.text) << c.done << " of " << c.total;
}

// What a terminal would get: the lines shown, each after a CR, and at the end
// the last one blanked out.
std::string Written(std::FILE* file)
{
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;)
        text += static_cast<char>(c);
    return text;
}

TEST(Progress, ShownOnlyOnATerminalAfterASecond)
{
    using std::chrono::milliseconds;
    struct Step {
        int atMs;
        std::uint64_t done;
        bool shown;
    };
    struct Case {
        const char* label;
        bool terminal;
        std::vector<Step> steps;
        std::string written;
    };
    const std::string blank = "\r" + std::string(std::string_view("x: 100% (0 of 0 MiB)").size(), ' ') + "\r";
    const std::vector<Case> cases = {
        {"not a terminal", false, {{500, 1, false}, {1500, 2, false}, {60000, 3, false}}, ""},
        {"terminal, quick work", true, {{10, 1, false}, {900, 2, false}}, ""},
        {"terminal, slow work",
         true,
         {{500, 0, false}, {1100, 4, true}, {1150, 5, false}, {1250, 8, true}, {1500, 10, true}},
         "\rx: 40% (0 of 0 MiB)\rx: 80% (0 of 0 MiB)\rx: 100% (0 of 0 MiB)" + blank},
    };
    for (const Case& c : cases) {
        std::FILE* terminal = std::tmpfile();
        ASSERT_NE(terminal, nullptr);
        {
            ProgressLine line("x", 10, c.terminal ? terminal : nullptr);
            const auto start = ProgressLine::Clock::now();
            for (const Step& step : c.steps)
                EXPECT_EQ(!line.Update(step.done, start + milliseconds(step.atMs)).empty(), step.shown)
                    << c.label << " at " << step.atMs << " ms";
        }
        EXPECT_EQ(Written(terminal), c.written) << c.label;
        std::fclose(terminal);
    }
}

// Cleared once the reading is over, the line stays away: the result printed next
// starts on a clean line.
TEST(Progress, ClearedBeforeTheResult)
{
    std::FILE* terminal = std::tmpfile();
    ASSERT_NE(terminal, nullptr);
    {
        ProgressLine line("x", 10, terminal);
        const auto start = ProgressLine::Clock::now();
        EXPECT_FALSE(line.Update(10, start + std::chrono::seconds(2)).empty());
        line.Clear();
        EXPECT_TRUE(line.Update(10, start + std::chrono::seconds(3)).empty());
    }
    EXPECT_EQ(Written(terminal), "\rx: 100% (0 of 0 MiB)\r" + std::string(20, ' ') + "\r");
    std::fclose(terminal);
}

}  // namespace
}  // namespace ase2sgl
