#pragma once
// H.264 the way an MP4 file stores it: every NAL unit behind its 4-byte big-endian length, and
// the parameter sets in an AVCDecoderConfigurationRecord ("avcC"). Encoders hand out Annex B
// (start codes before each unit). Handed Annex B, the MP4 muxer scans every byte of every packet
// for start codes at save time; converting each packet once as it is encoded lets a save copy
// the buffer's bytes into the file untouched.
//
// Thread: any; no state.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane::h264 {

// Whether `data` begins with an Annex B start code (00 00 01 or 00 00 00 01).
bool isAnnexB(const uint8_t* data, size_t size);

// The NAL units of the Annex B bytes, each behind its length: lengthPrefixedSize() bytes, which
// writeLengthPrefixed() writes to `out`. Zero bytes that only pad a unit before the next start
// code are dropped, as the MP4 muxer does.
size_t lengthPrefixedSize(const uint8_t* data, size_t size);
void writeLengthPrefixed(const uint8_t* data, size_t size, uint8_t* out);

// The avcC record for Annex B parameter sets (an encoder's global header: SPS and PPS, maybe
// more units, which are left out). Empty when there is no SPS and PPS, or the SPS is unreadable.
std::vector<uint8_t> decoderConfiguration(const uint8_t* data, size_t size);

}  // namespace corvane::h264
