#pragma once

#include <cstdint>
#include <functional>

#include "core/ICList.h"
#include "sianalyzer/ICSISection.h"

// Reassembles PSI/SI sections from the TS packets of the PIDs the analyzer watches, and keeps
// the section buffers: the free list (recycled buffers), the in-progress list (at most one
// buffer per PID) and the completed queue (first in, first out), each locked by its own lock
// for every operation.
//
// The streaming thread calls Assemble (and through it GetSectionBuffer and CompleteSection);
// the worker takes the queued sections with TakeCompleted and gives the buffers back with
// Recycle. Steady-state assembly allocates nothing: buffers go round through the free list and
// are deleted only with the assembler.
//
// Continuity counters and scrambling are not examined: a lost packet shows up as a failed CRC
// when the section is dispatched.
class ICSISectionAssembler {
public:
    // Called after each section is queued, on the thread that assembled it. It may take and
    // dispatch the queued sections at once: Assemble holds no buffer across CompleteSection.
    using QueuedCallback = std::function<void()>;

    explicit ICSISectionAssembler(QueuedCallback onQueued);
    ~ICSISectionAssembler();
    ICSISectionAssembler(const ICSISectionAssembler&) = delete;
    ICSISectionAssembler& operator=(const ICSISectionAssembler&) = delete;

    // The payload of one 188-byte packet of a section PID.
    void Assemble(uint16_t pid, const uint8_t* packet);
    // The in-progress buffer of the PID, or a free (or new) one taken for it.
    ICSISection* GetSectionBuffer(uint16_t pid);
    // Moves a finished buffer from the in-progress list to the completed queue.
    void CompleteSection(ICSISection* buffer);

    // The oldest queued section, taken off the queue; null when the queue is empty.
    ICSISection* TakeCompleted();
    // Empties a buffer and returns it to the free list.
    void Recycle(ICSISection* buffer);
    // Returns every queued and partly assembled section to the free list (stop and flush).
    void DiscardSections();
    // Returns the queued sections to the free list; sections being assembled stay.
    void ReleaseCompletedSections();

    // Buffers in each list, for tests and statistics.
    int32_t GetFreeBufferCount();
    int32_t GetInProgressCount();
    int32_t GetCompletedCount();

private:
    ICList freeList;
    ICList inProgressList;
    ICList completedList;
    QueuedCallback onQueued;
};
