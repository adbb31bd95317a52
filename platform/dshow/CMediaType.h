#pragma once

#include "platform/dshow/DShowInterfaces.h"

// Media type records. A type's format block lives in task memory and its pUnk holds a
// reference; the functions below keep both right.

// Frees the format block and releases pUnk; the record itself stays.
void FreeMediaType(AM_MEDIA_TYPE& mediaType);
// Frees the record too (it was made by CreateMediaType); null is ignored.
void DeleteMediaType(AM_MEDIA_TYPE* mediaType);
// A copy in task memory, or null when out of memory.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);
// Copies into an uninitialised record; E_OUTOFMEMORY leaves it without a format block.
HRESULT CopyMediaType(AM_MEDIA_TYPE* destination, const AM_MEDIA_TYPE* source);

// An owned media type with copy semantics.
class CMediaType : public AM_MEDIA_TYPE {
public:
    CMediaType();
    explicit CMediaType(const GUID* majorType);
    CMediaType(const AM_MEDIA_TYPE& other);  // NOLINT: converts like the published class
    CMediaType(const CMediaType& other);
    CMediaType& operator=(const CMediaType& other);
    CMediaType& operator=(const AM_MEDIA_TYPE& other);
    ~CMediaType();

    bool operator==(const CMediaType& other) const;
    bool operator!=(const CMediaType& other) const { return !(*this == other); }

    // Replaces this type with a copy of `other` (E_OUTOFMEMORY when the format cannot be copied).
    HRESULT Set(const CMediaType& other);
    HRESULT Set(const AM_MEDIA_TYPE& other);
    // A type needs a major type to be valid.
    bool IsValid() const;

    const GUID* Type() const { return &majortype; }
    void SetType(const GUID* type) { majortype = *type; }
    const GUID* Subtype() const { return &subtype; }
    void SetSubtype(const GUID* type) { subtype = *type; }
    const GUID* FormatType() const { return &formattype; }
    void SetFormatType(const GUID* type) { formattype = *type; }
    BYTE* Format() const { return pbFormat; }
    ULONG FormatLength() const { return cbFormat; }

    bool IsFixedSize() const { return bFixedSizeSamples != FALSE; }
    bool IsTemporalCompressed() const { return bTemporalCompression != FALSE; }
    ULONG GetSampleSize() const;
    void SetSampleSize(ULONG size);
    void SetVariableSize();
    void SetTemporalCompression(bool compressed);

    // Copies `length` bytes as the new format block.
    bool SetFormat(const BYTE* format, ULONG length);
    // A format block of `length` bytes (its old content is lost), or null when out of memory.
    BYTE* AllocFormatBuffer(ULONG length);
    // Grows or shrinks the block keeping what fits.
    BYTE* ReallocFormatBuffer(ULONG length);
    void ResetFormatBuffer();

    // Sets the record to the empty state of a new type (no format, fixed size 1).
    void InitMediaType();

    // A null major type, subtype or format type leaves that part unspecified.
    bool IsPartiallySpecified() const;
    // True when every part that `partial` specifies equals this type's.
    bool MatchesPartial(const CMediaType* partial) const;
};

// The media type as a CMediaType view (both have the same layout).
inline const CMediaType* AsMediaType(const AM_MEDIA_TYPE* mediaType) {
    return static_cast<const CMediaType*>(mediaType);
}
