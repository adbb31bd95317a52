#pragma once

#include "platform/com/Unknown.h"

// The content of a property page's dialog, for the user interface that draws it: the page's
// static texts from top to bottom, each with its control identifier (0 for a text that the
// page never changes). Texts are handed out in task memory (the caller frees them with
// CoTaskMemFree).
inline constexpr IID IID_IPageDialog{
    0x0BA584C0, 0xCE1B, 0x4ABF, {0xA4, 0x74, 0x0D, 0xD5, 0x40, 0x49, 0x8A, 0xC7}};

class IPageDialog : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IPageDialog;
    // The dialog's resource number in its module.
    virtual LONG GetDialogResource() = 0;
    virtual LONG GetItemCount() = 0;
    // E_INVALIDARG for an index out of range; `controlId` may be null.
    virtual HRESULT GetItem(LONG index, LONG* controlId, LPOLESTR* text) = 0;
    // The text of the control with that identifier; E_INVALIDARG when there is none.
    virtual HRESULT GetControlText(LONG controlId, LPOLESTR* text) = 0;

protected:
    ~IPageDialog() = default;
};
