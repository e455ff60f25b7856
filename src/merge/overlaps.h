// SPDX-License-Identifier: MIT
// overlaps.h: bytes that two inputs (or two records of one) both give: the
// policies that settle them and the words that tell them, both sides named.
#pragma once

#include "image/image.h"
#include "inputs/inputs.h"

// error: any byte given twice ends the run; same: one given twice with
// different values does; first and last: the earlier or the later block's
// byte stays, with a warning.
enum overlap_policy_t { OVERLAP_ERROR, OVERLAP_SAME, OVERLAP_FIRST, OVERLAP_LAST };

// "error", "same", "first" or "last" into *policy; false for anything else.
bool overlap_policy_read(const char *text, overlap_policy_t *policy);

// The overlap that the policy refuses at the lowest address, that address
// in *at; null when it accepts every one (first and last always do).
const image_overlap_t *overlaps_refused(const image_t *image, overlap_policy_t policy, uint64_t *at);

// Applies the policy to the overlaps image_find_regions found: an error ends
// the run, naming the lowest address given twice (with "same", given twice
// with different values) and both sides; with "first" and "last", each run
// of overlaps of the same two inputs is a warning.
void overlaps_resolve(const image_t *image, const input_t *inputs, overlap_policy_t policy);

// The report of -i: the merged regions, every run of overlaps, and whether
// its bytes agree.
void overlaps_report(const image_t *image, const input_t *inputs);
