// The fast transforms, colour conversions and Huffman decoding against plain,
// slow references written straight from the formulas: bit for bit on many
// random inputs.

#include "jpeg/JpegTransform.h"
#include "jpeg/JpegHuffman.h"
#include "jpeg/JpegTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

// --- references -------------------------------------------------------------

// T = M^T F, S = T M in float, each sum in index order; sample = S * 0.25
// truncated to 16 bits, + 128, clamped.
void ReferenceInverseDct(const std::int16_t* coefficients, const std::uint16_t* quantization, std::uint8_t* output)
{
    float f[8][8];
    for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u)
            f[v][u] = float(std::int16_t(coefficients[8 * v + u] * quantization[8 * v + u]));
    }
    float t[8][8];
    for (int y = 0; y < 8; ++y) {
        for (int u = 0; u < 8; ++u) {
            float sum = 0.0f;
            for (int v = 0; v < 8; ++v)
                sum += InverseDctMatrix(v, y) * f[v][u];
            t[y][u] = sum;
        }
    }
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            float sum = 0.0f;
            for (int u = 0; u < 8; ++u)
                sum += t[y][u] * InverseDctMatrix(u, x);
            const int sample = std::int16_t(std::int32_t(sum * 0.25f)) + 128;
            output[8 * y + x] = std::uint8_t(sample < 0 ? 0 : sample > 255 ? 255 : sample);
        }
    }
}

// F(v,u) = C(v) C(u) sum 0.25, sum over y then x of s T[u][x] T[v][y],
// before truncation.
double ReferenceCoefficient(const std::int8_t* samples, int v, int u)
{
    static const auto t = [] {
        std::array<std::array<double, 8>, 8> table;
        for (int k = 0; k < 8; ++k) {
            for (int n = 0; n < 8; ++n)
                table[std::size_t(k)][std::size_t(n)] = double(ForwardDctTable(k, n));
        }
        return table;
    }();
    double sum = 0.0;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x)
            sum += double(samples[8 * y + x]) * t[std::size_t(u)][std::size_t(x)] * t[std::size_t(v)][std::size_t(y)];
    }
    const double cv = v == 0 ? 0.7071 : 1.0;
    const double cu = u == 0 ? 0.7071 : 1.0;
    return cv * cu * sum * 0.25;
}

// F truncated, then quantized by integer division, in natural order.
void ReferenceForwardDct(const std::int8_t* samples, const std::uint8_t* quantizationZigzag, std::int16_t* output)
{
    for (int k = 0; k < 64; ++k) {
        const int n = kZigzagToNatural[std::size_t(k)];
        output[n] = std::int16_t(std::int32_t(ReferenceCoefficient(samples, n / 8, n % 8)) / quantizationZigzag[k]);
    }
}

std::uint8_t ClampTruncateFloat(float value)
{
    if (value > 255)
        value = 255;
    if (value < 0)
        value = 0;
    return std::uint8_t(value);
}

std::uint8_t ClampTruncateDouble(double value)
{
    if (value > 255)
        value = 255;
    if (value < 0)
        value = 0;
    return std::uint8_t(value);
}

// T.81 Annex C and Figure F.16, one bit at a time.
struct ReferenceHuffman {
    std::vector<int> lengths, codes, symbols;
    int maxCode[17], minCode[17], valuePointer[17];
};

ReferenceHuffman BuildReference(const std::uint8_t* bits, const std::uint8_t* symbols)
{
    ReferenceHuffman table;
    for (int l = 1; l <= 16; ++l) {
        for (int i = 0; i < bits[l - 1]; ++i) {
            table.lengths.push_back(l);
            table.symbols.push_back(symbols[table.symbols.size()]);
        }
    }
    int code = 0;
    std::size_t k = 0;
    for (int l = 1; l <= 16; ++l) {
        for (int i = 0; i < bits[l - 1]; ++i, ++k)
            table.codes.push_back(code++);
        code <<= 1;
    }
    int j = 0;
    for (int l = 1; l <= 16; ++l) {
        if (bits[l - 1] == 0) {
            table.maxCode[l] = -1;
            continue;
        }
        table.valuePointer[l] = j;
        table.minCode[l] = table.codes[std::size_t(j)];
        j += bits[l - 1];
        table.maxCode[l] = table.codes[std::size_t(j - 1)];
    }
    return table;
}

int ReferenceDecode(const ReferenceHuffman& table, const std::vector<int>& stream, std::size_t& position)
{
    int code = stream[position++];
    int l = 1;
    while (code > table.maxCode[l]) {
        if (++l > 16)
            return -1;
        code = 2 * code + stream[position++];
    }
    return table.symbols[std::size_t(table.valuePointer[l] + code - table.minCode[l])];
}

} // namespace

TEST(JpegTransformTest, InverseDctMatchesReferenceBitForBit)
{
    std::mt19937 random(7);
    std::uint16_t quantization[64];
    for (int trial = 0; trial < 20000; ++trial) {
        alignas(32) std::int16_t coefficients[64] = {};
        // Mixes dense blocks, sparse blocks (which take the skipping paths),
        // huge values (16-bit wrap-around) and DC-only blocks.
        const int kind = trial % 4;
        for (int n = 0; n < 64; ++n) {
            quantization[n] = std::uint16_t(kind == 2 ? 1 + random() % 255 : 1 + random() % 40);
            const bool present = kind == 0 || (kind == 1 && random() % 6 == 0) || (kind == 2 && random() % 3 == 0)
                || (kind == 3 && n == 0);
            if (present)
                coefficients[n] = std::int16_t(kind == 2 ? int(random() % 65536) - 32768 : int(random() % 301) - 150);
        }
        unsigned rowMask = 0, columnMask = 0;
        for (int n = 0; n < 64; ++n) {
            if (coefficients[n] != 0) {
                rowMask |= 1u << (n / 8);
                columnMask |= 1u << (n % 8);
            }
        }
        std::uint8_t expected[64], actual[64];
        ReferenceInverseDct(coefficients, quantization, expected);
        InverseDct(coefficients, quantization, rowMask, columnMask, actual, 8);
        ASSERT_EQ(0, std::memcmp(expected, actual, 64)) << "trial " << trial;
    }
}

TEST(JpegTransformTest, InverseDctOfSmallDcValues)
{
    // trunc(0.25 * 0.7071 * 0.7071 * 8) = 0 and trunc(... * 16) = 1.
    alignas(32) std::int16_t coefficients[64] = {};
    std::uint16_t quantization[64];
    std::fill(std::begin(quantization), std::end(quantization), std::uint16_t(1));
    std::uint8_t samples[64];
    for (auto [dc, sample] : { std::pair { 8, 128 }, std::pair { 16, 129 }, std::pair { -16, 127 } }) {
        coefficients[0] = std::int16_t(dc);
        InverseDct(coefficients, quantization, 1, 1, samples, 8);
        for (std::uint8_t value : samples)
            EXPECT_EQ(sample, value) << "DC " << dc;
    }
}

TEST(JpegTransformTest, ForwardDctMatchesReferenceBitForBit)
{
    std::mt19937 random(11);
    for (int trial = 0; trial < 4000; ++trial) {
        std::int8_t samples[64];
        const int kind = trial % 3;
        for (int n = 0; n < 64; ++n) {
            if (kind == 0)
                samples[n] = std::int8_t(int(random() % 256) - 128);
            else if (kind == 1)
                samples[n] = std::int8_t((n % 8 + n / 8) * 9 - 64 + int(random() % 5));
            else
                samples[n] = std::int8_t(random() % 2 ? 127 : -128);
        }
        const std::uint8_t* table = trial % 2 ? kChrominanceQuantization.data() : kLuminanceQuantization.data();
        std::uint8_t ones[64];
        std::fill(std::begin(ones), std::end(ones), std::uint8_t(1));
        for (const std::uint8_t* quantization : { table, static_cast<const std::uint8_t*>(ones) }) {
            std::int16_t expected[64], actual[64];
            ReferenceForwardDct(samples, quantization, expected);
            ForwardDctQuantize(samples, 8, MakeForwardQuantizer(quantization), actual);
            ASSERT_EQ(0, std::memcmp(expected, actual, sizeof expected)) << "trial " << trial;
        }
    }
}

// The quantized values on many blocks of every kind, and on blocks steered
// so that F / q lies within a hair of a non-zero integer, where the
// quantized value jumps.
class ForwardDctQuantizationTest : public ::testing::Test {
protected:
    ForwardDctQuantizationTest()
    {
        std::fill(std::begin(m_ones), std::end(m_ones), std::uint8_t(1));
        m_tables[0] = kLuminanceQuantization.data();
        m_tables[1] = kChrominanceQuantization.data();
        m_tables[2] = m_ones;
    }

    void ExpectSameAsReference(const std::int8_t* samples, const char* what, int trial)
    {
        std::int32_t truncated[64];
        for (int n = 0; n < 64; ++n)
            truncated[n] = std::int32_t(ReferenceCoefficient(samples, n / 8, n % 8));
        for (const std::uint8_t* table : m_tables) {
            std::int16_t expected[64], actual[64];
            for (int k = 0; k < 64; ++k) {
                const int n = kZigzagToNatural[std::size_t(k)];
                expected[n] = std::int16_t(truncated[n] / table[k]);
            }
            ForwardDctQuantize(samples, 8, MakeForwardQuantizer(table), actual);
            for (int n = 0; n < 64; ++n)
                ASSERT_EQ(expected[n], actual[n]) << what << " " << trial << ", coefficient " << n << ", table "
                                                  << (table == m_ones         ? 2
                                                             : table[0] == 16 ? 0
                                                                              : 1);
        }
    }

    std::uint8_t m_ones[64];
    const std::uint8_t* m_tables[3];
};

TEST_F(ForwardDctQuantizationTest, ManyBlocksMatchTheDirectSum)
{
    std::mt19937 random(23);
    for (int trial = 0; trial < 120000; ++trial) {
        std::int8_t samples[64];
        const int level = int(random() % 256) - 128;
        for (int n = 0; n < 64; ++n) {
            switch (trial % 5) {
            case 0: // noise
                samples[n] = std::int8_t(int(random() % 256) - 128);
                break;
            case 1: // extremes
                samples[n] = std::int8_t(random() % 2 ? 127 : -128);
                break;
            case 2: // flat, every level in turn
                samples[n] = std::int8_t(trial / 5 % 256 - 128);
                break;
            case 3: // smooth with a little grain
                samples[n] = std::int8_t(std::clamp(
                    level + (n % 8) * (trial % 7 - 3) + (n / 8) * (trial % 11 - 5) + int(random() % 3) - 1, -128, 127));
                break;
            default: // two levels with an edge
                samples[n] = std::int8_t(n % 8 + n / 8 < trial % 15 ? level : -level - 1);
                break;
            }
        }
        ExpectSameAsReference(samples, "block", trial);
        if (HasFatalFailure())
            return;
    }
}

TEST_F(ForwardDctQuantizationTest, BlocksOnQuantizationStepsMatchTheDirectSum)
{
    // F is linear in the samples, with weights w(x,y) that take at most 16
    // magnitudes, all met at 0 <= x, y < 4. A step changes up to four of
    // those samples by -20..20: every pair of changes is listed with its
    // effect on F / q, sorted, and for each pair a binary search finds the
    // partner pair that best cancels the remaining distance. The true F then
    // checks the result.
    struct Pair {
        double effect;
        std::int8_t first, second, firstDelta, secondDelta;
    };
    std::mt19937 random(5);
    int steered = 0, attempts = 0;
    for (int table = 0; table < 3; ++table) {
        for (int n = table; n < 64; n += 8, ++attempts) {
            int q = 1;
            for (int k = 0; k < 64; ++k) {
                if (kZigzagToNatural[std::size_t(k)] == n)
                    q = m_tables[table][k];
            }
            const int v = n / 8, u = n % 8;
            // a start along the basis function, so that F / q is well away
            // from 0 and the nearest integer is a step of the quantizer
            std::int8_t samples[64];
            for (int i = 0; i < 64; ++i) {
                const int level = 40 + int(random() % 41);
                samples[i] = std::int8_t(ForwardDctTable(u, i % 8) * ForwardDctTable(v, i / 8) < 0 ? -level : level);
            }
            int index[16];
            double weight[16];
            for (int i = 0; i < 16; ++i) {
                index[i] = 8 * (i / 4) + i % 4;
                std::int8_t impulse[64] = {};
                impulse[index[i]] = 64;
                weight[i] = ReferenceCoefficient(impulse, v, u) / 64 / q;
            }
            std::vector<Pair> pairs;
            for (int i = 0; i < 16; ++i) {
                for (int j = i + 1; j < 16; ++j) {
                    for (int di = -20; di <= 20; ++di) {
                        for (int dj = -20; dj <= 20; ++dj)
                            pairs.push_back({ di * weight[i] + dj * weight[j], std::int8_t(i), std::int8_t(j),
                                std::int8_t(di), std::int8_t(dj) });
                    }
                }
            }
            std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.effect < b.effect; });

            const double start = ReferenceCoefficient(samples, v, u) / q;
            const double target = std::round(start);
            double distance = std::fabs(start - target);
            for (int step = 0; step < 3 && distance > 1e-12; ++step) {
                const double error = ReferenceCoefficient(samples, v, u) / q - target;
                double best = std::fabs(error);
                const Pair* chosen[2] = {};
                for (const Pair& pair : pairs) {
                    auto at = std::lower_bound(pairs.begin(), pairs.end(), -error - pair.effect,
                        [](const Pair& p, double value) { return p.effect < value; });
                    for (auto it : { at, at == pairs.begin() ? at : at - 1 }) {
                        if (it == pairs.end())
                            continue;
                        const double remaining = std::fabs(error + pair.effect + it->effect);
                        if (remaining < best) {
                            best = remaining;
                            chosen[0] = &pair;
                            chosen[1] = &*it;
                        }
                    }
                }
                if (chosen[0] == nullptr)
                    break;
                std::int8_t changed[64];
                std::memcpy(changed, samples, sizeof changed);
                for (const Pair* pair : chosen) {
                    changed[index[pair->first]] = std::int8_t(changed[index[pair->first]] + pair->firstDelta);
                    changed[index[pair->second]] = std::int8_t(changed[index[pair->second]] + pair->secondDelta);
                }
                const double reached = std::fabs(ReferenceCoefficient(changed, v, u) / q - target);
                if (reached >= distance)
                    break;
                distance = reached;
                std::memcpy(samples, changed, sizeof changed);
            }
            if (distance < 1e-7)
                ++steered;
            ExpectSameAsReference(samples, "steered block", attempts);
            if (HasFatalFailure())
                return;
        }
    }
    // the steering must reach the steps for the test to mean anything (F at
    // the few positions with one or two weight magnitudes cannot get close)
    EXPECT_GE(steered, attempts / 2);
}

TEST(JpegTransformTest, QuantizerReciprocalGivesIntegerDivision)
{
    for (int divisor = 1; divisor <= 255; ++divisor) {
        const double reciprocal = QuantizerReciprocal(divisor);
        for (int value = -4095; value <= 4095; ++value)
            ASSERT_EQ(value / divisor, int(double(value) * reciprocal)) << value << " / " << divisor;
    }
}

TEST(JpegTransformTest, ColourConversionsMatchReferenceBitForBit)
{
    std::mt19937 random(3);
    const int width = 61; // not a multiple of the vector width
    std::vector<std::uint8_t> y(64), cb(64), cr(64), bgr(3 * 64);
    for (int trial = 0; trial < 2000; ++trial) {
        for (int x = 0; x < 64; ++x) {
            y[std::size_t(x)] = std::uint8_t(random());
            cb[std::size_t(x)] = std::uint8_t(random());
            cr[std::size_t(x)] = std::uint8_t(random());
        }
        ConvertYCbCrToBgr(y.data(), cb.data(), cr.data(), width, bgr.data());
        for (int x = 0; x < width; ++x) {
            const float luma = y[std::size_t(x)], blue = float(cb[std::size_t(x)] - 128),
                        red = float(cr[std::size_t(x)] - 128);
            ASSERT_EQ(ClampTruncateFloat(luma + 1.402f * red), bgr[3 * std::size_t(x) + 2]);
            ASSERT_EQ(ClampTruncateFloat(luma - 0.34414f * blue - 0.71414f * red), bgr[3 * std::size_t(x) + 1]);
            ASSERT_EQ(ClampTruncateFloat(luma + 1.772f * blue), bgr[3 * std::size_t(x)]);
        }

        for (auto& byte : bgr)
            byte = std::uint8_t(random());
        std::vector<std::uint8_t> outY(64), outCb(64), outCr(64);
        ConvertBgrToYCbCr(bgr.data(), width, outY.data(), outCb.data(), outCr.data());
        for (int x = 0; x < width; ++x) {
            const double b = bgr[3 * std::size_t(x)], g = bgr[3 * std::size_t(x) + 1], r = bgr[3 * std::size_t(x) + 2];
            ASSERT_EQ(ClampTruncateDouble(0.299 * r + 0.587 * g + 0.114 * b), outY[std::size_t(x)]);
            ASSERT_EQ(ClampTruncateDouble(0.5 * b - 0.1687 * r - 0.3313 * g + 128), outCb[std::size_t(x)]);
            ASSERT_EQ(ClampTruncateDouble(0.5 * r - 0.4187 * g - 0.0813 * b + 128), outCr[std::size_t(x)]);
        }
    }
}

TEST(JpegTransformTest, TableDrivenHuffmanDecodingMatchesBitByBitDecoding)
{
    std::mt19937 random(5);
    for (int trial = 0; trial < 300; ++trial) {
        // A random complete-enough table with codes of up to 16 bits: the
        // standard AC tables, or counts drawn so that the code space is not
        // overfilled.
        std::uint8_t bits[16] = {};
        std::uint8_t symbols[256];
        int count = 0;
        if (trial < 2) {
            const HuffmanTableDefinition& standard = trial == 0 ? kAcLuminanceHuffman : kAcChrominanceHuffman;
            std::copy(standard.bits.begin(), standard.bits.end(), bits);
            count = standard.count;
            std::copy(standard.values, standard.values + count, symbols);
        } else {
            std::uint32_t room = 1; // free codes at the current length
            for (int l = 0; l < 16 && count < 256; ++l) {
                room *= 2;
                const std::uint32_t limit = std::min<std::uint32_t>(room - 1, std::uint32_t(256 - count));
                const std::uint32_t take = l < 2 ? random() % 2 : random() % (std::min<std::uint32_t>(limit, 24) + 1);
                bits[l] = std::uint8_t(take);
                room -= take;
                count += int(take);
            }
            for (int i = 0; i < count; ++i)
                symbols[i] = std::uint8_t(random());
        }
        JpegHuffmanTable fast;
        ASSERT_EQ(JpegStatus::Ok, BuildHuffmanTable(bits, symbols, count, fast));
        const ReferenceHuffman reference = BuildReference(bits, symbols);

        // A stream of random codes (and some random bits that may match no
        // code), packed into bytes with 0xFF stuffing.
        std::vector<int> stream;
        for (int i = 0; i < 400; ++i) {
            if (count > 0 && random() % 8 != 0) {
                const std::size_t pick = random() % std::size_t(count);
                for (int b = reference.lengths[pick] - 1; b >= 0; --b)
                    stream.push_back((reference.codes[pick] >> b) & 1);
            } else {
                stream.push_back(int(random() % 2));
            }
        }
        while (stream.size() % 8 != 0)
            stream.push_back(1);
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i < stream.size(); i += 8) {
            int byte = 0;
            for (int b = 0; b < 8; ++b)
                byte = byte * 2 + stream[i + std::size_t(b)];
            bytes.push_back(std::uint8_t(byte));
            if (byte == 0xFF)
                bytes.push_back(0x00);
        }
        const std::size_t totalBits = stream.size();
        for (int i = 0; i < 16; ++i)
            stream.push_back(0); // what the reader supplies past the end

        CJpegBitReader reader;
        reader.Start(bytes.data(), bytes.size(), 0);
        std::size_t position = 0;
        bool matchedAll = true;
        while (position < totalBits) {
            const int expected = ReferenceDecode(reference, stream, position);
            ASSERT_EQ(expected, DecodeHuffman(reader, fast)) << "trial " << trial;
            if (expected < 0) {
                matchedAll = false;
                break;
            }
        }
        if (matchedAll) {
            // Both consumed the same number of bits, also past the end.
            EXPECT_EQ(bytes.size(), reader.NextLoadOffset());
            EXPECT_EQ(int(totalBits) - int(position), reader.Count()) << "trial " << trial;
        }
    }
}

TEST(JpegTransformTest, OverfullHuffmanTablesAreRefused)
{
    JpegHuffmanTable table;
    const std::uint8_t symbols[256] = {};
    // Three codes of length 1, and two of length 1 (the second would be all ones).
    const std::uint8_t threeOfOne[16] = { 3 };
    const std::uint8_t twoOfOne[16] = { 2 };
    const std::uint8_t fullSixteen[16] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255 };
    EXPECT_EQ(JpegStatus::BadHuffmanTable, BuildHuffmanTable(threeOfOne, symbols, 3, table));
    EXPECT_EQ(JpegStatus::BadHuffmanTable, BuildHuffmanTable(twoOfOne, symbols, 2, table));
    EXPECT_EQ(JpegStatus::Ok, BuildHuffmanTable(fullSixteen, symbols, 255, table));
}
