// The private "Quartz" face of the fuel statistics read-out, built into the program.
#pragma once

#include <functional>
#include <span>
#include <string>

namespace resources {

// The font file's bytes.
std::span<const unsigned char> quartzFontData();

// Writes Quartz.ttf into `directory`, replacing it whole, or, when that directory cannot take it or is not
// this user's alone (another user could swap the file before it is read), into the one
// `fallbackDirectory` names (a private directory of this user's, asked for only then; empty: none), and
// registers it for this process only. Returns the file written, or empty when neither could be written or
// fontconfig refused it (texts in the face then fail to draw with the font manager's error). Never writes
// through a link or under a predictable name in a shared directory.
std::string installQuartzFont(const std::string& directory,
                              const std::function<std::string()>& fallbackDirectory = nullptr);

}  // namespace resources
