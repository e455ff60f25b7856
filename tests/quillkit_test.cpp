// Padding patterns and their preconditions; reading numbers; assertions
// staying active in every build.
#include "quillkit.h"

#include <gtest/gtest.h>

#include <cassert>
#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> pad(size_t size, uint32_t value, int32_t granularity)
{
    alignas(8) uint8_t buffer[64];
    memset(buffer, 0x11, sizeof buffer);
    qkit_pad(buffer, size, value, granularity);
    EXPECT_EQ(buffer[size], 0x11) << "the byte after the area is untouched";
    return std::vector<uint8_t>(buffer, buffer + size);
}

using bytes = std::vector<uint8_t>;

TEST(Pad, Patterns)
{
    EXPECT_EQ(pad(4, 0x1FF, 1), (bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(pad(4, 0x12345, 2), (bytes{0x45, 0x23, 0x45, 0x23}));
    EXPECT_EQ(pad(8, 0xDEADBEEF, 4), (bytes{0xEF, 0xBE, 0xAD, 0xDE, 0xEF, 0xBE, 0xAD, 0xDE}));
    EXPECT_EQ(pad(6, 0xA55A, 2), (bytes{0x5A, 0xA5, 0x5A, 0xA5, 0x5A, 0xA5}));
    EXPECT_EQ(pad(12, 0x04030201, 4), (bytes{1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4}));
    EXPECT_EQ(pad(0, 0, 4), bytes{});
}

TEST(Pad, LongBufferHasTheSamePhaseThroughout)
{
    std::vector<uint32_t> buffer(1001);
    qkit_pad(reinterpret_cast<uint8_t *>(buffer.data()), 4 * 1001 - 2, 0xCAFEBABE, 2);
    const uint8_t *b = reinterpret_cast<const uint8_t *>(buffer.data());
    for (size_t i = 0; i < 4 * 1001 - 2; i++)
        ASSERT_EQ(b[i], i % 2 == 0 ? 0xBE : 0xBA) << i;
}

TEST(PadDeathTest, PreconditionsAbortInOrder)
{
    alignas(8) uint8_t buffer[16];
    EXPECT_DEATH(qkit_pad(buffer, 6, 0, 3),
                 "\\(pad_granularity == 1\\) \\|\\| \\(pad_granularity == 2\\) \\|\\| \\(pad_granularity == 4\\)");
    EXPECT_DEATH(qkit_pad(buffer + 1, 4, 0, 2), "\\(\\(uintptr_t\\)buffer & \\(pad_granularity - 1\\)\\) == 0");
    EXPECT_DEATH(qkit_pad(buffer, 6, 0, 4), "\\(size & \\(pad_granularity - 1\\)\\) == 0");
    // misaligned and badly sized: the alignment is reported first
    EXPECT_DEATH(qkit_pad(buffer + 2, 6, 0, 4), "\\(uintptr_t\\)buffer");
}

TEST(BuildDeathTest, AssertionsAreActive)
{
    EXPECT_DEATH(assert(sizeof(int) == 0), "Assertion");
}

struct number_case_t {
    const char *text;
    uint64_t value;
    size_t used; // characters consumed
};

void PrintTo(const number_case_t &c, std::ostream *os)
{
    *os << '"' << c.text << '"';
}

class ParseUnsigned : public testing::TestWithParam<number_case_t> {};

TEST_P(ParseUnsigned, ValueAndEnd)
{
    const char *end = nullptr;
    EXPECT_EQ(qkit_parse_unsigned(GetParam().text, &end), GetParam().value) << GetParam().text;
    EXPECT_EQ(size_t(end - GetParam().text), GetParam().used) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseUnsigned, testing::Values(
    number_case_t{"", 0, 0},
    number_case_t{"0", 0, 1},
    number_case_t{"255", 255, 3},
    number_case_t{"0xFF", 255, 4},
    number_case_t{"0Xff", 255, 4},
    number_case_t{"0b1010", 10, 6},
    number_case_t{"0B11", 3, 4},
    number_case_t{"017", 15, 3},
    number_case_t{"08", 0, 1},        // octal stops at 8
    number_case_t{"0x", 0, 1},        // prefix without digit: the 0 alone
    number_case_t{"0xg", 0, 1},
    number_case_t{"0b", 0, 1},
    number_case_t{"0b2", 0, 1},
    number_case_t{"12ab", 12, 2},
    number_case_t{" \t\n42", 42, 5},
    number_case_t{"+7", 7, 2},
    number_case_t{"-1", UINT64_MAX, 2},
    number_case_t{"-0x10", 0xFFFFFFFFFFFFFFF0u, 5},
    number_case_t{" ", 0, 0},          // no digits: nothing used
    number_case_t{"+", 0, 0},
    number_case_t{"-", 0, 0},
    number_case_t{"x1", 0, 0},
    number_case_t{"18446744073709551615", UINT64_MAX, 20},
    number_case_t{"18446744073709551616", UINT64_MAX, 20},
    number_case_t{"123456789012345678901234567890", UINT64_MAX, 30},
    number_case_t{"-99999999999999999999", UINT64_MAX, 21},
    number_case_t{"0x1ffffffff", 0x1FFFFFFFFu, 11}
));

} // namespace
