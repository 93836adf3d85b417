#pragma once

#include "sealed/SampleGridElements.h"
#include "sealed/SealedKeys.h"

#include <cstdint>
#include <random>
#include <vector>

// Argon2id at libsodium's minimum cost, for tests that open many covers;
// the format's own parameters are used where the cost itself matters.
inline constexpr SealedKdfParameters kCheapKdf { 1, 8192 };

// A cover of `count` byte samples held in memory.
struct ByteCover {
    explicit ByteCover(std::size_t count, std::uint32_t seed = 1)
        : bytes(count)
    {
        std::mt19937 generator(seed);
        for (auto& byte : bytes)
            byte = std::uint8_t(generator());
    }
    CSampleGridElements Elements()
    {
        SampleGrid grid;
        grid.pixels = bytes.data();
        grid.rows = 1;
        grid.pixelsPerRow = bytes.size();
        grid.rowStride = bytes.size();
        grid.pixelBytes = 1;
        grid.channelCount = 1;
        grid.channels[0] = { 0, 0, 0xFF };
        return CSampleGridElements(grid);
    }
    std::vector<std::uint8_t> bytes;
};

inline std::vector<std::uint8_t> RandomBytes(std::size_t count, std::uint32_t seed)
{
    std::mt19937 generator(seed);
    std::vector<std::uint8_t> bytes(count);
    for (auto& byte : bytes)
        byte = std::uint8_t(generator());
    return bytes;
}
