#pragma once

#include "jpeg/JpegStatus.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// A JPEG file as its quantized DCT coefficients, read and written through
// libjpeg-turbo's coefficient interface (jpeg_read_coefficients and
// jpeg_write_coefficients), so any file libjpeg-turbo reads can be taken:
// baseline or progressive, Huffman or arithmetic coding, any sampling,
// restart intervals, grey, colour or CMYK.
//
// Coefficients are addressed by one index over the whole file: component by
// component, then block by block in rows (the component's blocks, padded to
// whole blocks but not to whole MCUs), then the 64 coefficients of a block in
// natural (row-major) order, 0 being DC. The carriers are the non-zero AC
// coefficients, in ascending index order.
//
// Writing keeps everything but the coefficients: quantization tables,
// sampling, size, component identifiers, every APPn and COM segment byte for
// byte (JFIF, Exif, ICC profile, Adobe), the restart interval, and the way
// the input was coded: progressive files keep their scan script, arithmetic
// coding stays, a sequential file with the standard Huffman tables keeps
// them and any other gets optimized tables.
class CJpegCoefficientFile {
public:
    using CoefficientIndex = std::uint32_t;

    enum class CodingMode {
        BaselineStandardTables, // sequential, Huffman, the tables of T.81 Annex K
        BaselineOptimizedTables, // sequential, Huffman, tables made for the file
        Progressive, // progressive Huffman
        Arithmetic, // sequential or progressive arithmetic coding
    };

    struct Component {
        int id = 0;
        int horizontalSampling = 1;
        int verticalSampling = 1;
        int quantizationTableId = 0;
        std::array<std::uint16_t, 64> quantization {}; // natural order
        std::uint32_t blocksAcross = 0;
        std::uint32_t blocksDown = 0;
        CoefficientIndex firstIndex = 0; // index of DC of the first block
    };

    CJpegCoefficientFile();
    ~CJpegCoefficientFile();
    CJpegCoefficientFile(const CJpegCoefficientFile&) = delete;
    CJpegCoefficientFile& operator=(const CJpegCoefficientFile&) = delete;

    static constexpr std::uint64_t kNoCoefficientLimit = ~std::uint64_t(0);

    // Reads a whole file. On failure nothing is loaded and the result says
    // why; a damaged file (truncated, bad codes) is refused rather than read
    // with guessed coefficients. A frame of more than `maxCoefficients`
    // coefficients is refused from its header, before any of its memory is
    // taken.
    JpegResult Read(const std::string& path);
    JpegResult ReadMemory(std::span<const std::uint8_t> file, std::uint64_t maxCoefficients = kNoCoefficientLimit);

    bool IsLoaded() const;
    std::uint32_t GetWidth() const { return m_width; }
    std::uint32_t GetHeight() const { return m_height; }
    const std::vector<Component>& GetComponents() const { return m_components; }
    CodingMode GetCodingMode() const { return m_codingMode; }
    unsigned GetRestartInterval() const { return m_restartInterval; }
    // All coefficients of all components.
    CoefficientIndex GetCoefficientCount() const { return m_coefficientCount; }

    std::int16_t GetCoefficient(CoefficientIndex index) const;
    // False, changing nothing, for an index past the end or a value no
    // 8-bit JPEG can code (beyond +-2047 for DC, +-1023 for AC).
    [[nodiscard]] bool SetCoefficient(CoefficientIndex index, std::int16_t value);
    // The non-zero AC coefficients, ascending.
    std::vector<CoefficientIndex> GetCarriers() const;

    // The file with the current coefficients. `file` is empty after a failure.
    JpegResult WriteMemory(std::vector<std::uint8_t>& file) const;
    // The same, written whole through a temporary file beside `path`.
    JpegResult Write(const std::string& path) const;

private:
    struct Impl;

    void Clear();
    std::int16_t* Locate(CoefficientIndex index) const;

    std::unique_ptr<Impl> m_impl;
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;
    std::vector<Component> m_components;
    CodingMode m_codingMode = CodingMode::BaselineStandardTables;
    unsigned m_restartInterval = 0;
    CoefficientIndex m_coefficientCount = 0;
};
