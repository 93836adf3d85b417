#include "cli/PictureFactory.h"

#include "jpeg/JpegPicture.h"
#include "picture/BmpPicture.h"

std::unique_ptr<CCarrierPicture> CreatePicture(PictureKind kind)
{
    switch (kind) {
    case PictureKind::Bmp:
        return std::make_unique<CBmpPicture>();
    case PictureKind::Jpeg:
        return std::make_unique<CJpegPicture>();
    case PictureKind::Unknown:
        break;
    }
    return nullptr;
}

std::string UnsupportedPictureReason(PictureKind kind)
{
    switch (kind) {
    case PictureKind::Unknown:
        return "Unknown picture type: the file name must end in .bmp, .jpg or .jpeg";
    case PictureKind::Bmp:
    case PictureKind::Jpeg:
        break;
    }
    return {};
}
