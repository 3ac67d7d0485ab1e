#include "resources/catalogue.h"

#include "platform/window.h"

void LoadMessage(std::uint32_t id, MessageBuffer& buffer) {
    buffer[0] = 0;
    UiLoadString(id, buffer, MESSAGE_BUFFER_CHARS);
}
