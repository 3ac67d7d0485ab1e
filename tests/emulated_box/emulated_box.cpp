#include "tests/emulated_box/emulated_box.h"

#include "tests/emulated_box/pacer_ids.h"

#include <cerrno>
#include <chrono>
#include <functional>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <deque>
#include <thread>

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <poll.h>
#include <unistd.h>

#include <umockdev.h>

namespace emu {

// Plug() with the lock held, for the restarts the deadline thread carries out.
std::string PlugLocked(int slot, int wantedNode);

namespace {

using Clock = std::chrono::steady_clock;

// The meaningful bytes of every info answer: report ID, two bytes the program ignores, data up to
// byte 15.
constexpr std::size_t INFO_ANSWER_BYTES = 16;
// How long a paced step may wait for the pacer before it goes ahead unpaced: long enough for any
// machine, short of the program's own bound on a write (one second).
constexpr auto PACING_DEADLINE = std::chrono::milliseconds(700);
constexpr unsigned HIDRAW_MAJOR = 241;
// Long after the program has asked winebus for the answer.
constexpr auto LATE_ANSWER = std::chrono::milliseconds(100);

struct InputReport {
    std::vector<std::uint8_t> bytes;
    bool infoAnswer = false;
    bool proof = false;  // the second copy of an info answer: read only once the first was stored
};

struct Device {
    int box = -1;
    bool pacer = false;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serial;
    std::vector<std::uint8_t> descriptor;

    bool plugged = false;
    std::string node;
    unsigned nodeNumber = 0;
    unsigned port = 0;  // the USB port it is plugged into, the same every time (0: not yet plugged)
    // A restart after the finish: off the bus at `leavesAt`, back in its firmware at `backAt`.
    Clock::time_point leavesAt = Clock::time_point::max();
    Clock::time_point backAt = Clock::time_point::max();
    std::vector<std::string> syspaths;  // USB device, interface, HID device, hidraw node
    int slave = -1;   // our own descriptor of the node's pty, to take back its readiness byte
    int master = -1;  // the testbed's end
    std::deque<InputReport> reads;

    int answersOnTime = -1;  // self-test: after this many info answers, they come late and unpaced
    int answersForwarded = 0;
    std::deque<std::pair<Clock::time_point, InputReport>> latePushes;

    int lateAnswers = 0;
    int unpacedAnswers = 0;
    int requests = 0;
    int opens = 0;
    bool denied = false;
};

// How the Wine front door makes the program's HidD_GetInputReport return the current answer.
//
// Wine's HidD_GetInputReport never reaches the device: winebus answers it from the last input
// report it read. So the box pushes each answer as an input report, and the program must not ask
// before winebus has stored it. Wine's device-driver process takes the requests of every program
// one at a time and in the order they came, on one thread. So while the box's write is still
// being handled, the pacer (a small Windows program, tests/win32/box_pacer.cpp) queues a write to
// a device of its own; the program learns of its write's end only after that request was
// queued, so its next request, the one for the answer, comes after it. The pacer's write is then
// held until winebus has read a second copy of the answer, which it reads only after it stored
// the first. Winebus's own report thread is not one of those requests, so nothing else waits.
struct Pacing {
    std::function<void()> askToQueue;           // set while a pacer is connected
    UMockdevIoctlClient* boxWrite = nullptr;    // held until the pacer has queued its request
    long boxWriteResult = 0;
    Clock::time_point boxWriteDeadline;
    UMockdevIoctlClient* pacerWrite = nullptr;  // held until the answer is stored
    Clock::time_point pacerWriteDeadline;
    bool answerStored = true;
    int slot = -1;  // whose answer is being paced
};

std::mutex g_lock;
FrontDoor g_door = FrontDoor::Native;
UMockdevTestbed* g_testbed = nullptr;
std::vector<Device> g_devices;
Pacing g_pacing;
unsigned g_nextNode = 0;
unsigned g_nextPort = 1;
unsigned g_nextHidDevice = 1;
std::vector<std::string> g_handledNodes;  // nodes the testbed has a handler for, plugged or not  // the kernel numbers HID devices anew for every device it sees
// As a box's firmware takes its time to come up after the bootloader let go of the bus.
constexpr auto RESTART_LEAVES = std::chrono::milliseconds(100);
constexpr auto RESTART_BACK = std::chrono::milliseconds(400);
int g_wake[2] = {-1, -1};
std::thread g_deadlines;
bool g_stopping = false;

Device& At(int slot) { return g_devices.at(static_cast<std::size_t>(slot)); }

void Wake() {
    const char one = 1;
    if (write(g_wake[1], &one, 1) < 0) {
        // The pipe is full, so the service thread is already due to look.
    }
}

void Complete(UMockdevIoctlClient*& client, long result, int error) {
    if (client == nullptr) return;
    umockdev_ioctl_client_complete(client, result, error);
    g_object_unref(client);
    client = nullptr;
}

// The node is readable while reports wait: one byte in the pty stands for "at least one". The
// program's read never takes it (the handler answers reads itself), so it is taken back here.
void PushRead(Device& device, InputReport report) {
    const bool wasEmpty = device.reads.empty();
    device.reads.push_back(std::move(report));
    if (wasEmpty && write(device.master, "r", 1) != 1) std::perror("emulated box: marking the node readable");
}

void TakeBackReadiness(Device& device) {
    char byte;
    while (read(device.slave, &byte, 1) == 1) {
    }
}

// Lets go whatever the pacing holds; `late` counts an answer that was not known to be stored.
void EndPacing(bool late) {
    if (g_pacing.slot >= 0 && late) ++At(g_pacing.slot).lateAnswers;
    Complete(g_pacing.boxWrite, g_pacing.boxWriteResult, 0);
    Complete(g_pacing.pacerWrite, 0, 0);
    g_pacing.answerStored = true;
    g_pacing.slot = -1;
}

void UnplugLocked(Device& device) {
    if (!device.plugged) return;
    device.plugged = false;
    if (device.box >= 0) sim::PullOut(device.box);
    if (g_pacing.slot >= 0 && &At(g_pacing.slot) == &device) EndPacing(false);
    device.reads.clear();
    TakeBackReadiness(device);
    for (auto it = device.syspaths.rbegin(); it != device.syspaths.rend(); ++it)
        umockdev_testbed_uevent(g_testbed, it->c_str(), "remove");
    for (auto it = device.syspaths.rbegin(); it != device.syspaths.rend(); ++it)
        umockdev_testbed_remove_device(g_testbed, it->c_str());
    close(device.slave);
    device.slave = -1;
    device.master = -1;
    Wake();
}

// The answers the box prepared for the report just delivered, passed on the way this front door
// passes them. True when the write that asked for an info answer has to wait for the pacer.
bool ForwardAnswers(int slot, std::uint32_t infoAnswersBefore) {
    Device& device = At(slot);
    sim::Box& box = sim::g_world.boxes.at(static_cast<std::size_t>(device.box));
    while (!box.inputQueue.empty()) {
        PushRead(device, {box.inputQueue.front(), false, false});
        box.inputQueue.pop_front();
    }
    if (g_door != FrontDoor::Wine || box.infoAnswers == infoAnswersBefore || box.faults.infoAnswerNever) return false;
    std::vector<std::uint8_t> answer(INFO_ANSWER_BYTES, 0);
    answer.resize(sim::SendInfoAnswer(box, answer.data(), INFO_ANSWER_BYTES));
    // An empty answer leaves winebus nothing to read, and the program the answer before.
    if (answer.empty()) return false;
    // An answer winebus has not read yet belongs to a request the program has moved past.
    const std::size_t before = device.reads.size();
    device.reads.erase(std::remove_if(device.reads.begin(), device.reads.end(), [](const InputReport& r) { return r.infoAnswer; }),
                       device.reads.end());
    if (before > 0 && device.reads.empty()) TakeBackReadiness(device);
    if (device.answersOnTime >= 0 && device.answersForwarded++ >= device.answersOnTime) {
        device.latePushes.emplace_back(Clock::now() + LATE_ANSWER, InputReport{answer, true, false});
        Wake();
        return false;
    }
    PushRead(device, {answer, true, false});
    PushRead(device, {answer, true, true});
    if (!g_pacing.askToQueue) {
        ++device.unpacedAnswers;
        return false;
    }
    EndPacing(true);  // a pacing still open here was never finished: its answer was not read
    g_pacing.slot = slot;
    g_pacing.answerStored = false;
    g_pacing.askToQueue();
    return true;
}

// umockdev's node handler, counting each open of the node: the preload connects a client to the
// handler for every open(), whether or not anything is then read, written or asked.
void CountOpen(UMockdevIoctlBase* self, UMockdevIoctlClient* client) {
    {
        std::lock_guard<std::mutex> hold(g_lock);
        ++At(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(self), "slot"))).opens;
    }
    auto* parent = static_cast<UMockdevIoctlBaseClass*>(g_type_class_peek(UMOCKDEV_TYPE_IOCTL_BASE));
    if (parent->client_connected != nullptr) parent->client_connected(self, client);
}

void InitNodeHandlerClass(gpointer klass, gpointer) {
    static_cast<UMockdevIoctlBaseClass*>(klass)->client_connected = CountOpen;
}

GType NodeHandlerType() {
    static const GType type = g_type_register_static_simple(
        UMOCKDEV_TYPE_IOCTL_BASE, "VeltaboxNodeHandler", sizeof(UMockdevIoctlBaseClass), InitNodeHandlerClass,
        sizeof(UMockdevIoctlBase), nullptr, static_cast<GTypeFlags>(0));
    return type;
}

gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer slotPointer) {
    std::lock_guard<std::mutex> hold(g_lock);
    const int slot = GPOINTER_TO_INT(slotPointer);
    Device& device = At(slot);
    ++device.requests;
    UMockdevIoctlData* data = umockdev_ioctl_client_get_arg(client);
    const auto length = static_cast<long>(data->data_len);
    if (device.pacer && device.plugged && !g_pacing.answerStored) {
        // Wine's dispatcher waits here, and with it the program's request for the answer.
        g_pacing.pacerWrite = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
        g_pacing.pacerWriteDeadline = Clock::now() + PACING_DEADLINE;
        Wake();
        return TRUE;
    }
    if (device.box < 0) {
        umockdev_ioctl_client_complete(client, device.plugged ? length : -1, device.plugged ? 0 : ENODEV);
        return TRUE;
    }
    // Whether the box is still there is the model's to say: it logs the report either way.
    const std::uint32_t infoAnswersBefore = sim::g_world.boxes.at(static_cast<std::size_t>(device.box)).infoAnswers;
    const sim::Delivery delivery = sim::DeliverOutputReport(device.box, data->data, static_cast<std::uint32_t>(length));
    if (!delivery.written) {
        umockdev_ioctl_client_complete(client, -1, delivery.error == sim::ERROR_DEVICE_NOT_CONNECTED ? ENODEV : EIO);
        return TRUE;
    }
    if (ForwardAnswers(slot, infoAnswersBefore)) {
        g_pacing.boxWrite = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
        g_pacing.boxWriteResult = length;
        g_pacing.boxWriteDeadline = Clock::now() + PACING_DEADLINE;
        Wake();
    } else {
        umockdev_ioctl_client_complete(client, length, 0);
    }
    sim::Box& box = sim::g_world.boxes.at(static_cast<std::size_t>(device.box));
    // A box the model pulled out after this report leaves the system as any unplugged device.
    if (!box.present) UnplugLocked(device);
    if (box.restartDue) {
        box.restartDue = false;
        device.leavesAt = Clock::now() + RESTART_LEAVES;
        Wake();
    }
    return TRUE;
}

gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer slotPointer) {
    std::lock_guard<std::mutex> hold(g_lock);
    Device& device = At(GPOINTER_TO_INT(slotPointer));
    ++device.requests;
    UMockdevIoctlData* data = umockdev_ioctl_client_get_arg(client);
    if (!device.plugged) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    if (device.reads.empty()) {
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
        return TRUE;
    }
    InputReport report = std::move(device.reads.front());
    device.reads.pop_front();
    if (device.reads.empty()) TakeBackReadiness(device);
    const std::size_t length = std::min(report.bytes.size(), static_cast<std::size_t>(data->data_len));
    std::memcpy(data->data, report.bytes.data(), length);
    umockdev_ioctl_client_complete(client, static_cast<long>(length), 0);
    // Winebus reads the next report only after it stored the one before.
    if (report.proof && g_pacing.slot == GPOINTER_TO_INT(slotPointer)) EndPacing(false);
    return TRUE;
}

std::string NameOf(const Device& device) {
    if (device.box >= 0) return "SORVANTIK VELTABOX";
    return device.pacer ? "Box emulator pacer" : "Other HID device";
}

// Copies `bytes` into the client's memory at the ioctl's pointer argument.
void Answer(UMockdevIoctlClient* client, const void* bytes, std::size_t length, long result) {
    GError* error = nullptr;
    UMockdevIoctlData* target = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, length, &error);
    if (target == nullptr) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    std::memcpy(target->data, bytes, length);
    umockdev_ioctl_data_unref(target);
    umockdev_ioctl_client_complete(client, result, 0);
}

void AnswerString(UMockdevIoctlClient* client, const std::string& text, std::size_t capacity) {
    std::vector<char> bytes(capacity, 0);
    const std::size_t length = std::min(text.size(), capacity > 0 ? capacity - 1 : 0);
    std::memcpy(bytes.data(), text.data(), length);
    Answer(client, bytes.data(), capacity, static_cast<long>(length + 1));
}

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer slotPointer) {
    std::lock_guard<std::mutex> hold(g_lock);
    Device& device = At(GPOINTER_TO_INT(slotPointer));
    ++device.requests;
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    const std::size_t size = _IOC_SIZE(request);
    if (!device.plugged) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    if (request == HIDIOCGRDESCSIZE) {
        const int length = static_cast<int>(device.descriptor.size());
        Answer(client, &length, sizeof length, 0);
    } else if (request == HIDIOCGRDESC) {
        hidraw_report_descriptor descriptor = {};
        descriptor.size = static_cast<__u32>(device.descriptor.size());
        std::memcpy(descriptor.value, device.descriptor.data(), device.descriptor.size());
        Answer(client, &descriptor, sizeof descriptor, 0);
    } else if (request == HIDIOCGRAWINFO) {
        hidraw_devinfo info = {};
        info.bustype = 3;  // BUS_USB
        info.vendor = static_cast<__s16>(device.vendorId);
        info.product = static_cast<__s16>(device.productId);
        Answer(client, &info, sizeof info, 0);
    } else if (_IOC_TYPE(request) == 'H' && _IOC_NR(request) == _IOC_NR(HIDIOCGRAWNAME(0))) {
        AnswerString(client, NameOf(device), size);
    } else if (_IOC_TYPE(request) == 'H' && _IOC_NR(request) == _IOC_NR(HIDIOCGRAWUNIQ(0))) {
        AnswerString(client, device.serial, size);
    } else if (g_door == FrontDoor::Native && device.box >= 0 && _IOC_TYPE(request) == 'H' &&
               _IOC_NR(request) == _IOC_NR(HIDIOCGINPUT(0))) {
        sim::Box& box = sim::g_world.boxes.at(static_cast<std::size_t>(device.box));
        const bool refusedNow = box.faults.infoRequestsFailFirst > 0;
        if (refusedNow) --box.faults.infoRequestsFailFirst;
        if (box.faults.infoRequestUnsupported) {
            // hidraw before Linux 5.11: a request it does not know.
            umockdev_ioctl_client_complete(client, -1, EINVAL);
        } else if (box.faults.infoRequestFails || box.faults.infoAnswerNever || refusedNow) {
            // A GET_REPORT the device stalls, as the kernel reports it.
            umockdev_ioctl_client_complete(client, -1, EPIPE);
        } else {
            // The kernel copies what the box sent, at most the ioctl's length, and returns the count.
            std::vector<std::uint8_t> answer(size, 0);
            const std::uint32_t sent =
                sim::SendInfoAnswer(box, answer.data(), static_cast<std::uint32_t>(std::min<std::size_t>(size, box.inputReportLength)));
            if (sent == 0) umockdev_ioctl_client_complete(client, 0, 0);  // nothing to copy
            else Answer(client, answer.data(), sent, static_cast<long>(sent));
        }
    } else {
        return FALSE;  // the kernel's answer for a request the device does not know
    }
    return TRUE;
}

// The clock's side of the front door: late answers of the self-test, and a pacing whose pacer
// never came, let go at their deadline.
void ServeDeadlines() {
    for (;;) {
        int timeout = -1;
        {
            std::lock_guard<std::mutex> hold(g_lock);
            if (g_stopping) return;
            const auto now = Clock::now();
            const auto until = [&](Clock::time_point deadline) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
                if (timeout < 0 || left < timeout) timeout = static_cast<int>(left);
            };
            for (std::size_t slot = 0; slot < g_devices.size(); ++slot) {
                Device& device = g_devices[slot];
                if (device.leavesAt <= now) {
                    device.leavesAt = Clock::time_point::max();
                    UnplugLocked(device);
                    device.backAt = now + RESTART_BACK;
                }
                if (device.backAt <= now) {
                    device.backAt = Clock::time_point::max();
                    sim::Box& box = sim::g_world.boxes.at(static_cast<std::size_t>(device.box));
                    sim::ComeBackRunning(box);
                    PlugLocked(static_cast<int>(slot), static_cast<int>(device.nodeNumber));
                }
                if (device.leavesAt != Clock::time_point::max()) until(device.leavesAt);
                if (device.backAt != Clock::time_point::max()) until(device.backAt);
                while (!device.latePushes.empty() && device.latePushes.front().first <= now) {
                    if (device.plugged) PushRead(device, std::move(device.latePushes.front().second));
                    device.latePushes.pop_front();
                }
                if (!device.latePushes.empty()) until(device.latePushes.front().first);
            }
            if (g_pacing.boxWrite != nullptr && now >= g_pacing.boxWriteDeadline) {
                ++At(g_pacing.slot).unpacedAnswers;
                Complete(g_pacing.boxWrite, g_pacing.boxWriteResult, 0);
            } else if (g_pacing.boxWrite != nullptr) {
                until(g_pacing.boxWriteDeadline);
            }
            if (g_pacing.pacerWrite != nullptr && now >= g_pacing.pacerWriteDeadline) {
                EndPacing(true);
            } else if (g_pacing.pacerWrite != nullptr) {
                until(g_pacing.pacerWriteDeadline);
            }
        }
        pollfd wake = {g_wake[0], POLLIN, 0};
        if (poll(&wake, 1, timeout) < 0 && errno != EINTR) return;
        char discard[64];
        while (read(g_wake[0], discard, sizeof discard) > 0) {
        }
    }
}

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return text;
}

// The sysfs records of one plugged device, the way the kernel lays out a USB HID device.
std::string DeviceRecords(const Device& device, unsigned port, unsigned node, unsigned hidDevice, bool makeNode,
                          std::vector<std::string>* syspaths) {
    const std::string vid = Hex4(device.vendorId);
    const std::string pid = Hex4(device.productId);
    const std::string usb = "/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(port);
    const std::string interface = usb + "/1-" + std::to_string(port) + ":1.0";
    char hidName[32];
    std::snprintf(hidName, sizeof hidName, "0003:%s:%s.%04X", Upper(vid).c_str(), Upper(pid).c_str(), hidDevice);
    const std::string hid = interface + "/" + hidName;
    const std::string raw = hid + "/hidraw/hidraw" + std::to_string(node);
    const std::string name = NameOf(device);
    char product[32];  // as the kernel writes it: vendor, product and bcdDevice in bare hex
    std::snprintf(product, sizeof product, "%x/%x/100", device.vendorId, device.productId);
    *syspaths = {"/sys" + usb, "/sys" + interface, "/sys" + hid, "/sys" + raw};
    return "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: PRODUCT=" + product +
           "\nA: idVendor=" + vid + "\nA: idProduct=" + pid + "\nA: bcdDevice=0100\nA: serial=" + device.serial +
           "\nA: product=" + name + "\n\n"
           "P: " + interface + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: PRODUCT=" + product +
           "\nE: INTERFACE=3/0/0\nA: bInterfaceNumber=00\nA: bInterfaceClass=03\n\n"
           "P: " + hid + "\nE: SUBSYSTEM=hid\nE: HID_ID=0003:0000" + Upper(vid) + ":0000" + Upper(pid) +
           "\nE: HID_NAME=" + name + "\nE: HID_PHYS=usb-0000:00:14.0-" + std::to_string(port) +
           "/input0\nE: HID_UNIQ=" + device.serial + "\n\n"
           "P: " + raw + (makeNode ? "\nN: hidraw" + std::to_string(node) : "") + "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/hidraw" +
           std::to_string(node) + "\nE: MAJOR=" + std::to_string(HIDRAW_MAJOR) + "\nE: MINOR=" + std::to_string(node) +
           "\nA: dev=" + std::to_string(HIDRAW_MAJOR) + ":" + std::to_string(node) + "\n";
}

// A node of mode 0, as a node without the package's udev rule is to a user: a plain file, as
// nothing ever reads from it. The testbed removes it with the device, by its DEVNAME.
bool MakeForbiddenNode(const std::string& node) {
    gchar* root = umockdev_testbed_get_root_dir(g_testbed);
    const std::string directory = std::string(root) + "/dev";
    g_free(root);
    mkdir(directory.c_str(), 0755);
    const std::string path = directory + node.substr(node.rfind('/'));
    const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0);
    if (fd < 0) {
        std::fprintf(stderr, "emulated box: cannot make %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    close(fd);
    return true;
}

bool LinkNodeToPty(const std::string& node) {
    const int master = umockdev_testbed_get_dev_fd(g_testbed, node.c_str());
    char pty[128];
    if (ptsname_r(master, pty, sizeof pty) != 0) return false;
    gchar* root = umockdev_testbed_get_root_dir(g_testbed);
    const std::string path = std::string(root) + node;
    g_free(root);
    unlink(path.c_str());
    if (symlink(pty, path.c_str()) == 0) return true;
    std::fprintf(stderr, "emulated box: cannot link %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
}

int AddSlot(Device device) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_devices.push_back(std::move(device));
    return static_cast<int>(g_devices.size() - 1);
}

}  // namespace

namespace {

bool StartTestbed(FrontDoor door, std::string* error) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_testbed != nullptr) return true;
    g_door = door;
    if (pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    g_testbed = umockdev_testbed_new();
    if (g_testbed == nullptr) {
        *error = "umockdev could not make a testbed";
        return false;
    }
    g_stopping = false;
    g_deadlines = std::thread(ServeDeadlines);
    return true;
}

// The pacer's device, plugged in for good.
void PlugPacerDevice() {
    Device device;
    device.pacer = true;
    device.vendorId = PACER_VENDOR_ID;
    device.productId = PACER_PRODUCT_ID;
    device.serial = "PACER";
    device.descriptor = BoxReportDescriptor(9, 9);
    Plug(AddSlot(std::move(device)));
}

}  // namespace

bool Start(FrontDoor door, std::string* error) {
    if (!StartTestbed(door, error)) return false;
    if (door == FrontDoor::Wine) PlugPacerDevice();
    return true;
}

std::string TestbedDirectory() {
    std::lock_guard<std::mutex> hold(g_lock);
    gchar* root = umockdev_testbed_get_root_dir(g_testbed);
    std::string directory = root;
    g_free(root);
    return directory;
}

std::mutex& WorldLock() { return g_lock; }

int AddBoxSlot(const sim::Box& box, const std::string& serial) {
    int index;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        sim::g_world.realTime = true;
        index = sim::AddBox(box, u"");
        // Pulled out and plugged in by this front door only.
        sim::g_world.boxes.back().present = false;
    }
    Device device;
    device.box = index;
    device.vendorId = box.vendorId;
    device.productId = box.productId;
    device.serial = serial;
    device.descriptor = BoxReportDescriptor(box.inputReportLength, box.outputReportLength);
    return AddSlot(std::move(device));
}

int AddOtherDeviceSlot(std::uint16_t vendorId, std::uint16_t productId, const std::string& serial) {
    Device device;
    device.vendorId = vendorId;
    device.productId = productId;
    device.serial = serial;
    device.descriptor = BoxReportDescriptor(9, 9);
    return AddSlot(std::move(device));
}

int BoxOf(int slot) {
    std::lock_guard<std::mutex> hold(g_lock);
    return At(slot).box;
}

bool SetReportDescriptor(int slot, std::vector<std::uint8_t> descriptor) {
    if (descriptor.size() > HID_MAX_DESCRIPTOR_SIZE) return false;
    std::lock_guard<std::mutex> hold(g_lock);
    At(slot).descriptor = std::move(descriptor);
    return true;
}

int RequestsServed(int slot) {
    std::lock_guard<std::mutex> hold(g_lock);
    return At(slot).requests;
}

void DenyAccess(int slot) {
    std::lock_guard<std::mutex> hold(g_lock);
    At(slot).denied = true;
}

int Opens(int slot) {
    std::lock_guard<std::mutex> hold(g_lock);
    return At(slot).opens;
}

std::string PlugLocked(int slot, int wantedNode) {
    Device& device = At(slot);
    if (device.plugged) return device.node;
    if (wantedNode >= 0) {
        for (const Device& other : g_devices)
            if (other.plugged && other.nodeNumber == static_cast<unsigned>(wantedNode)) {
                std::fprintf(stderr, "emulated box: /dev/hidraw%d is taken\n", wantedNode);
                return std::string();
            }
    }
    const unsigned node = wantedNode >= 0 ? static_cast<unsigned>(wantedNode) : g_nextNode++;
    if (device.port == 0) device.port = g_nextPort++;
    device.nodeNumber = node;
    device.node = "/dev/hidraw" + std::to_string(node);
    // The testbed keeps a node's pty for good once it made one: a device on a node used before
    // gets that pty again, linked in by hand.
    const bool reused = !device.denied && umockdev_testbed_get_dev_fd(g_testbed, device.node.c_str()) >= 0;
    const std::string records = DeviceRecords(device, device.port, node, g_nextHidDevice++, !device.denied && !reused, &device.syspaths);

    GError* error = nullptr;
    bool added;
    if (device.denied) {
        // Made before the records announce it, and by this process rather than by the testbed:
        // the testbed's node is a pty that may be opened from the moment it appears until it is
        // forbidden, and a program looking for boxes just then opened it.
        added = MakeForbiddenNode(device.node);
    } else {
        // The testbed keeps the handler for as long as it keeps the node (a program that still
        // holds a pulled node open is served by it), so this reference is not needed past the
        // attach.
        // A node used before keeps its handler in the testbed, for whoever still holds it open; a
        // new device on it gets a handler of its own, which the old one's holders then share.
        const auto handled = std::find(g_handledNodes.begin(), g_handledNodes.end(), device.node);
        if (handled != g_handledNodes.end()) {
            umockdev_testbed_detach_ioctl(g_testbed, device.node.c_str(), nullptr);
            g_handledNodes.erase(handled);
        }
        UMockdevIoctlBase* handler = static_cast<UMockdevIoctlBase*>(g_object_new(NodeHandlerType(), nullptr));
        g_object_set_data(G_OBJECT(handler), "slot", GINT_TO_POINTER(slot));
        g_signal_connect(handler, "handle-ioctl", G_CALLBACK(OnIoctl), GINT_TO_POINTER(slot));
        g_signal_connect(handler, "handle-read", G_CALLBACK(OnRead), GINT_TO_POINTER(slot));
        g_signal_connect(handler, "handle-write", G_CALLBACK(OnWrite), GINT_TO_POINTER(slot));
        added = umockdev_testbed_attach_ioctl(g_testbed, device.node.c_str(), handler, &error);
        g_object_unref(handler);
        if (added) g_handledNodes.push_back(device.node);
    }
    added = added && umockdev_testbed_add_from_string(g_testbed, records.c_str(), &error);
    if (added && reused) added = LinkNodeToPty(device.node);
    if (!added) {
        std::fprintf(stderr, "emulated box: cannot add %s: %s\n", device.node.c_str(), error != nullptr ? error->message : "?");
        g_clear_error(&error);
        return std::string();
    }
    if (!device.denied) {
        device.master = umockdev_testbed_get_dev_fd(g_testbed, device.node.c_str());
        // Asked of the master rather than opened by name, so that umockdev's preload, under
        // which this process runs too (its uevents need it), has no part in it.
        device.slave = ioctl(device.master, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        fcntl(device.master, F_SETFL, fcntl(device.master, F_GETFL) | O_NONBLOCK);
    }
    device.reads.clear();
    device.plugged = true;
    if (device.box >= 0) sim::g_world.boxes.at(static_cast<std::size_t>(device.box)).present = true;
    for (const std::string& syspath : device.syspaths) umockdev_testbed_uevent(g_testbed, syspath.c_str(), "add");
    Wake();
    return device.node;
}

std::string Plug(int slot, int node) {
    std::lock_guard<std::mutex> hold(g_lock);
    return PlugLocked(slot, node);
}

void Unplug(int slot) {
    std::lock_guard<std::mutex> hold(g_lock);
    UnplugLocked(At(slot));
}

bool IsPlugged(int slot) {
    std::lock_guard<std::mutex> hold(g_lock);
    return At(slot).plugged;
}

std::string NodeOf(int slot) {
    std::lock_guard<std::mutex> hold(g_lock);
    return At(slot).node;
}

std::vector<std::uint64_t> ArrivalsAtBox(int box, std::uint8_t command) {
    std::lock_guard<std::mutex> hold(g_lock);
    std::vector<std::uint64_t> arrivals;
    for (const sim::WireEntry& entry : sim::g_world.wire)
        if (entry.box == box && entry.direction == sim::Direction::Output && entry.ok && entry.bytes.size() > 1 &&
            entry.bytes[1] == command)
            arrivals.push_back(entry.timeUs);
    return arrivals;
}

void SetAnswersLate(int slot, int onTime) {
    std::lock_guard<std::mutex> hold(g_lock);
    At(slot).answersOnTime = onTime;
    At(slot).answersForwarded = 0;
}

// The deadline thread is joined before the process goes on to exit, which would otherwise
// destroy the devices under it.
void Stop() {
    {
        std::lock_guard<std::mutex> hold(g_lock);
        for (Device& device : g_devices) UnplugLocked(device);
        if (g_testbed != nullptr) g_object_unref(g_testbed);
        g_testbed = nullptr;
        g_stopping = true;
        Wake();
    }
    if (g_deadlines.joinable()) g_deadlines.join();
    for (int& end : g_wake) {
        if (end >= 0) close(end);
        end = -1;
    }
}


void SetPacer(std::function<void()> askToQueue) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_pacing.askToQueue = std::move(askToQueue);
    if (!g_pacing.askToQueue) EndPacing(false);
}

void PacerQueued() {
    std::lock_guard<std::mutex> hold(g_lock);
    Complete(g_pacing.boxWrite, g_pacing.boxWriteResult, 0);
}

int UnpacedAnswers(int slot) {
    std::lock_guard<std::mutex> hold(g_lock);
    return At(slot).unpacedAnswers;
}

int LateAnswers(int slot) {
    std::lock_guard<std::mutex> hold(g_lock);
    return At(slot).lateAnswers;
}

std::vector<std::uint8_t> BoxReportDescriptor(std::uint16_t inputLength, std::uint16_t outputLength) {
    // Vendor-defined page: no system driver claims the device. Report 2 in, report 1 out, each
    // as many bytes as declared minus the report ID.
    const auto count = [](std::uint16_t length) { return static_cast<std::uint8_t>(length > 1 ? length - 1 : 1); };
    return {0x06, 0x00, 0xFF,  // usage page (vendor 0xFF00)
            0x09, 0x01,        // usage 1
            0xA1, 0x01,        // collection (application)
            0x15, 0x00,        //   logical minimum 0
            0x26, 0xFF, 0x00,  //   logical maximum 255
            0x75, 0x08,        //   report size 8
            0x85, 0x02,        //   report ID 2
            0x09, 0x02,        //   usage 2
            0x95, count(inputLength),
            0x81, 0x02,        //   input (data, variable, absolute)
            0x85, 0x01,        //   report ID 1
            0x09, 0x03,        //   usage 3
            0x95, count(outputLength),
            0x91, 0x02,        //   output (data, variable, absolute)
            0xC0};             // end collection
}

}  // namespace emu
