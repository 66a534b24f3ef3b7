// The system's text for an error, shown to the user.
#pragma once

#include "base/tstring.h"

namespace vexel {

// The system's text for an error (errno values) without its trailing line
// breaks, as a line of its own after a message's text ("\r" and the text);
// empty for no error.
TWideString systemErrorLine(int error);

// Shows the system's text for the error (errno values) with the caption
// "Системное сообщение"; trailing line breaks are removed and an empty text
// shows nothing. Always true.
bool showSystemError(int error);

} // namespace vexel
