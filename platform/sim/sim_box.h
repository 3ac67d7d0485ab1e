// A simulated VELTABOX world: the HID interfaces present, the boxes behind them, a clock, and a
// log of everything that crossed the wire. Tests and the demo configure it; the sim backend of
// the platform functions plays it.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

constexpr std::uint32_t FLASH_BASE = 0x08000000;
constexpr std::uint32_t FLASH_SIZE = 128 * 1024;
constexpr std::uint32_t FIRMWARE_BASE = 0x08003000;  // below: the bootloader's own area
constexpr std::uint32_t INFO_PAGE = 0x0801FC00;
constexpr std::uint32_t STEP_PACING_US = 20000;
constexpr std::uint32_t ERASE_PACING_US = 40000;

// Windows error codes, so that tests read the same numbers a user would see.
constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
constexpr std::uint32_t ERROR_GEN_FAILURE = 31;
constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr std::uint32_t ERROR_NOT_SUPPORTED = 50;
constexpr std::uint32_t ERROR_ALREADY_EXISTS = 183;
constexpr std::uint32_t ERROR_NO_MORE_ITEMS = 259;
constexpr std::uint32_t ERROR_DEVICE_NOT_CONNECTED = 1167;
constexpr std::uint32_t ERROR_TIMEOUT = 1460;

struct Faults {
    std::uint32_t failWriteNumber = 0;  // the k-th report written to the box fails (1-based; 0: none)
    std::uint32_t failWriteError = ERROR_GEN_FAILURE;
    bool infoRequestFails = false;        // HidD_GetInputReport fails at once
    std::uint32_t infoRequestsFailFirst = 0;  // ... only the first k requests (a box just enumerated)
    bool infoRequestUnsupported = false;  // the system cannot request input reports (an old kernel)
    bool infoAnswerNever = false;         // the box never answers a request for an info answer
    std::uint32_t shortAnswersFrom = 0;   // from its k-th info answer on (1-based; 0: none), each comes ...
    std::uint32_t shortAnswerLength = 0;  // ... this many bytes long, report ID included (0: empty)
    std::uint8_t answerReportId = 2;      // the report ID its info answers carry
    bool blockAnswerRefused = false;      // block answers carry status 0xFF ...
    std::uint16_t blockErrorWord = 0;     // ... and this error word
    bool blockAnswerNever = false;        // no block answer ever arrives
    std::uint32_t pullOutAfterReport = 0; // pulled out right after the k-th report (0: never)
    std::uint32_t powerLossAfterReport = 0; // the program's process ends at once (SIGKILL) after the k-th report
    bool capsFail = false;                // HidP_GetCaps fails
};

// Many HID bootloaders start the new firmware after the finish: the box leaves the bus and comes
// back in application mode, if its check of the firmware passes; otherwise it stays where it is,
// in its bootloader.
struct Restart {
    bool enabled = false;
    std::vector<std::uint8_t> image;     // the firmware area must begin with this for the check to pass
    std::uint32_t version = 0;           // what the firmware then reports
    std::uint32_t reportsVersion = 0;    // nonzero: it reports this instead (a firmware that is not the image's)
    std::uint32_t afterUs = 500000;      // from the finish until it is back
};

struct Box {
    std::uint16_t vendorId = 0x21B8;
    std::uint16_t productId = 1;
    bool bootloaderMode = true;
    std::uint32_t bootloaderVersion = 0x00010200;
    std::uint32_t firmwareVersion = 0x00010A00;  // in the information page, and reported in application mode
    std::uint16_t appKind = 2;
    std::uint16_t inputReportLength = 64;
    std::uint16_t outputReportLength = 64;
    Faults faults;
    std::string serial;  // its USB serial number; empty: none
    Restart restart;

    // State of the box itself.
    std::vector<std::uint8_t> flash;  // FLASH_SIZE bytes from FLASH_BASE
    bool present = true;
    bool unlocked = false;
    bool finished = false;
    bool restartDue = false;         // the finish passed the check; the front door takes the box off the bus
    std::uint64_t comesBackAtUs = 0;  // the simulated front door's: when it is back (0: not leaving)
    std::uint32_t writePosition = 0;
    std::uint64_t busyUntilUs = 0;  // a flash command before this time is refused
    std::uint32_t reportsReceived = 0;
    std::uint8_t infoAnswer[64] = {};
    std::uint32_t infoAnswers = 0;  // how many info answers the box has prepared so far
    std::deque<std::vector<std::uint8_t>> inputQueue;
    std::vector<std::string> violations;  // every command the box refused, with the reason

    // Who holds the box: another program (its claim is refused), or this one through a claim.
    bool heldElsewhere = false;
    bool claimed = false;
};

enum class InterfaceKind {
    Box,             // the box at `box`
    OtherDevice,     // opens and answers with `vendorId`/`productId`
    CannotOpen,      // CreateFileW fails (a device held exclusively by someone else)
    AttributesFail,  // opens, but HidD_GetAttributes fails
    Unreadable,      // listed without a path (the Setup API's detail record cannot be had)
};

struct Interface {
    std::u16string path;
    InterfaceKind kind = InterfaceKind::OtherDevice;
    std::uint16_t vendorId = 0x046D;
    std::uint16_t productId = 0xC077;
    int box = -1;
    bool present = true;
    bool idsListed = false;  // the system names its IDs without opening it, as udev does
    std::uint64_t instance = 0;  // new each time the interface appears, as a new device would be
};

// An interface appearing (arrival) or leaving, as the system announces it.
struct Announcement {
    bool arrival;
    std::u16string path;
};

enum class Direction { Output, InputRead, InputRequested };

struct WireEntry {
    std::uint64_t timeUs = 0;
    Direction direction = Direction::Output;
    int box = -1;
    std::vector<std::uint8_t> bytes;
    bool ok = true;
};

struct World {
    std::vector<Interface> interfaces;
    std::vector<Box> boxes;
    std::vector<WireEntry> wire;
    std::vector<std::uint32_t> pauses;  // every SystemPause, in milliseconds
    bool realTime = false;
    bool listFails = false;
    std::uint64_t realStartUs = 0;
    int openHandles = 0;
    std::uint32_t infoRequests = 0;  // every request for an info answer, answered or not
    int openLists = 0;
    std::vector<std::u16string> opened;  // every path opened, in order
    std::vector<std::u16string> removedPaths;  // interfaces pulled out, oldest first, not yet reported
    std::vector<Announcement> announcements;   // every arrival and removal since Reset, in order
    std::uint64_t nextInstance = 1;

    // The backend's table: handles are small numbers that index it, so that a stale or foreign
    // value is detected instead of being trusted.
    struct OpenHandle {
        std::size_t iface;
        bool open;
    };
    std::vector<OpenHandle> handles;
};

extern World g_world;
// Held by the HID functions while they look at or change the world, so that the threads of
// several boxes can use it at once; never while they wait.
std::recursive_mutex& WorldMutex();

// An empty world at time zero, virtual clock.
void Reset();
// A box with erased firmware area, a recognisable bootloader area and its information page.
Box MakeBox(std::uint16_t productId = 1, bool bootloaderMode = true);
// Adds the box and an interface for it; returns the box's index.
int AddBox(const Box& box, const std::u16string& path);
int AddBox(const Box& box);
void AddOtherDevice(std::uint16_t vendorId, std::uint16_t productId, const std::u16string& path = u"");
void AddInterface(InterfaceKind kind, const std::u16string& path = u"");

// Microseconds since Reset(), on the virtual or the real clock. The virtual clock is the calling
// thread's: each thread that drives a box keeps that box's time, and its pauses pass only there.
std::uint64_t NowUs();
// The error code of the calling thread's last failed call, as GetLastError keeps it.
std::uint32_t LastError();
void SetLastError(std::uint32_t error);
// Lets `milliseconds` pass on that clock (a wait of the system's, not one of the program's pauses).
void WaitFor(std::uint32_t milliseconds);
// Pulls the box out: its interface disappears and its handle's operations fail.
void PullOut(int box);
// The box as its restart leaves it: in application mode with the firmware's version, nothing
// unlocked or pending.
void ComeBackRunning(Box& box);
// The simulated front door's restarts: a box whose finish passed its check leaves now and comes
// back later; called whenever the world is looked at.
void AdvanceRestarts();

// The bytes of flash from `address`, `length` long.
std::vector<std::uint8_t> FlashBytes(const Box& box, std::uint32_t address, std::uint32_t length);
// Only the reports written (Direction::Output), in order.
std::vector<WireEntry> OutputReports();

// Handles one output report arriving at the box; a refusal is recorded in its violations.
void ReceiveReport(Box& box, const std::uint8_t* report, std::uint32_t length);
// The box's current info answer as it sends it to a request for at most `length` bytes: copied
// into `report`, as long and with the report ID the faults say. Returns the bytes it sent.
std::uint32_t SendInfoAnswer(const Box& box, std::uint8_t* report, std::uint32_t length);

// What the HID stack made of one output report sent to a box.
struct Delivery {
    bool written = false;
    std::uint32_t error = 0;  // the Windows error code when not written
};
// One output report on its way to box `box`, as every front door to the box passes it on: the
// stack's own checks (the box present, exactly the declared length), the configured faults (the
// k-th write fails, pulled out after report k), the wire log, and then the box itself.
Delivery DeliverOutputReport(int box, const std::uint8_t* report, std::uint32_t length);
// Appends to the wire log, stamped with the world's clock.
void LogWire(Direction direction, int box, const std::uint8_t* bytes, std::uint32_t length, bool ok);

}  // namespace sim
