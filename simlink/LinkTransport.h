// The six platform services the link client needs, behind one interface so that another platform's
// implementation can drop in beside the POSIX one.
#pragma once

#include <cstdint>

namespace simlink {

class LinkTransport {
public:
  using Handle = std::uintptr_t;  // 0 is "none"

  LinkTransport() = default;
  LinkTransport(const LinkTransport&) = delete;
  LinkTransport& operator=(const LinkTransport&) = delete;
  virtual ~LinkTransport() = default;

  // The server's window of this class, or 0. The handle holds resources until releaseWindow.
  virtual Handle findWindow(const char* className) = 0;
  virtual void releaseWindow(Handle window) = 0;

  // A message id in 0xC000..0xFFFF, the same for the same name in every process; 0 on failure.
  virtual std::uint32_t registerWindowMessage(const char* name) = 0;

  // A 16-bit atom for the text (reference counted), or 0 on failure.
  virtual std::uint16_t addAtom(const char* name) = 0;
  virtual void deleteAtom(std::uint16_t atom) = 0;

  // A new named shared block of `size` bytes. Returns 0 on failure with lastError set: 183
  // (kErrorAlreadyExists) when a block of that name exists and cannot be taken over, else the reason.
  virtual Handle createMapping(const char* name, std::uint32_t size, std::uint32_t& lastError) = 0;
  virtual void* mapView(Handle mapping) = 0;
  virtual void unmapView(void* view) = 0;
  virtual void closeMapping(Handle mapping) = 0;

  // One request, one answer. Returns false when no answer came: lastError 0 for a timeout, else the reason.
  virtual bool sendMessageTimeout(Handle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                                  std::uint32_t timeoutMs, std::intptr_t& messageResult, std::uint32_t& lastError) = 0;

  virtual void sleepMs(std::uint32_t ms) = 0;
  virtual std::uint32_t processId() = 0;
};

inline constexpr std::uint32_t kErrorAlreadyExists = 183;

}  // namespace simlink
