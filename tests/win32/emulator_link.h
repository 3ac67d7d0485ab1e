// The end-to-end driver's line to the box emulator (tests/emulated_box/box_emulator.cpp), which
// runs outside Wine and listens on a loopback port: Winsock under Wine is the host's socket.
#pragma once

#include <winsock2.h>

#include <string>

namespace e2e {

class EmulatorLink {
public:
    EmulatorLink() = default;
    EmulatorLink(const EmulatorLink&) = delete;
    EmulatorLink& operator=(const EmulatorLink&) = delete;
    ~EmulatorLink();

    // A read waits `timeoutMs` for the emulator at the most; 0 waits as long as it takes.
    bool Connect(unsigned short port, std::string* why, DWORD timeoutMs = 10000);
    // Sends one command and returns its reply line, "ok ..." or "error ..."; "error link" when
    // the emulator did not answer in time.
    std::string Ask(const std::string& command);
    bool Send(const std::string& line);
    // The next line from the emulator, without its end; "error link" when none came.
    std::string ReadLine();

private:
    SOCKET socket_ = INVALID_SOCKET;
    bool started_ = false;
    std::string pending_;
};

// The value of `key` in a reply of key=value words; empty when it is not there.
std::string Field(const std::string& reply, const std::string& key);

}  // namespace e2e
