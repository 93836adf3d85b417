#include "jpeg/JpegPicture.h"

#include "base/FileIO.h"
#include "jpeg/JpegCodec.h"
#include "jpeg/JpegTurboDecoder.h"
#include "picture/ReportPage.h"
#include "picture/SecretContainer.h"

#include <algorithm>
#include <new>

CJpegPicture::CJpegPicture() = default;

CJpegPicture::~CJpegPicture() = default;

namespace {

// The reasons the own decoder gives for valid files that libjpeg-turbo reads
// correctly (progressive, arithmetic-coded, RGB-coded, CMYK, several scans,
// 16-bit tables, ...): such a file is a cover decoded by libjpeg-turbo. These
// are the exceptions, kept with the own decoder's sentence, which says more
// than libjpeg's: processes libjpeg-turbo does not decode either, two
// components (no colour model), and limits of memory and size.
bool IsCoverForLibjpeg(JpegStatus status)
{
    if (KindOfJpegStatus(status) != JpegStatusKind::Unsupported)
        return false;
    switch (status) {
    case JpegStatus::Lossless:
    case JpegStatus::Hierarchical:
    case JpegStatus::HeightFromDnl:
    case JpegStatus::TwoComponents:
    case JpegStatus::PictureTooLarge:
    case JpegStatus::OutOfMemory:
        return false;
    default:
        return true;
    }
}

} // namespace

int CJpegPicture::Load(const std::string& path)
{
    if (m_pCodec)
        return kPictureAlreadyLoaded;
    m_strFailure.clear();
    m_pCodec = std::make_unique<CJpegCodec>();
    // The codec stays after a failure, so a later Load is refused like on any
    // used object, but there is no image: Save and the container operations
    // do nothing.
    std::string error;
    if (!ReadWholeFile(path, m_file, error)) {
        m_strFailure = JpegResult { JpegStatus::CannotReadFile, error }.Reason();
        return kPictureCannotCreate;
    }
    const std::span<const std::uint8_t> contents(m_file.data(), m_file.size());
    JpegResult result = m_pCodec->DecodeCarriers(contents);
    if (!result.IsOk() && IsCoverForLibjpeg(result.status)) {
        const int loaded = LoadWithLibjpeg(path, contents);
        m_file.Reset();
        return loaded;
    }
    if (!result.IsOk()) {
        m_file.Reset();
        m_strFailure = result.Reason();
        return result.Kind() == JpegStatusKind::File ? kPictureCannotCreate : kPictureNotSupported;
    }

    SetPictureSize(std::int32_t(m_pCodec->GetWidth()), std::int32_t(m_pCodec->GetHeight()));
    m_bHasSecret = StartsWithContainerMagic(m_pCodec->GetContainerBuffer(), m_pCodec->GetContainerBufferSize()) ? 1 : 0;
    FinishLoad(path);
    return kPictureOk;
}

const std::vector<std::uint8_t>& CJpegPicture::GetPixels() const
{
    if (!m_bLoaded || !m_pixels.empty() || m_file.empty())
        return m_pixels;
    // A codec of its own, so the container of the picture's codec is kept.
    CJpegCodec decoder;
    decoder.SetDecoderLogging(false);
    if (decoder.DecodeMemory({ m_file.data(), m_file.size() }).IsOk()) {
        try {
            m_pixels.assign(decoder.GetImage().begin(), decoder.GetImage().end());
        } catch (const std::bad_alloc&) {
            m_pixels.clear();
        }
    }
    return m_pixels;
}

int CJpegPicture::LoadWithLibjpeg(const std::string& path, std::span<const std::uint8_t> contents)
{
    JpegTurboPicture decoded;
    const JpegResult result = DecodeJpegWithTurbo(contents, decoded);
    if (!result.IsOk()) {
        m_strFailure = result.Reason();
        return kPictureNotSupported;
    }
    try {
        m_pCodec->AdoptPicture(std::uint16_t(decoded.width), std::uint16_t(decoded.height), decoded.sampling);
    } catch (const std::bad_alloc&) {
        m_strFailure = DescribeJpegStatus(JpegStatus::OutOfMemory);
        return kPictureNotSupported;
    }
    SetPictureSize(std::int32_t(decoded.width), std::int32_t(decoded.height));
    m_pixels = std::move(decoded.pixels);
    // The compatible encoder writes only baseline files that the own decoder
    // reads, so no compatible secret can be inside this one.
    m_bHasSecret = 0;
    FinishLoad(path);
    return kPictureOk;
}

void CJpegPicture::SetPictureSize(std::int32_t width, std::int32_t height)
{
    m_rowPadding = (4 - (3 * width) % 4) % 4;
    m_infoHeader = InfoHeader {};
    m_infoHeader.biWidth = width;
    m_infoHeader.biHeight = height;
    m_infoHeader.biSizeImage = std::uint32_t(height) * std::uint32_t(3 * width + m_rowPadding);
}

void CJpegPicture::FinishLoad(const std::string& path)
{
    m_dataSpace = DataSpaceForCapacity(m_pCodec->GetCarriedCount());
    m_bLoaded = true;

    JpegReportValues values;
    values.path = path;
    values.width = m_infoHeader.biWidth;
    values.height = m_infoHeader.biHeight;
    values.dataSpace = m_dataSpace;
    values.secret = m_bHasSecret != 0;
    m_strReportPage = BuildJpegReportPage(m_strReportTemplate, values);
}

int CJpegPicture::Save(const std::string& path)
{
    if (!m_bLoaded)
        return kPictureAlreadyLoaded;
    m_strFailure.clear();
    JpegResult result;
    if (!m_file.empty()) {
        result = m_pCodec->Transcode({ m_file.data(), m_file.size() }, path);
    } else {
        // The encoder takes the bottom-up rows as they lie, from the last.
        const std::ptrdiff_t rowBytes = std::ptrdiff_t(3 * m_infoHeader.biWidth + m_rowPadding);
        const std::uint8_t* topRow = m_pixels.data() + std::ptrdiff_t(m_infoHeader.biHeight - 1) * rowBytes;
        result = m_pCodec->Encode(path, m_infoHeader.biWidth, m_infoHeader.biHeight, topRow, -rowBytes);
    }
    if (!result.IsOk()) {
        m_strFailure = result.Reason();
        return kPictureWriteFailed;
    }
    m_strResultPage = BuildResultPage(m_strResultTemplate, path);
    return kPictureOk;
}

std::uint8_t* CJpegPicture::ContainerBuffer() { return m_bLoaded ? m_pCodec->GetContainerBuffer() : nullptr; }

std::string CJpegPicture::GetNoRoomReason() const
{
    if (m_bLoaded && m_pCodec->GetComponentCount() == 1)
        return "Grey JPEG pictures have no room for a message.";
    return {};
}

std::uint32_t CJpegPicture::GetCarrierCapacity() const { return m_bLoaded ? m_pCodec->GetCarriedCount() : 0; }
