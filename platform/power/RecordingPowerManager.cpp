#include "platform/power/RecordingPowerManager.h"

#include <cstring>
#include <utility>

namespace power {

CRecordingPowerManager::CRecordingPowerManager(PowerClock clock,
                                               std::chrono::milliseconds acknowledgeTimeout)
    : coordinator(service, std::move(clock), acknowledgeTimeout) {
    coordinator.Start();
}

void CRecordingPowerManager::SetNotify(PowerNotify notify) {
    coordinator.SetNotify(std::move(notify));
}

PowerResult CRecordingPowerManager::Suspend() {
    coordinator.Poll();
    return coordinator.Suspend();
}

PowerResult CRecordingPowerManager::SetSystemRequired(bool displayToo) {
    return coordinator.SetSystemRequired(displayToo);
}

void CRecordingPowerManager::AcknowledgeSuspend() {
    coordinator.AcknowledgeSuspend();
}

PowerResult CRecordingPowerManager::SetWakeAlarm(std::time_t when) {
    coordinator.Poll();
    Record({PowerCall::Kind::kAlarmSet, {}, {}, when});
    return {};
}

PowerResult CRecordingPowerManager::ClearWakeAlarm() {
    coordinator.Poll();
    Record({PowerCall::Kind::kAlarmCleared, {}, {}, 0});
    return {};
}

bool CRecordingPowerManager::TimersCanWake() const {
    std::lock_guard guard(lock);
    return timersCanWake;
}

void CRecordingPowerManager::RaisePrepareForSleep(bool sleeping) {
    coordinator.Poll();
    coordinator.PrepareForSleep(sleeping);
}

void CRecordingPowerManager::Poll() {
    coordinator.Poll();
}

void CRecordingPowerManager::RefuseInhibitors(int error) {
    std::lock_guard guard(lock);
    inhibitorError = error;
}

void CRecordingPowerManager::SetTimersCanWake(bool canWake) {
    std::lock_guard guard(lock);
    timersCanWake = canWake;
}

std::vector<PowerCall> CRecordingPowerManager::Calls() const {
    std::lock_guard guard(lock);
    return calls;
}

void CRecordingPowerManager::Record(PowerCall call) {
    std::lock_guard guard(lock);
    calls.push_back(std::move(call));
}

int CRecordingPowerManager::RecordedService::TakeInhibitor(const InhibitorRequest& request,
                                                           std::string& message) {
    std::lock_guard guard(owner.lock);
    if (owner.inhibitorError != 0) {
        message = std::strerror(owner.inhibitorError);
        return -owner.inhibitorError;
    }
    owner.calls.push_back({PowerCall::Kind::kInhibitorTaken, request.what, request.mode, 0});
    owner.heldInhibitors.push_back(request);
    return static_cast<int>(owner.heldInhibitors.size()) - 1;
}

void CRecordingPowerManager::RecordedService::ReleaseInhibitor(int handle) {
    std::lock_guard guard(owner.lock);
    const InhibitorRequest& request = owner.heldInhibitors.at(static_cast<size_t>(handle));
    owner.calls.push_back({PowerCall::Kind::kInhibitorReleased, request.what, request.mode, 0});
}

PowerResult CRecordingPowerManager::RecordedService::RequestSuspend() {
    owner.Record({PowerCall::Kind::kSuspend, {}, {}, 0});
    return {};
}

}  // namespace power
