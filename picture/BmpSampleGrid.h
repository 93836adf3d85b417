#pragma once

#include "picture/SampleGrid.h"

#include <cstdint>
#include <span>
#include <string>

// The colour samples of a bitmap file held in memory, for carriers that change
// sample values rather than the stored bits that the compatible format uses.
// The pixel array is read where the file header says it starts (bfOffBits),
// rows of 32-bit-padded length, |biHeight| of them.
//
// Samples exist in uncompressed bitmaps of 16 bits (5-5-5, or the three masks
// of a bit-field bitmap), 24 bits, 32 bits (blue, green and red bytes; the
// fourth byte is left alone; or the three masks of a bit-field bitmap) and in
// 8-bit bitmaps whose colour table is the grey ramp 0-255 in index order, so
// that a step of the index is a step of the grey level. Every other bitmap has
// no samples: `reason` then says why, in one sentence.
[[nodiscard]] bool DescribeBmpSamples(std::span<std::uint8_t> file, SampleGrid& grid, std::string& reason);
