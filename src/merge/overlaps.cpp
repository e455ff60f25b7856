// SPDX-License-Identifier: MIT
// overlaps.cpp: overlaps grouped into runs of the same two inputs, settled
// by the policy, and told with both sides named.
#include "merge/overlaps.h"

#include "cli/command.h"
#include "cli/report.h"

#include <algorithm>
#include <cstring>

static const char *const policy_names[] = {"error", "same", "first", "last"};

bool overlap_policy_read(const char *text, overlap_policy_t *policy)
{
    for (int p = 0; p < 4; p++)
        if (strcmp(text, policy_names[p]) == 0) {
            *policy = overlap_policy_t(p);
            return true;
        }
    return false;
}

// The first address at which the two blocks of an overlap differ, or its end
// when they agree throughout.
static uint64_t first_difference(const image_t *image, const image_overlap_t *overlap)
{
    const uint8_t *a = image_bytes(image, overlap->earlier) + (overlap->address - overlap->earlier->address);
    const uint8_t *b = image_bytes(image, overlap->later) + (overlap->address - overlap->later->address);
    uint64_t length = overlap->end - overlap->address, i = 0;
    while (i < length && a[i] == b[i])
        i++;
    return overlap->address + i;
}

// Overlaps of the same two inputs that follow one another in address order
// (two files that carry the same block overlap record by record), told as
// one: the first and last places of each side, and the range they share.
struct overlap_group_t {
    size_t inputs[2];     // the earlier input, then the later one
    uint32_t places[2][2]; // the first and last place of each side
    uint64_t address, end;
    bool same;             // the bytes given twice agree throughout
};

// A group of one overlap.
static overlap_group_t group_of(const image_t *image, const image_overlap_t *overlap)
{
    overlap_group_t group;
    const image_block_t *sides[2] = {overlap->earlier, overlap->later};
    for (int side = 0; side < 2; side++) {
        group.inputs[side] = image_input_of(image, sides[side]);
        group.places[side][0] = group.places[side][1] = sides[side]->place;
    }
    group.address = overlap->address;
    group.end = overlap->end;
    group.same = first_difference(image, overlap) == overlap->end;
    return group;
}

// Gathers the group that begins at overlaps[i]; returns the index after it.
static size_t group_overlaps(const image_t *image, size_t i, overlap_group_t *group)
{
    const growing_t<image_overlap_t> &overlaps = image->overlaps;
    *group = group_of(image, &overlaps.items[i]);
    for (i++; i < overlaps.count; i++) {
        overlap_group_t next = group_of(image, &overlaps.items[i]);
        if (next.address > group->end || next.inputs[0] != group->inputs[0] || next.inputs[1] != group->inputs[1])
            break;
        for (int side = 0; side < 2; side++) {
            group->places[side][0] = std::min(group->places[side][0], next.places[side][0]);
            group->places[side][1] = std::max(group->places[side][1], next.places[side][1]);
        }
        group->end = std::max(group->end, next.end);
        group->same = group->same && next.same;
    }
    return i;
}

// "'app.hex' line 3 overlaps 'boot.hex' line 1 at 00000002h", or for a
// group "'b.hex' lines 2-9 overlap 'a.hex' lines 2-9 at ...", into `text`.
constexpr size_t overlap_text_size = 2 * input_place_size + 64;
static const char *describe(const image_t *image, const input_t *inputs, const overlap_group_t *group, uint64_t at,
                            char (&text)[overlap_text_size])
{
    char sides[2][input_place_size];
    for (int side = 0; side < 2; side++)
        input_place(&inputs[group->inputs[side]], image, group->places[side][0], group->places[side][1], at,
                    sides[side]);
    bool several = group->places[1][0] != group->places[1][1];
    snprintf(text, sizeof text, "%s overlap%s %s at %08Xh", sides[1], several ? "" : "s", sides[0], uint32_t(at));
    return text;
}

const image_overlap_t *overlaps_refused(const image_t *image, overlap_policy_t policy, uint64_t *at)
{
    const image_overlap_t *worst = nullptr;
    for (size_t i = 0; i < image->overlaps.count && (policy == OVERLAP_ERROR || policy == OVERLAP_SAME); i++) {
        const image_overlap_t *overlap = &image->overlaps.items[i];
        uint64_t refused = policy == OVERLAP_ERROR ? overlap->address : first_difference(image, overlap);
        if (refused < overlap->end && (worst == nullptr || refused < *at)) {
            worst = overlap;
            *at = refused;
        }
    }
    return worst;
}

void overlaps_resolve(const image_t *image, const input_t *inputs, overlap_policy_t policy)
{
    char text[overlap_text_size];
    overlap_group_t group;
    for (size_t i = 0; i < image->overlaps.count && (policy == OVERLAP_FIRST || policy == OVERLAP_LAST);) {
        i = group_overlaps(image, i, &group);
        command_warning("%s - %08Xh", describe(image, inputs, &group, group.address, text), uint32_t(group.end - 1));
    }
    uint64_t worst_at;
    const image_overlap_t *worst = overlaps_refused(image, policy, &worst_at);
    if (worst == nullptr)
        return;
    group = group_of(image, worst);
    command_error("%s%s", describe(image, inputs, &group, worst_at, text),
                  policy == OVERLAP_SAME ? " with another value"
                  : group.same           ? " with the same bytes; --overlap same accepts them"
                                         : "; --overlap first or last chooses which one stays");
}

void overlaps_report(const image_t *image, const input_t *inputs)
{
    report("Data regions:\n");
    for (size_t i = 0; i < image->regions.count; i++) {
        const image_region_t *region = &image->regions.items[i];
        uint64_t size = region->end - region->address;
        report("\tRegion at %08Xh, %llu %s\n", region->address, static_cast<unsigned long long>(size),
               plural(size, "byte", "bytes"));
    }
    if (image->regions.count == 0)
        report("\tnone\n");
    report("Overlaps:\n");
    char text[overlap_text_size];
    overlap_group_t group;
    for (size_t i = 0; i < image->overlaps.count;) {
        i = group_overlaps(image, i, &group);
        report("\t%s - %08Xh, %s\n", describe(image, inputs, &group, group.address, text), uint32_t(group.end - 1),
               group.same ? "the same bytes" : "different bytes");
    }
    if (image->overlaps.count == 0)
        report("\tnone\n");
}
