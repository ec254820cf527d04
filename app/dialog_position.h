// Where a dialog opens: centred over the window it belongs to, kept on that window's screen.
// Dialogs without a title bar of the system's (the skin draws its own) are not placed by every
// window manager, and a question asked from a worker would otherwise open wherever the
// system puts a new window.
#pragma once

class QWidget;

namespace keltra {

// Moves `dialog` (at its current size) so that it is centred over its parent's window; a
// dialog without a parent is centred on its screen.
void CentreOverParent(QWidget* dialog);

}  // namespace keltra
