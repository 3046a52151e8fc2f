#pragma once
// Windows backend only: a WebView2 completion or event handler around a
// callable. The handler checks a liveness token first, so an event that
// arrives after its owner has gone does nothing.
#include <functional>
#include <memory>

#include "common/com_ptr_win.h"
#include "webview2/webview2_object_win.h"
#include "webview2/webview2_win.h"

namespace WebView2 {

template <typename Interface, typename Signature>
class HandlerImpl;

template <typename Interface, typename... A>
class HandlerImpl<Interface, HRESULT(A...)> final
    : public RuntimeObject<HandlerImpl<Interface, HRESULT(A...)>, Interface> {
public:
    HandlerImpl(std::function<HRESULT(A...)> function, std::weak_ptr<void> alive)
        : function_(std::move(function)), alive_(std::move(alive)) {}

    HRESULT STDMETHODCALLTYPE Invoke(A... args) override {
        if (alive_.expired()) return S_OK;
        try {
            return function_(args...);
        } catch (...) {
            // Nothing unwinds into the runtime.
            return E_FAIL;
        }
    }

private:
    friend class RuntimeObject<HandlerImpl, Interface>;
    ~HandlerImpl() = default;
    std::function<HRESULT(A...)> function_;
    std::weak_ptr<void> alive_;
};

template <typename Method>
struct InvokeSignature;
template <typename C, typename... A>
struct InvokeSignature<HRESULT (STDMETHODCALLTYPE C::*)(A...)> {
    using Type = HRESULT(A...);
};

template <typename Interface, typename F>
ComPtr<Interface> MakeHandler(F&& function, std::weak_ptr<void> alive) {
    using Signature = typename InvokeSignature<decltype(&Interface::Invoke)>::Type;
    return ComPtr<Interface>::Adopt(new HandlerImpl<Interface, Signature>(std::forward<F>(function), std::move(alive)));
}

// QueryInterface for one of the declared WebView2 interfaces.
template <typename I, typename From>
ComPtr<I> Query(From* object) {
    return QueryAs<I>(object, IidOf<I>);
}

} // namespace WebView2
