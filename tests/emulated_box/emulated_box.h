// The simulated box of platform/sim/ behind emulated hidraw device nodes, so that a real HID
// stack (Wine's winebus, or the program's own hidraw backend) can find it, talk to it and see it
// come and go. umockdev provides the sysfs tree, the device nodes and the uevents; this file is
// only the front door: every report still goes through sim::DeliverOutputReport, so the box's
// rules (flash, pacing, faults, the wire log) are the model's and nobody else's.
//
// Every function may be called from any thread; they share one lock with the device handlers,
// which umockdev runs on its own thread.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sim/sim_box.h"

namespace emu {

// How answers reach the program. A real box answers an info request (GET_REPORT) over the control
// pipe and a block read over the interrupt pipe.
enum class FrontDoor {
    // The program's own hidraw backend: HIDIOCGINPUT is answered with the box's current info
    // answer, and block answers are the only reports ever read.
    Native,
    // Wine's winebus. Its HidD_GetInputReport never reaches the device: it hands out the last input
    // report that winebus read. So each info answer is pushed as an input report of its 16
    // meaningful bytes (hidclass drops reports shorter than the declared length from the handles'
    // read queues, so they never mix with block answers), and a pacer program keeps the program's
    // request for it waiting until winebus has stored it (emulated_box.cpp says how).
    Wine,
};

// Creates the testbed and sets UMOCKDEV_DIR in this process, and for Wine plugs in the pacer's
// device; false with a reason on failure.
bool Start(FrontDoor door, std::string* error);
// Pulls everything out and removes the testbed.
void Stop();
// The testbed directory: what every process that should see the devices needs as UMOCKDEV_DIR.
std::string TestbedDirectory();
// The lock over the simulated world; hold it to read sim::g_world while devices are plugged.
std::mutex& WorldLock();

// Devices the test can plug in and pull out. A slot keeps its serial number and its USB port, so
// a device plugged in again gets the same instance path on Windows and the same place on the bus;
// its node (/dev/hidrawN) is new every time unless the test names one, and its HID device is
// numbered anew every time, as the kernel does.
int AddBoxSlot(const sim::Box& box, const std::string& serial);
int AddOtherDeviceSlot(std::uint16_t vendorId, std::uint16_t productId, const std::string& serial);
// From its next plug on, the slot's node may not be opened by anyone without the capability to
// override file permissions (mode 0): what a box is to a user without the package's udev rule.
// Set before the "add" uevent, so no program can open it in between.
void DenyAccess(int slot);
// The simulated box behind a slot, -1 for another device.
int BoxOf(int slot);
// Replaces the report descriptor the slot's device declares from its next plug on (a box keeps
// its report lengths in the model, which checks every report against them). False for one
// longer than a hidraw node can hand out.
bool SetReportDescriptor(int slot, std::vector<std::uint8_t> descriptor);
// Every read, write and ioctl the slot's device has served, on all its nodes so far: a device
// the program never looked at has served none.
int RequestsServed(int slot);
// How often the slot's device nodes were opened, by anyone.
int Opens(int slot);

// Plugs the slot's device in: sysfs entries, the node and the "add" uevents. Returns the node, or
// empty when it could not be plugged. The device keeps the USB port of its first plug. `node`:
// the hidraw node's number, as the kernel gives the lowest free one to the next device (a box
// plugged in where another was just pulled out gets its node); -1 for a node never used before.
// A box whose finish passed its check (sim::Restart) leaves on its own and comes back in its
// firmware on the same port and node.
std::string Plug(int slot, int node = -1);
// Pulls it out: further transfers fail, "remove" uevents, the entries go.
void Unplug(int slot);
bool IsPlugged(int slot);
std::string NodeOf(int slot);

// When each report with this command byte that the box took reached it, in microseconds of the
// world's clock, in order.
std::vector<std::uint64_t> ArrivalsAtBox(int box, std::uint8_t command);

// The pacer (Wine front door): `askToQueue` is called, from any thread, when the pacer is to queue
// its request; PacerQueued when it says it has. Without a pacer, answers go out unpaced.
void SetPacer(std::function<void()> askToQueue);
void PacerQueued();
// Info answers the program may have asked for before winebus stored them: paced ones whose
// pacer request was let go at its deadline, and ones sent without a pacer. Tests fail unless
// both are zero.
int LateAnswers(int slot);
int UnpacedAnswers(int slot);

// Self-test of the tests: a slot whose info answers, after the first `onTime`, come 100 ms after
// the write that asked for them, unpaced, which under Wine always hands the program the answer
// before: what a stale answer looks like.
void SetAnswersLate(int slot, int onTime);

// The report descriptor a box with these report lengths (report ID included) declares.
std::vector<std::uint8_t> BoxReportDescriptor(std::uint16_t inputLength, std::uint16_t outputLength);

}  // namespace emu
