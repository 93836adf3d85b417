#pragma once

#include <string>

enum class PictureKind { Unknown, Bmp, Jpeg, Png };

// The kind of picture a file holds, judged by its name's extension (the text
// after the last dot of the file name, any letter case): "bmp" is a bitmap,
// "jpg" and "jpeg" are JPEG files, "png" is a PNG file, anything else is
// unknown.
PictureKind PictureKindFromPath(const std::string& path);
