#include "tests/win32/emulator_link.h"

#include <ws2tcpip.h>

namespace e2e {

EmulatorLink::~EmulatorLink() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    if (started_) WSACleanup();
}

bool EmulatorLink::Connect(unsigned short port, std::string* why, DWORD timeoutMs) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        *why = "WSAStartup failed";
        return false;
    }
    started_ = true;
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (socket_ == INVALID_SOCKET || connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        *why = "cannot connect to 127.0.0.1:" + std::to_string(port) + ", error " + std::to_string(WSAGetLastError());
        return false;
    }
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
    return true;
}

bool EmulatorLink::Send(const std::string& line) {
    const std::string whole = line + "\n";
    return socket_ != INVALID_SOCKET && send(socket_, whole.data(), static_cast<int>(whole.size()), 0) == static_cast<int>(whole.size());
}

std::string EmulatorLink::ReadLine() {
    for (;;) {
        const std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        char buffer[4096];
        const int got = socket_ == INVALID_SOCKET ? -1 : recv(socket_, buffer, sizeof buffer, 0);
        if (got <= 0) return "error link";
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

std::string EmulatorLink::Ask(const std::string& command) { return Send(command) ? ReadLine() : "error link"; }

std::string Field(const std::string& reply, const std::string& key) {
    const std::string wanted = " " + key + "=";
    const std::size_t at = reply.find(wanted);
    if (at == std::string::npos) return std::string();
    const std::size_t from = at + wanted.size();
    return reply.substr(from, reply.find(' ', from) - from);
}

}  // namespace e2e
