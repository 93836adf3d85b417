#pragma once

#include "jpeg/JpegHuffman.h"
#include "jpeg/JpegMemory.h"
#include "jpeg/JpegStatus.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

class CJpegRowBand;

// A baseline JPEG codec (ITU-T T.81 sequential DCT, Huffman coding) that
// carries one secret bit in every chroma block.
//
// Decoding turns a file into a 24-bit bottom-up BGR pixel array (each row
// padded to a multiple of 4 bytes, as in a Windows DIB) and, on the way,
// collects the carrier bit of every block of the second and third component
// into the container buffer: 1 when the quantized coefficient at zigzag
// position 9 is non-zero. Encoding writes a fresh 4:4:4 file with fixed tables
// and puts the container buffer's bits back, one into every Cb and Cr block.
//
// Each step is announced through WriteLog: 104-113 while decoding, 114-124
// while encoding.
class CJpegCodec {
public:
    CJpegCodec();
    virtual ~CJpegCodec();
    CJpegCodec(const CJpegCodec&) = delete;
    CJpegCodec& operator=(const CJpegCodec&) = delete;

    // Reads the whole file and decodes it. On failure the codec holds no
    // image and the result says why.
    JpegResult Decode(const std::string& path);
    JpegResult DecodeMemory(std::span<const std::uint8_t> file);
    // Everything DecodeMemory does but the pixels: the segments and every
    // block of the scan are read with the same checks, and the size, the
    // component count and the container come out the same, but nothing is
    // dequantized, transformed or converted, so HasImage() stays false. The
    // log shows the same steps as for DecodeMemory.
    JpegResult DecodeCarriers(std::span<const std::uint8_t> file);

    // Encodes `width` x `height` pixels given as top-down rows of B, G, R bytes,
    // each row padded to a multiple of 4 bytes, and writes the file whole
    // (through a temporary file, so a failed write leaves no partial file).
    JpegResult Encode(const std::string& path, std::int32_t width, std::int32_t height, const std::uint8_t* pixels);
    // The same into `file`, which holds the whole file on success and is
    // empty after a failure.
    JpegResult EncodeToMemory(
        std::int32_t width, std::int32_t height, const std::uint8_t* pixels, std::vector<std::uint8_t>& file);
    // Encode for rows `stride` bytes apart, starting with the top row: a
    // negative stride takes the rows of a bottom-up picture as they lie.
    JpegResult Encode(const std::string& path, std::int32_t width, std::int32_t height, const std::uint8_t* topRow,
        std::ptrdiff_t stride);

    // Decodes `file`, the file that this codec's last DecodeCarriers or
    // DecodeMemory accepted, once more and encodes its pixels as Encode would, hiding the container
    // buffer as it is now. The file is the one Encode writes from the decoded
    // picture, but the picture is never held whole: a second thread decodes
    // it band by band while the encoder takes the bands. The log shows the
    // encoder's steps only.
    JpegResult Transcode(std::span<const std::uint8_t> file, const std::string& path);
    JpegResult TranscodeToMemory(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& encoded);

    // How many helper threads the encoder may use for large pictures: -1
    // (the default) for one fewer than the processors, at most 3. The file
    // is the same whatever the number.
    void SetEncoderHelperThreads(int count) { m_encoderHelperLimit = count; }
    // Whether decoding writes its steps to the log (it does by default).
    void SetDecoderLogging(bool enabled) { m_quiet = !enabled; }

    // The decoded picture.
    bool HasImage() const { return m_hasImage; }
    std::uint32_t GetWidth() const { return m_frameWidth; }
    std::uint32_t GetHeight() const { return m_frameHeight; }
    // Bottom-up rows of B, G, R bytes, each padded to a multiple of 4 bytes.
    std::span<const std::uint8_t> GetImage() const { return { m_image.get(), m_imageSize }; }
    int GetComponentCount() const { return m_componentCount; }

    // Takes a picture decoded elsewhere (a JPEG this decoder does not read):
    // its size and component count, and an empty container with one carrier
    // bit for every block of the frame's second and third components,
    // counted over whole MCUs as Decode counts them, so that the picture can
    // be saved with Encode. `sampling` holds (H, V) of each component.
    void AdoptPicture(std::uint16_t width, std::uint16_t height, std::span<const std::pair<int, int>> sampling);

    // The container buffer: the carrier bits collected by Decode, most
    // significant bit first, and the bits that Encode hides. It is longer
    // than the bits a picture carries; GetCarriedCount gives the whole bytes
    // actually collected.
    std::uint8_t* GetContainerBuffer() { return m_containerBuffer.empty() ? nullptr : m_containerBuffer.data(); }
    const std::uint8_t* GetContainerBuffer() const
    {
        return m_containerBuffer.empty() ? nullptr : m_containerBuffer.data();
    }
    std::uint32_t GetContainerBufferSize() const { return std::uint32_t(m_containerBuffer.size()); }
    std::uint32_t GetCarriedCount() const { return m_carriedCount; }

private:
    // What decoding the scan produces besides the carrier bits.
    enum class DecodeTarget {
        Picture, // the whole bottom-up picture in m_image
        Carriers, // nothing else
        Band, // top-down rows handed to m_band; the container is left alone
    };

    struct FrameComponent {
        std::uint8_t id = 0;
        std::uint8_t horizontal = 1; // H
        std::uint8_t vertical = 1; // V
        std::uint8_t quantizationTable = 0;
    };
    struct ScanComponent {
        std::uint8_t selector = 0;
        std::uint8_t dcTable = 0;
        std::uint8_t acTable = 0;
    };

    // Decoder: segment parsing (JpegReader.cpp).
    void ResetDecoder();
    void Log(unsigned id) const;
    JpegResult DecodeGuarded(std::span<const std::uint8_t> file);
    JpegResult ParseAndDecode(std::span<const std::uint8_t> file);
    JpegResult Fail(JpegStatus status);
    bool MarkerAt(std::size_t offset, std::uint8_t code) const;
    JpegStatus SegmentLength(std::size_t& length) const;
    JpegStatus SkipApplicationSegment();
    void NoteAdobeSegment(std::span<const std::uint8_t> contents);
    bool IsRgbCoded() const;
    JpegStatus ProcessDRI();
    JpegStatus ProcessDHT();
    JpegStatus ProcessDQT();
    JpegStatus ProcessSOF();
    JpegStatus ProcessSOS(bool& scanDecoded);
    JpegStatus DescribeUnknownSegment() const;
    JpegStatus CheckSegmentsAfterScan(std::size_t offset) const;

    // Decoder: the scan (JpegScan.cpp).
    JpegStatus DecodeScan();
    JpegStatus DecodeScanCarriers(std::size_t mcuCount, std::size_t containerBytes);
    void ConvertColors(int firstRow, int rowCount, const std::uint8_t* const* planes, const std::size_t* strides);
    std::uint8_t* PictureRow(int y) const;

    // Encoder (JpegWriter.cpp): the file comes out in three pieces, the
    // header segments, the entropy-coded data and EOI.
    // Where the encoder takes its pixels: rows `stride` bytes apart from the
    // top one, or, with a band, the band's ring.
    struct PixelSource {
        const std::uint8_t* topRow = nullptr;
        std::ptrdiff_t stride = 0;
        CJpegRowBand* band = nullptr;
    };
    struct EncodedPieces {
        std::vector<std::uint8_t> header;
        CJpegByteBuffer data;
        std::size_t dataLength = 0;
        std::vector<std::uint8_t> trailer;
    };
    JpegResult EncodeGuarded(std::int32_t width, std::int32_t height, const PixelSource& source, EncodedPieces& pieces);
    JpegStatus EncodeStages(std::int32_t width, std::int32_t height, const PixelSource& source, EncodedPieces& pieces);
    JpegStatus WriteScan(std::int32_t width, std::int32_t height, const PixelSource& source, EncodedPieces& pieces);
    JpegResult WritePieces(const std::string& path, const EncodedPieces& pieces);
    JpegResult JoinPieces(EncodedPieces& pieces, std::vector<std::uint8_t>& file);
    JpegResult TranscodePieces(std::span<const std::uint8_t> file, EncodedPieces& pieces);

    JpegHuffmanTable& HuffmanSlot(int tableClass, int id) { return m_huffmanTables[HuffmanTableIndex(tableClass, id)]; }

    // The container.
    std::uint32_t m_carrierBitIndex = 0;
    std::vector<std::uint8_t> m_containerBuffer;
    std::uint32_t m_carriedCount = 0;

    // The file being decoded and the offset of the next segment in it.
    std::span<const std::uint8_t> m_file;
    std::size_t m_position = 0;
    // Start of the scan's data; after the scan, the first byte not consumed
    // (npos while whole data bytes are left unread).
    std::size_t m_entropyCursor = 0;
    std::size_t m_scanEnd = 0; // where loading of the scan's data stopped

    std::uint16_t m_restartInterval = 0;
    int m_adobeTransform = -1; // from Adobe's APP14 segment; -1 without one
    std::int32_t m_trueWidth = 0;
    std::int32_t m_trueHeight = 0;
    JpegLargeBuffer<std::uint8_t> m_image; // filled row by row, never cleared first
    std::size_t m_imageSize = 0;
    std::vector<std::uint8_t> m_replicated; // widened sample rows while converting
    bool m_hasImage = false;

    std::array<std::array<std::uint8_t, 64>, 4> m_quantizationTables {}; // zigzag order
    std::array<bool, 4> m_quantizationPresent {};
    JpegHuffmanTables m_huffmanTables {};

    bool m_frameSeen = false;
    std::uint16_t m_frameWidth = 0;
    std::uint16_t m_frameHeight = 0;
    std::uint8_t m_componentCount = 0;
    std::array<FrameComponent, 3> m_components {};
    std::uint8_t m_scanComponentCount = 0;
    std::array<ScanComponent, 3> m_scanComponents {};

    int m_encoderHelperLimit = -1;
    DecodeTarget m_target = DecodeTarget::Picture;
    CJpegRowBand* m_band = nullptr;
    bool m_quiet = false; // a decoder behind Transcode logs nothing
};
