#pragma once
// Helpers shared by the loader, the saver and the frame list.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace id3v2 {

// Inserts a zero after every 0xFF followed by zero, by 0xE0 or more, or by the end.
std::vector<uint8_t> Unsync(const uint8_t* p, size_t n);
// Drops every zero that follows 0xFF: the inverse of Unsync.
std::vector<uint8_t> Resync(const uint8_t* p, size_t n);
size_t ResyncedSize(const uint8_t* p, size_t n);

bool Deflate(const uint8_t* in, size_t size, int zlevel, std::vector<uint8_t>& out);
// Inflates at most limit bytes; truncated says more would have come.
bool Inflate(const uint8_t* in, size_t size, size_t limit, std::vector<uint8_t>& out,
             bool& truncated);

inline uint32_t Synchsafe(const uint8_t* p) {
    return uint32_t(p[0] & 0x7F) << 21 | uint32_t(p[1] & 0x7F) << 14 | uint32_t(p[2] & 0x7F) << 7 |
           uint32_t(p[3] & 0x7F);
}
inline uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline void PutSynchsafe(uint8_t* p, uint32_t v) {
    p[0] = uint8_t((v >> 21) & 0x7F);
    p[1] = uint8_t((v >> 14) & 0x7F);
    p[2] = uint8_t((v >> 7) & 0x7F);
    p[3] = uint8_t(v & 0x7F);
}
inline void PutBigEndian32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
// A 10-byte ID3v2 header: "ID3", version and revision not 255, size bytes below 128.
inline bool ValidHeader(const uint8_t* h) {
    return h[0] == 'I' && h[1] == 'D' && h[2] == '3' && h[3] != 0xFF && h[4] != 0xFF &&
           h[6] < 0x80 && h[7] < 0x80 && h[8] < 0x80 && h[9] < 0x80;
}

} // namespace id3v2
