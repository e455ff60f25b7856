// SPDX-License-Identifier: MIT
// split.cpp: the bytes of an output of interleaved memories: one lane of
// every group of lanes, placed one after another.
#include "outputs/writers.h"

#include "cli/command.h"

#include <algorithm>
#include <cstdlib>

bool split_view(const image_view_t *view, const output_split_t *split, image_view_t *lane, uint8_t **storage)
{
    // A byte at A is kept when A mod (N * W) lies in [B * W, B * W + W), and
    // goes to (A div (N * W)) * W + A mod W: addresses keep their order, so
    // each run of the view gives one run of the lane.
    uint64_t group = uint64_t(split->count) * split->width, from = uint64_t(split->byte) * split->width;
    uint64_t room = 0;
    size_t index = 0;
    for (uint64_t first, end; image_view_run(view, &index, &first, &end);)
        room += (end - first) / group * split->width + 2 * split->width;
    *lane = image_view_t{{}, view->pad, nullptr, nullptr};
    *storage = static_cast<uint8_t *>(malloc(std::max<uint64_t>(room, 1)));
    if (*storage == nullptr)
        return false;
    uint8_t *out = *storage;
    size_t cursor = 0;
    index = 0;
    uint8_t *scratch = static_cast<uint8_t *>(allocate(split->width));
    for (uint64_t first, end; image_view_run(view, &index, &first, &end);) {
        const uint8_t *run_start = out;
        uint64_t lane_first = 0;
        for (uint64_t frame = first / group * group; frame < end; frame += group) {
            uint64_t lane_at = std::max(first, frame + from), lane_end = std::min(end, frame + from + split->width);
            if (lane_at >= lane_end)
                continue;
            uint64_t to = frame / group * split->width + lane_at % split->width;
            if (out != run_start && to != lane_first + uint64_t(out - run_start)) { // a gap in the lane: a new piece
                if (!image_view_add(lane, uint32_t(lane_first), lane_first + uint64_t(out - run_start), run_start))
                    return false;
                run_start = out;
            }
            if (out == run_start)
                lane_first = to;
            const uint8_t *bytes = image_view_bytes(view, &cursor, lane_at, lane_end - lane_at, scratch);
            std::copy(bytes, bytes + (lane_end - lane_at), out);
            out += lane_end - lane_at;
        }
        if (out != run_start && !image_view_add(lane, uint32_t(lane_first), lane_first + uint64_t(out - run_start),
                                                run_start))
            return false;
    }
    free(scratch);
    return true;
}
