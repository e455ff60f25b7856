// Ordered insertion against a plain reference, and consolidation.
#include "data_sections.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <random>
#include <vector>

namespace {

data_section_t *make_section(uint32_t address, uint32_t size, uint8_t first_byte)
{
    data_section_t *s = data_section_alloc(size);
    s->address = address;
    s->size = size;
    s->next = nullptr;
    for (uint32_t i = 0; i < size; i++)
        data_section_bytes(s)[i] = uint8_t(first_byte + i);
    return s;
}

void free_list(data_section_t *s)
{
    while (s != nullptr) {
        data_section_t *next = s->next;
        data_section_free(s);
        s = next;
    }
}

// The reference: after the last section whose address is below the new one,
// found by walking from the head.
std::vector<int> reference_order(const std::vector<uint32_t> &addresses)
{
    std::vector<int> order;
    for (int i = 0; i < int(addresses.size()); i++) {
        size_t at = 0;
        while (at < order.size() && addresses[order[at]] < addresses[i])
            at++;
        order.insert(order.begin() + at, i);
    }
    return order;
}

// Inserts sections whose size field carries their arrival number.
void check_order(const std::vector<uint32_t> &addresses)
{
    data_section_list_t list;
    data_sections_list_init(&list);
    for (size_t i = 0; i < addresses.size(); i++)
        data_sections_append(&list, make_section(addresses[i], uint32_t(i), 0));
    data_sections_list_finish(&list);

    std::vector<int> got;
    data_section_t *last = nullptr;
    for (data_section_t *s = list.head; s != nullptr; s = s->next) {
        got.push_back(int(s->size));
        last = s;
    }
    EXPECT_EQ(list.tail, last);
    EXPECT_EQ(got, reference_order(addresses));
    free_list(list.head);
}

TEST(Insert, AscendingDescendingAndTies)
{
    check_order({0, 16, 32, 48});
    check_order({48, 32, 16, 0});
    check_order({16, 16, 16});      // later ones in front
    check_order({0, 32, 16, 16, 8, 32, 0});
}

TEST(Insert, ReversedAscendingBlocks)
{
    std::vector<uint32_t> addresses;
    for (int block = 20; block >= 0; block--)
        for (int record = 0; record < 50; record++)
            addresses.push_back(uint32_t(block * 0x10000 + record * 16));
    check_order(addresses);
}

TEST(Insert, RandomOrderWithManyTies)
{
    std::mt19937 random(12345);
    for (int round = 0; round < 20; round++) {
        std::vector<uint32_t> addresses(1500);
        for (uint32_t &a : addresses)
            a = random() % (round % 2 == 0 ? 64 : 100000);
        check_order(addresses);
    }
}

TEST(Insert, FewLongRunsThatInterleave)
{
    // long ascending runs at random places: merged rather than sorted whole
    std::mt19937 random(99);
    std::vector<uint32_t> addresses;
    for (int run = 0; run < 40; run++) {
        uint32_t at = random() % 5000;
        for (int i = 0; i < 200; i++)
            addresses.push_back(at + uint32_t(i) * (1 + random() % 3));
    }
    check_order(addresses);
}

TEST(Insert, InterleavedAscendingStreams)
{
    std::vector<uint32_t> addresses;
    for (uint32_t i = 0; i < 3000; i++)
        addresses.push_back((i % 3) * 0x100000 + (i / 3) * 16);
    check_order(addresses);
}

TEST(SectionMemory, ManyBlocksFreedInAnyOrderKeepTheirBytes)
{
    // about 40 MiB of small sections spread over several blocks, some large
    // ones between them; freed out of order (the leak checkers see the rest)
    std::vector<data_section_t *> sections;
    for (uint32_t i = 0; i < 600000; i++) {
        uint32_t size = i % 1000 == 0 ? 5000 + i % 7 : i % 97;
        data_section_t *s = make_section(i, size, uint8_t(i));
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(reinterpret_cast<uintptr_t>(s) % 8, 0u);
        sections.push_back(s);
    }
    std::mt19937 random(7);
    std::shuffle(sections.begin(), sections.end(), random);
    for (data_section_t *s : sections) {
        for (uint32_t i = 0; i < s->size; i++)
            ASSERT_EQ(data_section_bytes(s)[i], uint8_t(s->address + i));
        data_section_free(s);
    }
}

struct region_t {
    uint32_t address;
    uint32_t size;
};

std::vector<region_t> consolidate(std::vector<region_t> sections, std::vector<uint8_t> *bytes)
{
    data_section_t *head = nullptr, *tail = nullptr;
    uint8_t next_byte = 0;
    for (const region_t &r : sections) {
        data_section_t *s = make_section(r.address, r.size, next_byte);
        next_byte = uint8_t(next_byte + r.size);
        (tail ? tail->next : head) = s;
        tail = s;
    }
    std::vector<region_t> out;
    data_section_t *result = data_sections_consolidate(head);
    for (data_section_t *s = result; s != nullptr; s = s->next) {
        out.push_back({s->address, s->size});
        bytes->insert(bytes->end(), data_section_bytes(s), data_section_bytes(s) + s->size);
    }
    free_list(result);
    return out;
}

bool operator==(const region_t &a, const region_t &b)
{
    return a.address == b.address && a.size == b.size;
}

TEST(Consolidate, AdjacentSectionsMergeInOrder)
{
    std::vector<uint8_t> bytes;
    EXPECT_EQ(consolidate({{0, 16}, {16, 16}, {32, 16}}, &bytes), (std::vector<region_t>{{0, 48}}));
    ASSERT_EQ(bytes.size(), 48u);
    for (int i = 0; i < 48; i++)
        ASSERT_EQ(bytes[i], i);
}

TEST(Consolidate, GapsOverlapsAndTiesStaySeparate)
{
    std::vector<uint8_t> bytes;
    EXPECT_EQ(consolidate({{0, 16}, {17, 4}}, &bytes), (std::vector<region_t>{{0, 16}, {17, 4}}));
    EXPECT_EQ(consolidate({{0, 16}, {8, 16}}, &bytes), (std::vector<region_t>{{0, 16}, {8, 16}}));
    EXPECT_EQ(consolidate({{4, 2}, {4, 2}, {6, 1}}, &bytes), (std::vector<region_t>{{4, 2}, {4, 3}}));
}

TEST(Consolidate, AcrossA64KiBBoundaryAndSingleSection)
{
    std::vector<uint8_t> bytes;
    EXPECT_EQ(consolidate({{0x1FFF0, 16}, {0x20000, 16}}, &bytes), (std::vector<region_t>{{0x1FFF0, 32}}));
    bytes.clear();
    EXPECT_EQ(consolidate({{0x08000000, 3}}, &bytes), (std::vector<region_t>{{0x08000000, 3}}));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0, 1, 2}));
}

} // namespace
