#include "jpeg/JpegCodec.h"

#include "jpeg/JpegMemory.h"
#include "jpeg/JpegRowBand.h"
#include "jpeg/JpegTables.h"
#include "jpeg/JpegTransform.h"
#include "res/Log.h"
#include "res/StringIds.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

// Decoding of the scan (ITU-T T.81 F.2): Huffman decoding of every block,
// collection of the carrier bits, dequantization and inverse DCT into one MCU
// row of samples per component; each MCU row is then widened by pixel
// replication where a component is subsampled and converted into its rows of
// the bottom-up BGR picture.

namespace {

struct ComponentState {
    const JpegHuffmanTable* dcTable = nullptr;
    const JpegHuffmanTable* acTable = nullptr;
    alignas(16) std::uint16_t quantization[64] = {}; // natural order
    std::uint8_t* plane = nullptr;
    std::size_t stride = 0;
    int horizontal = 1;
    int vertical = 1;
    bool carriesBit = false;
    std::int16_t predictor = 0;
};

// What a walk through one block keeps: every coefficient, in natural order,
// with a bit for every row and column that holds one (a full decode), or only
// whether the carrier coefficient was coded (collecting the carrier bits).
struct DecodedBlock {
    std::int16_t* coefficients = nullptr; // all zero on entry
    unsigned rowMask = 0;
    unsigned columnMask = 0;
};
struct CarrierOfBlock {
    bool coded = false;
};

// T.81 F.2.2: one block of the scan, with every check whatever is kept. A
// coefficient that is skipped has its bits passed over; EXTEND of a
// magnitude category of 1 or more never gives 0, so a coded coefficient is a
// non-zero one.
template <typename Output>
inline JpegStatus WalkBlock(CJpegBitReader& reader, ComponentState& component, Output& output)
{
    constexpr bool kKeepCoefficients = std::is_same_v<Output, DecodedBlock>;
    const int category = DecodeHuffman(reader, *component.dcTable);
    if (category < 0)
        return JpegStatus::BadHuffmanCode;
    if (category > 15)
        return JpegStatus::BadDifferenceCategory;
    if constexpr (kKeepCoefficients) {
        const std::int32_t difference = reader.ReceiveExtend(category);
        component.predictor = std::int16_t(difference + component.predictor);
        output.coefficients[0] = component.predictor;
        output.rowMask = 1;
        output.columnMask = 1;
    } else {
        reader.SkipBits(category);
    }

    const JpegHuffmanTable& acTable = *component.acTable;
    for (int k = 1;;) {
        const int symbol = DecodeHuffman(reader, acTable);
        if (symbol < 0)
            return JpegStatus::BadHuffmanCode;
        const int run = symbol >> 4;
        const int size = symbol & 15;
        if (size == 0) {
            if (run != 15)
                break; // end of block
            k += 16; // ZRL: sixteen zero coefficients
            if (k > 64)
                return JpegStatus::BadCoefficientRun;
            continue;
        }
        k += run;
        if (k > 63)
            return JpegStatus::BadCoefficientRun;
        if constexpr (kKeepCoefficients) {
            const int natural = kZigzagToNatural[std::size_t(k)];
            output.coefficients[natural] = std::int16_t(reader.ReceiveExtend(size));
            output.rowMask |= 1u << (natural >> 3);
            output.columnMask |= 1u << (natural & 7);
        } else {
            output.coded |= k == kCarrierZigzagIndex;
            reader.SkipBits(size);
        }
        if (k == 63)
            break;
        ++k;
    }
    if (reader.Overrun())
        return reader.StoppedAtMarker() ? JpegStatus::EntropyDataInterrupted : JpegStatus::EntropyDataTruncated;
    return JpegStatus::Ok;
}

// Copies `count` samples of a component row widened `factor` times.
void ReplicateRow(const std::uint8_t* source, int factor, int count, std::uint8_t* target)
{
    if (factor == 2) {
        for (int x = 0; x < count; x += 2) {
            target[x] = source[x / 2];
            target[x + 1] = source[x / 2];
        }
        return;
    }
    for (int x = 0, sourceX = 0, step = 0; x < count; ++x) {
        target[x] = source[sourceX];
        if (++step == factor) {
            step = 0;
            ++sourceX;
        }
    }
}

} // namespace

JpegStatus CJpegCodec::DecodeScan()
{
    const int componentCount = m_componentCount;
    int maxHorizontal = 1;
    int maxVertical = 1;
    for (int c = 0; c < componentCount; ++c) {
        maxHorizontal = std::max<int>(maxHorizontal, m_components[std::size_t(c)].horizontal);
        maxVertical = std::max<int>(maxVertical, m_components[std::size_t(c)].vertical);
    }
    m_trueWidth = m_frameWidth;
    m_trueHeight = m_frameHeight;
    const std::size_t mcuWidth = 8 * std::size_t(maxHorizontal);
    const std::size_t mcuHeight = 8 * std::size_t(maxVertical);
    const std::size_t mcusAcross = (std::size_t(m_trueWidth) + mcuWidth - 1) / mcuWidth;
    const std::size_t mcusDown = (std::size_t(m_trueHeight) + mcuHeight - 1) / mcuHeight;
    const std::size_t paddedWidth = mcusAcross * mcuWidth;
    const std::size_t paddedHeight = mcusDown * mcuHeight;

    // Every block takes at least two bits (a DC code and an end-of-block
    // code), so data too short for the frame is refused before anything is
    // allocated for it.
    std::uint64_t blocksPerMcu = 0;
    for (int c = 0; c < componentCount; ++c)
        blocksPerMcu += std::uint64_t(m_components[std::size_t(c)].horizontal) * m_components[std::size_t(c)].vertical;
    const std::uint64_t blockCount = blocksPerMcu * mcusAcross * mcusDown;
    if (blockCount * 2 > std::uint64_t(m_file.size() - m_position) * 8)
        return JpegStatus::EntropyDataTruncated;

    const std::size_t containerBytes = std::max<std::size_t>(paddedWidth * paddedHeight / 8, 20);
    // A band holds rows of the frame it was made for only.
    if (m_band && (m_band->Width() != std::size_t(m_trueWidth) || m_band->Height() != std::size_t(m_trueHeight)))
        return JpegStatus::DecodingStopped;
    if (m_target == DecodeTarget::Carriers)
        return DecodeScanCarriers(mcusAcross * mcusDown, containerBytes);

    // One MCU row of samples per component at a time: it is converted into
    // the picture as soon as it is decoded.
    std::vector<std::uint8_t> stripes[3];
    const std::uint8_t* stripeData[3] = {};
    std::size_t strides[3] = {};
    ComponentState components[3];
    for (int c = 0; c < componentCount; ++c) {
        const FrameComponent& frame = m_components[std::size_t(c)];
        const ScanComponent& scan = m_scanComponents[std::size_t(c)];
        ComponentState& state = components[c];
        state.horizontal = frame.horizontal;
        state.vertical = frame.vertical;
        strides[c] = mcusAcross * frame.horizontal * 8;
        stripes[c].resize(strides[c] * frame.vertical * 8);
        state.plane = stripes[c].data();
        stripeData[c] = stripes[c].data();
        state.stride = strides[c];
        state.dcTable = &HuffmanSlot(0, scan.dcTable);
        state.acTable = &HuffmanSlot(1, scan.acTable);
        const auto& table = m_quantizationTables[frame.quantizationTable];
        for (std::size_t k = 0; k < 64; ++k)
            state.quantization[kZigzagToNatural[k]] = table[k];
        // A band feeds an encoder that hides its own container.
        state.carriesBit = c != 0 && m_target == DecodeTarget::Picture;
    }
    if (m_target == DecodeTarget::Picture) {
        const std::size_t rowBytes = (std::size_t(m_trueWidth) * 3 + 3) & ~std::size_t(3);
        m_imageSize = rowBytes * std::size_t(m_trueHeight);
        m_image = MakeLargeBuffer<std::uint8_t>(m_imageSize);
        if (!m_image)
            return JpegStatus::OutOfMemory;
        m_containerBuffer.assign(containerBytes, 0);
    }

    m_carriedCount = 0;
    Log(IDS_LOG_READ_SECRET_START);

    CJpegBitReader reader;
    reader.Start(m_file.data(), m_file.size(), m_position);
    alignas(32) std::int16_t block[64] = {};
    const std::size_t containerBits = m_containerBuffer.size() * 8;
    unsigned mcusSinceRestart = 0;
    for (std::size_t mcuRow = 0; mcuRow < mcusDown; ++mcuRow) {
        for (std::size_t mcuColumn = 0; mcuColumn < mcusAcross; ++mcuColumn) {
            for (int c = 0; c < componentCount; ++c) {
                ComponentState& component = components[c];
                for (int blockRow = 0; blockRow < component.vertical; ++blockRow) {
                    for (int blockColumn = 0; blockColumn < component.horizontal; ++blockColumn) {
                        DecodedBlock decoded { block };
                        if (JpegStatus status = WalkBlock(reader, component, decoded); status != JpegStatus::Ok)
                            return status;
                        const unsigned rowMask = decoded.rowMask;
                        const unsigned columnMask = decoded.columnMask;
                        if (component.carriesBit) {
                            if (block[kCarrierNaturalIndex] != 0 && m_carrierBitIndex < containerBits)
                                m_containerBuffer[m_carrierBitIndex / 8]
                                    |= std::uint8_t(0x80u >> (m_carrierBitIndex % 8));
                            ++m_carrierBitIndex;
                            ++m_carriedCount;
                        }
                        const std::size_t y = std::size_t(blockRow) * 8;
                        const std::size_t x = (mcuColumn * component.horizontal + blockColumn) * 8;
                        InverseDct(block, component.quantization, rowMask, columnMask,
                            component.plane + y * component.stride + x, std::ptrdiff_t(component.stride));
                        std::memset(block, 0, sizeof block);
                    }
                }
            }
            // T.81 F.2.1.3.1: after each restart interval a restart marker
            // resets the DC predictions and starts on a byte boundary.
            if (m_restartInterval != 0 && ++mcusSinceRestart == m_restartInterval) {
                mcusSinceRestart = 0;
                if (reader.TakeRestartMarker()) {
                    for (ComponentState& component : components)
                        component.predictor = 0;
                }
            }
        }
        const int firstRow = int(mcuRow * mcuHeight);
        const int rowCount = std::min(int(mcuHeight), m_trueHeight - firstRow);
        if (m_band && !m_band->AwaitRoom(std::size_t(firstRow + rowCount)))
            return JpegStatus::DecodingStopped;
        ConvertColors(firstRow, rowCount, stripeData, strides);
        if (m_band)
            m_band->Publish(std::size_t(firstRow + rowCount));
    }
    m_scanEnd = reader.NextLoadOffset();
    const std::ptrdiff_t end = reader.EndOfConsumedData();
    m_entropyCursor = end < 0 ? std::size_t(-1) : std::size_t(end);

    m_carriedCount /= 8;
    Log(IDS_LOG_READ_SECRET_END);
    // The colour conversion ran MCU row by MCU row as the samples came.
    Log(IDS_LOG_YUV_TO_RGB);
    return JpegStatus::Ok;
}

JpegStatus CJpegCodec::DecodeScanCarriers(std::size_t mcuCount, std::size_t containerBytes)
{
    const int componentCount = m_componentCount;
    ComponentState components[3];
    for (int c = 0; c < componentCount; ++c) {
        const FrameComponent& frame = m_components[std::size_t(c)];
        const ScanComponent& scan = m_scanComponents[std::size_t(c)];
        components[c].horizontal = frame.horizontal;
        components[c].vertical = frame.vertical;
        components[c].dcTable = &HuffmanSlot(0, scan.dcTable);
        components[c].acTable = &HuffmanSlot(1, scan.acTable);
        components[c].carriesBit = c != 0;
    }
    m_carriedCount = 0;
    m_containerBuffer.assign(containerBytes, 0);
    Log(IDS_LOG_READ_SECRET_START);

    CJpegBitReader reader;
    reader.Start(m_file.data(), m_file.size(), m_position);
    const std::size_t containerBits = m_containerBuffer.size() * 8;
    unsigned mcusSinceRestart = 0;
    for (std::size_t mcu = 0; mcu < mcuCount; ++mcu) {
        for (int c = 0; c < componentCount; ++c) {
            ComponentState& component = components[c];
            for (int blocks = component.horizontal * component.vertical; blocks > 0; --blocks) {
                CarrierOfBlock carrier;
                if (JpegStatus status = WalkBlock(reader, component, carrier); status != JpegStatus::Ok)
                    return status;
                if (component.carriesBit) {
                    if (carrier.coded && m_carrierBitIndex < containerBits)
                        m_containerBuffer[m_carrierBitIndex / 8] |= std::uint8_t(0x80u >> (m_carrierBitIndex % 8));
                    ++m_carrierBitIndex;
                    ++m_carriedCount;
                }
            }
        }
        if (m_restartInterval != 0 && ++mcusSinceRestart == m_restartInterval) {
            mcusSinceRestart = 0;
            reader.TakeRestartMarker();
        }
    }
    m_scanEnd = reader.NextLoadOffset();
    const std::ptrdiff_t end = reader.EndOfConsumedData();
    m_entropyCursor = end < 0 ? std::size_t(-1) : std::size_t(end);

    m_carriedCount /= 8;
    Log(IDS_LOG_READ_SECRET_END);
    Log(IDS_LOG_YUV_TO_RGB);
    return JpegStatus::Ok;
}

// Row y from the top: in the bottom-up picture, rows from the top of the
// picture go to the end of the buffer; a band takes them top-down.
std::uint8_t* CJpegCodec::PictureRow(int y) const
{
    if (m_band)
        return m_band->Row(std::size_t(y));
    const std::size_t rowBytes = (std::size_t(m_trueWidth) * 3 + 3) & ~std::size_t(3);
    return m_image.get() + std::size_t(m_trueHeight - 1 - y) * rowBytes;
}

// YCbCr (or grey) samples of picture rows firstRow .. firstRow + rowCount - 1,
// taken from one MCU row of component samples, into BGR pixels of the
// picture (PictureRow). Subsampled components are widened by replicating
// samples.
void CJpegCodec::ConvertColors(
    int firstRow, int rowCount, const std::uint8_t* const* planes, const std::size_t* strides)
{
    const int width = m_trueWidth;
    const std::size_t rowBytes = (std::size_t(width) * 3 + 3) & ~std::size_t(3);
    const std::size_t padding = rowBytes - std::size_t(width) * 3;

    int maxHorizontal = 1;
    int maxVertical = 1;
    for (int c = 0; c < m_componentCount; ++c) {
        maxHorizontal = std::max<int>(maxHorizontal, m_components[std::size_t(c)].horizontal);
        maxVertical = std::max<int>(maxVertical, m_components[std::size_t(c)].vertical);
    }
    // Rows of replicated samples, long enough for the converter's groups of 8.
    const std::size_t rowLength = (std::size_t(width) + 7) / 8 * 8;
    if (m_replicated.size() < 3 * rowLength)
        m_replicated.resize(3 * rowLength);

    for (int line = 0; line < rowCount; ++line) {
        std::uint8_t* target = PictureRow(firstRow + line);
        std::memset(target + rowBytes - padding, 0, padding);
        if (m_componentCount == 1) {
            const std::uint8_t* source = planes[0] + std::size_t(line) * strides[0];
            for (int x = 0; x < width; ++x)
                target[3 * x] = target[3 * x + 1] = target[3 * x + 2] = source[x];
            continue;
        }
        const std::uint8_t* rows[3];
        for (int c = 0; c < 3; ++c) {
            const int horizontalFactor = maxHorizontal / m_components[std::size_t(c)].horizontal;
            const int verticalFactor = maxVertical / m_components[std::size_t(c)].vertical;
            const std::uint8_t* source = planes[c] + std::size_t(line / verticalFactor) * strides[c];
            if (horizontalFactor == 1) {
                rows[c] = source; // sample rows are padded to whole blocks
            } else {
                std::uint8_t* replicated = m_replicated.data() + std::size_t(c) * rowLength;
                ReplicateRow(source, horizontalFactor, int(rowLength), replicated);
                rows[c] = replicated;
            }
        }
        ConvertYCbCrToBgr(rows[0], rows[1], rows[2], width, target);
    }
}
