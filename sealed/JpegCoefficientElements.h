#pragma once

#include "jpeg/JpegCoefficientFile.h"
#include "sealed/CoverElements.h"

#include <cstdint>
#include <string>
#include <vector>

// The non-zero AC coefficients of a JPEG file (CJpegCoefficientFile's
// carriers, in its index order: component by component, block rows from the
// top, blocks left to right, coefficients in natural order) as cover
// elements.
//
// An element is a coefficient's magnitude, 1 .. 1023 (the largest an 8-bit
// JPEG codes), its sign kept aside. Its bit is the lowest bit of the
// magnitude, which for a negative coefficient is also the lowest bit of its
// two's complement. A change steps the magnitude by one, so it never reaches
// zero: a 1 always becomes 2 (and -1 becomes -2), and 1023 always becomes
// 1022. The coefficients that are zero, the DC coefficients and the signs
// never change, so a reader lists the same elements after embedding.
class CJpegCoefficientElements : public CCoverElements {
public:
    static constexpr int kMaxMagnitude = 1023;

    // Lists the carriers of a loaded file. Changes are kept here and written
    // into the file by WriteBack: the embedding visits the elements in keyed
    // order, and one pass in the file's order is much faster than as many
    // scattered writes.
    explicit CJpegCoefficientElements(CJpegCoefficientFile& file);

    // Writes every changed element into the file.
    void WriteBack();

    // Why the file cannot carry a sealed message (empty when it can): a
    // carrier beyond the range an 8-bit JPEG codes, which no change could
    // step without leaving it.
    const std::string& WhyUnusable() const { return m_strUnusable; }

    std::uint64_t Count() const override { return m_values.size(); }
    unsigned Bit(std::uint32_t index) const override { return unsigned(m_values[index]) & 1; }
    void Change(std::uint32_t index, bool up) override;

    // The coefficient index (CJpegCoefficientFile) of element `index`.
    CJpegCoefficientFile::CoefficientIndex CoefficientOf(std::uint32_t index) const { return m_carriers[index]; }

private:
    CJpegCoefficientFile& m_file;
    std::vector<CJpegCoefficientFile::CoefficientIndex> m_carriers;
    std::vector<std::int16_t> m_values; // the carriers' values, changes included
    std::vector<std::int16_t> m_written; // the values the file holds
    std::string m_strUnusable;
};
