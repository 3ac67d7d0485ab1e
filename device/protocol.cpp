#include "device/protocol.h"

#include <cstring>

#include "platform/hid.h"

void PutLe32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint16_t GetLe16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

std::uint32_t GetLe32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

void BuildRequest(Report& report, std::uint8_t command, std::uint8_t parameter) {
    std::memset(report, 0, sizeof report);
    report[0] = REPORT_ID_COMMAND;
    report[1] = command;
    report[2] = parameter;
}

bool SendRequest(const DeviceRecord& record, const Report& report) {
    // The system would read past the buffer for a longer declared length.
    if (record.outputReportLength > REPORT_BUFFER_SIZE) return false;
    return HidWriteReport(record.handle, report, record.outputReportLength);
}

void DecodeInfoAnswer(const Report& answer, DeviceRecord& record) {
    record.bootloaderMode = answer[3];
    if (record.bootloaderMode != 0) {
        record.bootInfo1 = answer[4];
        record.bootInfo2 = GetLe16(answer + 5);
        record.bootloaderVersion = GetLe32(answer + 7);
        record.bootInfo3 = GetLe32(answer + 11);
        record.bootInfo4 = answer[15];
    } else {
        record.appKind = GetLe16(answer + 4);
        record.appInfo = GetLe16(answer + 6);
        record.firmwareVersion = GetLe32(answer + 8);
        record.firmwareInfo = GetLe32(answer + 12);
    }
}

std::int32_t DecodeBlockAnswer(const Report& answer, std::uint8_t* destination, std::size_t size) {
    if (answer[1] == STATUS_ERROR) return GetLe16(answer + 4);
    if (size > REPORT_BUFFER_SIZE - 4) size = REPORT_BUFFER_SIZE - 4;
    std::memcpy(destination, answer + 4, size);
    return DEV_OK;
}

namespace {

// An answer short of the `fields` bytes it carries, or one to another report, is a failed query:
// decoded from the zeroed buffer, it would read as application mode, or as a firmware so old
// that any image is newer.
std::int32_t FetchInfoAnswer(const DeviceRecord& record, Report& answer, std::uint32_t fields) {
    std::memset(answer, 0, sizeof answer);
    answer[0] = REPORT_ID_RESPONSE;
    std::uint32_t received = 0;
    switch (HidGetInputReport(record.handle, answer, REPORT_BUFFER_SIZE, INFO_ANSWER_TIMEOUT_MS, &received)) {
        case HidStatus::Ok:
            return received >= fields && answer[0] == REPORT_ID_RESPONSE ? DEV_OK : DEV_ERR_READ;
        case HidStatus::Unsupported:
            return DEV_ERR_UNSUPPORTED;  // no box can be asked on this system; asking again is useless
        default:
            return DEV_ERR_READ;
    }
}

std::int32_t ReadBlock(DeviceRecord& record, const Report& request, std::uint8_t* destination, std::size_t size) {
    if (record.handle == INVALID_HANDLE_VALUE) return DEV_ERR_UNUSABLE;
    if (!SendRequest(record, request)) return DEV_ERR_WRITE;
    Report answer = {};
    answer[0] = REPORT_ID_RESPONSE;
    // The declared length was checked against the buffer when the box was queried; a record
    // filled some other way must still not make the read overrun it.
    if (record.inputReportLength > REPORT_BUFFER_SIZE) return DEV_ERR_READ;
    if (!HidReadReport(record.handle, answer, record.inputReportLength, BLOCK_ANSWER_TIMEOUT_MS)) return DEV_ERR_READ;
    return DecodeBlockAnswer(answer, destination, size);
}

}  // namespace

std::int32_t ReadMemory(DeviceRecord& record, std::uint32_t words[3]) {
    if (record.handle == INVALID_HANDLE_VALUE) return DEV_ERR_UNUSABLE;
    Report request;
    BuildRequest(request, CMD_READ_MEMORY, READ_MEMORY_LENGTH);
    PutLe32(request + 3, INFO_PAGE_ADDRESS);
    if (!SendRequest(record, request)) return DEV_ERR_UNUSABLE;
    Report answer;
    const std::int32_t fetched = FetchInfoAnswer(record, answer, MEMORY_ANSWER_LENGTH);
    if (fetched != DEV_OK) return fetched;
    for (int i = 0; i < 3; ++i) words[i] = GetLe32(answer + 3 + 4 * i);
    return DEV_OK;
}

std::int32_t ReadBlock32(DeviceRecord& record, std::uint8_t destination[32]) {
    Report request;
    BuildRequest(request, CMD_READ_BLOCK32, 8);
    request[3] = 0;
    PutLe32(request + 4, 32);
    PutLe32(request + 8, 0xFFFFFFE0u);
    return ReadBlock(record, request, destination, 32);
}

std::int32_t ReadBlock40(DeviceRecord& record, std::uint8_t destination[40]) {
    Report request;
    BuildRequest(request, CMD_READ_BLOCK40, 0);
    return ReadBlock(record, request, destination, 40);
}

std::int32_t QueryDeviceInfo(DeviceRecord& record) {
    if (record.handle == INVALID_HANDLE_VALUE || record.devicePath == nullptr) return DEV_ERR_UNUSABLE;
    std::uint16_t inputLength = 0;
    std::uint16_t outputLength = 0;
    if (!HidGetReportLengths(record.handle, &inputLength, &outputLength)) return DEV_ERR_UNUSABLE;
    record.outputReportLength = outputLength;
    record.inputReportLength = inputLength;
    // Reports longer than the buffers could only be sent or received by reading or writing
    // past them: such a box is refused before anything is sent to it.
    if (inputLength > REPORT_BUFFER_SIZE || outputLength > REPORT_BUFFER_SIZE) return DEV_ERR_UNUSABLE;

    Report request;
    BuildRequest(request, CMD_GET_INFO, 0);
    if (!SendRequest(record, request)) return DEV_ERR_WRITE;
    Report answer;
    const std::int32_t fetched = FetchInfoAnswer(record, answer, INFO_ANSWER_LENGTH);
    if (fetched != DEV_OK) return fetched;
    DecodeInfoAnswer(answer, record);

    if (record.bootloaderMode != 0) {
        // Refused here, while nothing has been erased: its data reports would lose their tail.
        if (record.outputReportLength < MIN_BOOTLOADER_OUTPUT_LENGTH) return DEV_ERR_UNUSABLE;
        std::uint32_t words[3] = {};
        const std::int32_t result = ReadMemory(record, words);
        if (result != DEV_OK) return result;
        record.firmwareVersion = words[1];
        record.firmwareInfo = words[2];
        return DEV_OK;
    }
    if (record.appKind != 3) return DEV_OK;
    const std::int32_t result = ReadBlock32(record, record.block32);
    if (result != DEV_OK) return result;
    return ReadBlock40(record, record.block40);
}
