// SPDX-License-Identifier: MIT
// quillkit, the section pool and the image, driven by one table per function
// (README.md says how their rows read).
#include "data_sections.h"
#include "ihex.h"
#include "image/image.h"
#include "quillkit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <random>
#include <sstream>

namespace {

struct token_t {
    std::string text;
    bool quoted;
};
using row_t = std::vector<token_t>;
using std::string;

uint64_t hex(const string &text)
{
    return std::stoull(text, nullptr, 16);
}

// "0A0B" two bytes, "ABx4" AB four times, after those of `out`.
std::vector<uint8_t> bytes(const string &text, std::vector<uint8_t> out = {})
{
    size_t x = text.find('x'), times = x == text.npos ? 1 : std::stoul(text.substr(x + 1));
    for (size_t t = 0; t < times; t++)
        for (size_t i = 0; i + 1 < std::min(x, text.size()); i += 2)
            out.push_back(uint8_t(hex(text.substr(i, 2))));
    return out;
}

string hex_text(const uint8_t *data, uint64_t size)
{
    std::ostringstream text;
    for (uint64_t i = 0; i < size; i++)
        text << std::hex << std::uppercase << std::setw(2) << std::setfill('0') << int(data[i]);
    return text.str();
}

std::vector<row_t> read_table(const string &name)
{
    std::ifstream file(TABLE_DIR "/" + name);
    std::vector<row_t> rows;
    for (string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        if (!isspace(line[0]))
            rows.emplace_back();
        std::istringstream in(line);
        for (token_t t; in >> std::ws && (t.quoted = in.peek() == '"', in >> std::quoted(t.text, '"', '\1'));) {
            for (size_t at; (at = t.text.find('\\')) != t.text.npos;)
                t.text.replace(at, 2, 1, strchr("r\rn\nt\t", t.text[at + 1])[1]);
            for (size_t at; (at = t.text.find('[')) != t.text.npos;) { // "[11x3]": "111111"
                std::vector<uint8_t> run = bytes(t.text.substr(at + 1, t.text.find(']') - at - 1));
                t.text.replace(at, t.text.find(']') + 1 - at, hex_text(run.data(), run.size()));
            }
            rows.back().push_back(t);
        }
    }
    EXPECT_FALSE(rows.empty()) << name;
    return rows;
}

std::pair<string, string> key_value(const string &text)
{
    size_t at = text.find('=');
    return {text.substr(0, at), at == text.npos ? "" : text.substr(at + 1)};
}

// Runs the body once per row, with the row's number in every failure.
#define FOR_EACH_ROW(table, row)                                                                   \
    for (int row_number = 0; row_number == 0; row_number = -1)                                     \
        for (const row_t &row : read_table(table))                                                 \
            if (SCOPED_TRACE(string(table) + " row " + std::to_string(++row_number)); true)

constexpr uint32_t untouched = 0xA5A5A5A5;

TEST(Table, ReadRecords)
{
    FOR_EACH_ROW("ihex_parse_line.table", row)
    {
        ihex_reader_t reader;
        memset(&reader, 0x5A, sizeof reader); // init must set every field
        ihex_reader_init(&reader);
        uint32_t address, length, lines = 0;
        uint8_t data[256], *out = data;
        int result = -1;
        size_t i = 0;
        for (; row[i].text != "->"; i++) {
            out = row[i].text == "null" ? nullptr : out;
            address = length = untouched;
            memset(data, 0xEE, sizeof data);
            // a block of exactly the line's size: the sanitizers see a read past its NUL
            std::vector<char> line(row[i].text.c_str(), row[i].text.c_str() + row[i].text.size() + 1);
            if (row[i].quoted && ++lines)
                result = ihex_parse_line(&reader, line.data(), &address, &length, out);
        }
        EXPECT_EQ(result, std::stoi(row[i + 1].text));
        EXPECT_NE(string(ihex_result_text(result)), ihex_result_text(2)) << "words of its own";
        EXPECT_EQ(reader.record_count, lines);
        std::map<string, uint32_t> got{{"address", address}, {"length", length},
            {"bytes", reader.data_byte_count}, {"base", reader.base_address},
            {"start", reader.start_address}, {"present", reader.start_address_present}};
        for (i += 2; i < row.size(); i++) {
            auto [key, value] = key_value(row[i].text);
            std::vector<uint8_t> want = bytes(value);
            if (key == "data")
                EXPECT_EQ(std::vector<uint8_t>(data, data + want.size() + 1), bytes("EE", want));
            else if (value == "-")
                EXPECT_EQ(got.at(key), untouched) << key;
            else
                EXPECT_EQ(got.at(key), key == "length" || key == "bytes" ? std::stoul(value) : hex(value));
        }
    }
}

TEST(Table, WriteRecords)
{
    FOR_EACH_ROW("ihex_write_line.table", row)
    {
        ihex_writer_t w;
        ihex_writer_init(&w);
        std::deque<std::vector<uint8_t>> blocks;
        uint8_t last = 0;
        for (size_t i = 0; i < row.size(); i++) {
            const string &t = row[i].text;
            auto [key, value] = key_value(t);
            uint32_t v = value.empty() ? 0 : uint32_t(hex(value));
            if (t[0] == '@') {
                blocks.emplace_back();
                while (i + 1 < row.size() && row[i + 1].text.find_first_not_of("0123456789ABCDEFx") == -1ul)
                    blocks.back() = bytes(row[++i].text, blocks.back());
                w.data = blocks.back().data();
                w.address = uint32_t(hex(t.substr(1)));
                w.remaining = uint32_t(blocks.back().size());
            } else if (row[i].quoted || t == "end" || t == "eof" || t == "drop") {
                char line[600];
                memset(line, '#', sizeof line);
                line[1] = '\0';
                EXPECT_EQ(ihex_write_line(&w, line, last), row[i].quoted ? 0 : t == "drop" ? 2 : 1) << t;
                EXPECT_EQ(line, row[i].quoted ? t + "\r\n" : t == "eof" ? ":00000001FF\r\n" : "#");
                EXPECT_EQ(line[strlen(line) + 1], '#') << "written beyond the line's NUL";
            } else if (t == "last") {
                last = 1;
            } else if (key == "start" || t == "flag") { // "flag": the start address that init left
                w.start_address_present = 1;
                w.start_address = key == "start" ? v : w.start_address;
            } else if (key == "mode") {
                w.address_mode = ihex_address_mode_t(v);
            } else if (key == "max" || key == "skip" || key == "fill") {
                (key == "max" ? w.max_record_bytes : key == "skip" ? w.skip_fill : w.fill_value) = v;
            } else {
                std::map<string, uint32_t> got{{"lines", w.line_count},
                    {"bytes", w.data_byte_count}, {"address", w.address}, {"remaining", w.remaining},
                    {"present", w.start_address_present}};
                EXPECT_EQ(got.at(key), key == "lines" || key == "bytes" ? std::stoul(value) : v) << key;
            }
        }
    }
}

TEST(Table, PadAndParseUnsigned)
{
    FOR_EACH_ROW("qkit_pad.table", row)
    {
        alignas(8) uint8_t buffer[64];
        memset(buffer, 0x11, sizeof buffer);
        size_t size = std::stoul(row[2].text);
        qkit_pad(buffer, size, uint32_t(hex(row[1].text)), std::stoi(row[0].text));
        EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + size), bytes(row[4].text));
        EXPECT_EQ(buffer[size], 0x11) << "the byte after the area is untouched";
    }
    FOR_EACH_ROW("qkit_parse_unsigned.table", row)
    {
        const char *text = row[0].text.c_str(), *end = nullptr;
        EXPECT_EQ(qkit_parse_unsigned(text, &end), hex(row[2].text)) << text;
        EXPECT_EQ(end - text, std::stoi(row[3].text)) << text;
    }
}

// Each entry's check value, fed whole, a byte at a time, and over a long
// input (a table on the host) whole and in two odd pieces; each message's
// SHA-256 and Adler-32, fed whole and in pieces of 1 and 97 bytes.
TEST(Table, CrcAndDigests)
{
    const uint8_t *nine = reinterpret_cast<const uint8_t *>("123456789");
    std::vector<uint8_t> in(5000);
    for (size_t i = 0; i < in.size(); i++)
        in[i] = uint8_t(i * 7 + i / 251);
    size_t entries = 0;
    FOR_EACH_ROW("qkit_crc.table", row)
    for (size_t i = 0; i + 1 < row.size(); i += 2) {
        const qkit_crc_t *crc = qkit_crc_find(row[i].text.c_str());
        EXPECT_EQ(crc == nullptr, row[i + 1].text == "none") << row[i].text;
        if (crc == nullptr || ++entries == 0)
            continue;
        auto of = [crc](const uint8_t *data, size_t size, size_t piece) {
            uint32_t state = qkit_crc_begin(crc);
            for (size_t at = 0; at < size; at += piece)
                state = qkit_crc_update(crc, state, data + at, std::min(piece, size - at));
            return qkit_crc_end(crc, state);
        };
        EXPECT_EQ(crc->check, hex(row[i + 1].text)) << crc->name;
        EXPECT_EQ(of(nine, 9, 9), crc->check) << crc->name;
        for (size_t piece : {1, 4097})
            EXPECT_EQ(of(in.data(), in.size(), in.size()), of(in.data(), in.size(), piece)) << crc->name;
    }
    EXPECT_EQ(qkit_crc_catalogue[entries].name, nullptr) << "every entry has its name in the table";
    FOR_EACH_ROW("qkit_digests.table", row)
    {
        string message = row[0].quoted ? row[0].text : "";
        for (size_t times = row[0].quoted ? 0 : std::stoul(row[0].text); times != 0; times--)
            message += row[1].text;
        const uint8_t *data = reinterpret_cast<const uint8_t *>(message.data());
        for (size_t piece : {message.size() + 1, size_t(1), size_t(97)}) {
            qkit_sha256_t sha;
            uint8_t digest[32];
            uint32_t adler = 1;
            qkit_sha256_begin(&sha);
            for (size_t at = 0, n; at < message.size(); at += piece) {
                qkit_sha256_update(&sha, data + at, n = std::min(piece, message.size() - at));
                adler = qkit_adler32(adler, data + at, n);
            }
            qkit_sha256_end(&sha, digest);
            EXPECT_EQ(hex_text(digest, 32), row[row.size() - 2].text) << piece;
            EXPECT_EQ(adler, hex(row.back().text)) << piece;
        }
    }
}

// Feeds `input` to a line buffer in chunks: whole (seed 0), a byte at a time
// (seed 1) or of random sizes, then ends it. Returns the lines it gave.
std::vector<string> feed(const string &input, uint32_t capacity, unsigned seed)
{
    std::vector<char> storage(capacity);
    ihex_line_buffer_t buffer;
    ihex_line_buffer_init(&buffer, storage.data(), capacity);
    std::mt19937 random(seed);
    std::vector<string> lines;
    for (size_t at = 0, size;; at += size) {
        size = std::min<size_t>(seed < 2 ? seed ? 1 : input.size() : 1 + random() % 40, input.size() - at);
        // each chunk in a block of its own size: the sanitizers see a read beyond it
        std::vector<char> chunk(input.begin() + at, input.begin() + at + size);
        const char *next = at == input.size() ? nullptr : chunk.data(); // null: the input has ended
        for (uint32_t done = 0, used;; done += used) {
            int fed = ihex_line_buffer_feed(&buffer, next ? next + done : next, size - done, &used);
            if (fed == IHEX_FEED_MORE) {
                EXPECT_EQ(done + used, size);
                break;
            }
            lines.push_back(fed == IHEX_FEED_LINE ? string(storage.data()) : "too-long");
        }
        if (next == nullptr)
            return lines;
    }
}

TEST(Table, LineBuffer)
{
    FOR_EACH_ROW("ihex_line_buffer_feed.table", row)
    {
        std::vector<string> want;
        for (size_t i = 3; i < row.size(); i++)
            want.push_back(row[i].text);
        for (unsigned seed = 0; seed < 40; seed++)
            EXPECT_EQ(feed(row[1].text, std::stoul(row[0].text), seed), want) << "seed " << seed;
    }
    // real files give in chunks the lines that they give fed whole
    for (const auto &file : std::filesystem::directory_iterator(TABLE_DIR "/data/real")) {
        std::ifstream in(file.path(), std::ios::binary);
        string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (unsigned seed = 1; seed < 6; seed++)
            EXPECT_EQ(feed(text, 522, seed), feed(text, 522, 0)) << file.path() << " seed " << seed;
    }
}

TEST(Table, Image)
{
    FOR_EACH_ROW("image.table", row)
    {
        image_t image;
        image_init(&image, 0, 0);
        size_t i = 0;
        for (; row[i].text != "->"; i++) {
            string text = row[i].text;
            ASSERT_TRUE((i != 0 && text[0] != '/') || image_begin_input(&image));
            auto [address, data] = key_value(text.substr(text[0] == '/'));
            std::vector<uint8_t> block = bytes(data);
            std::copy(block.begin(), block.end(), image_room(&image, block.size()));
            uint64_t offset = image_keep(&image, block.size());
            ASSERT_TRUE(image_add(&image, uint32_t(hex(address)), offset, block.size(), 0));
        }
        ASSERT_TRUE(image_find_regions(&image, false));
        // what the image made, in the row's words (numbers in hex)
        std::ostringstream got, first_wins, want;
        got << std::hex << std::uppercase;
        first_wins << std::hex << std::uppercase;
        for (const image_region_t *r = image.regions.items; r < image.regions.items + image.regions.count; r++) {
            uint64_t size = r->end - r->address;
            string last = hex_text(image_region_bytes(&image, r, IMAGE_LAST_WINS), size);
            string first = hex_text(image_region_bytes(&image, r, IMAGE_FIRST_WINS), size);
            got << (got.tellp() > 0 ? " " : "") << r->address << '=' << last;
            if (first != last)
                first_wins << " first:" << r->address << '=' << first;
        }
        got << first_wins.str();
        for (const image_overlap_t *o = image.overlaps.items; o < image.overlaps.items + image.overlaps.count; o++)
            got << " overlap:" << o->earlier - image.blocks.items << ',' << o->later - image.blocks.items
                << '@' << o->address << '+' << o->end - o->address;
        for (size_t b = 0; b < image.blocks.count && image.input_starts.count > 1; b++)
            got << (b ? "," : " input:") << image_input_of(&image, &image.blocks.items[b]);
        for (i++; i < row.size(); i++)
            want << (want.tellp() > 0 ? " " : "") << row[i].text;
        EXPECT_EQ(got.str(), want.str());
        image_free(&image);
    }
}

TEST(Sections, PoolBlocksKeepTheirBytes)
{
    // About 40 MiB of small sections over several pool blocks, and large ones
    // among them, freed out of order, keep their bytes. (The order of the
    // list is checked end to end, in the properties.)
    std::vector<data_section_t *> sections;
    for (uint32_t i = 0; i < 600000; i++) {
        data_section_t *s = data_section_alloc(i % 1000 == 0 ? 5000 + i % 7 : i % 97);
        *s = {i, i % 1000 == 0 ? 5000 + i % 7 : i % 97, nullptr};
        for (uint32_t j = 0; j < s->size; j++)
            data_section_bytes(s)[j] = uint8_t(i + j);
        sections.push_back(s);
    }
    std::shuffle(sections.begin(), sections.end(), std::mt19937(7));
    for (data_section_t *s : sections) {
        ASSERT_EQ(reinterpret_cast<uintptr_t>(s) % 8, 0u);
        for (uint32_t j = 0; j < s->size; j++)
            ASSERT_EQ(data_section_bytes(s)[j], uint8_t(s->address + j));
        data_section_free(s);
    }
}

TEST(DeathTest, AssertionsStayActiveAndNameTheBrokenContract)
{
    alignas(8) uint8_t buffer[16] = {1};
    EXPECT_DEATH(qkit_pad(buffer, 6, 0, 3), "\\(pad_granularity == 1\\) \\|\\| \\(pad_granularity == 2\\) "
                                            "\\|\\| \\(pad_granularity == 4\\)");
    EXPECT_DEATH(qkit_pad(buffer + 2, 6, 0, 4), "\\(\\(uintptr_t\\)buffer & \\(pad_granularity - 1\\)\\)");
    EXPECT_DEATH(qkit_pad(buffer, 6, 0, 4), "\\(size & \\(pad_granularity - 1\\)\\) == 0");
    ihex_writer_t w;
    ihex_writer_init(&w);
    w.address_mode = ihex_address_mode_t(7);
    w.data = buffer;
    w.remaining = 1;
    char line[80];
    EXPECT_DEATH(ihex_write_line(&w, line, 0), "Assertion `0' failed");
}

} // namespace
