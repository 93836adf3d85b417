#include "jpeg/JpegPicture.h"

#include "jpeg/JpegCodec.h"
#include "picture/ReportPage.h"
#include "picture/SecretContainer.h"

#include <algorithm>
#include <new>

CJpegPicture::CJpegPicture() = default;

CJpegPicture::~CJpegPicture() = default;

int CJpegPicture::Load(const std::string& path)
{
    if (m_pCodec)
        return kPictureAlreadyLoaded;
    m_strFailure.clear();
    m_pCodec = std::make_unique<CJpegCodec>();
    const JpegResult result = m_pCodec->Decode(path);
    if (!result.IsOk()) {
        // The codec stays, so a later Load is refused like on any used
        // object, but there is no image: Save and the container operations
        // do nothing.
        m_strFailure = result.Reason();
        return result.Kind() == JpegStatusKind::File ? kPictureCannotCreate : kPictureNotSupported;
    }

    const std::int32_t width = std::int32_t(m_pCodec->GetWidth());
    const std::int32_t height = std::int32_t(m_pCodec->GetHeight());
    m_rowPadding = (4 - (3 * width) % 4) % 4;
    m_infoHeader = InfoHeader {};
    m_infoHeader.biWidth = width;
    m_infoHeader.biHeight = height;
    m_infoHeader.biSizeImage = std::uint32_t(height) * std::uint32_t(3 * width + m_rowPadding);
    try {
        m_pixels.assign(m_pCodec->GetImage().begin(), m_pCodec->GetImage().begin() + m_infoHeader.biSizeImage);
    } catch (const std::bad_alloc&) {
        m_infoHeader = InfoHeader {};
        m_strFailure = DescribeJpegStatus(JpegStatus::OutOfMemory);
        return kPictureNotSupported;
    }

    m_bHasSecret = StartsWithContainerMagic(m_pCodec->GetContainerBuffer(), m_pCodec->GetContainerBufferSize()) ? 1 : 0;
    m_dataSpace = DataSpaceForCapacity(m_pCodec->GetCarriedCount());
    m_bLoaded = true;

    JpegReportValues values;
    values.path = path;
    values.width = width;
    values.height = height;
    values.dataSpace = m_dataSpace;
    values.secret = m_bHasSecret != 0;
    m_strReportPage = BuildJpegReportPage(m_strReportTemplate, values);
    return kPictureOk;
}

int CJpegPicture::Save(const std::string& path)
{
    if (!m_bLoaded)
        return kPictureAlreadyLoaded;
    m_strFailure.clear();
    const std::size_t rowBytes = std::size_t(3 * m_infoHeader.biWidth + m_rowPadding);
    const std::size_t height = std::size_t(m_infoHeader.biHeight);
    // The encoder takes top-down rows; turn the rows over for it and back.
    auto flipRows = [&] {
        for (std::size_t row = 0; row < height / 2; ++row)
            std::swap_ranges(m_pixels.begin() + std::ptrdiff_t(row * rowBytes),
                m_pixels.begin() + std::ptrdiff_t((row + 1) * rowBytes),
                m_pixels.begin() + std::ptrdiff_t((height - 1 - row) * rowBytes));
    };
    flipRows();
    const JpegResult result = m_pCodec->Encode(path, m_infoHeader.biWidth, m_infoHeader.biHeight, m_pixels.data());
    flipRows();
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
