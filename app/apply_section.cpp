#include "app/apply_section.h"

#include <QAction>
#include <QGroupBox>
#include <QMenu>
#include <QMetaProperty>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVariant>

namespace keltra {

namespace {

bool SetControlText(QObject* control, const QString& text) {
    if (auto* group = qobject_cast<QGroupBox*>(control)) {
        group->setTitle(text);
        return true;
    }
    if (auto* menu = qobject_cast<QMenu*>(control)) {
        menu->setTitle(text);
        return true;
    }
    // Labels, buttons, actions and the skin's own controls all carry a "text" property.
    const int index = control->metaObject()->indexOfProperty("text");
    if (index < 0 || !control->metaObject()->property(index).isWritable()) return false;
    return control->setProperty("text", text);
}

}  // namespace

namespace {

// Sets the text of a named tree item or of a named column of a tree's header.
bool SetTreeText(QObject* window, const QString& name, const QString& text) {
    for (auto* tree : window->findChildren<QTreeWidget*>()) {
        QTreeWidgetItem* header = tree->headerItem();
        for (int column = 0; column < header->columnCount(); ++column) {
            if (header->data(column, kControlNameRole).toString() == name) {
                header->setText(column, text);
                return true;
            }
        }
    }
    if (QTreeWidgetItem* item = FindTreeItem(window, name)) {
        item->setText(0, text);
        return true;
    }
    return false;
}

}  // namespace

QTreeWidgetItem* FindTreeItem(QObject* window, const QString& name) {
    for (auto* tree : window->findChildren<QTreeWidget*>()) {
        for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
            if ((*it)->data(0, kControlNameRole).toString() == name) return *it;
        }
    }
    return nullptr;
}

void ApplySection(QObject* window, const TextMap& section) {
    for (const auto& [key, value] : section) {
        const QString name = QString::fromStdString(key);
        const QString text = QString::fromStdString(value);
        QObject* control =
            window->objectName() == name ? window : window->findChild<QObject*>(name);
        if (control != nullptr && SetControlText(control, text)) continue;
        SetTreeText(window, name, text);
    }
}

void ApplySection(QObject* window, std::string_view sectionName) {
    ApplySection(window, LanguageTable().Section(sectionName));
}

QString QText(const TextMap& section, std::string_view key) {
    return QString::fromStdString(Text(section, key));
}

QString MessageText(std::string_view key) {
    return QText(LanguageTable().Section("Messages"), key);
}

}  // namespace keltra
