#include <cstdlib>

#include "app/globals.h"
#include "app/main_window.h"
#include "app/text.h"
#include "resources/catalogue.h"
#include "resources/resource_ids.h"

void AppendInfoText(const char16_t* text) {
    const std::size_t capacity = TextLength(text) + static_cast<std::size_t>(UiGetControlTextLength(IDC_INFO_TEXT)) + 1;
    auto* buffer = static_cast<char16_t*>(std::calloc(capacity, sizeof(char16_t)));
    if (buffer == nullptr) return;
    UiGetControlText(IDC_INFO_TEXT, buffer, static_cast<int>(capacity));
    TextAppend(buffer, capacity, text);
    UiSetControlText(IDC_INFO_TEXT, buffer);
    std::free(buffer);
}

void SetInfoText(std::uint32_t messageId) {
    MessageBuffer text;
    LoadMessage(messageId, text);
    UiSetControlText(IDC_INFO_TEXT, text);
}

void SetInfoTextWithInstructions(std::uint32_t situationMessageId) {
    MessageBuffer text;
    LoadMessage(situationMessageId, text);
    TextAppend(text, MESSAGE_BUFFER_CHARS, u"\r\n\r\n");
    UiSetControlText(IDC_INFO_TEXT, text);
    LoadMessage(IDS_INSTRUCTIONS, text);
    AppendInfoText(text);
}
