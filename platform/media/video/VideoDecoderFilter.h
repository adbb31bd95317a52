#pragma once

#include <atomic>
#include <mutex>

#include "platform/dshow/CTransformFilter.h"
#include "platform/media/video/VideoPictureFormat.h"
#include "platform/media/video/VideoStreamDecoder.h"

// The "Orvanta Video Decoder" filter (CLSID_OrvVideoDecoder).
//
// Input: MPEG-2 or H.264 video (MEDIASUBTYPE_MPEG2_VIDEO, MEDIASUBTYPE_H264), each sample a
// PES packet or bare elementary-stream bytes; a sample may hold part of a picture or several.
// Output: deinterlaced I420 pictures (VideoPictureFormat.h), each timed from the sample its
// access unit began in and marked as a sync point. When the size, shape or colours of the
// pictures change, the first sample of the new ones carries the new media type.
//
// The streaming thread decodes in Receive (frame threads of libavcodec help it); a flush, a new
// segment or a stop drops what is buffered, the end of stream delivers it first. Damaged input
// costs pictures, never the stream: Receive succeeds unless delivering fails.
class CVideoDecoderFilter final : public CTransformFilter {
public:
    // Buffers large enough for any broadcast picture (1920 x 1088 in I420).
    static constexpr LONG kOutputBufferSize = 1920 * 1088 * 3 / 2;
    static constexpr LONG kOutputBufferCount = 4;

    CVideoDecoderFilter(IUnknown* outer, HRESULT* hr);
    ~CVideoDecoderFilter() override;

    // The class factory's creation function.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

    HRESULT CheckInputType(const CMediaType* input) override;
    HRESULT CheckTransform(const CMediaType* input, const CMediaType* output) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT GetMediaType(int position, CMediaType* mediaType) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* mediaType) override;

    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // Pictures delivered, and input the decoder refused or found damaged.
    int64_t PicturesDelivered() const { return picturesDelivered.load(); }
    int64_t DecodeErrors() const { return decodeErrors.load(); }

private:
    HRESULT DeliverPicture(const DecodedPicture& picture);
    void ResetDecoder();
    VideoStreamDecoder::PictureSink Sink();

    VideoStreamDecoder decoder;  // the streaming thread's, under the receive lock
    // The format of the pictures last delivered (negotiation reads it from other threads).
    std::mutex formatLock;
    VideoPictureFormat outputFormat;
    bool formatSent = false;    // the connection's type matches outputFormat
    bool discontinuity = true;  // the next picture follows a gap
    HRESULT deliveryResult = S_OK;
    std::atomic<int64_t> picturesDelivered{0};
    std::atomic<int64_t> decodeErrors{0};
};
