#pragma once

#include "platform/dshow/CTransformFilter.h"

class CTransInPlaceFilter;

// The input pin of an in-place transform: it passes the downstream pin's types, allocator and
// allocator requirements through, so that samples travel on without a copy where possible.
class CTransInPlaceInputPin : public CTransformInputPin {
public:
    CTransInPlaceInputPin(const char16_t* objectName, CTransInPlaceFilter* filter, HRESULT* hr,
                          LPCWSTR pinName);

    HRESULT EnumMediaTypes(IEnumMediaTypes** enumerator) override;
    HRESULT CheckMediaType(const CMediaType* mediaType) override;
    HRESULT GetAllocator(IMemAllocator** allocator) override;
    HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;
    HRESULT CompleteConnect(IPin* receivePin) override;

    // The allocator samples arrive in, without a new reference.
    IMemAllocator* PeekAllocator() const { return m_pAllocator; }

protected:
    CTransInPlaceFilter* m_pTIPFilter;
};

// The output pin of an in-place transform: it offers the upstream pin's types and delivers in
// the allocator the input pin shares (or, when the two sides could not agree on one, its own).
class CTransInPlaceOutputPin : public CTransformOutputPin {
public:
    CTransInPlaceOutputPin(const char16_t* objectName, CTransInPlaceFilter* filter, HRESULT* hr,
                           LPCWSTR pinName);

    HRESULT EnumMediaTypes(IEnumMediaTypes** enumerator) override;
    HRESULT CheckMediaType(const CMediaType* mediaType) override;
    HRESULT CompleteConnect(IPin* receivePin) override;

    // Makes `allocator` this pin's delivery allocator.
    void SetAllocator(IMemAllocator* allocator);
    IMemInputPin* ConnectedIMemInputPin() const { return m_pInputPin; }
    IMemAllocator* PeekAllocator() const { return m_pAllocator; }

protected:
    CTransInPlaceFilter* m_pTIPFilter;
};

// A transform that works on each sample where it lies (Transform (sample)) and passes it on.
// The types of both pins are the same type; connecting one side reconnects the other so that
// they stay equal and share one allocator. When the allocators differ (a read-only upstream
// buffer in a filter that modifies data), each sample is copied first (Copy).
class CTransInPlaceFilter : public CTransformFilter {
public:
    CTransInPlaceFilter(const char16_t* objectName, IUnknown* outer, REFCLSID clsid, HRESULT* hr,
                        bool modifiesData = true);

    CBasePin* GetPin(int index) override;

    // The in-place work: S_OK delivers the sample, S_FALSE drops it.
    virtual HRESULT Transform(IMediaSample* sample) = 0;

    HRESULT GetMediaType(int, CMediaType*) override { return E_UNEXPECTED; }
    HRESULT CheckTransform(const CMediaType*, const CMediaType*) override { return S_OK; }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* receivePin) override;
    HRESULT Receive(IMediaSample* sample) override;

    // A copy of `source` in a buffer of the output allocator, or null.
    virtual IMediaSample* Copy(IMediaSample* source);

    CTransInPlaceInputPin* InPlaceInputPin() const {
        return static_cast<CTransInPlaceInputPin*>(m_pInput);
    }
    CTransInPlaceOutputPin* InPlaceOutputPin() const {
        return static_cast<CTransInPlaceOutputPin*>(m_pOutput);
    }
    bool UsingDifferentAllocators() const;
    bool TypesMatch();

protected:
    friend class CTransInPlaceInputPin;
    friend class CTransInPlaceOutputPin;

    // Unused here: in-place filters transform one sample.
    HRESULT Transform(IMediaSample*, IMediaSample*) override { return E_UNEXPECTED; }

    bool m_bModifiesData;
};
