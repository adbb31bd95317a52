#pragma once

#include "platform/com/ComTypes.h"
#include "platform/com/Guid.h"

// What the four stream modules register: each module's filter (name, class identifier, merit,
// pins) and its version page. The application creates the filters by these class identifiers.

// How a module's filter registers its pins.
enum class ICModulePins {
    kAnyInAnyOut,     // "In": input, any type; "Out": output, any type
    kTransportInOut,  // "In": transport stream (or the broadcast driver's); "Out": transport
    kTransportOut,    // "Out": transport stream only
};

struct ICModuleInfo {
    const char16_t* filterName;
    CLSID filterClsid;
    const char16_t* pageName;
    CLSID pageClsid;
    ICModulePins pins;
};

// Every module's filter has this merit (the platform's "do not use"), so that automatic graph
// building never picks one.
inline constexpr DWORD kICModuleMerit = 0x00200000;

inline constexpr CLSID CLSID_QVSIAnalyzer{
    0xCC7FC4B9, 0x6322, 0x4760, {0x9D, 0xC8, 0xAA, 0x8F, 0xA5, 0x2D, 0xE3, 0x7D}};
inline constexpr CLSID CLSID_QVSIAnalyzerVersionPage{
    0x2F374380, 0x3504, 0x4B72, {0xAB, 0x77, 0xD9, 0x62, 0x71, 0x2D, 0x18, 0x42}};
inline constexpr CLSID CLSID_QVTSSource{
    0xFB2E90B5, 0xD75A, 0x4630, {0x90, 0xCF, 0xE4, 0x2E, 0x34, 0x79, 0x79, 0x17}};
inline constexpr CLSID CLSID_QVTSSourceVersionPage{
    0x10E6EA1B, 0xF289, 0x4083, {0x96, 0x9E, 0x80, 0x1F, 0x8F, 0xED, 0x4A, 0x55}};
inline constexpr CLSID CLSID_QVBonSource{
    0xEFB22758, 0xCFF9, 0x4D96, {0x80, 0x30, 0x3F, 0x60, 0x41, 0xC9, 0x13, 0xEC}};
inline constexpr CLSID CLSID_QVBonSourceVersionPage{
    0x64A988B2, 0x4D66, 0x4975, {0x84, 0xC8, 0x99, 0x2C, 0x61, 0x1D, 0x8B, 0xE7}};
inline constexpr CLSID CLSID_QVCaption{
    0x48B28034, 0x5675, 0x4E6D, {0xB7, 0x2F, 0x00, 0xEF, 0x23, 0x1B, 0x39, 0x6F}};
inline constexpr CLSID CLSID_QVCaptionVersionPage{
    0xF86EBCDC, 0xC57C, 0x4749, {0x9D, 0x12, 0xDD, 0x51, 0x82, 0xFD, 0x5A, 0x45}};

// Tabrix.ax
inline constexpr ICModuleInfo kICModuleSIAnalyzer{
    u"QV SI Analyzer", CLSID_QVSIAnalyzer, u"QV SI Analyzer Version", CLSID_QVSIAnalyzerVersionPage,
    ICModulePins::kAnyInAnyOut};
// Streva.ax
inline constexpr ICModuleInfo kICModuleTSSource{
    u"QV TS Source", CLSID_QVTSSource, u"QV TS Source Version", CLSID_QVTSSourceVersionPage,
    ICModulePins::kTransportInOut};
// Tunova.ax
inline constexpr ICModuleInfo kICModuleBonSource{
    u"QV Bon Source", CLSID_QVBonSource, u"QV Bon Source Version", CLSID_QVBonSourceVersionPage,
    ICModulePins::kTransportOut};
// Lumiq.ax
inline constexpr ICModuleInfo kICModuleCaption{u"QV Caption", CLSID_QVCaption,
                                               u"QV Caption Version", CLSID_QVCaptionVersionPage,
                                               ICModulePins::kAnyInAnyOut};
