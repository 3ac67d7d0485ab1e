#include "device/device_record.h"

#include <cstring>

DeviceRecord g_device = {INVALID_HANDLE_VALUE, nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, {}, {}, 0, 0};

void ResetDeviceRecord(DeviceRecord& record) {
    std::memset(&record, 0, sizeof record);
    record.handle = INVALID_HANDLE_VALUE;
}
