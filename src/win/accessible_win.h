// What accessibility clients (screen readers) learn of a window whose look is all painted:
// its name, role, value and state through IAccessible, answered to WM_GETOBJECT. The
// window's own text may stay empty (image buttons show their caption in the image).
#pragma once

#include <windows.h>
// clang-format off
#include <oleacc.h>
// clang-format on

#include <string>

namespace installer::win {

// One window's accessible object (CHILDID_SELF only, no children). Reference counted: a
// client may hold it after the window is gone, when it answers as an unavailable object.
// Name and value are kept in the object and set by the window's owner; state (visible,
// enabled, focused, checked) and location are read from the window at every call.
class AccessibleWindow final : public IAccessible {
  public:
    // A new object with one reference, which the caller owns. `role` is a ROLE_SYSTEM_*.
    static AccessibleWindow* Create(HWND window, long role);

    void SetName(std::wstring name) { name_ = std::move(name); }
    void SetValue(std::wstring value) { value_ = std::move(value); }
    const std::wstring& name() const { return name_; }
    // The window went away: the object stops reading it.
    void Forget() { window_ = nullptr; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch: no type information; clients call IAccessible directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;
    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override;
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override;
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** dispatch) override;
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override;
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override;
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override;
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override;
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override;
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override;
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override;
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override;
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override;
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override;
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override;
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override;
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override;
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override;

    // Only Create makes objects (PassKey is private); only the last Release ends them.
    struct PassKey {};
    AccessibleWindow(PassKey, HWND window, long role) : window_(window), role_(role) {}
    ~AccessibleWindow() = default;
    AccessibleWindow(const AccessibleWindow&) = delete;
    AccessibleWindow& operator=(const AccessibleWindow&) = delete;

  private:
    LONG references_ = 1;
    HWND window_;
    long role_;
    std::wstring name_;
    std::wstring value_;
};

// Holds a window's accessible object for its owner and answers WM_GETOBJECT with it.
class AccessibleHolder {
  public:
    AccessibleHolder() = default;
    ~AccessibleHolder() { Reset(); }
    AccessibleHolder(const AccessibleHolder&) = delete;
    AccessibleHolder& operator=(const AccessibleHolder&) = delete;

    // Describes `window` as `role` named `name` (made on first call, renamed after).
    void Describe(HWND window, long role, std::wstring name);
    void SetName(std::wstring name);
    void SetValue(std::wstring value);
    bool described() const { return object_ != nullptr; }

    // The answer to WM_GETOBJECT (`wparam`, `lparam`) for the client area; nothing for
    // other objects or when nothing is described, so that the default handling answers.
    bool Answer(WPARAM wparam, LPARAM lparam, LRESULT* result) const;

    // Forgets the window and lets go of the object (clients may keep theirs).
    void Reset();

  private:
    AccessibleWindow* object_ = nullptr;  // one reference, ours
};

}  // namespace installer::win
