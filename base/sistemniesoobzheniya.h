// The system's text for an error, shown to the user.
#pragma once

namespace vexel {

// Shows the system's text for the error (errno values) with the caption
// "Системное сообщение"; trailing line breaks are removed and an empty text
// shows nothing. Always true.
bool showSystemError(int error);

} // namespace vexel
