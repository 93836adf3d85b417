#pragma once

#include "picture/SampleGrid.h"
#include "sealed/CoverElements.h"

// The colour samples of a pixel array (see SampleGrid.h) as cover elements,
// numbered in the grid's sample order. Changes are written straight into the
// pixel bytes the grid points to.
class CSampleGridElements : public CCoverElements {
public:
    explicit CSampleGridElements(const SampleGrid& grid);

    std::uint64_t Count() const override { return m_count; }
    unsigned Bit(std::uint32_t index) const override;
    void Change(std::uint32_t index, bool up) override;

private:
    std::uint8_t* Locate(std::uint32_t index, const SampleChannel*& channel) const;
    std::uint32_t ReadWord(const std::uint8_t* at) const;
    void WriteWord(std::uint8_t* at, std::uint32_t word) const;

    SampleGrid m_grid;
    std::uint64_t m_count = 0;
    std::uint64_t m_samplesPerRow = 0;
    // Every byte of the array is a sample, in order: the index is the offset.
    bool m_bDenseBytes = false;
};
