#include "media/encoder/H264FileForm.h"

#include <cstring>
#include <optional>

namespace corvane::h264 {
namespace {

constexpr uint8_t kSpsType = 7;
constexpr uint8_t kPpsType = 8;

// The next 00 00 01 at or after `p`, or `end`.
const uint8_t* nextStartCode(const uint8_t* p, const uint8_t* end) {
    for (; end - p >= 3; ++p) {
        // A third byte above 1 rules out a start code at p, p + 1 and p + 2.
        if (p[2] > 1) {
            p += 2;
            continue;
        }
        if (p[0] == 0 && p[1] == 0 && p[2] == 1) return p;
    }
    return end;
}

// Calls visit(unit, size) for each NAL unit of Annex B bytes, without the zero bytes that pad it
// before the next start code (a unit never ends in a zero byte: its last byte holds the stop bit).
template <typename Visit>
void forEachUnit(const uint8_t* data, size_t size, Visit&& visit) {
    const uint8_t* end = data + size;
    for (const uint8_t* code = nextStartCode(data, end); code < end;) {
        const uint8_t* unit = code + 3;
        code = nextStartCode(unit, end);
        const uint8_t* unitEnd = code;
        while (unitEnd > unit && unitEnd[-1] == 0) --unitEnd;
        if (unitEnd > unit) visit(unit, size_t(unitEnd - unit));
    }
}

// Reads the start of a sequence parameter set (emulation prevention bytes removed on the way).
class SpsReader {
public:
    SpsReader(const uint8_t* unit, size_t size) {
        for (size_t i = 0, zeros = 0; i < size; ++i) {
            if (zeros >= 2 && unit[i] == 3) {
                zeros = 0;
                continue;
            }
            zeros = unit[i] == 0 ? zeros + 1 : 0;
            bytes_.push_back(unit[i]);
        }
    }
    std::optional<uint32_t> bits(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            if (position_ >= bytes_.size() * 8) return std::nullopt;
            value = (value << 1) | ((bytes_[position_ / 8] >> (7 - position_ % 8)) & 1u);
            ++position_;
        }
        return value;
    }
    // Unsigned Exp-Golomb code.
    std::optional<uint32_t> golomb() {
        int zeros = 0;
        for (;;) {
            const auto bit = bits(1);
            if (!bit) return std::nullopt;
            if (*bit) break;
            if (++zeros > 31) return std::nullopt;
        }
        const auto rest = bits(zeros);
        if (!rest) return std::nullopt;
        return uint32_t((uint64_t(1) << zeros) - 1 + *rest);
    }

private:
    std::vector<uint8_t> bytes_;
    size_t position_ = 0;
};

struct ChromaFormat {
    uint32_t chromaFormat = 1;
    uint32_t lumaBitDepthMinus8 = 0;
    uint32_t chromaBitDepthMinus8 = 0;
};

// The profiles whose avcC carries the chroma format and bit depths.
bool hasFormatExtension(uint8_t profile) {
    return profile == 100 || profile == 110 || profile == 122 || profile == 144;
}

std::optional<ChromaFormat> readChromaFormat(const uint8_t* sps, size_t size) {
    SpsReader r(sps, size);
    if (!r.bits(8) || !r.bits(8) || !r.bits(8) || !r.bits(8)) return std::nullopt;  // header, profile, flags, level
    if (!r.golomb()) return std::nullopt;  // seq_parameter_set_id
    ChromaFormat f;
    const auto chroma = r.golomb();
    if (!chroma || *chroma > 3) return std::nullopt;
    f.chromaFormat = *chroma;
    if (f.chromaFormat == 3 && !r.bits(1)) return std::nullopt;  // separate_colour_plane_flag
    const auto luma = r.golomb(), chromaDepth = r.golomb();
    if (!luma || !chromaDepth || *luma > 6 || *chromaDepth > 6) return std::nullopt;
    f.lumaBitDepthMinus8 = *luma;
    f.chromaBitDepthMinus8 = *chromaDepth;
    return f;
}

struct Unit {
    const uint8_t* data;
    size_t size;
};

bool appendUnits(const std::vector<Unit>& units, std::vector<uint8_t>& out) {
    for (const Unit& u : units) {
        if (u.size > 0xFFFF) return false;
        out.push_back(uint8_t(u.size >> 8));
        out.push_back(uint8_t(u.size));
        out.insert(out.end(), u.data, u.data + u.size);
    }
    return true;
}

}  // namespace

bool isAnnexB(const uint8_t* data, size_t size) {
    if (size >= 3 && data[0] == 0 && data[1] == 0 && data[2] == 1) return true;
    return size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1;
}

size_t lengthPrefixedSize(const uint8_t* data, size_t size) {
    size_t total = 0;
    forEachUnit(data, size, [&total](const uint8_t*, size_t n) { total += 4 + n; });
    return total;
}

void writeLengthPrefixed(const uint8_t* data, size_t size, uint8_t* out) {
    forEachUnit(data, size, [&out](const uint8_t* unit, size_t n) {
        const uint32_t length = uint32_t(n);
        *out++ = uint8_t(length >> 24);
        *out++ = uint8_t(length >> 16);
        *out++ = uint8_t(length >> 8);
        *out++ = uint8_t(length);
        std::memcpy(out, unit, n);
        out += n;
    });
}

std::vector<uint8_t> decoderConfiguration(const uint8_t* data, size_t size) {
    std::vector<Unit> sps, pps;
    forEachUnit(data, size, [&](const uint8_t* unit, size_t n) {
        const uint8_t type = unit[0] & 0x1F;
        if (type == kSpsType) sps.push_back({unit, n});
        if (type == kPpsType) pps.push_back({unit, n});
    });
    if (sps.empty() || pps.empty() || sps.size() > 31 || pps.size() > 255 || sps[0].size < 4) return {};
    const uint8_t profile = sps[0].data[1];
    std::vector<uint8_t> out = {1, profile, sps[0].data[2], sps[0].data[3],
                                0xFF,  // 4-byte lengths
                                uint8_t(0xE0 | sps.size())};
    if (!appendUnits(sps, out)) return {};
    out.push_back(uint8_t(pps.size()));
    if (!appendUnits(pps, out)) return {};
    if (hasFormatExtension(profile)) {
        const auto format = readChromaFormat(sps[0].data, sps[0].size);
        if (!format) return {};
        out.push_back(uint8_t(0xFC | format->chromaFormat));
        out.push_back(uint8_t(0xF8 | format->lumaBitDepthMinus8));
        out.push_back(uint8_t(0xF8 | format->chromaBitDepthMinus8));
        out.push_back(0);  // no SPS extensions
    }
    return out;
}

}  // namespace corvane::h264
