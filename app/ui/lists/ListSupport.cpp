#include "app/ui/lists/ListSupport.h"

#include <QTreeWidget>
#include <algorithm>
#include <filesystem>

#include "app/ui/QtText.h"
#include "app/ui/lists/RecForm.h"
#include "core/CodePage.h"

namespace lists {

void SortRowsByText(QTreeWidget& list, int column, bool descending) {
    // Taken out and put back all at once: one by one, each row would shift the rest and be
    // announced to the view.
    QList<QTreeWidgetItem*> rows = list.invisibleRootItem()->takeChildren();
    SortRowsByText(rows, column, descending);
    list.addTopLevelItems(rows);
}

void SortRowsByText(QList<QTreeWidgetItem*>& rows, int column, bool descending) {
    std::stable_sort(rows.begin(), rows.end(), [column, descending](auto* a, auto* b) {
        const int order = QString::compare(a->text(column), b->text(column));
        return descending ? order > 0 : order < 0;
    });
}

void CheckRows(QTreeWidget& list, Check how) {
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = list.topLevelItem(i);
        const bool checked = row->checkState(0) == Qt::Checked;
        const bool now = how == Check::All ? true : how == Check::None ? false : !checked;
        row->setCheckState(0, now ? Qt::Checked : Qt::Unchecked);
    }
}

std::vector<QTreeWidgetItem*> ChosenRows(const QTreeWidget& list) {
    std::vector<QTreeWidgetItem*> rows;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        if (list.topLevelItem(i)->checkState(0) == Qt::Checked) {
            rows.push_back(list.topLevelItem(i));
        }
    }
    if (rows.empty() && list.currentItem() != nullptr) {
        rows.push_back(list.currentItem());
    }
    return rows;
}

QString FolderLabelText(const ICWString& folder) {
    if (folder.IsEmpty()) {
        return {};
    }
    std::error_code error;
    const std::filesystem::space_info space =
        std::filesystem::space(Utf16ToUtf8(folder.GetView()), error);
    if (error) {
        return {};
    }
    return ToQString(folder) + QStringLiteral("  空き ") + FormatSize(space.available);
}

}  // namespace lists
