// The command protocol with the box: report layout, answer decoding and the query operations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/device_record.h"

constexpr std::uint8_t REPORT_ID_COMMAND = 1;
constexpr std::uint8_t REPORT_ID_RESPONSE = 2;
constexpr std::uint32_t REPORT_BUFFER_SIZE = 64;
constexpr std::uint8_t STATUS_ERROR = 0xFF;
constexpr std::uint32_t INFO_PAGE_ADDRESS = 0x0801FC00;

constexpr std::uint8_t CMD_WRITE_DATA = 0x01;
constexpr std::uint8_t CMD_SET_ADDRESS = 0x02;
constexpr std::uint8_t CMD_ERASE_PAGE = 0x03;
constexpr std::uint8_t CMD_LOCK_FLASH = 0x04;
constexpr std::uint8_t CMD_UNLOCK_FLASH = 0x05;
constexpr std::uint8_t CMD_FINISH = 0x07;
constexpr std::uint8_t CMD_GET_INFO = 0x08;
constexpr std::uint8_t CMD_READ_MEMORY = 0x0A;
constexpr std::uint8_t CMD_READ_BLOCK32 = 0x1D;
constexpr std::uint8_t CMD_READ_BLOCK40 = 0x22;

constexpr std::uint8_t READ_MEMORY_LENGTH = 12;
// The bytes an answer must bring, report ID included, to carry its fields: a CMD_GET_INFO
// answer's run to byte 15, a CMD_READ_MEMORY answer's words follow three bytes of header.
constexpr std::uint32_t INFO_ANSWER_LENGTH = 16;
constexpr std::uint32_t MEMORY_ANSWER_LENGTH = 3 + READ_MEMORY_LENGTH;
constexpr std::uint32_t CHUNK_SIZE = 16;
constexpr std::uint8_t MAX_CHUNKS = 3;
// Report ID, command, chunk count and three chunks: a bootloader box whose output reports are
// shorter would cut every full data block short while the update counts it as written.
constexpr std::uint32_t MIN_BOOTLOADER_OUTPUT_LENGTH = 3 + MAX_CHUNKS * CHUNK_SIZE;
// The protocol sets no limit on a block answer; a box that never sends one must not freeze the
// program. The box answers within a few milliseconds when it answers at all.
constexpr std::uint32_t BLOCK_ANSWER_TIMEOUT_MS = 2000;
// An info answer is requested from the box rather than waited for, but a box that does not
// answer the request must not freeze the program either.
constexpr std::uint32_t INFO_ANSWER_TIMEOUT_MS = BLOCK_ANSWER_TIMEOUT_MS;

using Report = std::uint8_t[REPORT_BUFFER_SIZE];

// Little-endian fields at any offset, aligned or not.
void PutLe32(std::uint8_t* at, std::uint32_t value);
std::uint16_t GetLe16(const std::uint8_t* at);
std::uint32_t GetLe32(const std::uint8_t* at);

// A zero-filled request: report ID, command code and first parameter byte.
void BuildRequest(Report& report, std::uint8_t command, std::uint8_t parameter);
// Writes the request with the record's output report length. False when it was not sent,
// also when the declared length does not fit the report buffer.
bool SendRequest(const DeviceRecord& record, const Report& report);

// Stores the fields of a CMD_GET_INFO answer in the layout its byte 3 selects.
void DecodeInfoAnswer(const Report& answer, DeviceRecord& record);
// A block answer: the box's error word when it refused (destination untouched), else copies
// `size` data bytes (at most REPORT_BUFFER_SIZE - 4) and returns DEV_OK.
std::int32_t DecodeBlockAnswer(const Report& answer, std::uint8_t* destination, std::size_t size);

std::int32_t QueryDeviceInfo(DeviceRecord& record);
std::int32_t ReadMemory(DeviceRecord& record, std::uint32_t words[3]);
std::int32_t ReadBlock32(DeviceRecord& record, std::uint8_t destination[32]);
std::int32_t ReadBlock40(DeviceRecord& record, std::uint8_t destination[40]);
