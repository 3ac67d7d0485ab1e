// The emulated boxes as a process of their own, for the Windows program under Wine: Wine's HID
// stack finds them through the testbed whose directory this prints, and the end-to-end driver,
// running inside Wine, plugs them in, pulls them out and asks what they went through, over a line
// protocol on a loopback TCP port. With --native they answer as they do the Linux program's own
// hidraw backend instead (emulated_box.h, FrontDoor).
//
//   box_emulator --image resources/firmware.bin --port-file FILE [--native]
//
// Prints "UMOCKDEV_DIR=<dir>" once the testbed exists, writes the port to FILE once it listens,
// and serves until it is killed. Commands, one per line, each answered with one line that begins
// with "ok" or "error":
//
//   box NAME [pid=N] [mode=boot|app] [firmware=HEX] [bootloader=HEX] [appkind=N] [in=N] [out=N]
//            [serial=S] [fail-write=K] [pull-after=K] [silent] [block-never] [fail-first=K]
//            [old-kernel] [denied] [info-length=N] [info-length-from=K] [info-id=N] [restart]
//            [restart-version=HEX]
//                              fail-first: its first K info requests are stalled (a box
//                              just enumerated); old-kernel: hidraw refuses HIDIOCGINPUT (Linux
//                              < 5.11); denied: its node may not be opened (mode 0, as a node
//                              without the package's udev rule is to a user); info-length: its
//                              info answers come N bytes long, report ID included (0: empty),
//                              from its K-th on (1 unless told); info-id: they carry report ID N;
//                              restart: after the finish it leaves and comes back in application
//                              mode with the image's version if its flash holds the image (else it
//                              stays in its bootloader); restart-version: it comes back reporting
//                              this version
//   other NAME vid=HEX pid=HEX [serial=S]
//   plug NAME [node=N] | unplug NAME   the node, or nothing; node=N: that hidraw node, as the
//                   kernel gives the lowest free one (a box where another was just pulled out)
//   state NAME      plugged, reports taken, refusals, lock state, the flash, late answers
//   refusals NAME   every report the box refused, with the reason
//   commands NAME   the command bytes of the reports written to it, runs counted ("03*115")
//   timing NAME     from the unlock to the finish as the box received them, and the mean gap
//                   between two data blocks
//   clear           pulls everything out and forgets it
//   late-answers NAME K  its info answers after the first K come too late to be the ones the
//                   program gets (self-tests only)
//   quit            removes the testbed and ends
//
// The pacer (tests/win32/box_pacer.cpp) opens its own line with "pacer"; the emulator then sends
// it "queue" whenever it is to queue its request, and it answers "queued".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "device/protocol.h"
#include "update/engine.h"
#include "tests/emulated_box/emulated_box.h"

namespace {

struct Slot {
    int slot;
    std::vector<std::uint8_t> initialFlash;
};

std::mutex g_commandLock;  // one command at a time, whichever client sends it
std::map<std::string, Slot> g_slots;
std::vector<std::uint8_t> g_image;

std::uint32_t Number(const std::string& text) { return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 0)); }

std::string DefineBox(const std::string& name, std::istringstream& args) {
    sim::Box box = sim::MakeBox(1, true);
    std::string serial = "VB" + std::to_string(1000 + g_slots.size());
    bool denied = false;
    for (std::string arg; args >> arg;) {
        const std::size_t equals = arg.find('=');
        const std::string key = arg.substr(0, equals);
        const std::string value = equals == std::string::npos ? std::string() : arg.substr(equals + 1);
        if (key == "pid") box.productId = static_cast<std::uint16_t>(Number(value));
        else if (key == "mode") box.bootloaderMode = value != "app";
        else if (key == "firmware") box.firmwareVersion = Number(value);
        else if (key == "bootloader") box.bootloaderVersion = Number(value);
        else if (key == "appkind") box.appKind = static_cast<std::uint16_t>(Number(value));
        else if (key == "in") box.inputReportLength = static_cast<std::uint16_t>(Number(value));
        else if (key == "out") box.outputReportLength = static_cast<std::uint16_t>(Number(value));
        else if (key == "serial") serial = value;
        else if (key == "fail-write") box.faults.failWriteNumber = Number(value);
        else if (key == "pull-after") box.faults.pullOutAfterReport = Number(value);
        else if (key == "silent") box.faults.infoAnswerNever = true;
        else if (key == "fail-first") box.faults.infoRequestsFailFirst = Number(value);
        else if (key == "old-kernel") box.faults.infoRequestUnsupported = true;
        else if (key == "denied") denied = true;
        else if (key == "block-never") box.faults.blockAnswerNever = true;
        else if (key == "restart" || key == "restart-version") {
            box.restart.enabled = true;
            box.restart.image = g_image;
            box.restart.version = IMAGE_VERSION;
            if (key == "restart-version") box.restart.reportsVersion = Number(value);
        }
        else if (key == "info-length") {
            box.faults.shortAnswerLength = Number(value);
            if (box.faults.shortAnswersFrom == 0) box.faults.shortAnswersFrom = 1;
        } else if (key == "info-length-from") box.faults.shortAnswersFrom = Number(value);
        else if (key == "info-id") box.faults.answerReportId = static_cast<std::uint8_t>(Number(value));
        else return "error unknown setting " + arg;
    }
    const int slot = emu::AddBoxSlot(box, serial);
    if (denied) emu::DenyAccess(slot);
    const auto boxIndex = static_cast<std::size_t>(emu::BoxOf(slot));
    std::lock_guard<std::mutex> hold(emu::WorldLock());
    g_slots[name] = {slot, sim::g_world.boxes.at(boxIndex).flash};
    return "ok";
}

std::string DefineOther(const std::string& name, std::istringstream& args) {
    std::uint16_t vendorId = 0x046D;
    std::uint16_t productId = 0xC077;
    std::string serial = "OT" + std::to_string(1000 + g_slots.size());
    for (std::string arg; args >> arg;) {
        const std::size_t equals = arg.find('=');
        const std::string key = arg.substr(0, equals);
        const std::string value = equals == std::string::npos ? std::string() : arg.substr(equals + 1);
        if (key == "vid") vendorId = static_cast<std::uint16_t>(Number(value));
        else if (key == "pid") productId = static_cast<std::uint16_t>(Number(value));
        else if (key == "serial") serial = value;
        else return "error unknown setting " + arg;
    }
    g_slots[name] = {emu::AddOtherDeviceSlot(vendorId, productId, serial), {}};
    return "ok";
}

// "image" when the firmware area holds the image and nothing else changed, "untouched" when
// nothing changed at all, else where the first unexpected byte lies.
std::string FlashState(const Slot& slot, const sim::Box& box) {
    if (box.flash == slot.initialFlash) return "untouched";
    std::vector<std::uint8_t> expected = slot.initialFlash;
    const std::size_t start = sim::FIRMWARE_BASE - sim::FLASH_BASE;
    const std::size_t info = sim::INFO_PAGE - sim::FLASH_BASE;
    std::fill(expected.begin() + static_cast<long>(start), expected.begin() + static_cast<long>(info), 0xFF);
    std::copy(g_image.begin(), g_image.end(), expected.begin() + static_cast<long>(start));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (box.flash[i] == expected[i]) continue;
        char at[48];
        std::snprintf(at, sizeof at, "changed@0x%08zx", sim::FLASH_BASE + i);
        return at;
    }
    return "image";
}

std::string State(const Slot& slot) {
    const int boxIndex = emu::BoxOf(slot.slot);
    const int late = emu::LateAnswers(slot.slot);
    const int unpaced = emu::UnpacedAnswers(slot.slot);
    const bool plugged = emu::IsPlugged(slot.slot);
    std::ostringstream out;
    out << "ok plugged=" << plugged;
    if (boxIndex >= 0) {
        std::lock_guard<std::mutex> hold(emu::WorldLock());
        const sim::Box& box = sim::g_world.boxes.at(static_cast<std::size_t>(boxIndex));
        out << " reports=" << box.reportsReceived << " refused=" << box.violations.size() << " unlocked=" << box.unlocked
            << " finished=" << box.finished << " flash=" << FlashState(slot, box) << " late=" << late << " unpaced=" << unpaced;
    }
    return out.str();
}

std::string Refusals(const Slot& slot) {
    const int boxIndex = emu::BoxOf(slot.slot);
    if (boxIndex < 0) return "ok";
    std::lock_guard<std::mutex> hold(emu::WorldLock());
    std::string out = "ok";
    for (const std::string& refusal : sim::g_world.boxes.at(static_cast<std::size_t>(boxIndex)).violations) out += " | " + refusal;
    return out;
}

std::string Commands(const Slot& slot) {
    const int boxIndex = emu::BoxOf(slot.slot);
    std::lock_guard<std::mutex> hold(emu::WorldLock());
    std::vector<std::string> commands;
    for (const sim::WireEntry& entry : sim::g_world.wire) {
        if (entry.box != boxIndex || entry.direction != sim::Direction::Output || entry.bytes.size() < 2) continue;
        char code[8];
        std::snprintf(code, sizeof code, "%s%02x", entry.ok ? "" : "!", entry.bytes[1]);
        commands.push_back(code);
    }
    std::string out = "ok";
    for (std::size_t i = 0; i < commands.size();) {
        std::size_t run = 1;
        while (i + run < commands.size() && commands[i + run] == commands[i]) ++run;
        out += " " + commands[i] + (run > 1 ? "*" + std::to_string(run) : std::string());
        i += run;
    }
    return out;
}

std::string Timing(const Slot& slot) {
    const int box = emu::BoxOf(slot.slot);
    const std::vector<std::uint64_t> unlocks = emu::ArrivalsAtBox(box, CMD_UNLOCK_FLASH);
    const std::vector<std::uint64_t> finishes = emu::ArrivalsAtBox(box, CMD_FINISH);
    const std::vector<std::uint64_t> blocks = emu::ArrivalsAtBox(box, CMD_WRITE_DATA);
    if (unlocks.empty() || finishes.empty() || finishes.back() < unlocks.back() || blocks.size() < 2)
        return "error no whole update";
    const double unlockToFinish = static_cast<double>(finishes.back() - unlocks.back()) / 1e6;
    const double dataGapMs = static_cast<double>(blocks.back() - blocks.front()) / 1e3 / static_cast<double>(blocks.size() - 1);
    char text[96];
    std::snprintf(text, sizeof text, "ok unlock-to-finish=%.3f data-gap=%.3f", unlockToFinish, dataGapMs);
    return text;
}

std::string Execute(const std::string& line) {
    std::istringstream words(line);
    std::string verb;
    std::string name;
    words >> verb >> name;
    if (verb == "box") return DefineBox(name, words);
    if (verb == "other") return DefineOther(name, words);
    if (verb == "clear") {
        for (auto& entry : g_slots) emu::Unplug(entry.second.slot);
        g_slots.clear();
        return "ok";
    }
    const auto found = g_slots.find(name);
    if (found == g_slots.end()) return "error no device " + name;
    const Slot& slot = found->second;
    if (verb == "plug") {
        int wanted = -1;
        std::string arg;
        if (words >> arg) {
            if (arg.rfind("node=", 0) != 0) return "error unknown setting " + arg;
            wanted = static_cast<int>(Number(arg.substr(5)));
        }
        const std::string node = emu::Plug(slot.slot, wanted);
        return node.empty() ? "error could not plug " + name : "ok " + node;
    }
    if (verb == "unplug") {
        emu::Unplug(slot.slot);
        return "ok";
    }

    if (verb == "late-answers") {
        int onTime = 0;
        words >> onTime;
        emu::SetAnswersLate(slot.slot, onTime);
        return "ok";
    }
    if (verb == "state") return State(slot);
    if (verb == "refusals") return Refusals(slot);
    if (verb == "commands") return Commands(slot);
    if (verb == "timing") return Timing(slot);
    return "error unknown command " + verb;
}

// The pacer's line: "queue" goes out from whichever thread paces, "queued" comes back.
void ServePacer(int client, std::string pending) {
    emu::SetPacer([client] {
        if (send(client, "queue\n", 6, MSG_NOSIGNAL) != 6) std::perror("box_emulator: asking the pacer");
    });
    char buffer[256];
    for (;;) {
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            if (pending.compare(0, end, "queued") == 0 || pending.compare(0, end, "queued\r") == 0) emu::PacerQueued();
            pending.erase(0, end + 1);
        }
        const ssize_t got = recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(got));
    }
    emu::SetPacer(nullptr);
}

void Serve(int client) {
    std::string pending;
    char buffer[1024];
    for (;;) {
        const ssize_t got = recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) return;
        pending.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line == "pacer") return ServePacer(client, pending);
            if (line == "quit") {
                emu::Stop();
                send(client, "ok\n", 3, MSG_NOSIGNAL);
                std::exit(0);
            }
            std::string reply;
            {
                std::lock_guard<std::mutex> hold(g_commandLock);
                reply = Execute(line) + "\n";
            }
            if (send(client, reply.data(), reply.size(), MSG_NOSIGNAL) < 0) return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string imagePath;
    std::string portFile;
    emu::FrontDoor door = emu::FrontDoor::Wine;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--native") == 0) door = emu::FrontDoor::Native;
        else if (std::strcmp(argv[i], "--image") == 0 && i + 1 < argc) imagePath = argv[++i];
        else if (std::strcmp(argv[i], "--port-file") == 0 && i + 1 < argc) portFile = argv[++i];
    }
    std::ifstream image(imagePath, std::ios::binary);
    g_image.assign(std::istreambuf_iterator<char>(image), std::istreambuf_iterator<char>());
    if (g_image.empty() || portFile.empty()) {
        std::fprintf(stderr, "usage: box_emulator --image FIRMWARE --port-file FILE [--native]\n");
        return 2;
    }
    std::string error;
    if (!emu::Start(door, &error)) {
        std::fprintf(stderr, "box_emulator: %s\n", error.c_str());
        return 1;
    }
    std::printf("UMOCKDEV_DIR=%s\n", emu::TestbedDirectory().c_str());
    std::fflush(stdout);

    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("box_emulator: control port");
        return 1;
    }
    {
        std::ofstream port(portFile + ".tmp");
        port << ntohs(address.sin_port) << "\n";
    }
    std::rename((portFile + ".tmp").c_str(), portFile.c_str());
    // The runner and the driver inside Wine each keep a line open.
    for (;;) {
        const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        std::thread([client] {
            Serve(client);
            close(client);
        }).detach();
    }
}
