// Putting a language section's texts on a window's controls, by control name.
#pragma once

#include <QString>
#include <string_view>

#include "app/language_table.h"

class QObject;
class QTreeWidgetItem;

namespace keltra {

// The item data role under which tree items (and the columns of a tree's header item) keep
// their control name ("NodePhoto", "FileName").
inline constexpr int kControlNameRole = Qt::UserRole + 100;

// For every key of `section` that names a control of `window` (the window itself, a child
// widget, an action, a named tree item or header column), sets that control's text. Keys that name
// nothing are skipped; controls not named keep their text.
void ApplySection(QObject* window, const TextMap& section);

// The same with a section of the process-wide language table.
void ApplySection(QObject* window, std::string_view sectionName);

// A language text as Qt text.
QString QText(const TextMap& section, std::string_view key);

// A message text ("MSG0505") of the current language.
QString MessageText(std::string_view key);

// The tree item with that control name, or null.
QTreeWidgetItem* FindTreeItem(QObject* window, const QString& name);

}  // namespace keltra
