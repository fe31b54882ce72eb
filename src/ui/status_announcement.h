#pragma once
// What screen readers hear of the installer window: the status label is a polite live region,
// so Narrator and NVDA read each new status without taking the focus away, and the progress
// bar is named after the label before it.
#include <windows.h>
#include <objbase.h>
#include <oleacc.h>

#include <string_view>

#include "windows/unique_handle.h"

namespace vantile {

// The COM apartment of the UI thread, for the accessibility service; entered once per window.
class ComApartment {
  public:
    ComApartment();

  private:
    static void leave(bool) { CoUninitialize(); }
    UniqueResource<bool, leave> entered_;  // true while entered
};

class StatusAnnouncement {
  public:
    // Marks the label as a polite live region. Where Windows has no accessibility annotation
    // service, the event alone still reaches the screen readers that listen for it.
    void attach(HWND status_label, HWND progress_bar);
    // The label now shows `text`: the progress bar takes it as its name, and the change is
    // announced.
    void status_changed(std::string_view text);

  private:
    HWND status_label_ = nullptr;
    HWND progress_bar_ = nullptr;
    static void release(IAccPropServices* services) { services->Release(); }
    UniqueResource<IAccPropServices*, release> services_;  // released with the record
};

}  // namespace vantile
