#include "jpeg/JpegCodec.h"

#include "base/FileIO.h"
#include "jpeg/JpegMarkers.h"
#include "res/Log.h"
#include "res/StringIds.h"

#include <algorithm>
#include <new>

// The marker-segment level of the decoder (ITU-T T.81 Annex B). After the
// start-of-image marker the headers are read in rounds: every round runs the
// segment parsers once each in a fixed order (APPn/COM skip and DRI, DHT, DQT,
// SOF0, SOS), each looking only at the current position, so a round takes at
// most one segment of each kind. The scan is decoded as soon as its header is
// read. At most 51 rounds are run.

namespace {

constexpr int kParsingRounds = 51;

// Decoded pictures are limited to what a 24-bit DIB of 32-bit size can hold.
constexpr std::uint64_t kMaxPictureBytes = 0x7FFFFFFF;

std::uint16_t ReadBigEndian16(const std::uint8_t* bytes) { return std::uint16_t((bytes[0] << 8) | bytes[1]); }

} // namespace

CJpegCodec::CJpegCodec() = default;

CJpegCodec::~CJpegCodec() = default;

void CJpegCodec::ResetDecoder()
{
    m_carrierBitIndex = 0;
    m_containerBuffer.clear();
    m_carriedCount = 0;
    m_file = {};
    m_position = 0;
    m_entropyCursor = 0;
    m_scanEnd = 0;
    m_restartInterval = 0;
    m_adobeTransform = -1;
    m_trueWidth = 0;
    m_trueHeight = 0;
    m_image.reset();
    m_imageSize = 0;
    m_hasImage = false;
    m_quantizationPresent = {};
    for (JpegHuffmanTable& table : m_huffmanTables)
        table.present = false;
    m_frameSeen = false;
    m_frameWidth = 0;
    m_frameHeight = 0;
    m_componentCount = 0;
    m_scanComponentCount = 0;
}

void CJpegCodec::AdoptPicture(std::uint16_t width, std::uint16_t height, std::span<const std::pair<int, int>> sampling)
{
    ResetDecoder();
    // A single component is one block per MCU, whatever its factors say.
    const bool single = sampling.size() == 1;
    std::size_t maxHorizontal = 1;
    std::size_t maxVertical = 1;
    for (const auto& [horizontal, vertical] : sampling) {
        maxHorizontal = std::max<std::size_t>(maxHorizontal, single ? 1 : std::size_t(horizontal));
        maxVertical = std::max<std::size_t>(maxVertical, single ? 1 : std::size_t(vertical));
    }
    const std::size_t mcusAcross = (width + 8 * maxHorizontal - 1) / (8 * maxHorizontal);
    const std::size_t mcusDown = (height + 8 * maxVertical - 1) / (8 * maxVertical);
    std::size_t carrierBits = 0;
    for (std::size_t c = 1; c < std::min<std::size_t>(sampling.size(), 3); ++c)
        carrierBits += mcusAcross * std::size_t(sampling[c].first) * mcusDown * std::size_t(sampling[c].second);
    const std::size_t paddedPixels = mcusAcross * 8 * maxHorizontal * mcusDown * 8 * maxVertical;
    m_containerBuffer.assign(std::max<std::size_t>(paddedPixels / 8, 20), 0);
    m_carriedCount = std::uint32_t(carrierBits / 8);
    m_frameWidth = width;
    m_frameHeight = height;
    m_trueWidth = width;
    m_trueHeight = height;
    m_componentCount = std::uint8_t(std::min<std::size_t>(sampling.size(), 255));
}

JpegResult CJpegCodec::Fail(JpegStatus status)
{
    ResetDecoder();
    return { status, {} };
}

JpegResult CJpegCodec::Decode(const std::string& path)
{
    ResetDecoder();
    std::vector<std::uint8_t> contents;
    std::string error;
    if (!ReadWholeFile(path, contents, error))
        return { JpegStatus::CannotReadFile, error };
    JpegResult result = DecodeMemory(contents);
    m_file = {};
    return result;
}

JpegResult CJpegCodec::DecodeMemory(std::span<const std::uint8_t> file)
{
    m_target = DecodeTarget::Picture;
    return DecodeGuarded(file);
}

JpegResult CJpegCodec::DecodeCarriers(std::span<const std::uint8_t> file)
{
    m_target = DecodeTarget::Carriers;
    JpegResult result = DecodeGuarded(file);
    m_target = DecodeTarget::Picture;
    return result;
}

JpegResult CJpegCodec::DecodeGuarded(std::span<const std::uint8_t> file)
{
    try {
        return ParseAndDecode(file);
    } catch (const std::bad_alloc&) {
        return Fail(JpegStatus::OutOfMemory);
    }
}

void CJpegCodec::Log(unsigned id) const
{
    if (!m_quiet)
        WriteLog(id);
}

JpegResult CJpegCodec::ParseAndDecode(std::span<const std::uint8_t> file)
{
    ResetDecoder();
    m_file = file;

    Log(IDS_LOG_FIND_SOI);
    std::size_t offset = 0;
    while (offset + 1 < file.size() && !(file[offset] == kMarkerPrefix && file[offset + 1] == kMarkerSOI))
        ++offset;
    if (offset + 1 >= file.size())
        return Fail(JpegStatus::NoStartOfImage);
    m_position = offset + 2;
    m_entropyCursor = m_position;

    for (int round = 1; round <= kParsingRounds; ++round) {
        const std::size_t roundStart = m_position;
        bool scanDecoded = false;
        JpegStatus status;

        Log(IDS_LOG_FIND_DRI);
        if ((status = SkipApplicationSegment()) != JpegStatus::Ok || (status = ProcessDRI()) != JpegStatus::Ok)
            return Fail(status);
        Log(IDS_LOG_FIND_DHT);
        if ((status = ProcessDHT()) != JpegStatus::Ok)
            return Fail(status);
        Log(IDS_LOG_FIND_DQT);
        if ((status = ProcessDQT()) != JpegStatus::Ok)
            return Fail(status);
        Log(IDS_LOG_FIND_SOF);
        if ((status = ProcessSOF()) != JpegStatus::Ok)
            return Fail(status);
        Log(IDS_LOG_FIND_SOS);
        if ((status = ProcessSOS(scanDecoded)) != JpegStatus::Ok)
            return Fail(status);

        if (scanDecoded) {
            if (!MarkerAt(m_entropyCursor, kMarkerEOI)) {
                // Something other than the end of the picture follows the
                // scan. A second scan or a DNL height cannot be honoured;
                // anything else (a missing EOI, trailing bytes) leaves the
                // decoded picture complete, and the remaining rounds find no
                // further segment.
                status = CheckSegmentsAfterScan(m_scanEnd);
                if (status != JpegStatus::Ok)
                    return Fail(status);
                for (int rest = round + 1; rest <= kParsingRounds; ++rest) {
                    for (unsigned id :
                        { IDS_LOG_FIND_DRI, IDS_LOG_FIND_DHT, IDS_LOG_FIND_DQT, IDS_LOG_FIND_SOF, IDS_LOG_FIND_SOS })
                        Log(id);
                }
            }
            m_file = {};
            m_hasImage = m_target == DecodeTarget::Picture;
            return {};
        }
        if (MarkerAt(m_entropyCursor, kMarkerEOI))
            break;
        // A round that moved nothing would be repeated unchanged by every
        // later round: the segment here is one that no parser takes.
        if (m_position == roundStart)
            return Fail(DescribeUnknownSegment());
    }
    return Fail(JpegStatus::NoScan);
}

bool CJpegCodec::MarkerAt(std::size_t offset, std::uint8_t code) const
{
    return offset < m_file.size() && offset + 1 < m_file.size() && m_file[offset] == kMarkerPrefix
        && m_file[offset + 1] == code;
}

JpegStatus CJpegCodec::SegmentLength(std::size_t& length) const
{
    if (m_position + 4 > m_file.size())
        return JpegStatus::SegmentPastEnd;
    length = ReadBigEndian16(&m_file[m_position + 2]);
    if (length < 2)
        return JpegStatus::SegmentTooShort;
    if (m_position + 2 + length > m_file.size())
        return JpegStatus::SegmentPastEnd;
    return JpegStatus::Ok;
}

JpegStatus CJpegCodec::SkipApplicationSegment()
{
    if (m_position + 1 >= m_file.size() || m_file[m_position] != kMarkerPrefix)
        return JpegStatus::Ok;
    const std::uint8_t code = m_file[m_position + 1];
    if (code == kMarkerPrefix) {
        // A fill byte before a marker (T.81 B.1.1.2).
        m_position += 1;
        return JpegStatus::Ok;
    }
    // APP0-APP15, the reserved JPGn markers and COM.
    if (!IsApplicationMarker(code) && !IsReservedOrCommentMarker(code))
        return JpegStatus::Ok;
    std::size_t length = 0;
    if (JpegStatus status = SegmentLength(length); status != JpegStatus::Ok)
        return status;
    if (code == kMarkerAPP14)
        NoteAdobeSegment(m_file.subspan(m_position + 4, length - 2));
    m_position += length + 2;
    return JpegStatus::Ok;
}

void CJpegCodec::NoteAdobeSegment(std::span<const std::uint8_t> contents)
{
    // Adobe's segment: "Adobe", a 16-bit version, two 16-bit flag words and
    // the colour transform, 0 for none (the components are what they are
    // named, RGB when there are three), 1 for YCbCr, 2 for YCCK. Other APP14
    // segments are not Adobe's and say nothing about colour.
    static constexpr std::uint8_t kAdobe[] = { 'A', 'd', 'o', 'b', 'e' };
    constexpr std::size_t kTransformOffset = 11;
    if (contents.size() <= kTransformOffset || !std::equal(std::begin(kAdobe), std::end(kAdobe), contents.begin()))
        return;
    m_adobeTransform = contents[kTransformOffset];
}

bool CJpegCodec::IsRgbCoded() const
{
    if (m_componentCount != 3)
        return false;
    // Adobe's transform, when the file has one, says how the samples are
    // coded; without it, components named 'R', 'G' and 'B' are RGB.
    if (m_adobeTransform >= 0)
        return m_adobeTransform == 0;
    return m_components[0].id == 'R' && m_components[1].id == 'G' && m_components[2].id == 'B';
}

JpegStatus CJpegCodec::ProcessDRI()
{
    if (!MarkerAt(m_position, kMarkerDRI))
        return JpegStatus::Ok;
    std::size_t length = 0;
    if (JpegStatus status = SegmentLength(length); status != JpegStatus::Ok)
        return status;
    if (length != 4)
        return JpegStatus::BadRestartInterval;
    m_restartInterval = ReadBigEndian16(&m_file[m_position + 4]);
    m_position += 6;
    return JpegStatus::Ok;
}

JpegStatus CJpegCodec::ProcessDHT()
{
    if (!MarkerAt(m_position, kMarkerDHT))
        return JpegStatus::Ok;
    std::size_t length = 0;
    if (JpegStatus status = SegmentLength(length); status != JpegStatus::Ok)
        return status;
    if (JpegStatus status = ParseHuffmanSegment(m_file.subspan(m_position + 4, length - 2), m_huffmanTables);
        status != JpegStatus::Ok)
        return status;
    m_position += length + 2;
    return JpegStatus::Ok;
}

JpegStatus CJpegCodec::ProcessDQT()
{
    if (!MarkerAt(m_position, kMarkerDQT))
        return JpegStatus::Ok;
    std::size_t length = 0;
    if (JpegStatus status = SegmentLength(length); status != JpegStatus::Ok)
        return status;
    const std::size_t end = m_position + 2 + length;
    std::size_t offset = m_position + 4;
    while (offset < end) {
        const int precision = m_file[offset] >> 4;
        const int id = m_file[offset] & 15;
        if (precision == 1)
            return JpegStatus::SixteenBitQuantization;
        if (precision != 0 || id > 3)
            return JpegStatus::BadQuantizationTable;
        if (offset + 65 > end)
            return JpegStatus::SegmentTooShort;
        for (std::size_t k = 0; k < 64; ++k)
            m_quantizationTables[std::size_t(id)][k] = m_file[offset + 1 + k];
        m_quantizationPresent[std::size_t(id)] = true;
        offset += 65;
    }
    m_position = end;
    return JpegStatus::Ok;
}

JpegStatus CJpegCodec::ProcessSOF()
{
    if (!MarkerAt(m_position, kMarkerSOF0))
        return JpegStatus::Ok;
    if (m_frameSeen)
        return JpegStatus::DuplicateFrame;
    std::size_t length = 0;
    if (JpegStatus status = SegmentLength(length); status != JpegStatus::Ok)
        return status;
    if (length < 8)
        return JpegStatus::BadFrameHeader;
    const std::uint8_t* segment = &m_file[m_position];
    if (segment[4] != 8)
        return JpegStatus::BadSamplePrecision;
    const std::uint16_t height = ReadBigEndian16(segment + 5);
    const std::uint16_t width = ReadBigEndian16(segment + 7);
    const int componentCount = segment[9];
    if (componentCount == 0)
        return JpegStatus::EmptyFrame;
    if (componentCount > 3)
        return JpegStatus::TooManyComponents;
    if (componentCount == 2)
        return JpegStatus::TwoComponents;
    if (length != 8 + 3 * std::size_t(componentCount))
        return JpegStatus::BadFrameHeader;
    if (width == 0)
        return JpegStatus::EmptyFrame;
    if (height == 0)
        return JpegStatus::HeightFromDnl;

    int maxHorizontal = 1;
    int maxVertical = 1;
    for (int i = 0; i < componentCount; ++i) {
        const std::uint8_t* entry = segment + 10 + 3 * i;
        FrameComponent& component = m_components[std::size_t(i)];
        component.id = entry[0];
        component.horizontal = entry[1] >> 4;
        component.vertical = entry[1] & 15;
        component.quantizationTable = entry[2];
        if (component.horizontal == 0 || component.horizontal > 4 || component.vertical == 0 || component.vertical > 4)
            return JpegStatus::BadSamplingFactor;
        if (component.quantizationTable > 3)
            return JpegStatus::BadQuantizationTable;
        // A single component is coded non-interleaved: one block per MCU,
        // whatever its factors say (T.81 A.2.2).
        if (componentCount == 1)
            component.horizontal = component.vertical = 1;
        maxHorizontal = std::max<int>(maxHorizontal, component.horizontal);
        maxVertical = std::max<int>(maxVertical, component.vertical);
    }
    for (int i = 0; i < componentCount; ++i) {
        const FrameComponent& component = m_components[std::size_t(i)];
        if (maxHorizontal % component.horizontal != 0 || maxVertical % component.vertical != 0)
            return JpegStatus::UnevenSampling;
    }
    const std::uint64_t paddedWidth = (width + 8u * maxHorizontal - 1) / (8u * maxHorizontal) * (8u * maxHorizontal);
    const std::uint64_t paddedHeight = (height + 8u * maxVertical - 1) / (8u * maxVertical) * (8u * maxVertical);
    if (paddedWidth * paddedHeight * 3 > kMaxPictureBytes)
        return JpegStatus::PictureTooLarge;

    m_frameSeen = true;
    m_frameWidth = width;
    m_frameHeight = height;
    m_componentCount = std::uint8_t(componentCount);
    m_position += length + 2;
    return JpegStatus::Ok;
}

JpegStatus CJpegCodec::ProcessSOS(bool& scanDecoded)
{
    scanDecoded = false;
    if (!MarkerAt(m_position, kMarkerSOS))
        return JpegStatus::Ok;
    if (!m_frameSeen)
        return JpegStatus::ScanBeforeFrame;
    std::size_t length = 0;
    if (JpegStatus status = SegmentLength(length); status != JpegStatus::Ok)
        return status;
    if (length < 3)
        return JpegStatus::BadScanHeader;
    const std::uint8_t* segment = &m_file[m_position];
    const int count = segment[4];
    if (count == 0 || count > 4 || length != 6 + 2 * std::size_t(count))
        return JpegStatus::BadScanHeader;
    // Every component must be in this one scan, in frame order; a scan with
    // fewer belongs to a file coded in several scans.
    if (count < m_componentCount)
        return JpegStatus::SeveralScans;
    if (count > m_componentCount)
        return JpegStatus::ScanComponentMismatch;
    for (int j = 0; j < count; ++j) {
        ScanComponent& component = m_scanComponents[std::size_t(j)];
        component.selector = segment[5 + 2 * j];
        component.dcTable = segment[6 + 2 * j] >> 4;
        component.acTable = segment[6 + 2 * j] & 15;
        if (component.selector != m_components[std::size_t(j)].id)
            return JpegStatus::ScanComponentMismatch;
        if (component.dcTable > 3 || component.acTable > 3 || !HuffmanSlot(0, component.dcTable).present
            || !HuffmanSlot(1, component.acTable).present)
            return JpegStatus::MissingHuffmanTable;
        if (!m_quantizationPresent[m_components[std::size_t(j)].quantizationTable])
            return JpegStatus::MissingQuantizationTable;
    }
    // The colour conversion turns YCbCr into RGB; samples already in RGB
    // would come out in wrong colours.
    if (IsRgbCoded())
        return JpegStatus::RgbColourSpace;
    // Ss, Se and Ah/Al follow; a baseline scan always codes coefficients
    // 0 to 63 at full precision.
    m_scanComponentCount = std::uint8_t(count);
    m_position += length + 2;
    m_entropyCursor = m_position;

    if (JpegStatus status = DecodeScan(); status != JpegStatus::Ok)
        return status;
    scanDecoded = true;
    return JpegStatus::Ok;
}

JpegStatus CJpegCodec::DescribeUnknownSegment() const
{
    if (m_position + 1 >= m_file.size())
        return JpegStatus::NoScan;
    if (m_file[m_position] != kMarkerPrefix)
        return JpegStatus::MissingMarker;
    const std::uint8_t code = m_file[m_position + 1];
    // SOF9 to SOF15 and DAC, which only arithmetic-coded files hold.
    if (code >= kMarkerSOF9 && code <= kMarkerSOF15)
        return JpegStatus::ArithmeticCoding;
    switch (code) {
    case kMarkerSOF1:
        return JpegStatus::ExtendedSequential;
    case kMarkerSOF2:
        return JpegStatus::Progressive;
    case kMarkerSOF3:
        return JpegStatus::Lossless;
    case kMarkerSOF5:
    case kMarkerSOF6:
    case kMarkerSOF7:
    case kMarkerDHP:
    case kMarkerEXP:
        return JpegStatus::Hierarchical;
    case kMarkerDNL:
        return JpegStatus::HeightFromDnl;
    case kMarkerEOI:
        return JpegStatus::NoScan;
    default:
        return JpegStatus::MissingMarker;
    }
}

JpegStatus CJpegCodec::CheckSegmentsAfterScan(std::size_t offset) const
{
    // Find the first marker after the scan's data, then walk the segments
    // that follow it until the end of the picture.
    const std::size_t size = m_file.size();
    while (offset + 1 < size) {
        const std::uint8_t code = m_file[offset + 1];
        if (m_file[offset] == kMarkerPrefix && code != kMarkerStuffedZero && code != kMarkerPrefix
            && !IsRestartMarker(code))
            break;
        ++offset;
    }
    while (offset + 1 < size && m_file[offset] == kMarkerPrefix) {
        const std::uint8_t code = m_file[offset + 1];
        if (code == kMarkerSOS)
            return JpegStatus::SeveralScans;
        if (code == kMarkerDNL)
            return JpegStatus::HeightFromDnl;
        const bool tableOrNote = code == kMarkerDHT || code == kMarkerDQT || code == kMarkerDRI
            || IsApplicationMarker(code) || code == kMarkerCOM;
        if (!tableOrNote || offset + 4 > size)
            break;
        offset += 2 + ReadBigEndian16(&m_file[offset + 2]);
    }
    return JpegStatus::Ok;
}
