// The functions of platform/hid.h on one open interface, on hidraw. A device handle is the
// node's file descriptor; the last error is errno, as the failing call left it.
#include "platform/hid.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "platform/linux/hidraw/hidraw_denied.h"
#include "platform/linux/hidraw/hidraw_descriptor.h"
#include "platform/linux/hidraw/hidraw_path.h"
#include "platform/system.h"

namespace {

// As on Windows: a box that stops taking reports must not hold the update up for longer than
// this per report, as far as the wait can be bounded here (HidWriteReport says how far).
constexpr std::uint32_t REPORT_WRITE_TIMEOUT_MS = 1000;

// The handle as a descriptor, or -1 with errno EBADF for a value no open() returned.
int DescriptorOf(DeviceHandle device) {
    if (device < 0 || device > INT_MAX) {
        errno = EBADF;
        return -1;
    }
    return static_cast<int>(device);
}

// poll() until the node is ready for `events` or the deadline has passed, restarted after a
// signal with the time that is left (rounded up, so the wait is never shorter than asked). True
// also when poll reports the node gone or broken: the transfer that follows then fails with the
// system's own reason. False with errno ETIMEDOUT when the time ran out.
bool WaitUntilReady(int fd, short events, std::uint64_t deadline) {
    for (;;) {
        const std::uint64_t now = SystemClockMicroseconds();
        const std::uint64_t left = deadline > now ? (deadline - now + 999) / 1000 : 0;
        pollfd node = {fd, events, 0};
        const int ready = poll(&node, 1, left > INT_MAX ? INT_MAX : static_cast<int>(left));
        if (ready > 0) return true;
        if (ready == 0 && SystemClockMicroseconds() >= deadline) {
            errno = ETIMEDOUT;
            return false;
        }
        if (ready < 0 && errno != EINTR) return false;
    }
}

std::uint64_t DeadlineIn(std::uint32_t milliseconds) { return SystemClockMicroseconds() + static_cast<std::uint64_t>(milliseconds) * 1000u; }

}  // namespace

// Read and write access as Windows opens the interface; non-blocking, so that a read can be
// given up after poll's bounded wait; not inherited by any program started later.
DeviceHandle HidOpen(const char16_t* path, HidStatus* status) {
    HidStatus ignored;
    if (status == nullptr) status = &ignored;
    *status = HidStatus::Failed;
    std::string node;
    if (!NodePathFromUtf16(path, &node)) {
        errno = ENOENT;  // no hidraw node has such a name
        return PLATFORM_NO_DEVICE;
    }
    const int fd = open(node.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM) {
            *status = HidStatus::Denied;
            // The search opens each node once, so a box is named once per search.
            SayNodeDenied(node.c_str(), errno);
        }
        return PLATFORM_NO_DEVICE;
    }
    *status = HidStatus::Ok;
    return fd;
}

// hidraw has no exclusive open: any number of programs may open the node and write to it. An
// advisory lock on the node does what the program needs, since every updater takes it before its
// first report: flock belongs to the node's open file, so it holds across this program's threads
// only for this connection, goes with the last close, and dies with the process however it ends.
// Non-blocking: a held box is passed over, never waited for.
HidStatus HidClaim(DeviceHandle device, const char16_t*, BoxClaim* claim) {
    const int fd = DescriptorOf(device);
    if (fd < 0) return HidStatus::Failed;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? HidStatus::Held : HidStatus::Failed;
    *claim = 1;  // the lock lives on the descriptor itself
    return HidStatus::Ok;
}

void HidRelease(DeviceHandle device, BoxClaim claim) {
    const int fd = DescriptorOf(device);
    if (fd >= 0 && claim != 0) flock(fd, LOCK_UN);
}

bool HidGetIds(DeviceHandle device, std::uint16_t* vendorId, std::uint16_t* productId) {
    const int fd = DescriptorOf(device);
    hidraw_devinfo info = {};
    if (fd < 0 || ioctl(fd, HIDIOCGRAWINFO, &info) < 0) return false;
    *vendorId = static_cast<std::uint16_t>(info.vendor);
    *productId = static_cast<std::uint16_t>(info.product);
    return true;
}

// Windows hands out the lengths its HID parser found in the report descriptor; hidraw hands out
// the descriptor, and hidraw_descriptor.cpp does the parsing. One that cannot be parsed gives
// no capabilities, with EINVAL as the kernel's own parser reports such a descriptor.
bool HidGetReportLengths(DeviceHandle device, std::uint16_t* inputLength, std::uint16_t* outputLength) {
    const int fd = DescriptorOf(device);
    int size = 0;
    if (fd < 0 || ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0) return false;
    if (size <= 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
        errno = EINVAL;
        return false;
    }
    hidraw_report_descriptor descriptor = {};
    descriptor.size = static_cast<__u32>(size);
    if (ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) return false;
    if (!DescriptorReportLengths(descriptor.value, static_cast<std::size_t>(size), inputLength, outputLength)) {
        errno = EINVAL;
        return false;
    }
    return true;
}

// The report goes out as one write() of `length` bytes, report ID first, as WriteFile sends it.
// poll() bounds the wait for the node to take it at the Windows bound. On a real hidraw node that
// wait is only the first part: hidraw always polls writable, and the write itself is a synchronous
// USB transfer (an interrupt OUT transfer, or SET_REPORT on the control pipe) that the kernel
// bounds at 5 s (USB_CTRL_SET_TIMEOUT) and that user space cannot cut short. A write that took
// fewer bytes than the report is a failure; the kernel reports none, so EIO stands for it.
bool HidWriteReport(DeviceHandle device, const std::uint8_t* report, std::uint32_t length) {
    const int fd = DescriptorOf(device);
    if (fd < 0 || !WaitUntilReady(fd, POLLOUT, DeadlineIn(REPORT_WRITE_TIMEOUT_MS))) return false;
    const ssize_t written = write(fd, report, length);
    if (written < 0) return false;
    if (static_cast<std::size_t>(written) != length) {
        errno = EIO;
        return false;
    }
    return true;
}

// The next input report from the node's queue (hidraw keeps every report the box sent since the
// node was opened, as Windows' HID class driver does, and neither flushes it here). A read that
// finds the queue empty after poll said otherwise waits again, within the same deadline, which
// also ends a node that keeps polling ready without a report to hand out.
bool HidReadReport(DeviceHandle device, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) {
    const int fd = DescriptorOf(device);
    if (fd < 0) return false;
    const std::uint64_t deadline = DeadlineIn(timeoutMs);
    for (;;) {
        if (!WaitUntilReady(fd, POLLIN, deadline)) return false;
        const ssize_t got = read(fd, report, length);
        if (got > 0) return true;
        if (got == 0) {
            errno = EIO;  // hidraw never hands out an empty report
            return false;
        }
        if (errno != EAGAIN && errno != EINTR) return false;
        if (SystemClockMicroseconds() >= deadline) {
            errno = ETIMEDOUT;
            return false;
        }
    }
}

// HIDIOCGINPUT(length) asks the box for the input report whose ID stands in report[0] (a
// GET_REPORT on the control pipe), copies at most `length` bytes of its answer, ID included,
// into the buffer and returns how many it copied: a box may answer with fewer. `timeoutMs` cannot be honoured: the ioctl has no time-out of its own, the
// kernel waits for the transfer without letting a signal end it, and there is nothing to wait for
// beforehand, since hidraw always polls writable. The kernel bounds the transfer at 5 s
// (USB_CTRL_SET_TIMEOUT in usbhid), longer than `timeoutMs`; a box that never answers therefore
// costs 5 s here, against `timeoutMs` on Windows, and the request fails with ETIMEDOUT.
// HIDIOCGINPUT came with Linux 5.11. An older hidraw refuses the unknown request with EINVAL
// (ENOTTY where no driver takes it) without sending anything: the caller has already seen the
// node answer HIDIOCGRAWINFO, so that refusal is the kernel's age, not the box.
HidStatus HidGetInputReport(DeviceHandle device, std::uint8_t* report, std::uint32_t length, std::uint32_t /*timeoutMs*/,
                            std::uint32_t* received) {
    *received = 0;
    const int fd = DescriptorOf(device);
    if (fd < 0) return HidStatus::Failed;
    // The ioctl's number carries the length in 14 bits.
    if (length == 0 || length >= (1u << _IOC_SIZEBITS)) {
        errno = EINVAL;
        return HidStatus::Failed;
    }
    const int copied = ioctl(fd, HIDIOCGINPUT(length), report);
    if (copied >= 0) {
        *received = static_cast<std::uint32_t>(copied) < length ? static_cast<std::uint32_t>(copied) : length;
        return HidStatus::Ok;
    }
    return errno == EINVAL || errno == ENOTTY ? HidStatus::Unsupported : HidStatus::Failed;
}

void HidClose(DeviceHandle device) {
    const int fd = DescriptorOf(device);
    if (fd >= 0) close(fd);
}
