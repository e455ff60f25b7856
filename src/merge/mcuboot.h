// SPDX-License-Identifier: MIT
// mcuboot.h: an MCUboot image made of the merged image: its header, the
// protected and unprotected TLVs (SHA-256, key hash or key, signature), and
// with pad the slot's trailer, as MCUboot's bootloader reads them.
#pragma once

#include "image/image.h"

#include <cstddef>
#include <cstdint>

// What --mcuboot SLOT,version=V[,SETTING]... says.
struct mcuboot_t {
    bool given;
    uint32_t first, last;              // the slot
    uint8_t major, minor;              // version=MAJ.MIN.REV+BUILD
    uint16_t revision;
    uint32_t build;
    uint32_t header_size;              // header= (0x200)
    const char *key_path;              // key=: a private key signs, a public key checks signature=
    bool full_public_key;              // public-key=full: the key itself, not its hash
    const char *signature_path;        // signature=: a signature made elsewhere
    const char *digest_path;           // digest=: write the digest to sign, and stop
    uint32_t align, max_align, max_sectors;
    bool pad, confirm, test, overwrite_only;
    bool load_address_given;
    uint32_t load_address;
    bool counter_given, counter_auto;  // security-counter=N|auto
    uint32_t counter;
    bool big_endian;
    uint8_t erased;
    bool info_only;                    // -i: digest= is not written either
};

// Reads --mcuboot's value; a bad one is a usage error naming the setting.
void mcuboot_read(mcuboot_t *mcuboot, const char *value);

/*
 * Makes the image of the slot from `view` (the data, fills and stamps): the
 * data must lie inside the slot after its header, none in the header; the
 * bytes from the header's end to the last one given, gaps of the erased
 * value, are the image. The view is replaced by the header, the image, its
 * TLVs and, with pad, image_ok and the trailer's magic, its pad the erased
 * value; the caller frees the bytes with mcuboot_free. Reports one line.
 * With digest=, writes the digest to sign instead and returns false: the run
 * writes nothing else.
 */
bool mcuboot_build(const mcuboot_t *mcuboot, image_view_t *view);
void mcuboot_free();
