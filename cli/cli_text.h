// Text for the console: the catalogue's UTF-16 as UTF-8, the failure's code line, JSON strings.
#pragma once

#include <cstdint>
#include <string>

#include "lines/lines.h"

std::string Utf8Of(const char16_t* text);
// A catalogue message as UTF-8; empty for a number the catalogue does not have.
std::string MessageText(std::uint32_t id);
// Message `id` with unsigned numbers filled in (%u, %08x).
std::string MessageText(std::uint32_t id, std::uint32_t a, std::uint32_t b = 0, std::uint32_t c = 0, std::uint32_t d = 0,
                        std::uint32_t e = 0);
// "Das System meldet Fehlercode 0x...-0x...", as the dialog's failure box shows it.
std::string CodeLine(std::int32_t code, std::uint32_t lastError);
// The text cut to at most `columns` characters, never inside one; whole for 0.
std::string FitToColumns(const std::string& text, int columns);
// The versions as the dialog shows them ("1.2", "1.11", "----------" for none).
std::string BootloaderVersionText(std::uint32_t version);
std::string FirmwareVersionText(std::uint32_t version);
