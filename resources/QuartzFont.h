// The private "Quartz" face of the fuel statistics read-out, built into the program.
#pragma once

#include <span>
#include <string>

// The font file's bytes.
std::span<const unsigned char> quartzFontData();

// Writes Quartz.ttf into `directory` (replacing it whole; a file in /tmp when the directory cannot take it) and
// registers it for this process only. Returns the file written, or empty when neither could be written or
// fontconfig refused it (texts in the face then fail to draw with the font manager's error).
std::string installQuartzFont(const std::string& directory);
