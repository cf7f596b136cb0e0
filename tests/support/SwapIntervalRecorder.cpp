// Preloaded into the panel by a window test: claims the GLX swap-control extension and records every
// swap-interval call, one line "<drawable> <interval>" each (drawable 0 for the form that names none), in the
// file $SKYVANE_SWAP_LOG. Nothing is passed on, so the X server under test need not have the extension.
#include <GL/glx.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Function = void (*)();

void record(unsigned long drawable, int interval) {
  const char* path = std::getenv("SKYVANE_SWAP_LOG");
  std::FILE* log = path != nullptr ? std::fopen(path, "a") : nullptr;
  if (log != nullptr) {
    std::fprintf(log, "%lu %d\n", drawable, interval);
    std::fclose(log);
  }
}

void swapIntervalExt(Display*, GLXDrawable drawable, int interval) {
  record(drawable, interval);
}

int swapIntervalMesa(unsigned interval) {
  record(0, static_cast<int>(interval));
  return 0;
}

Function resolve(const char* symbol, const GLubyte* name) {
  const char* text = reinterpret_cast<const char*>(name);
  if (std::strcmp(text, "glXSwapIntervalEXT") == 0) {
    return reinterpret_cast<Function>(swapIntervalExt);
  }
  if (std::strcmp(text, "glXSwapIntervalMESA") == 0) {
    return reinterpret_cast<Function>(swapIntervalMesa);
  }
  using Resolver = Function (*)(const GLubyte*);
  auto real = reinterpret_cast<Resolver>(dlsym(RTLD_NEXT, symbol));
  return real != nullptr ? real(name) : nullptr;
}

}  // namespace

extern "C" {

const char* glXQueryExtensionsString(Display* display, int screen) {
  static char extended[8192];
  using Query = const char* (*)(Display*, int);
  auto real = reinterpret_cast<Query>(dlsym(RTLD_NEXT, "glXQueryExtensionsString"));
  const char* list = real != nullptr ? real(display, screen) : nullptr;
  std::snprintf(extended, sizeof extended, "%s GLX_EXT_swap_control", list != nullptr ? list : "");
  return extended;
}

Function glXGetProcAddressARB(const GLubyte* name) {
  return resolve("glXGetProcAddressARB", name);
}
Function glXGetProcAddress(const GLubyte* name) {
  return resolve("glXGetProcAddress", name);
}

}  // extern "C"
