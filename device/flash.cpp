#include "device/flash.h"

#include <cstring>

#include "device/protocol.h"
#include "platform/system.h"

namespace {

std::int32_t SendCommand(const DeviceRecord& record, std::uint8_t command) {
    Report request;
    BuildRequest(request, command, 0);
    return SendRequest(record, request) ? DEV_OK : DEV_ERR_WRITE;
}

std::int32_t SendAddressCommand(const DeviceRecord& record, std::uint8_t command, std::uint32_t address) {
    Report request;
    BuildRequest(request, command, 4);
    PutLe32(request + 3, address);
    return SendRequest(record, request) ? DEV_OK : DEV_ERR_WRITE;
}

}  // namespace

std::int32_t UnlockFlash(DeviceRecord& record) { return SendCommand(record, CMD_UNLOCK_FLASH); }

std::int32_t LockFlash(DeviceRecord& record) { return SendCommand(record, CMD_LOCK_FLASH); }

std::int32_t SendFinish(DeviceRecord& record) { return SendCommand(record, CMD_FINISH); }

std::int32_t ErasePages(DeviceRecord& record, std::uint32_t start, PageErased afterPage, void* context) {
    if (start > ERASE_LAST_ADDRESS) return DEV_ERR_ARGUMENT;
    for (std::uint32_t page = start & ~(FLASH_PAGE_SIZE - 1); page <= ERASE_LAST_ADDRESS; page += FLASH_PAGE_SIZE) {
        const std::int32_t result = SendAddressCommand(record, CMD_ERASE_PAGE, page);
        // The box may be busy with the page even when the report was lost; the caller's next
        // report must not find it mid-erase. The 40 ms run from the command's write, so what the
        // caller does meanwhile comes out of them.
        const std::uint64_t pauseEnds = SystemClockMicroseconds() + ERASE_PAUSE_MS * 1000u;
        const bool goOn = result != DEV_OK || afterPage == nullptr || afterPage(context, pauseEnds);
        SystemPauseUntil(pauseEnds);
        if (result != DEV_OK) return result;
        if (!goOn) return DEV_ERR_STOPPED;
    }
    return DEV_OK;
}

std::int32_t SetAddress(DeviceRecord& record, std::uint32_t address) {
    if (address >= FLASH_ADDRESS_LIMIT) return DEV_ERR_ARGUMENT;
    return SendAddressCommand(record, CMD_SET_ADDRESS, address);
}

std::int32_t WriteData(DeviceRecord& record, std::uint8_t chunks, const std::uint8_t* data) {
    if (data == nullptr || chunks == 0 || chunks > MAX_CHUNKS) return DEV_ERR_ARGUMENT;
    Report request;
    BuildRequest(request, CMD_WRITE_DATA, chunks);
    std::memcpy(request + 3, data, chunks * CHUNK_SIZE);
    return SendRequest(record, request) ? DEV_OK : DEV_ERR_WRITE;
}
