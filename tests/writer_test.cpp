// Record writer: the lines, results and counters of each stream shape.
#include "ihex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct line_t {
    int result;
    std::string text; // without CR LF; empty when nothing was written
};

// Runs one call and reports the result and the line it wrote, if any.
line_t call(ihex_writer_t *writer, uint8_t last_block)
{
    char buffer[600];
    buffer[0] = '#';
    int result = ihex_write_line(writer, buffer, last_block);
    std::string text;
    if (buffer[0] != '#') {
        text = buffer;
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
        text.resize(text.size() - 2);
    }
    return {result, text};
}

void set_block(ihex_writer_t *writer, const std::vector<uint8_t> &block, uint32_t address)
{
    writer->data = block.data();
    writer->address = address;
    writer->remaining = uint32_t(block.size());
}

// Writes one block and closes the stream; returns every line with its result.
std::vector<line_t> stream(ihex_writer_t *writer, const std::vector<uint8_t> &block, uint32_t address)
{
    set_block(writer, block, address);
    std::vector<line_t> lines;
    for (;;) {
        line_t l = call(writer, 1);
        lines.push_back(l);
        if (l.result == IHEX_WRITE_END_OF_BLOCK)
            return lines;
        if (lines.size() > 1000)
            return lines;
    }
}

std::vector<uint8_t> counting(size_t n, uint8_t first = 0)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = uint8_t(first + i);
    return v;
}

bool operator==(const line_t &a, const line_t &b)
{
    return a.result == b.result && a.text == b.text;
}

void PrintTo(const line_t &l, std::ostream *os)
{
    *os << l.result << " \"" << l.text << "\"";
}

using lines = std::vector<line_t>;

TEST(Writer, InitDefaults)
{
    ihex_writer_t w;
    ihex_writer_init(&w);
    EXPECT_EQ(w.address_mode, IHEX_ADDRESS_MODE_LINEAR);
    EXPECT_EQ(w.max_record_bytes, 32);
    EXPECT_EQ(w.start_address_present, 0);
    EXPECT_EQ(w.skip_fill, 1);
    EXPECT_EQ(w.fill_value, 0xFF);
    EXPECT_EQ(w.data, nullptr);
    EXPECT_EQ(w.remaining, 0u);
    EXPECT_EQ(w.line_count, 0u);
    EXPECT_EQ(w.data_byte_count, 0u);
}

TEST(Writer, FortyBytesAt0x10000)
{
    ihex_writer_t w;
    ihex_writer_init(&w);
    std::vector<uint8_t> block = counting(40);
    EXPECT_EQ(stream(&w, block, 0x10000), (lines{
        {0, ":020000040001F9"},
        {0, ":20000000000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FF0"},
        {0, ":080020002021222324252627BC"},
        {1, ":00000001FF"}}));
    EXPECT_EQ(w.line_count, 4u);
    EXPECT_EQ(w.data_byte_count, 40u);
    EXPECT_EQ(w.address, 0x10028u);
    EXPECT_EQ(w.remaining, 0u);
}

TEST(Writer, LeadingFillIsSkippedInnerFillIsWritten)
{
    ihex_writer_t w;
    ihex_writer_init(&w);
    w.address_mode = IHEX_ADDRESS_MODE_16BIT;
    std::vector<uint8_t> block{0xFF, 0xFF, 0xFF, 0x01};
    EXPECT_EQ(stream(&w, block, 0x0100), (lines{{0, ":0101030001FA"}, {1, ":00000001FF"}}));
    EXPECT_EQ(w.data_byte_count, 1u);

    ihex_writer_init(&w);
    w.address_mode = IHEX_ADDRESS_MODE_16BIT;
    block = {0x01, 0xFF, 0xFF, 0x02};
    EXPECT_EQ(stream(&w, block, 0x0100), (lines{{0, ":0401000001FFFF02FA"}, {1, ":00000001FF"}}));
}

TEST(Writer, FillSkippingOffAndAnotherFillValue)
{
    ihex_writer_t w;
    ihex_writer_init(&w);
    w.address_mode = IHEX_ADDRESS_MODE_16BIT;
    w.skip_fill = 0;
    std::vector<uint8_t> block{0xFF, 0x01};
    EXPECT_EQ(stream(&w, block, 0), (lines{{0, ":02000000FF01FE"}, {1, ":00000001FF"}}));

    ihex_writer_init(&w);
    w.address_mode = IHEX_ADDRESS_MODE_16BIT;
    w.fill_value = 0x00;
    block = {0x00, 0x00, 0xFF};
    EXPECT_EQ(stream(&w, block, 0), (lines{{0, ":01000200FFFE"}, {1, ":00000001FF"}}));
}

TEST(Writer, FillToTheEndOfABlockEndsTheBlock)
{
    ihex_writer_t w;
    ihex_writer_init(&w);
    std::vector<uint8_t> data{0x01, 0xFF, 0xFF};
    std::vector<uint8_t> fill(3, 0xFF);
    set_block(&w, data, 0);
    EXPECT_EQ(call(&w, 0), (line_t{0, ":020000040000FA"}));
    w.max_record_bytes = 1;
    EXPECT_EQ(call(&w, 0), (line_t{0, ":0100000001FE"}));
    // the rest is fill: the block ends with nothing written
    EXPECT_EQ(call(&w, 0), (line_t{1, ""}));
    EXPECT_EQ(w.remaining, 0u);
    // an all-fill block on closing gives the end-of-file record at once
    set_block(&w, fill, 0x20);
    EXPECT_EQ(call(&w, 1), (line_t{1, ":00000001FF"}));
    EXPECT_EQ(w.line_count, 3u);
    EXPECT_EQ(w.data_byte_count, 1u);
}

TEST(Writer, AnExtendedRecordOnlyWhenTheWindowChanges)
{
    ihex_writer_t w;
    ihex_writer_init(&w);
    std::vector<uint8_t> a = counting(4), b = counting(4, 0x10), c = counting(4, 0x20);
    set_block(&w, a, 0x10000);
    EXPECT_EQ(call(&w, 0).text, ":020000040001F9");
    EXPECT_EQ(call(&w, 0).text, ":0400000000010203F6");
    EXPECT_EQ(call(&w, 0).result, IHEX_WRITE_END_OF_BLOCK);
    set_block(&w, b, 0x1FF00); // same window: no new record
    EXPECT_EQ(call(&w, 0).text, ":04FF000010111213B7");
    EXPECT_EQ(call(&w, 0).result, IHEX_WRITE_END_OF_BLOCK);
    set_block(&w, c, 0x20000);
    EXPECT_EQ(call(&w, 0).text, ":020000040002F8");
    EXPECT_EQ(call(&w, 0).text, ":040000002021222376");
}

TEST(Writer, ARecordRunningIntoTheNextWindowStillAnnouncesIt)
{
    ihex_writer_t w;
    ihex_writer_init(&w);
    std::vector<uint8_t> a = counting(32), b = counting(1, 0x40);
    set_block(&w, a, 0x1FFF0);
    EXPECT_EQ(call(&w, 0).text, ":020000040001F9");
    EXPECT_EQ(call(&w, 0).text.substr(0, 9), ":20FFF000");
    EXPECT_EQ(call(&w, 0).result, IHEX_WRITE_END_OF_BLOCK);
    set_block(&w, b, 0x20010);
    EXPECT_EQ(call(&w, 0).text, ":020000040002F8");
    EXPECT_EQ(call(&w, 0).text, ":0100100040AF");
}

TEST(Writer, FortyBytesAcrossA64KiBBoundary)
{
    ihex_writer_t w;
    ihex_writer_init(&w);
    std::vector<uint8_t> block = counting(40);
    lines got = stream(&w, block, 0xFFF0);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].text, ":020000040000FA");
    EXPECT_EQ(got[1].text.substr(0, 9), ":20FFF000");
    EXPECT_EQ(got[2].text, ":020000040001F9");
    EXPECT_EQ(got[3].text, ":080010002021222324252627CC");
    EXPECT_EQ(got[4], (line_t{1, ":00000001FF"}));
}

TEST(Writer, SegmentMode)
{
    ihex_writer_t w;
    ihex_writer_init(&w);
    w.address_mode = IHEX_ADDRESS_MODE_SEGMENT;
    w.start_address_present = 1;
    w.start_address = 0x12345;
    std::vector<uint8_t> block{0xAB};
    EXPECT_EQ(stream(&w, block, 0x12345), (lines{
        {0, ":020000021000EC"},
        {0, ":01234500ABEC"},
        {0, ":040000031000234581"},
        {1, ":00000001FF"}}));
    EXPECT_EQ(w.start_address_present, 0);
    EXPECT_EQ(w.line_count, 4u);
}

TEST(Writer, LinearStartAddressBeforeTheEnd)
{
    ihex_writer_t w;
    ihex_writer_init(&w);
    w.start_address_present = 1;
    w.start_address = 0x12345678;
    EXPECT_EQ(stream(&w, {}, 0), (lines{{0, ":0400000512345678E3"}, {1, ":00000001FF"}}));
}

TEST(Writer, SixteenBitModeDropsTheStartAddress)
{
    ihex_writer_t w;
    ihex_writer_init(&w);
    w.address_mode = IHEX_ADDRESS_MODE_16BIT;
    w.start_address_present = 1;
    w.start_address = 0x100;
    EXPECT_EQ(call(&w, 1), (line_t{2, ""}));
    EXPECT_EQ(w.start_address_present, 0);
    EXPECT_EQ(call(&w, 1), (line_t{1, ":00000001FF"}));
    EXPECT_EQ(w.line_count, 1u);
    // further closing calls write the record again
    EXPECT_EQ(call(&w, 1), (line_t{1, ":00000001FF"}));
    EXPECT_EQ(w.line_count, 2u);
}

TEST(Writer, SixteenBitModeKeepsOnlyTheLowAddressBits)
{
    ihex_writer_t w;
    ihex_writer_init(&w);
    w.address_mode = IHEX_ADDRESS_MODE_16BIT;
    std::vector<uint8_t> block{0x5A};
    EXPECT_EQ(stream(&w, block, 0x3FFF0), (lines{{0, ":01FFF0005AB6"}, {1, ":00000001FF"}}));
}

TEST(Writer, AnEndedBlockWithMoreToComeChangesNothing)
{
    ihex_writer_t w;
    memset(&w, 0, sizeof w); // padding and upper_address too, for the memcmp
    ihex_writer_init(&w);
    ihex_writer_t before = w;
    char buffer[32] = "untouched";
    EXPECT_EQ(ihex_write_line(&w, buffer, 0), IHEX_WRITE_END_OF_BLOCK);
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(memcmp(&w, &before, sizeof w), 0);
}

TEST(Writer, LongestRecords)
{
    ihex_writer_t w;
    ihex_writer_init(&w);
    w.max_record_bytes = 255;
    std::vector<uint8_t> block(300, 0x11);
    set_block(&w, block, 0);
    char buffer[600];
    EXPECT_EQ(ihex_write_line(&w, buffer, 1), IHEX_WRITE_LINE_READY);
    EXPECT_STREQ(buffer, ":020000040000FA\r\n");
    EXPECT_EQ(ihex_write_line(&w, buffer, 1), IHEX_WRITE_LINE_READY);
    EXPECT_EQ(strlen(buffer) + 1, 524u);
    EXPECT_EQ(std::string(buffer, 9), ":FF000000");
    EXPECT_EQ(ihex_write_line(&w, buffer, 1), IHEX_WRITE_LINE_READY);
    EXPECT_EQ(std::string(buffer, 9), ":2D00FF00");
    EXPECT_EQ(w.data_byte_count, 300u);
}

TEST(WriterDeathTest, AnInvalidModeFailsWhenAnAddressRecordIsDue)
{
    ihex_writer_t w;
    ihex_writer_init(&w);
    w.address_mode = static_cast<ihex_address_mode_t>(7);
    std::vector<uint8_t> block{1};
    set_block(&w, block, 0);
    char buffer[80];
    EXPECT_DEATH(ihex_write_line(&w, buffer, 0), "Assertion `0' failed");
    // closing without data treats it like the 16-bit mode
    ihex_writer_init(&w);
    w.address_mode = static_cast<ihex_address_mode_t>(0);
    w.start_address_present = 1;
    EXPECT_EQ(ihex_write_line(&w, buffer, 1), IHEX_WRITE_START_ADDRESS_DROPPED);
}

} // namespace
