#pragma once

#include <QString>
#include <optional>

class QWidget;

// Asks the user for a folder with the desktop's folder chooser owned by `owner`, titled `title`
// ("録画フォルダー", "移動") and opened at `current`. Nothing when the user cancels.
std::optional<QString> BrowseForFolder(QWidget* owner, const QString& title,
                                       const QString& current);
