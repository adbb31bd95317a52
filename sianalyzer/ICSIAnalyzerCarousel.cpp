// The data carousel of the engineering service: download information (DII) and download data
// blocks (DDB), which download and module each belongs to, and the order blocks are taken in.

#include "sianalyzer/ICSIAnalyzerCore.h"

namespace {

// Modules above this size are not received: their buffer is allocated at the announced size,
// and a broken or hostile DII must not make the analyzer allocate gigabytes.
constexpr uint32_t kMaxModuleSize = 64u * 1024 * 1024;

}  // namespace

void ICSIAnalyzerCore::HandleDII() {
    ICSIMessageHeader header;
    if (!header.Read(reader)) {
        return;
    }
    const int64_t downloadIdField = reader.ReadUInt32();
    if (downloadIdField < 0) {
        return;
    }
    const uint32_t downloadId = static_cast<uint32_t>(downloadIdField);
    const uint32_t transactionId = header.id;
    ICSIDownload* download = store->FindDownload(downloadId);
    if (download != nullptr && download->GetTransactionID() == transactionId) {
        return;
    }
    if (!store->BeginReset()) {
        DropNotify();
        return;
    }
    // A new transaction replaces the download with everything received for it.
    if (download != nullptr) {
        store->Discard(download);
    }
    download = store->Add(new ICSIDownload(store.get(), downloadId));
    if (!download->ParseInfo(header, reader)) {
        store->Discard(download);
    }
    store->EndReset();
}

void ICSIAnalyzerCore::HandleDDB() {
    ICSIMessageHeader header;
    if (!header.Read(reader)) {
        return;
    }
    ICSIDownload* download = store->FindDownload(header.id);
    if (download == nullptr) {
        return;
    }
    const int32_t moduleIdField = reader.ReadUInt16();
    const int32_t moduleVersionField = reader.ReadUInt8();
    reader.Skip(1);
    const int32_t blockNumberField = reader.ReadUInt16();
    if (moduleIdField < 0 || moduleVersionField < 0 || blockNumberField < 0) {
        return;
    }
    const uint16_t moduleId = static_cast<uint16_t>(moduleIdField);
    const uint8_t moduleVersion = static_cast<uint8_t>(moduleVersionField);
    const uint16_t blockNumber = static_cast<uint16_t>(blockNumberField);
    const ICSIModuleInfo* info = download->FindModuleInfo(moduleId);
    if (info == nullptr || info->GetModuleSize() > kMaxModuleSize) {
        return;
    }
    // Blocks are taken strictly in order, starting with block 0: a block that arrives after a
    // lost one waits for the carousel's next cycle, so a module never completes with a hole.
    ICSIModule* module = download->FindModule(moduleId);
    if (module != nullptr && module->GetVersion() == moduleVersion) {
        if (module->IsComplete() || blockNumber != module->GetNextBlockNumber()) {
            return;
        }
    } else if (blockNumber != 0) {
        return;
    }
    if (!store->BeginReset()) {
        return;
    }
    if (module != nullptr && module->GetVersion() != moduleVersion) {
        download->RemoveModule(module);
        module = nullptr;
    }
    if (module == nullptr) {
        module = download->AddModule(moduleId);
        if (!module->Begin(moduleVersion, *info)) {
            download->RemoveModule(module);
            store->EndReset();
            return;
        }
    }
    if (!module->StoreBlock(blockNumber, download->GetBlockSize(), reader)) {
        store->EndReset();
        return;
    }
    if (!module->ParseItems(*info, textDecoder)) {
        download->RemoveModule(module);
        store->EndReset();
        DropNotify();
        return;
    }
    store->EndReset();
    PostEvent(si::kEventModuleComplete, static_cast<intptr_t>(download->GetDownloadID()), moduleId);
    FlushNotify();
}
