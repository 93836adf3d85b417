#include "jpeg/JpegCodec.h"

#include "base/FileIO.h"
#include "jpeg/JpegMemory.h"
#include "jpeg/JpegTables.h"
#include "jpeg/JpegTransform.h"
#include "res/Log.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstring>
#include <new>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <system_error>
#include <thread>

// The encoder: a fixed baseline pipeline (ITU-T T.81 with the Annex K
// tables). Three components without subsampling, no restart markers and no
// application segments. The stages, each announced in the log:
//   header segments -> colour conversion -> level shift -> DCT and
//   quantization -> DC differences and Huffman coding.
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

void AppendHuffmanTable(std::vector<std::uint8_t>& out, std::uint8_t tableByte, const HuffmanTableDefinition& table)
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
    explicit CJpegBitWriter(CJpegByteBuffer& out)
        : m_out(out)
    {
    }

    // Room for `bytes` more output bytes, counting stuffing. False when the
    // memory cannot be had.
    [[nodiscard]] bool Reserve(std::size_t bytes)
    {
        if (m_used + bytes <= m_out.Capacity())
            return true;
        return m_out.Grow(std::max(m_out.Capacity() * 2, m_used + bytes));
    }

    // The low `length` (0..16) bits of `bits`.
    void Put(std::uint32_t bits, int length)
    {
        m_accumulator = (m_accumulator << length) | (bits & ((1u << length) - 1));
        m_count += length;
        if (m_count >= 32)
            Flush();
    }

    // Pads the last byte with zero bits; returns the number of bytes written.
    std::size_t Finish()
    {
        Put(0, (8 - m_count % 8) % 8);
        Flush();
        return m_used;
    }

private:
    void Flush()
    {
        std::uint8_t* out = m_out.Data();
        while (m_count >= 8) {
            m_count -= 8;
            const std::uint8_t byte = std::uint8_t(m_accumulator >> m_count);
            out[m_used++] = byte;
            if (byte == 0xFF)
                out[m_used++] = 0x00;
        }
    }

    CJpegByteBuffer& m_out;
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

// T.81 F.1.2: one block, its quantized coefficients in natural order with
// the DC already a difference. The AC coefficients are visited in zigzag
// order through a mask of the non-zero ones: each is coded with the run of
// zeros before it (ZRL for every full 16), and an end-of-block code follows
// the last one unless it is coefficient 63.
// The writer must have room for kMaxBlockBytes.
void EncodeBlock(
    CJpegBitWriter& writer, const std::int16_t* block, const HuffmanEncoding& dc, const HuffmanEncoding& ac)
{
    // Non-zero coefficients as bits in natural order, then in zigzag order.
    std::uint64_t natural = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (int row = 0; row < 8; row += 2) {
        const __m128i first = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * row)), zero);
        const __m128i second
            = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * row + 8)), zero);
        const unsigned zeros = unsigned(_mm_movemask_epi8(_mm_packs_epi16(first, second)));
        natural |= std::uint64_t(~zeros & 0xFFFF) << (8 * row);
    }
#else
    for (int n = 0; n < 64; ++n)
        natural |= std::uint64_t(block[n] != 0) << n;
#endif
    std::uint64_t nonZero = 0;
    for (std::uint64_t mask = natural; mask != 0; mask &= mask - 1)
        nonZero |= std::uint64_t(1) << kNaturalToZigzag[std::size_t(__builtin_ctzll(mask))];

    int value = block[0];
    int size = MagnitudeCategory(value);
    assert(dc.length[size] != 0);
    writer.Put(dc.code[size], dc.length[size]);
    writer.Put(std::uint32_t(value < 0 ? value - 1 : value), size);

    int previous = 0;
    for (std::uint64_t mask = nonZero & ~std::uint64_t(1); mask != 0; mask &= mask - 1) {
        const int k = __builtin_ctzll(mask);
        int run = k - previous - 1;
        for (; run > 15; run -= 16)
            writer.Put(ac.code[0xF0], ac.length[0xF0]); // ZRL
        value = block[kZigzagToNatural[std::size_t(k)]];
        size = MagnitudeCategory(value);
        const int symbol = (run << 4) | size;
        assert(ac.length[symbol] != 0);
        writer.Put(ac.code[symbol], ac.length[symbol]);
        writer.Put(std::uint32_t(value < 0 ? value - 1 : value), size);
        previous = k;
    }
    if (previous != 63)
        writer.Put(ac.code[0x00], ac.length[0x00]); // EOB
}

// Pictures with at least this many rows of blocks per helper thread get
// helpers; small pictures are not worth a thread.
constexpr std::size_t kRowsPerHelper = 32;
constexpr std::size_t kMaxHelpers = 3;
// Rows of coefficients that may wait for Huffman coding, per thread.
constexpr std::size_t kWindowRowsPerThread = 8;

// Hands out rows of blocks to the threads that transform them, in order, and
// keeps them at most `window` rows ahead of Huffman coding: row r lives in
// slot r % window, which row r - window must have left (been coded) first.
class CRowSchedule {
public:
    CRowSchedule(std::size_t rows, std::size_t window)
        : m_rows(rows)
        , m_window(window == 0 ? 1 : window)
        , m_slots(new std::atomic<std::size_t>[m_window])
    {
    }

    std::size_t Window() const { return m_window; }
    std::size_t Coded() const { return m_coded.load(std::memory_order_acquire); }
    bool AllClaimed() const { return m_next.load(std::memory_order_acquire) >= m_rows; }

    // Takes the next row if there is one and its slot is free.
    bool TryClaim(std::size_t& row)
    {
        std::size_t next = m_next.load(std::memory_order_acquire);
        while (next < m_rows && next < Coded() + m_window) {
            if (m_next.compare_exchange_weak(next, next + 1, std::memory_order_acq_rel)) {
                row = next;
                return true;
            }
        }
        return false;
    }

    void MarkTransformed(std::size_t row)
    {
        std::atomic<std::size_t>& slot = m_slots[row % m_window];
        slot.store(row + 1, std::memory_order_release);
        slot.notify_all();
    }
    std::size_t SlotState(std::size_t row) const { return m_slots[row % m_window].load(std::memory_order_acquire); }
    bool IsTransformed(std::size_t row) const { return SlotState(row) == row + 1; }
    // Waits until the slot of `row` changes from `seen`.
    void WaitForSlot(std::size_t row, std::size_t seen) const
    {
        m_slots[row % m_window].wait(seen, std::memory_order_acquire);
    }

    void MarkCoded(std::size_t row)
    {
        m_coded.store(row + 1, std::memory_order_release);
        m_coded.notify_all();
    }
    // Waits until more rows than `seen` have been coded.
    void WaitForCoded(std::size_t seen) const { m_coded.wait(seen, std::memory_order_acquire); }

private:
    std::size_t m_rows;
    std::size_t m_window;
    std::unique_ptr<std::atomic<std::size_t>[]> m_slots; // row + 1 once transformed
    std::atomic<std::size_t> m_next = 0;
    std::atomic<std::size_t> m_coded = 0;
};

// The stages before entropy coding, for one row of blocks: colour conversion
// into 8 rows of samples per component, level shift to signed samples (0
// beyond the picture, which is mid-grey), then the
// forward DCT with quantization of each block (Y, Cb, Cr, left to right).
// The row's coefficients are written in natural order, DC not yet a
// difference. Rows are independent, so any thread can take any row.
class CRowTransformer {
public:
    CRowTransformer(std::int32_t width, std::int32_t height, const std::uint8_t* pixels)
        : m_width(std::size_t(width))
        , m_height(std::size_t(height))
        , m_pixels(pixels)
        , m_rowBytes((m_width * 3 + 3) & ~std::size_t(3))
        , m_paddedWidth((m_width + 7) / 8 * 8)
        , m_quantizers { MakeForwardQuantizer(kLuminanceQuantization.data()),
            MakeForwardQuantizer(kChrominanceQuantization.data()) }
    {
    }

    std::size_t BlockRows() const { return (m_height + 7) / 8; }
    std::size_t RowCoefficients() const { return m_paddedWidth / 8 * 3 * 64; }

    void TransformRow(std::size_t blockRow, std::vector<std::uint8_t>& stripe, std::int16_t* coefficients) const
    {
        const std::size_t planeBytes = m_paddedWidth * 8;
        stripe.resize(3 * planeBytes);
        std::uint8_t* planes[3] = { stripe.data(), stripe.data() + planeBytes, stripe.data() + 2 * planeBytes };
        const std::size_t lines = std::min<std::size_t>(8, m_height - 8 * blockRow);
        for (std::size_t line = 0; line < lines; ++line) {
            const std::size_t offset = line * m_paddedWidth;
            ConvertBgrToYCbCr(m_pixels + (8 * blockRow + line) * m_rowBytes, int(m_width), planes[0] + offset,
                planes[1] + offset, planes[2] + offset);
        }
        for (std::uint8_t* plane : planes) {
            for (std::size_t line = 0; line < 8; ++line) {
                std::uint8_t* samples = plane + line * m_paddedWidth;
                if (line >= lines) {
                    std::memset(samples, 0, m_paddedWidth);
                    continue;
                }
                // byte - 128 as a signed byte, eight at a time
                std::size_t x = 0;
                for (; x + 8 <= m_width; x += 8) {
                    std::uint64_t group;
                    std::memcpy(&group, samples + x, 8);
                    group ^= 0x8080808080808080ull;
                    std::memcpy(samples + x, &group, 8);
                }
                for (; x < m_width; ++x)
                    samples[x] ^= 0x80;
                std::memset(samples + m_width, 0, m_paddedWidth - m_width);
            }
        }
        for (std::size_t column = 0; column < m_paddedWidth / 8; ++column) {
            for (int c = 0; c < 3; ++c, coefficients += 64)
                ForwardDctQuantize(reinterpret_cast<const std::int8_t*>(planes[c] + column * 8),
                    std::ptrdiff_t(m_paddedWidth), m_quantizers[c == 0 ? 0 : 1], coefficients);
        }
    }

private:
    std::size_t m_width;
    std::size_t m_height;
    const std::uint8_t* m_pixels;
    std::size_t m_rowBytes;
    std::size_t m_paddedWidth;
    JpegForwardQuantizer m_quantizers[2];
};

} // namespace

JpegResult CJpegCodec::Encode(
    const std::string& path, std::int32_t width, std::int32_t height, const std::uint8_t* pixels)
{
    std::vector<std::uint8_t> header;
    CJpegByteBuffer data;
    std::size_t dataLength = 0;
    if (JpegResult result = EncodeGuarded(width, height, pixels, header, data, dataLength); !result.IsOk())
        return result;
    static constexpr std::uint8_t kEndOfImage[2] = { 0xFF, 0xD9 };
    std::string error;
    if (!WriteFileAtomically(path, { header, { data.Data(), dataLength }, kEndOfImage }, error))
        return { JpegStatus::CannotWriteFile, error };
    WriteLog(124);
    return {};
}

JpegResult CJpegCodec::EncodeToMemory(
    std::int32_t width, std::int32_t height, const std::uint8_t* pixels, std::vector<std::uint8_t>& file)
{
    CJpegByteBuffer data;
    std::size_t dataLength = 0;
    if (JpegResult result = EncodeGuarded(width, height, pixels, file, data, dataLength); !result.IsOk())
        return result;
    file.reserve(file.size() + dataLength + 2);
    file.insert(file.end(), data.Data(), data.Data() + dataLength);
    file.push_back(0xFF);
    file.push_back(0xD9);
    WriteLog(124);
    return {};
}

JpegResult CJpegCodec::EncodeGuarded(std::int32_t width, std::int32_t height, const std::uint8_t* pixels,
    std::vector<std::uint8_t>& header, CJpegByteBuffer& data, std::size_t& dataLength)
{
    try {
        return EncodeStages(width, height, pixels, header, data, dataLength);
    } catch (const std::bad_alloc&) {
        return { JpegStatus::OutOfMemory, {} };
    }
}

JpegResult CJpegCodec::EncodeStages(std::int32_t width, std::int32_t height, const std::uint8_t* pixels,
    std::vector<std::uint8_t>& header, CJpegByteBuffer& data, std::size_t& dataLength)
{
    if (width < 1 || width > 65535 || height < 1 || height > 65535 || pixels == nullptr)
        return { JpegStatus::BadEncodeSize, {} };
    const std::size_t paddedWidth = (std::size_t(width) + 7) / 8 * 8;
    const std::size_t paddedHeight = (std::size_t(height) + 7) / 8 * 8;
    const std::size_t blocksAcross = paddedWidth / 8;
    const std::size_t blockCount = blocksAcross * (paddedHeight / 8);

    WriteLog(114);
    for (JpegHuffmanTable& table : m_huffmanTables)
        table.present = false;

    header.clear();
    WriteLog(115);
    header.insert(header.end(), { 0xFF, 0xD8 });

    WriteLog(116);
    const std::array<std::uint8_t, 64>* quantization[2] = { &kLuminanceQuantization, &kChrominanceQuantization };
    for (std::uint8_t id = 0; id < 2; ++id) {
        header.insert(header.end(), { 0xFF, 0xDB, 0x00, 0x43, id });
        header.insert(header.end(), quantization[id]->begin(), quantization[id]->end());
    }

    // The Huffman tables are built by the decoder's own DHT parser from the
    // segment that is written, so both halves share one table form.
    WriteLog(117);
    std::vector<std::uint8_t> huffmanSegment = { 0xFF, 0xC4, 0x01, 0xA2 };
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
    header.insert(header.end(), { 0xFF, 0xC0, 0x00, 0x11, 0x08 });
    PutBigEndian16(header, unsigned(height));
    PutBigEndian16(header, unsigned(width));
    header.insert(header.end(), { 0x03, 0x01, 0x11, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01 });

    WriteLog(119);
    header.insert(header.end(), { 0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00 });

    // Colour conversion, level shift and DCT with quantization run one row
    // of blocks at a time, on this thread and on helper threads for large
    // pictures; Huffman coding takes the rows in order on this thread as soon
    // as each is ready. Every row is computed the same way wherever it runs,
    // so the file does not depend on the number of threads.
    const HuffmanEncoding dcLuminance = MakeEncoding(HuffmanSlot(0, 0));
    const HuffmanEncoding acLuminance = MakeEncoding(HuffmanSlot(1, 0));
    const HuffmanEncoding dcChrominance = MakeEncoding(HuffmanSlot(0, 1));
    const HuffmanEncoding acChrominance = MakeEncoding(HuffmanSlot(1, 1));

    CRowTransformer transformer(width, height, pixels);
    const std::size_t blockRows = transformer.BlockRows();
    const std::size_t rowCoefficients = transformer.RowCoefficients();
    const unsigned processors = std::thread::hardware_concurrency();
    const std::size_t helperCount = blockRows < kRowsPerHelper
        ? 0
        : std::min<std::size_t>({ processors > 1 ? processors - 1 : 0, kMaxHelpers, blockRows / kRowsPerHelper });
    CRowSchedule schedule(blockRows, std::min(blockRows, kWindowRowsPerThread * (helperCount + 1)));
    JpegLargeBuffer<std::int16_t> coefficients = MakeLargeBuffer<std::int16_t>(schedule.Window() * rowCoefficients);
    if (!coefficients)
        return { JpegStatus::OutOfMemory, {} };
    auto rowCoefficientsOf
        = [&](std::size_t row) { return coefficients.get() + (row % schedule.Window()) * rowCoefficients; };

    WriteLog(120);
    WriteLog(121);
    WriteLog(122);
    std::vector<std::jthread> helpers;
    try {
        for (std::size_t i = 0; i < helperCount; ++i) {
            helpers.emplace_back([&] {
                std::vector<std::uint8_t> stripe;
                for (;;) {
                    const std::size_t coded = schedule.Coded();
                    std::size_t row = 0;
                    if (schedule.TryClaim(row)) {
                        transformer.TransformRow(row, stripe, rowCoefficientsOf(row));
                        schedule.MarkTransformed(row);
                    } else if (schedule.AllClaimed()) {
                        return;
                    } else {
                        schedule.WaitForCoded(coded);
                    }
                }
            });
        }
    } catch (const std::system_error&) {
        // Fewer helpers (or none): this thread does their part.
    }

    WriteLog(123);
    std::vector<std::uint8_t> stripe;
    std::int16_t predictors[3] = {};
    m_carrierBitIndex = 0;
    CJpegBitWriter writer(data);
    if (!writer.Reserve(blockCount * 16))
        return { JpegStatus::OutOfMemory, {} };
    for (std::size_t row = 0; row < blockRows; ++row) {
        // Help with the transforms until this row is ready.
        for (;;) {
            const std::size_t seen = schedule.SlotState(row);
            if (schedule.IsTransformed(row))
                break;
            std::size_t claimed = 0;
            if (schedule.TryClaim(claimed)) {
                transformer.TransformRow(claimed, stripe, rowCoefficientsOf(claimed));
                schedule.MarkTransformed(claimed);
            } else {
                schedule.WaitForSlot(row, seen);
            }
        }
        if (!writer.Reserve(blocksAcross * 3 * kMaxBlockBytes))
            return { JpegStatus::OutOfMemory, {} };
        std::int16_t* block = rowCoefficientsOf(row);
        for (std::size_t column = 0; column < blocksAcross; ++column) {
            for (int c = 0; c < 3; ++c, block += 64) {
                // DC prediction runs through all blocks of a component in
                // order, across block rows, without reset.
                const std::int16_t dc = block[0];
                block[0] = std::int16_t(dc - predictors[c]);
                predictors[c] = dc;
                if (c == 0) {
                    EncodeBlock(writer, block, dcLuminance, acLuminance);
                    continue;
                }
                // The carrier coefficient takes the next container bit; any
                // other value it had is dropped, so the bit reads back as
                // written.
                const std::size_t byte = m_carrierBitIndex / 8;
                const int bit = byte < m_containerBuffer.size()
                    ? (m_containerBuffer[byte] >> (7 - m_carrierBitIndex % 8)) & 1
                    : 0;
                block[kCarrierNaturalIndex] = std::int16_t(bit);
                ++m_carrierBitIndex;
                EncodeBlock(writer, block, dcChrominance, acChrominance);
            }
        }
        schedule.MarkCoded(row);
    }
    dataLength = writer.Finish();
    return {};
}
