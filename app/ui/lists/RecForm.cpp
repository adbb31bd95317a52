#include "app/ui/lists/RecForm.h"

#include <cmath>

#include "app/stores/CRecScheduleList.h"

namespace {

// A combo box's text as a number; -1 when it is not one.
int Number(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : -1;
}

int DaysIn(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

RecFormCheck CheckRecForm(const RecFormValues& values, const ICSIDateTime& today,
                          const CRecScheduleList& reservations, const CRecSchedule* self) {
    RecFormCheck check;
    const int month = Number(values.month);
    if (month < 1 || month > 12) {
        check.error = u"月の設定が正しくありません。";
        return check;
    }
    const int year = month < today.month ? today.year + 1 : today.year;
    const int day = Number(values.day);
    if (day < 1 || day > DaysIn(year, month)) {
        check.error = u"日の設定が正しくありません。";
        return check;
    }
    const int startHour = Number(values.startHour);
    const int startMinute = Number(values.startMinute);
    const int endHour = Number(values.endHour);
    const int endMinute = Number(values.endMinute);
    if (startHour < 0 || startHour > 23 || startMinute < 0 || startMinute > 59 || endHour < 0 ||
        endHour > 23 || endMinute < 0 || endMinute > 59) {
        check.error = u"時間の設定が正しくありません。";
        return check;
    }
    if (values.tuner == nullptr) {
        check.error = u"チューナーを選択してください。";
        return check;
    }
    if (values.channel == nullptr) {
        check.error = u"チャンネルを選択してください。";
        return check;
    }
    ICSIDateTime start;
    start.year = uint16_t(year);
    start.month = uint8_t(month);
    start.day = uint8_t(day);
    start.hour = uint8_t(startHour);
    start.minute = uint8_t(startMinute);
    check.start = sitime::ToValue(start);
    const int startMinutes = startHour * 60 + startMinute;
    int endMinutes = endHour * 60 + endMinute;
    if (endMinutes < startMinutes) {
        endMinutes += 1440;
    }
    check.duration = (endMinutes - startMinutes) * 60;

    for (CRecSchedule* other : reservations) {
        if (other == self || other->channel == nullptr ||
            other->channel->tuningSpace->tuner != values.tuner) {
            continue;
        }
        if (SpansOverlap(check.start, check.duration, other->GetStartTime(), other->duration)) {
            check.clashes.push_back(other);
        }
    }
    if (!check.clashes.empty()) {
        check.error = u"その時間、このチューナーは録画予約されています。";
    }
    return check;
}

QString FormatSize(uint64_t bytes) {
    constexpr uint64_t kGiB = uint64_t(1) << 30;
    constexpr uint64_t kMiB = uint64_t(1) << 20;
    if (bytes >= kGiB) {
        const double tenths = std::round(double(bytes) / double(kGiB) * 10.0) / 10.0;
        return QString::asprintf("%lg GB", tenths);
    }
    if (bytes >= kMiB) {
        return QString::asprintf("%lg MB", std::round(double(bytes) / double(kMiB)));
    }
    if (bytes >= 1024) {
        return QString::asprintf("%llu KB", (unsigned long long)((bytes + 512) / 1024));
    }
    return QString::asprintf("%llu B", (unsigned long long)bytes);
}
