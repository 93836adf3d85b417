#pragma once

#include "support/TestFiles.h"

#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

// Helpers shared by the JPEG tests: synthetic pictures, PPM files, the
// libjpeg-turbo command-line programs as an oracle, and a scratch folder.

// An RGB picture, top-down rows without padding.
struct RgbPicture {
    int width = 0;
    int height = 0;
    int channels = 3; // 1 for a grey PGM
    std::vector<std::uint8_t> samples;
};

// A smooth, textured, photograph-like picture (deterministic for a seed).
RgbPicture MakeTestPicture(int width, int height, unsigned seed = 1);
RgbPicture MakeUniformPicture(int width, int height, std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// Top-down BGR rows padded to 4 bytes, as CJpegCodec::Encode takes them.
std::vector<std::uint8_t> ToTopDownBgr(const RgbPicture& picture);

bool WritePnm(const std::string& path, const RgbPicture& picture);
bool ReadPnm(const std::string& path, RgbPicture& picture);

// Runs a shell command; returns its exit status and its standard error.
int RunCommand(const std::string& command, std::string* standardError = nullptr);
bool HaveLibjpegTools();

// Differences between a decoded bottom-up BGR DIB pixel array and an RGB
// picture of the same size.
struct PixelDifference {
    double mean = 0;
    int max = 0;
};
PixelDifference ComparePixels(
    std::span<const std::uint8_t> bottomUpBgr, int width, int height, const RgbPicture& reference);

// The JPEG marker segments of a file, in order (marker code, offset of the
// 0xFF, total length including the marker); stops at SOS.
// Writes `picture` as a PNM file in `scratch` and encodes it with cjpeg and the
// given options; returns the JPEG's path. Failures are reported as test
// failures.
std::string MakeCjpegFile(
    const CTempFolder& scratch, const RgbPicture& picture, const std::string& options, const std::string& name);

struct SegmentInfo {
    std::uint8_t marker = 0;
    std::size_t offset = 0;
    std::size_t length = 0;
};
std::vector<SegmentInfo> ListSegments(const std::vector<std::uint8_t>& file);

// A slow, independent reader of the scan of a three-component 4:4:4 file
// with the standard Huffman tables (the files this program writes): decodes
// bit by bit (T.81 Figure F.16) and returns, for every block in coding order
// (Y, Cb, Cr of each MCU), its 64 quantized coefficients in zigzag order (DC
// as the coded difference) and the symbols that coded it.
struct ParsedBlock {
    int coefficients[64] = {};
    std::vector<int> acSymbols;
};
bool ParseOwnScan(const std::vector<std::uint8_t>& file, std::vector<ParsedBlock>& blocks);

// The pixel array of `djpeg -bmp -rgb` for a JPEG file: bottom-up B, G, R
// rows padded to 4 bytes, the layout of a 24-bit DIB. Empty on failure.
std::vector<std::uint8_t> DjpegDibPixels(const CTempFolder& scratch, const std::string& jpegPath);

// A four-component JPEG made with libjpeg from an RGB picture, as Adobe's
// programs store one: inverted CMYK (255 is no ink) coded as YCCK, with an
// Adobe segment.
std::vector<std::uint8_t> MakeCmykJpeg(const RgbPicture& picture);

// `file` with a marker segment (marker code, contents) put right after SOI.
std::vector<std::uint8_t> InsertSegmentAfterSoi(
    std::vector<std::uint8_t> file, std::uint8_t marker, const std::vector<std::uint8_t>& contents);

// A damaged copy of `file` for the hostile-input tables: every fourth trial
// cuts the file short at a random length, the others flip one to four random
// bits.
std::vector<std::uint8_t> DamagedCopy(const std::vector<std::uint8_t>& file, int trial, std::mt19937& random);
