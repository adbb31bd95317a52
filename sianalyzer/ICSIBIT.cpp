#include "sianalyzer/ICSIBIT.h"

#include <cstring>

uint16_t ICSISIParameter::GetUpdateTime(uint16_t* year, uint8_t* month, uint8_t* day) const {
    const ICSIDateTime date = sitime::FromMJD(updateTime);
    if (year) {
        *year = date.year;
    }
    if (month) {
        *month = date.month;
    }
    if (day) {
        *day = date.day;
    }
    return updateTime;
}

void ICSISIParameter::IndexTables() {
    tableOffsets.clear();
    size_t offset = 0;
    while (offset + 2 <= data.size() && offset + 2 + data[offset + 1] <= data.size()) {
        tableOffsets.push_back(static_cast<uint32_t>(offset));
        offset += 2 + data[offset + 1];
    }
}

int32_t ICSISIParameter::CopyTable(int32_t index, uint8_t* destination) const {
    const uint8_t* table = GetTable(index);
    if (table == nullptr) {
        return 0;
    }
    const int32_t size = table[1] + 2;
    if (destination) {
        std::memcpy(destination, table, static_cast<size_t>(size));
    }
    return size;
}

const uint8_t* ICSISIParameter::GetTable(int32_t index) const {
    if (index < 0 || index >= GetTableCount()) {
        return nullptr;
    }
    return data.data() + tableOffsets[index];
}
