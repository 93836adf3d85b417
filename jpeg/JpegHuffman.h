#pragma once

#include "jpeg/JpegMarkers.h"
#include "jpeg/JpegStatus.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// Huffman tables and the entropy-coded bit stream of a baseline JPEG scan
// (ITU-T T.81 Annex C and F.2.2).

// Codes up to this many bits are decoded with one table look-up; longer ones
// fall back to the MAXCODE search of T.81 Figure F.16.
inline constexpr int kHuffmanLookaheadBits = 9;

struct JpegHuffmanTable {
    bool present = false;
    int count = 0; // number of codes
    std::array<std::uint8_t, 17> bits {}; // BITS[1..16]; entry 0 unused
    std::array<std::uint8_t, 256> symbols {}; // HUFFVAL, in code order
    std::array<std::uint16_t, 256> codes {}; // HUFFCODE (Figure C.2)
    std::array<std::uint8_t, 257> lengths {}; // HUFFSIZE (Figure C.1), ended by 0
    // Figure F.15, indexed by code length 1..16. MAXCODE is -1 for a length
    // without codes.
    std::array<std::int32_t, 17> maxCode {};
    std::array<std::int32_t, 17> minCode {};
    std::array<std::int32_t, 17> valuePointer {};
    // For every 9-bit prefix: (code length << 8) | symbol of the code it
    // starts with, or 0 when that code is longer than 9 bits or no code of up
    // to 9 bits matches.
    std::array<std::uint16_t, 1 << kHuffmanLookaheadBits> lookahead {};
};

// The tables a file may define: DC tables 0-3, then AC tables 0-3.
using JpegHuffmanTables = std::array<JpegHuffmanTable, 8>;
inline constexpr std::size_t HuffmanTableIndex(int tableClass, int id) { return std::size_t(4 * tableClass + id); }

// Builds the decoding (and code) tables from the 16 code counts and the
// symbols of one table. Fails when the counts ask for more codes of some
// length than that length has room for (T.81 C: no code may be all 1 bits).
[[nodiscard]] JpegStatus BuildHuffmanTable(
    const std::uint8_t* bits, const std::uint8_t* symbols, int count, JpegHuffmanTable& table);

// The contents of one DHT segment (T.81 B.2.4.2), everything after its
// length field: one or more tables, each a table byte (class in the high
// nibble, identifier in the low one), the 16 code counts and the symbols.
// Each table replaces the one of its class and identifier in `tables`. Fails
// on a class above 1 or an identifier above 3, on a table that does not fit
// the segment and on counts that make no code table.
[[nodiscard]] JpegStatus ParseHuffmanSegment(std::span<const std::uint8_t> contents, JpegHuffmanTables& tables);

// Reads the entropy-coded segment of a scan. Bits come from a 64-bit
// accumulator, most significant bit first; stuffed 0xFF 0x00 pairs give one
// 0xFF byte. Loading stops at a marker or at the end of the data; from then
// on the accumulator supplies zero bits and the count of real bits goes
// negative once they are consumed, which the caller checks after each block.
class CJpegBitReader {
public:
    void Start(const std::uint8_t* data, std::size_t size, std::size_t offset)
    {
        m_data = data;
        m_size = size;
        m_next = offset;
        m_accumulator = 0;
        m_count = 0;
    }

    void Fill()
    {
        if (m_count < 0)
            return;
        while (m_count <= 56) {
            if (m_next >= m_size)
                return;
            std::uint8_t byte = m_data[m_next];
            if (byte == kMarkerPrefix) {
                if (m_next + 1 >= m_size || m_data[m_next + 1] != kMarkerStuffedZero)
                    return; // a marker, or the data ends inside a stuffed pair
                m_next += 2;
            } else {
                m_next += 1;
            }
            m_accumulator |= std::uint64_t(byte) << (56 - m_count);
            m_count += 8;
        }
    }

    // The next `length` bits (1..16) without consuming them.
    std::uint32_t Peek(int length) const { return std::uint32_t(m_accumulator >> (64 - length)); }
    void Skip(int length)
    {
        m_accumulator <<= length;
        m_count -= length;
    }

    // RECEIVE(s) then EXTEND(v, s), T.81 F.2.2.1 and Figure F.12.
    std::int32_t ReceiveExtend(int size)
    {
        if (size == 0)
            return 0;
        if (m_count < size)
            Fill();
        const std::int32_t value = std::int32_t(Peek(size));
        Skip(size);
        return value < (1 << (size - 1)) ? value + 1 - (1 << size) : value;
    }

    // RECEIVE(s) with the value dropped.
    void SkipBits(int size)
    {
        if (size == 0)
            return;
        if (m_count < size)
            Fill();
        Skip(size);
    }

    // True when more bits were consumed than the data holds.
    bool Overrun() const { return m_count < 0; }
    // True when loading stopped at a marker that is not the end of the data.
    bool StoppedAtMarker() const
    {
        return m_next + 1 < m_size && m_data[m_next] == kMarkerPrefix && m_data[m_next + 1] != kMarkerStuffedZero;
    }

    // The restart rule of the scan (T.81 F.2.1.3.1): when only the bits of a
    // partly read byte remain and a restart marker RST0..RST7 follows, skip
    // the marker and start afresh on a byte boundary. Returns true when a
    // marker was taken.
    bool TakeRestartMarker()
    {
        if (m_count < 0 || m_count >= 8)
            return false;
        if (m_next + 1 >= m_size || m_data[m_next] != kMarkerPrefix || !IsRestartMarker(m_data[m_next + 1]))
            return false;
        m_next += 2;
        m_accumulator = 0;
        m_count = 0;
        return true;
    }

    // Where the scan's data ends: the offset just after the last byte that was
    // partly or wholly consumed, or -1 while whole unread bytes remain
    // in the accumulator.
    std::ptrdiff_t EndOfConsumedData() const
    {
        if (m_count < 0 || m_count >= 8)
            return -1;
        return std::ptrdiff_t(m_next);
    }
    std::size_t NextLoadOffset() const { return m_next; }

    int Count() const { return m_count; }

private:
    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_next = 0;
    std::uint64_t m_accumulator = 0;
    int m_count = 0; // real bits left in the accumulator
};

// DECODE of T.81 Figure F.16: the next symbol, or -1 when the bits match no
// code of the table.
inline int DecodeHuffman(CJpegBitReader& reader, const JpegHuffmanTable& table)
{
    if (reader.Count() < 16)
        reader.Fill();
    const std::uint16_t entry = table.lookahead[reader.Peek(kHuffmanLookaheadBits)];
    if (entry != 0) {
        reader.Skip(entry >> 8);
        return entry & 0xFF;
    }
    const std::int32_t bits16 = std::int32_t(reader.Peek(16));
    for (int length = kHuffmanLookaheadBits + 1; length <= 16; ++length) {
        const std::int32_t code = bits16 >> (16 - length);
        if (code <= table.maxCode[length]) {
            reader.Skip(length);
            return table.symbols[std::size_t(table.valuePointer[length] + code - table.minCode[length])];
        }
    }
    return -1;
}
