// Notices for screen readers, raised as UI Automation notifications: Narrator speaks them, and NVDA
// reports them for the foreground window.
#include "native_calls.h"
#include "platform/platform.h"

#include <ole2.h>
#include <uiautomationcore.h>

#include <atomic>

namespace Platform {

namespace {

// The window, as the element that raises a notice. UiaHostProviderFromHwnd's provider cannot raise
// an event itself (Microsoft: "You cannot use the object to raise events ... you must create a
// provider object that fully implements the IRawElementProviderSimple interface"), and Qt's own
// provider for the window is private to its platform plugin. So this element serves no property of
// its own but the window's handle, and gives the window's host provider as its host, from which UI
// Automation takes the rest of the window's element: NVDA speaks a notification only when the
// element reports a native window handle, of the foreground window. The window is a top-level one
// without WS_POPUP, which Microsoft's page for UiaRaiseNotificationEvent names as needing more.
// A COM object is deleted by its own Release, never through its interface, which has no virtual
// destructor.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class WindowElement final : public IRawElementProviderSimple
{
public:
    explicit WindowElement(HWND window)
        : m_window(window)
    {
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IRawElementProviderSimple)) {
            *object = static_cast<IRawElementProviderSimple*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE get_ProviderOptions(ProviderOptions* options) override
    {
        if (!options)
            return E_POINTER;
        *options = ProviderOptions_ServerSideProvider;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID, IUnknown** pattern) override
    {
        if (!pattern)
            return E_POINTER;
        *pattern = nullptr;
        return S_OK;
    }
    // UIA_NativeWindowHandlePropertyId, which uiautomationclient.h numbers 30020; UI Automation takes
    // a handle as VT_I4.
    HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID property, VARIANT* value) override
    {
        if (!value)
            return E_POINTER;
        VariantInit(value);
        if (property == 30020) {
            value->vt = VT_I4;
            value->lVal = static_cast<LONG>(reinterpret_cast<LONG_PTR>(m_window));
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_HostRawElementProvider(IRawElementProviderSimple** host) override
    {
        if (!host)
            return E_POINTER;
        *host = nullptr;
        const auto hostOf = Native::calls.hostProviderFromHwnd;
        return hostOf ? hostOf(m_window, host) : E_NOTIMPL;
    }

private:
    ~WindowElement() = default;

    HWND m_window;
    std::atomic<ULONG> m_references { 1 };
};
#pragma GCC diagnostic pop

// Frees a BSTR as it goes.
struct SystemString
{
    explicit SystemString(const QString& text)
        : value(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.utf16()), UINT(text.size())))
    {
    }
    ~SystemString() { SysFreeString(value); }
    Q_DISABLE_COPY_MOVE(SystemString)
    BSTR value;
};

} // namespace

bool raisesNotices()
{
    return Native::calls.raiseNotificationEvent != nullptr;
}

void raiseNotice(quintptr window, const QString& text, Notice notice)
{
    const auto raise = Native::calls.raiseNotificationEvent;
    if (!raise || text.isEmpty())
        return;
    // A result is an action completed; a state a key gave is none of the other kinds Microsoft
    // documents (an item added or removed, an action completed or aborted), so Other. Each is
    // MostRecent: "presented to the user when possible" (not "as soon as possible", as the Important
    // ones, so it does not cut into the echo of what the user types), and "the most recent
    // notification from this source ... supersedes all of the other notifications", as a new count
    // or state makes the last one stale. The activity names the source, results apart from states.
    const bool result = notice == Notice::Result;
    const SystemString displayed(text);
    const SystemString activity(
        result ? QStringLiteral("BatchRenamer.Result") : QStringLiteral("BatchRenamer.State"));
    auto* element = new WindowElement(reinterpret_cast<HWND>(window));
    // What it answers changes nothing: a notice that cannot be raised is one nobody hears, as on
    // Windows without the call.
    raise(element, result ? Native::NotificationKind::ActionCompleted : Native::NotificationKind::Other,
        Native::NotificationProcessing::MostRecent, displayed.value, activity.value);
    element->Release(); // UI Automation holds its own reference while it delivers the notice
}

} // namespace Platform
