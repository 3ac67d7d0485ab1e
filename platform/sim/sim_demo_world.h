// The simulated world the demo program starts with.
#pragma once

// One box, plugged in and in bootloader mode, with a firmware older than the one the program
// carries, so that "Update" is offered at once; on the real clock, so the update takes as long
// as it would with a real box.
void AttachDemoBox();
// The most boxes the console demo simulates: a full USB bus.
constexpr int MOST_DEMO_BOXES = 127;

// `count` such boxes, VELTABOX and VELTA-HUB in turn, for the console demo, each with a serial
// number of its own, restarting into its new firmware after the finish when its flash holds the
// image the program carries (as many HID bootloaders do), which then reports the image's version.
void AttachDemoBoxes(int count);
// Box `number` (1-based) of those fails mid-image: a report written to it is refused, as by a
// box whose USB link broke, so that a line's failure can be shown without a real box.
void FailDemoBox(int number);
