// Start of the window toolkit: the skin's pictures, style and fonts. Call once, after the
// QApplication exists and before any window is made.
#pragma once

namespace keltra {

void InitialiseToolkit();

}  // namespace keltra
