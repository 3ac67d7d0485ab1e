// The platform's HID and system functions, played against the simulated world.
#include <cstdlib>
#include <cstring>

#include "platform/hid.h"
#include "platform/sim/sim_box.h"

namespace {

using sim::g_world;

using OpenHandle = sim::World::OpenHandle;

constexpr DeviceHandle HANDLE_BASE = 0x100;

bool Fail(std::uint32_t error) {
    sim::SetLastError(error);
    return false;
}

// Every function below looks at the world under its lock; the waits for an answer that never
// comes are made without it, so that one silent box holds up no other.
using WorldLock = std::unique_lock<std::recursive_mutex>;

OpenHandle* Lookup(DeviceHandle device) {
    if (device < HANDLE_BASE) return nullptr;
    const auto slot = static_cast<std::size_t>(device - HANDLE_BASE);
    if (slot >= g_world.handles.size() || !g_world.handles[slot].open) return nullptr;
    return &g_world.handles[slot];
}

sim::Interface& InterfaceOf(const OpenHandle& handle) { return g_world.interfaces[handle.iface]; }

sim::Box* BoxOf(const OpenHandle& handle) {
    const sim::Interface& iface = InterfaceOf(handle);
    if (iface.kind != sim::InterfaceKind::Box) return nullptr;
    return &g_world.boxes[static_cast<std::size_t>(iface.box)];
}

}  // namespace

// The interfaces present when the list was made, by their place in the world.
struct InterfaceList {
    std::vector<std::size_t> members;
};

InterfaceList* HidListInterfaces() {
    WorldLock world(sim::WorldMutex());
    if (g_world.listFails) {
        Fail(sim::ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    sim::AdvanceRestarts();
    auto* list = new InterfaceList;
    for (std::size_t i = 0; i < g_world.interfaces.size(); ++i)
        if (g_world.interfaces[i].present) list->members.push_back(i);
    ++g_world.openLists;
    return list;
}

Listed HidInterfaceAt(InterfaceList* list, std::uint32_t index, ListedInterface* member) {
    WorldLock world(sim::WorldMutex());
    *member = ListedInterface{};
    if (index >= list->members.size()) {
        Fail(sim::ERROR_NO_MORE_ITEMS);
        return Listed::End;
    }
    const sim::Interface& iface = g_world.interfaces[list->members[index]];
    if (iface.kind == sim::InterfaceKind::Unreadable) {
        Fail(sim::ERROR_INVALID_PARAMETER);
        return Listed::Unreadable;
    }
    const std::size_t bytes = (iface.path.size() + 1) * sizeof(char16_t);
    member->path = static_cast<char16_t*>(std::malloc(bytes));
    if (member->path == nullptr) return Listed::Unreadable;
    std::memcpy(member->path, iface.path.c_str(), bytes);
    member->idsListed = iface.idsListed;
    member->vendorId = iface.idsListed ? iface.vendorId : 0;
    member->productId = iface.idsListed ? iface.productId : 0;
    return Listed::Interface;
}

void HidFreeInterfaceList(InterfaceList* list) {
    if (list == nullptr) return;
    WorldLock world(sim::WorldMutex());
    delete list;
    --g_world.openLists;
}

DeviceHandle HidOpen(const char16_t* path, HidStatus* status) {
    WorldLock world(sim::WorldMutex());
    HidStatus ignored;
    if (status == nullptr) status = &ignored;
    *status = HidStatus::Failed;
    const std::u16string wanted(path);
    for (std::size_t i = 0; i < g_world.interfaces.size(); ++i) {
        const sim::Interface& iface = g_world.interfaces[i];
        if (!iface.present || iface.path != wanted) continue;
        if (iface.kind == sim::InterfaceKind::CannotOpen) {
            *status = HidStatus::Denied;
            Fail(sim::ERROR_ACCESS_DENIED);
            return PLATFORM_NO_DEVICE;
        }
        g_world.handles.push_back({i, true});
        ++g_world.openHandles;
        g_world.opened.push_back(wanted);
        *status = HidStatus::Ok;
        return HANDLE_BASE + static_cast<DeviceHandle>(g_world.handles.size() - 1);
    }
    Fail(sim::ERROR_FILE_NOT_FOUND);
    return PLATFORM_NO_DEVICE;
}

bool HidGetIds(DeviceHandle device, std::uint16_t* vendorId, std::uint16_t* productId) {
    WorldLock world(sim::WorldMutex());
    OpenHandle* handle = Lookup(device);
    if (handle == nullptr) return Fail(sim::ERROR_INVALID_HANDLE);
    const sim::Interface& iface = InterfaceOf(*handle);
    if (iface.kind == sim::InterfaceKind::AttributesFail) return Fail(sim::ERROR_GEN_FAILURE);
    if (!iface.present) return Fail(sim::ERROR_DEVICE_NOT_CONNECTED);
    *vendorId = iface.vendorId;
    *productId = iface.productId;
    return true;
}

// A named mutex of the simulated system: one claim per box, in whichever program.
HidStatus HidClaim(DeviceHandle device, const char16_t*, BoxClaim* claim) {
    WorldLock world(sim::WorldMutex());
    OpenHandle* handle = Lookup(device);
    if (handle == nullptr) {
        Fail(sim::ERROR_INVALID_HANDLE);
        return HidStatus::Failed;
    }
    sim::Box* box = BoxOf(*handle);
    if (box == nullptr) {
        Fail(sim::ERROR_INVALID_PARAMETER);
        return HidStatus::Failed;
    }
    if (box->heldElsewhere || box->claimed) {
        Fail(sim::ERROR_ALREADY_EXISTS);
        return HidStatus::Held;
    }
    box->claimed = true;
    *claim = static_cast<BoxClaim>(InterfaceOf(*handle).box) + 1;
    return HidStatus::Ok;
}

void HidRelease(DeviceHandle, BoxClaim claim) {
    WorldLock world(sim::WorldMutex());
    if (claim <= 0 || static_cast<std::size_t>(claim) > g_world.boxes.size()) return;
    g_world.boxes[static_cast<std::size_t>(claim - 1)].claimed = false;
}

bool HidGetReportLengths(DeviceHandle device, std::uint16_t* inputLength, std::uint16_t* outputLength) {
    WorldLock world(sim::WorldMutex());
    OpenHandle* handle = Lookup(device);
    if (handle == nullptr) return Fail(sim::ERROR_INVALID_HANDLE);
    const sim::Box* box = BoxOf(*handle);
    if (box == nullptr) {
        *inputLength = 8;
        *outputLength = 8;
        return true;
    }
    if (!box->present) return Fail(sim::ERROR_DEVICE_NOT_CONNECTED);
    if (box->faults.capsFail) return Fail(sim::ERROR_GEN_FAILURE);
    *inputLength = box->inputReportLength;
    *outputLength = box->outputReportLength;
    return true;
}

bool HidWriteReport(DeviceHandle device, const std::uint8_t* report, std::uint32_t length) {
    WorldLock world(sim::WorldMutex());
    OpenHandle* handle = Lookup(device);
    if (handle == nullptr) return Fail(sim::ERROR_INVALID_HANDLE);
    const int boxIndex = InterfaceOf(*handle).box;
    if (BoxOf(*handle) == nullptr) {
        sim::LogWire(sim::Direction::Output, boxIndex, report, length, true);
        return true;
    }
    const sim::Delivery delivery = sim::DeliverOutputReport(boxIndex, report, length);
    return delivery.written || Fail(delivery.error);
}

bool HidReadReport(DeviceHandle device, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) {
    WorldLock world(sim::WorldMutex());
    OpenHandle* handle = Lookup(device);
    if (handle == nullptr) return Fail(sim::ERROR_INVALID_HANDLE);
    sim::Box* box = BoxOf(*handle);
    if (box == nullptr || !box->present) return Fail(sim::ERROR_DEVICE_NOT_CONNECTED);
    if (box->inputQueue.empty()) {
        // The handle and the box may move in the tables while the lock is let go.
        const int boxIndex = InterfaceOf(*handle).box;
        world.unlock();
        sim::WaitFor(timeoutMs);
        world.lock();
        sim::LogWire(sim::Direction::InputRead, boxIndex, report, 0, false);
        return Fail(sim::ERROR_TIMEOUT);
    }
    const std::vector<std::uint8_t> answer = box->inputQueue.front();
    box->inputQueue.pop_front();
    const std::uint32_t copied = length < answer.size() ? length : static_cast<std::uint32_t>(answer.size());
    std::memcpy(report, answer.data(), copied);
    sim::LogWire(sim::Direction::InputRead, InterfaceOf(*handle).box, report, copied, true);
    return true;
}

HidStatus HidGetInputReport(DeviceHandle device, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs,
                            std::uint32_t* received) {
    WorldLock world(sim::WorldMutex());
    *received = 0;
    const auto failed = [](std::uint32_t error) {
        Fail(error);
        return HidStatus::Failed;
    };
    OpenHandle* handle = Lookup(device);
    if (handle == nullptr) return failed(sim::ERROR_INVALID_HANDLE);
    sim::Box* box = BoxOf(*handle);
    if (box == nullptr || !box->present) return failed(sim::ERROR_DEVICE_NOT_CONNECTED);
    ++g_world.infoRequests;
    if (box->faults.infoRequestUnsupported) {
        Fail(sim::ERROR_NOT_SUPPORTED);
        return HidStatus::Unsupported;
    }
    if (box->faults.infoAnswerNever) {
        const int boxIndex = InterfaceOf(*handle).box;
        world.unlock();
        sim::WaitFor(timeoutMs);
        world.lock();
        sim::LogWire(sim::Direction::InputRequested, boxIndex, report, 0, false);
        return failed(sim::ERROR_TIMEOUT);
    }
    const bool failsNow = box->faults.infoRequestsFailFirst > 0;
    if (failsNow) --box->faults.infoRequestsFailFirst;
    if (box->faults.infoRequestFails || failsNow || report[0] != 2) {
        sim::LogWire(sim::Direction::InputRequested, InterfaceOf(*handle).box, report, 0, false);
        return failed(sim::ERROR_GEN_FAILURE);
    }
    // The box answers a GET_REPORT with as much of its answer as was asked for, whatever length
    // it declares for the reports it sends on its own.
    *received = sim::SendInfoAnswer(*box, report, length);
    sim::LogWire(sim::Direction::InputRequested, InterfaceOf(*handle).box, report, *received, true);
    return HidStatus::Ok;
}

void HidClose(DeviceHandle device) {
    WorldLock world(sim::WorldMutex());
    OpenHandle* handle = Lookup(device);
    if (handle == nullptr) return;
    handle->open = false;
    --g_world.openHandles;
}
