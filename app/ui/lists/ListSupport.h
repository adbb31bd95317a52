#pragma once

#include <QList>
#include <QString>
#include <vector>

#include "core/ICWString.h"

class QTreeWidget;
class QTreeWidgetItem;

// What the two list pages share: rows sorted by the text they show, and the check boxes.
namespace lists {

// Sorts the rows by the text of `column` (a plain text comparison), reversed when `descending`;
// rows that compare equal keep their order.
void SortRowsByText(QTreeWidget& list, int column, bool descending);
// The same order for rows that are not in a list yet.
void SortRowsByText(QList<QTreeWidgetItem*>& rows, int column, bool descending);

enum class Check { All, None, Invert };
void CheckRows(QTreeWidget& list, Check how);

// The checked rows, or the selected one when none is checked.
std::vector<QTreeWidgetItem*> ChosenRows(const QTreeWidget& list);

// A recording folder with the free space of its drive; empty for an empty folder or one whose
// drive cannot be asked.
QString FolderLabelText(const ICWString& folder);

}  // namespace lists
