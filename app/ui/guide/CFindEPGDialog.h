#pragma once

#include <QDialog>

class CEPGWindow;
class QComboBox;
class QPushButton;

// The programme search ("番組検索"): a keyword with its history, a channel of the guide's space
// and a genre; "次を検索" shows the next match in the guide, "閉じる" hides the dialog. One for
// the application, made on first use and shown modeless next to the guide.
class CFindEPGDialog : public QDialog {
public:
    static constexpr int kGenreNameCount = 16;
    static const char16_t* const kGenreNames[kGenreNameCount];

    explicit CFindEPGDialog(CEPGWindow& guide);

    // Fills the channel and genre lists for the guide's space (the search starts over when the
    // space changed) and shows the dialog beside the guide.
    void Open();
    // "次を検索".
    void FindNext();

    QComboBox* Keyword() const { return keyword; }
    QComboBox* Channel() const { return channel; }
    QComboBox* Genre() const { return genre; }

private:
    CEPGWindow& guide;
    QComboBox* keyword;
    QComboBox* channel;
    QComboBox* genre;
    QPushButton* findButton;
    QPushButton* closeButton;
};
