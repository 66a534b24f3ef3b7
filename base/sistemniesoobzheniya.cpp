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

} // namespace vexel
