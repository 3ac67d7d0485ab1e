// Discovery, query and the flash commands against arbitrary system and box behaviour: nothing
// may be read or written outside a buffer (AddressSanitizer), and whatever happens, closing the
// device releases every handle and list that was obtained.
#include <cstdlib>

#include "device/discovery.h"
#include "device/flash.h"
#include "device/protocol.h"
#include "fuzz/fuzz_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzPlatformStart(data, size);
    ResetDeviceRecord(g_device);

    const std::int32_t found = FindDevice(g_device);
    if (FuzzPlatformOpenLists() != 0) std::abort();
    if (found == DEV_OK && g_device.bootloaderMode != 0) {
        if (g_device.outputReportLength < MIN_BOOTLOADER_OUTPUT_LENGTH || g_device.outputReportLength > REPORT_BUFFER_SIZE) std::abort();
        std::uint8_t block[48];
        for (std::uint8_t& byte : block) byte = FuzzByte();
        UnlockFlash(g_device);
        ErasePages(g_device, 0x0801F000u | FuzzByte());
        SetAddress(g_device, 0x08003000);
        WriteData(g_device, FuzzByte() & 3, block);
        LockFlash(g_device);
        SendFinish(g_device);
    }
    // A search that found no box to take holds none; one whose query failed holds the box it
    // claimed. DEV_ERR_UNUSABLE is either: no list, or a box whose report lengths were refused.
    const bool noBoxTaken = found == DEV_ERR_NOT_FOUND || found == DEV_ERR_BUSY || found == DEV_ERR_DENIED;
    if (found != DEV_OK && !noBoxTaken && found != DEV_ERR_UNUSABLE && IsDeviceHeld(g_device) == false) std::abort();
    if (noBoxTaken && (IsDeviceHeld(g_device) || FuzzPlatformClaims() != 0)) std::abort();
    if (IsDeviceHeld(g_device) != (FuzzPlatformClaims() == 1)) std::abort();  // held exactly when claimed
    CloseDevice(g_device);
    if (FuzzPlatformOpenHandles() != 0 || FuzzPlatformClaims() != 0 || IsDeviceHeld(g_device) || g_device.devicePath != nullptr) std::abort();
    return 0;
}
