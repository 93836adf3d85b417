#include "jpeg/JpegCodec.h"

#include "base/FileIO.h"
#include "jpeg/JpegMarkers.h"
#include "jpeg/JpegMemory.h"
#include "jpeg/JpegRowBand.h"
#include "jpeg/JpegTables.h"
#include "jpeg/JpegTransform.h"
#include "res/Log.h"
#include "res/StringIds.h"

#include <algorithm>
#include <cassert>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <system_error>
#include <thread>

// The encoder: a fixed baseline pipeline (ITU-T T.81 with the Annex K
// tables). Three components without subsampling, no restart markers and no
// application segments. The stages, each announced in the log:
//   SOI, DQT, DHT, SOF0, SOS -> colour conversion -> level shift -> DCT and
//   quantization -> DC differences and Huffman coding -> EOI.
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
            if (byte == kMarkerPrefix)
                out[m_used++] = kMarkerStuffedZero;
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

// ---- the header segments (T.81 B.2) --------------------------------------

void PutBigEndian16(std::vector<std::uint8_t>& out, unsigned value)
{
    out.push_back(std::uint8_t(value >> 8));
    out.push_back(std::uint8_t(value));
}

// A marker and the length field of its segment, which counts itself and the
// `contentBytes` that follow it.
void PutSegmentStart(std::vector<std::uint8_t>& out, std::uint8_t marker, std::size_t contentBytes)
{
    out.insert(out.end(), { kMarkerPrefix, marker });
    PutBigEndian16(out, unsigned(2 + contentBytes));
}

void WriteSoi(std::vector<std::uint8_t>& out) { out.insert(out.end(), { kMarkerPrefix, kMarkerSOI }); }

void WriteEoi(std::vector<std::uint8_t>& out) { out.insert(out.end(), { kMarkerPrefix, kMarkerEOI }); }

// One table per segment: 8-bit precision, the entries in zigzag order.
void WriteDqt(std::vector<std::uint8_t>& out, std::uint8_t id, const std::array<std::uint8_t, 64>& table)
{
    PutSegmentStart(out, kMarkerDQT, 1 + table.size());
    out.push_back(id);
    out.insert(out.end(), table.begin(), table.end());
}

// The four tables in one segment, in the order DC 0, AC 0, DC 1, AC 1. The
// codec's tables are built by parsing the segment that is written, with the
// same parser the decoder uses, so both halves share one table form and the
// file carries exactly the codes the scan uses.
void WriteDht(std::vector<std::uint8_t>& out, JpegHuffmanTables& tables)
{
    struct TableInSegment {
        std::uint8_t tableByte; // class << 4 | identifier
        const HuffmanTableDefinition& table;
    };
    const TableInSegment segmentTables[] = { { 0x00, kDcLuminanceHuffman }, { 0x10, kAcLuminanceHuffman },
        { 0x01, kDcChrominanceHuffman }, { 0x11, kAcChrominanceHuffman } };
    std::size_t contentBytes = 0;
    for (const TableInSegment& entry : segmentTables)
        contentBytes += 1 + entry.table.bits.size() + std::size_t(entry.table.count);

    const std::size_t start = out.size();
    PutSegmentStart(out, kMarkerDHT, contentBytes);
    for (const TableInSegment& entry : segmentTables) {
        out.push_back(entry.tableByte);
        out.insert(out.end(), entry.table.bits.begin(), entry.table.bits.end());
        out.insert(out.end(), entry.table.values, entry.table.values + entry.table.count);
    }
    WriteLog(IDS_LOG_FIND_DHT);
    const JpegStatus status
        = ParseHuffmanSegment(std::span<const std::uint8_t>(out).subspan(start + 4, contentBytes), tables);
    assert(status == JpegStatus::Ok); // the tables are the standard's
    (void)status;
}

// Identifiers 1, 2, 3 for Y, Cb, Cr; no subsampling; Y uses quantization
// table 0 and Huffman tables 0, the chroma components tables 1.
struct EncodedComponent {
    std::uint8_t id;
    std::uint8_t sampling; // H << 4 | V
    std::uint8_t quantizationTable;
    std::uint8_t huffmanTables; // DC << 4 | AC
};
constexpr EncodedComponent kEncodedComponents[3] = { { 1, 0x11, 0, 0x00 }, { 2, 0x11, 1, 0x11 }, { 3, 0x11, 1, 0x11 } };

void WriteSof0(std::vector<std::uint8_t>& out, std::int32_t width, std::int32_t height)
{
    PutSegmentStart(out, kMarkerSOF0, 6 + 3 * std::size(kEncodedComponents));
    out.push_back(8); // sample precision
    PutBigEndian16(out, unsigned(height));
    PutBigEndian16(out, unsigned(width));
    out.push_back(std::uint8_t(std::size(kEncodedComponents)));
    for (const EncodedComponent& component : kEncodedComponents)
        out.insert(out.end(), { component.id, component.sampling, component.quantizationTable });
}

void WriteSos(std::vector<std::uint8_t>& out)
{
    PutSegmentStart(out, kMarkerSOS, 4 + 2 * std::size(kEncodedComponents));
    out.push_back(std::uint8_t(std::size(kEncodedComponents)));
    for (const EncodedComponent& component : kEncodedComponents)
        out.insert(out.end(), { component.id, component.huffmanTables });
    out.insert(out.end(), { 0, 63, 0 }); // Ss, Se, Ah/Al: all coefficients at full precision
}

// ---- the scan -------------------------------------------------------------

// The stages before entropy coding, for one row of blocks: colour conversion
// into 8 rows of samples per component, level shift to signed samples (0
// beyond the picture, which is mid-grey), then the
// forward DCT with quantization of each block (Y, Cb, Cr, left to right).
// The row's coefficients are written in natural order, DC not yet a
// difference. Rows are independent, so any thread can take any row.
//
// The pixel rows lie `stride` bytes apart from the top one, or come from a
// band that a decoder fills meanwhile: a row of blocks then waits for its
// rows. A band that stops leaves the row untransformed; the coder sees the
// stop and gives up.
class CRowTransformer {
public:
    CRowTransformer(
        std::int32_t width, std::int32_t height, const std::uint8_t* topRow, std::ptrdiff_t stride, CJpegRowBand* band)
        : m_width(std::size_t(width))
        , m_height(std::size_t(height))
        , m_topRow(topRow)
        , m_stride(stride)
        , m_band(band)
        , m_paddedWidth((m_width + 7) / 8 * 8)
        , m_quantizers { MakeForwardQuantizer(kLuminanceQuantization.data()),
            MakeForwardQuantizer(kChrominanceQuantization.data()) }
    {
    }

    std::size_t BlockRows() const { return (m_height + 7) / 8; }
    std::size_t BlocksAcross() const { return m_paddedWidth / 8; }
    std::size_t RowCoefficients() const { return BlocksAcross() * 3 * 64; }
    // The working samples of one row: 8 lines of each component.
    std::size_t StripeBytes() const { return 3 * m_paddedWidth * 8; }

    void TransformRow(std::size_t blockRow, std::uint8_t* stripe, std::int16_t* coefficients) const
    {
        const std::size_t planeBytes = m_paddedWidth * 8;
        std::uint8_t* planes[3] = { stripe, stripe + planeBytes, stripe + 2 * planeBytes };
        const std::size_t lines = std::min<std::size_t>(8, m_height - 8 * blockRow);
        if (m_band && !m_band->AwaitRows(8 * blockRow + lines))
            return;
        for (std::size_t line = 0; line < lines; ++line) {
            const std::size_t offset = line * m_paddedWidth;
            ConvertBgrToYCbCr(
                Row(8 * blockRow + line), int(m_width), planes[0] + offset, planes[1] + offset, planes[2] + offset);
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
        for (std::size_t column = 0; column < BlocksAcross(); ++column) {
            for (int c = 0; c < 3; ++c, coefficients += 64)
                ForwardDctQuantize(reinterpret_cast<const std::int8_t*>(planes[c] + column * 8),
                    std::ptrdiff_t(m_paddedWidth), m_quantizers[c == 0 ? 0 : 1], coefficients);
        }
    }

private:
    const std::uint8_t* Row(std::size_t y) const
    {
        return m_band ? m_band->Row(y) : m_topRow + std::ptrdiff_t(y) * m_stride;
    }

    std::size_t m_width;
    std::size_t m_height;
    const std::uint8_t* m_topRow;
    std::ptrdiff_t m_stride;
    CJpegRowBand* m_band;
    std::size_t m_paddedWidth;
    JpegForwardQuantizer m_quantizers[2];
};

// Pictures of at least this many pixels are transcoded in bands.
constexpr std::uint64_t kPixelsForBands = 512 * 512;

// Pictures with at least this many rows of blocks per helper thread get
// helpers; small pictures are not worth a thread.
constexpr std::size_t kRowsPerHelper = 32;
constexpr std::size_t kMaxHelpers = 3;
// Rows of coefficients that may wait for Huffman coding, per thread.
constexpr std::size_t kWindowRowsPerThread = 8;

std::size_t HelperCount(std::size_t blockRows, int limit)
{
    if (blockRows < kRowsPerHelper)
        return 0;
    std::size_t wanted = 0;
    if (limit >= 0) {
        wanted = std::size_t(limit);
    } else {
        const unsigned processors = std::thread::hardware_concurrency();
        wanted = processors > 1 ? processors - 1 : 0;
    }
    return std::min<std::size_t>({ wanted, kMaxHelpers, blockRows / kRowsPerHelper });
}

// Transforms the rows of blocks for the Huffman coder, which takes them in
// order: on helper threads and, while it waits for a row, on the coder's own
// thread. Rows run at most `window` ahead of coding: row r lives in slot
// r % window, which row r - window must have left (been coded) first. Every
// row is computed the same way wherever it runs, so the file does not depend
// on the number of threads.
//
// The pipeline owns its helpers. Every way out of the scan, finished or
// not, destroys it, which stops them and waits for them before the buffers
// they work in go away; a helper never waits for anything but the coder or
// the stop.
class CRowPipeline {
public:
    CRowPipeline(const CRowTransformer& transformer, std::size_t helperCount)
        : m_transformer(transformer)
        , m_rows(transformer.BlockRows())
        , m_window(std::max<std::size_t>(1, std::min(m_rows, kWindowRowsPerThread * (helperCount + 1))))
        , m_helperCount(helperCount)
    {
    }
    ~CRowPipeline() { Stop(); }
    CRowPipeline(const CRowPipeline&) = delete;
    CRowPipeline& operator=(const CRowPipeline&) = delete;

    // Takes the buffers and starts the helpers. False when the buffers
    // cannot be had. A helper that cannot be started (or cannot get its own
    // samples buffer) leaves its share to the others and to the coder.
    [[nodiscard]] bool Start()
    {
        m_coefficients = MakeLargeBuffer<std::int16_t>(m_window * m_transformer.RowCoefficients());
        m_stripe = MakeLargeBuffer<std::uint8_t>(m_transformer.StripeBytes());
        m_slots.assign(m_window, 0);
        if (!m_coefficients || !m_stripe)
            return false;
        m_helpers.reserve(m_helperCount);
        for (std::size_t i = 0; i < m_helperCount; ++i) {
            try {
                m_helpers.emplace_back([this] { RunHelper(); });
            } catch (const std::system_error&) {
                break;
            } catch (const std::bad_alloc&) {
                break;
            }
        }
        return true;
    }

    // The coefficients of `row`, the next one to be coded, once they are
    // ready; until then this thread transforms rows too.
    std::int16_t* AwaitRow(std::size_t row)
    {
        std::unique_lock lock(m_mutex);
        while (!IsTransformed(row)) {
            if (!CanClaim()) {
                // A helper has the row; it finishes every row it takes.
                m_rowReady.wait(lock, [&] { return IsTransformed(row); });
                break;
            }
            const std::size_t claimed = m_next++;
            lock.unlock();
            m_transformer.TransformRow(claimed, m_stripe.get(), RowCoefficients(claimed));
            lock.lock();
            m_slots[claimed % m_window] = claimed + 1;
        }
        return RowCoefficients(row);
    }

    // `row` has been coded: its slot may take the row `window` rows later.
    void ReleaseRow(std::size_t row)
    {
        {
            std::lock_guard lock(m_mutex);
            m_coded = row + 1;
        }
        m_slotFree.notify_all();
    }

    // Stops the helpers and waits for them; they finish the row they are
    // transforming, if any. Safe to call more than once.
    void Stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_slotFree.notify_all();
        for (std::thread& helper : m_helpers)
            helper.join();
        m_helpers.clear();
    }

private:
    std::int16_t* RowCoefficients(std::size_t row) const
    {
        return m_coefficients.get() + (row % m_window) * m_transformer.RowCoefficients();
    }
    // With the mutex held.
    bool IsTransformed(std::size_t row) const { return m_slots[row % m_window] == row + 1; }
    bool CanClaim() const { return m_next < m_rows && m_next < m_coded + m_window; }

    void RunHelper() noexcept
    {
        JpegLargeBuffer<std::uint8_t> stripe;
        try {
            stripe = MakeLargeBuffer<std::uint8_t>(m_transformer.StripeBytes());
        } catch (const std::bad_alloc&) {
        }
        if (!stripe)
            return;
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_slotFree.wait(lock, [&] { return m_stopping || m_next >= m_rows || CanClaim(); });
            if (m_stopping || m_next >= m_rows)
                return;
            const std::size_t row = m_next++;
            lock.unlock();
            m_transformer.TransformRow(row, stripe.get(), RowCoefficients(row));
            lock.lock();
            m_slots[row % m_window] = row + 1;
            m_rowReady.notify_one();
        }
    }

    const CRowTransformer& m_transformer;
    const std::size_t m_rows;
    const std::size_t m_window;
    const std::size_t m_helperCount;
    JpegLargeBuffer<std::int16_t> m_coefficients;
    JpegLargeBuffer<std::uint8_t> m_stripe; // the coder's own samples

    std::mutex m_mutex;
    std::condition_variable m_rowReady; // the coder waits for a helper's row
    std::condition_variable m_slotFree; // helpers wait for coded rows or the stop
    std::vector<std::size_t> m_slots; // row + 1 once transformed; 0 before
    std::size_t m_next = 0; // the next row to transform
    std::size_t m_coded = 0; // rows coded
    bool m_stopping = false;
    std::vector<std::thread> m_helpers;
};

// Huffman coding of the transformed rows, in order (T.81 F.1.2): the DC
// differences, the carrier bit of every chroma block, then the codes.
class CScanCoder {
public:
    CScanCoder(const JpegHuffmanTables& tables, std::span<const std::uint8_t> container, CJpegByteBuffer& out)
        : m_dcLuminance(MakeEncoding(tables[HuffmanTableIndex(0, 0)]))
        , m_acLuminance(MakeEncoding(tables[HuffmanTableIndex(1, 0)]))
        , m_dcChrominance(MakeEncoding(tables[HuffmanTableIndex(0, 1)]))
        , m_acChrominance(MakeEncoding(tables[HuffmanTableIndex(1, 1)]))
        , m_container(container)
        , m_writer(out)
    {
    }

    // False when the output cannot grow.
    [[nodiscard]] bool Reserve(std::size_t bytes) { return m_writer.Reserve(bytes); }

    // One row of blocks (Y, Cb, Cr of each MCU); its DC values become
    // differences in place. False when the output cannot grow.
    [[nodiscard]] bool CodeRow(std::int16_t* block, std::size_t blocksAcross)
    {
        if (!m_writer.Reserve(blocksAcross * 3 * kMaxBlockBytes))
            return false;
        for (std::size_t column = 0; column < blocksAcross; ++column) {
            for (int c = 0; c < 3; ++c, block += 64) {
                // DC prediction runs through all blocks of a component in
                // order, across block rows, without reset.
                const std::int16_t dc = block[0];
                block[0] = std::int16_t(dc - m_predictors[c]);
                m_predictors[c] = dc;
                if (c == 0) {
                    EncodeBlock(m_writer, block, m_dcLuminance, m_acLuminance);
                    continue;
                }
                // The carrier coefficient takes the next container bit; any
                // other value it had is dropped, so the bit reads back as
                // written.
                const std::size_t byte = m_carrierBits / 8;
                const int bit = byte < m_container.size() ? (m_container[byte] >> (7 - m_carrierBits % 8)) & 1 : 0;
                block[kCarrierNaturalIndex] = std::int16_t(bit);
                ++m_carrierBits;
                EncodeBlock(m_writer, block, m_dcChrominance, m_acChrominance);
            }
        }
        return true;
    }

    // Pads the last byte; the number of bytes coded.
    std::size_t Finish() { return m_writer.Finish(); }
    std::uint32_t CarrierBits() const { return m_carrierBits; }

private:
    const HuffmanEncoding m_dcLuminance;
    const HuffmanEncoding m_acLuminance;
    const HuffmanEncoding m_dcChrominance;
    const HuffmanEncoding m_acChrominance;
    std::span<const std::uint8_t> m_container;
    CJpegBitWriter m_writer;
    std::int16_t m_predictors[3] = {};
    std::uint32_t m_carrierBits = 0;
};

} // namespace

JpegResult CJpegCodec::Encode(
    const std::string& path, std::int32_t width, std::int32_t height, const std::uint8_t* pixels)
{
    const std::ptrdiff_t rowBytes = (std::ptrdiff_t(width) * 3 + 3) & ~std::ptrdiff_t(3);
    return Encode(path, width, height, pixels, rowBytes);
}

JpegResult CJpegCodec::Encode(
    const std::string& path, std::int32_t width, std::int32_t height, const std::uint8_t* topRow, std::ptrdiff_t stride)
{
    EncodedPieces pieces;
    if (JpegResult result = EncodeGuarded(width, height, { topRow, stride, nullptr }, pieces); !result.IsOk())
        return result;
    return WritePieces(path, pieces);
}

JpegResult CJpegCodec::EncodeToMemory(
    std::int32_t width, std::int32_t height, const std::uint8_t* pixels, std::vector<std::uint8_t>& file)
{
    // The caller's vector receives the file only once all of it is there.
    file.clear();
    const std::ptrdiff_t rowBytes = (std::ptrdiff_t(width) * 3 + 3) & ~std::ptrdiff_t(3);
    EncodedPieces pieces;
    if (JpegResult result = EncodeGuarded(width, height, { pixels, rowBytes, nullptr }, pieces); !result.IsOk())
        return result;
    return JoinPieces(pieces, file);
}

JpegResult CJpegCodec::WritePieces(const std::string& path, const EncodedPieces& pieces)
{
    std::string error;
    if (!WriteFileAtomically(path, { pieces.header, { pieces.data.Data(), pieces.dataLength }, pieces.trailer }, error))
        return { JpegStatus::CannotWriteFile, error };
    WriteLog(IDS_LOG_ENCODE_DONE);
    return {};
}

JpegResult CJpegCodec::JoinPieces(EncodedPieces& pieces, std::vector<std::uint8_t>& file)
{
    std::vector<std::uint8_t>& encoded = pieces.header;
    try {
        encoded.reserve(encoded.size() + pieces.dataLength + pieces.trailer.size());
    } catch (const std::bad_alloc&) {
        return { JpegStatus::OutOfMemory, {} };
    }
    encoded.insert(encoded.end(), pieces.data.Data(), pieces.data.Data() + pieces.dataLength);
    encoded.insert(encoded.end(), pieces.trailer.begin(), pieces.trailer.end());
    file.swap(encoded);
    WriteLog(IDS_LOG_ENCODE_DONE);
    return {};
}

JpegResult CJpegCodec::Transcode(std::span<const std::uint8_t> file, const std::string& path)
{
    EncodedPieces pieces;
    if (JpegResult result = TranscodePieces(file, pieces); !result.IsOk())
        return result;
    return WritePieces(path, pieces);
}

JpegResult CJpegCodec::TranscodeToMemory(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& encoded)
{
    encoded.clear();
    EncodedPieces pieces;
    if (JpegResult result = TranscodePieces(file, pieces); !result.IsOk())
        return result;
    return JoinPieces(pieces, encoded);
}

JpegResult CJpegCodec::TranscodePieces(std::span<const std::uint8_t> file, EncodedPieces& pieces)
{
    // The decoder is a codec of its own, so that this one keeps its
    // container, and logs nothing: the log shows the encoder at work.
    CJpegCodec decoder;
    decoder.m_quiet = true;

    // Small pictures, a frame this codec has not decoded, and a machine that
    // will not start a thread, are decoded whole first.
    const auto encodeWhole = [&]() -> JpegResult {
        if (JpegResult result = decoder.DecodeMemory(file); !result.IsOk())
            return result;
        const std::int32_t width = std::int32_t(decoder.GetWidth());
        const std::int32_t height = std::int32_t(decoder.GetHeight());
        const std::ptrdiff_t rowBytes = (std::ptrdiff_t(width) * 3 + 3) & ~std::ptrdiff_t(3);
        const std::uint8_t* topRow = decoder.m_image.get() + std::ptrdiff_t(height - 1) * rowBytes;
        return EncodeGuarded(width, height, { topRow, -rowBytes, nullptr }, pieces);
    };
    const std::uint32_t width = m_frameWidth;
    const std::uint32_t height = m_frameHeight;
    CJpegRowBand band;
    if (std::uint64_t(width) * height < kPixelsForBands || !band.Start(width, height))
        return encodeWhole();

    decoder.m_band = &band;
    decoder.m_target = DecodeTarget::Band;
    JpegResult decoded;
    std::thread decoding;
    try {
        decoding = std::thread([&] {
            decoded = decoder.DecodeGuarded(file);
            if (!decoded.IsOk())
                band.Stop();
        });
    } catch (const std::exception&) { // std::system_error or std::bad_alloc
        decoder.m_band = nullptr;
        decoder.m_target = DecodeTarget::Picture;
        return encodeWhole();
    }
    const JpegResult encoded = EncodeGuarded(std::int32_t(width), std::int32_t(height), { nullptr, 0, &band }, pieces);
    if (!encoded.IsOk())
        band.Stop();
    decoding.join();
    // A decoder that failed stopped the encoder, which then says only that;
    // an encoder that failed stopped the decoder the same way.
    if (!decoded.IsOk() && decoded.status != JpegStatus::DecodingStopped)
        return decoded;
    return encoded;
}

JpegResult CJpegCodec::EncodeGuarded(
    std::int32_t width, std::int32_t height, const PixelSource& source, EncodedPieces& pieces)
{
    try {
        if (JpegStatus status = EncodeStages(width, height, source, pieces); status != JpegStatus::Ok)
            return { status, {} };
        return {};
    } catch (const std::bad_alloc&) {
        return { JpegStatus::OutOfMemory, {} };
    }
}

JpegStatus CJpegCodec::EncodeStages(
    std::int32_t width, std::int32_t height, const PixelSource& source, EncodedPieces& pieces)
{
    if (width < 1 || width > 65535 || height < 1 || height > 65535 || (source.topRow == nullptr && !source.band))
        return JpegStatus::BadEncodeSize;
    std::vector<std::uint8_t>& header = pieces.header;

    WriteLog(IDS_LOG_INIT_HUFFMAN);
    for (JpegHuffmanTable& table : m_huffmanTables)
        table.present = false;
    WriteLog(IDS_LOG_PUT_SOI);
    WriteSoi(header);
    WriteLog(IDS_LOG_PUT_DQT);
    WriteDqt(header, 0, kLuminanceQuantization);
    WriteDqt(header, 1, kChrominanceQuantization);
    WriteLog(IDS_LOG_PUT_DHT);
    WriteDht(header, m_huffmanTables);
    WriteLog(IDS_LOG_PUT_SOF);
    WriteSof0(header, width, height);
    WriteLog(IDS_LOG_PUT_SOS);
    WriteSos(header);
    if (JpegStatus status = WriteScan(width, height, source, pieces); status != JpegStatus::Ok)
        return status;
    WriteEoi(pieces.trailer);
    return JpegStatus::Ok;
}

JpegStatus CJpegCodec::WriteScan(
    std::int32_t width, std::int32_t height, const PixelSource& source, EncodedPieces& pieces)
{
    // Colour conversion, level shift and DCT with quantization run one row
    // of blocks at a time, on helper threads for large pictures; Huffman
    // coding takes the rows in order on this thread as soon as each is ready.
    const CRowTransformer transformer(width, height, source.topRow, source.stride, source.band);
    CRowPipeline pipeline(transformer, HelperCount(transformer.BlockRows(), m_encoderHelperLimit));
    CScanCoder coder(m_huffmanTables, m_containerBuffer, pieces.data);
    WriteLog(IDS_LOG_RGB_TO_YUV);
    WriteLog(IDS_LOG_LEVEL_SHIFT);
    WriteLog(IDS_LOG_DCT_QUANTIZE);
    if (!pipeline.Start())
        return JpegStatus::OutOfMemory;

    WriteLog(IDS_LOG_HUFFMAN_ENCODE);
    m_carrierBitIndex = 0;
    if (!coder.Reserve(transformer.BlockRows() * transformer.BlocksAcross() * 16))
        return JpegStatus::OutOfMemory;
    for (std::size_t row = 0; row < transformer.BlockRows(); ++row) {
        std::int16_t* coefficients = pipeline.AwaitRow(row);
        // A band stops when its decoder fails; the rows are then not whole.
        if (source.band && source.band->Stopped())
            return JpegStatus::DecodingStopped;
        if (!coder.CodeRow(coefficients, transformer.BlocksAcross()))
            return JpegStatus::OutOfMemory;
        pipeline.ReleaseRow(row);
        if (source.band)
            source.band->Release(8 * (row + 1));
    }
    pipeline.Stop();
    m_carrierBitIndex = coder.CarrierBits();
    pieces.dataLength = coder.Finish();
    return JpegStatus::Ok;
}
