// The scrambled form in which page (".uih") and script (".uis") files are stored beside
// the plain ".htm" / ".tis" names: the payload scrambled with one row of a key table
// and stored reversed, followed by a 16-byte trailer (key row, version 1, marker "Qu").
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int kScrambleTrailer = 16;
constexpr int kScrambleMinLength = 144;

// Descrambles length bytes of in into out, which holds length - 16 bytes. Returns the
// payload length, -1 when length < 144, -2 for a wrong marker, -3 for a wrong version.
int TelmarScriptDecode(const std::uint8_t* in, int length, std::uint8_t* out);

// The inverse, for the build tool that stores the content files. A payload shorter
// than 128 bytes is padded with blanks (the stored form must be at least 144 bytes).
std::vector<std::uint8_t> TelmarScriptEncode(const std::vector<std::uint8_t>& payload, std::uint8_t keyRow);
