// The device through which the pacer (tests/win32/box_pacer.cpp) holds Wine's device dispatcher
// while winebus stores a box's answer; emulated_box.cpp says why. Plugged in by the Wine front
// door for as long as it runs; to the program under test it is one more vendor's HID device.
#pragma once

constexpr unsigned short PACER_VENDOR_ID = 0x1209;
constexpr unsigned short PACER_PRODUCT_ID = 0x0001;
