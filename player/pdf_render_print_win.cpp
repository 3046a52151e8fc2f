// Printing a PDF document through Windows.Data.Pdf and Direct2D's print
// control. MinGW-w64 10 has no windows.data.pdf.h nor windows.data.pdf.interop.h,
// so the few interfaces used are declared here.
//
// Facts we rely on, cross-checked (IIDs, and the slots after IInspectable's
// GetIids/GetRuntimeClassName/GetTrustLevel, or after IUnknown's three):
//  - IPdfDocumentStatics {433a0b5f-c007-4788-90f2-08143d922599}: LoadFromFileAsync,
//    LoadFromFileWithPasswordAsync, LoadFromStreamAsync, LoadFromStreamWithPasswordAsync.
//  - IPdfDocument {ac7ebedd-80fa-4089-846e-81b77ff5a86c}: GetPage, get_PageCount,
//    get_IsPasswordProtected.
//  - IPdfPage {9db4b0c8-5320-4cfc-ad76-493fdad0e594}: RenderToStreamAsync,
//    RenderWithOptionsToStreamAsync, PreparePageAsync, get_Index, get_Size,
//    get_Dimensions, get_Rotation, get_PreferredZoom.
//    These three: microsoft/windows-rs (Windows/Data/Pdf/mod.rs), microsoft/cppwinrt
//    (10.0.14393.0 Windows.Data.Pdf.1.h) and a public copy of the SDK's MIDL-made
//    windows.data.pdf.h agree.
//  - IAsyncOperation<PdfDocument> {d6b166ec-099a-5ee2-ad2e-f4c88614aabb}: put_Completed,
//    get_Completed, GetResults. The IID is the parameterized-interface GUID (UUIDv5
//    over namespace 11f47ad5-7b73-42c0-abae-878b1e16adee and the signature
//    "pinterface({9fc2b0bb-e446-44e2-aa61-9cab8f636af2};rc(Windows.Data.Pdf.PdfDocument;
//    {ac7ebedd-80fa-4089-846e-81b77ff5a86c}))"); computed, with the same computation
//    giving MinGW's own IAsyncOperation<boolean> and IAsyncOperation<SpeechSynthesisStream>
//    IIDs, and equal to the one in cppwinrt's Windows.Data.Pdf.2.h and the SDK header.
//    Slot order: windows-rs (Windows/Foundation) and the SDK header.
//  - IPdfRendererNative {7d9dcd91-d277-4947-8527-07a0daeda94a}, derived from IUnknown:
//    RenderPageToSurface, RenderPageToDeviceContext; PdfCreateRenderer(IDXGIDevice*,
//    IPdfRendererNative**) exported by windows.data.pdf.dll; PDF_RENDER_PARAMS
//    {D2D_RECT_F SourceRect; UINT32 DestinationWidth, DestinationHeight;
//    D2D_COLOR_F BackgroundColor; BOOLEAN IgnoreHighContrast}: TerraFX.Interop.Windows
//    (WinRT/um/windows.data.pdf.interop) and windows-rs (Win32 metadata) agree;
//    the struct also as on Microsoft Learn.
//  - Render defaults (Microsoft Learn, PDF_RENDER_PARAMS; TerraFX's
//    sc_PdfRenderParamsDefault*): zero source rectangle = whole page, zero destination
//    size = the page's own size, white opaque background, IgnoreHighContrast TRUE.
//    A zeroed struct is not the default: its background is transparent and it takes
//    the user's high-contrast colours.
//  - Windows.Foundation.Size {FLOAT Width; FLOAT Height}: MinGW's windows.foundation.h
//    (which does not compile as C++ here, hence declared below) and windows-rs.
//    PdfPage.Size is in DIPs (1/96 inch), as ID2D1PrintControl::AddPage wants its
//    page size.
//  - IRandomAccessStream {905a0fe1-bc53-11df-8c49-001e4fc686da} (absent from MinGW's
//    windows.storage.streams.h): windows-rs and cppwinrt.
//  - shcore's CreateRandomAccessStreamOverStream(IStream*, BSOS_OPTIONS, REFIID, void**),
//    BSOS_DEFAULT = 0: Microsoft Learn and TerraFX (um/shcore); MinGW 10 has no shcore.h.
//  - IAsyncInfo (MinGW's asyncinfo.h) {00000036-0000-0000-c000-000000000046}: get_Id,
//    get_Status, get_ErrorCode, Cancel, Close; as in windows-rs.
//  - From MinGW's headers, IIDs checked against TerraFX or windows-rs: ID2D1Factory1
//    {bb12d362-...}, ID2D1Device {47dd575d-...}, ID2D1DeviceContext {e8f7fe7a-...},
//    ID2D1CommandList {b4f34a19-...}, ID2D1PrintControl {2c1d867d-...}, IDXGIDevice
//    {54ec77fa-...}, IWICImagingFactory {ec5ec8a9-...}, IPrintDocumentPackageTarget
//    {1b8efec4-...}, IPrintDocumentPackageTargetFactory {d2959bf7-...}; the slots used
//    (ID2D1Factory1::CreateDevice 17, ID2D1Device::CreateDeviceContext 4 and
//    CreatePrintControl 5, ID2D1RenderTarget::BeginDraw 48 and EndDraw 49,
//    ID2D1DeviceContext::CreateCommandList 67 and SetTarget 74, ID2D1CommandList::Close 5,
//    ID2D1PrintControl::AddPage 3 and Close 4) match TerraFX's VtblIndex values.
//    CLSID_PrintDocumentPackageTargetFactory {348ef17d-6c81-4982-92b4-ee188a43867a} and
//    CLSID_WICImagingFactory {cacaf262-9370-4615-a13b-9f5539da4c0a}: MinGW and windows-rs.
#include "player/pdf_render_print_win.h"

#include <windows.h>
#include <objbase.h>
#include <winspool.h>

// Windows Runtime basics.
#include <inspectable.h>
#include <asyncinfo.h>
#include <roapi.h>
#include <winstring.h>

// Direct3D, Direct2D, imaging and the XPS print path.
#include <d3d11.h>
#include <documenttarget.h>
#include <prntvpt.h>
#include <wincodec.h>
#include <d2d1_1.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <thread>
#include <vector>

#include "common/com_ptr_win.h"

// Outside the anonymous namespace on purpose: GCC takes a class there to have
// no implementations it cannot see, and drops every call through these
// interfaces (Windows implements them) as unreachable.
namespace tovani_pdf_abi {

struct IPdfDocument;
struct IPdfPage;

// The PdfDocument.LoadFromStreamAsync operation, IAsyncOperation<PdfDocument>.
struct IAsyncOperationPdfDocument : public IInspectable {
    static constexpr GUID kIid = {0xd6b166ec, 0x099a, 0x5ee2, {0xad, 0x2e, 0xf4, 0xc8, 0x86, 0x14, 0xaa, 0xbb}};
    virtual HRESULT STDMETHODCALLTYPE put_Completed(IUnknown* handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Completed(IUnknown** handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResults(IPdfDocument** document) = 0;
};

struct IPdfDocumentStatics : public IInspectable {
    static constexpr GUID kIid = {0x433a0b5f, 0xc007, 0x4788, {0x90, 0xf2, 0x08, 0x14, 0x3d, 0x92, 0x25, 0x99}};
    virtual HRESULT STDMETHODCALLTYPE LoadFromFileAsync(IInspectable* file, IAsyncOperationPdfDocument** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE LoadFromFileWithPasswordAsync(IInspectable* file, HSTRING password,
                                                                    IAsyncOperationPdfDocument** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE LoadFromStreamAsync(IInspectable* stream,
                                                          IAsyncOperationPdfDocument** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE LoadFromStreamWithPasswordAsync(IInspectable* stream, HSTRING password,
                                                                      IAsyncOperationPdfDocument** operation) = 0;
};

struct IPdfDocument : public IInspectable {
    static constexpr GUID kIid = {0xac7ebedd, 0x80fa, 0x4089, {0x84, 0x6e, 0x81, 0xb7, 0x7f, 0xf5, 0xa8, 0x6c}};
    virtual HRESULT STDMETHODCALLTYPE GetPage(UINT32 index, IPdfPage** page) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_PageCount(UINT32* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsPasswordProtected(boolean* isProtected) = 0;
};

// Windows.Foundation.Size.
struct Size {
    FLOAT Width;
    FLOAT Height;
};

struct IPdfPage : public IInspectable {
    static constexpr GUID kIid = {0x9db4b0c8, 0x5320, 0x4cfc, {0xad, 0x76, 0x49, 0x3f, 0xda, 0xd0, 0xe5, 0x94}};
    virtual HRESULT STDMETHODCALLTYPE RenderToStreamAsync(IInspectable* stream, IInspectable** action) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderWithOptionsToStreamAsync(IInspectable* stream, IInspectable* options,
                                                                     IInspectable** action) = 0;
    virtual HRESULT STDMETHODCALLTYPE PreparePageAsync(IInspectable** action) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Index(UINT32* index) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Size(Size* size) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Dimensions(IInspectable** dimensions) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Rotation(INT32* rotation) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_PreferredZoom(FLOAT* zoom) = 0;
};

struct PDF_RENDER_PARAMS {
    D2D_RECT_F SourceRect;
    UINT32 DestinationWidth;
    UINT32 DestinationHeight;
    D2D_COLOR_F BackgroundColor;
    BOOLEAN IgnoreHighContrast;
};
static_assert(offsetof(PDF_RENDER_PARAMS, DestinationWidth) == 16 &&
              offsetof(PDF_RENDER_PARAMS, BackgroundColor) == 24 &&
              offsetof(PDF_RENDER_PARAMS, IgnoreHighContrast) == 40 && sizeof(PDF_RENDER_PARAMS) == 44);

struct IPdfRendererNative : public IUnknown {
    static constexpr GUID kIid = {0x7d9dcd91, 0xd277, 0x4947, {0x85, 0x27, 0x07, 0xa0, 0xda, 0xed, 0xa9, 0x4a}};
    virtual HRESULT STDMETHODCALLTYPE RenderPageToSurface(IUnknown* page, IDXGISurface* surface, POINT offset,
                                                          PDF_RENDER_PARAMS* params) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderPageToDeviceContext(IUnknown* page, ID2D1DeviceContext* context,
                                                                PDF_RENDER_PARAMS* params) = 0;
};

constexpr GUID kIidRandomAccessStream = {0x905a0fe1, 0xbc53, 0x11df, {0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda}};
constexpr wchar_t kDocumentClass[] = L"Windows.Data.Pdf.PdfDocument";

} // namespace tovani_pdf_abi

namespace {

namespace pdf = tovani_pdf_abi;

constexpr GUID kClsidPrintDocumentPackageTargetFactory = {
    0x348ef17d, 0x6c81, 0x4982, {0x92, 0xb4, 0xee, 0x18, 0x8a, 0x43, 0x86, 0x7a}};
constexpr GUID kClsidWicImagingFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};

// How long the document may take to load, and how often its state is looked at.
constexpr auto kLoadBound = std::chrono::seconds(30);
constexpr auto kLoadLook = std::chrono::milliseconds(20);
// What Direct2D cannot say in XPS (some effects and blends) it rasterises at
// this resolution; text and vector paths stay vectors whatever it is.
constexpr FLOAT kRasterDpi = 300.0f;

constexpr int kBsosDefault = 0; // BSOS_DEFAULT
using CreateRandomAccessStreamOverStreamFn = HRESULT(WINAPI*)(IStream*, int, REFIID, void**);
using D2D1CreateFactoryFn = HRESULT(WINAPI*)(D2D1_FACTORY_TYPE, REFIID, const D2D1_FACTORY_OPTIONS*, void**);
using PdfCreateRendererFn = HRESULT(WINAPI*)(IDXGIDevice*, pdf::IPdfRendererNative**);

// Everything that may be missing from a system, looked up at run time so the
// program starts without it: loaded once from the system folder and kept,
// since objects they made may still be finishing on threads of their own.
struct SystemApis {
    decltype(&RoGetActivationFactory) getActivationFactory = nullptr;
    decltype(&WindowsCreateString) createString = nullptr;
    decltype(&WindowsDeleteString) deleteString = nullptr;
    CreateRandomAccessStreamOverStreamFn streamOverStream = nullptr;
    PFN_D3D11_CREATE_DEVICE createD3dDevice = nullptr;
    D2D1CreateFactoryFn createD2dFactory = nullptr;
    PdfCreateRendererFn createPdfRenderer = nullptr;
    decltype(&PTOpenProvider) openTicketProvider = nullptr;
    decltype(&PTConvertDevModeToPrintTicket) devModeToTicket = nullptr;
    decltype(&PTCloseProvider) closeTicketProvider = nullptr;
    std::string missing; // what was not found, for the log
};

template <typename Function>
void Find(HMODULE module, const char* library, const char* name, Function& function, std::string& missing) {
    function = module == nullptr ? nullptr
                                 : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (function != nullptr) return;
    if (!missing.empty()) missing += ", ";
    missing += std::string(library) + (module == nullptr ? "" : std::string("!") + name);
}

const SystemApis& Apis() {
    static const SystemApis apis = [] {
        SystemApis found;
        const auto load = [](const wchar_t* name) {
            return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        };
        HMODULE combase = load(L"combase.dll");
        Find(combase, "combase.dll", "RoGetActivationFactory", found.getActivationFactory, found.missing);
        Find(combase, "combase.dll", "WindowsCreateString", found.createString, found.missing);
        Find(combase, "combase.dll", "WindowsDeleteString", found.deleteString, found.missing);
        Find(load(L"shcore.dll"), "shcore.dll", "CreateRandomAccessStreamOverStream", found.streamOverStream,
             found.missing);
        Find(load(L"d3d11.dll"), "d3d11.dll", "D3D11CreateDevice", found.createD3dDevice, found.missing);
        Find(load(L"d2d1.dll"), "d2d1.dll", "D2D1CreateFactory", found.createD2dFactory, found.missing);
        Find(load(L"windows.data.pdf.dll"), "windows.data.pdf.dll", "PdfCreateRenderer", found.createPdfRenderer,
             found.missing);
        HMODULE prntvpt = load(L"prntvpt.dll");
        Find(prntvpt, "prntvpt.dll", "PTOpenProvider", found.openTicketProvider, found.missing);
        Find(prntvpt, "prntvpt.dll", "PTConvertDevModeToPrintTicket", found.devModeToTicket, found.missing);
        Find(prntvpt, "prntvpt.dll", "PTCloseProvider", found.closeTicketProvider, found.missing);
        return found;
    }();
    return apis;
}

std::string Failure(const char* what, HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    return std::string(what) + " failed (" + code + ")";
}

bool CalledOff(const std::function<bool()>& calledOff) { return calledOff && calledOff(); }

// Whether object answers to the IID its interface is declared with here: a
// wrong declaration shows as an error instead of a call into the wrong slot.
template <typename Interface>
bool Answers(Interface* object) {
    return static_cast<bool>(QueryAs<Interface>(object, Interface::kIid));
}

// A Windows Runtime string, deleted on every way out.
class RuntimeString {
public:
    RuntimeString(const SystemApis& apis, const wchar_t* text) : apis_(apis) {
        result_ = apis_.createString(text, static_cast<UINT32>(std::wcslen(text)), &string_);
        if (FAILED(result_)) string_ = nullptr;
    }
    ~RuntimeString() {
        if (string_ != nullptr) apis_.deleteString(string_);
    }
    RuntimeString(const RuntimeString&) = delete;
    RuntimeString& operator=(const RuntimeString&) = delete;
    HRESULT result() const { return result_; }
    HSTRING get() const { return string_; }

private:
    const SystemApis& apis_;
    HSTRING string_ = nullptr;
    HRESULT result_ = E_FAIL;
};

// Waits for the document to load, looking at the operation's state (no
// completion handler: it would be a COM object of our own, and this thread
// has nothing else to do meanwhile). Called off or over the bound, the
// operation is cancelled.
ComPtr<pdf::IPdfDocument> AwaitDocument(pdf::IAsyncOperationPdfDocument* operation,
                                        const std::function<bool()>& calledOff, std::string& error) {
    ComPtr<IAsyncInfo> info = QueryAs<IAsyncInfo>(operation, __uuidof(IAsyncInfo));
    if (!info) {
        error = "the document's loading gives no IAsyncInfo";
        return {};
    }
    const auto deadline = std::chrono::steady_clock::now() + kLoadBound;
    AsyncStatus status = AsyncStatus::Started;
    for (;;) {
        const HRESULT hr = info->get_Status(&status);
        if (FAILED(hr)) {
            info->Cancel();
            error = Failure("IAsyncInfo::get_Status", hr);
            return {};
        }
        if (status != AsyncStatus::Started) break;
        if (CalledOff(calledOff)) {
            info->Cancel();
            error = "called off";
            return {};
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            info->Cancel();
            error = "the document took more than 30 s to load";
            return {};
        }
        std::this_thread::sleep_for(kLoadLook);
    }
    ComPtr<pdf::IPdfDocument> document;
    if (status == AsyncStatus::Completed) {
        const HRESULT hr = operation->GetResults(document.Put());
        if (FAILED(hr) || !document) {
            document.Reset();
            error = Failure("loading the document (GetResults)", FAILED(hr) ? hr : E_POINTER);
        }
    } else if (status == AsyncStatus::Canceled) {
        error = "the document's loading was cancelled";
    } else {
        HRESULT code = E_FAIL;
        info->get_ErrorCode(&code);
        error = Failure("Windows.Data.Pdf loading the document", code);
    }
    info->Close();
    return document;
}

// The whole document in a stream of its own, wrapped as the Windows Runtime
// stream PdfDocument reads.
ComPtr<IInspectable> DocumentStream(const SystemApis& apis, const std::string& bytes, std::string& error) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    void* data = memory != nullptr ? GlobalLock(memory) : nullptr;
    if (data == nullptr) {
        if (memory != nullptr) GlobalFree(memory);
        error = "no memory for the document";
        return {};
    }
    std::memcpy(data, bytes.data(), bytes.size());
    GlobalUnlock(memory);
    ComPtr<IStream> stream;
    // The stream owns the memory from here on (fDeleteOnRelease).
    HRESULT hr = CreateStreamOnHGlobal(memory, TRUE, stream.Put());
    if (FAILED(hr) || !stream) {
        GlobalFree(memory);
        error = Failure("CreateStreamOnHGlobal", FAILED(hr) ? hr : E_POINTER);
        return {};
    }
    // The memory block may be larger than asked, and the stream takes its size.
    ULARGE_INTEGER size;
    size.QuadPart = bytes.size();
    hr = stream->SetSize(size);
    if (FAILED(hr)) {
        error = Failure("IStream::SetSize", hr);
        return {};
    }
    ComPtr<IInspectable> randomAccess;
    hr = apis.streamOverStream(stream.get(), kBsosDefault, pdf::kIidRandomAccessStream,
                               reinterpret_cast<void**>(randomAccess.Put()));
    if (FAILED(hr) || !randomAccess) {
        error = Failure("CreateRandomAccessStreamOverStream", FAILED(hr) ? hr : E_POINTER);
        return {};
    }
    return randomAccess;
}

// The job's print ticket: the printer's own defaults (its DEVMODE as the
// driver completes it) in the form the XPS print path takes. Null when it
// cannot be had; the job is then tried without one.
ComPtr<IStream> DefaultJobTicket(const SystemApis& apis, const std::wstring& printer, std::string& why) {
    std::wstring name = printer;
    HANDLE handle = nullptr;
    if (!OpenPrinterW(name.data(), &handle, nullptr) || handle == nullptr) {
        why = "OpenPrinter failed (error " + std::to_string(GetLastError()) + ")";
        return {};
    }
    std::vector<BYTE> devMode;
    const LONG size = DocumentPropertiesW(nullptr, handle, name.data(), nullptr, nullptr, 0);
    if (size >= static_cast<LONG>(sizeof(DEVMODEW))) {
        devMode.resize(static_cast<std::size_t>(size));
        if (DocumentPropertiesW(nullptr, handle, name.data(), reinterpret_cast<DEVMODEW*>(devMode.data()), nullptr,
                                DM_OUT_BUFFER) != IDOK) {
            devMode.clear();
        }
    }
    ClosePrinter(handle);
    if (devMode.empty()) {
        why = "the printer's settings could not be read";
        return {};
    }
    HPTPROVIDER provider = nullptr;
    HRESULT hr = apis.openTicketProvider(printer.c_str(), 1, &provider);
    if (FAILED(hr) || provider == nullptr) {
        why = Failure("PTOpenProvider", FAILED(hr) ? hr : E_POINTER);
        return {};
    }
    ComPtr<IStream> ticket;
    hr = CreateStreamOnHGlobal(nullptr, TRUE, ticket.Put());
    if (SUCCEEDED(hr) && ticket) {
        hr = apis.devModeToTicket(provider, static_cast<ULONG>(devMode.size()),
                                  reinterpret_cast<PDEVMODEW>(devMode.data()), kPTJobScope, ticket.get());
    }
    apis.closeTicketProvider(provider);
    if (FAILED(hr) || !ticket) {
        why = Failure("PTConvertDevModeToPrintTicket", FAILED(hr) ? hr : E_POINTER);
        return {};
    }
    LARGE_INTEGER start{};
    ticket->Seek(start, STREAM_SEEK_SET, nullptr);
    return ticket;
}

// A print job begun. The documented ends of one: ID2D1PrintControl::Close
// hands every remaining page to the spooler and finishes the job;
// IPrintDocumentPackageTarget::Cancel cancels it. A job not closed is
// cancelled on every way out (called off, or a page that failed), and its
// print control released without Close, so that nothing of the document
// prints.
class PrintJob {
public:
    ~PrintJob() {
        if (target && !closed) target->Cancel();
    }
    ComPtr<IPrintDocumentPackageTarget> target;
    ComPtr<ID2D1PrintControl> control;
    bool closed = false;
};

// The work itself, on a thread in the multithreaded apartment; every COM
// object is released before the caller leaves the apartment.
void Print(const SystemApis& apis, const std::string& bytes, const std::wstring& printer, const std::wstring& jobName,
           const std::function<bool()>& calledOff, WindowsPdfPrint& result) {
    // Windows.Data.Pdf: its class activates only where Windows has it.
    ComPtr<pdf::IPdfDocumentStatics> statics;
    {
        RuntimeString className(apis, pdf::kDocumentClass);
        if (className.get() == nullptr) {
            result.error = Failure("WindowsCreateString", className.result());
            return;
        }
        const HRESULT hr = apis.getActivationFactory(className.get(), pdf::IPdfDocumentStatics::kIid,
                                                     reinterpret_cast<void**>(statics.Put()));
        if (hr == REGDB_E_CLASSNOTREG) {
            result.error = "Windows.Data.Pdf.PdfDocument is not registered here (REGDB_E_CLASSNOTREG)";
            return;
        }
        if (FAILED(hr) || !statics) {
            result.error = Failure("activating Windows.Data.Pdf.PdfDocument", FAILED(hr) ? hr : E_NOINTERFACE);
            return;
        }
    }

    // A Direct3D device (the graphics card's, or else WARP's software one)
    // under the Direct2D device the renderer and the print control share.
    ComPtr<ID3D11Device> d3dDevice;
    HRESULT hr = E_FAIL;
    for (const D3D_DRIVER_TYPE driver : {D3D_DRIVER_TYPE_HARDWARE, D3D_DRIVER_TYPE_WARP}) {
        hr = apis.createD3dDevice(nullptr, driver, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr, 0,
                                  D3D11_SDK_VERSION, d3dDevice.Put(), nullptr, nullptr);
        if (SUCCEEDED(hr) && d3dDevice) break;
        d3dDevice.Reset();
    }
    if (!d3dDevice) {
        result.error = Failure("D3D11CreateDevice (hardware and WARP)", FAILED(hr) ? hr : E_POINTER);
        return;
    }
    ComPtr<IDXGIDevice> dxgiDevice = QueryAs<IDXGIDevice>(d3dDevice.get(), __uuidof(IDXGIDevice));
    if (!dxgiDevice) {
        result.error = "the Direct3D device gives no IDXGIDevice";
        return;
    }
    ComPtr<ID2D1Factory1> factory;
    hr = apis.createD2dFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory1), nullptr,
                               reinterpret_cast<void**>(factory.Put()));
    if (FAILED(hr) || !factory) {
        result.error = Failure("D2D1CreateFactory (ID2D1Factory1)", FAILED(hr) ? hr : E_POINTER);
        return;
    }
    ComPtr<ID2D1Device> device;
    hr = factory->CreateDevice(dxgiDevice.get(), device.Put());
    if (FAILED(hr) || !device) {
        result.error = Failure("ID2D1Factory1::CreateDevice", FAILED(hr) ? hr : E_POINTER);
        return;
    }
    ComPtr<ID2D1DeviceContext> context;
    hr = device->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, context.Put());
    if (FAILED(hr) || !context) {
        result.error = Failure("ID2D1Device::CreateDeviceContext", FAILED(hr) ? hr : E_POINTER);
        return;
    }
    ComPtr<pdf::IPdfRendererNative> renderer;
    hr = apis.createPdfRenderer(dxgiDevice.get(), renderer.Put());
    if (FAILED(hr) || !renderer) {
        result.error = Failure("PdfCreateRenderer", FAILED(hr) ? hr : E_POINTER);
        return;
    }
    if (!Answers(renderer.get())) {
        result.error = "the PDF renderer is no IPdfRendererNative";
        return;
    }
    ComPtr<IWICImagingFactory> imaging;
    hr = CoCreateInstance(kClsidWicImagingFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                          reinterpret_cast<void**>(imaging.Put()));
    if (FAILED(hr) || !imaging) {
        result.error = Failure("creating the WIC imaging factory", FAILED(hr) ? hr : E_POINTER);
        return;
    }
    ComPtr<IPrintDocumentPackageTargetFactory> targets;
    hr = CoCreateInstance(kClsidPrintDocumentPackageTargetFactory, nullptr, CLSCTX_INPROC_SERVER,
                          __uuidof(IPrintDocumentPackageTargetFactory), reinterpret_cast<void**>(targets.Put()));
    if (FAILED(hr) || !targets) {
        result.error = Failure("creating the print document package target factory", FAILED(hr) ? hr : E_POINTER);
        return;
    }
    // Everything is here: from now on a failure is this document's or this printer's.
    result.available = true;

    if (bytes.empty()) {
        result.error = "the document is empty";
        return;
    }
    ComPtr<IInspectable> stream = DocumentStream(apis, bytes, result.error);
    if (!stream) return;
    ComPtr<pdf::IAsyncOperationPdfDocument> loading;
    // stream is the IRandomAccessStream pointer itself (asked for by its IID).
    hr = statics->LoadFromStreamAsync(stream.get(), loading.Put());
    if (FAILED(hr) || !loading) {
        result.error = Failure("PdfDocument::LoadFromStreamAsync", FAILED(hr) ? hr : E_POINTER);
        return;
    }
    if (!Answers(loading.get())) {
        if (ComPtr<IAsyncInfo> info = QueryAs<IAsyncInfo>(loading.get(), __uuidof(IAsyncInfo))) info->Cancel();
        result.error = "the document's loading is no IAsyncOperation<PdfDocument>";
        return;
    }
    ComPtr<pdf::IPdfDocument> document = AwaitDocument(loading.get(), calledOff, result.error);
    loading.Reset();
    if (!document) return;
    if (!Answers(document.get())) {
        result.error = "the loaded document is no IPdfDocument";
        return;
    }
    UINT32 pageCount = 0;
    hr = document->get_PageCount(&pageCount);
    if (FAILED(hr)) {
        result.error = Failure("IPdfDocument::get_PageCount", hr);
        return;
    }
    if (pageCount == 0) {
        result.error = "the document has no pages";
        return;
    }
    if (CalledOff(calledOff)) {
        result.error = "called off";
        return;
    }

    PrintJob job;
    std::string ticketWhy;
    ComPtr<IStream> ticket = DefaultJobTicket(apis, printer, ticketWhy);
    hr = targets->CreateDocumentPackageTargetForPrintJob(printer.c_str(), jobName.c_str(), nullptr, ticket.get(),
                                                         job.target.Put());
    if (FAILED(hr) || !job.target) {
        job.target.Reset();
        result.error = Failure("CreateDocumentPackageTargetForPrintJob", FAILED(hr) ? hr : E_POINTER);
        if (!ticketWhy.empty()) result.error += "; no print ticket: " + ticketWhy;
        return;
    }
    const D2D1_PRINT_CONTROL_PROPERTIES properties = {D2D1_PRINT_FONT_SUBSET_MODE_DEFAULT, kRasterDpi,
                                                      D2D1_COLOR_SPACE_SRGB};
    hr = device->CreatePrintControl(imaging.get(), job.target.get(), &properties, job.control.Put());
    if (FAILED(hr) || !job.control) {
        result.error = Failure("ID2D1Device::CreatePrintControl", FAILED(hr) ? hr : E_POINTER);
        return;
    }

    // The documented defaults, not a zeroed struct: the whole page at its own
    // size on white, and never the user's high-contrast colours.
    pdf::PDF_RENDER_PARAMS params{};
    params.BackgroundColor = D2D1_COLOR_F{1.0f, 1.0f, 1.0f, 1.0f};
    params.IgnoreHighContrast = TRUE;
    for (UINT32 index = 0; index < pageCount; ++index) {
        if (CalledOff(calledOff)) {
            result.error = "called off";
            return;
        }
        const std::string which = " (page " + std::to_string(index + 1) + ")";
        ComPtr<pdf::IPdfPage> page;
        hr = document->GetPage(index, page.Put());
        if (FAILED(hr) || !page) {
            result.error = Failure("IPdfDocument::GetPage", FAILED(hr) ? hr : E_POINTER) + which;
            return;
        }
        if (!Answers(page.get())) {
            result.error = "the page is no IPdfPage" + which;
            return;
        }
        // In DIPs (1/96 inch), as AddPage takes it; the page's rotation included.
        pdf::Size size{};
        hr = page->get_Size(&size);
        if (FAILED(hr) || !(size.Width > 0.0f) || !(size.Height > 0.0f)) {
            result.error = Failure("IPdfPage::get_Size", FAILED(hr) ? hr : E_UNEXPECTED) + which;
            return;
        }
        ComPtr<ID2D1CommandList> commands;
        hr = context->CreateCommandList(commands.Put());
        if (FAILED(hr) || !commands) {
            result.error = Failure("ID2D1DeviceContext::CreateCommandList", FAILED(hr) ? hr : E_POINTER) + which;
            return;
        }
        context->SetTarget(commands.get());
        context->BeginDraw();
        const HRESULT drawn = renderer->RenderPageToDeviceContext(page.get(), context.get(), &params);
        const HRESULT ended = context->EndDraw();
        context->SetTarget(nullptr);
        if (FAILED(drawn)) {
            result.error = Failure("IPdfRendererNative::RenderPageToDeviceContext", drawn) + which;
            return;
        }
        if (FAILED(ended)) {
            result.error = Failure("ID2D1DeviceContext::EndDraw", ended) + which;
            return;
        }
        hr = commands->Close();
        if (FAILED(hr)) {
            result.error = Failure("ID2D1CommandList::Close", hr) + which;
            return;
        }
        hr = job.control->AddPage(commands.get(), D2D1_SIZE_F{size.Width, size.Height}, nullptr);
        if (FAILED(hr)) {
            result.error = Failure("ID2D1PrintControl::AddPage", hr) + which;
            return;
        }
    }
    if (CalledOff(calledOff)) {
        result.error = "called off";
        return;
    }
    hr = job.control->Close();
    if (FAILED(hr)) {
        result.error = Failure("ID2D1PrintControl::Close", hr);
        return;
    }
    job.closed = true;
    result.printed = true;
}

} // namespace

WindowsPdfPrint PrintPdfWithWindows(const std::string& pdf, const std::wstring& printer, const std::wstring& jobName,
                                    const std::function<bool()>& calledOff) {
    WindowsPdfPrint result;
    const SystemApis& apis = Apis();
    if (!apis.missing.empty()) {
        result.error = "Windows' PDF printing is missing here: " + apis.missing;
        return result;
    }
    // The Windows Runtime objects and the print path want an apartment; the
    // multithreaded one, since this thread only waits and pumps no messages.
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (joined == RPC_E_CHANGED_MODE) {
        result.error = "called on a single-threaded apartment thread; Windows' PDF printing wants a worker thread";
        return result;
    }
    if (FAILED(joined)) {
        result.error = Failure("CoInitializeEx", joined);
        return result;
    }
    Print(apis, pdf, printer, jobName, calledOff, result);
    CoUninitialize();
    return result;
}
