#include "picture/PictureKind.h"

#include <algorithm>
#include <cctype>

PictureKind PictureKindFromPath(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        return PictureKind::Unknown;
    std::string extension = path.substr(dot + 1);
    std::transform(
        extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (extension == "bmp")
        return PictureKind::Bmp;
    if (extension == "jpg" || extension == "jpeg")
        return PictureKind::Jpeg;
    if (extension == "png")
        return PictureKind::Png;
    return PictureKind::Unknown;
}
