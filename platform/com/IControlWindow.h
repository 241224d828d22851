// How a host gives a control its window: the one bridge between the host's
// window system and the control inside its library. The library keeps the
// site it is given (it draws and sets its cursor and caret there) and the UI
// host (its boxes and timers go there, since the library has its own copy
// of the platform layer), and treats the call as the creation of its window.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/com/Com.h"
#include "platform/ui/ControlSite.h"
#include "platform/ui/UiHost.h"

namespace platform::com {

// Window messages the control handles (their numbers as the control sees them).
constexpr uint32_t WM_CREATE = 0x0001;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_KEYDOWN = 0x0100;
constexpr uint32_t WM_KEYUP = 0x0101;
constexpr uint32_t WM_SYSKEYDOWN = 0x0104;
constexpr uint32_t WM_MOUSEMOVE = 0x0200;
constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
constexpr uint32_t WM_LBUTTONUP = 0x0202;
constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
constexpr uint32_t WM_RBUTTONUP = 0x0205;

// Client coordinates packed as a mouse message's lParam: y << 16 | x.
constexpr intptr_t MouseLParam(int x, int y) {
  return static_cast<intptr_t>((static_cast<uint32_t>(y) & 0xFFFF) << 16 |
                               (static_cast<uint32_t>(x) & 0xFFFF));
}

// {7B1D2C64-3F0E-4E5A-9C1B-5A2E8D4F6C31}
constexpr GUID IID_IControlWindow = {
    0x7B1D2C64, 0x3F0E, 0x4E5A, {0x9C, 0x1B, 0x5A, 0x2E, 0x8D, 0x4F, 0x6C, 0x31}};

class IControlWindow : public IUnknown {
 public:
  // The control's window is created on this site: the control keeps the
  // site and the host (for as long as the window lives), installs the host
  // in its library for boxes and timers, and runs its window-creation step.
  virtual HRESULT CreateWindow(platform::ui::IControlSite* site,
                               std::shared_ptr<platform::ui::IUiHost> host) = 0;
  // A window message for the control. S_FALSE when the control does not
  // handle it; *result receives the message's result.
  virtual HRESULT WindowMessage(uint32_t message, uintptr_t wparam, intptr_t lparam,
                                intptr_t* result) = 0;
  // Paints the control: presents its page surface to the site again.
  virtual HRESULT Draw() = 0;
};

}  // namespace platform::com
