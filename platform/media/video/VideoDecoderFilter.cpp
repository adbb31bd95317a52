#include "platform/media/video/VideoDecoderFilter.h"

#include <cstring>
#include <new>

#include "platform/dshow/DShowGuids.h"
#include "platform/media/MediaClasses.h"

namespace {

// Before the first picture the output offers what the input's format block says, or a
// broadcast high-definition picture.
VideoPictureFormat InitialFormat(const CMediaType& input) {
    VideoPictureFormat format;
    format.width = 1920;
    format.height = 1080;
    format.aspectX = 16;
    format.aspectY = 9;
    format.matrix = ColourMatrix::kBT709;
    format.averageTimePerFrame = 333667;
    const bool hasHeader =
        (*input.FormatType() == FORMAT_MPEG2Video || *input.FormatType() == FORMAT_VideoInfo2) &&
        input.Format() != nullptr && input.FormatLength() >= sizeof(VIDEOINFOHEADER2);
    if (hasHeader) {
        VIDEOINFOHEADER2 info;
        std::memcpy(&info, input.Format(), sizeof(info));
        const LONG height =
            info.bmiHeader.biHeight < 0 ? -info.bmiHeader.biHeight : info.bmiHeader.biHeight;
        if (info.bmiHeader.biWidth > 0 && height > 0 && info.bmiHeader.biWidth <= 1920 &&
            height <= 1088) {
            format.width = info.bmiHeader.biWidth;
            format.height = height;
            format.aspectX = int(info.dwPictAspectRatioX);
            format.aspectY = int(info.dwPictAspectRatioY);
            format.matrix = height > 576 ? ColourMatrix::kBT709 : ColourMatrix::kBT601;
            if (info.AvgTimePerFrame > 0) {
                format.averageTimePerFrame = info.AvgTimePerFrame;
            }
        }
    }
    return format;
}

void CopyPlane(const uint8_t* from, int fromStride, uint8_t* to, int width, int height) {
    for (int y = 0; y < height; ++y) {
        std::memcpy(to + ptrdiff_t(y) * width, from + ptrdiff_t(y) * fromStride, size_t(width));
    }
}

}  // namespace

CVideoDecoderFilter::CVideoDecoderFilter(IUnknown* outer, HRESULT*)
    : CTransformFilter(u"Orvanta Video Decoder", outer, CLSID_OrvVideoDecoder) {}

CVideoDecoderFilter::~CVideoDecoderFilter() = default;

CUnknown* CVideoDecoderFilter::CreateInstance(IUnknown* outer, HRESULT* hr) {
    auto* filter = new (std::nothrow) CVideoDecoderFilter(outer, hr);
    if (filter == nullptr && hr != nullptr) {
        *hr = E_OUTOFMEMORY;
    }
    return filter;
}

HRESULT CVideoDecoderFilter::CheckInputType(const CMediaType* input) {
    if (input == nullptr) {
        return E_POINTER;
    }
    if (*input->Type() != MEDIATYPE_Video) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (*input->Subtype() != MEDIASUBTYPE_MPEG2_VIDEO && *input->Subtype() != MEDIASUBTYPE_H264) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
}

HRESULT CVideoDecoderFilter::CheckTransform(const CMediaType* input, const CMediaType* output) {
    if (input == nullptr || output == nullptr) {
        return E_POINTER;
    }
    if (CheckInputType(input) != S_OK) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    VideoPictureFormat format;
    if (!ReadVideoPictureType(*output, &format) || format.PictureBytes() > kOutputBufferSize) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
}

HRESULT CVideoDecoderFilter::DecideBufferSize(IMemAllocator* allocator,
                                              ALLOCATOR_PROPERTIES* request) {
    if (allocator == nullptr || request == nullptr) {
        return E_POINTER;
    }
    if (request->cBuffers < kOutputBufferCount) {
        request->cBuffers = kOutputBufferCount;
    }
    if (request->cbBuffer < kOutputBufferSize) {
        request->cbBuffer = kOutputBufferSize;
    }
    if (request->cbAlign < 1) {
        request->cbAlign = 1;
    }
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) {
        return hr;
    }
    if (actual.cbBuffer < kOutputBufferSize || actual.cBuffers < 1) {
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CVideoDecoderFilter::GetMediaType(int position, CMediaType* mediaType) {
    if (mediaType == nullptr) {
        return E_POINTER;
    }
    if (position < 0) {
        return E_INVALIDARG;
    }
    if (position > 0) {
        return VFW_S_NO_MORE_ITEMS;
    }
    std::lock_guard lock(formatLock);
    return SetVideoPictureType(outputFormat, mediaType);
}

HRESULT CVideoDecoderFilter::SetMediaType(PIN_DIRECTION direction, const CMediaType* mediaType) {
    std::lock_guard lock(formatLock);
    if (direction == PINDIR_INPUT) {
        outputFormat = InitialFormat(*mediaType);
        formatSent = false;
    } else {
        VideoPictureFormat connected;
        formatSent = ReadVideoPictureType(*mediaType, &connected) && connected == outputFormat;
        if (formatSent) {
            outputFormat = connected;
        }
    }
    return S_OK;
}

void CVideoDecoderFilter::ResetDecoder() {
    decoder.Reset();
    discontinuity = true;
    deliveryResult = S_OK;
}

HRESULT CVideoDecoderFilter::StartStreaming() {
    ResetDecoder();
    return S_OK;
}

HRESULT CVideoDecoderFilter::StopStreaming() {
    ResetDecoder();
    return S_OK;
}

VideoStreamDecoder::PictureSink CVideoDecoderFilter::Sink() {
    return [this](const DecodedPicture& picture) {
        // After a refused delivery (flushing, stopping) the rest of the sample is dropped.
        if (deliveryResult == S_OK) {
            deliveryResult = DeliverPicture(picture);
        }
    };
}

HRESULT CVideoDecoderFilter::Receive(IMediaSample* sample) {
    if (sample == nullptr) {
        return E_POINTER;
    }
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || data == nullptr) {
        return S_OK;
    }
    const LONG length = sample->GetActualDataLength();
    if (length <= 0) {
        return S_OK;
    }
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
    if (sample->IsDiscontinuity() == S_OK) {
        discontinuity = true;
    }
    deliveryResult = S_OK;
    const int64_t errorsBefore = decoder.Errors();
    decoder.Decode(data, size_t(length), timed ? &start : nullptr, Sink());
    decodeErrors += decoder.Errors() - errorsBefore;
    const HRESULT hr = deliveryResult;
    deliveryResult = S_OK;
    // Downstream refusing a sample while flushing (S_FALSE) is no error of the stream.
    return FAILED(hr) ? hr : S_OK;
}

HRESULT CVideoDecoderFilter::DeliverPicture(const DecodedPicture& picture) {
    if (picture.format.PictureBytes() > kOutputBufferSize) {
        ++decodeErrors;  // larger than any broadcast picture: not shown
        return S_OK;
    }
    IMediaSample* output = nullptr;
    HRESULT hr = m_pOutput->GetDeliveryBuffer(&output, nullptr, nullptr, 0);
    if (FAILED(hr) || output == nullptr) {
        return FAILED(hr) ? hr : E_FAIL;
    }
    BYTE* buffer = nullptr;
    if (FAILED(output->GetPointer(&buffer)) || output->GetSize() < picture.format.PictureBytes()) {
        output->Release();
        return E_FAIL;
    }
    {
        std::lock_guard lock(formatLock);
        if (!formatSent || !(picture.format == outputFormat)) {
            CMediaType type;
            hr = SetVideoPictureType(picture.format, &type);
            if (SUCCEEDED(hr)) {
                hr = output->SetMediaType(&type);
            }
            if (FAILED(hr)) {
                output->Release();
                return hr;
            }
            outputFormat = picture.format;
            formatSent = true;
        }
    }
    const int width = picture.format.width;
    const int height = picture.format.height;
    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = (height + 1) / 2;
    uint8_t* y = buffer;
    uint8_t* u = y + ptrdiff_t(width) * height;
    uint8_t* v = u + ptrdiff_t(chromaWidth) * chromaHeight;
    CopyPlane(picture.planes[0], picture.strides[0], y, width, height);
    CopyPlane(picture.planes[1], picture.strides[1], u, chromaWidth, chromaHeight);
    CopyPlane(picture.planes[2], picture.strides[2], v, chromaWidth, chromaHeight);
    output->SetActualDataLength(LONG(picture.format.PictureBytes()));
    if (picture.timed) {
        REFERENCE_TIME start = picture.start;
        REFERENCE_TIME stop = picture.start + picture.duration;
        output->SetTime(&start, &stop);
    } else {
        output->SetTime(nullptr, nullptr);
    }
    output->SetSyncPoint(TRUE);
    output->SetDiscontinuity(discontinuity ? TRUE : FALSE);
    discontinuity = false;
    hr = m_pOutput->Deliver(output);
    output->Release();
    if (hr == S_OK) {
        ++picturesDelivered;
    }
    return hr;
}

HRESULT CVideoDecoderFilter::EndOfStream() {
    deliveryResult = S_OK;
    decoder.Drain(Sink());
    deliveryResult = S_OK;
    discontinuity = true;
    return CTransformFilter::EndOfStream();
}

HRESULT CVideoDecoderFilter::EndFlush() {
    {
        // The streaming thread has left Receive (the input refuses samples while flushing).
        CAutoLock lock(&m_csReceive);
        ResetDecoder();
    }
    return CTransformFilter::EndFlush();
}

HRESULT CVideoDecoderFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    {
        CAutoLock lock(&m_csReceive);
        ResetDecoder();
    }
    return CTransformFilter::NewSegment(start, stop, rate);
}
