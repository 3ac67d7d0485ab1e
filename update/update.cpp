#include "update/update.h"

#include <cstring>

#include "app/globals.h"
#include "app/main_window.h"
#include "app/text.h"
#include "platform/window_constants.h"
#include "device/discovery.h"
#include "device/flash.h"
#include "device/protocol.h"
#include "platform/system.h"
#include "resources/catalogue.h"
#include "resources/resource_ids.h"

namespace {

// Why a run ended early: the failing step's message and result, and the system's error code
// taken right after the step.
struct Failure {
    std::uint32_t messageId;
    std::int32_t code;
    std::uint32_t lastError;
};

constexpr std::uint32_t NO_SYSTEM_ERROR = 0;
constexpr Failure NO_FAILURE = {0, DEV_OK, NO_SYSTEM_ERROR};

Failure Failed(std::uint32_t messageId, std::int32_t code) { return {messageId, code, SystemLastError()}; }

// Sends the image block by block with the progress window up; destroys the window before it
// returns, after the last error of a failed block has been taken.
Failure TransferImage(const std::uint8_t* image, std::uint32_t size) {
    MessageBuffer text;
    LoadMessage(IDS_WRITING, text);
    WindowRect main{};
    UiGetWindowRect(g_hMainDlg, &main);
    std::int32_t x = 0;
    std::int32_t y = 0;
    ProgressWindowOrigin(main, &x, &y);
    const WindowHandle progress = UiCreateProgressWindow(text, x, y, PROGRESS_WIDTH, PROGRESS_HEIGHT, g_hMainDlg, g_hInstance);
    UiSetProgressPosition(progress, 0);
    UiBringToTop(g_hMainDlg);
    UiBringToTop(progress);
    WindowHandle remembered = 0;

    std::uint32_t remaining = size;
    const std::uint8_t* position = image;
    while (remaining > 0) {
        std::int32_t result;
        if (remaining >= BLOCK_SIZE) {
            result = WriteData(g_device, MAX_CHUNKS, position);
            remaining -= BLOCK_SIZE;
            position += BLOCK_SIZE;
        } else {
            std::uint8_t staging[BLOCK_SIZE];
            std::memset(staging, FILL_BYTE, sizeof staging);
            std::memcpy(staging, position, remaining);
            result = WriteData(g_device, static_cast<std::uint8_t>(remaining / CHUNK_SIZE), staging);
            remaining = 0;
        }
        if (result != DEV_OK) {
            const Failure failure = Failed(IDS_WRITE_BLOCK_FAILED, result);
            UiDestroyWindow(progress);
            return failure;
        }
        // The box's 20 ms run from the moment the block reached it. The window work below takes
        // its time out of them, instead of adding to every one of the 1311 blocks.
        const std::uint64_t written = SystemClockMicroseconds();
        UiSetProgressPosition(progress, ProgressPosition(size, remaining));
        KeepInFront(progress, &remembered);
        SystemPauseUntil(written + STEP_PAUSE_MS * 1000u);
    }
    UiDestroyWindow(progress);
    return NO_FAILURE;
}

// Everything from the unlock to the finish. The box is erased from the first page on, so no
// step may be skipped or reordered, and the pauses are what keeps the box in step.
Failure WriteFirmware(const std::uint8_t* image, std::uint32_t size) {
    std::int32_t result = UnlockFlash(g_device);
    if (result != DEV_OK) return Failed(IDS_UNLOCK_FAILED, result);
    SystemPause(STEP_PAUSE_MS);
    result = ErasePages(g_device, IMAGE_START_ADDRESS, [](void*) { UiServeDesktop(); }, nullptr);
    if (result != DEV_OK) return Failed(IDS_ERASE_FAILED, result);
    SystemPause(STEP_PAUSE_MS);
    result = SetAddress(g_device, IMAGE_START_ADDRESS);
    if (result != DEV_OK) return Failed(IDS_SET_ADDRESS_FAILED, result);
    SystemPause(STEP_PAUSE_MS);
    const Failure failure = TransferImage(image, size);
    if (failure.code != DEV_OK) return failure;
    // The box holds the whole image now, but only the lock and the finish make it the box's
    // firmware. When either report does not get through, the user is told that the end of the
    // transfer failed and updates again, rather than unplugging a box that never finished.
    result = LockFlash(g_device);
    if (result != DEV_OK) return Failed(IDS_WRITE_BLOCK_FAILED, result);
    g_device.firmwareVersion = IMAGE_VERSION;
    result = SendFinish(g_device);
    if (result != DEV_OK) return Failed(IDS_WRITE_BLOCK_FAILED, result);
    return NO_FAILURE;
}

bool UserConfirmsOlderFirmware() {
    const std::uint32_t installed = g_device.firmwareVersion;
    if (installed < IMAGE_VERSION || installed == NO_FIRMWARE_VERSION) return true;
    MessageBuffer caption;
    MessageBuffer text;
    LoadMessage(IDS_NEWER_FIRMWARE_FOUND, caption);
    LoadMessage(IDS_OLDER_FIRMWARE_QUESTION, text);
    return UiMessageBox(g_hMainDlg, text, caption, MB_YESNO | MB_ICONWARNING) == IDYES;
}

// An image the box could not take whole: empty, not whole 16-byte chunks (the tail would be
// dropped) or larger than the erased area.
bool IsWritableImage(std::uint32_t size) { return size > 0 && size % CHUNK_SIZE == 0 && size <= IMAGE_CAPACITY; }

void ReportFailure(const Failure& failure) {
    MessageBuffer caption;
    MessageBuffer text;
    LoadMessage(IDS_UPDATE_FAILED, caption);
    LoadMessage(failure.messageId, text);
    ReportUpdateFailure(failure.code, text, caption, failure.lastError);
}

}  // namespace

void RunUpdate() {
    if (!IsDeviceHeld(g_device)) {
        MessageBuffer caption;
        MessageBuffer text;
        LoadMessage(IDS_UPDATE_FAILED, caption);
        LoadMessage(IDS_BOX_GONE, text);
        ReportUpdateFailure(-1, text, caption, SystemLastError());
        return;
    }
    if (!UserConfirmsOlderFirmware()) return;

    const std::uint8_t* image = nullptr;
    std::uint32_t size = 0;
    if (!UiLoadRawResource(g_hInstance, IDR_FIRMWARE, &image, &size) || !IsWritableImage(size)) {
        // Caught before the first report: the box keeps its firmware. The code line shows the
        // system error 0 (ERROR_SUCCESS, no system call failed): the refusal is the program's
        // own, and whatever an earlier call left in the last error has nothing to do with it.
        return ReportFailure({IDS_UNLOCK_FAILED, DEV_ERR_ARGUMENT, NO_SYSTEM_ERROR});
    }

    MessageBuffer reason;
    LoadMessage(IDS_WRITING, reason);
    UiBeginBusy(g_hMainDlg, reason);
    const Failure failure = WriteFirmware(image, size);
    UiEndBusy(g_hMainDlg);
    if (failure.code != DEV_OK) return ReportFailure(failure);

    UiEnableWindow(UiGetControl(g_hMainDlg, IDC_UPDATE), false);
    ShowVersions();
    SetInfoText(IDS_SUCCESS);
}

void ReportUpdateFailure(std::int32_t code, const char16_t* text, const char16_t* caption, std::uint32_t lastError) {
    CloseDevice(g_device);
    UiEnableWindow(UiGetControl(g_hMainDlg, IDC_UPDATE), false);
    ShowVersions();
    MessageBuffer box;
    box[0] = 0;
    TextAppend(box, MESSAGE_BUFFER_CHARS, text);
    if (code != -1) {
        MessageBuffer format;
        MessageBuffer line;
        LoadMessage(IDS_SYSTEM_ERROR_CODE, format);
        FormatText(line, MESSAGE_BUFFER_CHARS, format, {static_cast<std::uint32_t>(code), lastError});
        TextAppend(box, MESSAGE_BUFFER_CHARS, u"\r\n");
        TextAppend(box, MESSAGE_BUFFER_CHARS, line);
    }
    UiMessageBox(g_hMainDlg, box, caption, MB_ICONERROR);
    SetInfoText(IDS_RETRY);
}
