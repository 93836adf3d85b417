#include "support/JpegTestSupport.h"

#include "support/TestFiles.h"

#include "jpeg/JpegTables.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <unistd.h>

namespace {

std::uint8_t ClampByte(double value) { return std::uint8_t(value < 0 ? 0 : value > 255 ? 255 : value); }

} // namespace

RgbPicture MakeTestPicture(int width, int height, unsigned seed)
{
    RgbPicture picture;
    picture.width = width;
    picture.height = height;
    picture.samples.resize(std::size_t(width) * std::size_t(height) * 3);
    std::uint32_t noise = seed * 2654435761u + 1;
    const double phase = seed * 0.37;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const double grain = double(int(noise >> 28) - 8);
            std::uint8_t* pixel = &picture.samples[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3];
            pixel[0] = ClampByte(128 + 70 * std::sin(x * 0.021 + phase) + 40 * std::sin(y * 0.017 + x * 0.004) + grain);
            pixel[1] = ClampByte(120 + 60 * std::cos(y * 0.013 - phase) + 30 * std::sin((x + y) * 0.09) + grain);
            pixel[2] = ClampByte(110 + 80 * std::sin((x - y) * 0.008) + 25 * std::cos(x * 0.15 + phase) + grain);
        }
    }
    return picture;
}

RgbPicture MakeUniformPicture(int width, int height, std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    RgbPicture picture;
    picture.width = width;
    picture.height = height;
    for (int i = 0; i < width * height; ++i)
        picture.samples.insert(picture.samples.end(), { red, green, blue });
    return picture;
}

std::vector<std::uint8_t> ToTopDownBgr(const RgbPicture& picture)
{
    const std::size_t rowBytes = (std::size_t(picture.width) * 3 + 3) & ~std::size_t(3);
    std::vector<std::uint8_t> pixels(rowBytes * std::size_t(picture.height), 0);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const std::uint8_t* source
                = &picture.samples[(std::size_t(y) * std::size_t(picture.width) + std::size_t(x)) * 3];
            std::uint8_t* target = &pixels[std::size_t(y) * rowBytes + std::size_t(x) * 3];
            target[0] = source[2];
            target[1] = source[1];
            target[2] = source[0];
        }
    }
    return pixels;
}

bool WritePnm(const std::string& path, const RgbPicture& picture)
{
    std::ofstream out(path, std::ios::binary);
    out << (picture.channels == 1 ? "P5\n" : "P6\n") << picture.width << " " << picture.height << "\n255\n";
    out.write(reinterpret_cast<const char*>(picture.samples.data()), std::streamsize(picture.samples.size()));
    return bool(out);
}

bool ReadPnm(const std::string& path, RgbPicture& picture)
{
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    in >> magic >> picture.width >> picture.height >> maxValue;
    in.get();
    if (!in || (magic != "P6" && magic != "P5") || maxValue != 255)
        return false;
    picture.channels = magic == "P6" ? 3 : 1;
    picture.samples.resize(std::size_t(picture.width) * std::size_t(picture.height) * std::size_t(picture.channels));
    in.read(reinterpret_cast<char*>(picture.samples.data()), std::streamsize(picture.samples.size()));
    return bool(in);
}

int RunCommand(const std::string& command, std::string* standardError)
{
    char errorPath[] = "/tmp/veilmark-jpeg-stderr-XXXXXX";
    const int descriptor = ::mkstemp(errorPath);
    if (descriptor < 0)
        return -1;
    ::close(descriptor);
    const int status = std::system((command + " 2>" + errorPath).c_str());
    if (standardError) {
        const std::vector<std::uint8_t> text = ReadBytes(errorPath);
        standardError->assign(text.begin(), text.end());
    }
    std::remove(errorPath);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveLibjpegTools() { return RunCommand("command -v cjpeg >/dev/null && command -v djpeg >/dev/null") == 0; }

PixelDifference ComparePixels(
    std::span<const std::uint8_t> bottomUpBgr, int width, int height, const RgbPicture& reference)
{
    PixelDifference difference;
    const std::size_t rowBytes = (std::size_t(width) * 3 + 3) & ~std::size_t(3);
    double total = 0;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = &bottomUpBgr[std::size_t(height - 1 - y) * rowBytes];
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const int ours = row[3 * x + (2 - c)];
                const std::size_t index = std::size_t(y) * std::size_t(width) + std::size_t(x);
                const int theirs = reference.channels == 1 ? reference.samples[index]
                                                           : reference.samples[index * 3 + std::size_t(c)];
                const int delta = std::abs(ours - theirs);
                total += delta;
                difference.max = std::max(difference.max, delta);
            }
        }
    }
    difference.mean = total / (double(width) * height * 3);
    return difference;
}

std::vector<SegmentInfo> ListSegments(const std::vector<std::uint8_t>& file)
{
    std::vector<SegmentInfo> segments;
    std::size_t offset = 0;
    while (offset + 1 < file.size() && file[offset] == 0xFF) {
        SegmentInfo segment;
        segment.marker = file[offset + 1];
        segment.offset = offset;
        if (segment.marker == 0xD8 || segment.marker == 0xD9) {
            segment.length = 2;
        } else {
            if (offset + 4 > file.size())
                break;
            segment.length = 2 + std::size_t((file[offset + 2] << 8) | file[offset + 3]);
        }
        segments.push_back(segment);
        if (segment.marker == 0xDA)
            break;
        offset += segment.length;
    }
    return segments;
}

namespace {

struct SlowHuffman {
    std::vector<int> symbols;
    int maxCode[18];
    int minCode[17];
    int valuePointer[17];
};

SlowHuffman MakeSlowHuffman(const std::uint8_t* bits, const std::uint8_t* values)
{
    SlowHuffman table;
    int code = 0, index = 0;
    for (int l = 1; l <= 16; ++l) {
        const int count = bits[l - 1];
        table.maxCode[l] = count == 0 ? -1 : code + count - 1;
        table.minCode[l] = code;
        table.valuePointer[l] = index;
        for (int i = 0; i < count; ++i)
            table.symbols.push_back(values[index++]);
        code = (code + count) << 1;
    }
    return table;
}

struct SlowBits {
    const std::vector<std::uint8_t>& file;
    std::size_t offset;
    int bit = 8;
    int current = 0;
    bool failed = false;

    int Next()
    {
        if (bit == 8) {
            if (offset >= file.size()) {
                failed = true;
                return 0;
            }
            current = file[offset++];
            if (current == 0xFF) {
                if (offset >= file.size() || file[offset] != 0x00)
                    failed = true;
                ++offset;
            }
            bit = 0;
        }
        return (current >> (7 - bit++)) & 1;
    }
    int Receive(int size)
    {
        int value = 0;
        for (int i = 0; i < size; ++i)
            value = value * 2 + Next();
        return size && value < (1 << (size - 1)) ? value + 1 - (1 << size) : value;
    }
    int Decode(const SlowHuffman& table)
    {
        int code = Next();
        for (int l = 1; l <= 16; ++l) {
            if (code <= table.maxCode[l])
                return table.symbols[std::size_t(table.valuePointer[l] + code - table.minCode[l])];
            code = code * 2 + Next();
        }
        failed = true;
        return 0;
    }
};

} // namespace

bool ParseOwnScan(const std::vector<std::uint8_t>& file, std::vector<ParsedBlock>& blocks)
{
    const std::vector<SegmentInfo> segments = ListSegments(file);
    if (segments.empty() || segments.back().marker != 0xDA)
        return false;
    std::size_t width = 0, height = 0;
    for (const SegmentInfo& segment : segments) {
        if (segment.marker == 0xC0) {
            height = std::size_t((file[segment.offset + 5] << 8) | file[segment.offset + 6]);
            width = std::size_t((file[segment.offset + 7] << 8) | file[segment.offset + 8]);
        }
    }
    const SlowHuffman dc[2] = { MakeSlowHuffman(kDcLuminanceHuffman.bits.data(), kDcLuminanceHuffman.values),
        MakeSlowHuffman(kDcChrominanceHuffman.bits.data(), kDcChrominanceHuffman.values) };
    const SlowHuffman ac[2] = { MakeSlowHuffman(kAcLuminanceHuffman.bits.data(), kAcLuminanceHuffman.values),
        MakeSlowHuffman(kAcChrominanceHuffman.bits.data(), kAcChrominanceHuffman.values) };
    SlowBits bits { file, segments.back().offset + segments.back().length };
    const std::size_t mcus = (width + 7) / 8 * ((height + 7) / 8);
    blocks.clear();
    for (std::size_t mcu = 0; mcu < mcus * 3; ++mcu) {
        const int table = mcu % 3 == 0 ? 0 : 1;
        ParsedBlock block;
        block.coefficients[0] = bits.Receive(bits.Decode(dc[table]));
        for (int k = 1; k < 64;) {
            const int symbol = bits.Decode(ac[table]);
            block.acSymbols.push_back(symbol);
            if (symbol == 0x00)
                break;
            if (symbol == 0xF0) {
                k += 16;
                continue;
            }
            k += symbol >> 4;
            if (k > 63)
                return false;
            block.coefficients[k] = bits.Receive(symbol & 15);
            ++k;
        }
        if (bits.failed)
            return false;
        blocks.push_back(block);
    }
    // The data ends on a byte boundary (zero padding) right before EOI.
    while (bits.bit != 8)
        if (bits.Next() != 0)
            return false;
    return bits.offset + 2 == file.size() && file[bits.offset] == 0xFF && file[bits.offset + 1] == 0xD9;
}

std::string MakeCjpegFile(
    const CTempFolder& scratch, const RgbPicture& picture, const std::string& options, const std::string& name)
{
    const std::string input = (scratch / (name + ".pnm")).string();
    const std::string output = (scratch / (name + ".jpg")).string();
    EXPECT_TRUE(WritePnm(input, picture));
    std::string errors;
    EXPECT_EQ(0, RunCommand("cjpeg " + options + " -outfile " + output + " " + input, &errors)) << errors;
    return output;
}

std::vector<std::uint8_t> DjpegDibPixels(const CTempFolder& scratch, const std::string& jpegPath)
{
    const std::string bmp = (scratch / "djpeg-reference.bmp").string();
    std::string errors;
    if (RunCommand("djpeg -bmp -rgb -outfile " + bmp + " " + jpegPath, &errors) != 0) {
        ADD_FAILURE() << errors;
        return {};
    }
    const std::vector<std::uint8_t> file = ReadBytes(bmp);
    std::remove(bmp.c_str());
    if (file.size() < 54)
        return {};
    const std::size_t offset = file[10] | (file[11] << 8) | (file[12] << 16) | (std::size_t(file[13]) << 24);
    return offset <= file.size() ? std::vector<std::uint8_t>(file.begin() + std::ptrdiff_t(offset), file.end())
                                 : std::vector<std::uint8_t> {};
}

std::vector<std::uint8_t> MakeCmykJpeg(const RgbPicture& picture)
{
    std::vector<std::uint8_t> cmyk;
    for (std::size_t i = 0; i + 2 < picture.samples.size(); i += 3) {
        const int red = picture.samples[i], green = picture.samples[i + 1], blue = picture.samples[i + 2];
        const int black = 255 - std::max({ red, green, blue });
        auto ink = [&](int value) { return black == 255 ? 0 : (255 - value - black) * 255 / (255 - black); };
        // Stored inverted.
        cmyk.insert(cmyk.end(),
            { std::uint8_t(255 - ink(red)), std::uint8_t(255 - ink(green)), std::uint8_t(255 - ink(blue)),
                std::uint8_t(255 - black) });
    }
    jpeg_compress_struct compressor {};
    jpeg_error_mgr errors {};
    compressor.err = jpeg_std_error(&errors); // the fixture is well-formed
    jpeg_create_compress(&compressor);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&compressor, &buffer, &size);
    compressor.image_width = JDIMENSION(picture.width);
    compressor.image_height = JDIMENSION(picture.height);
    compressor.input_components = 4;
    compressor.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&compressor);
    jpeg_set_colorspace(&compressor, JCS_YCCK); // K and Y sampled 2x2, with an Adobe segment
    jpeg_set_quality(&compressor, 85, TRUE);
    jpeg_start_compress(&compressor, TRUE);
    while (compressor.next_scanline < compressor.image_height) {
        JSAMPROW row = &cmyk[std::size_t(compressor.next_scanline) * std::size_t(picture.width) * 4];
        jpeg_write_scanlines(&compressor, &row, 1);
    }
    jpeg_finish_compress(&compressor);
    std::vector<std::uint8_t> file(buffer, buffer + size);
    jpeg_destroy_compress(&compressor);
    std::free(buffer);
    return file;
}

std::vector<std::uint8_t> InsertSegmentAfterSoi(
    std::vector<std::uint8_t> file, std::uint8_t marker, const std::vector<std::uint8_t>& contents)
{
    const std::size_t length = contents.size() + 2;
    std::vector<std::uint8_t> segment { 0xFF, marker, std::uint8_t(length >> 8), std::uint8_t(length) };
    segment.insert(segment.end(), contents.begin(), contents.end());
    file.insert(file.begin() + 2, segment.begin(), segment.end());
    return file;
}

std::vector<std::uint8_t> DamagedCopy(const std::vector<std::uint8_t>& file, int trial, std::mt19937& random)
{
    std::vector<std::uint8_t> copy = file;
    if (trial % 4 == 3) {
        copy.resize(random() % copy.size());
    } else {
        for (int flips = 1 + int(random() % 4); flips > 0; --flips)
            copy[random() % copy.size()] ^= std::uint8_t(1u << (random() % 8));
    }
    return copy;
}
