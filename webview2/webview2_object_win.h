#pragma once
// Windows backend only: the IUnknown half of an object the program hands to
// the browser runtime (handlers, the environment options). It answers for
// IUnknown and its one interface and deletes itself on the last release.
#include <atomic>

#include "webview2/webview2_win.h"

namespace WebView2 {

template <typename Derived, typename Interface>
class RuntimeObject : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IidOf<Interface>) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }

protected:
    RuntimeObject() = default;
    ~RuntimeObject() = default;

private:
    std::atomic<ULONG> references_{1};
};

} // namespace WebView2
