#include "JpegCodec.h"

#include "FileIO.h"
#include "JpegTables.h"
#include "JpegTransform.h"
#include "Log.h"

#include <algorithm>
#include <cassert>
#include <cstring>

// The encoder: a fixed baseline pipeline (ITU-T T.81 with the Annex K
// tables). Three components without subsampling, no restart markers and no
// application segments. The stages, each announced in the log:
//   header segments -> colour conversion -> level shift -> DCT and
//   quantization -> DC differences -> Huffman coding.
// One carrier bit of the container buffer goes into every Cb and Cr block.

namespace {

// Code and length of every symbol of one table, for writing.
struct HuffmanEncoding {
    std::uint16_t code[256] = {};
    std::uint8_t length[256] = {};
};

HuffmanEncoding MakeEncoding(const JpegHuffmanTable& table)
{
    HuffmanEncoding encoding;
    for (int i = 0; i < table.count; ++i) {
        encoding.code[table.symbols[std::size_t(i)]] = table.codes[std::size_t(i)];
        encoding.length[table.symbols[std::size_t(i)]] = table.lengths[std::size_t(i)];
    }
    return encoding;
}

void PutBigEndian16(std::vector<std::uint8_t>& out, unsigned value)
{
    out.push_back(std::uint8_t(value >> 8));
    out.push_back(std::uint8_t(value));
}

void AppendHuffmanTable(std::vector<std::uint8_t>& out, std::uint8_t tableByte, const HuffmanSpecification& table)
{
    out.push_back(tableByte);
    out.insert(out.end(), table.bits.begin(), table.bits.end());
    out.insert(out.end(), table.values, table.values + table.count);
}

// The entropy-coded segment being written: bits are gathered most
// significant first and leave as bytes, each 0xFF followed by a stuffed 0x00
// (T.81 F.1.2.3). This is the only place that writes them.
class CJpegBitWriter {
public:
    explicit CJpegBitWriter(std::vector<std::uint8_t>& out) : m_out(out) { m_out.clear(); }

    // Room for `bytes` more output bytes, counting stuffing.
    void Reserve(std::size_t bytes)
    {
        if (m_used + bytes > m_out.size())
            m_out.resize(std::max(m_out.size() * 2, m_used + bytes));
    }

    // The low `length` (0..16) bits of `bits`.
    void Put(std::uint32_t bits, int length)
    {
        m_accumulator = (m_accumulator << length) | (bits & ((1u << length) - 1));
        m_count += length;
        if (m_count >= 32)
            Flush();
    }

    // Pads the last byte with zero bits and returns the bytes written.
    void Finish()
    {
        Put(0, (8 - m_count % 8) % 8);
        Flush();
        m_out.resize(m_used);
    }

private:
    void Flush()
    {
        while (m_count >= 8) {
            m_count -= 8;
            const std::uint8_t byte = std::uint8_t(m_accumulator >> m_count);
            m_out[m_used++] = byte;
            if (byte == 0xFF)
                m_out[m_used++] = 0x00;
        }
    }

    std::vector<std::uint8_t>& m_out;
    std::size_t m_used = 0;
    std::uint64_t m_accumulator = 0;
    int m_count = 0;
};

// Worst case for one block: a 16-bit code and 11 bits for the DC, and 63
// AC codes of up to 16 bits with 10 extra bits each; doubled for stuffing.
constexpr std::size_t kMaxBlockBytes = 2 * ((16 + 11 + 63 * (16 + 10)) / 8 + 1);

// SSSS of T.81 Table F.1: the number of bits of |value|.
int MagnitudeCategory(int value)
{
    const unsigned magnitude = unsigned(value < 0 ? -value : value);
    return magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude);
}

// T.81 F.1.2: one block, coefficients in zigzag order with the DC already a
// difference.
void EncodeBlock(CJpegBitWriter& writer, const std::int16_t* block, const HuffmanEncoding& dc,
                 const HuffmanEncoding& ac)
{
    writer.Reserve(kMaxBlockBytes);
    int value = block[0];
    int size = MagnitudeCategory(value);
    assert(dc.length[size] != 0);
    writer.Put(dc.code[size], dc.length[size]);
    writer.Put(std::uint32_t(value < 0 ? value - 1 : value), size);

    int run = 0;
    for (int k = 1; k < 64; ++k) {
        value = block[k];
        if (value == 0) {
            if (k == 63)
                writer.Put(ac.code[0x00], ac.length[0x00]); // EOB
            else
                ++run;
            continue;
        }
        for (; run > 15; run -= 16)
            writer.Put(ac.code[0xF0], ac.length[0xF0]); // ZRL
        size = MagnitudeCategory(value);
        const int symbol = (run << 4) | size;
        assert(ac.length[symbol] != 0);
        writer.Put(ac.code[symbol], ac.length[symbol]);
        writer.Put(std::uint32_t(value < 0 ? value - 1 : value), size);
        run = 0;
    }
}

} // namespace

JpegResult CJpegCodec::Encode(const std::string& path, std::int32_t width, std::int32_t height,
                              const std::uint8_t* pixels)
{
    std::vector<std::uint8_t> header;
    std::vector<std::uint8_t> data;
    if (JpegResult result = EncodeStages(width, height, pixels, header, data); !result.IsOk())
        return result;
    static constexpr std::uint8_t kEndOfImage[2] = {0xFF, 0xD9};
    std::string error;
    if (!WriteFileAtomically(path, {header, data, kEndOfImage}, error))
        return {JpegStatus::CannotWriteFile, error};
    WriteLog(124);
    return {};
}

JpegResult CJpegCodec::EncodeToMemory(std::int32_t width, std::int32_t height, const std::uint8_t* pixels,
                                      std::vector<std::uint8_t>& file)
{
    std::vector<std::uint8_t> data;
    if (JpegResult result = EncodeStages(width, height, pixels, file, data); !result.IsOk())
        return result;
    file.insert(file.end(), data.begin(), data.end());
    file.push_back(0xFF);
    file.push_back(0xD9);
    WriteLog(124);
    return {};
}

JpegResult CJpegCodec::EncodeStages(std::int32_t width, std::int32_t height, const std::uint8_t* pixels,
                                    std::vector<std::uint8_t>& header, std::vector<std::uint8_t>& data)
{
    if (width < 1 || width > 65535 || height < 1 || height > 65535 || pixels == nullptr)
        return {JpegStatus::BadEncodeSize, {}};
    const std::size_t paddedWidth = (std::size_t(width) + 7) / 8 * 8;
    const std::size_t paddedHeight = (std::size_t(height) + 7) / 8 * 8;
    const std::size_t blocksAcross = paddedWidth / 8;
    const std::size_t blockCount = blocksAcross * (paddedHeight / 8);

    WriteLog(114);
    for (JpegHuffmanTable& table : m_huffmanTables)
        table.present = false;

    header.clear();
    WriteLog(115);
    header.insert(header.end(), {0xFF, 0xD8});

    WriteLog(116);
    const std::array<std::uint8_t, 64>* quantization[2] = {&kLuminanceQuantization, &kChrominanceQuantization};
    for (std::uint8_t id = 0; id < 2; ++id) {
        header.insert(header.end(), {0xFF, 0xDB, 0x00, 0x43, id});
        header.insert(header.end(), quantization[id]->begin(), quantization[id]->end());
    }

    // The Huffman tables are built by the decoder's own DHT parser from the
    // segment that is written, so both halves share one table form.
    WriteLog(117);
    std::vector<std::uint8_t> huffmanSegment = {0xFF, 0xC4, 0x01, 0xA2};
    AppendHuffmanTable(huffmanSegment, 0x00, kDcLuminanceHuffman);
    AppendHuffmanTable(huffmanSegment, 0x10, kAcLuminanceHuffman);
    AppendHuffmanTable(huffmanSegment, 0x01, kDcChrominanceHuffman);
    AppendHuffmanTable(huffmanSegment, 0x11, kAcChrominanceHuffman);
    assert(huffmanSegment.size() == 420);
    m_file = huffmanSegment;
    m_position = 0;
    WriteLog(107);
    const JpegStatus tableStatus = ProcessDHT();
    m_file = {};
    m_position = 0;
    assert(tableStatus == JpegStatus::Ok);
    (void)tableStatus;
    header.insert(header.end(), huffmanSegment.begin(), huffmanSegment.end());

    WriteLog(118);
    header.insert(header.end(), {0xFF, 0xC0, 0x00, 0x11, 0x08});
    PutBigEndian16(header, unsigned(height));
    PutBigEndian16(header, unsigned(width));
    header.insert(header.end(), {0x03, 0x01, 0x11, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01});

    WriteLog(119);
    header.insert(header.end(), {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00});

    // Colour conversion into three planes of the padded size; samples
    // beyond the picture stay 0.
    WriteLog(120);
    const std::size_t planeSize = paddedWidth * paddedHeight;
    std::vector<std::uint8_t> planes[3];
    for (auto& plane : planes)
        plane.assign(planeSize, 0);
    const std::size_t rowBytes = (std::size_t(width) * 3 + 3) & ~std::size_t(3);
    for (std::size_t y = 0; y < std::size_t(height); ++y) {
        const std::size_t offset = y * paddedWidth;
        ConvertBgrToYCbCr(pixels + y * rowBytes, width, planes[0].data() + offset, planes[1].data() + offset,
                          planes[2].data() + offset);
    }

    // Level shift to signed samples, in place; the padding stays 0, which
    // is mid-grey.
    WriteLog(121);
    for (auto& plane : planes) {
        for (std::size_t y = 0; y < std::size_t(height); ++y) {
            std::uint8_t* row = plane.data() + y * paddedWidth;
            for (std::size_t x = 0; x < std::size_t(width); ++x)
                row[x] ^= 0x80;
        }
    }

    WriteLog(122);
    std::vector<std::int16_t> coefficients[3];
    for (auto& plane : coefficients)
        plane.resize(blockCount * 64);
    for (std::size_t block = 0; block < blockCount; ++block) {
        const std::size_t origin = (block / blocksAcross) * 8 * paddedWidth + (block % blocksAcross) * 8;
        for (int c = 0; c < 3; ++c) {
            ForwardDctQuantize(reinterpret_cast<const std::int8_t*>(planes[c].data() + origin),
                               std::ptrdiff_t(paddedWidth), quantization[c == 0 ? 0 : 1]->data(),
                               coefficients[c].data() + block * 64);
        }
    }
    for (auto& plane : planes)
        std::vector<std::uint8_t>().swap(plane);
    // DC prediction runs through all blocks of a component in order, across
    // block rows, without reset.
    for (auto& plane : coefficients) {
        std::int16_t previous = 0;
        for (std::size_t block = 0; block < blockCount; ++block) {
            const std::int16_t dc = plane[block * 64];
            plane[block * 64] = std::int16_t(dc - previous);
            previous = dc;
        }
    }
    const HuffmanEncoding dcLuminance = MakeEncoding(HuffmanSlot(0, 0));
    const HuffmanEncoding acLuminance = MakeEncoding(HuffmanSlot(1, 0));
    const HuffmanEncoding dcChrominance = MakeEncoding(HuffmanSlot(0, 1));
    const HuffmanEncoding acChrominance = MakeEncoding(HuffmanSlot(1, 1));

    WriteLog(123);
    m_carrierBitIndex = 0;
    CJpegBitWriter writer(data);
    writer.Reserve(blockCount * 16);
    alignas(16) std::int16_t block[64];
    for (std::size_t index = 0; index < blockCount; ++index) {
        EncodeBlock(writer, coefficients[0].data() + index * 64, dcLuminance, acLuminance);
        for (int c = 1; c < 3; ++c) {
            std::memcpy(block, coefficients[c].data() + index * 64, sizeof block);
            // The carrier coefficient takes the next container bit; any
            // other value it had is dropped, so the bit reads back as written.
            const std::size_t byte = m_carrierBitIndex / 8;
            const int bit = byte < m_containerBuffer.size() ? (m_containerBuffer[byte] >> (7 - m_carrierBitIndex % 8)) & 1
                                                            : 0;
            block[kCarrierZigzagIndex] = std::int16_t(bit);
            ++m_carrierBitIndex;
            EncodeBlock(writer, block, dcChrominance, acChrominance);
        }
    }
    writer.Finish();
    return {};
}
