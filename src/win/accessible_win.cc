// IAccessible for painted windows.
#include "win/accessible_win.h"

#include <objbase.h>
#include <oleauto.h>

#include <memory>

namespace installer::win {
namespace {

// IID_IAccessible. The import library names it as data of oleacc.dll, which would make the
// DLL a static import; oleacc is loaded on first use like the other non-system-known DLLs.
constexpr IID kIidAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

bool IsSelf(const VARIANT& child) {
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

HRESULT ReturnText(const std::wstring& text, BSTR* out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (text.empty()) {
        return S_FALSE;
    }
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

AccessibleWindow* AccessibleWindow::Create(HWND window, long role) {
    // A COM object lives by its reference count: the first reference is the caller's, and
    // the last Release ends it.
    return std::make_unique<AccessibleWindow>(PassKey{}, window, role).release();
}

HRESULT AccessibleWindow::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == kIidAccessible) {
        *object = static_cast<IAccessible*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG AccessibleWindow::AddRef() {
    return static_cast<ULONG>(::InterlockedIncrement(&references_));
}

ULONG AccessibleWindow::Release() {
    const LONG left = ::InterlockedDecrement(&references_);
    if (left == 0) {
        std::unique_ptr<AccessibleWindow> last(this);  // the last reference: the object ends here
    }
    return static_cast<ULONG>(left);
}

HRESULT AccessibleWindow::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = 0;
    return S_OK;
}

HRESULT AccessibleWindow::GetTypeInfo(UINT, LCID, ITypeInfo**) {
    return E_NOTIMPL;
}

HRESULT AccessibleWindow::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

HRESULT AccessibleWindow::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

HRESULT AccessibleWindow::get_accParent(IDispatch** parent) {
    if (parent == nullptr) {
        return E_POINTER;
    }
    *parent = nullptr;
    if (window_ == nullptr || !::IsWindow(window_)) {
        return S_FALSE;
    }
    // The platform's object for this window's frame, whose parent is the dialog.
    return ::AccessibleObjectFromWindow(window_, static_cast<DWORD>(OBJID_WINDOW), IID_IDispatch,
                                        reinterpret_cast<void**>(parent));
}

HRESULT AccessibleWindow::get_accChildCount(long* count) {
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = 0;
    return S_OK;
}

HRESULT AccessibleWindow::get_accChild(VARIANT, IDispatch** dispatch) {
    if (dispatch == nullptr) {
        return E_POINTER;
    }
    *dispatch = nullptr;
    return E_INVALIDARG;
}

HRESULT AccessibleWindow::get_accName(VARIANT child, BSTR* name) {
    return IsSelf(child) ? ReturnText(name_, name) : E_INVALIDARG;
}

HRESULT AccessibleWindow::get_accValue(VARIANT child, BSTR* value) {
    return IsSelf(child) ? ReturnText(value_, value) : E_INVALIDARG;
}

HRESULT AccessibleWindow::get_accDescription(VARIANT child, BSTR* description) {
    return IsSelf(child) ? ReturnText(L"", description) : E_INVALIDARG;
}

HRESULT AccessibleWindow::get_accRole(VARIANT child, VARIANT* role) {
    if (role == nullptr) {
        return E_POINTER;
    }
    if (!IsSelf(child)) {
        return E_INVALIDARG;
    }
    role->vt = VT_I4;
    role->lVal = role_;
    return S_OK;
}

HRESULT AccessibleWindow::get_accState(VARIANT child, VARIANT* state) {
    if (state == nullptr) {
        return E_POINTER;
    }
    if (!IsSelf(child)) {
        return E_INVALIDARG;
    }
    long flags = 0;
    if (window_ == nullptr || !::IsWindow(window_)) {
        flags = STATE_SYSTEM_UNAVAILABLE | STATE_SYSTEM_INVISIBLE;
    } else {
        if (!::IsWindowVisible(window_)) {
            flags |= STATE_SYSTEM_INVISIBLE;
        }
        if (!::IsWindowEnabled(window_)) {
            flags |= STATE_SYSTEM_UNAVAILABLE;
        }
        if ((::GetWindowLongW(window_, GWL_STYLE) & WS_TABSTOP) != 0) {
            flags |= STATE_SYSTEM_FOCUSABLE;
        }
        if (::GetFocus() == window_) {
            flags |= STATE_SYSTEM_FOCUSED;
        }
        if (role_ == ROLE_SYSTEM_CHECKBUTTON && ::SendMessageW(window_, BM_GETCHECK, 0, 0) != BST_UNCHECKED) {
            flags |= STATE_SYSTEM_CHECKED;
        }
        if (role_ == ROLE_SYSTEM_LINK) {
            flags |= STATE_SYSTEM_LINKED;
        }
        if (role_ == ROLE_SYSTEM_STATICTEXT) {
            flags |= STATE_SYSTEM_READONLY;
        }
    }
    state->vt = VT_I4;
    state->lVal = flags;
    return S_OK;
}

HRESULT AccessibleWindow::get_accHelp(VARIANT child, BSTR* help) {
    return IsSelf(child) ? ReturnText(L"", help) : E_INVALIDARG;
}

HRESULT AccessibleWindow::get_accHelpTopic(BSTR* file, VARIANT, long* topic) {
    if (file != nullptr) {
        *file = nullptr;
    }
    if (topic != nullptr) {
        *topic = 0;
    }
    return S_FALSE;
}

HRESULT AccessibleWindow::get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) {
    return IsSelf(child) ? ReturnText(L"", shortcut) : E_INVALIDARG;
}

HRESULT AccessibleWindow::get_accFocus(VARIANT* child) {
    if (child == nullptr) {
        return E_POINTER;
    }
    if (window_ != nullptr && ::GetFocus() == window_) {
        child->vt = VT_I4;
        child->lVal = CHILDID_SELF;
        return S_OK;
    }
    child->vt = VT_EMPTY;
    return S_FALSE;
}

HRESULT AccessibleWindow::get_accSelection(VARIANT* children) {
    if (children == nullptr) {
        return E_POINTER;
    }
    children->vt = VT_EMPTY;
    return S_FALSE;
}

HRESULT AccessibleWindow::get_accDefaultAction(VARIANT child, BSTR* action) {
    if (!IsSelf(child)) {
        return E_INVALIDARG;
    }
    switch (role_) {
        case ROLE_SYSTEM_PUSHBUTTON:
            return ReturnText(L"按", action);
        case ROLE_SYSTEM_CHECKBUTTON:
            return ReturnText(L"切换", action);
        case ROLE_SYSTEM_LINK:
            return ReturnText(L"打开", action);
        default:
            return ReturnText(L"", action);
    }
}

HRESULT AccessibleWindow::accSelect(long, VARIANT) {
    return E_NOTIMPL;
}

HRESULT AccessibleWindow::accLocation(long* left, long* top, long* width, long* height, VARIANT child) {
    if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) {
        return E_POINTER;
    }
    RECT r{};
    if (!IsSelf(child) || window_ == nullptr || !::GetWindowRect(window_, &r)) {
        return E_INVALIDARG;
    }
    *left = r.left;
    *top = r.top;
    *width = r.right - r.left;
    *height = r.bottom - r.top;
    return S_OK;
}

HRESULT AccessibleWindow::accNavigate(long, VARIANT, VARIANT* end) {
    if (end != nullptr) {
        end->vt = VT_EMPTY;
    }
    return S_FALSE;
}

HRESULT AccessibleWindow::accHitTest(long x, long y, VARIANT* child) {
    if (child == nullptr) {
        return E_POINTER;
    }
    RECT r{};
    if (window_ != nullptr && ::GetWindowRect(window_, &r) && ::PtInRect(&r, POINT{x, y})) {
        child->vt = VT_I4;
        child->lVal = CHILDID_SELF;
        return S_OK;
    }
    child->vt = VT_EMPTY;
    return S_FALSE;
}

HRESULT AccessibleWindow::accDoDefaultAction(VARIANT child) {
    if (!IsSelf(child) || window_ == nullptr || !::IsWindowEnabled(window_) || !::IsWindowVisible(window_)) {
        return E_INVALIDARG;
    }
    if (role_ == ROLE_SYSTEM_PUSHBUTTON || role_ == ROLE_SYSTEM_CHECKBUTTON) {
        // Posted: the client waits for no handler that might open a modal loop.
        ::PostMessageW(window_, BM_CLICK, 0, 0);
        return S_OK;
    }
    if (role_ == ROLE_SYSTEM_LINK) {
        ::PostMessageW(::GetParent(window_), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(window_), STN_CLICKED),
                       reinterpret_cast<LPARAM>(window_));
        return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT AccessibleWindow::put_accName(VARIANT, BSTR) {
    return E_NOTIMPL;
}

HRESULT AccessibleWindow::put_accValue(VARIANT, BSTR) {
    return E_NOTIMPL;
}

void AccessibleHolder::Describe(HWND window, long role, std::wstring name) {
    if (object_ == nullptr) {
        object_ = AccessibleWindow::Create(window, role);
    }
    if (object_ != nullptr) {
        object_->SetName(std::move(name));
    }
}

void AccessibleHolder::SetName(std::wstring name) {
    if (object_ != nullptr) {
        object_->SetName(std::move(name));
    }
}

void AccessibleHolder::SetValue(std::wstring value) {
    if (object_ != nullptr) {
        object_->SetValue(std::move(value));
    }
}

bool AccessibleHolder::Answer(WPARAM wparam, LPARAM lparam, LRESULT* result) const {
    if (object_ == nullptr || static_cast<long>(lparam) != OBJID_CLIENT) {
        return false;
    }
    // The object reaches the client (another process) through COM marshalling, whose stub
    // lives in this thread's apartment and takes the calls as window messages. The first
    // request makes the window thread a single-threaded apartment for the rest of its life:
    // clients may hold the object as long as they like, and a program that is never asked
    // never starts COM for it.
    static thread_local bool apartment = false;
    if (!apartment) {
        const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        apartment = SUCCEEDED(com) || com == RPC_E_CHANGED_MODE;
        if (!apartment) {
            return false;
        }
    }
    // Wine's AccessibleObjectFromWindow asks with WPARAM -1, which its LresultFromObject
    // refuses ("unsupported wParam"); 0 is the value every version accepts and the one
    // its ObjectFromLresult then reads with. Every other value goes back as it came.
    const WPARAM flags = static_cast<DWORD>(wparam) == 0xFFFFFFFFu ? 0 : wparam;
    *result = ::LresultFromObject(kIidAccessible, flags, static_cast<IAccessible*>(object_));
    return SUCCEEDED(static_cast<HRESULT>(*result)) || *result > 0;
}

void AccessibleHolder::Reset() {
    if (object_ != nullptr) {
        object_->Forget();
        object_->Release();
        object_ = nullptr;
    }
}

}  // namespace installer::win
