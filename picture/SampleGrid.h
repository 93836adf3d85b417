#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Where the colour samples of an uncompressed pixel array lie, so that code
// which changes samples by one step needs no knowledge of the file format.
//
// The array is `rows` rows of `pixelsPerRow` pixels, `rowStride` bytes apart.
// Each pixel is `pixelBytes` bytes; its colour channels are bit fields of a
// `wordBytes`-byte word (1, 2 or 4 bytes, little- or big-endian) that starts
// `byteOffset` bytes into the pixel. Samples are numbered row by row in the
// order the rows are stored, pixel by pixel within a row and channel by
// channel within a pixel. Bytes that are not colour samples (alpha, unused
// pixel bits, row padding) are never addressed.
struct SampleChannel {
    std::uint8_t byteOffset = 0; // from the start of the pixel
    std::uint8_t shift = 0; // lowest bit of the field within the word
    std::uint32_t maxValue = 0; // all ones over the field's width
};

struct SampleGrid {
    static constexpr std::size_t kMaxChannels = 4;

    std::uint8_t* pixels = nullptr; // first stored row
    std::size_t rowStride = 0;
    std::size_t rows = 0;
    std::size_t pixelsPerRow = 0;
    std::size_t pixelBytes = 0;
    unsigned wordBytes = 1;
    bool bigEndian = false;
    std::size_t channelCount = 0;
    std::array<SampleChannel, kMaxChannels> channels {};
    // When set, one flag per row that a change of one of the row's samples
    // sets (the PNG encoder deflates again only the changed rows).
    std::uint8_t* changedRows = nullptr;

    std::uint64_t SampleCount() const { return std::uint64_t(rows) * pixelsPerRow * channelCount; }
};
