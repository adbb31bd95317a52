#include "platform/media/video/VideoPictureFormat.h"

#include <cstring>
#include <numeric>

#include "platform/dshow/DShowGuids.h"

namespace {

// dwControlFlags of VIDEOINFOHEADER2: the flags are valid, and the bits above the first byte
// hold the colour description (chroma siting in bits 8-11, nominal range in 12-14, transfer
// matrix in 15-17).
constexpr DWORD kControlUsed = 0x01;
constexpr DWORD kControlColourInfoPresent = 0x80;
constexpr int kNominalRangeShift = 12;
constexpr DWORD kNominalRangeFull = 1;     // 0-255
constexpr DWORD kNominalRangeLimited = 2;  // 16-235
constexpr int kTransferMatrixShift = 15;
constexpr DWORD kTransferMatrixBT709 = 1;
constexpr DWORD kTransferMatrixBT601 = 2;

constexpr DWORD kFourccI420 = 0x30323449;

}  // namespace

int64_t VideoPictureFormat::PictureBytes() const {
    const int64_t chromaWidth = (width + 1) / 2;
    const int64_t chromaHeight = (height + 1) / 2;
    return int64_t(width) * height + 2 * chromaWidth * chromaHeight;
}

int VideoPictureFormat::DisplayWidth() const {
    if (aspectX <= 0 || aspectY <= 0 || height <= 0) {
        return width;
    }
    return height / aspectY * aspectX;
}

void PictureAspectRatio(int width, int height, int sarNum, int sarDen, int* aspectX, int* aspectY) {
    if (sarNum <= 0 || sarDen <= 0) {
        sarNum = 1;
        sarDen = 1;
    }
    int64_t x = int64_t(width) * sarNum;
    int64_t y = int64_t(height) * sarDen;
    const int64_t divisor = std::gcd(x, y);
    if (divisor == 0) {
        *aspectX = 0;
        *aspectY = 0;
        return;
    }
    x /= divisor;
    y /= divisor;
    // Ratios within half a percent of the broadcast shapes are those shapes (720 x 480 at 32:27
    // is 16:9 exactly; 704 x 480 pictures and rounded ratios land near it).
    const double ratio = double(x) / double(y);
    if (ratio > 16.0 / 9 * 0.995 && ratio < 16.0 / 9 * 1.005) {
        x = 16;
        y = 9;
    } else if (ratio > 4.0 / 3 * 0.995 && ratio < 4.0 / 3 * 1.005) {
        x = 4;
        y = 3;
    }
    *aspectX = int(x);
    *aspectY = int(y);
}

HRESULT SetVideoPictureType(const VideoPictureFormat& format, CMediaType* mediaType) {
    if (mediaType == nullptr) {
        return E_POINTER;
    }
    mediaType->InitMediaType();
    mediaType->SetType(&MEDIATYPE_Video);
    mediaType->SetSubtype(&MEDIASUBTYPE_I420);
    mediaType->SetFormatType(&FORMAT_VideoInfo2);
    mediaType->SetTemporalCompression(false);
    mediaType->SetSampleSize(ULONG(format.PictureBytes()));
    BYTE* block = mediaType->AllocFormatBuffer(sizeof(VIDEOINFOHEADER2));
    if (block == nullptr) {
        return E_OUTOFMEMORY;
    }
    VIDEOINFOHEADER2 info;
    std::memset(&info, 0, sizeof(info));
    info.rcSource = RECT{0, 0, format.width, format.height};
    info.rcTarget = info.rcSource;
    info.AvgTimePerFrame = format.averageTimePerFrame;
    info.dwPictAspectRatioX = DWORD(format.aspectX);
    info.dwPictAspectRatioY = DWORD(format.aspectY);
    info.dwControlFlags =
        kControlUsed | kControlColourInfoPresent |
        (format.fullRange ? kNominalRangeFull : kNominalRangeLimited) << kNominalRangeShift |
        (format.matrix == ColourMatrix::kBT601 ? kTransferMatrixBT601 : kTransferMatrixBT709)
            << kTransferMatrixShift;
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = format.width;
    info.bmiHeader.biHeight = format.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 12;
    info.bmiHeader.biCompression = kFourccI420;
    info.bmiHeader.biSizeImage = DWORD(format.PictureBytes());
    std::memcpy(block, &info, sizeof(info));
    return S_OK;
}

bool ReadVideoPictureType(const CMediaType& mediaType, VideoPictureFormat* format) {
    if (*mediaType.Type() != MEDIATYPE_Video || *mediaType.Subtype() != MEDIASUBTYPE_I420 ||
        *mediaType.FormatType() != FORMAT_VideoInfo2 || mediaType.Format() == nullptr ||
        mediaType.FormatLength() < sizeof(VIDEOINFOHEADER2)) {
        return false;
    }
    VIDEOINFOHEADER2 info;
    std::memcpy(&info, mediaType.Format(), sizeof(info));
    const LONG height =
        info.bmiHeader.biHeight < 0 ? -info.bmiHeader.biHeight : info.bmiHeader.biHeight;
    if (info.bmiHeader.biWidth <= 0 || height <= 0 || info.bmiHeader.biWidth > 8192 ||
        height > 8192) {
        return false;
    }
    VideoPictureFormat read;
    read.width = info.bmiHeader.biWidth;
    read.height = height;
    read.aspectX = int(info.dwPictAspectRatioX);
    read.aspectY = int(info.dwPictAspectRatioY);
    read.averageTimePerFrame = info.AvgTimePerFrame;
    if ((info.dwControlFlags & (kControlUsed | kControlColourInfoPresent)) ==
        (kControlUsed | kControlColourInfoPresent)) {
        const DWORD range = (info.dwControlFlags >> kNominalRangeShift) & 0x7;
        const DWORD matrix = (info.dwControlFlags >> kTransferMatrixShift) & 0x7;
        read.fullRange = range == kNominalRangeFull;
        read.matrix = matrix == kTransferMatrixBT601 ? ColourMatrix::kBT601 : ColourMatrix::kBT709;
    } else {
        // Without colour information: standard definition is BT.601, high definition BT.709.
        read.matrix = read.height > 576 ? ColourMatrix::kBT709 : ColourMatrix::kBT601;
    }
    *format = read;
    return true;
}
