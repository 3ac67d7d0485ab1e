#include "tests/win32/hid_interface_paths.h"

#include <setupapi.h>

namespace e2e {

std::vector<std::wstring> HidInterfacePaths() {
    std::vector<std::wstring> paths;
    const HDEVINFO list = SetupDiGetClassDevsW(&kHidInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) return paths;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(list, nullptr, &kHidInterfaceClass, index, &data); ++index) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(list, &data, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
        std::vector<BYTE> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (SetupDiGetDeviceInterfaceDetailW(list, &data, detail, size, nullptr, nullptr)) paths.push_back(detail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(list);
    return paths;
}

}  // namespace e2e
