#pragma once

#include <cstdint>

// The marker codes of ITU-T T.81 Table B.1 that the codec reads or writes.
// A marker is the byte kMarkerPrefix followed by one of these codes.

inline constexpr std::uint8_t kMarkerPrefix = 0xFF;
// After kMarkerPrefix inside entropy-coded data: a stuffed zero, not a marker.
inline constexpr std::uint8_t kMarkerStuffedZero = 0x00;

// Start of frame: baseline, then the processes this codec does not handle.
inline constexpr std::uint8_t kMarkerSOF0 = 0xC0;
inline constexpr std::uint8_t kMarkerSOF1 = 0xC1; // extended sequential
inline constexpr std::uint8_t kMarkerSOF2 = 0xC2; // progressive
inline constexpr std::uint8_t kMarkerSOF3 = 0xC3; // lossless
inline constexpr std::uint8_t kMarkerDHT = 0xC4;
inline constexpr std::uint8_t kMarkerSOF5 = 0xC5; // differential (hierarchical) sequential
inline constexpr std::uint8_t kMarkerSOF6 = 0xC6; // differential progressive
inline constexpr std::uint8_t kMarkerSOF7 = 0xC7; // differential lossless
inline constexpr std::uint8_t kMarkerSOF9 = 0xC9; // arithmetic coding, SOF9 to SOF15
inline constexpr std::uint8_t kMarkerSOF15 = 0xCF;

// RST0 to RST7: the codes whose top five bits match kMarkerRST0.
inline constexpr std::uint8_t kMarkerRST0 = 0xD0;
inline constexpr std::uint8_t kMarkerRSTMask = 0xF8;
inline constexpr bool IsRestartMarker(std::uint8_t code) { return (code & kMarkerRSTMask) == kMarkerRST0; }

inline constexpr std::uint8_t kMarkerSOI = 0xD8;
inline constexpr std::uint8_t kMarkerEOI = 0xD9;
inline constexpr std::uint8_t kMarkerSOS = 0xDA;
inline constexpr std::uint8_t kMarkerDQT = 0xDB;
inline constexpr std::uint8_t kMarkerDNL = 0xDC;
inline constexpr std::uint8_t kMarkerDRI = 0xDD;
inline constexpr std::uint8_t kMarkerDHP = 0xDE; // hierarchical progression
inline constexpr std::uint8_t kMarkerEXP = 0xDF; // expand reference components

// APP0 to APP15 are the codes whose high nibble is that of kMarkerAPP0; the
// codes with the high nibble of kMarkerJPG0 are the reserved JPGn codes and
// COM.
inline constexpr std::uint8_t kMarkerAPP0 = 0xE0;
inline constexpr std::uint8_t kMarkerAPP14 = 0xEE; // Adobe's colour transform segment
inline constexpr std::uint8_t kMarkerJPG0 = 0xF0;
inline constexpr std::uint8_t kMarkerCOM = 0xFE;
inline constexpr bool IsApplicationMarker(std::uint8_t code) { return (code & 0xF0) == kMarkerAPP0; }
inline constexpr bool IsReservedOrCommentMarker(std::uint8_t code) { return (code & 0xF0) == kMarkerJPG0; }
