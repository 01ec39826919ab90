// The check of a .dnt file's bytes: common start, version 3 and version 2.
#include "dante/dfa/dfa_dntchk.h"
#include "dante/dfa/dfa_internal.h"

#include <cstring>

namespace {

constexpr uint8_t kManufacturer[DFA_MODEL_ID_SIZE] = {'V', 'a', 'l', 'd', 'o', 'r', 0, 0};
constexpr uint64_t kV3HeaderSize = 60;
constexpr uint64_t kV2HeaderSize = 28;
constexpr uint64_t kDescriptorSize = 16;
// Fields of the capability part.
constexpr uint64_t kCapDirectoryWord = 14;
constexpr uint64_t kCapRecordWord = 28;
constexpr uint64_t kCapRecordSize = 292;

// The bytes of the file, or of one part of it; every read is bounded by it.
struct Span {
    const uint8_t* data;
    uint64_t size;

    bool holds(uint64_t offset, uint64_t length) const { return offset <= size && length <= size - offset; }
    uint8_t u8(uint64_t at) const { return data[at]; }
    uint16_t be16(uint64_t at) const { return static_cast<uint16_t>(data[at] << 8 | data[at + 1]); }
    uint32_t be32(uint64_t at) const
    {
        return uint32_t(data[at]) << 24 | uint32_t(data[at + 1]) << 16 | uint32_t(data[at + 2]) << 8 | data[at + 3];
    }
    Span sub(uint64_t offset, uint64_t length) const { return Span{data + offset, length}; }
};

// Manufacturer-versions record of a capability part; all zero when absent.
struct Capability {
    uint8_t manf_id[DFA_MODEL_ID_SIZE];
    uint8_t model_id[DFA_MODEL_ID_SIZE];
    char model_name[32];
    DfaVersion fw;
    DfaVersion sw;
};

DfaVersion capVersion(const Span& s, uint64_t at)
{
    return DfaVersion{s.u8(at), s.u8(at + 1), s.be16(at + 2), s.be32(at + 4)};
}

DfaVersion releaseVersion(uint32_t word)
{
    return DfaVersion{uint8_t(word >> 24), uint8_t(word >> 16), uint16_t((word >> 8) & 0xFF), word & 0xFF};
}

// Part id to part bit; false for an id the check does not know.
bool partBit(uint32_t partId, uint32_t* bit)
{
    switch (partId) {
    case 1:
        *bit = DNT_PART_BIT_1;
        return true;
    case 2:
        *bit = 0;
        return true;
    case 6:
        *bit = DNT_PART_BIT_6;
        return true;
    case 9:
        *bit = DNT_PART_BIT_CAPABILITY;
        return true;
    case 11:
        *bit = DNT_PART_BIT_11;
        return true;
    case 12:
        *bit = DNT_PART_BIT_12;
        return true;
    default:
        return false;
    }
}

bool platformOf(uint32_t deviceCode, uint8_t* platform)
{
    const char* name = deviceCode == DNT_DEVICE_BKLYN2 ? "Bklyn2"
        : deviceCode == DNT_DEVICE_BKLYN3              ? "Bklyn3"
                                                       : nullptr;
    if (name == nullptr) {
        dfa_print("[dntchk] Device Code [%08x] illegal.\n", deviceCode);
        return false;
    }
    std::memset(platform, 0, DFA_MODEL_ID_SIZE);
    std::memcpy(platform, name, std::strlen(name));
    return true;
}

// Walks the capability part: T at 14, M at the word at T + 28, the record's
// fields up to M + 292, each inside the part. Offsets of 0 mean no record.
DfaResult readCapability(const Span& part, Capability* cap)
{
    *cap = Capability{};
    uint16_t directory = 0;
    uint16_t record = 0;
    if (!part.holds(kCapDirectoryWord, 2))
        goto cut;
    directory = part.be16(kCapDirectoryWord);
    if (directory != 0) {
        if (!part.holds(uint64_t(directory) + kCapRecordWord, 2))
            goto cut;
        record = part.be16(uint64_t(directory) + kCapRecordWord);
    }
    if (record == 0) {
        dfa_print("[dntchk] No manufacturer version information are exist.\n");
        return DFA_ERR_NOERR;
    }
    if (!part.holds(record, kCapRecordSize))
        goto cut;
    {
        char manf[17];
        char model[17];
        std::memcpy(cap->manf_id, part.data + record + 4, DFA_MODEL_ID_SIZE);
        std::memcpy(cap->model_id, part.data + record + 12, DFA_MODEL_ID_SIZE);
        std::memcpy(cap->model_name, part.data + record + 148, sizeof cap->model_name);
        cap->sw = capVersion(part, record + 276);
        cap->fw = capVersion(part, record + 284);
        char name[33] = {};
        std::memcpy(name, cap->model_name, sizeof cap->model_name);
        dfa_print("[dntchk] manf_id=%s,", dfa_dntchk_id_text(cap->manf_id, manf));
        dfa_print(" model_id=%s, model_name=%s, sw_ver=%u.%u.%u.%u, fw_ver=%u.%u.%u.%u\n",
            dfa_dntchk_id_text(cap->model_id, model), name, cap->sw.major, cap->sw.minor, cap->sw.bugfix, cap->sw.build,
            cap->fw.major, cap->fw.minor, cap->fw.bugfix, cap->fw.build);
    }
    return DFA_ERR_NOERR;
cut:
    dfa_print("[dntchk] Capability part is shorter than its fields. Size:%u\n", static_cast<unsigned>(part.size));
    return DFA_ERR_DNT_FORMAT;
}

// --- version 3 -------------------------------------------------------------

struct V3Header {
    uint64_t headerLength;
    uint64_t pdOffset, pdCount, pdSize;
    uint64_t mdOffset, mdCount, mdSize;
};

struct PartDesc {
    uint32_t id;
    uint32_t release;
    uint32_t offset;
    uint32_t size;
};

DfaResult checkV3Tables(const Span& file, const V3Header& h)
{
    if (h.pdCount == 0 || h.mdCount == 0) {
        dfa_print("[dntchk] Zero descriptors. Pd:%d Md:%d\n", int(h.pdCount), int(h.mdCount));
        return DFA_ERR_DNT_FORMAT;
    }
    if (h.pdCount > DNT_MAX_DESCRIPTORS || h.mdCount > DNT_MAX_DESCRIPTORS) {
        dfa_print("[dntchk] Too many descriptors. Pd:%u Md:%u\n", unsigned(h.pdCount), unsigned(h.mdCount));
        return DFA_ERR_DNT_FORMAT;
    }
    if (h.headerLength < kV3HeaderSize || h.headerLength > file.size) {
        dfa_print("[dntchk] Header length [%08X] does not fit the file [%u].\n", unsigned(h.headerLength),
            unsigned(file.size));
        return DFA_ERR_DNT_FORMAT;
    }
    if (h.pdSize < kDescriptorSize || h.mdSize < kDescriptorSize) {
        dfa_print("[dntchk] Descriptor size too small. PdSize:%u MdSize:%u\n", unsigned(h.pdSize), unsigned(h.mdSize));
        return DFA_ERR_DNT_FORMAT;
    }
    const uint64_t pdEnd = h.pdOffset + h.pdCount * h.pdSize;
    if (pdEnd > h.mdOffset) {
        dfa_print("[dntchk] Descriptors Error (End of PD and Start of MD).\n");
        dfa_print("         PdOffset:%08X PdSize:%d PdNum:%d PdEnd:%08X MdOffset:%08X\n", unsigned(h.pdOffset),
            int(h.pdSize), int(h.pdCount), unsigned(pdEnd), unsigned(h.mdOffset));
        return DFA_ERR_DNT_FORMAT;
    }
    const uint64_t mdEnd = h.mdOffset + h.mdCount * h.mdSize;
    if (mdEnd > h.headerLength) {
        dfa_print("[dntchk] Descriptors Error (End of MD and Header Length).\n");
        dfa_print("         MdOffset:%08X MdSize:%d MdNum:%d MdEnd:%08X HeaderLength:%08X\n", unsigned(h.mdOffset),
            int(h.mdSize), int(h.mdCount), unsigned(mdEnd), unsigned(h.headerLength));
        return DFA_ERR_DNT_FORMAT;
    }
    return DFA_ERR_NOERR;
}

DfaResult readPartDescs(const Span& file, const V3Header& h, PartDesc* parts)
{
    for (uint64_t i = 0; i < h.pdCount; ++i) {
        const uint64_t at = h.pdOffset + i * h.pdSize;
        PartDesc& p = parts[i];
        p = PartDesc{file.be32(at), file.be32(at + 4), file.be32(at + 8), file.be32(at + 12)};
        dfa_print("[dntchk] part descriptor:%d\n", int(i));
        dfa_print("  part_id:%04x release_version:%08x offset:%08x size:%08x\n", p.id, p.release, p.offset, p.size);
        if (!file.holds(h.headerLength + p.offset, p.size)) {
            dfa_print("[dntchk] Part of part descriptor No.%d lies outside the file. Offset:%08x Size:%08x\n", int(i),
                p.offset, p.size);
            return DFA_ERR_DNT_FORMAT;
        }
    }
    return DFA_ERR_NOERR;
}

DfaResult fillV3Model(const Span& file, const V3Header& h, const PartDesc* parts, uint64_t index, DntFileInfo* info)
{
    const uint64_t at = h.mdOffset + index * h.mdSize;
    DntModelDesc& md = info->md[index];
    std::memcpy(md.model_id, file.data + at, DFA_MODEL_ID_SIZE);
    const uint32_t mask = file.be32(at + 12);
    char id[17];
    dfa_print("[dntchk] model descriptor:%d\n", int(index));
    dfa_print("  model_id:%s part_mask:%04x\n", dfa_dntchk_id_text(md.model_id, id), mask);
    if (h.pdCount < 32 && (mask >> h.pdCount) != 0) {
        dfa_print(
            "[dntchk] part_mask %04x in MD (%d) exceeds the number of PD (%d).\n", mask, int(index), int(h.pdCount));
        return DFA_ERR_DNT_FORMAT;
    }
    for (uint64_t i = 0; i < h.pdCount; ++i) {
        if (((mask >> i) & 1) == 0)
            continue;
        const PartDesc& p = parts[i];
        uint32_t bit = 0;
        if (!partBit(p.id, &bit)) {
            dfa_print("[dntchk] Unknown part_id [%08x] in part descriptor No.%d.\n", p.id, int(i));
            return DFA_ERR_DNT_FORMAT;
        }
        if ((md.parts & bit) != 0) {
            dfa_print("[dntchk] Duplicate part_id [%08x] in model descriptor for %s\n", p.id, id);
            return DFA_ERR_DNT_FORMAT;
        }
        md.parts |= bit;
        if (p.id == 9) {
            Capability cap;
            if (const DfaResult r = readCapability(file.sub(h.headerLength + p.offset, p.size), &cap); r != 0)
                return r;
            char text[17];
            if (!dfa_dntchk_id_equal(cap.manf_id, info->manf_id)) {
                dfa_print("[dntchk] manufacturer_id in capability part [%s] of part descriptor No.%d",
                    dfa_dntchk_id_text(cap.manf_id, text), int(i));
                dfa_print(" is different from V3 header [%s]\n", dfa_dntchk_id_text(info->manf_id, text));
                return DFA_ERR_DNT_FORMAT;
            }
            if (!dfa_dntchk_id_equal(cap.model_id, md.model_id)) {
                dfa_print("[dntchk] manf_model_id in capability part [%s] of part descriptor No.%d",
                    dfa_dntchk_id_text(cap.model_id, text), int(i));
                dfa_print(" is different from model description [%s]\n", id);
                return DFA_ERR_DNT_FORMAT;
            }
            md.fw = cap.fw;
            md.sw = cap.sw;
        } else if (p.id == 1) {
            md.part1 = releaseVersion(p.release);
        } else if (p.id == 12) {
            md.part12 = releaseVersion(p.release);
        }
    }
    return DFA_ERR_NOERR;
}

DfaResult checkV3(const Span& file, DntFileInfo* info)
{
    if (file.size < kV3HeaderSize) {
        dfa_print("[dntchk] File too short for its header. Size:%u\n", unsigned(file.size));
        return DFA_ERR_DNT_FORMAT;
    }
    // Bytes 24 to 27 hold the CRC and count as zero.
    static const uint8_t kZero[4] = {};
    uint32_t crc = dfa_crc32(0, file.data, 24);
    crc = dfa_crc32(crc, kZero, sizeof kZero);
    crc = dfa_crc32(crc, file.data + 28, file.size - 28);

    if (!platformOf(file.be32(16), info->platform))
        return DFA_ERR_DNT_DEVICE_ID;
    info->word12 = file.be32(12);
    info->major = file.u8(20);
    info->minor = file.u8(21);
    info->build = file.be16(22);

    std::memcpy(info->manf_id, file.data + 28, DFA_MODEL_ID_SIZE);
    if (!dfa_dntchk_id_zero(info->manf_id) && std::memcmp(info->manf_id, kManufacturer, DFA_MODEL_ID_SIZE) != 0) {
        char text[17];
        dfa_print("[dntchk] Manufacturer ID error. [%s]\n", dfa_dntchk_id_text(info->manf_id, text));
        return DFA_ERR_DNT_MANF_ID;
    }
    if (const uint32_t stored = file.be32(24); stored != crc) {
        dfa_print("[dntchk] CRC error. In header:[%08x] Calculated:[%08x]\n", stored, crc);
        return DFA_ERR_DNT_CHKSUM;
    }

    const V3Header h{
        file.be32(4), file.be32(36), file.be32(40), file.be32(44), file.be32(48), file.be32(52), file.be32(56)};
    if (const DfaResult r = checkV3Tables(file, h); r != 0)
        return r;
    PartDesc parts[DNT_MAX_DESCRIPTORS];
    if (const DfaResult r = readPartDescs(file, h, parts); r != 0)
        return r;
    for (uint64_t i = 0; i < h.mdCount; ++i) {
        if (const DfaResult r = fillV3Model(file, h, parts, i, info); r != 0)
            return r;
    }
    info->md_count = static_cast<uint8_t>(h.mdCount);
    return DFA_ERR_NOERR;
}

// --- version 2 -------------------------------------------------------------

DfaResult checkV2Layout(const Span& file, uint64_t headerLength, uint64_t count, uint32_t* bits, Span* capability)
{
    uint64_t end = 0;
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t at = kV2HeaderSize + i * 12;
        const uint32_t id = file.be32(at);
        const uint32_t offset = file.be32(at + 4);
        const uint32_t size = file.be32(at + 8);
        uint32_t bit = 0;
        if (!partBit(id, &bit)) {
            dfa_print("[dntchk] Unknown part_id:[%08X] in part No.%d\n", id, int(i));
            return DFA_ERR_DNT_FORMAT;
        }
        *bits |= bit;
        // The part must lie in the file before its bytes are printed.
        if (!file.holds(headerLength + offset, size)) {
            dfa_print("[dntchk] Part:[%d] ID:[%08x] Offset:[%08x] Len:[%08x] lies outside the file.\n", int(i), id,
                offset, size);
            return DFA_ERR_DNT_FORMAT;
        }
        const Span part = file.sub(headerLength + offset, size);
        dfa_print("[dntchk] Part:[%d] ID:[%08x] Offset:[%08x] Len:[%08x] start:[%02x] end:[%02x]\n", int(i), id, offset,
            size, size ? part.u8(0) : 0, size ? part.u8(size - 1) : 0);
        if (offset != end) {
            dfa_print("[dntchk] PartOffset of part:[%d] is not match the end of the former part. Offset:[%08x] "
                      "End:[%08x]\n",
                int(i), offset, unsigned(end));
            return DFA_ERR_DNT_FORMAT;
        }
        end = uint64_t(offset) + size;
        if (id == 9)
            *capability = part;
    }
    if (file.size != headerLength + end) {
        dfa_print("[dntchk] The length of file is not match header information. Real:[%d] Header:[%d]\n",
            int(file.size), int(headerLength + end));
        return DFA_ERR_DNT_FORMAT;
    }
    return DFA_ERR_NOERR;
}

DfaResult checkV2Body(const Span& file, DntFileInfo* info)
{
    if (file.size < kV2HeaderSize) {
        dfa_print("[dntchk] File too short for its header. Size:%u\n", unsigned(file.size));
        return DFA_ERR_DNT_FORMAT;
    }
    if (!platformOf(file.be32(12), info->platform))
        return DFA_ERR_DNT_DEVICE_ID;
    info->major = file.u8(16);
    info->minor = file.u8(17);
    info->build = file.be16(18);

    const uint64_t headerLength = file.be32(4);
    const uint64_t count = file.be32(24);
    if (count == 0) {
        dfa_print("[dntchk] Part number [%d] is illegal.\n", 0);
        return DFA_ERR_DNT_FORMAT;
    }
    // 64-bit, so a count whose product wraps in 32 bits never matches.
    if (headerLength != count * 12 + kV2HeaderSize) {
        dfa_print("[dntchk] Part number [%d] is not match with header length [%d].\n", int(count), int(headerLength));
        return DFA_ERR_DNT_FORMAT;
    }
    if (headerLength > file.size) {
        dfa_print("[dntchk] The length of file is not match header information. Real:[%d] Header:[%d]\n",
            int(file.size), int(headerLength));
        return DFA_ERR_DNT_FORMAT;
    }
    uint32_t bits = 0;
    Span capability{nullptr, 0};
    if (const DfaResult r = checkV2Layout(file, headerLength, count, &bits, &capability); r != 0)
        return r;

    uint32_t sum = 0;
    for (uint64_t i = 0; i < file.size; ++i) {
        if (i < 20 || i > 23)
            sum += file.data[i];
    }
    const uint32_t folded = (sum & 0xFFFF) + (sum >> 16);
    if (const uint32_t stored = file.be32(20); stored != folded) {
        dfa_print("[dntchk] Checksum error. In header:[%08x] Calculated:[%08x]\n", stored, folded);
        return DFA_ERR_DNT_CHKSUM;
    }

    Capability cap{};
    if (capability.data == nullptr) {
        dfa_print("[dntchk] No capability part is exist in v2 format.\n");
    } else if (const DfaResult r = readCapability(capability, &cap); r != 0) {
        return r;
    }
    // Any manufacturer is accepted in version 2.
    std::memcpy(info->manf_id, cap.manf_id, DFA_MODEL_ID_SIZE);
    DntModelDesc& md = info->md[0];
    std::memcpy(md.model_id, cap.model_id, DFA_MODEL_ID_SIZE);
    md.parts = bits;
    md.fw = cap.fw;
    md.sw = cap.sw;
    info->md_count = 1;
    return DFA_ERR_NOERR;
}

DfaResult checkV2(const Span& file, DntFileInfo* info)
{
    const DfaResult r = checkV2Body(file, info);
    if (r != DFA_ERR_NOERR) {
        std::memset(info->manf_id, 0, DFA_MODEL_ID_SIZE);
        info->md_count = 0;
    }
    return r;
}

} // namespace

DfaResult dfa_dntchk_check(const uint8_t* data, size_t size, DntFileInfo* info)
{
    if (info == nullptr || (data == nullptr && size != 0))
        return DFA_ERR_PARAM;
    // Everything but the path is filled here.
    char16_t path[DNT_PATH_CHARS];
    std::memcpy(path, info->path, sizeof path);
    *info = DntFileInfo{};
    std::memcpy(info->path, path, sizeof path);

    const Span file{data, size};
    if (file.size < 12) {
        dfa_print("[dntchk] File too short for its header. Size:%u\n", unsigned(file.size));
        return DFA_ERR_DNT_FORMAT;
    }
    if (std::memcmp(data, "AUDI", 4) != 0) {
        dfa_print("[dntchk] Magic string error. [%c%c%c%c] Must be [AUDI].\n", data[0], data[1], data[2], data[3]);
        return DFA_ERR_DNT_FORMAT;
    }
    info->header_version = file.be32(8);
    DfaResult r = DFA_ERR_DNT_FORMAT;
    if (info->header_version == 3) {
        r = checkV3(file, info);
    } else if (info->header_version == 2) {
        r = checkV2(file, info);
    } else {
        dfa_print("[dntchk] Header Version [%08x] illegal.\n", info->header_version);
    }
    if (r == DFA_ERR_NOERR)
        info->info_exist = 1;
    return r;
}
