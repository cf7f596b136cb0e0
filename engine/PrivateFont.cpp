// Private font registration through fontconfig's application font set.
#include "PrivateFont.h"

#include <fontconfig/fontconfig.h>

namespace engine {

bool registerPrivateFont(const std::string& path) {
  return FcInit() == FcTrue &&
         FcConfigAppFontAddFile(nullptr, reinterpret_cast<const FcChar8*>(path.c_str())) == FcTrue;
}

void unregisterPrivateFonts() {
  FcConfigAppFontClear(nullptr);
}

bool isPrivateFontRegistered(const std::string& path) {
  FcFontSet* fonts = FcConfigGetFonts(nullptr, FcSetApplication);
  if (fonts == nullptr) {
    return false;
  }
  for (int i = 0; i < fonts->nfont; ++i) {
    FcChar8* file = nullptr;
    if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) == FcResultMatch &&
        path == reinterpret_cast<const char*>(file)) {
      return true;
    }
  }
  return false;
}

}  // namespace engine
