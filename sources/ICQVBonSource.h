#pragma once

#include <atomic>
#include <mutex>

#include "sources/IBonDriver.h"
#include "sources/ICQVTSSource.h"
#include "sources/IQVBonSource.h"

// The tuner-driver source "QV Bon Source" of the Tunova module: the transport-stream source
// with a BonDriver library as its input instead of the input pin (it has only the output pin).
// Its worker pulls the driver's chunks in a read step that repeats while the filter runs,
// waiting up to 50 ms for data each time.
//
// Threads: the driver's streaming calls (WaitTsStream, GetReadyCount, GetTsStream) are made on
// the worker only, under `driverMutex`, which SetBonDriver also takes, so a driver is never
// unloaded under a read. Tuning, the signal level and the enumerations come from application
// threads unserialised: drivers allow that.
class ICQVBonSource final : public ICQVTSSource, public IQVBonSource {
public:
    // SetBonDriver's own error numbers.
    static constexpr DWORD kErrorNoDriverObject = 632;
    static constexpr DWORD kErrorTunerNotOpened = 110;
    // How long a read step waits for the driver's data.
    static constexpr DWORD kWaitMilliseconds = 50;
    // GetTsStream failures in a row that end a read pass (a driver may keep reporting chunks it
    // cannot hand out).
    static constexpr int kMaxReadFailures = 8;

    ICQVBonSource(IUnknown* outer, HRESULT* hr);
    ~ICQVBonSource() override;
    DECLARE_IUNKNOWN

    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // --- the platform filter: one pin, the output.
    int GetPinCount() override;
    CBasePin* GetPin(int index) override;
    HRESULT FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT Run(REFERENCE_TIME start) override;

    // --- IQVBonSource
    DWORD SetBonDriver(const char* path) override;
    const char16_t* GetTunerName() override;
    BOOL SetChannel(DWORD space, DWORD channel) override;
    float GetSignalLevel() override;
    const char16_t* EnumTuningSpace(DWORD space) override;
    const char16_t* EnumChannelName(DWORD space, DWORD channel) override;

    // --- for the tests
    bool HasDriver() const { return driver.load() != nullptr; }
    bool HasDriver2() const { return driver2.load() != nullptr; }
    // Read steps that found the driver loaded (each waits up to kWaitMilliseconds).
    int32_t GetDriverReadSteps() const { return driverReadSteps.load(); }

protected:
    const CLSID& VersionPageClsid() const override;
    bool WaitsForWorkerOnPause() const override;
    void ReadStep() override;

private:
    // Closes the tuner, releases the driver object and unloads the library. Under driverMutex.
    void UnloadDriver();

    std::mutex driverMutex;
    void* library = nullptr;
    std::atomic<IBonDriver*> driver{nullptr};
    std::atomic<IBonDriver2*> driver2{nullptr};
    std::atomic<int32_t> driverReadSteps{0};
};
