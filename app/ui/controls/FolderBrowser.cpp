#include "app/ui/controls/FolderBrowser.h"

#include <QFileDialog>

std::optional<QString> BrowseForFolder(QWidget* owner, const QString& title,
                                       const QString& current) {
    const QString chosen = QFileDialog::getExistingDirectory(owner, title, current);
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return chosen;
}
