// SPDX-License-Identifier: MIT
// mcuboot.cpp: the slot of an MCUboot image laid out over the merged image:
// header, image, TLVs and trailer, hashed and signed.
#include "merge/mcuboot.h"

#include "cli/command.h"
#include "cli/report.h"
#include "merge/keys.h"
#include "outputs/file.h"
#include "platform/platform.h"
#include "quillkit.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

constexpr uint32_t image_magic = 0x96F3B83D, ram_load = 0x20;
constexpr uint16_t protected_magic = 0x6908, unprotected_magic = 0x6907;
constexpr uint8_t tlv_sha256 = 0x10, tlv_key_hash = 0x01, tlv_public_key = 0x02, tlv_security_counter = 0x50;
static const uint8_t magic_8[16] = {0x77, 0xC2, 0x95, 0xF3, 0x60, 0xD2, 0xEF, 0x7F,
                                    0x35, 0x52, 0x50, 0x0F, 0x2C, 0xB6, 0x79, 0x80};
static const uint8_t magic_tail[14] = {0x2D, 0xE1, 0x5D, 0x29, 0x41, 0x0B, 0x8D,
                                       0x77, 0x67, 0x9C, 0x11, 0x0F, 0x1F, 0x8A};

// The bytes the view's new pieces point into.
static uint8_t *slot_bytes, *tlv_bytes, trailer[64];

void mcuboot_free()
{
    free(slot_bytes);
    free(tlv_bytes);
    slot_bytes = tlv_bytes = nullptr;
}

// Where the next bytes of a header or TLV area go, and their byte order.
struct writer_t {
    uint8_t *at;
    bool big;
};

// A number of `size` bytes in the writer's order.
static void put(writer_t *out, uint64_t value, int size)
{
    for (int i = 0; i < size; i++)
        out->at[i] = uint8_t(value >> (8 * (out->big ? size - 1 - i : i)));
    out->at += size;
}

static void put_bytes(writer_t *out, const uint8_t *bytes, size_t size)
{
    memcpy(out->at, bytes, size);
    out->at += size;
}

// A TLV's type as one byte and a 0 byte, then its length.
static void put_tlv(writer_t *out, uint8_t type, size_t size)
{
    *out->at++ = type;
    *out->at++ = 0;
    put(out, size, 2);
}

// Every piece of the view inside the slot, none in its header.
static void check_places(const mcuboot_t *m, const image_view_t *view)
{
    uint64_t body = uint64_t(m->first) + m->header_size;
    for (const image_piece_t *p = view->pieces.items; p < view->pieces.items + view->pieces.count; p++) {
        const char *what = p->region != nullptr ? "the data" : p->bytes != nullptr ? "a stamp" : "a fill";
        if (p->address < m->first || p->end > uint64_t(m->last) + 1)
            command_error("%s at %08Xh lies outside the MCUboot slot %08Xh - %08Xh",
                          what, uint32_t(p->address < m->first ? p->address : std::max<uint64_t>(p->address, m->last + 1ull)),
                          m->first, m->last);
        if (p->address < body)
            command_error("%s at %08Xh lies in the MCUboot header %08Xh - %08Xh (header=%u): the application is "
                          "linked at %08Xh", what, p->address, m->first, uint32_t(body - 1), m->header_size,
                          uint32_t(body));
    }
}

// The header, the image after it (gaps erased) and the protected TLVs.
static uint64_t lay_out_image(const mcuboot_t *m, const image_view_t *view, uint8_t *protect, size_t *protect_size)
{
    const image_piece_t *pieces = view->pieces.items;
    uint64_t image_end = pieces[view->pieces.count - 1].end, size = image_end - m->first;
    slot_bytes = static_cast<uint8_t *>(allocate(size));
    memset(slot_bytes, m->erased, size);
    memset(slot_bytes, 0, m->header_size);
    for (const image_piece_t *p = pieces; p < pieces + view->pieces.count; p++) {
        uint8_t *to = slot_bytes + (p->address - m->first);
        if (p->bytes != nullptr)
            memcpy(to, p->bytes, p->end - p->address);
        else
            image_pad_fill(view->pad, to, p->address, p->end - p->address);
    }
    writer_t protected_tlvs{protect, m->big_endian};
    if (m->counter_given) {
        put(&protected_tlvs, protected_magic, 2);
        put(&protected_tlvs, 12, 2);
        put_tlv(&protected_tlvs, tlv_security_counter, 4);
        put(&protected_tlvs, m->counter, 4);
    }
    *protect_size = size_t(protected_tlvs.at - protect);
    writer_t header{slot_bytes, m->big_endian};
    put(&header, image_magic, 4);
    put(&header, m->load_address, 4);
    put(&header, m->header_size, 2);
    put(&header, *protect_size, 2);
    put(&header, image_end - m->first - m->header_size, 4);
    put(&header, m->load_address_given ? ram_load : 0, 4);
    put(&header, m->major, 1);
    put(&header, m->minor, 1);
    put(&header, m->revision, 2);
    put(&header, m->build, 4);
    return image_end;
}

// The signature of the digest: made with a private key, or read from
// signature= and checked with the public one.
static size_t signature_of(const mcuboot_t *m, const signing_key_t *key, const uint8_t digest[32], uint8_t *signature,
                           size_t room)
{
    if (key->is_private) {
        size_t size = key_sign(key, digest, signature, room);
        if (size == 0)
            command_error("'%s': the signature could not be made", m->key_path);
        return size;
    }
    if (m->signature_path == nullptr)
        command_error("'%s' is a public key: signature= gives the signature made with its private key, or key= "
                      "names the private key", m->key_path);
    FILE *file = platform_open(m->signature_path, "rb");
    if (file == nullptr)
        file_error("cannot open signature file", m->signature_path);
    size_t size = fread(signature, 1, room, file);
    bool failed = ferror(file) != 0;
    fclose(file);
    if (failed)
        file_error("cannot read signature file", m->signature_path);
    if (!keys_sign)
        command_warning("the signature of '%s' is put in unchecked: this build has no OpenSSL to check it with",
                        m->signature_path);
    else if (!key_verify(key, digest, signature, size))
        command_error("'%s' is no %s signature of this image's digest by '%s'", m->signature_path,
                      key_kind_name(key->kind), m->key_path);
    return size;
}

static void put_hex(const uint8_t *bytes, size_t size)
{
    for (size_t i = 0; i < size; i++)
        report("%02X", bytes[i]);
}

bool mcuboot_build(const mcuboot_t *m, image_view_t *view)
{
    check_places(m, view);
    uint8_t protect[16], digest[32], key_hash[32];
    size_t protect_size;
    uint64_t image_end = lay_out_image(m, view, protect, &protect_size);
    qkit_sha256_t sha;
    qkit_sha256_begin(&sha);
    qkit_sha256_update(&sha, slot_bytes, size_t(image_end - m->first));
    qkit_sha256_update(&sha, protect, protect_size);
    qkit_sha256_end(&sha, digest);
    if (m->digest_path != nullptr && !m->info_only) {
        output_t output;
        if (!output_open(&output, m->digest_path) || fwrite(digest, 1, 32, output.stream) != 32 ||
            !output_close(&output) || !output_commit(&output))
            file_error("cannot write digest file", m->digest_path);
        report("MCUboot: the digest to sign, ");
        put_hex(digest, 32);
        report(", written to '%s'\n", m->digest_path);
        return false;
    }
    signing_key_t key{};
    uint8_t signature[1024];
    size_t signature_size = 0;
    if (m->key_path != nullptr) {
        key_read(&key, m->key_path);
        signature_size = signature_of(m, &key, digest, signature, sizeof signature);
        qkit_sha256_begin(&sha);
        qkit_sha256_update(&sha, key.der, key.der_size);
        qkit_sha256_end(&sha, key_hash);
    }
    size_t key_size = m->key_path == nullptr ? 0 : m->full_public_key ? key.der_size : 32;
    size_t tlv_size = 4 + 4 + 32 + (m->key_path != nullptr ? 4 + key_size + 4 + signature_size : 0);
    tlv_bytes = static_cast<uint8_t *>(allocate(protect_size + tlv_size));
    writer_t tlvs{tlv_bytes, m->big_endian};
    put_bytes(&tlvs, protect, protect_size);
    put(&tlvs, unprotected_magic, 2);
    put(&tlvs, tlv_size, 2);
    put_tlv(&tlvs, tlv_sha256, 32);
    put_bytes(&tlvs, digest, 32);
    if (m->key_path != nullptr) {
        put_tlv(&tlvs, m->full_public_key ? tlv_public_key : tlv_key_hash, key_size);
        put_bytes(&tlvs, m->full_public_key ? key.der : key_hash, key_size);
        put_tlv(&tlvs, key_signature_type(key.kind), signature_size);
        put_bytes(&tlvs, signature, signature_size);
        key_free(&key);
    }
    // the trailer: swap status, four fields of max-align bytes (or two,
    // overwrite-only), and the magic, each in whole max-align units
    uint64_t magic_room = (16 + m->max_align - 1) / m->max_align * m->max_align;
    uint64_t trailer_size = m->overwrite_only ? 2 * m->max_align + magic_room
                                              : uint64_t(m->max_sectors) * 3 * m->align + 4 * m->max_align + magic_room;
    uint64_t slot_size = uint64_t(m->last) + 1 - m->first, used = image_end - m->first + protect_size + tlv_size;
    if (used + trailer_size > slot_size)
        command_error("the MCUboot image (%llu bytes with its header and TLVs) and its trailer (%llu bytes) need "
                      "%llu bytes, more than the slot's %llu", static_cast<unsigned long long>(used),
                      static_cast<unsigned long long>(trailer_size), static_cast<unsigned long long>(used + trailer_size),
                      static_cast<unsigned long long>(slot_size));
    // the new view: header and image, TLVs, and with pad image_ok and the magic
    image_view_free(view);
    *view = image_view_t{{}, image_pad_t{m->erased, 1}, nullptr, nullptr};
    uint64_t slot_end = uint64_t(m->last) + 1, image_ok = slot_end - magic_room - m->max_align;
    bool ok_written = m->pad && !m->overwrite_only && (m->confirm || m->test);
    memset(trailer, m->erased, sizeof trailer);
    trailer[0] = m->confirm ? 0x01 : m->erased;
    writer_t magic{trailer + 32, m->big_endian};
    if (m->max_align == 8) {
        put_bytes(&magic, magic_8, 16);
    } else {
        put(&magic, m->max_align, 2);
        put_bytes(&magic, magic_tail, 14);
    }
    if (!image_view_add(view, m->first, image_end, slot_bytes) ||
        !image_view_add(view, uint32_t(image_end), image_end + protect_size + tlv_size, tlv_bytes) ||
        (ok_written && !image_view_add(view, uint32_t(image_ok), image_ok + m->max_align, trailer)) ||
        (m->pad && !image_view_add(view, uint32_t(slot_end - 16), slot_end, trailer + 32)))
        command_error("cannot allocate memory");
    report("MCUboot: version %u.%u.%u+%u, image %llu bytes at %08Xh, header %u bytes, SHA-256 ", m->major, m->minor,
           m->revision, m->build, static_cast<unsigned long long>(image_end - m->first - m->header_size),
           m->first + m->header_size, m->header_size);
    put_hex(digest, 32);
    report(m->key_path == nullptr ? ", no key" : ", %s key ", key_kind_name(key.kind));
    if (m->key_path != nullptr)
        put_hex(key_hash, 32);
    report(", TLVs at %08Xh, %llu bytes, trailer at %08Xh%s, image_ok %s\n", uint32_t(image_end),
           static_cast<unsigned long long>(protect_size + tlv_size), uint32_t(slot_end - trailer_size),
           m->pad ? "" : " (not written)", m->confirm && !m->overwrite_only ? "set" : "not set");
    return true;
}
