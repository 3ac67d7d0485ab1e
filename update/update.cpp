#include "update/update.h"

#include "app/globals.h"
#include "app/main_window.h"
#include "app/text.h"
#include "device/discovery.h"
#include "platform/system.h"
#include "resources/catalogue.h"
#include "resources/resource_ids.h"

namespace {

// What the dialog makes of the update's steps: the version question as a message box, the
// system held awake, the desktop answered in the box's pauses, the progress window with its
// keep-in-front rule during the transfer.
struct DialogUpdate {
    WindowHandle progress;
    WindowHandle remembered;
};

bool AskAboutOlderImage(void*) {
    MessageBuffer caption;
    MessageBuffer text;
    LoadMessage(IDS_NEWER_FIRMWARE_FOUND, caption);
    LoadMessage(IDS_OLDER_FIRMWARE_QUESTION, text);
    return UiAskYesNo(text, caption);
}

void HoldOffSleep(void*) {
    MessageBuffer reason;
    LoadMessage(IDS_WRITING, reason);
    UiBeginBusy(reason);
}

void LetSleep(void*) { UiEndBusy(); }

void ServeDesktop(void*, std::uint32_t microsecondsLeft) { UiServeDesktop(microsecondsLeft); }

void OpenProgressWindow(void* context) {
    auto* update = static_cast<DialogUpdate*>(context);
    MessageBuffer text;
    LoadMessage(IDS_WRITING, text);
    WindowRect main{};
    UiGetWindowRect(g_hMainDlg, &main);
    std::int32_t x = 0;
    std::int32_t y = 0;
    ProgressWindowOrigin(main, &x, &y);
    update->progress = UiCreateProgressWindow(text, x, y, PROGRESS_WIDTH, PROGRESS_HEIGHT);
    UiSetProgressPosition(update->progress, 0);
    UiBringToTop(g_hMainDlg);
    UiBringToTop(update->progress);
    update->remembered = 0;
}

void ShowProgress(void* context, std::uint32_t percent) {
    auto* update = static_cast<DialogUpdate*>(context);
    UiSetProgressPosition(update->progress, percent);
    KeepInFront(update->progress, &update->remembered);
}

void CloseProgressWindow(void* context) { UiCloseProgressWindow(static_cast<DialogUpdate*>(context)->progress); }

void ReportFailure(const UpdateResult& failure) {
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
    // A missing resource reaches the update as an empty image, which it refuses after the
    // question, before anything is sent.
    const std::uint8_t* image = nullptr;
    std::uint32_t size = 0;
    if (!UiLoadRawResource(IDR_FIRMWARE, &image, &size)) size = 0;

    DialogUpdate update = {0, 0};
    const UpdateObserver observer = {&update,      AskAboutOlderImage, HoldOffSleep,        LetSleep,
                                     nullptr,      OpenProgressWindow, CloseProgressWindow, ShowProgress,
                                     ServeDesktop, nullptr};
    const UpdateResult result = UpdateBox(g_device, image, size, observer);
    if (result.outcome == UpdateOutcome::Declined) return;
    if (result.outcome != UpdateOutcome::Updated) return ReportFailure(result);  // the dialog never cuts off

    UiEnableControl(IDC_UPDATE, false);
    ShowVersions();
    SetInfoText(IDS_SUCCESS);
}

void ReportUpdateFailure(std::int32_t code, const char16_t* text, const char16_t* caption, std::uint32_t lastError) {
    CloseDevice(g_device);
    UiEnableControl(IDC_UPDATE, false);
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
    UiShowError(box, caption);
    SetInfoText(IDS_RETRY);
}
