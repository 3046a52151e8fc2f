// The browser's requests to pinned hosts, fetched off the user-interface
// thread; each answer's body is a stream of the multithreaded apartment.
#include "player/pinned_traffic_win.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "common/debug_log.h"
#include "common/message_window_win.h"
#include "player/browser_rules.h"
#include "service/pins.h"

namespace {

// The body of one answer, read straight from its connection.
class BodyStream final : public IStream {
public:
    BodyStream(std::shared_ptr<BrowserFetchBody> body, std::optional<ULONGLONG> length)
        : body_(std::move(body)), length_(length) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_ISequentialStream && iid != IID_IStream) return E_NOINTERFACE;
        *object = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // As much as has arrived, S_OK; 0 bytes and S_FALSE at the end.
    HRESULT STDMETHODCALLTYPE Read(void* into, ULONG size, ULONG* read) override {
        if (read) *read = 0;
        if (into == nullptr) return STG_E_INVALIDPOINTER;
        if (size == 0) return S_OK;
        DWORD got = 0;
        if (!body_->Read(into, size, got)) return STG_E_READFAULT;
        position_ += got;
        if (read) *read = got;
        return got > 0 ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    // Only where it stands can be asked: the body is read once, in order.
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        if (origin != STREAM_SEEK_CUR || move.QuadPart != 0) return STG_E_INVALIDFUNCTION;
        if (position) position->QuadPart = position_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_INVALIDFUNCTION; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    // The size only where the answer announced it: a reader must not take an
    // unknown length for an empty body.
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        if (!length_) return E_NOTIMPL;
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = *length_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    ~BodyStream() = default;
    std::atomic<ULONG> references_{1};
    std::shared_ptr<BrowserFetchBody> body_;
    std::optional<ULONGLONG> length_;
    std::atomic<ULONGLONG> position_{0};
};

// The announced length of an answer, from its header lines.
std::optional<ULONGLONG> AnnouncedLength(const WString& headers) {
    const WString lower = ToLowerCopy(headers);
    std::size_t at = 0;
    while (at < lower.size()) {
        std::size_t end = lower.find(u"\r\n", at);
        if (end == WString::npos) end = lower.size();
        const WStringView line(lower.data() + at, end - at);
        at = end + 2;
        constexpr WStringView kName = u"content-length:";
        if (line.substr(0, kName.size()) != kName) continue;
        ULONGLONG value = 0;
        bool digits = false;
        for (char16_t c : line.substr(kName.size())) {
            if (c == u' ' || c == u'\t') continue;
            if (c < u'0' || c > u'9' || value > 0xFFFFFFFFFFFFull / 10) return std::nullopt;
            value = value * 10 + static_cast<ULONGLONG>(c - u'0');
            digits = true;
        }
        return digits ? std::optional<ULONGLONG>(value) : std::nullopt;
    }
    return std::nullopt;
}

constexpr UINT kFetched = WM_APP + 41;
constexpr wchar_t kFetchWindowClass[] = L"TovaniPinnedFetch";

LRESULT CALLBACK FetchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kFetched) {
        std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(lParam));
        (*task)();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// One message-only window per user-interface thread receives the answers.
HWND FetchWindow() {
    thread_local HWND window = CreateMessageWindow(kFetchWindowClass, FetchWindowProc);
    return window;
}

// The multithreaded apartment outlives the fetching threads, so that the
// body streams made in it stay callable.
void KeepMultithreadedApartment() {
    static std::once_flag once;
    std::call_once(once, [] {
        CO_MTA_USAGE_COOKIE cookie{};
        if (FAILED(CoIncrementMTAUsage(&cookie))) DebugLog("pinned traffic: the multithreaded apartment is not kept");
    });
}

} // namespace

void FetchPinnedLater(BrowserFetchRequest request, std::function<void(PinnedAnswer)> done) {
    const HWND window = FetchWindow();
    std::thread([request = std::move(request), done = std::move(done), window]() mutable {
        const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        KeepMultithreadedApartment();
        BrowserFetchResult result = FetchForBrowser(request);
        const std::optional<WString> host = HttpsHostOf(request.url);
        if (result.outcome == BrowserFetchResult::Outcome::PinMismatch && host && IsPrimaryDomainHost(*host)) {
            if (const std::optional<PinEntry> entry = FindPinEntry(*host))
                ValidateServerPinsAgainst(result.chain, *host, *entry);
        }
        auto answer = std::make_shared<PinnedAnswer>();
        answer->outcome = result.outcome;
        answer->status = result.status;
        answer->reason = std::move(result.reason);
        answer->headers = std::move(result.headers);
        IStream* marshaled = nullptr;
        if (result.outcome == BrowserFetchResult::Outcome::Answered) {
            auto* stream = new BodyStream(std::move(result.body), AnnouncedLength(answer->headers));
            if (FAILED(CoMarshalInterThreadInterfaceInStream(IID_IStream, stream, &marshaled))) {
                DebugLog("pinned traffic: an answer's body could not be handed over");
                answer->outcome = BrowserFetchResult::Outcome::Failed;
                marshaled = nullptr;
            }
            stream->Release();
        }
        auto* task = new std::function<void()>([answer, marshaled, done = std::move(done)]() mutable {
            if (marshaled != nullptr &&
                FAILED(CoGetInterfaceAndReleaseStream(marshaled, IID_IStream, reinterpret_cast<void**>(answer->body.Put())))) {
                answer->outcome = BrowserFetchResult::Outcome::Failed;
            }
            done(std::move(*answer));
        });
        if (!PostMessageW(window, kFetched, 0, reinterpret_cast<LPARAM>(task))) {
            if (marshaled != nullptr) CoReleaseMarshalData(marshaled), marshaled->Release();
            delete task;
        }
        if (SUCCEEDED(joined)) CoUninitialize();
    }).detach();
}
