#include "base/sistemniesoobzheniya.h"

#include "platform/files.h"
#include "ui/toknosoobzheniy.h"

namespace vexel {

bool showSystemError(int error) {
    std::u16string text = platform::errorText(error);
    while (!text.empty() && text.back() == u'\n') text.pop_back();
    while (!text.empty() && text.back() == u'\r') text.pop_back();
    if (!text.empty()) ui::showMessageWide(TWideString(std::u16string_view(text)), TWideString(u"Системное сообщение"));
    return true;
}

} // namespace vexel
