#include "app/stores/CRecScheduleList.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "core/ICWStringList.h"
#include "platform/profile/ProfileFile.h"
#include "sianalyzer/ICSITime.h"

namespace {

constexpr char16_t kWaveDash = u'\u301C';
constexpr char16_t kFullwidthTilde = u'\uFF5E';
constexpr uint32_t kTaskFlags =
    tasks::kDeleteWhenDone | tasks::kSystemRequired | tasks::kRunOnlyIfLoggedOn;
constexpr const char* kEpgTaskName = "Orvanta Task";

std::string ReservationTaskName(int index) {
    return kEpgTaskName + std::to_string(index);
}

ICWString Replaced(const ICWString& text, char16_t from, char16_t to) {
    std::u16string units(text.GetView());
    std::replace(units.begin(), units.end(), from, to);
    return ICWString(std::u16string_view(units));
}

// A string value as written (up to a zero unit): a line break would start a new key or
// section, so it becomes a space; a value that the reader would trim or unquote (blanks at either
// end, enclosing quotes) is put between one more pair of double quotes, which the reader takes off
// again.
ICWString StoredValue(const ICWString& value) {
    std::u16string units(value.GetView());
    // A value ends at a zero unit, as the line that holds it would.
    if (const size_t zero = units.find(u'\0'); zero != std::u16string::npos) {
        units.resize(zero);
    }
    std::replace_if(
        units.begin(), units.end(), [](char16_t c) { return c == u'\r' || c == u'\n'; }, u' ');
    const auto isBlank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    const bool trimmed = !units.empty() && (isBlank(units.front()) || isBlank(units.back()));
    const bool quoted = units.size() >= 2 && units.front() == units.back() &&
                        (units.front() == u'"' || units.front() == u'\'');
    if (trimmed || quoted) {
        units = u"\"" + units + u"\"";
    }
    return ICWString(std::u16string_view(units));
}

bool Overlaps(const CRecSchedule& a, const CRecSchedule& b) {
    return a.GetStartTime() < b.GetEndTime() && b.GetStartTime() < a.GetEndTime();
}

CTuner* TunerOf(const CRecSchedule& reservation) {
    return reservation.channel != nullptr ? reservation.channel->tuningSpace->tuner : nullptr;
}

// The first service of the space with both keys.
CChannelInfo* FindServiceIn(const CTuningSpace& space, uint16_t transportStreamId,
                            uint16_t serviceId) {
    for (CChannelInfo* channel : space.channels) {
        if (channel->transportStreamId == transportStreamId && channel->serviceId == serviceId) {
            return channel;
        }
    }
    return nullptr;
}

void LinkTo(CRecSchedule& reservation, CChannelInfo* channel) {
    reservation.channel = channel;
    reservation.kind = channel->tuningSpace->type;
    reservation.serviceName = channel->name;
}

std::string CurrentUserName() {
    if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_name != nullptr) {
        return user->pw_name;
    }
    const char* name = std::getenv("USER");
    return name != nullptr ? name : "";
}

// A trigger of the kind beginning on the day and at the minute of `time`, repeating every day
// or week (weekly triggers get their days from the caller).
tasks::TaskTrigger TriggerAt(const ICSIDateTime& time, tasks::TriggerKind kind) {
    tasks::TaskTrigger trigger;
    trigger.kind = kind;
    trigger.beginYear = time.year;
    trigger.beginMonth = time.month;
    trigger.beginDay = time.day;
    trigger.startHour = time.hour;
    trigger.startMinute = time.minute;
    trigger.interval = 1;
    return trigger;
}

// Whether `existing` is the trigger `expected` stands for. A reservation's trigger is found by
// its own shape only, so that removing it never takes a trigger of another kind that another
// reservation relies on.
bool IsTriggerOf(const tasks::TaskTrigger& existing, const tasks::TaskTrigger& expected) {
    if (existing.startHour != expected.startHour || existing.startMinute != expected.startMinute) {
        return false;
    }
    const bool sameDate = existing.beginYear == expected.beginYear &&
                          existing.beginMonth == expected.beginMonth &&
                          existing.beginDay == expected.beginDay;
    if (expected.kind == tasks::TriggerKind::kWeekly && expected.daysOfWeek == tasks::kAllDays) {
        const bool everyDay =
            existing.kind == tasks::TriggerKind::kWeekly && existing.daysOfWeek == tasks::kAllDays;
        return sameDate && (everyDay || existing.kind == tasks::TriggerKind::kOnce);
    }
    return existing.kind == expected.kind && existing.daysOfWeek == expected.daysOfWeek;
}

}  // namespace

CRecScheduleList::CRecScheduleList(COwnedList<CTuner>& tuners, tasks::TaskStore* taskStore)
    : clock([] { return sitime::ToValue(sitime::LocalNow()); }),
      isRecording([](const CTuner*) { return false; }),
      tuners(tuners),
      taskStore(taskStore) {}

void CRecScheduleList::LoadReservations(const ICWString& path) {
    ClearWakeTasks();
    RemoveAll(true);
    tunerNext.clear();

    ICWStringList sections;
    path.GetProfileSectionNames(sections);
    for (int32_t index = 0; index < sections.GetCount(); ++index) {
        const char16_t* section = sections.GetStringAt(index)->GetText();
        if (sections.GetStringAt(index)->Find(u"Schedule", true) < 0) {
            continue;
        }
        auto reservation = std::make_unique<CRecSchedule>();
        CRecSchedule& r = *reservation;
        r.folder = path.GetProfileString(section, u"Folder");
        ICWStringList time;
        time.Split(path.GetProfileString(section, u"Time").GetText(), u",");
        int32_t fields[5] = {};
        for (int32_t field = 0; field < 5 && field < time.GetCount(); ++field) {
            fields[field] = time.GetStringAt(field)->ToInt();
        }
        r.year = uint16_t(fields[0]);
        r.month = uint8_t(fields[1]);
        r.day = uint8_t(fields[2]);
        r.hour = uint8_t(fields[3]);
        r.minute = uint8_t(fields[4]);
        r.tunerName = path.GetProfileString(section, u"Tuner");
        r.serviceName = path.GetProfileString(section, u"Service");
        r.eventTitle =
            Replaced(path.GetProfileString(section, u"Event"), kFullwidthTilde, kWaveDash);
        r.duration = path.GetProfileInt(section, u"Duration", 0);
        r.transportStreamId = uint16_t(path.GetProfileInt(section, u"TSID", 0));
        r.serviceId = uint16_t(path.GetProfileInt(section, u"ServiceID", 0));
        r.eventId = uint16_t(path.GetProfileInt(section, u"EventID", 0));
        r.series = path.GetProfileInt(section, u"Series", 0) != 0;
        r.interval = path.GetProfileInt(section, u"Interval", 0);
        r.overwrite = path.GetProfileInt(section, u"Overwrite", 0) != 0;

        // A field that does not fit its width, a date that does not exist or a negative
        // length would give a reservation that never records: such a section is dropped.
        const bool fits = fields[0] == r.year && fields[1] == r.month && fields[2] == r.day &&
                          fields[3] == r.hour && fields[4] == r.minute;
        if (r.duration <= 0 || r.transportStreamId == 0 || r.serviceId == 0 || !fits ||
            !r.HasValidStart()) {
            continue;
        }
        r.SetStartTime(r.GetStartTime());  // the weekday
        LinkToNamedTuner(r);

        // Reservations made by hand all carry event 0; two of them on one service are the same
        // only when they also start together.
        const CRecSchedule* same = FindReservation(r.transportStreamId, r.serviceId, r.eventId);
        if (r.eventId == 0) {
            same = nullptr;
            for (const CRecSchedule* other : *this) {
                if (other->transportStreamId == r.transportStreamId &&
                    other->serviceId == r.serviceId && other->eventId == 0 &&
                    other->GetStartTime() == r.GetStartTime()) {
                    same = other;
                    break;
                }
            }
        }
        if (same == nullptr) {
            InsertReservation(reservation.release(), false);
        }
    }

    for (CRecSchedule* reservation : *this) {
        if (reservation->channel == nullptr) {
            LinkToFreeTuner(*reservation);
        }
    }
    WriteWakeTasks();
    for (const CTuner* tuner : tuners) {
        UpdateTunerNext(tuner);
    }
}

// All the wake triggers of a freshly loaded list, each task written once: adding them one by
// one would rewrite the tasks once per reservation.
void CRecScheduleList::WriteWakeTasks() {
    if (taskStore == nullptr) {
        return;
    }
    std::vector<tasks::ScheduledTask> written;
    for (const CRecSchedule* reservation : *this) {
        if (!WantsWakeTrigger(*reservation)) {
            continue;
        }
        if (written.empty() || written.back().triggers.size() >= kTriggersPerTask) {
            if (written.size() == size_t(kReservationTaskCount)) {
                break;
            }
            written.push_back(NewTask(ReservationTaskName(int(written.size())), "/Schedule"));
        }
        written.back().triggers.push_back(WakeTriggerOf(*reservation));
    }
    for (const tasks::ScheduledTask& task : written) {
        taskStore->Save(task);
    }
}

void CRecScheduleList::UnlinkChannelsOf(const CTuningSpace* space) {
    for (CRecSchedule* reservation : *this) {
        if (reservation->channel != nullptr && reservation->channel->tuningSpace == space) {
            reservation->channel = nullptr;
        }
    }
}

void CRecScheduleList::RelinkReservations() {
    for (CRecSchedule* reservation : *this) {
        if (reservation->channel == nullptr) {
            LinkToNamedTuner(*reservation);
        }
        if (reservation->channel == nullptr) {
            LinkToFreeTuner(*reservation);
        }
    }
    for (const CTuner* tuner : tuners) {
        UpdateTunerNext(tuner);
    }
}

void CRecScheduleList::LinkToNamedTuner(CRecSchedule& reservation) const {
    if (reservation.tunerName.IsEmpty()) {
        return;
    }
    for (const CTuner* tuner : tuners) {
        if (!(tuner->displayName == reservation.tunerName)) {
            continue;
        }
        for (auto* space = tuner->tuningSpaces.Last(); space != nullptr;
             space = static_cast<CTuningSpace*>(space->prev)) {
            if (CChannelInfo* channel =
                    FindServiceIn(*space, reservation.transportStreamId, reservation.serviceId)) {
                LinkTo(reservation, channel);
                return;
            }
        }
        return;
    }
}

void CRecScheduleList::LinkToFreeTuner(CRecSchedule& reservation) const {
    if (CChannelInfo* channel = FindFreeTuner(reservation)) {
        LinkTo(reservation, channel);
        reservation.tunerName = channel->tuningSpace->tuner->displayName;
    } else {
        reservation.tunerName.Empty();
    }
}

std::string CRecScheduleList::FormatReservations() const {
    ICWString text;
    ICWString line;
    int32_t number = 0;
    for (const CRecSchedule* r : *this) {
        text += line.Format(u"[Schedule%03d]\r\n", number++);
        text += line.Format(u"Folder=%s\r\n", StoredValue(r->folder).GetText());
        text +=
            line.Format(u"Time=%d,%d,%d,%d,%d\r\n", r->year, r->month, r->day, r->hour, r->minute);
        text += line.Format(u"Duration=%d\r\n", r->duration);
        text += line.Format(u"TSID=0x%04X\r\n", r->transportStreamId);
        text += line.Format(u"ServiceID=0x%04X\r\n", r->serviceId);
        text += line.Format(u"EventID=0x%04X\r\n", r->eventId);
        text += line.Format(u"Series=%d\r\n", r->series);
        text += line.Format(u"Interval=%d\r\n", r->interval);
        text += line.Format(u"Overwrite=%d\r\n", r->overwrite);
        text += line.Format(u"Tuner=%s\r\n", StoredValue(r->tunerName).GetText());
        text += line.Format(u"Service=%s\r\n", StoredValue(r->serviceName).GetText());
        text +=
            line.Format(u"Event=%s\r\n",
                        StoredValue(Replaced(r->eventTitle, kWaveDash, kFullwidthTilde)).GetText());
    }
    std::string bytes = "\xFF\xFE";
    bytes.reserve(2 + 2 * size_t(text.GetLength()));
    for (const char16_t unit : text.GetView()) {
        bytes.push_back(char(unit & 0xFF));
        bytes.push_back(char(unit >> 8));
    }
    return bytes;
}

bool CRecScheduleList::SaveReservations(const ICWString& path) const {
    return profile::ReplaceFileAtomically(path.GetUtf8(), FormatReservations());
}

void CRecScheduleList::InsertReservation(CRecSchedule* reservation, bool registerWakeUp) {
    const TimeValue start = reservation->GetStartTime();
    CRecSchedule* position = First();
    while (position != nullptr && position->GetStartTime() <= start) {
        position = Next(position);
    }
    InsertBefore(position, reservation);
    if (registerWakeUp) {
        AddWakeTrigger(*reservation);
        if (const CTuner* tuner = TunerOf(*reservation)) {
            UpdateTunerNext(tuner);
        }
    }
}

void CRecScheduleList::RemoveReservation(CRecSchedule* reservation) {
    RemoveWakeTrigger(*reservation);
    const CTuner* tuner = TunerOf(*reservation);
    Remove(reservation, false);
    // No tuner may keep pointing at it, whatever its channel is now.
    for (auto& [ignored, next] : tunerNext) {
        if (next.nextReservation == reservation) {
            next = TunerNext();
        }
    }
    if (tuner != nullptr) {
        UpdateTunerNext(tuner);
    }
    delete reservation;
}

CRecSchedule* CRecScheduleList::FindReservation(uint16_t transportStreamId, uint16_t serviceId,
                                                uint16_t eventId) const {
    for (CRecSchedule* reservation : *this) {
        if (reservation->transportStreamId == transportStreamId &&
            reservation->serviceId == serviceId && reservation->eventId == eventId) {
            return reservation;
        }
    }
    return nullptr;
}

CChannelInfo* CRecScheduleList::FindFreeTuner(const CRecSchedule& reservation) const {
    for (CTuner* tuner = tuners.Last(); tuner != nullptr;
         tuner = static_cast<CTuner*>(tuner->prev)) {
        for (const CTuningSpace* space : tuner->tuningSpaces) {
            CChannelInfo* channel =
                FindServiceIn(*space, reservation.transportStreamId, reservation.serviceId);
            if (channel == nullptr) {
                continue;
            }
            bool busy = false;
            for (const CRecSchedule* other : *this) {
                busy = busy || (other != &reservation && TunerOf(*other) == tuner &&
                                Overlaps(*other, reservation));
            }
            if (!busy) {
                return channel;
            }
        }
    }
    return nullptr;
}

void CRecScheduleList::UpdateTunerNext(const CTuner* tuner) {
    if (tuner == nullptr || isRecording(tuner)) {
        return;
    }
    TunerNext next;
    for (CRecSchedule* reservation : *this) {
        if (TunerOf(*reservation) == tuner &&
            (next.nextReservation == nullptr ||
             reservation->GetStartTime() < next.nextReservation->GetStartTime())) {
            next.nextReservation = reservation;
        }
    }
    if (next.nextReservation != nullptr) {
        next.nextActionTime = next.nextReservation->GetStartTime() - kActionLead;
    }
    tunerNext[tuner] = next;
}

CRecScheduleList::TunerNext CRecScheduleList::GetTunerNext(const CTuner* tuner) const {
    const auto found = tunerNext.find(tuner);
    return found != tunerNext.end() ? found->second : TunerNext();
}

tasks::TaskTrigger CRecScheduleList::WakeTriggerOf(const CRecSchedule& reservation) {
    const ICSIDateTime wake = sitime::FromValue(reservation.GetStartTime() - kWakeLead);
    tasks::TaskTrigger trigger = TriggerAt(wake, tasks::TriggerKind::kWeekly);
    trigger.daysOfWeek = tasks::kAllDays;
    if (reservation.series && reservation.interval == CRecSchedule::kEveryWeek) {
        // The day the trigger fires on, which is the day before the start when the start is
        // less than five minutes after midnight.
        trigger.daysOfWeek = uint8_t(tasks::kSunday << ((wake.weekday + 1) % 7));
    } else if (reservation.series && reservation.interval == CRecSchedule::kEveryDay) {
        trigger.kind = tasks::TriggerKind::kDaily;
        trigger.daysOfWeek = 0;
    }
    return trigger;
}

tasks::ScheduledTask CRecScheduleList::NewTask(std::string name, std::string argument) const {
    tasks::ScheduledTask task;
    task.name = std::move(name);
    task.program = executablePath.GetUtf8();
    task.argument = std::move(argument);
    task.flags = kTaskFlags;
    task.account = CurrentUserName();
    return task;
}

bool CRecScheduleList::WantsWakeTrigger(const CRecSchedule& reservation) const {
    const bool repeats = reservation.series || reservation.interval != CRecSchedule::kNoRepeat;
    return repeats || reservation.GetStartTime() - kWakeLead > clock();
}

size_t CRecScheduleList::CountWakeTriggers(const tasks::TaskTrigger& trigger,
                                           const CRecSchedule* except) const {
    size_t count = 0;
    for (const CRecSchedule* other : *this) {
        count += other != except && WantsWakeTrigger(*other) &&
                 IsTriggerOf(WakeTriggerOf(*other), trigger);
    }
    return count;
}

// Reservations that start together share the shape of their trigger; each keeps one trigger of
// its own, so that removing one of them leaves the others theirs.
void CRecScheduleList::AddWakeTrigger(const CRecSchedule& reservation) {
    RemoveWakeTrigger(reservation);
    if (taskStore == nullptr || !WantsWakeTrigger(reservation)) {
        return;
    }
    for (int index = 0; index < kReservationTaskCount; ++index) {
        const std::string name = ReservationTaskName(index);
        const tasks::ScheduledTask* stored = taskStore->Find(name);
        tasks::ScheduledTask task = stored != nullptr ? *stored : NewTask(name, "/Schedule");
        if (task.triggers.size() >= kTriggersPerTask) {
            continue;
        }
        task.triggers.push_back(WakeTriggerOf(reservation));
        taskStore->Save(task);
        return;
    }
}

void CRecScheduleList::RemoveWakeTrigger(const CRecSchedule& reservation) {
    if (taskStore == nullptr) {
        return;
    }
    const tasks::TaskTrigger expected = WakeTriggerOf(reservation);
    size_t present = 0;
    for (int index = 0; index < kReservationTaskCount; ++index) {
        if (const tasks::ScheduledTask* task = taskStore->Find(ReservationTaskName(index))) {
            present += size_t(std::count_if(
                task->triggers.begin(), task->triggers.end(),
                [&](const tasks::TaskTrigger& t) { return IsTriggerOf(t, expected); }));
        }
    }
    if (present <= CountWakeTriggers(expected, &reservation)) {
        return;  // what is there belongs to the other reservations
    }
    for (int index = 0; index < kReservationTaskCount; ++index) {
        const tasks::ScheduledTask* stored = taskStore->Find(ReservationTaskName(index));
        if (stored == nullptr) {
            continue;
        }
        tasks::ScheduledTask task = *stored;
        const auto found =
            std::find_if(task.triggers.begin(), task.triggers.end(),
                         [&](const tasks::TaskTrigger& t) { return IsTriggerOf(t, expected); });
        if (found == task.triggers.end()) {
            continue;
        }
        task.triggers.erase(found);
        if (task.triggers.empty()) {
            taskStore->Delete(task.name);
        } else {
            taskStore->Save(task);
        }
        return;
    }
}

void CRecScheduleList::ClearWakeTasks() {
    if (taskStore == nullptr) {
        return;
    }
    for (int index = 0; index < kReservationTaskCount; ++index) {
        taskStore->Delete(ReservationTaskName(index));
    }
    taskStore->Delete(kEpgTaskName);
}

void CRecScheduleList::SetEpgUpdateTask(int32_t hour) {
    if (taskStore == nullptr) {
        return;
    }
    // The task holds this one trigger: a changed hour replaces the old one instead of adding a
    // second daily update.
    if (hour < 0 || hour >= 24) {
        taskStore->Delete(kEpgTaskName);
        return;
    }
    ICSIDateTime today = sitime::FromValue(clock());
    today.hour = uint8_t(hour);
    today.minute = 0;
    tasks::ScheduledTask task = NewTask(kEpgTaskName, "/EPG");
    task.triggers.push_back(TriggerAt(today, tasks::TriggerKind::kDaily));
    taskStore->Save(task);
}
