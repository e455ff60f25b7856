// Record reader: result codes, which fault wins, and what a line leaves behind.
#include "ihex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct parse_t {
    int result;
    uint32_t address;
    uint32_t length;
    uint8_t data[256];
};

// Parses one line on `reader` with sentinel out-values, so that what the
// reader leaves untouched can be seen.
parse_t parse(ihex_reader_t *reader, const char *line)
{
    parse_t p;
    p.address = 0xA5A5A5A5;
    p.length = 0xA5A5A5A5;
    memset(p.data, 0xEE, sizeof p.data);
    p.result = ihex_parse_line(reader, line, &p.address, &p.length, p.data);
    return p;
}

parse_t parse_fresh(const char *line)
{
    ihex_reader_t reader;
    ihex_reader_init(&reader);
    return parse(&reader, line);
}

struct result_case_t {
    const char *line;
    int result;
};

void PrintTo(const result_case_t &c, std::ostream *os)
{
    *os << '"' << c.line << "\" -> " << c.result;
}

class ResultCode : public testing::TestWithParam<result_case_t> {};

TEST_P(ResultCode, OnFreshReader)
{
    EXPECT_EQ(parse_fresh(GetParam().line).result, GetParam().result) << "line: " << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(Lines, ResultCode, testing::Values(
    // start code and header
    result_case_t{"", IHEX_RESULT_INVALID_LINE},
    result_case_t{" :00000001FF", IHEX_RESULT_INVALID_START_CODE},
    result_case_t{"00000001FF", IHEX_RESULT_INVALID_START_CODE},
    result_case_t{":", IHEX_RESULT_INVALID_LINE},
    result_case_t{":0", IHEX_RESULT_INVALID_LINE},
    result_case_t{":0000000", IHEX_RESULT_INVALID_LINE},
    result_case_t{":0000000G", IHEX_RESULT_INVALID_LINE},
    result_case_t{":0000000AF6", IHEX_RESULT_INVALID_RECORD},
    result_case_t{":00000006FA", IHEX_RESULT_INVALID_RECORD},
    result_case_t{":00000010F0", IHEX_RESULT_INVALID_RECORD},
    // end of file
    result_case_t{":00000001FF", IHEX_RESULT_EOF},
    result_case_t{":00000001ff", IHEX_RESULT_EOF},
    result_case_t{":00000001FF\r\n", IHEX_RESULT_EOF},
    result_case_t{":00000001FF and then anything", IHEX_RESULT_EOF},
    result_case_t{":00000101FE", IHEX_RESULT_INVALID_RECORD},
    result_case_t{":02000001FD", IHEX_RESULT_INVALID_RECORD},
    result_case_t{":00000001FE", IHEX_RESULT_CHECKSUM_MISMATCH},
    result_case_t{":00000001F", IHEX_RESULT_INVALID_LINE},
    // data and line ends
    result_case_t{":02123400DEAD2D", IHEX_RESULT_OK},
    result_case_t{":02123400dEaD2d", IHEX_RESULT_OK},
    result_case_t{":02123400DEAD2D\r\n", IHEX_RESULT_OK},
    result_case_t{":02123400DEAD2D\n\r\n\r", IHEX_RESULT_OK},
    result_case_t{":02123400DEAD2D ", IHEX_RESULT_EXTRA_CHARACTERS},
    result_case_t{":02123400DEAD2D\r\nx", IHEX_RESULT_EXTRA_CHARACTERS},
    result_case_t{":02123400DEAD00", IHEX_RESULT_CHECKSUM_MISMATCH},
    result_case_t{":02123400DE", IHEX_RESULT_INVALID_LINE},
    result_case_t{":02123400DEAD2", IHEX_RESULT_INVALID_LINE},
    result_case_t{":00010000FF", IHEX_RESULT_OK},
    // address records
    result_case_t{":02555502120040", IHEX_RESULT_OK},
    result_case_t{":00000004FC", IHEX_RESULT_INVALID_RECORD},
    result_case_t{":0400000312345678E5", IHEX_RESULT_OK},
    result_case_t{":04000005800123450E", IHEX_RESULT_OK},
    result_case_t{":020000051234B3", IHEX_RESULT_INVALID_RECORD},
    // several faults: the leftmost check wins
    result_case_t{":0000000AXX", IHEX_RESULT_INVALID_RECORD},   // type before checksum digits
    result_case_t{":0X00000AF6", IHEX_RESULT_INVALID_LINE},     // header digit before type
    result_case_t{":02123400DEXX00", IHEX_RESULT_INVALID_LINE}, // data digit before checksum
    result_case_t{":02123400DEAD00 junk", IHEX_RESULT_CHECKSUM_MISMATCH},
    result_case_t{":01000001FFFF", IHEX_RESULT_INVALID_RECORD}  // count wrong for EOF before checksum
));

TEST(Reader, InitClearsEveryField)
{
    ihex_reader_t reader;
    memset(&reader, 0x5A, sizeof reader);
    ihex_reader_init(&reader);
    EXPECT_EQ(reader.record_count, 0u);
    EXPECT_EQ(reader.data_byte_count, 0u);
    EXPECT_EQ(reader.start_address_present, 0);
    EXPECT_EQ(reader.start_address, 0u);
    EXPECT_EQ(reader.base_address, 0u);
}

TEST(Reader, EveryCallCountsEvenEmptyAndFailingOnes)
{
    ihex_reader_t reader;
    ihex_reader_init(&reader);
    parse(&reader, "");
    EXPECT_EQ(reader.record_count, 1u);
    parse(&reader, "garbage");
    parse(&reader, ":00000001FF");
    EXPECT_EQ(reader.record_count, 3u);
}

TEST(Reader, DataRecordGivesAddressLengthAndBytes)
{
    parse_t p = parse_fresh(":02123400DEAD2D");
    ASSERT_EQ(p.result, IHEX_RESULT_OK);
    EXPECT_EQ(p.address, 0x1234u);
    EXPECT_EQ(p.length, 2u);
    EXPECT_EQ(p.data[0], 0xDE);
    EXPECT_EQ(p.data[1], 0xAD);
    EXPECT_EQ(p.data[2], 0xEE) << "nothing is stored beyond the record's bytes";
}

TEST(Reader, EmptyDataRecordIsAcceptedWithLengthZero)
{
    parse_t p = parse_fresh(":00010000FF");
    ASSERT_EQ(p.result, IHEX_RESULT_OK);
    EXPECT_EQ(p.address, 0x0100u);
    EXPECT_EQ(p.length, 0u);
}

TEST(Reader, LongestRecordStoresAll255Bytes)
{
    std::string line = ":FF000000";
    uint32_t sum = 0xFF;
    for (int i = 0; i < 255; i++) {
        char pair[3];
        snprintf(pair, sizeof pair, "%02X", i);
        line += pair;
        sum += i;
    }
    char checksum[3];
    snprintf(checksum, sizeof checksum, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    line += checksum;
    ASSERT_EQ(line.size(), 521u);
    parse_t p = parse_fresh(line.c_str());
    ASSERT_EQ(p.result, IHEX_RESULT_OK);
    EXPECT_EQ(p.length, 255u);
    for (int i = 0; i < 255; i++)
        ASSERT_EQ(p.data[i], i);
}

TEST(Reader, NullDataBufferStillChecksEverything)
{
    ihex_reader_t reader;
    ihex_reader_init(&reader);
    uint32_t address = 0, length = 0;
    EXPECT_EQ(ihex_parse_line(&reader, ":02123400DEAD2D", &address, &length, nullptr), IHEX_RESULT_OK);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(ihex_parse_line(&reader, ":02123400DEAD2E", &address, &length, nullptr), IHEX_RESULT_CHECKSUM_MISMATCH);
    EXPECT_EQ(ihex_parse_line(&reader, ":02123400DEXD2D", &address, &length, nullptr), IHEX_RESULT_INVALID_LINE);
}

TEST(Reader, OtherRecordsSetLengthZeroAndLeaveAddressAndData)
{
    for (const char *line : {":00000001FF", ":020000040800F2", ":020000021234B6", ":0400000508000145A9"}) {
        parse_t p = parse_fresh(line);
        EXPECT_LE(p.result, IHEX_RESULT_EOF) << line;
        EXPECT_EQ(p.length, 0u) << line;
        EXPECT_EQ(p.address, 0xA5A5A5A5u) << line;
        EXPECT_EQ(p.data[0], 0xEE) << line;
    }
}

TEST(Reader, SegmentAndLinearBases)
{
    ihex_reader_t reader;
    ihex_reader_init(&reader);
    ASSERT_EQ(parse(&reader, ":020000021234B6").result, IHEX_RESULT_OK);
    EXPECT_EQ(reader.base_address, 0x00012340u);
    EXPECT_EQ(parse(&reader, ":01001000559A").address, 0x00012350u);
    ASSERT_EQ(parse(&reader, ":020000040800F2").result, IHEX_RESULT_OK);
    EXPECT_EQ(reader.base_address, 0x08000000u);
    EXPECT_EQ(parse(&reader, ":01001000559A").address, 0x08000010u);
    // a segment record replaces a linear base whole
    ASSERT_EQ(parse(&reader, ":020000021234B6").result, IHEX_RESULT_OK);
    EXPECT_EQ(reader.base_address, 0x00012340u);
}

TEST(Reader, DataAtTheTopOfTheAddressSpaceIsNotRangeChecked)
{
    ihex_reader_t reader;
    ihex_reader_init(&reader);
    ASSERT_EQ(parse(&reader, ":02000004FFFFFC").result, IHEX_RESULT_OK);
    parse_t p = parse(&reader, ":10FFF800000102030405060708090A0B0C0D0E0F81");
    EXPECT_EQ(p.result, IHEX_RESULT_OK);
    EXPECT_EQ(p.address, 0xFFFFFFF8u);
    EXPECT_EQ(p.length, 16u);
}

TEST(Reader, StartAddresses)
{
    ihex_reader_t reader;
    ihex_reader_init(&reader);
    ASSERT_EQ(parse(&reader, ":0400000312345678E5").result, IHEX_RESULT_OK);
    EXPECT_EQ(reader.start_address, 0x000179B8u);
    EXPECT_EQ(reader.start_address_present, 1);
    EXPECT_EQ(parse(&reader, ":04000005800123450E").result, IHEX_RESULT_DUPLICATE_START_ADDRESS);
    EXPECT_EQ(reader.start_address, 0x000179B8u) << "a duplicate changes nothing";
    EXPECT_EQ(parse(&reader, ":020000031234B5").result, IHEX_RESULT_INVALID_RECORD) << "byte count is checked first";

    ihex_reader_init(&reader);
    ASSERT_EQ(parse(&reader, ":04000005800123450E").result, IHEX_RESULT_OK);
    EXPECT_EQ(reader.start_address, 0x80012345u);
}

TEST(Reader, StateSurvivesTheEndOfFileRecord)
{
    ihex_reader_t reader;
    ihex_reader_init(&reader);
    parse(&reader, ":020000040800F2");
    parse(&reader, ":0400000508000145A9");
    ASSERT_EQ(parse(&reader, ":00000001FF").result, IHEX_RESULT_EOF);
    EXPECT_EQ(parse(&reader, ":01001000559A").address, 0x08000010u);
    EXPECT_EQ(parse(&reader, ":0400000508000145A9").result, IHEX_RESULT_DUPLICATE_START_ADDRESS);
}

// What a failing line leaves behind.

TEST(ReaderFailure, DataRecordHasCountedAndStoredWhatCameBefore)
{
    ihex_reader_t reader;
    ihex_reader_init(&reader);
    parse_t p = parse(&reader, ":03123400DEAD");
    EXPECT_EQ(p.result, IHEX_RESULT_INVALID_LINE);
    EXPECT_EQ(p.address, 0x1234u);
    EXPECT_EQ(p.length, 3u);
    EXPECT_EQ(reader.data_byte_count, 3u);
    EXPECT_EQ(p.data[0], 0xDE);
    EXPECT_EQ(p.data[1], 0xAD);
    EXPECT_EQ(p.data[2], 0xEE);

    p = parse(&reader, ":02123400DEAD00");
    EXPECT_EQ(p.result, IHEX_RESULT_CHECKSUM_MISMATCH);
    EXPECT_EQ(reader.data_byte_count, 5u);
}

TEST(ReaderFailure, HeaderFaultsChangeNothingButTheCount)
{
    ihex_reader_t reader;
    ihex_reader_init(&reader);
    parse(&reader, ":020000040800F2");
    parse(&reader, ":0400000508000145A9");
    ihex_reader_t before = reader;
    for (const char *line : {"x", ":1", ":0000000AF6", ":00000004FC", ":00000101FE", ":00000001FE",
                             ":04000005800123450E", ":0200000312", ":04000005XX"}) {
        parse_t p = parse(&reader, line);
        EXPECT_NE(p.result, IHEX_RESULT_OK) << line;
        EXPECT_EQ(p.address, 0xA5A5A5A5u) << line;
        EXPECT_EQ(reader.base_address, before.base_address) << line;
        EXPECT_EQ(reader.start_address, before.start_address) << line;
        EXPECT_EQ(reader.data_byte_count, before.data_byte_count) << line;
    }
}

TEST(ReaderFailure, ExtendedAddressKeepsTheDigitsReadSoFar)
{
    ihex_reader_t reader;
    ihex_reader_init(&reader);
    parse(&reader, ":020000040800F2");
    EXPECT_EQ(parse(&reader, ":02000004123").result, IHEX_RESULT_INVALID_LINE);
    EXPECT_EQ(reader.base_address, 0x123u);
    EXPECT_EQ(parse(&reader, ":02000004X").result, IHEX_RESULT_INVALID_LINE);
    EXPECT_EQ(reader.base_address, 0u);
    // a bad checksum comes after the new base was set
    EXPECT_EQ(parse(&reader, ":020000040800F3").result, IHEX_RESULT_CHECKSUM_MISMATCH);
    EXPECT_EQ(reader.base_address, 0x08000000u);
}

TEST(ReaderFailure, StartRecordFailingInItsSecondValue)
{
    ihex_reader_t reader;
    ihex_reader_init(&reader);
    EXPECT_EQ(parse(&reader, ":040000031234").result, IHEX_RESULT_INVALID_LINE);
    EXPECT_EQ(reader.start_address, 0x12340u);
    EXPECT_EQ(reader.start_address_present, 0);

    ihex_reader_init(&reader);
    EXPECT_EQ(parse(&reader, ":0400000512345678E4").result, IHEX_RESULT_CHECKSUM_MISMATCH);
    EXPECT_EQ(reader.start_address, 0x12345678u);
    EXPECT_EQ(reader.start_address_present, 1) << "set before the checksum is checked";
}

TEST(Reader, NeverReadsPastTheTerminator)
{
    // Each prefix of a correct record is copied to a heap block of exactly
    // its length, so AddressSanitizer sees any read beyond the NUL.
    const std::string full = ":10FFF800000102030405060708090A0B0C0D0E0F81\r\n";
    for (size_t n = 0; n <= full.size(); n++) {
        char *line = new char[n + 1];
        memcpy(line, full.data(), n);
        line[n] = '\0';
        int result = parse_fresh(line).result;
        EXPECT_EQ(result, n < 43 ? IHEX_RESULT_INVALID_LINE : IHEX_RESULT_OK) << n;
        delete[] line;
    }
}

} // namespace
