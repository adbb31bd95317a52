#include "sianalyzer/ICSIAnalyzerCore.h"

#include <algorithm>
#include <cstring>

#include "core/CRC32.h"
#include "core/ICThread.h"

ICSIAnalyzerCore::ICSIAnalyzerCore()
    : store(std::make_unique<ICSIList>()),
      watchTable(std::make_unique<std::atomic<uint8_t>[]>(si::kPidCount)),
      assembler([this] { OnSectionQueued(); }) {
    ClearWatchTable();
    filterParam = reinterpret_cast<intptr_t>(this);
    pendingNotifications.reserve(16);
    ResetSI();
}

ICSIAnalyzerCore::~ICSIAnalyzerCore() = default;

// --- streaming side

void ICSIAnalyzerCore::ProcessInput(const uint8_t* data, size_t length) {
    if (!running.load(std::memory_order_relaxed) || data == nullptr) {
        return;
    }
    while (length >= si::kPacketSize && data[0] == si::kSyncByte) {
        // transport_error_indicator clear, and either no adaptation field or one of a
        // possible length.
        if ((data[1] & 0x80) == 0 && ((data[3] & 0x20) == 0 || data[4] <= 183)) {
            RoutePacket(data);
        }
        data += si::kPacketSize;
        length -= si::kPacketSize;
    }
}

bool ICSIAnalyzerCore::IsFixedSectionPID(uint16_t pid) {
    // PAT, NIT, SDT/BAT, EIT, RST, TDT/TOT, the range with the SDTT and the BIT, CDT.
    return pid == si::kPidPAT || (pid >= si::kPidNIT && pid <= si::kPidTOT) ||
           (pid >= si::kPidSectionRangeFirst && pid <= si::kPidSectionRangeLast) ||
           pid == si::kPidCDT;
}

void ICSIAnalyzerCore::RoutePacket(const uint8_t* packet) {
    const uint16_t pid = static_cast<uint16_t>((packet[1] & 0x1F) << 8 | packet[2]);
    if (pid == pcrPid.load(std::memory_order_relaxed) && (packet[3] & 0x20) != 0) {
        OnPCRPacket(packet);
    }
    // A stream PID of 0 means "the service has no such stream": it must not capture the PAT.
    if (pid != 0) {
        Stream stream;
        bool isStream = true;
        if (pid == videoPid.load(std::memory_order_relaxed)) {
            stream = Stream::kVideo;
        } else if (pid == audioPid.load(std::memory_order_relaxed)) {
            stream = Stream::kAudio;
        } else if (pid == captionPid.load(std::memory_order_relaxed)) {
            stream = Stream::kCaption;
        } else {
            isStream = false;
        }
        if (isStream) {
            if (clockLocked.load(std::memory_order_relaxed)) {
                OnStreamPacket(stream, packet);
            }
            return;
        }
    }
    if (pid == si::kPidNull) {
        return;
    }
    if (!IsFixedSectionPID(pid)) {
        const uint8_t watch = watchTable[pid].load(std::memory_order_relaxed);
        if (watch != kWatchPMT && watch != kWatchEngineering) {
            return;
        }
    }
    assembler.Assemble(pid, packet);
}

void ICSIAnalyzerCore::CompleteSection(ICSISection* buffer) {
    assembler.CompleteSection(buffer);
}

ICSISection* ICSIAnalyzerCore::GetSectionBuffer(uint16_t pid) {
    return assembler.GetSectionBuffer(pid);
}

void ICSIAnalyzerCore::OnSectionQueued() {
    if (workerThread != nullptr) {
        workerThread->PostMsg(kMsgSections);
    }
}

// --- worker side

void ICSIAnalyzerCore::DrainSections() {
    while (running.load()) {
        ICSISection* buffer = assembler.TakeCompleted();
        if (buffer == nullptr) {
            return;
        }
        DispatchSection(buffer);
        assembler.Recycle(buffer);
    }
}

void ICSIAnalyzerCore::DispatchSection(ICSISection* buffer) {
    currentSection = buffer;
    const uint8_t* bytes = buffer->GetData();
    const int32_t size = buffer->GetLength();
    if (size < 1 || bytes[0] == si::kTableStuffing) {
        return;
    }
    if (size < 3) {
        sectionErrors.fetch_add(1);
        return;
    }
    buffer->tableId = bytes[0];
    buffer->sectionSyntaxIndicator = bytes[1] >> 7;
    buffer->sectionLength = static_cast<uint16_t>((bytes[1] & 0x0F) << 8 | bytes[2]);
    buffer->endPosition = 3 + buffer->sectionLength;
    if (buffer->endPosition > size) {
        sectionErrors.fetch_add(1);
        return;
    }
    if (buffer->sectionSyntaxIndicator != 0) {
        // The long form needs its five header bytes after section_length and the CRC_32.
        if (buffer->sectionLength < 9 || CalcCRC32(bytes, buffer->endPosition) != 0) {
            sectionErrors.fetch_add(1);
            return;
        }
        buffer->tableIdExtension = static_cast<uint16_t>(bytes[3] << 8 | bytes[4]);
        buffer->versionNumber = (bytes[5] >> 1) & 0x1F;
        buffer->currentNextIndicator = bytes[5] & 1;
        buffer->sectionNumber = bytes[6];
        buffer->lastSectionNumber = bytes[7];
        // Handlers read the data up to the CRC_32, never the CRC itself.
        reader.Attach(bytes, buffer->endPosition - 4);
        reader.Seek(8);
    } else {
        buffer->tableIdExtension = 0;
        buffer->versionNumber = 0;
        buffer->currentNextIndicator = 0;
        buffer->sectionNumber = 0;
        buffer->lastSectionNumber = 0;
        // The short sections handled here (the TOT) end in a CRC_32 as well.
        reader.Attach(bytes, std::max(buffer->endPosition - 4, 3));
        reader.Seek(3);
    }

    const uint8_t tableId = buffer->tableId;
    const Handler handler = kHandlers.table[tableId];
    if (handler == nullptr) {
        return;
    }
    // Only the TOT is a short section: any other table in the short form has lost its
    // section_syntax_indicator to a bit error and would escape the CRC check.
    if (buffer->sectionSyntaxIndicator == 0 && tableId != si::kTableTOT) {
        sectionErrors.fetch_add(1);
        return;
    }
    store->BeginUpdate();
    (this->*handler)();
    store->EndUpdate();
}

ICSIAnalyzerCore::HandlerTable::HandlerTable() {
    table.fill(nullptr);
    table[si::kTablePAT] = &ICSIAnalyzerCore::HandlePAT;
    table[si::kTablePMT] = &ICSIAnalyzerCore::HandlePMT;
    table[si::kTableDII] = &ICSIAnalyzerCore::HandleDII;
    table[si::kTableDDB] = &ICSIAnalyzerCore::HandleDDB;
    table[si::kTableNITActual] = &ICSIAnalyzerCore::HandleNIT;
    table[si::kTableSDTActual] = &ICSIAnalyzerCore::HandleSDT;
    table[si::kTableSDTOther] = &ICSIAnalyzerCore::HandleSDT;
    table[si::kTableEITPresentFollowing] = &ICSIAnalyzerCore::HandleEIT;
    for (uint32_t id = si::kTableEITScheduleFirst; id <= si::kTableEITScheduleLast; ++id) {
        table[id] = &ICSIAnalyzerCore::HandleEIT;
    }
    table[si::kTableTOT] = &ICSIAnalyzerCore::HandleTOT;
    table[si::kTableSDTT] = &ICSIAnalyzerCore::HandleSDTT;
    table[si::kTableBIT] = &ICSIAnalyzerCore::HandleBIT;
    table[si::kTableCDT] = &ICSIAnalyzerCore::HandleCDT;
}

const ICSIAnalyzerCore::HandlerTable ICSIAnalyzerCore::kHandlers;

void ICSIAnalyzerCore::PostNotify(uint32_t code, intptr_t param1, intptr_t param2) {
    pendingNotifications.push_back({code, param1, param2});
}

void ICSIAnalyzerCore::FlushNotify() {
    // Delivery may call back into the analyzer; work on a copy of the queue.
    if (pendingNotifications.empty()) {
        return;
    }
    std::vector<Notification> batch;
    batch.swap(pendingNotifications);
    for (const Notification& notification : batch) {
        OnNotify(notification.code, notification.param1, notification.param2);
    }
    batch.clear();
    if (pendingNotifications.empty()) {
        pendingNotifications.swap(batch);
    }
}

void ICSIAnalyzerCore::DropNotify() {
    pendingNotifications.clear();
}

void ICSIAnalyzerCore::ResetSI() {
    networkId.store(0);
    {
        ICLockGuard guard(watchLock);
        transportStreamId.store(0);
        currentPat = nullptr;
    }
    store->BeginUpdate();
    // Readers keep their pointers: objects are marked for rebuilding (the received-section
    // masks, which no reader sees, are cleared), not deleted, except the present/following
    // tables, which go only when no reader holds the store.
    const bool reset = store->BeginReset();
    store->ForEach<ICSIPAT>([](ICSIPAT* pat) { pat->MarkIncomplete(); });
    store->ForEach<ICSIPMT>([](ICSIPMT* pmt) { pmt->MarkIncomplete(); });
    store->ForEach<ICSINIT>([](ICSINIT* nit) { nit->MarkIncomplete(); });
    store->ForEach<ICSISDT>([](ICSISDT* sdt) { sdt->MarkIncomplete(); });
    store->ForEach<ICSIEIT>([&](ICSIEIT* eit) { eit->MarkNotReceived(reset); });
    ClearWatchTable();
    engineeringServiceId = 0;
    engineeringLookedUp = false;
    store->EndReset();
    store->EndUpdate();
}

// --- selection and shared state

void ICSIAnalyzerCore::SetTransportStreamID(uint16_t id) {
    ICLockGuard guard(watchLock);
    transportStreamId.store(id);
    currentPat = store->FindPAT(id);
}

void ICSIAnalyzerCore::SetPCRPID(uint16_t pid) {
    pcrPid.store(pid);
    clockLocked.store(false);
}

bool ICSIAnalyzerCore::SetServiceID(uint16_t serviceId, bool apply) {
    selectedServiceId.store(serviceId);
    if (!apply || serviceId == 0) {
        return false;
    }
    store->AddRef();
    const bool found = SelectStreams();
    store->Release();
    return found;
}

bool ICSIAnalyzerCore::SelectStreams() {
    const ICSIPMT* pmt = store->FindPMT(transportStreamId.load(), selectedServiceId.load());
    if (pmt == nullptr) {
        return false;
    }
    if (pcrPid.load() != pmt->GetPCRPID()) {
        pcrPid.store(pmt->GetPCRPID());
        clockLocked.store(false);
    }
    auto pidOf = [&](uint8_t tag) -> uint16_t {
        const ICSIES* es = pmt->FindESByComponentTag(tag);
        return es != nullptr ? es->GetPID() : 0;
    };
    videoPid.store(pidOf(si::kComponentTagVideo));
    audioPid.store(pidOf(si::kComponentTagAudio));
    captionPid.store(pidOf(si::kComponentTagCaption));
    return true;
}

uint8_t ICSIAnalyzerCore::GetWatch(uint16_t pid) {
    return watchTable[pid & si::kPidMask].load(std::memory_order_relaxed);
}

void ICSIAnalyzerCore::ClearWatchTable() {
    ICLockGuard guard(watchLock);
    for (uint32_t pid = 0; pid < si::kPidCount; ++pid) {
        watchTable[pid].store(0, std::memory_order_relaxed);
    }
}

void ICSIAnalyzerCore::SetWatch(uint16_t pid, uint8_t value) {
    ICLockGuard guard(watchLock);
    watchTable[pid & si::kPidMask] = value;
}

uint32_t ICSIAnalyzerCore::GetStatistics(uint32_t* sectionErrorCount,
                                         uint32_t* continuityErrorCount,
                                         uint32_t* bufferTimeoutCount, uint32_t* lateSampleCount) {
    const uint32_t values[4] = {sectionErrors.exchange(0), continuityErrors.exchange(0),
                                bufferTimeouts.exchange(0), lateSamples.exchange(0)};
    uint32_t* outputs[4] = {sectionErrorCount, continuityErrorCount, bufferTimeoutCount,
                            lateSampleCount};
    uint32_t sum = 0;
    for (int i = 0; i < 4; ++i) {
        if (outputs[i]) {
            *outputs[i] = values[i];
        }
        sum += values[i];
    }
    return sum;
}

void ICSIAnalyzerCore::ClearPMTWatch(ICSIPMT* pmt) {
    ICLockGuard guard(watchLock);
    for (uint16_t pid : pmt->GetWatchedPIDs()) {
        watchTable[pid & si::kPidMask] = 0;
    }
    pmt->ClearWatchedPIDs();
}

void ICSIAnalyzerCore::LookupEngineeringService() {
    const uint16_t network = networkId.load();
    const uint16_t tsid = transportStreamId.load();
    if (network == 0 || tsid == 0) {
        return;
    }
    const ICSINIT* nit = store->FindNIT(network);
    const ICSITS* ts = nit != nullptr ? nit->FindTS(tsid) : nullptr;
    if (ts == nullptr) {
        return;
    }
    uint16_t serviceId = 0;
    bool found = false;
    for (int32_t i = 0; i < ts->GetServiceCount(); ++i) {
        if (ts->GetServiceType(i) == si::kServiceTypeEngineering) {
            serviceId = ts->GetServiceID(i);
            found = true;
            break;
        }
    }
    if (!found || serviceId == 0) {
        engineeringLookedUp = true;
        return;
    }
    ICSIPMT* pmt = store->FindPMT(tsid, serviceId);
    if (pmt == nullptr) {
        return;
    }
    engineeringServiceId = serviceId;
    {
        ICLockGuard guard(watchLock);
        for (int32_t i = 0; i < pmt->GetESCount(); ++i) {
            const uint16_t pid = pmt->GetES(i)->GetPID();
            watchTable[pid] = kWatchEngineering;
            pmt->AddWatchedPID(pid);
        }
    }
    engineeringLookedUp = true;
}
