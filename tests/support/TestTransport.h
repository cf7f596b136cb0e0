// A link transport for tests: the real POSIX one underneath, with waits shortened, a record of the waits the
// client asked for, counts of resources taken and given back, and switches that make one platform
// call fail.
#pragma once

#include "PosixLinkTransport.h"

#include <cstdint>
#include <vector>

class TestTransport final : public simlink::LinkTransport {
public:
  // Sleeps are shortened by `sleepSpeedUp`; answer timeouts only when a test asks (a loaded machine may take
  // longer than a shortened timeout to answer).
  explicit TestTransport(std::uint32_t sleepSpeedUp = 20) : m_sleepSpeedUp(sleepSpeedUp) {}

  std::uint32_t timeoutSpeedUp = 1;

  bool failRegister = false;
  bool failAtom = false;
  bool failMapping = false;
  bool failView = false;

  std::vector<std::uint32_t> sleepsMs;    // as asked for
  std::vector<std::uint32_t> timeoutsMs;  // as asked for
  int windowsHeld = 0;
  int atomsHeld = 0;
  int mappingsHeld = 0;
  int viewsHeld = 0;

  Handle findWindow(const char* className) override {
    const Handle h = m_real.findWindow(className);
    windowsHeld += h != 0;
    return h;
  }
  void releaseWindow(Handle window) override {
    --windowsHeld;
    m_real.releaseWindow(window);
  }
  std::uint32_t registerWindowMessage(const char* name) override {
    return failRegister ? 0 : m_real.registerWindowMessage(name);
  }
  std::uint16_t addAtom(const char* name) override {
    const std::uint16_t atom = failAtom ? 0 : m_real.addAtom(name);
    atomsHeld += atom != 0;
    return atom;
  }
  void deleteAtom(std::uint16_t atom) override {
    --atomsHeld;
    m_real.deleteAtom(atom);
  }
  Handle createMapping(const char* name, std::uint32_t size, std::uint32_t& lastError) override {
    if (failMapping) {
      lastError = 12;
      return 0;
    }
    const Handle h = m_real.createMapping(name, size, lastError);
    mappingsHeld += h != 0;
    return h;
  }
  void* mapView(Handle mapping) override {
    void* view = failView ? nullptr : m_real.mapView(mapping);
    viewsHeld += view != nullptr;
    return view;
  }
  void unmapView(void* view) override {
    --viewsHeld;
    m_real.unmapView(view);
  }
  void closeMapping(Handle mapping) override {
    --mappingsHeld;
    m_real.closeMapping(mapping);
  }
  bool sendMessageTimeout(Handle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                          std::uint32_t timeoutMs, std::intptr_t& result, std::uint32_t& lastError) override {
    timeoutsMs.push_back(timeoutMs);
    return m_real.sendMessageTimeout(window, message, wParam, lParam, timeoutMs / timeoutSpeedUp, result, lastError);
  }
  void sleepMs(std::uint32_t ms) override {
    sleepsMs.push_back(ms);
    m_real.sleepMs(ms / m_sleepSpeedUp);
  }
  std::uint32_t processId() override { return m_real.processId(); }

private:
  simlink::PosixLinkTransport m_real;
  std::uint32_t m_sleepSpeedUp;
};
