// What the record of updates needs of the system: where it lives by default, the station's name,
// and enough about this process and boot to tell a record still being written from one whose
// writer is gone.
#pragma once

#include <cstdint>
#include <string>

// The default database: $XDG_STATE_HOME/veltabox/history.sqlite3 (~/.local/state/veltabox/...)
// on Linux, %LOCALAPPDATA%\SORVANTIK\VELTABOX\history.sqlite3 on Windows; the demos' own file
// beside it ("demo-history.sqlite3"). Empty when no home can be found.
std::string StateDefaultHistoryPath(bool demo);
// Makes the folders above `file` that do not exist yet (mode 0700 on Linux for the default place).
// False with `error` set (the system's words) when one cannot be made.
bool StateMakeFolderFor(const std::string& file, std::string* error);
// The host name: which station wrote a record.
std::string StateStationName();
// This boot of the system (Linux: /proc/sys/kernel/random/boot_id; Windows: the boot time).
std::string StateBootId();
std::uint32_t StateProcessId();
// True while the process `pid` of this boot is alive (a record it began may still be completed).
bool StateProcessAlive(std::uint32_t pid);
