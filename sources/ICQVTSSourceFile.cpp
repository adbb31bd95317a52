// File mode of the transport-stream source: loading, the duration, reading and seeking.
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/ICWinError.h"
#include "platform/com/TaskAllocator.h"
#include "platform/dshow/DShowGuids.h"
#include "sources/ICQVTSSource.h"
#include "sources/ICQVTSSourcePins.h"
#include "sources/RecordingTrailer.h"
#include "streamfw/ICPacket.h"

namespace {

constexpr int32_t kPacketSize = ICQVTSSource::kPacketSize;
constexpr uint8_t kSync = ICQVTSSource::kSyncByte;
constexpr uint16_t kPatPid = 0x0000;
constexpr uint16_t kNullPid = 0x1FFF;
constexpr int kMaxPmtPids = 32;
// The PCR runs at 27 MHz with a 33-bit base: it wraps after this many ticks.
constexpr int64_t kPcrWrap = (int64_t{1} << 33) * 300;
constexpr int64_t kInvalidPcr = -1;
constexpr int32_t kScanBlock = 2048 * kPacketSize;
// How far into a file Load looks for the first packet.
constexpr int32_t kSyncSearchBytes = 64 * 1024;

uint16_t PidOf(const uint8_t* packet) {
    return static_cast<uint16_t>(((packet[1] & 0x1F) << 8) | packet[2]);
}

// The PCR of a packet (27 MHz), or kInvalidPcr when it carries none.
int64_t PcrOf(const uint8_t* packet) {
    const bool hasAdaptation = (packet[3] & 0x20) != 0;
    if (!hasAdaptation || packet[4] < 7 || (packet[5] & 0x10) == 0) {
        return kInvalidPcr;
    }
    const int64_t base = (int64_t{packet[6]} << 25) | (int64_t{packet[7]} << 17) |
                         (int64_t{packet[8]} << 9) | (int64_t{packet[9]} << 1) | (packet[10] >> 7);
    const int64_t extension = (int64_t{packet[10] & 0x01} << 8) | packet[11];
    return base * 300 + extension;
}

// The start of the payload of a packet that begins a section, after the pointer field; null
// when the packet carries none.
const uint8_t* SectionStart(const uint8_t* packet) {
    const int afc = (packet[3] >> 4) & 0x03;
    if ((afc & 0x01) == 0 || (packet[1] & 0x40) == 0) {
        return nullptr;
    }
    int offset = 4;
    if ((afc & 0x02) != 0) {
        offset += 1 + packet[4];
    }
    if (offset >= kPacketSize) {
        return nullptr;
    }
    offset += 1 + packet[offset];
    return offset < kPacketSize - 3 ? packet + offset : nullptr;
}

// The first offset below `limit` where three packets in a row begin, or -1.
int32_t FindPacketStart(const uint8_t* data, int32_t size) {
    for (int32_t i = 0; i + 2 * kPacketSize < size && i < kPacketSize * 8; ++i) {
        if (data[i] == kSync && data[i + kPacketSize] == kSync &&
            data[i + 2 * kPacketSize] == kSync) {
            return i;
        }
    }
    return -1;
}

// What the forward scan learns about the programmes: their PMT PIDs, the PCR PID of each PMT
// seen, and the first PCR of every PID.
class ProgramScan {
public:
    ProgramScan() : firstPcr(8192, kInvalidPcr) {}

    void Take(const uint8_t* packet) {
        if ((packet[1] & 0x80) != 0) {
            return;
        }
        const uint16_t pid = PidOf(packet);
        if (firstPcr[pid] == kInvalidPcr) {
            firstPcr[pid] = PcrOf(packet);
        }
        const uint8_t* section = SectionStart(packet);
        if (section == nullptr) {
            return;
        }
        const int available = static_cast<int>(packet + kPacketSize - section);
        if (pid == kPatPid && !patSeen) {
            ParsePat(section, available);
        } else if (patSeen) {
            auto it = std::find(pmtPids.begin(), pmtPids.end(), pid);
            if (it != pmtPids.end()) {
                ParsePmt(section, available, static_cast<size_t>(it - pmtPids.begin()));
            }
        }
    }

    // The PCR PIDs of the PMTs seen, in PAT order, without repeats.
    std::vector<uint16_t> PcrPids() const {
        std::vector<uint16_t> pids;
        for (size_t i = 0; i < pcrPids.size(); ++i) {
            const uint16_t pid = pcrPids[i];
            if (pid != 0 && pid != kNullPid &&
                std::find(pids.begin(), pids.end(), pid) == pids.end()) {
                pids.push_back(pid);
            }
        }
        return pids;
    }

    int64_t FirstPcr(uint16_t pid) const { return firstPcr[pid]; }

private:
    static int SectionLength(const uint8_t* section) {
        return ((section[1] & 0x0F) << 8) | section[2];
    }

    void ParsePat(const uint8_t* section, int available) {
        if (section[0] != 0x00 || available < 8) {
            return;
        }
        // Only what fits in this packet (a PAT of up to 32 programmes does).
        const int end = std::min(3 + SectionLength(section) - 4, available);
        for (int i = 8; i + 4 <= end && static_cast<int>(pmtPids.size()) < kMaxPmtPids; i += 4) {
            const int program = (section[i] << 8) | section[i + 1];
            const uint16_t pid =
                static_cast<uint16_t>(((section[i + 2] & 0x1F) << 8) | section[i + 3]);
            if (program != 0) {
                pmtPids.push_back(pid);
            }
        }
        pcrPids.assign(pmtPids.size(), 0);
        patSeen = true;
    }

    void ParsePmt(const uint8_t* section, int available, size_t index) {
        if (section[0] != 0x02 || available < 10) {
            return;
        }
        pcrPids[index] = static_cast<uint16_t>(((section[8] & 0x1F) << 8) | section[9]);
    }

    std::vector<int64_t> firstPcr;
    std::vector<uint16_t> pmtPids;
    std::vector<uint16_t> pcrPids;  // 0 until that PMT was seen
    bool patSeen = false;
};

// The last PCR of `pid` between `lowest` and the end of the file, reading backwards from the
// last whole packet (packets begin at `dataStart` + a multiple of 188).
int64_t LastPcr(ICFile& file, int64_t fileSize, int64_t dataStart, int64_t lowest, uint16_t pid) {
    std::vector<uint8_t> block(kScanBlock);
    int64_t end = dataStart + (fileSize - dataStart) / kPacketSize * kPacketSize;
    while (end > lowest) {
        const int64_t begin = std::max(lowest, end - kScanBlock);
        const int64_t alignedBegin =
            dataStart + (begin - dataStart + kPacketSize - 1) / kPacketSize * kPacketSize;
        if (alignedBegin >= end) {
            break;
        }
        const auto size = static_cast<int32_t>(end - alignedBegin);
        if (file.Seek(alignedBegin, ICFile::kSeekBegin) < 0 ||
            file.Read(block.data(), size) != size) {
            return kInvalidPcr;
        }
        for (int32_t offset = size - kPacketSize; offset >= 0; offset -= kPacketSize) {
            const uint8_t* packet = block.data() + offset;
            if (packet[0] == kSync && (packet[1] & 0x80) == 0 && PidOf(packet) == pid) {
                const int64_t pcr = PcrOf(packet);
                if (pcr != kInvalidPcr) {
                    return pcr;
                }
            }
        }
        end = alignedBegin;
    }
    return kInvalidPcr;
}

}  // namespace

// --- IFileSourceFilter

HRESULT ICQVTSSource::Load(LPCOLESTR name, const AM_MEDIA_TYPE*) {
    std::lock_guard<std::mutex> lock(fileMutex);
    file.reset();
    fileMode.store(false);
    fileSize = 0;
    dataStart = 0;
    duration = 0;
    fileName = name != nullptr ? ICWString(name) : ICWString();
    if (name == nullptr) {
        return S_OK;
    }
    auto opened = std::make_unique<ICFile>();
    if (!opened->Open(ICFile::kModeRead, name)) {
        switch (opened->GetLastError()) {
            case kErrorFileNotFound:
            case kErrorPathNotFound:
                return VFW_E_NOT_FOUND;
            case kErrorAccessDenied:
                return E_ACCESSDENIED;
            case kErrorInvalidHandle:
                return E_HANDLE;
            default:
                return E_FAIL;
        }
    }
    fileSize = std::max<int64_t>(opened->GetSize(), 0);
    readBuffer.resize(kReadBufferSize);
    // Packets begin at the first sync byte of three in a row (a file may start mid-packet).
    const int32_t head = opened->Read(readBuffer.data(), kSyncSearchBytes);
    dataStart = std::max(FindPacketStart(readBuffer.data(), std::max(head, 0)), 0);

    uint8_t last[kPacketSize];
    if (fileSize >= kPacketSize && opened->Seek(fileSize - kPacketSize, ICFile::kSeekBegin) >= 0 &&
        opened->Read(last, kPacketSize) == kPacketSize) {
        duration = RecordingTrailerDuration(last);
    }
    if (duration == 0) {
        duration = DurationFromPcr(*opened, fileSize, dataStart);
    }
    opened->Seek(dataStart, ICFile::kSeekBegin);
    file = std::move(opened);
    fileMode.store(true);
    if (outputPin != nullptr) {
        outputPin->SetFileDuration(duration);
    }
    return S_OK;
}

HRESULT ICQVTSSource::GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* mediaType) {
    if (name == nullptr) {
        return E_POINTER;
    }
    *name = nullptr;
    std::lock_guard<std::mutex> lock(fileMutex);
    if (fileName.IsEmpty()) {
        return E_FAIL;
    }
    const size_t bytes = (static_cast<size_t>(fileName.GetLength()) + 1) * sizeof(char16_t);
    auto* copy = static_cast<char16_t*>(CoTaskMemAlloc(bytes));
    if (copy == nullptr) {
        return E_OUTOFMEMORY;
    }
    std::memcpy(copy, fileName.GetText(), bytes);
    *name = copy;
    if (mediaType != nullptr) {
        std::memset(mediaType, 0, sizeof(*mediaType));
        mediaType->majortype = MEDIATYPE_Stream;
        mediaType->subtype = MEDIASUBTYPE_MPEG2_TRANSPORT;
        mediaType->formattype = FORMAT_None;
    }
    return S_OK;
}

// --- the duration

REFERENCE_TIME ICQVTSSource::DurationFromPcr(ICFile& input, int64_t size, int64_t start) {
    ProgramScan scan;
    std::vector<uint8_t> block(kScanBlock);
    const int64_t scanEnd = std::min(size, start + kDurationScanBytes);
    int64_t position = start;
    if (input.Seek(start, ICFile::kSeekBegin) < 0) {
        return 0;
    }
    while (position + kPacketSize <= scanEnd) {
        const auto want = static_cast<int32_t>(std::min<int64_t>(kScanBlock, scanEnd - position));
        const int32_t got = input.Read(block.data(), want);
        if (got < kPacketSize) {
            break;
        }
        for (int32_t offset = 0; offset + kPacketSize <= got; offset += kPacketSize) {
            if (block[offset] == kSync) {
                scan.Take(block.data() + offset);
            }
        }
        position += got / kPacketSize * kPacketSize;
        if (got % kPacketSize != 0) {
            input.Seek(position, ICFile::kSeekBegin);
        }
    }
    REFERENCE_TIME result = 0;
    const int64_t lowest = std::max(start, size - kDurationScanBytes);
    for (uint16_t pid : scan.PcrPids()) {
        const int64_t first = scan.FirstPcr(pid);
        if (first == kInvalidPcr) {
            continue;
        }
        int64_t last = LastPcr(input, size, start, lowest, pid);
        if (last == kInvalidPcr) {
            continue;
        }
        // One wrap of the 33-bit base during the recording (it wraps about once a day).
        if (last < first) {
            last += kPcrWrap;
        }
        if (last > first) {
            result = (last - first) * 10 / 27;
            break;
        }
    }
    input.Seek(start, ICFile::kSeekBegin);
    return result;
}

// --- reading

void ICQVTSSource::PostReadStep() {
    if (!readStepQueued.exchange(true)) {
        PostMsg(kMsgRead);
    }
}

void ICQVTSSource::ReadStep() {
    if (FileReadStep()) {
        PostReadStep();
    }
}

bool ICQVTSSource::FileReadStep() {
    if (!fileMode.load() || seeking.load() || !delivering.load(std::memory_order_acquire)) {
        return false;
    }
    int32_t got = 0;
    {
        std::lock_guard<std::mutex> lock(fileMutex);
        if (file == nullptr) {
            return false;
        }
        got = file->Read(readBuffer.data(), kReadBufferSize);
    }
    readCount.fetch_add(1);
    const int32_t count = std::max(got, 0) / kPacketSize;
    if (count == 0) {
        if (outputPin != nullptr && outputPin->IsConnected()) {
            outputPin->DeliverEndOfStream();
        }
        return false;
    }
    int32_t used = 0;
    for (; used < count; ++used) {
        ICPacket* packet = TakeFreePacket();
        if (packet == nullptr) {
            DeliverReadyPackets();
            packet = TakeFreePacket();
            if (packet == nullptr) {
                break;
            }
        }
        packet->Write(readBuffer.data() + used * kPacketSize, kPacketSize);
        MoveToReady(packet);
    }
    if (used < count) {
        // Read again from the first packet that found no room, rather than lose the rest.
        std::lock_guard<std::mutex> lock(fileMutex);
        if (file != nullptr) {
            file->Seek(-static_cast<int64_t>(got - used * kPacketSize), ICFile::kSeekCurrent);
        }
    }
    DeliverReadyPackets();
    return true;
}

// --- seeking

HRESULT ICQVTSSource::Seek(REFERENCE_TIME position) {
    if (!fileMode.load()) {
        return S_OK;
    }
    // No read step runs from here until the flush has gone downstream: what it read would
    // arrive while downstream still flushes and be lost.
    seeking.store(true);
    const bool connected = outputPin != nullptr && outputPin->IsConnected();
    if (connected) {
        outputPin->DeliverBeginFlush();
    }
    if (IsWorkerEnabled() && !IsRunning()) {
        StartWorker();
    }
    seekTarget = position;
    SendMsg(kMsgSeek);
    if (connected) {
        outputPin->DeliverEndFlush();
    }
    seeking.store(false);
    if (delivering.load(std::memory_order_acquire)) {
        PostReadStep();
    }
    return S_OK;
}

void ICQVTSSource::SeekStep() {
    std::lock_guard<std::mutex> lock(fileMutex);
    if (file != nullptr) {
        const int64_t durationMs = duration / 10000;
        const int64_t positionMs = std::max<REFERENCE_TIME>(seekTarget, 0) / 10000;
        int64_t target = dataStart;
        if (durationMs > 0) {
            // In floating point: milliseconds times a file size can pass 2^63.
            const auto offset =
                static_cast<int64_t>(static_cast<long double>(positionMs) *
                                     static_cast<long double>(fileSize - dataStart) /
                                     static_cast<long double>(durationMs));
            target = dataStart + std::clamp<int64_t>(offset, 0, fileSize - dataStart) /
                                     kPacketSize * kPacketSize;
        }
        uint8_t probe[3 * kPacketSize];
        file->Seek(target, ICFile::kSeekBegin);
        const int32_t got = file->Read(probe, sizeof(probe));
        for (int32_t i = 0; i < kPacketSize && i + 2 * kPacketSize < got; ++i) {
            if (probe[i] == kSync && probe[i + kPacketSize] == kSync &&
                probe[i + 2 * kPacketSize] == kSync) {
                file->Seek(target + i, ICFile::kSeekBegin);
                break;
            }
        }
    }
    ReturnReadyPackets();
    discontinuityPending.store(true);
}

uint32_t ICQVTSSource::OnUserMessage(ICMsg* msg) {
    switch (msg->id) {
        case kMsgRead:
            readStepQueued.store(false);
            ReadStep();
            return 0;
        case kMsgSeek:
            SeekStep();
            return 0;
        default:
            return ICTransformFilter::OnUserMessage(msg);
    }
}
