#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "aribtext/ICJIS8SICode.h"
#include "core/ICCriticalSection.h"
#include "core/ICList.h"
#include "core/ICMemory.h"
#include "core/ICString.h"
#include "core/ICWString.h"
#include "sianalyzer/ICSIList.h"
#include "sianalyzer/ICSISection.h"
#include "sianalyzer/ICSISectionAssembler.h"
#include "sianalyzer/SIConstants.h"

class ICThread;

// The analysis core of the SI analyzer: it cuts input buffers into TS packets, routes them by
// PID, reassembles PSI/SI sections, checks them and hands them by table_id to the table
// handlers that keep the SI store current. A handler decides which store object a section goes
// to, keeps the version and section bookkeeping and posts the notifications; the store object
// parses the table's body itself from the section reader. Assembly is the
// ICSISectionAssembler's; SI text is decoded by the 8-unit decoder the core holds (in the SI
// initial state) and lends to the reader.
//
// Two sides with their own threads:
// - the streaming side (the thread that delivers input): ProcessInput, RoutePacket, the
//   assembly (GetSectionBuffer) and CompleteSection, which queues a finished section and calls
//   OnSectionQueued (by default: posts message 32 to the worker thread, when one is set);
// - the worker side: DrainSections (the handler of message 32), DispatchSection, the table
//   handlers, stream selection and FlushNotify.
// A tool or a test may run the worker side on its own thread by calling DrainSections. Sections
// drained after a whole buffer was scanned come too late for the PIDs they make watched (a PAT
// dispatched after its PMT packets of the same buffer were routed): a tool that must see every
// table runs the two sides in lock-step by draining from OnSectionQueued, which the assembly
// allows (it holds no buffer across CompleteSection).
// The filter that embeds the core gives it its thread (SetWorkerThread), its event sink
// (OnNotify) and the stream path of the selected service's packets (OnPCRPacket,
// OnStreamPacket).
class ICSIAnalyzerCore {
public:
    // The worker message that drains the completed sections.
    static constexpr uint32_t kMsgSections = 32;
    static constexpr uint16_t kNoPID = 0xFFFF;

    // Watch values of the PID watch table.
    static constexpr uint8_t kWatchPMT = 1;
    static constexpr uint8_t kWatchEngineering = 4;

    // Streams of OnStreamPacket.
    enum class Stream { kVideo, kAudio, kCaption };

    // A notification waiting for FlushNotify. The parameters are pointer-sized: some carry the
    // filter's pointer.
    struct Notification {
        uint32_t code;
        intptr_t param1;
        intptr_t param2;
    };

    ICSIAnalyzerCore();
    virtual ~ICSIAnalyzerCore();
    ICSIAnalyzerCore(const ICSIAnalyzerCore&) = delete;
    ICSIAnalyzerCore& operator=(const ICSIAnalyzerCore&) = delete;

    // --- streaming side
    // Scans a buffer of whole TS packets while the running flag is set. The scan stops at the
    // first position without a sync byte; packets with transport_error_indicator or an
    // adaptation_field_length above 183 are skipped.
    void ProcessInput(const uint8_t* data, size_t length);
    // Routes one 188-byte packet.
    void RoutePacket(const uint8_t* packet);
    // The in-progress buffer of the PID, or a free (or new) one taken for it.
    ICSISection* GetSectionBuffer(uint16_t pid);
    // Moves a finished buffer from the in-progress list to the completed queue.
    void CompleteSection(ICSISection* buffer);

    // --- worker side
    // Dispatches every queued section while the running flag is set; the buffers go back to
    // the free list.
    void DrainSections();
    void DispatchSection(ICSISection* buffer);
    void PostNotify(uint32_t code, intptr_t param1, intptr_t param2);
    void FlushNotify();
    void DropNotify();

    // Empties the analysis state (store objects marked incomplete, present/following tables
    // dropped, watch table cleared). The worker must be idle.
    void ResetSI();
    // Returns every queued and partly assembled section to the free list (stop and flush).
    void DiscardSections() { assembler.DiscardSections(); }
    // Returns the queued sections to the free list without dispatching them; sections being
    // assembled stay.
    void ReleaseCompletedSections() { assembler.ReleaseCompletedSections(); }

    // --- state shared with the filter and the application
    ICSIList* GetSIList() { return store.get(); }
    void SetRunning(bool value) { running.store(value); }
    bool IsRunning() const { return running.load(); }
    void SetWorkerThread(ICThread* thread) { workerThread = thread; }
    // The value that notifications name as "the filter".
    void SetFilterParam(intptr_t value) { filterParam = value; }
    intptr_t GetFilterParam() const { return filterParam; }
    void SetNotifyFlags(uint32_t flags) { notifyFlags.store(flags); }
    uint32_t GetNotifyFlags() const { return notifyFlags.load(); }
    uint16_t GetNetworkID() const { return networkId.load(); }
    // Under the watch lock: the current TS and its PAT.
    void SetTransportStreamID(uint16_t transportStreamId);
    uint16_t GetTransportStreamID() const { return transportStreamId.load(); }
    ICSIPAT* GetCurrentPAT() const { return currentPat; }

    // Stores the selected service; with `apply` (and a service) holds the store and selects
    // its streams. True when the service's PMT was found.
    bool SetServiceID(uint16_t serviceId, bool apply);
    uint16_t GetServiceID() const { return selectedServiceId.load(); }
    void SetAutoSelect(bool value) { autoSelect.store(value); }
    bool GetAutoSelect() const { return autoSelect.load(); }
    // From the PMT of (current TS, selected service): PCR PID, and the PIDs of the streams with
    // the video, audio and caption component tags, 0 where there is none.
    // False (nothing changed) without that PMT.
    bool SelectStreams();

    void SetPCRPID(uint16_t pid);
    uint16_t GetPCRPID() const { return pcrPid.load(); }
    void SetVideoPID(uint16_t pid) { videoPid.store(pid); }
    uint16_t GetVideoPID() const { return videoPid.load(); }
    void SetAudioPID(uint16_t pid) { audioPid.store(pid); }
    uint16_t GetAudioPID() const { return audioPid.load(); }
    void SetCaptionPID(uint16_t pid) { captionPid.store(pid); }
    uint16_t GetCaptionPID() const { return captionPid.load(); }
    void SetClockLocked(bool value) { clockLocked.store(value); }
    bool IsClockLocked() const { return clockLocked.load(); }

    // The PID's watch table value.
    uint8_t GetWatch(uint16_t pid);
    // The four statistics (each output may be null); returns their sum and clears them.
    uint32_t GetStatistics(uint32_t* sectionErrorCount, uint32_t* continuityErrorCount,
                           uint32_t* bufferTimeoutCount, uint32_t* lateSampleCount);
    uint32_t GetSectionErrors() const { return sectionErrors.load(); }
    uint16_t GetEngineeringServiceID() const { return engineeringServiceId; }

    // Buffers in each list, for tests and statistics.
    int32_t GetFreeBufferCount() { return assembler.GetFreeBufferCount(); }
    int32_t GetInProgressCount() { return assembler.GetInProgressCount(); }
    int32_t GetCompletedCount() { return assembler.GetCompletedCount(); }

protected:
    // A packet on the PCR PID that has an adaptation field (before any other routing).
    virtual void OnPCRPacket(const uint8_t* packet) {}
    // A packet of the selected video, audio or caption stream while the clock is locked.
    virtual void OnStreamPacket(Stream stream, const uint8_t* packet) {}
    // A section was queued; the default posts message 32 to the worker thread. An override may
    // call DrainSections here (lock-step).
    virtual void OnSectionQueued();
    // Delivers one notification to the graph's event sink; the default drops it.
    virtual void OnNotify(uint32_t code, intptr_t param1, intptr_t param2) {}

    // --- the handler side, for the handlers of the embedding filter
    // The section being dispatched and the reader over it (limit: the section's CRC_32),
    // which also decodes its SI text.
    ICSISection* GetCurrentSection() const { return currentSection; }
    ICSISectionReader& SectionReader() { return reader; }
    // Sets the watch value of a PID (under the watch lock).
    void SetWatch(uint16_t pid, uint8_t value);
    // Looks for the engineering service of the current TS and watches its elementary PIDs.
    void LookupEngineeringService();
    bool IsEngineeringLookedUp() const { return engineeringLookedUp; }

    bool HasNotify(uint32_t bit) const { return (notifyFlags.load() & bit) != 0; }
    // Queues the event when its bit is set in the notification mask.
    void PostEvent(const si::Event& event, intptr_t param1, intptr_t param2) {
        if (HasNotify(event.bit)) {
            PostNotify(event.code, param1, param2);
        }
    }

private:
    static bool IsFixedSectionPID(uint16_t pid);

    // The handler of each table_id; the others (NIT and EIT of other networks and TSs, BAT,
    // TDT, ...) are not kept and have none.
    using Handler = void (ICSIAnalyzerCore::*)();
    struct HandlerTable {
        HandlerTable();
        std::array<Handler, 256> table;
    };
    static const HandlerTable kHandlers;

    void HandlePAT();
    void HandlePMT();
    void HandleNIT();
    void HandleSDT();
    void HandleEIT();
    void HandleTOT();
    void HandleBIT();
    void HandleCDT();
    void HandleDII();
    void HandleDDB();
    void HandleSDTT();

    // Drops a table object whose section was cut short, ends the reset and drops the
    // notifications the section queued.
    template <typename T>
    void Abandon(T* table) {
        store->Discard(table);
        store->EndReset();
        DropNotify();
    }

    void ClearWatchTable();
    // Clears the watch entries a PMT added.
    void ClearPMTWatch(ICSIPMT* pmt);
    // The first NIT that selects a service automatically.
    void AutoSelectFirstService(ICSINIT* nit);

    std::unique_ptr<ICSIList> store;

    // --- streaming side
    std::atomic<bool> running{false};
    std::atomic<uint16_t> pcrPid{kNoPID};
    std::atomic<uint16_t> videoPid{kNoPID};
    std::atomic<uint16_t> audioPid{kNoPID};
    std::atomic<uint16_t> captionPid{kNoPID};
    std::atomic<bool> clockLocked{false};

    // Written under watchLock; routing reads single entries without it (each is an atomic
    // byte), so the streaming thread never waits for a handler.
    ICCriticalSection watchLock;
    std::unique_ptr<std::atomic<uint8_t>[]> watchTable;

    // Packet to section; calls OnSectionQueued for each section it queues.
    ICSISectionAssembler assembler;
    ICThread* workerThread = nullptr;

    // --- worker side
    std::atomic<uint16_t> networkId{0};
    std::atomic<uint16_t> transportStreamId{0};
    ICSIPAT* currentPat = nullptr;
    std::atomic<uint16_t> selectedServiceId{0};
    std::atomic<bool> autoSelect{true};
    uint16_t engineeringServiceId = 0;
    bool engineeringLookedUp = false;

    std::atomic<uint32_t> notifyFlags{0};
    std::vector<Notification> pendingNotifications;
    intptr_t filterParam = 0;

    ICSISection* currentSection = nullptr;
    // SI text: the 8-unit code from the SI initial state (G3 katakana) for every string.
    ICJIS8SICode textDecoder;
    ICSISectionReader reader{&textDecoder};
    // The extended event item being continued across descriptors.
    ICSIExtEventJoin extEventJoin;

    std::atomic<uint32_t> sectionErrors{0};
    std::atomic<uint32_t> continuityErrors{0};
    std::atomic<uint32_t> bufferTimeouts{0};
    std::atomic<uint32_t> lateSamples{0};

protected:
    // Counters of the stream path (the filter's), cleared by GetStatistics.
    void CountContinuityError() { continuityErrors.fetch_add(1); }
    void CountBufferTimeout() { bufferTimeouts.fetch_add(1); }
    void CountLateSample() { lateSamples.fetch_add(1); }
};
