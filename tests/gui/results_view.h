// The results page as a test reads and clicks it: the type tree's nodes by control name, the
// file list's rows and cells, the found files.
#pragma once

#include <QModelIndex>
#include <QString>
#include <set>
#include <string>
#include <vector>

#include "app/main_wnd.h"

namespace keltra::test {

// Every file the results hold, in found order; none without results.
std::vector<FoundRecord> AllFound(const CMainWnd& window);
std::multiset<std::string> FoundNames(const CMainWnd& window);
std::set<uint16_t> FoundTags(const CMainWnd& window);

// The type tree's node named `name` ("NodePhoto", "TypeJpg", "TypePDF", "Otherphoto").
QModelIndex Node(const CMainWnd& window, const QString& name);
// A node's file count; -1 when there is no such node.
int NodeCount(const CMainWnd& window, const QString& name);
// The text the tree shows for the node.
QString NodeText(const CMainWnd& window, const QString& name);
Qt::CheckState NodeState(const CMainWnd& window, const QString& name);
// Makes the node current, as a click on it does; false when there is none.
bool SelectNode(CMainWnd& window, const QString& name);
// Ticks or unticks the node's box, as a click on it does.
void CheckNode(CMainWnd& window, const QString& name, bool checked);

// The file list.
int ListedRows(const CMainWnd& window);
QString Cell(const CMainWnd& window, int row, int column);
bool RowChecked(const CMainWnd& window, int row);
void CheckRow(CMainWnd& window, int row, bool checked);
// Makes the row current, as a click on it does.
void SelectRow(CMainWnd& window, int row);
// The row whose name is `name`, or -1.
int RowNamed(const CMainWnd& window, const QString& name);

}  // namespace keltra::test
