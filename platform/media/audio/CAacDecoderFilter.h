#pragma once

#include <atomic>
#include <vector>

#include "platform/dshow/CTransformFilter.h"
#include "platform/media/audio/AacStreamDecoder.h"
#include "platform/media/audio/AudioInterfaces.h"

// The audio decoder filter: AAC (ADTS or LATM/LOAS frames, as the analyzer's "Audio" pin
// delivers them, one PES payload per sample) in, 16-bit stereo PCM at 48 kHz out.
//
// Output times: a timed input sample sets the time of the PCM it starts unless that PCM
// continues the previous output within kResyncTolerance (then the running count of decoded
// frames keeps the output seamless); untimed input continues from the last output. A
// discontinuity or a flush forgets the partial frames and the running time; end of stream
// delivers what the resampler still holds before it passes the end on.
//
// Threads: samples, end of stream and the end of a flush arrive under the receive lock, which
// also guards the decoder; the dual-mono choice may be changed from any thread.
class CAacDecoderFilter final : public CTransformFilter, public IOrvDualMono {
public:
    // A timed sample within this of where the output already is continues it.
    static constexpr REFERENCE_TIME kResyncTolerance = 40 * kUnitsPerMillisecond;
    // The output buffers: each holds 100 ms, a PES of several frames takes a few.
    static constexpr LONG kOutputBufferBytes =
        orvaudio::kOutputRate / 10 * orvaudio::kOutputFrameBytes;
    static constexpr LONG kOutputBufferCount = 8;

    CAacDecoderFilter(IUnknown* outer, HRESULT* hr);
    ~CAacDecoderFilter() override;
    DECLARE_IUNKNOWN

    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // IOrvDualMono
    HRESULT SetDualMonoOutput(DualMonoOutput output) override;
    HRESULT GetDualMonoOutput(DualMonoOutput* output) override;
    HRESULT IsDualMono() override;

    // CTransformFilter
    HRESULT CheckInputType(const CMediaType* input) override;
    HRESULT CheckTransform(const CMediaType* input, const CMediaType* output) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT GetMediaType(int position, CMediaType* mediaType) override;
    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT EndFlush() override;

    // The decoder's counts (frames decoded, damaged, format changes).
    orvaudio::AacStreamDecoder::Statistics DecoderStatistics();

private:
    // Delivers `pcm` in output samples from the running output time on.
    HRESULT DeliverPcm(const std::vector<int16_t>& pcm);
    void ResetStream();

    orvaudio::AacStreamDecoder decoder;  // under m_csReceive
    std::vector<int16_t> pcm;            // reused between samples
    std::atomic<DualMonoOutput> dualMonoOutput{DualMonoOutput::kMain};
    std::atomic<bool> dualMono{false};
    // The output's running time: the start of its next frame is timeBase + framesSinceBase.
    bool timeValid = false;
    REFERENCE_TIME timeBase = 0;
    int64_t framesSinceBase = 0;
    bool nextIsDiscontinuity = true;
};
