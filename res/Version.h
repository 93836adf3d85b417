#pragma once

// The program's file version, as the about box and the update check read it.
inline constexpr char kFileVersionText[] = "1, 0, 0, 1";

// Start of the marker that embeds the version text in every program file;
// the text follows the marker and ends with a zero byte.
inline constexpr char kFileVersionMarker[] = "VEILMARK-FILEVERSION:";

// Referencing this keeps the marker in the linked program file.
extern const char kEmbeddedFileVersion[];
