// platform/service.h on Windows: the console program is no service there, and Windows has no
// journal a console program's output goes to; nothing is sent, and every call says so.
#include "platform/service.h"

bool ServiceReady(const std::string&) { return false; }
bool ServiceStatus(const std::string&) { return false; }
bool ServiceStopping(const std::string&) { return false; }
bool ServiceAlive() { return false; }
std::uint64_t ServiceWatchdogMicroseconds() { return 0; }
bool JournalConnected() { return false; }
bool JournalSend(const std::vector<JournalField>&) { return false; }
