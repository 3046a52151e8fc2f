#include "common/message_box_win.h"

UINT MessageBoxStyle(MessageIcon icon, MessageButtons buttons, bool rightToLeft) {
    UINT style = MB_TOPMOST | MB_SETFOREGROUND;
    switch (icon) {
    case MessageIcon::Error: style |= MB_ICONERROR; break;
    case MessageIcon::Warning: style |= MB_ICONWARNING; break;
    case MessageIcon::Information: style |= MB_ICONINFORMATION; break;
    case MessageIcon::Question: style |= MB_ICONQUESTION; break;
    case MessageIcon::None: break;
    }
    switch (buttons) {
    case MessageButtons::YesNo: style |= MB_YESNO; break;
    case MessageButtons::OkCancel: style |= MB_OKCANCEL; break;
    case MessageButtons::Ok: style |= MB_OK; break;
    }
    if (rightToLeft) style |= MB_RIGHT | MB_RTLREADING;
    return style;
}

MessageAnswer ShowMessageBox(const WString& text, const WString& caption, MessageIcon icon, MessageButtons buttons,
                             bool rightToLeft, HWND owner) {
    const int result = MessageBoxW(owner, reinterpret_cast<const wchar_t*>(text.c_str()),
                                   reinterpret_cast<const wchar_t*>(caption.c_str()),
                                   MessageBoxStyle(icon, buttons, rightToLeft));
    switch (result) {
    case IDYES: return MessageAnswer::Yes;
    case IDNO: return MessageAnswer::No;
    case IDCANCEL: return MessageAnswer::Cancel;
    case IDOK: return MessageAnswer::Ok;
    default: break;
    }
    // A box that could not be shown changes nothing.
    switch (buttons) {
    case MessageButtons::YesNo: return MessageAnswer::No;
    case MessageButtons::OkCancel: return MessageAnswer::Cancel;
    case MessageButtons::Ok: break;
    }
    return MessageAnswer::Ok;
}
