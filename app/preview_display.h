// Showing a preview: a picture decoded by Qt, or a file's bytes as text.
#pragma once

#include <QString>
#include <cstddef>
#include <span>

class QTextEdit;

namespace keltra {

// Characters per line of the text view.
inline constexpr int kPreviewLineChars = 1024;

// Every byte one character (a 0 byte "."), a line break after every 1,024 characters and one
// at the end.
QString PreviewText(std::span<const std::byte> data);

// Replaces the edit's content with the picture in `path`, scaled down to fit. False (and the
// edit left empty) when the file holds no picture Qt can decode, or one of 2 × 2 pixels or less.
bool ShowPicture(QTextEdit* edit, const QString& path);

}  // namespace keltra
