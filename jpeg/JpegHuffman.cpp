#include "jpeg/JpegHuffman.h"

JpegStatus BuildHuffmanTable(const std::uint8_t* bits, const std::uint8_t* symbols, int count, JpegHuffmanTable& table)
{
    table = JpegHuffmanTable {};
    int total = 0;
    for (int length = 1; length <= 16; ++length) {
        table.bits[std::size_t(length)] = bits[length - 1];
        total += bits[length - 1];
    }
    if (total != count || count > 256)
        return JpegStatus::BadHuffmanTable;
    table.count = count;
    for (int i = 0; i < count; ++i)
        table.symbols[std::size_t(i)] = symbols[i];

    // Figure C.1: the code length of every symbol, ended by 0.
    int index = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < table.bits[std::size_t(length)]; ++i)
            table.lengths[std::size_t(index++)] = std::uint8_t(length);
    }
    table.lengths[std::size_t(index)] = 0;

    // Figure C.2: consecutive codes within a length; one more bit for the
    // next length. A length whose codes overflow it, or would use the
    // all-ones code, makes a table that no valid encoder writes.
    std::uint32_t code = 0;
    index = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < table.bits[std::size_t(length)]; ++i)
            table.codes[std::size_t(index++)] = std::uint16_t(code++);
        if (code >= (1u << length))
            return JpegStatus::BadHuffmanTable;
        code <<= 1;
    }

    // Figure F.15.
    index = 0;
    for (int length = 1; length <= 16; ++length) {
        const int codesOfLength = table.bits[std::size_t(length)];
        if (codesOfLength == 0) {
            table.maxCode[std::size_t(length)] = -1;
            continue;
        }
        table.valuePointer[std::size_t(length)] = index;
        table.minCode[std::size_t(length)] = table.codes[std::size_t(index)];
        index += codesOfLength;
        table.maxCode[std::size_t(length)] = table.codes[std::size_t(index - 1)];
    }

    // The look-up table runs the same search as Figure F.16 for the lengths it
    // covers, so both give the same symbol for every bit pattern.
    for (std::uint32_t prefix = 0; prefix < table.lookahead.size(); ++prefix) {
        for (int length = 1; length <= kHuffmanLookaheadBits; ++length) {
            const std::int32_t candidate = std::int32_t(prefix >> (kHuffmanLookaheadBits - length));
            if (candidate <= table.maxCode[std::size_t(length)]) {
                const std::uint8_t symbol = table.symbols[std::size_t(
                    table.valuePointer[std::size_t(length)] + candidate - table.minCode[std::size_t(length)])];
                table.lookahead[prefix] = std::uint16_t((length << 8) | symbol);
                break;
            }
        }
    }
    table.present = true;
    return JpegStatus::Ok;
}

JpegStatus ParseHuffmanSegment(std::span<const std::uint8_t> contents, JpegHuffmanTables& tables)
{
    std::size_t offset = 0;
    while (offset < contents.size()) {
        const std::uint8_t tableByte = contents[offset];
        const int tableClass = tableByte >> 4;
        const int id = tableByte & 15;
        if (tableClass > 1 || id > 3)
            return JpegStatus::BadHuffmanTableClass;
        if (contents.size() - offset < 17)
            return JpegStatus::SegmentTooShort;
        const std::uint8_t* bits = &contents[offset + 1];
        std::size_t count = 0;
        for (int i = 0; i < 16; ++i)
            count += bits[i];
        if (contents.size() - offset - 17 < count)
            return JpegStatus::SegmentTooShort;
        if (JpegStatus status
            = BuildHuffmanTable(bits, &contents[offset + 17], int(count), tables[HuffmanTableIndex(tableClass, id)]);
            status != JpegStatus::Ok)
            return status;
        offset += 17 + count;
    }
    return JpegStatus::Ok;
}
