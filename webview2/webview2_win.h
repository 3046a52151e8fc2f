#pragma once
// Windows backend only: the project's own declarations of the WebView2 COM
// interfaces the player calls. No SDK is available to the build, so the
// subset is declared here: every interface keeps its published name, its
// published IID and its vtable order. Methods the player never calls stay in
// place under their published names with untyped parameters, so that the
// slots after them line up; the comment on each interface gives the slot of
// its first own method (IUnknown's three methods are slots 0 to 2).
#include <windows.h>
#include <objidl.h>
#include <unknwn.h>

#include <cstdint>

namespace WebView2 {

// Registration of an event handler; remove_* takes it back by value.
struct EventRegistrationToken {
    std::int64_t value;
};

// 32-bit enumerations of the ABI (values as the runtime defines them).
using COREWEBVIEW2_WEB_ERROR_STATUS = std::int32_t;
using COREWEBVIEW2_PERMISSION_KIND = std::int32_t;
using COREWEBVIEW2_PERMISSION_STATE = std::int32_t;
using COREWEBVIEW2_WEB_RESOURCE_CONTEXT = std::int32_t;
using COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS = std::uint32_t;
using COREWEBVIEW2_PRINT_STATUS = std::int32_t;
using COREWEBVIEW2_PDF_TOOLBAR_ITEMS = std::uint32_t;

inline constexpr COREWEBVIEW2_PERMISSION_KIND COREWEBVIEW2_PERMISSION_KIND_MICROPHONE = 1;
inline constexpr COREWEBVIEW2_PERMISSION_KIND COREWEBVIEW2_PERMISSION_KIND_CAMERA = 2;
inline constexpr COREWEBVIEW2_PERMISSION_KIND COREWEBVIEW2_PERMISSION_KIND_GEOLOCATION = 3;
inline constexpr COREWEBVIEW2_PERMISSION_KIND COREWEBVIEW2_PERMISSION_KIND_NOTIFICATIONS = 4;
inline constexpr COREWEBVIEW2_PERMISSION_STATE COREWEBVIEW2_PERMISSION_STATE_DEFAULT = 0;
inline constexpr COREWEBVIEW2_PERMISSION_STATE COREWEBVIEW2_PERMISSION_STATE_ALLOW = 1;
inline constexpr COREWEBVIEW2_PERMISSION_STATE COREWEBVIEW2_PERMISSION_STATE_DENY = 2;
inline constexpr COREWEBVIEW2_WEB_RESOURCE_CONTEXT COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL = 0;
inline constexpr COREWEBVIEW2_WEB_RESOURCE_CONTEXT COREWEBVIEW2_WEB_RESOURCE_CONTEXT_DOCUMENT = 1;
inline constexpr COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS_ALL =
    0xFFFFFFFFu;
inline constexpr COREWEBVIEW2_PRINT_STATUS COREWEBVIEW2_PRINT_STATUS_SUCCEEDED = 0;
inline constexpr COREWEBVIEW2_PRINT_STATUS COREWEBVIEW2_PRINT_STATUS_PRINTER_UNAVAILABLE = 1;
inline constexpr COREWEBVIEW2_PRINT_STATUS COREWEBVIEW2_PRINT_STATUS_OTHER_ERROR = 2;
inline constexpr COREWEBVIEW2_PDF_TOOLBAR_ITEMS COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE = 1;
inline constexpr COREWEBVIEW2_PDF_TOOLBAR_ITEMS COREWEBVIEW2_PDF_TOOLBAR_ITEMS_PRINT = 2;
inline constexpr COREWEBVIEW2_PDF_TOOLBAR_ITEMS COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE_AS = 4;
inline constexpr COREWEBVIEW2_WEB_ERROR_STATUS COREWEBVIEW2_WEB_ERROR_STATUS_OPERATION_CANCELED = 14;

// Four bytes in the order alpha, red, green, blue; passed by value.
struct COREWEBVIEW2_COLOR {
    BYTE A;
    BYTE R;
    BYTE G;
    BYTE B;
};
static_assert(sizeof(COREWEBVIEW2_COLOR) == 4);

// Each interface's IID, looked up by type: IidOf<ICoreWebView2_16>.
template <typename Interface>
inline constexpr GUID IidOf{};

#define TOVANI_WV2_IID(Interface, d1, d2, d3, b0, b1, b2, b3, b4, b5, b6, b7) \
    struct Interface;                                                          \
    template <>                                                                \
    inline constexpr GUID IidOf<Interface>{d1, d2, d3, {b0, b1, b2, b3, b4, b5, b6, b7}};

#define TOVANI_WV2_METHOD(name) virtual HRESULT STDMETHODCALLTYPE name

TOVANI_WV2_IID(ICoreWebView2Environment, 0xB96D755E, 0x0319, 0x4E92, 0xA2, 0x96, 0x23, 0x43, 0x6F, 0x46, 0xA1, 0xFC)
TOVANI_WV2_IID(ICoreWebView2Environment2, 0x41F3632B, 0x5EF4, 0x404F, 0xAD, 0x82, 0x2D, 0x60, 0x6C, 0x5A, 0x9A, 0x21)
TOVANI_WV2_IID(ICoreWebView2Environment3, 0x80A22AE3, 0xBE7C, 0x4CE2, 0xAF, 0xE1, 0x5A, 0x50, 0x05, 0x6C, 0xDE, 0xEB)
TOVANI_WV2_IID(ICoreWebView2Environment4, 0x20944379, 0x6DCF, 0x41D6, 0xA0, 0xA0, 0xAB, 0xC0, 0xFC, 0x50, 0xDE, 0x0D)
TOVANI_WV2_IID(ICoreWebView2Environment5, 0x319E423D, 0xE0D7, 0x4B8D, 0x92, 0x54, 0xAE, 0x94, 0x75, 0xDE, 0x9B, 0x17)
TOVANI_WV2_IID(ICoreWebView2Environment6, 0xE59EE362, 0xACBD, 0x4857, 0x9A, 0x8E, 0xD3, 0x64, 0x4D, 0x94, 0x59, 0xA9)
TOVANI_WV2_IID(ICoreWebView2Controller, 0x4D00C0D1, 0x9434, 0x4EB6, 0x80, 0x78, 0x86, 0x97, 0xA5, 0x60, 0x33, 0x4F)
TOVANI_WV2_IID(ICoreWebView2Controller2, 0xC979903E, 0xD4CA, 0x4228, 0x92, 0xEB, 0x47, 0xEE, 0x3F, 0xA9, 0x6E, 0xAB)
TOVANI_WV2_IID(ICoreWebView2Controller3, 0xF9614724, 0x5D2B, 0x41DC, 0xAE, 0xF7, 0x73, 0xD6, 0x2B, 0x51, 0x54, 0x3B)
TOVANI_WV2_IID(ICoreWebView2Controller4, 0x97D418D5, 0xA426, 0x4E49, 0xA1, 0x51, 0xE1, 0xA1, 0x0F, 0x32, 0x7D, 0x9E)
TOVANI_WV2_IID(ICoreWebView2, 0x76ECEACB, 0x0462, 0x4D94, 0xAC, 0x83, 0x42, 0x3A, 0x67, 0x93, 0x77, 0x5E)
TOVANI_WV2_IID(ICoreWebView2_2, 0x9E8F0CF8, 0xE670, 0x4B5E, 0xB2, 0xBC, 0x73, 0xE0, 0x61, 0xE3, 0x18, 0x4C)
TOVANI_WV2_IID(ICoreWebView2_3, 0xA0D6DF20, 0x3B92, 0x416D, 0xAA, 0x0C, 0x43, 0x7A, 0x9C, 0x72, 0x78, 0x57)
TOVANI_WV2_IID(ICoreWebView2_4, 0x20D02D59, 0x6DF2, 0x42DC, 0xBD, 0x06, 0xF9, 0x8A, 0x69, 0x4B, 0x13, 0x02)
TOVANI_WV2_IID(ICoreWebView2_5, 0xBEDB11B8, 0xD63C, 0x11EB, 0xB8, 0xBC, 0x02, 0x42, 0xAC, 0x13, 0x00, 0x03)
TOVANI_WV2_IID(ICoreWebView2_6, 0x499AADAC, 0xD92C, 0x4589, 0x8A, 0x75, 0x11, 0x1B, 0xFC, 0x16, 0x77, 0x95)
TOVANI_WV2_IID(ICoreWebView2_7, 0x79C24D83, 0x09A3, 0x45AE, 0x94, 0x18, 0x48, 0x7F, 0x32, 0xA5, 0x87, 0x40)
TOVANI_WV2_IID(ICoreWebView2_8, 0xE9632730, 0x6E1E, 0x43AB, 0xB7, 0xB8, 0x7B, 0x2C, 0x9E, 0x62, 0xE0, 0x94)
TOVANI_WV2_IID(ICoreWebView2_9, 0x4D7B2EAB, 0x9FDC, 0x468D, 0xB9, 0x98, 0xA9, 0x26, 0x0B, 0x5E, 0xD6, 0x51)
TOVANI_WV2_IID(ICoreWebView2_10, 0xB1690564, 0x6F5A, 0x4983, 0x8E, 0x48, 0x31, 0xD1, 0x14, 0x3F, 0xEC, 0xDB)
TOVANI_WV2_IID(ICoreWebView2_11, 0x0BE78E56, 0xC193, 0x4051, 0xB9, 0x43, 0x23, 0xB4, 0x60, 0xC0, 0x8B, 0xDB)
TOVANI_WV2_IID(ICoreWebView2_12, 0x35D69927, 0xBCFA, 0x4566, 0x93, 0x49, 0x6B, 0x3E, 0x0D, 0x15, 0x4C, 0xAC)
TOVANI_WV2_IID(ICoreWebView2_13, 0xF75F09A8, 0x667E, 0x4983, 0x88, 0xD6, 0xC8, 0x77, 0x3F, 0x31, 0x5E, 0x84)
TOVANI_WV2_IID(ICoreWebView2_14, 0x6DAA4F10, 0x4A90, 0x4753, 0x88, 0x98, 0x77, 0xC5, 0xDF, 0x53, 0x41, 0x65)
TOVANI_WV2_IID(ICoreWebView2_15, 0x517B2D1D, 0x7DAE, 0x4A66, 0xA4, 0xF4, 0x10, 0x35, 0x2F, 0xFB, 0x95, 0x18)
TOVANI_WV2_IID(ICoreWebView2_16, 0x0EB34DC9, 0x9F91, 0x41E1, 0x86, 0x39, 0x95, 0xCD, 0x59, 0x43, 0x90, 0x6B)
TOVANI_WV2_IID(ICoreWebView2_17, 0x702E75D4, 0xFD44, 0x434D, 0x9D, 0x70, 0x1A, 0x68, 0xA6, 0xB1, 0x19, 0x2A)
TOVANI_WV2_IID(ICoreWebView2_18, 0x7A626017, 0x28BE, 0x49B2, 0xB8, 0x65, 0x3B, 0xA2, 0xB3, 0x52, 0x2D, 0x90)
TOVANI_WV2_IID(ICoreWebView2_19, 0x6921F954, 0x79B0, 0x437F, 0xA9, 0x97, 0xC8, 0x58, 0x11, 0x89, 0x7C, 0x68)
TOVANI_WV2_IID(ICoreWebView2_20, 0xB4BC1926, 0x7305, 0x11EE, 0xB9, 0x62, 0x02, 0x42, 0xAC, 0x12, 0x00, 0x02)
TOVANI_WV2_IID(ICoreWebView2_21, 0xC4980DEA, 0x587B, 0x43B9, 0x81, 0x43, 0x3E, 0xF3, 0xBF, 0x55, 0x2D, 0x95)
TOVANI_WV2_IID(ICoreWebView2_22, 0xDB75DFC7, 0xA857, 0x4632, 0xA3, 0x98, 0x69, 0x69, 0xDD, 0xE2, 0x6C, 0x0A)
TOVANI_WV2_IID(ICoreWebView2_23, 0x508F0DB5, 0x90C4, 0x5872, 0x90, 0xA7, 0x26, 0x7A, 0x91, 0x37, 0x75, 0x02)
TOVANI_WV2_IID(ICoreWebView2_24, 0x39A7AD55, 0x4287, 0x5CC1, 0x88, 0xA1, 0xC6, 0xF4, 0x58, 0x59, 0x38, 0x24)
TOVANI_WV2_IID(ICoreWebView2_25, 0xB5A86092, 0xDF50, 0x5B4F, 0xA1, 0x7B, 0x6C, 0x8F, 0x8B, 0x40, 0xB7, 0x71)
TOVANI_WV2_IID(ICoreWebView2Settings, 0xE562E4F0, 0xD7FA, 0x43AC, 0x8D, 0x71, 0xC0, 0x51, 0x50, 0x49, 0x9F, 0x00)
TOVANI_WV2_IID(ICoreWebView2Settings2, 0xEE9A0F68, 0xF46C, 0x4E32, 0xAC, 0x23, 0xEF, 0x8C, 0xAC, 0x22, 0x4D, 0x2A)
TOVANI_WV2_IID(ICoreWebView2Settings3, 0xFDB5AB74, 0xAF33, 0x4854, 0x84, 0xF0, 0x0A, 0x63, 0x1D, 0xEB, 0x5E, 0xBA)
TOVANI_WV2_IID(ICoreWebView2Settings4, 0xCB56846C, 0x4168, 0x4D53, 0xB0, 0x4F, 0x03, 0xB6, 0xD6, 0x79, 0x6F, 0xF2)
TOVANI_WV2_IID(ICoreWebView2Settings5, 0x183E7052, 0x1D03, 0x43A0, 0xAB, 0x99, 0x98, 0xE0, 0x43, 0xB6, 0x6B, 0x39)
TOVANI_WV2_IID(ICoreWebView2Settings6, 0x11CB3ACD, 0x9BC8, 0x43B8, 0x83, 0xBF, 0xF4, 0x07, 0x53, 0x71, 0x4F, 0x87)
TOVANI_WV2_IID(ICoreWebView2Settings7, 0x488DC902, 0x35EF, 0x42D2, 0xBC, 0x7D, 0x94, 0xB6, 0x5C, 0x4B, 0xC4, 0x9C)
TOVANI_WV2_IID(ICoreWebView2PrintSettings, 0x377F3721, 0xC74E, 0x48CA, 0x8D, 0xB1, 0xDF, 0x68, 0xE5, 0x1D, 0x60, 0xE2)
TOVANI_WV2_IID(ICoreWebView2PrintSettings2, 0xCA7F0E1F, 0x3484, 0x41D1, 0x8C, 0x1A, 0x65, 0xCD, 0x44, 0xA6, 0x3F, 0x8D)
TOVANI_WV2_IID(ICoreWebView2NavigationStartingEventArgs, 0x5B495469, 0xE119, 0x438A, 0x9B, 0x18, 0x76, 0x04, 0xF2,
               0x5F, 0x2E, 0x49)
TOVANI_WV2_IID(ICoreWebView2NavigationCompletedEventArgs, 0x30D68B7D, 0x20D9, 0x4752, 0xA9, 0xCA, 0xEC, 0x84, 0x48,
               0xFB, 0xB5, 0xC1)
TOVANI_WV2_IID(ICoreWebView2WebMessageReceivedEventArgs, 0x0F99A40C, 0xE962, 0x4207, 0x9E, 0x92, 0xE3, 0xD5, 0x42,
               0xEF, 0xF8, 0x49)
TOVANI_WV2_IID(ICoreWebView2PermissionRequestedEventArgs, 0x973AE2EF, 0xFF18, 0x4894, 0x8F, 0xB2, 0x3C, 0x75, 0x8F,
               0x04, 0x68, 0x10)
TOVANI_WV2_IID(ICoreWebView2NewWindowRequestedEventArgs, 0x34ACB11C, 0xFC37, 0x4418, 0x91, 0x32, 0xF9, 0xC2, 0x1D,
               0x1E, 0xAF, 0xB9)
TOVANI_WV2_IID(ICoreWebView2WebResourceRequestedEventArgs, 0x453E667F, 0x12C7, 0x49D4, 0xBE, 0x6D, 0xDD, 0xBE, 0x79,
               0x56, 0xF5, 0x7A)
TOVANI_WV2_IID(ICoreWebView2WebResourceRequest, 0x97055CD4, 0x512C, 0x4264, 0x8B, 0x5F, 0xE3, 0xF4, 0x46, 0xCE, 0xA6,
               0xA5)
TOVANI_WV2_IID(ICoreWebView2HttpRequestHeaders, 0xE86CAC0E, 0x5523, 0x465C, 0xB5, 0x36, 0x8F, 0xB9, 0xFC, 0x8C, 0x8C,
               0x60)
TOVANI_WV2_IID(ICoreWebView2WebResourceResponse, 0xAAFCC94F, 0xFA27, 0x48FD, 0x97, 0xDF, 0x83, 0x0E, 0xF7, 0x5A, 0xAE,
               0xC9)
TOVANI_WV2_IID(ICoreWebView2DownloadStartingEventArgs, 0xE99BBE21, 0x43E9, 0x4544, 0xA7, 0x32, 0x28, 0x27, 0x64, 0xEA,
               0xFA, 0x60)
TOVANI_WV2_IID(ICoreWebView2SaveAsUIShowingEventArgs, 0x55902952, 0x0E0D, 0x5AAA, 0xA7, 0xD0, 0xE8, 0x33, 0xCD, 0xB3,
               0x4F, 0x62)
TOVANI_WV2_IID(ICoreWebView2Deferral, 0xC10E7F7B, 0xB585, 0x46F0, 0xA6, 0x23, 0x8B, 0xEF, 0xBF, 0x3E, 0x4E, 0xE0)
TOVANI_WV2_IID(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, 0x4E8A3389, 0xC9D8, 0x4BD2, 0xB6, 0xB5,
               0x12, 0x4F, 0xEE, 0x6C, 0xC1, 0x4D)
TOVANI_WV2_IID(ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, 0x6C4819F3, 0xC9B7, 0x4260, 0x81, 0x27,
               0xC9, 0xF5, 0xBD, 0xE7, 0xF6, 0x8C)
TOVANI_WV2_IID(ICoreWebView2NavigationStartingEventHandler, 0x9ADBE429, 0xF36D, 0x432B, 0x9D, 0xDC, 0xF8, 0x88, 0x1F,
               0xBD, 0x76, 0xE3)
TOVANI_WV2_IID(ICoreWebView2NavigationCompletedEventHandler, 0xD33A35BF, 0x1C49, 0x4F98, 0x93, 0xAB, 0x00, 0x6E,
               0x05, 0x33, 0xFE, 0x1C)
TOVANI_WV2_IID(ICoreWebView2WebMessageReceivedEventHandler, 0x57213F19, 0x00E6, 0x49FA, 0x8E, 0x07, 0x89, 0x8E, 0xA0,
               0x1E, 0xCB, 0xD2)
TOVANI_WV2_IID(ICoreWebView2PermissionRequestedEventHandler, 0x15E1C6A3, 0xC72A, 0x4DF3, 0x91, 0xD7, 0xD0, 0x97,
               0xFB, 0xEC, 0x6B, 0xFD)
TOVANI_WV2_IID(ICoreWebView2NewWindowRequestedEventHandler, 0xD4C185FE, 0xC81C, 0x4989, 0x97, 0xAF, 0x2D, 0x3F, 0xA7,
               0xAB, 0x56, 0x51)
TOVANI_WV2_IID(ICoreWebView2WebResourceRequestedEventHandler, 0xAB00B74C, 0x15F1, 0x4646, 0x80, 0xE8, 0xE7, 0x63,
               0x41, 0xD2, 0x5D, 0x71)
TOVANI_WV2_IID(ICoreWebView2DownloadStartingEventHandler, 0xEFEDC989, 0xC396, 0x41CA, 0x83, 0xF7, 0x07, 0xF8, 0x45,
               0xA5, 0x57, 0x24)
TOVANI_WV2_IID(ICoreWebView2SaveAsUIShowingEventHandler, 0x6BAA177E, 0x3A2E, 0x5CCF, 0x9A, 0x13, 0xFA, 0xD6, 0x76,
               0xCD, 0x05, 0x22)
TOVANI_WV2_IID(ICoreWebView2HttpHeadersCollectionIterator, 0x0702FC30, 0xF43B, 0x47BB, 0xAB, 0x52, 0xA4, 0x2C, 0xB5,
               0x52, 0xAD, 0x9F)
TOVANI_WV2_IID(ICoreWebView2Cookie, 0xAD26D6BE, 0x1486, 0x43E6, 0xBF, 0x87, 0xA2, 0x03, 0x40, 0x06, 0xCA, 0x21)
TOVANI_WV2_IID(ICoreWebView2CookieList, 0xF7F6F714, 0x5D2A, 0x43C6, 0x95, 0x03, 0x34, 0x6E, 0xCE, 0x02, 0xD1, 0x86)
TOVANI_WV2_IID(ICoreWebView2CookieManager, 0x177CD9E7, 0xB6F5, 0x451A, 0x94, 0xA0, 0x5D, 0x7A, 0x3A, 0x4C, 0x41, 0x41)
TOVANI_WV2_IID(ICoreWebView2GetCookiesCompletedHandler, 0x5A4F5069, 0x5C15, 0x47C3, 0x86, 0x46, 0xF4, 0xDE, 0x1C, 0x11,
               0x66, 0x70)
TOVANI_WV2_IID(ICoreWebView2PrintCompletedHandler, 0x8FD80075, 0xED08, 0x42DB, 0x85, 0x70, 0xF5, 0xD1, 0x49, 0x77,
               0x46, 0x1E)
TOVANI_WV2_IID(ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler, 0xB99369F3, 0x9B11, 0x47B5, 0xBC,
               0x6F, 0x8E, 0x78, 0x95, 0xFC, 0xEA, 0x17)
TOVANI_WV2_IID(ICoreWebView2ProcessFailedEventHandler, 0x79E0AEA4, 0x990B, 0x42D9, 0xAA, 0x1D, 0x0F, 0xCC, 0x2E, 0x5B,
               0xC7, 0xF1)
TOVANI_WV2_IID(ICoreWebView2ProcessFailedEventArgs, 0x8155A9A4, 0x1474, 0x4A86, 0x8C, 0xAE, 0x15, 0x1B, 0x0F, 0xA6, 0xB8,
               0xCA)
TOVANI_WV2_IID(ICoreWebView2ContainsFullScreenElementChangedEventHandler, 0xE45D98B1, 0xAFEF, 0x45BE, 0x8B, 0xAF, 0x6C,
               0x77, 0x28, 0x86, 0x7F, 0x73)
TOVANI_WV2_IID(ICoreWebView2EnvironmentOptions, 0x2FDE08A8, 0x1E9A, 0x4766, 0x8C, 0x05, 0x95, 0xA9, 0xCE, 0xB9, 0xD1,
               0xC5)

// ---- Small objects and event arguments --------------------------------------

struct ICoreWebView2Deferral : IUnknown { // slot 3
    TOVANI_WV2_METHOD(Complete)() = 0;
};

// Walks a header collection; the runtime hands it out, nobody asks for it by IID.
struct ICoreWebView2HttpHeadersCollectionIterator : IUnknown { // slot 3
    TOVANI_WV2_METHOD(GetCurrentHeader)(LPWSTR* name, LPWSTR* value) = 0;
    TOVANI_WV2_METHOD(get_HasCurrentHeader)(BOOL* hasCurrent) = 0;
    TOVANI_WV2_METHOD(MoveNext)(BOOL* hasNext) = 0;
};

struct ICoreWebView2HttpRequestHeaders : IUnknown { // slot 3
    TOVANI_WV2_METHOD(GetHeader)(LPCWSTR name, LPWSTR* value) = 0;
    TOVANI_WV2_METHOD(GetHeaders)(LPCWSTR name, void** iterator) = 0;
    TOVANI_WV2_METHOD(Contains)(LPCWSTR name, BOOL* contains) = 0;
    TOVANI_WV2_METHOD(SetHeader)(LPCWSTR name, LPCWSTR value) = 0;
    TOVANI_WV2_METHOD(RemoveHeader)(LPCWSTR name) = 0;
    TOVANI_WV2_METHOD(GetIterator)(ICoreWebView2HttpHeadersCollectionIterator** iterator) = 0;
};

struct ICoreWebView2WebResourceRequest : IUnknown { // slot 3
    TOVANI_WV2_METHOD(get_Uri)(LPWSTR* uri) = 0;
    TOVANI_WV2_METHOD(put_Uri)(LPCWSTR uri) = 0;
    TOVANI_WV2_METHOD(get_Method)(LPWSTR* method) = 0;
    TOVANI_WV2_METHOD(put_Method)(LPCWSTR method) = 0;
    TOVANI_WV2_METHOD(get_Content)(IStream** content) = 0;
    TOVANI_WV2_METHOD(put_Content)(IStream* content) = 0;
    TOVANI_WV2_METHOD(get_Headers)(ICoreWebView2HttpRequestHeaders** headers) = 0;
};

struct ICoreWebView2WebResourceResponse : IUnknown { // slot 3
    TOVANI_WV2_METHOD(get_Content)(IStream** content) = 0;
    TOVANI_WV2_METHOD(put_Content)(IStream* content) = 0;
    TOVANI_WV2_METHOD(get_Headers)(void** headers) = 0;
    TOVANI_WV2_METHOD(get_StatusCode)(int* statusCode) = 0;
    TOVANI_WV2_METHOD(put_StatusCode)(int statusCode) = 0;
    TOVANI_WV2_METHOD(get_ReasonPhrase)(LPWSTR* reasonPhrase) = 0;
    TOVANI_WV2_METHOD(put_ReasonPhrase)(LPCWSTR reasonPhrase) = 0;
};

struct ICoreWebView2NavigationStartingEventArgs : IUnknown { // slot 3
    TOVANI_WV2_METHOD(get_Uri)(LPWSTR* uri) = 0;
    TOVANI_WV2_METHOD(get_IsUserInitiated)(BOOL* value) = 0;
    TOVANI_WV2_METHOD(get_IsRedirected)(BOOL* value) = 0;
    TOVANI_WV2_METHOD(get_RequestHeaders)(ICoreWebView2HttpRequestHeaders** headers) = 0;
    TOVANI_WV2_METHOD(get_Cancel)(BOOL* cancel) = 0;
    TOVANI_WV2_METHOD(put_Cancel)(BOOL cancel) = 0;
    TOVANI_WV2_METHOD(get_NavigationId)(UINT64* id) = 0;
};

// What ended: the whole browser process, or a page's renderer (among others).
using COREWEBVIEW2_PROCESS_FAILED_KIND = std::int32_t;
inline constexpr COREWEBVIEW2_PROCESS_FAILED_KIND COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED = 0;
inline constexpr COREWEBVIEW2_PROCESS_FAILED_KIND COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED = 1;
inline constexpr COREWEBVIEW2_PROCESS_FAILED_KIND COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE = 2;
inline constexpr COREWEBVIEW2_PROCESS_FAILED_KIND COREWEBVIEW2_PROCESS_FAILED_KIND_FRAME_RENDER_PROCESS_EXITED = 3;

struct ICoreWebView2ProcessFailedEventArgs : IUnknown { // slot 3
    TOVANI_WV2_METHOD(get_ProcessFailedKind)(COREWEBVIEW2_PROCESS_FAILED_KIND* kind) = 0;
};

struct ICoreWebView2NavigationCompletedEventArgs : IUnknown { // slot 3
    TOVANI_WV2_METHOD(get_IsSuccess)(BOOL* success) = 0;
    TOVANI_WV2_METHOD(get_WebErrorStatus)(COREWEBVIEW2_WEB_ERROR_STATUS* status) = 0;
    TOVANI_WV2_METHOD(get_NavigationId)(UINT64* id) = 0;
};

struct ICoreWebView2WebMessageReceivedEventArgs : IUnknown { // slot 3
    TOVANI_WV2_METHOD(get_Source)(LPWSTR* source) = 0;
    TOVANI_WV2_METHOD(get_WebMessageAsJson)(LPWSTR* json) = 0;
    TOVANI_WV2_METHOD(TryGetWebMessageAsString)(LPWSTR* text) = 0;
};

struct ICoreWebView2PermissionRequestedEventArgs : IUnknown { // slot 3
    TOVANI_WV2_METHOD(get_Uri)(LPWSTR* uri) = 0;
    TOVANI_WV2_METHOD(get_PermissionKind)(COREWEBVIEW2_PERMISSION_KIND* kind) = 0;
    TOVANI_WV2_METHOD(get_IsUserInitiated)(BOOL* value) = 0;
    TOVANI_WV2_METHOD(get_State)(COREWEBVIEW2_PERMISSION_STATE* state) = 0;
    TOVANI_WV2_METHOD(put_State)(COREWEBVIEW2_PERMISSION_STATE state) = 0;
    TOVANI_WV2_METHOD(GetDeferral)(ICoreWebView2Deferral** deferral) = 0;
};

struct ICoreWebView2; // below

// The setters come before the getters here, as published.
struct ICoreWebView2NewWindowRequestedEventArgs : IUnknown { // slot 3
    TOVANI_WV2_METHOD(get_Uri)(LPWSTR* uri) = 0;
    TOVANI_WV2_METHOD(put_NewWindow)(ICoreWebView2* newWindow) = 0;
    TOVANI_WV2_METHOD(get_NewWindow)(ICoreWebView2** newWindow) = 0;
    TOVANI_WV2_METHOD(put_Handled)(BOOL handled) = 0;
    TOVANI_WV2_METHOD(get_Handled)(BOOL* handled) = 0;
    TOVANI_WV2_METHOD(get_IsUserInitiated)(BOOL* value) = 0;
    TOVANI_WV2_METHOD(GetDeferral)(ICoreWebView2Deferral** deferral) = 0;
    TOVANI_WV2_METHOD(get_WindowFeatures)(void** features) = 0;
};

struct ICoreWebView2WebResourceRequestedEventArgs : IUnknown { // slot 3
    TOVANI_WV2_METHOD(get_Request)(ICoreWebView2WebResourceRequest** request) = 0;
    TOVANI_WV2_METHOD(get_Response)(ICoreWebView2WebResourceResponse** response) = 0;
    TOVANI_WV2_METHOD(put_Response)(ICoreWebView2WebResourceResponse* response) = 0;
    TOVANI_WV2_METHOD(GetDeferral)(ICoreWebView2Deferral** deferral) = 0;
    TOVANI_WV2_METHOD(get_ResourceContext)(COREWEBVIEW2_WEB_RESOURCE_CONTEXT* context) = 0;
};

struct ICoreWebView2DownloadStartingEventArgs : IUnknown { // slot 3
    TOVANI_WV2_METHOD(get_DownloadOperation)(void** operation) = 0;
    TOVANI_WV2_METHOD(get_Cancel)(BOOL* cancel) = 0;
    TOVANI_WV2_METHOD(put_Cancel)(BOOL cancel) = 0;
    TOVANI_WV2_METHOD(get_ResultFilePath)(LPWSTR* path) = 0;
    TOVANI_WV2_METHOD(put_ResultFilePath)(LPCWSTR path) = 0;
    TOVANI_WV2_METHOD(get_Handled)(BOOL* handled) = 0;
    TOVANI_WV2_METHOD(put_Handled)(BOOL handled) = 0;
    TOVANI_WV2_METHOD(GetDeferral)(ICoreWebView2Deferral** deferral) = 0;
};

// Setters before getters throughout, as published.
struct ICoreWebView2SaveAsUIShowingEventArgs : IUnknown { // slot 3
    TOVANI_WV2_METHOD(get_ContentMimeType)(LPWSTR* type) = 0;
    TOVANI_WV2_METHOD(put_Cancel)(BOOL cancel) = 0;
    TOVANI_WV2_METHOD(get_Cancel)(BOOL* cancel) = 0;
    TOVANI_WV2_METHOD(put_SuppressDefaultDialog)(BOOL suppress) = 0;
    TOVANI_WV2_METHOD(get_SuppressDefaultDialog)(BOOL* suppress) = 0;
    TOVANI_WV2_METHOD(GetDeferral)(ICoreWebView2Deferral** deferral) = 0;
    TOVANI_WV2_METHOD(put_SaveAsFilePath)(LPCWSTR path) = 0;
    TOVANI_WV2_METHOD(get_SaveAsFilePath)(LPWSTR* path) = 0;
    TOVANI_WV2_METHOD(put_AllowReplace)(BOOL allow) = 0;
    TOVANI_WV2_METHOD(get_AllowReplace)(BOOL* allow) = 0;
    TOVANI_WV2_METHOD(put_Kind)(std::int32_t kind) = 0;
    TOVANI_WV2_METHOD(get_Kind)(std::int32_t* kind) = 0;
};

// ---- Handlers: one Invoke at slot 3 ------------------------------------------

struct ICoreWebView2Environment;
struct ICoreWebView2Controller;

struct ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler : IUnknown {
    TOVANI_WV2_METHOD(Invoke)(HRESULT errorCode, ICoreWebView2Environment* environment) = 0;
};
struct ICoreWebView2CreateCoreWebView2ControllerCompletedHandler : IUnknown {
    TOVANI_WV2_METHOD(Invoke)(HRESULT errorCode, ICoreWebView2Controller* controller) = 0;
};
struct ICoreWebView2NavigationStartingEventHandler : IUnknown {
    TOVANI_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2NavigationStartingEventArgs* args) = 0;
};
struct ICoreWebView2NavigationCompletedEventHandler : IUnknown {
    TOVANI_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2NavigationCompletedEventArgs* args) = 0;
};
struct ICoreWebView2WebMessageReceivedEventHandler : IUnknown {
    TOVANI_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2WebMessageReceivedEventArgs* args) = 0;
};
struct ICoreWebView2PermissionRequestedEventHandler : IUnknown {
    TOVANI_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2PermissionRequestedEventArgs* args) = 0;
};
struct ICoreWebView2NewWindowRequestedEventHandler : IUnknown {
    TOVANI_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2NewWindowRequestedEventArgs* args) = 0;
};
struct ICoreWebView2WebResourceRequestedEventHandler : IUnknown {
    TOVANI_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2WebResourceRequestedEventArgs* args) = 0;
};
struct ICoreWebView2DownloadStartingEventHandler : IUnknown {
    TOVANI_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2DownloadStartingEventArgs* args) = 0;
};
struct ICoreWebView2SaveAsUIShowingEventHandler : IUnknown {
    TOVANI_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2SaveAsUIShowingEventArgs* args) = 0;
};
struct ICoreWebView2PrintCompletedHandler : IUnknown {
    TOVANI_WV2_METHOD(Invoke)(HRESULT errorCode, COREWEBVIEW2_PRINT_STATUS status) = 0;
};
struct ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler : IUnknown {
    TOVANI_WV2_METHOD(Invoke)(HRESULT errorCode, LPCWSTR id) = 0;
};
struct ICoreWebView2ProcessFailedEventHandler : IUnknown {
    TOVANI_WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2ProcessFailedEventArgs* args) = 0;
};
// The event carries no arguments of its own (null): the view tells the state.
struct ICoreWebView2ContainsFullScreenElementChangedEventHandler : IUnknown {
    TOVANI_WV2_METHOD(Invoke)(ICoreWebView2* sender, IUnknown* args) = 0;
};

// ---- Cookies (the store the pinned hosts' answers go to) ----------------------
// Declared from the published IDL's order, checked against two independent
// public bindings; the objects come from the runtime, never asked for by IID,
// except the completion handler the program hands over.

struct ICoreWebView2Cookie : IUnknown { // slot 3
    TOVANI_WV2_METHOD(get_Name)(LPWSTR* name) = 0;
    TOVANI_WV2_METHOD(get_Value)(LPWSTR* value) = 0;
    TOVANI_WV2_METHOD(put_Value)(LPCWSTR value) = 0;
    TOVANI_WV2_METHOD(get_Domain)(LPWSTR* domain) = 0;
    TOVANI_WV2_METHOD(get_Path)(LPWSTR* path) = 0;
    TOVANI_WV2_METHOD(get_Expires)(double* expires) = 0;
    TOVANI_WV2_METHOD(put_Expires)(double expires) = 0; // seconds since 1970; -1 for a session cookie
    TOVANI_WV2_METHOD(get_IsHttpOnly)(BOOL* httpOnly) = 0;
    TOVANI_WV2_METHOD(put_IsHttpOnly)(BOOL httpOnly) = 0;
    TOVANI_WV2_METHOD(get_SameSite)(std::int32_t* sameSite) = 0;
    TOVANI_WV2_METHOD(put_SameSite)(std::int32_t sameSite) = 0; // none 0, lax 1, strict 2
    TOVANI_WV2_METHOD(get_IsSecure)(BOOL* secure) = 0;
    TOVANI_WV2_METHOD(put_IsSecure)(BOOL secure) = 0;
    TOVANI_WV2_METHOD(get_IsSession)(BOOL* session) = 0;
};
struct ICoreWebView2CookieList : IUnknown { // slot 3
    TOVANI_WV2_METHOD(get_Count)(UINT* count) = 0;
    TOVANI_WV2_METHOD(GetValueAtIndex)(UINT index, ICoreWebView2Cookie** cookie) = 0;
};
struct ICoreWebView2GetCookiesCompletedHandler : IUnknown {
    TOVANI_WV2_METHOD(Invoke)(HRESULT errorCode, ICoreWebView2CookieList* cookies) = 0;
};
struct ICoreWebView2CookieManager : IUnknown { // slot 3
    TOVANI_WV2_METHOD(CreateCookie)(LPCWSTR name, LPCWSTR value, LPCWSTR domain, LPCWSTR path,
                                    ICoreWebView2Cookie** cookie) = 0;
    TOVANI_WV2_METHOD(CopyCookie)(ICoreWebView2Cookie* source, ICoreWebView2Cookie** cookie) = 0;
    TOVANI_WV2_METHOD(GetCookies)(LPCWSTR uri, ICoreWebView2GetCookiesCompletedHandler* handler) = 0;
    TOVANI_WV2_METHOD(AddOrUpdateCookie)(ICoreWebView2Cookie* cookie) = 0;
    TOVANI_WV2_METHOD(DeleteCookie)(ICoreWebView2Cookie* cookie) = 0;
    TOVANI_WV2_METHOD(DeleteCookies)(LPCWSTR name, LPCWSTR uri) = 0;
    TOVANI_WV2_METHOD(DeleteCookiesWithDomainAndPath)(LPCWSTR name, LPCWSTR domain, LPCWSTR path) = 0;
    TOVANI_WV2_METHOD(DeleteAllCookies)() = 0;
};

// ---- Settings ----------------------------------------------------------------

struct ICoreWebView2Settings : IUnknown { // slot 3
    TOVANI_WV2_METHOD(get_IsScriptEnabled)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_IsScriptEnabled)(BOOL) = 0;
    TOVANI_WV2_METHOD(get_IsWebMessageEnabled)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_IsWebMessageEnabled)(BOOL) = 0;
    TOVANI_WV2_METHOD(get_AreDefaultScriptDialogsEnabled)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_AreDefaultScriptDialogsEnabled)(BOOL) = 0;
    TOVANI_WV2_METHOD(get_IsStatusBarEnabled)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_IsStatusBarEnabled)(BOOL) = 0;
    TOVANI_WV2_METHOD(get_AreDevToolsEnabled)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_AreDevToolsEnabled)(BOOL) = 0;
    TOVANI_WV2_METHOD(get_AreDefaultContextMenusEnabled)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_AreDefaultContextMenusEnabled)(BOOL) = 0;
    TOVANI_WV2_METHOD(get_AreHostObjectsAllowed)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_AreHostObjectsAllowed)(BOOL) = 0;
    TOVANI_WV2_METHOD(get_IsZoomControlEnabled)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_IsZoomControlEnabled)(BOOL) = 0;
    TOVANI_WV2_METHOD(get_IsBuiltInErrorPageEnabled)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_IsBuiltInErrorPageEnabled)(BOOL) = 0;
};
struct ICoreWebView2Settings2 : ICoreWebView2Settings { // slot 21
    TOVANI_WV2_METHOD(get_UserAgent)(LPWSTR*) = 0;
    TOVANI_WV2_METHOD(put_UserAgent)(LPCWSTR) = 0;
};
struct ICoreWebView2Settings3 : ICoreWebView2Settings2 { // slot 23
    TOVANI_WV2_METHOD(get_AreBrowserAcceleratorKeysEnabled)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_AreBrowserAcceleratorKeysEnabled)(BOOL) = 0;
};
struct ICoreWebView2Settings4 : ICoreWebView2Settings3 { // slot 25
    TOVANI_WV2_METHOD(get_IsPasswordAutosaveEnabled)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_IsPasswordAutosaveEnabled)(BOOL) = 0;
    TOVANI_WV2_METHOD(get_IsGeneralAutofillEnabled)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_IsGeneralAutofillEnabled)(BOOL) = 0;
};
struct ICoreWebView2Settings5 : ICoreWebView2Settings4 { // slot 29
    TOVANI_WV2_METHOD(get_IsPinchZoomEnabled)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_IsPinchZoomEnabled)(BOOL) = 0;
};
struct ICoreWebView2Settings6 : ICoreWebView2Settings5 { // slot 31
    TOVANI_WV2_METHOD(get_IsSwipeNavigationEnabled)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_IsSwipeNavigationEnabled)(BOOL) = 0;
};
struct ICoreWebView2Settings7 : ICoreWebView2Settings6 { // slot 33
    TOVANI_WV2_METHOD(get_HiddenPdfToolbarItems)(COREWEBVIEW2_PDF_TOOLBAR_ITEMS*) = 0;
    TOVANI_WV2_METHOD(put_HiddenPdfToolbarItems)(COREWEBVIEW2_PDF_TOOLBAR_ITEMS) = 0;
};

// ---- Print settings ----------------------------------------------------------

struct ICoreWebView2PrintSettings : IUnknown { // slot 3
    TOVANI_WV2_METHOD(get_Orientation)(std::int32_t*) = 0;
    TOVANI_WV2_METHOD(put_Orientation)(std::int32_t) = 0;
    TOVANI_WV2_METHOD(get_ScaleFactor)(double*) = 0;
    TOVANI_WV2_METHOD(put_ScaleFactor)(double) = 0;
    TOVANI_WV2_METHOD(get_PageWidth)(double*) = 0;
    TOVANI_WV2_METHOD(put_PageWidth)(double) = 0;
    TOVANI_WV2_METHOD(get_PageHeight)(double*) = 0;
    TOVANI_WV2_METHOD(put_PageHeight)(double) = 0;
    TOVANI_WV2_METHOD(get_MarginTop)(double*) = 0;
    TOVANI_WV2_METHOD(put_MarginTop)(double) = 0;
    TOVANI_WV2_METHOD(get_MarginBottom)(double*) = 0;
    TOVANI_WV2_METHOD(put_MarginBottom)(double) = 0;
    TOVANI_WV2_METHOD(get_MarginLeft)(double*) = 0;
    TOVANI_WV2_METHOD(put_MarginLeft)(double) = 0;
    TOVANI_WV2_METHOD(get_MarginRight)(double*) = 0;
    TOVANI_WV2_METHOD(put_MarginRight)(double) = 0;
    TOVANI_WV2_METHOD(get_ShouldPrintBackgrounds)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_ShouldPrintBackgrounds)(BOOL) = 0;
    TOVANI_WV2_METHOD(get_ShouldPrintSelectionOnly)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_ShouldPrintSelectionOnly)(BOOL) = 0;
    TOVANI_WV2_METHOD(get_ShouldPrintHeaderAndFooter)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_ShouldPrintHeaderAndFooter)(BOOL) = 0;
    TOVANI_WV2_METHOD(get_HeaderTitle)(LPWSTR*) = 0;
    TOVANI_WV2_METHOD(put_HeaderTitle)(LPCWSTR) = 0;
    TOVANI_WV2_METHOD(get_FooterUri)(LPWSTR*) = 0;
    TOVANI_WV2_METHOD(put_FooterUri)(LPCWSTR) = 0;
};
struct ICoreWebView2PrintSettings2 : ICoreWebView2PrintSettings { // slot 29
    TOVANI_WV2_METHOD(get_PageRanges)(LPWSTR*) = 0;
    TOVANI_WV2_METHOD(put_PageRanges)(LPCWSTR) = 0;
    TOVANI_WV2_METHOD(get_PagesPerSide)(INT32*) = 0;
    TOVANI_WV2_METHOD(put_PagesPerSide)(INT32) = 0;
    TOVANI_WV2_METHOD(get_Copies)(INT32*) = 0;
    TOVANI_WV2_METHOD(put_Copies)(INT32) = 0;
    TOVANI_WV2_METHOD(get_Collation)(std::int32_t*) = 0;
    TOVANI_WV2_METHOD(put_Collation)(std::int32_t) = 0;
    TOVANI_WV2_METHOD(get_ColorMode)(std::int32_t*) = 0;
    TOVANI_WV2_METHOD(put_ColorMode)(std::int32_t) = 0;
    TOVANI_WV2_METHOD(get_Duplex)(std::int32_t*) = 0;
    TOVANI_WV2_METHOD(put_Duplex)(std::int32_t) = 0;
    TOVANI_WV2_METHOD(get_MediaSize)(std::int32_t*) = 0;
    TOVANI_WV2_METHOD(put_MediaSize)(std::int32_t) = 0;
    TOVANI_WV2_METHOD(get_PrinterName)(LPWSTR*) = 0;
    TOVANI_WV2_METHOD(put_PrinterName)(LPCWSTR) = 0;
};

// ---- The view ----------------------------------------------------------------

struct ICoreWebView2 : IUnknown { // slot 3
    TOVANI_WV2_METHOD(get_Settings)(ICoreWebView2Settings** settings) = 0;
    TOVANI_WV2_METHOD(get_Source)(LPWSTR* uri) = 0;
    TOVANI_WV2_METHOD(Navigate)(LPCWSTR uri) = 0;
    TOVANI_WV2_METHOD(NavigateToString)(LPCWSTR html) = 0;
    TOVANI_WV2_METHOD(add_NavigationStarting)(ICoreWebView2NavigationStartingEventHandler*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_NavigationStarting)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(add_ContentLoading)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_ContentLoading)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(add_SourceChanged)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_SourceChanged)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(add_HistoryChanged)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_HistoryChanged)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(add_NavigationCompleted)(ICoreWebView2NavigationCompletedEventHandler*,
                                               EventRegistrationToken*) = 0; // slot 15
    TOVANI_WV2_METHOD(remove_NavigationCompleted)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(add_FrameNavigationStarting)(ICoreWebView2NavigationStartingEventHandler*,
                                                   EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_FrameNavigationStarting)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(add_FrameNavigationCompleted)(ICoreWebView2NavigationCompletedEventHandler*,
                                                    EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_FrameNavigationCompleted)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(add_ScriptDialogOpening)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_ScriptDialogOpening)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(add_PermissionRequested)(ICoreWebView2PermissionRequestedEventHandler*,
                                               EventRegistrationToken*) = 0; // slot 23
    TOVANI_WV2_METHOD(remove_PermissionRequested)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(add_ProcessFailed)(ICoreWebView2ProcessFailedEventHandler*,
                                         EventRegistrationToken*) = 0; // slot 25
    TOVANI_WV2_METHOD(remove_ProcessFailed)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(AddScriptToExecuteOnDocumentCreated)(
        LPCWSTR script, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* handler) = 0; // slot 27
    TOVANI_WV2_METHOD(RemoveScriptToExecuteOnDocumentCreated)(LPCWSTR id) = 0;
    TOVANI_WV2_METHOD(ExecuteScript)(LPCWSTR script, void* handler) = 0;
    TOVANI_WV2_METHOD(CapturePreview)(std::int32_t format, IStream* stream, void* handler) = 0;
    TOVANI_WV2_METHOD(Reload)() = 0;
    TOVANI_WV2_METHOD(PostWebMessageAsJson)(LPCWSTR json) = 0; // slot 32
    TOVANI_WV2_METHOD(PostWebMessageAsString)(LPCWSTR text) = 0;
    TOVANI_WV2_METHOD(add_WebMessageReceived)(ICoreWebView2WebMessageReceivedEventHandler*,
                                              EventRegistrationToken*) = 0; // slot 34
    TOVANI_WV2_METHOD(remove_WebMessageReceived)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(CallDevToolsProtocolMethod)(LPCWSTR method, LPCWSTR parameters, void* handler) = 0;
    TOVANI_WV2_METHOD(get_BrowserProcessId)(UINT32* id) = 0;
    TOVANI_WV2_METHOD(get_CanGoBack)(BOOL* canGoBack) = 0; // slot 38
    TOVANI_WV2_METHOD(get_CanGoForward)(BOOL* canGoForward) = 0;
    TOVANI_WV2_METHOD(GoBack)() = 0; // slot 40
    TOVANI_WV2_METHOD(GoForward)() = 0;
    TOVANI_WV2_METHOD(GetDevToolsProtocolEventReceiver)(LPCWSTR eventName, void** receiver) = 0;
    TOVANI_WV2_METHOD(Stop)() = 0;
    TOVANI_WV2_METHOD(add_NewWindowRequested)(ICoreWebView2NewWindowRequestedEventHandler*,
                                              EventRegistrationToken*) = 0; // slot 44
    TOVANI_WV2_METHOD(remove_NewWindowRequested)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(add_DocumentTitleChanged)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_DocumentTitleChanged)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(get_DocumentTitle)(LPWSTR* title) = 0;
    TOVANI_WV2_METHOD(AddHostObjectToScript)(LPCWSTR name, VARIANT* object) = 0;
    TOVANI_WV2_METHOD(RemoveHostObjectFromScript)(LPCWSTR name) = 0;
    TOVANI_WV2_METHOD(OpenDevToolsWindow)() = 0;
    TOVANI_WV2_METHOD(add_ContainsFullScreenElementChanged)(ICoreWebView2ContainsFullScreenElementChangedEventHandler*,
                                                            EventRegistrationToken*) = 0; // slot 52
    TOVANI_WV2_METHOD(remove_ContainsFullScreenElementChanged)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(get_ContainsFullScreenElement)(BOOL* value) = 0;
    TOVANI_WV2_METHOD(add_WebResourceRequested)(ICoreWebView2WebResourceRequestedEventHandler*,
                                                EventRegistrationToken*) = 0; // slot 55
    TOVANI_WV2_METHOD(remove_WebResourceRequested)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(AddWebResourceRequestedFilter)(LPCWSTR uri,
                                                     COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) = 0; // slot 57
    TOVANI_WV2_METHOD(RemoveWebResourceRequestedFilter)(LPCWSTR uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) = 0;
    TOVANI_WV2_METHOD(add_WindowCloseRequested)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_WindowCloseRequested)(EventRegistrationToken) = 0; // slot 60
};

struct ICoreWebView2_2 : ICoreWebView2 { // slot 61
    TOVANI_WV2_METHOD(add_WebResourceResponseReceived)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_WebResourceResponseReceived)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(NavigateWithWebResourceRequest)(ICoreWebView2WebResourceRequest* request) = 0; // slot 63
    TOVANI_WV2_METHOD(add_DOMContentLoaded)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_DOMContentLoaded)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(get_CookieManager)(void** manager) = 0;
    TOVANI_WV2_METHOD(get_Environment)(ICoreWebView2Environment** environment) = 0;
};
struct ICoreWebView2_3 : ICoreWebView2_2 { // slot 68
    TOVANI_WV2_METHOD(TrySuspend)(void* handler) = 0;
    TOVANI_WV2_METHOD(Resume)() = 0;
    TOVANI_WV2_METHOD(get_IsSuspended)(BOOL*) = 0;
    TOVANI_WV2_METHOD(SetVirtualHostNameToFolderMapping)(LPCWSTR, LPCWSTR, std::int32_t) = 0;
    TOVANI_WV2_METHOD(ClearVirtualHostNameToFolderMapping)(LPCWSTR) = 0;
};
struct ICoreWebView2_4 : ICoreWebView2_3 { // slot 73
    TOVANI_WV2_METHOD(add_FrameCreated)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_FrameCreated)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(add_DownloadStarting)(ICoreWebView2DownloadStartingEventHandler*,
                                            EventRegistrationToken*) = 0; // slot 75
    TOVANI_WV2_METHOD(remove_DownloadStarting)(EventRegistrationToken) = 0;
};
struct ICoreWebView2_5 : ICoreWebView2_4 { // slot 77
    TOVANI_WV2_METHOD(add_ClientCertificateRequested)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_ClientCertificateRequested)(EventRegistrationToken) = 0;
};
struct ICoreWebView2_6 : ICoreWebView2_5 { // slot 79
    TOVANI_WV2_METHOD(OpenTaskManagerWindow)() = 0;
};
struct ICoreWebView2_7 : ICoreWebView2_6 { // slot 80
    TOVANI_WV2_METHOD(PrintToPdf)(LPCWSTR path, ICoreWebView2PrintSettings* settings, void* handler) = 0;
};
struct ICoreWebView2_8 : ICoreWebView2_7 { // slot 81
    TOVANI_WV2_METHOD(add_IsMutedChanged)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_IsMutedChanged)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(get_IsMuted)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_IsMuted)(BOOL) = 0;
    TOVANI_WV2_METHOD(add_IsDocumentPlayingAudioChanged)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_IsDocumentPlayingAudioChanged)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(get_IsDocumentPlayingAudio)(BOOL*) = 0;
};
struct ICoreWebView2_9 : ICoreWebView2_8 { // slot 88
    TOVANI_WV2_METHOD(add_IsDefaultDownloadDialogOpenChanged)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_IsDefaultDownloadDialogOpenChanged)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(get_IsDefaultDownloadDialogOpen)(BOOL*) = 0;
    TOVANI_WV2_METHOD(OpenDefaultDownloadDialog)() = 0;
    TOVANI_WV2_METHOD(CloseDefaultDownloadDialog)() = 0;
    TOVANI_WV2_METHOD(get_DefaultDownloadDialogCornerAlignment)(std::int32_t*) = 0;
    TOVANI_WV2_METHOD(put_DefaultDownloadDialogCornerAlignment)(std::int32_t) = 0;
    TOVANI_WV2_METHOD(get_DefaultDownloadDialogMargin)(POINT*) = 0;
    TOVANI_WV2_METHOD(put_DefaultDownloadDialogMargin)(POINT) = 0;
};
struct ICoreWebView2_10 : ICoreWebView2_9 { // slot 97
    TOVANI_WV2_METHOD(add_BasicAuthenticationRequested)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_BasicAuthenticationRequested)(EventRegistrationToken) = 0;
};
struct ICoreWebView2_11 : ICoreWebView2_10 { // slot 99
    TOVANI_WV2_METHOD(CallDevToolsProtocolMethodForSession)(LPCWSTR, LPCWSTR, LPCWSTR, void*) = 0;
    TOVANI_WV2_METHOD(add_ContextMenuRequested)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_ContextMenuRequested)(EventRegistrationToken) = 0;
};
struct ICoreWebView2_12 : ICoreWebView2_11 { // slot 102
    TOVANI_WV2_METHOD(add_StatusBarTextChanged)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_StatusBarTextChanged)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(get_StatusBarText)(LPWSTR*) = 0;
};
struct ICoreWebView2_13 : ICoreWebView2_12 { // slot 105
    TOVANI_WV2_METHOD(get_Profile)(void**) = 0;
};
struct ICoreWebView2_14 : ICoreWebView2_13 { // slot 106
    TOVANI_WV2_METHOD(add_ServerCertificateErrorDetected)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_ServerCertificateErrorDetected)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(ClearServerCertificateErrorActions)(void*) = 0;
};
struct ICoreWebView2_15 : ICoreWebView2_14 { // slot 109
    TOVANI_WV2_METHOD(add_FaviconChanged)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_FaviconChanged)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(get_FaviconUri)(LPWSTR*) = 0;
    TOVANI_WV2_METHOD(GetFavicon)(std::int32_t, void*) = 0;
};
struct ICoreWebView2_16 : ICoreWebView2_15 { // slot 113
    TOVANI_WV2_METHOD(Print)(ICoreWebView2PrintSettings* settings, ICoreWebView2PrintCompletedHandler* handler) = 0;
    TOVANI_WV2_METHOD(ShowPrintUI)(std::int32_t kind) = 0;
    TOVANI_WV2_METHOD(PrintToPdfStream)(ICoreWebView2PrintSettings*, void*) = 0;
};
struct ICoreWebView2_17 : ICoreWebView2_16 { // slot 116
    TOVANI_WV2_METHOD(PostSharedBufferToScript)(void*, std::int32_t, LPCWSTR) = 0;
};
struct ICoreWebView2_18 : ICoreWebView2_17 { // slot 117
    TOVANI_WV2_METHOD(add_LaunchingExternalUriScheme)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_LaunchingExternalUriScheme)(EventRegistrationToken) = 0;
};
struct ICoreWebView2_19 : ICoreWebView2_18 { // slot 119
    TOVANI_WV2_METHOD(get_MemoryUsageTargetLevel)(std::int32_t*) = 0;
    TOVANI_WV2_METHOD(put_MemoryUsageTargetLevel)(std::int32_t) = 0;
};
struct ICoreWebView2_20 : ICoreWebView2_19 { // slot 121
    TOVANI_WV2_METHOD(get_FrameId)(UINT32*) = 0;
};
struct ICoreWebView2_21 : ICoreWebView2_20 { // slot 122
    TOVANI_WV2_METHOD(ExecuteScriptWithResult)(LPCWSTR, void*) = 0;
};
struct ICoreWebView2_22 : ICoreWebView2_21 { // slot 123
    TOVANI_WV2_METHOD(AddWebResourceRequestedFilterWithRequestSourceKinds)(
        LPCWSTR uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT context, COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS kinds) = 0;
    TOVANI_WV2_METHOD(RemoveWebResourceRequestedFilterWithRequestSourceKinds)(
        LPCWSTR uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT context, COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS kinds) = 0;
};
struct ICoreWebView2_23 : ICoreWebView2_22 { // slot 125
    TOVANI_WV2_METHOD(PostWebMessageAsJsonWithAdditionalObjects)(LPCWSTR, void*) = 0;
};
struct ICoreWebView2_24 : ICoreWebView2_23 { // slot 126
    TOVANI_WV2_METHOD(add_NotificationReceived)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_NotificationReceived)(EventRegistrationToken) = 0;
};
struct ICoreWebView2_25 : ICoreWebView2_24 { // slot 128
    TOVANI_WV2_METHOD(add_SaveAsUIShowing)(ICoreWebView2SaveAsUIShowingEventHandler*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_SaveAsUIShowing)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(ShowSaveAsUI)(void* handler) = 0;
};

// ---- Controller --------------------------------------------------------------

struct ICoreWebView2Controller : IUnknown { // slot 3
    TOVANI_WV2_METHOD(get_IsVisible)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_IsVisible)(BOOL) = 0;
    TOVANI_WV2_METHOD(get_Bounds)(RECT*) = 0;
    TOVANI_WV2_METHOD(put_Bounds)(RECT bounds) = 0; // slot 6
    TOVANI_WV2_METHOD(get_ZoomFactor)(double*) = 0;
    TOVANI_WV2_METHOD(put_ZoomFactor)(double) = 0;
    TOVANI_WV2_METHOD(add_ZoomFactorChanged)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_ZoomFactorChanged)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(SetBoundsAndZoomFactor)(RECT, double) = 0;
    TOVANI_WV2_METHOD(MoveFocus)(std::int32_t reason) = 0;
    TOVANI_WV2_METHOD(add_MoveFocusRequested)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_MoveFocusRequested)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(add_GotFocus)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_GotFocus)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(add_LostFocus)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_LostFocus)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(add_AcceleratorKeyPressed)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_AcceleratorKeyPressed)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(get_ParentWindow)(HWND*) = 0;
    TOVANI_WV2_METHOD(put_ParentWindow)(HWND) = 0;
    TOVANI_WV2_METHOD(NotifyParentWindowPositionChanged)() = 0;
    TOVANI_WV2_METHOD(Close)() = 0; // slot 24
    TOVANI_WV2_METHOD(get_CoreWebView2)(ICoreWebView2** view) = 0; // slot 25
};
struct ICoreWebView2Controller2 : ICoreWebView2Controller { // slot 26
    TOVANI_WV2_METHOD(get_DefaultBackgroundColor)(COREWEBVIEW2_COLOR*) = 0;
    TOVANI_WV2_METHOD(put_DefaultBackgroundColor)(COREWEBVIEW2_COLOR) = 0;
};
struct ICoreWebView2Controller3 : ICoreWebView2Controller2 { // slot 28
    TOVANI_WV2_METHOD(get_RasterizationScale)(double*) = 0;
    TOVANI_WV2_METHOD(put_RasterizationScale)(double) = 0;
    TOVANI_WV2_METHOD(get_ShouldDetectMonitorScaleChanges)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_ShouldDetectMonitorScaleChanges)(BOOL) = 0;
    TOVANI_WV2_METHOD(add_RasterizationScaleChanged)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_RasterizationScaleChanged)(EventRegistrationToken) = 0;
    TOVANI_WV2_METHOD(get_BoundsMode)(std::int32_t*) = 0;
    TOVANI_WV2_METHOD(put_BoundsMode)(std::int32_t) = 0;
};
struct ICoreWebView2Controller4 : ICoreWebView2Controller3 { // slot 36
    TOVANI_WV2_METHOD(get_AllowExternalDrop)(BOOL*) = 0;
    TOVANI_WV2_METHOD(put_AllowExternalDrop)(BOOL) = 0;
};

// ---- Environment -------------------------------------------------------------

struct ICoreWebView2Environment : IUnknown { // slot 3
    TOVANI_WV2_METHOD(CreateCoreWebView2Controller)(HWND parent,
                                                    ICoreWebView2CreateCoreWebView2ControllerCompletedHandler*) = 0;
    TOVANI_WV2_METHOD(CreateWebResourceResponse)(IStream* content, int statusCode, LPCWSTR reasonPhrase,
                                                 LPCWSTR headers, ICoreWebView2WebResourceResponse** response) = 0;
    TOVANI_WV2_METHOD(get_BrowserVersionString)(LPWSTR* version) = 0;
    TOVANI_WV2_METHOD(add_NewBrowserVersionAvailable)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_NewBrowserVersionAvailable)(EventRegistrationToken) = 0;
};
struct ICoreWebView2Environment2 : ICoreWebView2Environment { // slot 8
    TOVANI_WV2_METHOD(CreateWebResourceRequest)(LPCWSTR uri, LPCWSTR method, IStream* postData, LPCWSTR headers,
                                                ICoreWebView2WebResourceRequest** request) = 0;
};
struct ICoreWebView2Environment3 : ICoreWebView2Environment2 { // slot 9
    TOVANI_WV2_METHOD(CreateCoreWebView2CompositionController)(HWND, void*) = 0;
    TOVANI_WV2_METHOD(CreateCoreWebView2PointerInfo)(void**) = 0;
};
struct ICoreWebView2Environment4 : ICoreWebView2Environment3 { // slot 11
    TOVANI_WV2_METHOD(GetAutomationProviderForWindow)(HWND, IUnknown**) = 0;
};
struct ICoreWebView2Environment5 : ICoreWebView2Environment4 { // slot 12
    TOVANI_WV2_METHOD(add_BrowserProcessExited)(void*, EventRegistrationToken*) = 0;
    TOVANI_WV2_METHOD(remove_BrowserProcessExited)(EventRegistrationToken) = 0;
};
struct ICoreWebView2Environment6 : ICoreWebView2Environment5 { // slot 14
    TOVANI_WV2_METHOD(CreatePrintSettings)(ICoreWebView2PrintSettings** settings) = 0;
};

// ---- Environment options (implemented by the program) --------------------------

struct ICoreWebView2EnvironmentOptions : IUnknown { // slot 3
    TOVANI_WV2_METHOD(get_AdditionalBrowserArguments)(LPWSTR* value) = 0;
    TOVANI_WV2_METHOD(put_AdditionalBrowserArguments)(LPCWSTR value) = 0;
    TOVANI_WV2_METHOD(get_Language)(LPWSTR* value) = 0;
    TOVANI_WV2_METHOD(put_Language)(LPCWSTR value) = 0;
    TOVANI_WV2_METHOD(get_TargetCompatibleBrowserVersion)(LPWSTR* value) = 0;
    TOVANI_WV2_METHOD(put_TargetCompatibleBrowserVersion)(LPCWSTR value) = 0;
    TOVANI_WV2_METHOD(get_AllowSingleSignOnUsingOSPrimaryAccount)(BOOL* allow) = 0;
    TOVANI_WV2_METHOD(put_AllowSingleSignOnUsingOSPrimaryAccount)(BOOL allow) = 0;
};

#undef TOVANI_WV2_METHOD
#undef TOVANI_WV2_IID

// Slot numbers the program depends on, checked against the declarations by
// the tests (a vtable slot is its byte offset over the pointer size).
inline constexpr int kSlotNavigateWithWebResourceRequest = 63;
inline constexpr int kSlotAddDownloadStarting = 75;
inline constexpr int kSlotPrint = 113;
inline constexpr int kSlotAddFilterWithSourceKinds = 123;
inline constexpr int kSlotAddSaveAsUIShowing = 128;

} // namespace WebView2
