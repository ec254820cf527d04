// Showing a preview: a picture decoded by Qt, or a file's bytes as text.
#pragma once

#include <QImage>
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

// The picture in `path`, turned as its EXIF says; null when the file holds no picture Qt can
// decode, or one of 2 × 2 pixels or less.
QImage LoadPreviewPicture(const QString& path);

// Replaces the edit's content with the picture, scaled down to fit the edit as it is now.
void InsertPicture(QTextEdit* edit, const QImage& picture);

// Both: false (and the edit left empty) when there is no picture to show.
bool ShowPicture(QTextEdit* edit, const QString& path);

}  // namespace keltra
