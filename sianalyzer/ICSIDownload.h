#pragma once

#include <cstdint>

#include "core/ICListItem.h"

class ICSIAnalyzerCore;
class ICSIList;

// One data-carousel download (keyed by its 32-bit downloadId). The store keeps a list of them;
// modules and their parsing belong to the carousel handlers.
class ICSIDownload : public ICListItem {
public:
    ICSIDownload(ICSIList* owner, uint32_t downloadId) : owner(owner), downloadId(downloadId) {}

    virtual ICSIList* GetOwner() const { return owner; }
    virtual uint32_t GetDownloadID() const { return downloadId; }
    virtual uint32_t GetTransactionID() const { return transactionId; }

protected:
    friend class ICSIAnalyzerCore;
    ICSIList* owner;
    uint32_t downloadId;
    uint32_t transactionId = 0;
};
