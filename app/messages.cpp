#include "app/messages.h"

namespace Messages {

WString UnsupportedOs() {
    return Utf8ToWide("This application requires Windows 10 or later.\nهذا التطبيق يتطلب ويندوز 10 أو أحدث.");
}

WString StartupWindowFailed() {
    return u"Failed to display the application window.\nPlease make sure Microsoft Edge WebView2 is installed.";
}

WString LinkErrorTitle() { return Utf8ToWide("Link Error - خطأ في الرابط"); }

WString LinkErrorText() {
    return u"Failed to process the content link.\nIf the problem persists, send the diagnostic code below to support.";
}

WString LinkErrorArabic() {
    return Utf8ToWide("فشل في معالجة رابط المحتوى.\nإذا استمرت المشكلة، يرجى إرسال الكود التشخيصي أدناه للدعم الفني.");
}

WString ServerErrorCaption() { return Utf8ToWide("Tovani - خطأ"); }

WString UpdateAvailable() {
    return Utf8ToWide("A new version of the app is available. Would you like to update now?\n"
                      "يوجد تحديث جديد للتطبيق. هل ترغب في التحديث الآن؟");
}

WString UpdateRequired() {
    return Utf8ToWide("A mandatory update is available. You must download the new version to continue.\n"
                      "تحديث إجباري متاح. يجب عليك تحميل الإصدار الجديد للمتابعة.");
}

WString InitScreenInitFailed() { return u"Failed to initialize WebView2."; }

WString CannotReachService() {
    return Utf8ToWide("Cannot reach the Tovani service, check your internet connection.\n"
                      "تعذّر الوصول إلى خدمة توفاني، يرجى التحقق من اتصالك بالإنترنت.");
}

WString ConnectionErrorCaption() { return Utf8ToWide("Tovani - Connection Error"); }

WString ConnectingNotice() {
    return Utf8ToWide("Connecting to the Tovani service...\nجارٍ الاتصال بخدمة توفاني...");
}

WString ConnectingGiveUp() { return Utf8ToWide("Close - إغلاق"); }

} // namespace Messages
