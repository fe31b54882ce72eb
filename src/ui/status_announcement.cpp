#include "ui/status_announcement.h"

#include "windows/wide_text.h"

namespace vantile {
namespace {

// Defined here: mingw-w64's import libraries resolve some accessibility GUIDs to other data.
constexpr CLSID ACC_PROP_SERVICES_CLASS = {
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr IID ACC_PROP_SERVICES_INTERFACE = {
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
// UI Automation's LiveSetting property, and its value Polite.
constexpr GUID LIVE_SETTING_PROPERTY = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr LONG LIVE_SETTING_POLITE = 1;
constexpr DWORD LIVE_REGION_CHANGED = 0x8019;  // EVENT_OBJECT_LIVEREGIONCHANGED

}  // namespace

ComApartment::ComApartment()
    : entered_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}

void StatusAnnouncement::attach(HWND status_label, HWND progress_bar) {
    status_label_ = status_label;
    progress_bar_ = progress_bar;
    IAccPropServices* services = nullptr;
    if (FAILED(CoCreateInstance(ACC_PROP_SERVICES_CLASS, nullptr, CLSCTX_INPROC_SERVER,
                                ACC_PROP_SERVICES_INTERFACE,
                                reinterpret_cast<void**>(&services))) ||
        !services)
        return;
    services_.reset(services);
    VARIANT polite{};
    polite.vt = VT_I4;
    polite.lVal = LIVE_SETTING_POLITE;
    // A refusal leaves the label an ordinary one; the event below is still raised.
    services->SetHwndProp(status_label, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                          LIVE_SETTING_PROPERTY, polite);
}

void StatusAnnouncement::status_changed(std::string_view text) {
    // A progress bar has no text of its own to be named by; the label's is its name.
    SetWindowTextW(progress_bar_, to_wide(text).c_str());
    NotifyWinEvent(LIVE_REGION_CHANGED, status_label_, OBJID_CLIENT, CHILDID_SELF);
}

}  // namespace vantile
