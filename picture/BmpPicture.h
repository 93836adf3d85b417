#pragma once

#include "picture/BmpCarrier.h"
#include "picture/BmpStatus.h"
#include "picture/CarrierPicture.h"
#include "picture/DibImage.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A Windows bitmap as a carrier picture. The container bytes live in chosen
// bits of the stored pixel bytes (see BmpCarrier.h); the file is otherwise
// written back exactly as it was read.
class CBmpPicture : public CCarrierPicture {
public:
    CBmpPicture() = default;
    ~CBmpPicture() override;

    int Load(const std::string& path) override;
    // Reads the pixel bytes once, piece by piece, for the container, and
    // keeps only the headers: Save then refuses.
    int LoadForReading(const std::string& path) override;
    // Reads the pixel bytes once, piece by piece, for the container like
    // LoadForReading, and keeps the file open: Save copies the pixels from it
    // again, placing the container on the way, and writes what it would have
    // written after Load.
    int LoadForHiding(const std::string& path) override;
    int Save(const std::string& path) override;
    bool IsLoaded() const override { return m_pDib != nullptr; }

    // Loads a whole bitmap file already in memory; `path` names it on the
    // report page.
    int LoadFromBytes(const std::vector<std::uint8_t>& file, const std::string& path);

    // What the report shows; all 0 before a successful load.
    std::int32_t GetWidth() const;
    std::int32_t GetHeight() const;
    int GetBitsPerPixel() const;
    // Colours the pixel format can show: 2 to the bit depth, except that a
    // 32-bit pixel holds 8 bits each of blue, green and red and a fourth byte
    // that carries no colour, so it shows 2 to the 24th.
    std::int64_t GetColorCount() const;
    bool IsCompressed() const { return m_bCompressed != 0; }
    // Why Save would refuse this picture; empty when it can carry a message.
    std::string WhyCannotHide() const override;
    // The same as a status: Ok, or why the stored bytes are no plain pixels.
    BmpStatus GetHidingStatus() const;
    BmpHidingMode GetHidingMode() const { return m_mode; }
    std::size_t GetCarrierCapacity() const { return m_capacity; }
    const CDibImage* GetDibImage() const { return m_pDib.get(); }

protected:
    std::uint8_t* ContainerBuffer() override { return IsLoaded() ? m_container.data() : nullptr; }

private:
    int Fail(int code, std::string reason);
    int LoadInPieces(const std::string& path, bool keepFile);
    int FinishLoad(std::unique_ptr<CDibImage> dib, const std::string& path);
    bool PrepareContainer(const CDibImage& dib);
    void FinishContainer(std::unique_ptr<CDibImage> dib, const std::string& path);

    std::unique_ptr<CDibImage> m_pDib;
    std::size_t m_capacity = 0;
    // At least 20 bytes, so the header and the length word always exist; only
    // the first m_capacity bytes travel in the pixels, the rest are zero.
    CLargeBuffer m_container;
    BmpHidingMode m_mode = BmpHidingMode::None;
    int m_bCompressed = 0;
};
