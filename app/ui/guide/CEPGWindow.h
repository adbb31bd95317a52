#pragma once

#include <QHash>
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <unordered_set>

#include "app/stores/CEventInfo.h"
#include "app/stores/CTuner.h"
#include "app/ui/guide/GuideSearch.h"
#include "app/ui/guide/GuideSweep.h"
#include "core/ICWString.h"

class CFindEPGDialog;
class CChannelInfo;
class CImagePanel;
class CPanel;
class CPanelButton;
class CRecSchedule;
class CTuningSpace;
class IEngineHost;
class QCalendarWidget;
class QMenu;
class QScrollBar;

namespace guide {
class CellImageCache;
class GridView;
class HeaderView;
class TimeAxisView;
}  // namespace guide

// The programme guide: the events of one of the EPG store's tuning spaces (terrestrial, BS or
// CS) as a grid of channels against the hours of today and the seven following days, with the
// selected event's details, reservation from the grid, the programme search and the guide
// update sweep.
//
// The grid is drawn on demand from the store: only the cells in view are computed and painted,
// so nothing of the store is copied and no pointer into it outlives a paint, except the tuning
// space shown (rebuilt by ShowSpace). Events are named by their (transport_stream_id,
// service_id, event_id) key wherever the window remembers them.
//
// Made once, hidden; closing hides it. Everything runs on the user-interface thread.
class CEPGWindow : public QWidget {
public:
    // The left column's controls.
    static constexpr int kLeftColumnWidth = 200;

    explicit CEPGWindow(IEngineHost& host, QWidget* parent = nullptr);
    ~CEPGWindow() override;

    // Builds the grid for a space of the EPG store: base time today 00:00, the header of its
    // channels, the time axis, and the horizontal position last used for the space.
    void ShowSpace(CTuningSpace* space);
    // Selects the event (null: none) and shows its details.
    void SelectEvent(CEventInfo* event);
    // Reserves the selected event, or cancels its reservation after asking.
    void ReserveOrCancel();
    // Scrolls to the event's start hour and channel and selects it.
    void ShowEvent(CEventInfo* event);
    // The periodic (minute) tick of the main window.
    void OnTick();
    // A sweep viewer's time on its channel is over.
    void OnSweepStep(int viewer);
    // "EPG更新" / "EPG更新中止"; RequestSweep asks for a sweep at the next tick.
    void StartSweep();
    void StopSweep();
    void RequestSweep() { sweepRequested = true; }
    bool SweepRequested() const { return sweepRequested; }
    // The recorded-file list found a recording of the event: it keeps its genre colour once
    // ended.
    void SetRecorded(uint16_t transportStreamId, uint16_t serviceId, uint16_t eventId);
    // A viewer shows this event on air: it becomes its channel's current event.
    void MarkEventOnAir(uint16_t transportStreamId, uint16_t serviceId, uint16_t eventId);
    void OpenFindDialog();
    // The EPG store's tuning spaces were made anew (channel lists applied): forgets the old ones,
    // ends a running sweep and shows the new space of the kind shown before.
    void SpacesRebuilt();

    CTuningSpace* CurrentSpace() const { return currentSpace; }
    TimeValue BaseTime() const { return baseTime; }
    CEventInfo* SelectedEvent() const;
    int TopRow() const;
    int LeftColumn() const;
    void ScrollTo(int row, int column);
    guide::EpgSweep& Sweep() { return sweep; }
    guide::EpgSearch& Search() { return search; }
    CFindEPGDialog* FindDialog() const { return findDialog; }
    QMenu* PopupMenu() const { return popupMenu; }
    CPanel* DetailPanel() const { return detailPanel; }
    QCalendarWidget* Calendar() const { return calendar; }
    QWidget* Grid() const;
    // The fill of the event's cell as it would be painted now (0xRRGGBB).
    uint32_t CellColorOf(const CEventInfo& event);
    // Paints the grid area `area` (grid coordinates) into `painter`, whose origin is the area's
    // top left.
    void PaintGrid(QPainter& painter, const QRect& area);
    // Finds the event of the grid point (grid coordinates): null outside every cell.
    CEventInfo* EventAt(int x, int y);

    // What the application supplies. The reservation dialog on a new reservation: false when
    // the user cancelled it (default: accepted).
    std::function<bool(CRecSchedule& reservation)> editReservation;
    // Stops the recording of a reservation that is being recorded, before it is cancelled.
    std::function<void(CRecSchedule& reservation)> stopRecording;
    // The reservation list changed (its window refreshes itself if it exists).
    std::function<void()> reservationsChanged;
    std::function<void()> openReservationList;
    std::function<void()> openRecordedFiles;
    std::function<void()> openSettings;
    std::function<void()> openHelp;
    // Where reservations are saved after a change (RecSchedule.ini; empty: not saved).
    ICWString reservationFile;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    friend class guide::GridView;
    friend class guide::HeaderView;
    friend class guide::TimeAxisView;

    struct EventKey {
        uint16_t transportStreamId = 0;
        uint16_t serviceId = 0;
        uint16_t eventId = 0;
        bool valid = false;
    };
    static EventKey KeyOf(const CEventInfo& event);
    static uint64_t Packed(const EventKey& key);

    void Layout();
    void UpdateScrollRanges();
    void OnVerticalScroll(int row);
    void OnCalendarPicked();
    void OnCommand(int id);
    void ShowSpaceOfType(int32_t type);
    // Redraws the cell of an event (null: nothing).
    void UpdateCell(const CEventInfo* event);
    int ColumnOf(const CChannelInfo* channel) const;
    // Gives events of a visible column that lack a title the one of the event whose
    // description they share.
    void FillSharedDescriptions(CChannelInfo& channel, int fromY, int toY);
    // The ended mark, kept by key; set when the event's known duration is over.
    bool IsEnded(const CEventInfo& event, TimeValue now);
    bool IsRecorded(const CEventInfo& event) const;
    void DrawCell(QPainter& painter, const CEventInfo& event, const QRect& cell, TimeValue now,
                  const QPoint& origin);
    QImage LogoOf(const CChannelInfo& channel);
    void SweepEnded();
    void ShowSweepProgress();
    int VisibleRows() const;
    int VisibleColumns() const;

    IEngineHost& host;
    CTuningSpace* currentSpace = nullptr;
    TimeValue baseTime = 0;
    EventKey selected;
    std::map<int32_t, int> savedColumns;  // by tuning-space type
    int32_t shownType = CTuningSpace::kTerrestrial;
    std::unordered_set<uint64_t> endedEvents;
    std::unordered_set<uint64_t> recordedEvents;
    guide::EpgSweep sweep;
    guide::EpgSearch search;
    bool sweepRequested = false;
    int lastHour = -1;
    int lastDay = -1;
    int builtDay = -1;
    QHash<uint64_t, QImage> logoCache;

    CPanelButton* terrestrialButton;
    CPanelButton* bsButton;
    CPanelButton* csButton;
    QCalendarWidget* calendar;
    CPanelButton* updateButton;
    CPanelButton* searchButton;
    CPanelButton* reservationsButton;
    CPanelButton* recordedButton;
    CPanel* detailPanel;
    guide::HeaderView* header;
    guide::TimeAxisView* timeAxis;
    guide::GridView* grid;
    QScrollBar* horizontalBar;
    QScrollBar* verticalBar;
    QMenu* popupMenu;
    CFindEPGDialog* findDialog = nullptr;
    std::unique_ptr<guide::CellImageCache> cellImages;
};
