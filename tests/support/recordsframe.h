#ifndef ZELMORA_TESTS_RECORDSFRAME_H
#define ZELMORA_TESTS_RECORDSFRAME_H

#include <array>
#include <cstddef>
#include <vector>

// The records frame for the given cells, packed 63 frame bytes per report
// behind a count byte, padded or cut to `reports` reports. Written apart from
// the program's own framing so that it can check it.
inline std::vector<unsigned char> recordsBuffer(const std::vector<std::array<unsigned char, 4>> &cells, int reports,
                                                int closingWord)
{
    std::vector<unsigned char> frame = {0xAB, 0xCD, 0x00, 0x00, 0x53, 0x00, 0x00};
    for (const auto &c : cells)
        frame.insert(frame.end(), c.begin(), c.end());
    frame.push_back(static_cast<unsigned char>(closingWord & 0xFF));
    frame.push_back(static_cast<unsigned char>((closingWord >> 8) & 0xFF));
    std::vector<unsigned char> buf(static_cast<std::size_t>(reports) * 64, 0);
    std::size_t out = 0;
    for (unsigned char byte : frame) {
        if (out % 64 == 0)
            ++out; // the count byte
        if (out >= buf.size())
            break;
        buf[out++] = byte;
    }
    return buf;
}

#endif
