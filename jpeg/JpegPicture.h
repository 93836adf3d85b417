#pragma once

#include "base/LargeBuffer.h"
#include "picture/CarrierPicture.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

class CJpegCodec;

// A JPEG carrier picture. Loading reads the file's blocks with the picture's
// own codec, which collects the carrier bits into the codec's container
// buffer; the pixels are not needed for that, nor for the report page, and
// are not computed. The picture keeps the file instead. Saving decodes its
// pixels and re-encodes them as a fresh 4:4:4 JPEG through the same codec,
// which hides the container buffer in the new file's chroma blocks.
// Files the own codec does not read are decoded by libjpeg-turbo at load, and
// the picture keeps their pixels as a 24-bit bottom-up DIB.
class CJpegPicture : public CCarrierPicture {
public:
    // The BITMAPINFOHEADER that describes the pixels.
    struct InfoHeader {
        std::uint32_t biSize = 40;
        std::int32_t biWidth = 0;
        std::int32_t biHeight = 0;
        std::uint16_t biPlanes = 1;
        std::uint16_t biBitCount = 24;
        std::uint32_t biCompression = 0;
        std::uint32_t biSizeImage = 0;
        std::int32_t biXPelsPerMeter = 0;
        std::int32_t biYPelsPerMeter = 0;
        std::uint32_t biClrUsed = 0;
        std::uint32_t biClrImportant = 0;
    };

    CJpegPicture();
    ~CJpegPicture() override;

    // 0, or kPictureAlreadyLoaded for a second Load, kPictureCannotCreate
    // when the file cannot be read, kPictureNotSupported when it is not a
    // JPEG that can be decoded. GetFailureReason() then says why. Baseline
    // YCbCr and grey files are read by the own codec, every block checked but
    // no pixel computed; valid files it does not handle (progressive,
    // arithmetic-coded, RGB-coded, CMYK, ...) are decoded by libjpeg-turbo
    // and load as covers without a secret.
    int Load(const std::string& path) override;
    // 0, or kPictureAlreadyLoaded when no picture is loaded,
    // kPictureWriteFailed when the file cannot be written (or, rarely, the
    // memory for decoding it again cannot be had).
    int Save(const std::string& path) override;
    bool IsLoaded() const override { return m_bLoaded; }

    const InfoHeader& GetInfoHeader() const { return m_infoHeader; }
    // Bottom-up rows of B, G, R bytes, each padded to a multiple of 4 bytes;
    // empty when no picture is loaded or there is no memory for the pixels.
    // A file the own codec reads is decoded for this on the first call.
    const std::vector<std::uint8_t>& GetPixels() const;
    std::int32_t GetWidth() const { return m_infoHeader.biWidth; }
    std::int32_t GetHeight() const { return m_infoHeader.biHeight; }
    // Whole bytes carried by the chroma blocks of the loaded file.
    std::uint32_t GetCarrierCapacity() const;
    // A grey picture has no chroma blocks to carry anything.
    std::string GetNoRoomReason() const override;

protected:
    // The codec's container buffer: the carrier bits of the loaded file.
    std::uint8_t* ContainerBuffer() override;

private:
    int LoadWithLibjpeg(const std::string& path, std::span<const std::uint8_t> contents);
    void SetPictureSize(std::int32_t width, std::int32_t height);
    void FinishLoad(const std::string& path);

    std::unique_ptr<CJpegCodec> m_pCodec;
    CLargeBuffer m_file; // the file the own codec read; empty for a libjpeg cover
    mutable std::vector<std::uint8_t> m_pixels;
    InfoHeader m_infoHeader;
    std::int32_t m_rowPadding = 0;
    bool m_bLoaded = false;
};
