#pragma once

// What the test module file and the tests that load it share.

#include "platform/com/Unknown.h"
#include "streamfw/ICModuleTables.h"

inline constexpr CLSID CLSID_StreamTestFilter{
    0xDBC7A33C, 0x6FA8, 0x44DE, {0x8D, 0xCE, 0x1E, 0x76, 0x62, 0x55, 0x21, 0xE6}};
inline constexpr CLSID CLSID_StreamTestFilterVersionPage{
    0x64B6A6BE, 0x2450, 0x431C, {0xAF, 0x73, 0xF9, 0xFE, 0xEC, 0xFE, 0x38, 0x15}};
inline constexpr CLSID CLSID_StreamTestUnregistered{
    0x64B6A6BE, 0x2450, 0x431C, {0xAF, 0x73, 0xF9, 0xFE, 0xEC, 0xFE, 0x38, 0x16}};
inline constexpr CLSID CLSID_StreamTestNoFactory{
    0x64B6A6BE, 0x2450, 0x431C, {0xAF, 0x73, 0xF9, 0xFE, 0xEC, 0xFE, 0x38, 0x17}};
inline constexpr CLSID CLSID_StreamTestBroken{
    0x64B6A6BE, 0x2450, 0x431C, {0xAF, 0x73, 0xF9, 0xFE, 0xEC, 0xFE, 0x38, 0x18}};

inline constexpr ICModuleInfo kStreamTestModule{
    u"QV Test Filter", CLSID_StreamTestFilter, u"QV Test Filter Version",
    CLSID_StreamTestFilterVersionPage, ICModulePins::kTransportInOut};

// The test filter's private interface, which its version page asks for.
inline constexpr IID IID_IStreamTestFilter{
    0xC28FBF4B, 0x3622, 0x4804, {0x96, 0x18, 0x56, 0x03, 0x5D, 0x92, 0x0E, 0xD6}};

class IStreamTestFilter : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IStreamTestFilter;
    // Samples the filter has processed.
    virtual LONG GetProcessedCount() = 0;
    // Objects of the module alive now (its own count).
    virtual LONG GetModuleObjects() = 0;

protected:
    ~IStreamTestFilter() = default;
};
