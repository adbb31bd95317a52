#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "app/ui/lists/RecForm.h"

class CVideoWindowList;
class IEngineHost;
class QCheckBox;
class QComboBox;
class QLineEdit;

// The reservation dialog "録画予約": edits one reservation the caller owns (its title, folder,
// tuner and channel, date, start and end, series and overwrite) and writes it only when OK passes
// every check. A reservation that follows a guide event keeps the event's channel and times.
//
// When the times clash with reservations of the chosen tuner and no other tuner that carries the
// channel is free, the dialog shows the clash on a timeline and lets the user keep the new
// reservation (the clashing ones are deleted) or go back.
class CRecDialog final : public QDialog {
public:
    using FolderChooser =
        std::function<std::optional<QString>(QWidget*, const QString&, const QString&)>;
    // Asks which to keep: true keeps the new reservation. Replaced by tests.
    using ClashChooser = std::function<bool(QWidget* owner, const CRecSchedule& proposed,
                                            const std::vector<CRecSchedule*>& clashes)>;

    CRecDialog(IEngineHost& host, CVideoWindowList& windows, CRecSchedule& reservation,
               QWidget* parent = nullptr);

    // The OK button's work: false (with the message shown) when a check failed.
    bool Apply();
    void accept() override;

    FolderChooser chooseFolder;
    ClashChooser chooseOnClash;
    // Today's date (replaced by tests).
    std::function<ICSIDateTime()> today;

    QLineEdit& Title() { return *title; }
    QComboBox& Folder() { return *folder; }
    QComboBox& TunerList() { return *tunerList; }
    QComboBox& ChannelList() { return *channelList; }
    QComboBox& Month() { return *month; }
    QComboBox& Day() { return *day; }
    QComboBox& StartHour() { return *startHour; }
    QComboBox& StartMinute() { return *startMinute; }
    QComboBox& EndHour() { return *endHour; }
    QComboBox& EndMinute() { return *endMinute; }
    QCheckBox& Series() { return *series; }
    QComboBox& Interval() { return *interval; }
    QCheckBox& Overwrite() { return *overwrite; }

private:
    void FillChannels();
    void FillDays();
    void OnFolderChosen(int index);
    // Whether another tuner that carries the channel is free for the span.
    bool AnotherTunerFree(const RecFormCheck& check, CTuner* chosen) const;

    IEngineHost& host;
    CVideoWindowList& windows;
    CRecSchedule& reservation;
    QLineEdit* title;
    QComboBox* folder;
    QComboBox* tunerList;
    QComboBox* channelList;
    QComboBox* month;
    QComboBox* day;
    QComboBox* startHour;
    QComboBox* startMinute;
    QComboBox* endHour;
    QComboBox* endMinute;
    QCheckBox* series;
    QComboBox* interval;
    QCheckBox* overwrite;
    int lastFolderIndex = 0;
};

// The clash of a new reservation with the reservations of its tuner, on a timeline: a bar per
// reservation over the span they cover, the new one first.
class CClashDialog final : public QDialog {
public:
    CClashDialog(const CRecSchedule& proposed, const std::vector<CRecSchedule*>& clashes,
                 QWidget* parent = nullptr);
};
