// Font files registered for this process only, so that a face the program ships is found by its family
// name like an installed one.
#pragma once

#include <string>

namespace engine {

// False when fontconfig does not take the file.
bool registerPrivateFont(const std::string& path);
// Forgets every font registered with registerPrivateFont.
void unregisterPrivateFonts();
// Whether the file is among this process's registered fonts.
bool isPrivateFontRegistered(const std::string& path);

}  // namespace engine
