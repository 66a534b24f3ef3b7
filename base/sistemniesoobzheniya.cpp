#include "base/sistemniesoobzheniya.h"

#include "base/dialogs.h"
#include "platform/files.h"

namespace vexel {

bool showSystemError(int error) {
    std::u16string text = platform::errorText(error);
    while (!text.empty() && text.back() == u'\n') text.pop_back();
    while (!text.empty() && text.back() == u'\r') text.pop_back();
    if (!text.empty()) dialogs().message(TWideString(std::u16string_view(text)), TWideString(u"Системное сообщение"));
    return true;
}

TWideString systemErrorLine(int error) {
    if (error == 0) return TWideString();
    std::u16string why = platform::errorText(error);
    while (!why.empty() && (why.back() == u'\n' || why.back() == u'\r')) why.pop_back();
    return TWideString(u"\r") + TWideString(std::u16string_view(why));
}

} // namespace vexel
