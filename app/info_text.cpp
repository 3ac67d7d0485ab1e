#include <cstdlib>

#include "app/globals.h"
#include "app/main_window.h"
#include "app/text.h"
#include "resources/catalogue.h"
#include "resources/resource_ids.h"

void AppendInfoText(const char16_t* text, WindowHandle edit) {
    const std::size_t capacity = TextLength(text) + static_cast<std::size_t>(UiGetWindowTextLength(edit)) + 1;
    auto* buffer = static_cast<char16_t*>(std::calloc(capacity, sizeof(char16_t)));
    if (buffer == nullptr) return;
    UiGetWindowText(edit, buffer, static_cast<int>(capacity));
    TextAppend(buffer, capacity, text);
    UiSetWindowText(edit, buffer);
    std::free(buffer);
}

void SetInfoText(std::uint32_t messageId) {
    MessageBuffer text;
    LoadMessage(messageId, text);
    UiSetWindowText(UiGetControl(g_hMainDlg, IDC_INFO_TEXT), text);
}

void SetInfoTextWithInstructions(std::uint32_t situationMessageId) {
    MessageBuffer text;
    LoadMessage(situationMessageId, text);
    TextAppend(text, MESSAGE_BUFFER_CHARS, u"\r\n\r\n");
    const WindowHandle edit = UiGetControl(g_hMainDlg, IDC_INFO_TEXT);
    UiSetWindowText(edit, text);
    LoadMessage(IDS_INSTRUCTIONS, text);
    AppendInfoText(text, edit);
}
