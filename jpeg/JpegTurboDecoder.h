#pragma once

#include "jpeg/JpegStatus.h"

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

// Pixels of a JPEG file that the own baseline decoder does not read
// (progressive, arithmetic-coded, RGB-coded, CMYK, several scans, ...),
// decoded by libjpeg-turbo into the same layout the own decoder gives.
struct JpegTurboPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // Sampling factors (H, V) of each component of the frame.
    std::vector<std::pair<int, int>> sampling;
    // Bottom-up rows of B, G, R bytes, each padded with zeros to a multiple
    // of 4 bytes, as in a Windows DIB.
    std::vector<std::uint8_t> pixels;
};

// Grey, YCbCr and RGB files are converted by libjpeg-turbo. CMYK and YCCK
// files are read as CMYK and turned into RGB by R = C x K / 255 (and so on
// for M and Y), taking the samples as Adobe's programs store them, inverted
// (255 is no ink). A damaged file is refused, not patched up.
JpegResult DecodeJpegWithTurbo(std::span<const std::uint8_t> file, JpegTurboPicture& picture);
