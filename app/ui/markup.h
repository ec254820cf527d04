// Row-text markup of the skin: "{f 5}{x 5}{i physical_drive.png 1 0}{x 2}%s %d{/5}",
// "{c #316D1E}42{/c}". Tags may also be written with angle brackets ("<x 6>").
//   {f N} ... {/f}      font N of the skin's font table
//   {c #RRGGBB} ... {/c} colour ("#AARRGGBB" too)
//   {b} {u} {i} ... {/b} bold, underlined, italic
//   {a} ... {/a}        a link (drawn underlined)
//   {x N}               N pixels of space
//   {i FILE COUNT INDEX} the INDEX-th of COUNT equal side-by-side parts of a skin picture
//   {n}                 a line break
// A closing tag ends the innermost open one, whatever name it carries.
#pragma once

#include <QString>

class QTextDocument;

namespace keltra {

// Fills the document with the markup: rich text plus the pictures it names, stored as the
// document's resources.
void SetMarkup(QTextDocument& document, const QString& markup);

// The markup as Qt rich text (pictures referred to by the names SetMarkup stores them under).
QString MarkupToHtml(const QString& markup);

// Only the text of the markup, tags left out (for sorting and for reading back).
QString MarkupToPlainText(const QString& markup);

}  // namespace keltra
