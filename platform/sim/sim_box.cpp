// The box's side of the protocol, as its bootloader and application firmware behave.
#include "platform/sim/sim_box.h"

#include <chrono>
#include <cstdio>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/pause_plan.h"

namespace sim {

World g_world;

namespace {

thread_local std::uint64_t t_virtualNowUs = 0;
thread_local std::uint32_t t_lastError = 0;

std::uint32_t Le32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

void PutLe16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void PutLe32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t SteadyUs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

void Refuse(Box& box, const char* what, std::uint8_t command) {
    char text[160];
    std::snprintf(text, sizeof text, "t=%llu us command 0x%02x: %s",
                  static_cast<unsigned long long>(NowUs()), command, what);
    box.violations.emplace_back(text);
}

bool InFirmwareArea(std::uint32_t address, std::uint32_t length) {
    return address >= FIRMWARE_BASE && address < INFO_PAGE && length <= INFO_PAGE - address;
}

std::uint8_t* FlashAt(Box& box, std::uint32_t address) { return box.flash.data() + (address - FLASH_BASE); }

void BuildFlash(Box& box) {
    box.flash.assign(FLASH_SIZE, 0xFF);
    // The bootloader's own code, and an old firmware that an update must erase before it writes.
    for (std::uint32_t i = 0; i < FIRMWARE_BASE - FLASH_BASE; ++i) box.flash[i] = static_cast<std::uint8_t>(i * 7 ^ 0x5A);
    for (std::uint32_t i = 0; i < 0x8000; ++i) box.flash[FIRMWARE_BASE - FLASH_BASE + i] = static_cast<std::uint8_t>(i * 13 + 1);
    if (box.firmwareVersion != 0xFFFFFFFFu) {
        std::uint8_t* page = FlashAt(box, INFO_PAGE);
        PutLe32(page, 0x544C4556);  // "VELT"
        PutLe32(page + 4, box.firmwareVersion);
        PutLe32(page + 8, 0x00000001);
    }
}

// Bytes 1 and 2 of an info answer mean nothing to the program; the box numbers its answers there
// with the report they answer, so that a front door which could hand out an older answer is caught.
void BeginInfoAnswer(Box& box) {
    std::memset(box.infoAnswer, 0, sizeof box.infoAnswer);
    box.infoAnswer[0] = 2;
    PutLe16(box.infoAnswer + 1, static_cast<std::uint16_t>(box.reportsReceived));
    ++box.infoAnswers;
}

void AnswerInfo(Box& box) {
    BeginInfoAnswer(box);
    if (box.bootloaderMode) {
        box.infoAnswer[3] = 1;
        box.infoAnswer[4] = 0x11;
        PutLe16(box.infoAnswer + 5, 0x2233);
        PutLe32(box.infoAnswer + 7, box.bootloaderVersion);
        PutLe32(box.infoAnswer + 11, 0x44556677);
        box.infoAnswer[15] = 0x88;
    } else {
        PutLe16(box.infoAnswer + 4, box.appKind);
        PutLe16(box.infoAnswer + 6, 0x0102);
        PutLe32(box.infoAnswer + 8, box.firmwareVersion);
        PutLe32(box.infoAnswer + 12, 0x0A0B0C0D);
    }
}

void AnswerMemory(Box& box, const std::uint8_t* report) {
    BeginInfoAnswer(box);
    const std::uint32_t address = Le32(report + 3);
    const std::uint32_t count = report[2] < 61 ? report[2] : 61;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t at = address + i;
        if (at >= FLASH_BASE && at - FLASH_BASE < FLASH_SIZE) box.infoAnswer[3 + i] = box.flash[at - FLASH_BASE];
    }
}

void QueueBlockAnswer(Box& box, std::uint32_t size) {
    if (box.faults.blockAnswerNever || box.inputReportLength == 0) return;
    std::vector<std::uint8_t> answer(64 > box.inputReportLength ? 64 : box.inputReportLength, 0);
    answer[0] = 2;
    if (box.faults.blockAnswerRefused) {
        answer[1] = 0xFF;
        PutLe16(answer.data() + 4, box.faults.blockErrorWord);
    } else {
        for (std::uint32_t i = 0; i < size; ++i) answer[4 + i] = static_cast<std::uint8_t>(0xC0 + size + i);
    }
    answer.resize(box.inputReportLength);
    box.inputQueue.push_back(answer);
}

void FlashCommand(Box& box, const std::uint8_t* report, std::uint32_t length) {
    const std::uint8_t command = report[1];
    if (!box.bootloaderMode) return Refuse(box, "flash command in application mode", command);
    const std::uint64_t now = NowUs();
    if (now < box.busyUntilUs) return Refuse(box, "arrived while the box was still busy (pacing)", command);
    switch (command) {
        case 0x05:  // unlock
            box.unlocked = true;
            box.busyUntilUs = now + STEP_PACING_US;
            return;
        case 0x04:  // lock
            box.unlocked = false;
            return;
        case 0x07:  // finish: the bootloader starts the new firmware
            box.finished = true;
            box.restartDue = box.restart.enabled && !box.restart.image.empty() &&
                             box.restart.image.size() <= INFO_PAGE - FIRMWARE_BASE &&
                             std::equal(box.restart.image.begin(), box.restart.image.end(), FlashAt(box, FIRMWARE_BASE));
            return;
        case 0x03: {  // erase page
            const std::uint32_t page = Le32(report + 3);
            if (report[2] != 4) return Refuse(box, "erase without a 4-byte address", command);
            if (!box.unlocked) return Refuse(box, "erase while locked", command);
            if (page % 1024 != 0 || !InFirmwareArea(page, 1024)) return Refuse(box, "erase outside the firmware area", command);
            std::memset(FlashAt(box, page), 0xFF, 1024);
            box.busyUntilUs = now + ERASE_PACING_US;
            return;
        }
        case 0x02: {  // set address
            const std::uint32_t address = Le32(report + 3);
            if (report[2] != 4) return Refuse(box, "set address without a 4-byte address", command);
            if (!InFirmwareArea(address, 0)) return Refuse(box, "address outside the firmware area", command);
            box.writePosition = address;
            box.busyUntilUs = now + STEP_PACING_US;
            return;
        }
        case 0x01: {  // write data
            const std::uint32_t count = report[2];
            const std::uint32_t bytes = count * 16;
            if (count < 1 || count > 3) return Refuse(box, "chunk count out of range", command);
            if (length < 3 + bytes) return Refuse(box, "report too short for its data", command);
            if (!box.unlocked) return Refuse(box, "write while locked", command);
            if (box.writePosition == 0 || !InFirmwareArea(box.writePosition, bytes)) return Refuse(box, "write outside the firmware area", command);
            const std::uint8_t* target = FlashAt(box, box.writePosition);
            for (std::uint32_t i = 0; i < bytes; ++i)
                if (target[i] != 0xFF) return Refuse(box, "write into flash that was not erased", command);
            std::memcpy(FlashAt(box, box.writePosition), report + 3, bytes);
            box.writePosition += bytes;
            box.busyUntilUs = now + STEP_PACING_US;
            return;
        }
        default:
            return Refuse(box, "unknown command", command);
    }
}

}  // namespace

std::recursive_mutex& WorldMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

void Reset() {
    g_world = World();
    g_world.realStartUs = SteadyUs();
    t_virtualNowUs = 0;
    t_lastError = 0;
}

std::uint64_t NowUs() { return g_world.realTime ? SteadyUs() - g_world.realStartUs : t_virtualNowUs; }

std::uint32_t LastError() { return t_lastError; }

void SetLastError(std::uint32_t error) { t_lastError = error; }

namespace {

// Sleeps until the steady clock has reached `deadline` (in its microseconds), never less. A plain
// sleep wakes a scheduler latency late (a quarter of a millisecond on a virtual machine), which
// over an update's 1430 pauses would add a third of a second; so the sleep is set early and the
// last stretch is yielded, as the real backends' pauses do (platform/pause_plan.h).
void SleepUntil(std::uint64_t deadline) {
    static thread_local PausePlan plan = {0};
    for (std::uint64_t now = SteadyUs(); now < deadline; now = SteadyUs()) {
        const std::uint64_t due = PauseSleepDue(plan, now, deadline);
        if (due == 0) {
            std::this_thread::yield();
            continue;
        }
        std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::microseconds(due)));
        PauseNoteWake(plan, due, SteadyUs());
    }
}

}  // namespace

void WaitFor(std::uint32_t milliseconds) {
    if (g_world.realTime) {
        // From the next whole microsecond, since the reading is cut to the one before.
        SleepUntil(SteadyUs() + 1 + static_cast<std::uint64_t>(milliseconds) * 1000);
    } else {
        t_virtualNowUs += static_cast<std::uint64_t>(milliseconds) * 1000;
    }
}

Box MakeBox(std::uint16_t productId, bool bootloaderMode) {
    Box box;
    box.productId = productId;
    box.bootloaderMode = bootloaderMode;
    return box;
}

int AddBox(const Box& box, const std::u16string& path) {
    g_world.boxes.push_back(box);
    Box& added = g_world.boxes.back();
    if (added.flash.empty()) BuildFlash(added);
    Interface iface;
    iface.path = path;
    iface.kind = InterfaceKind::Box;
    iface.vendorId = box.vendorId;
    iface.productId = box.productId;
    iface.box = static_cast<int>(g_world.boxes.size() - 1);
    iface.instance = g_world.nextInstance++;
    g_world.interfaces.push_back(iface);
    g_world.announcements.push_back({true, path});
    return iface.box;
}

int AddBox(const Box& box) {
    char16_t path[96];
    const std::string ascii = "\\\\?\\hid#vid_21b8&pid_000" + std::to_string(box.productId) + "#7&2a1f3c&0&" +
                              std::to_string(1000 + g_world.interfaces.size()) +
                              "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    std::size_t i = 0;
    for (; i < ascii.size() && i + 1 < sizeof path / sizeof path[0]; ++i) path[i] = static_cast<char16_t>(ascii[i]);
    path[i] = 0;
    return AddBox(box, path);
}

void AddOtherDevice(std::uint16_t vendorId, std::uint16_t productId, const std::u16string& path) {
    Interface iface;
    iface.kind = InterfaceKind::OtherDevice;
    iface.vendorId = vendorId;
    iface.productId = productId;
    iface.path = path.empty() ? u"\\\\?\\hid#other_" + std::u16string(1, static_cast<char16_t>(u'a' + g_world.interfaces.size())) : path;
    g_world.interfaces.push_back(iface);
}

void AddInterface(InterfaceKind kind, const std::u16string& path) {
    AddOtherDevice(0x21B8, 1, path);
    g_world.interfaces.back().kind = kind;
}

void PullOut(int box) {
    Box& pulled = g_world.boxes.at(static_cast<std::size_t>(box));
    if (!pulled.present) return;
    pulled.present = false;
    for (Interface& iface : g_world.interfaces) {
        if (iface.box == box && iface.present) {
            iface.present = false;
            g_world.removedPaths.push_back(iface.path);
            g_world.announcements.push_back({false, iface.path});
        }
    }
}

void ComeBackRunning(Box& box) {
    box.bootloaderMode = false;
    box.firmwareVersion = box.restart.reportsVersion != 0 ? box.restart.reportsVersion : box.restart.version;
    box.unlocked = false;
    box.finished = false;
    box.restartDue = false;
    box.writePosition = 0;
    box.busyUntilUs = 0;
    box.inputQueue.clear();
}

void AdvanceRestarts() {
    const std::uint64_t now = NowUs();
    for (std::size_t i = 0; i < g_world.boxes.size(); ++i) {
        Box& box = g_world.boxes[i];
        if (box.restartDue && box.comesBackAtUs == 0) {
            PullOut(static_cast<int>(i));
            box.restartDue = false;
            box.comesBackAtUs = now + box.restart.afterUs;
        }
        if (box.comesBackAtUs == 0 || now < box.comesBackAtUs) continue;
        box.comesBackAtUs = 0;
        ComeBackRunning(box);
        box.present = true;
        for (Interface& iface : g_world.interfaces) {
            if (iface.box != static_cast<int>(i) || iface.present) continue;
            iface.present = true;
            iface.instance = g_world.nextInstance++;
            g_world.announcements.push_back({true, iface.path});
        }
    }
}

std::vector<std::uint8_t> FlashBytes(const Box& box, std::uint32_t address, std::uint32_t length) {
    const auto begin = box.flash.begin() + (address - FLASH_BASE);
    return std::vector<std::uint8_t>(begin, begin + length);
}

std::vector<WireEntry> OutputReports() {
    std::vector<WireEntry> out;
    for (const WireEntry& entry : g_world.wire)
        if (entry.direction == Direction::Output) out.push_back(entry);
    return out;
}

void ReceiveReport(Box& box, const std::uint8_t* report, std::uint32_t length) {
    if (length < 3 || report[0] != 1) return Refuse(box, "not a command report", length > 1 ? report[1] : 0);
    switch (report[1]) {
        case 0x08: return AnswerInfo(box);
        case 0x0A: return AnswerMemory(box, report);
        case 0x1D:
        case 0x22:
            if (box.bootloaderMode) return Refuse(box, "block read in bootloader mode", report[1]);
            return QueueBlockAnswer(box, report[1] == 0x1D ? 32 : 40);
        default: return FlashCommand(box, report, length);
    }
}

std::uint32_t SendInfoAnswer(const Box& box, std::uint8_t* report, std::uint32_t length) {
    std::uint32_t sent = length < sizeof box.infoAnswer ? length : static_cast<std::uint32_t>(sizeof box.infoAnswer);
    const Faults& faults = box.faults;
    if (faults.shortAnswersFrom != 0 && box.infoAnswers >= faults.shortAnswersFrom && faults.shortAnswerLength < sent)
        sent = faults.shortAnswerLength;
    std::memcpy(report, box.infoAnswer, sent);
    if (sent > 0) report[0] = faults.answerReportId;
    return sent;
}

void LogWire(Direction direction, int box, const std::uint8_t* bytes, std::uint32_t length, bool ok) {
    WireEntry entry;
    entry.timeUs = NowUs();
    entry.direction = direction;
    entry.box = box;
    entry.bytes.assign(bytes, bytes + length);
    entry.ok = ok;
    g_world.wire.push_back(std::move(entry));
}

Delivery DeliverOutputReport(int boxIndex, const std::uint8_t* report, std::uint32_t length) {
    Box& box = g_world.boxes.at(static_cast<std::size_t>(boxIndex));
    Delivery delivery;
    if (!box.present) {
        LogWire(Direction::Output, boxIndex, report, length, false);
        delivery.error = ERROR_DEVICE_NOT_CONNECTED;
        return delivery;
    }
    const std::uint32_t number = ++box.reportsReceived;
    const bool fails = number == box.faults.failWriteNumber;
    // The HID driver takes only reports of exactly the declared length.
    if (fails || length != box.outputReportLength) {
        LogWire(Direction::Output, boxIndex, report, length, false);
        delivery.error = fails ? box.faults.failWriteError : ERROR_INVALID_PARAMETER;
        return delivery;
    }
    LogWire(Direction::Output, boxIndex, report, length, true);
    ReceiveReport(box, report, length);
    if (number == box.faults.pullOutAfterReport) PullOut(boxIndex);
    // The power fails, or someone kills the program: nothing after this report runs, no
    // destructor, no handler. Where there is no SIGKILL, abort() is the nearest.
    if (number == box.faults.powerLossAfterReport) {
#ifdef SIGKILL
        std::raise(SIGKILL);
#endif
        std::abort();
    }
    delivery.written = true;
    return delivery;
}

}  // namespace sim
