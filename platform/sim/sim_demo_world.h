// The simulated world the demo program starts with.
#pragma once

// One box, plugged in and in bootloader mode, with a firmware older than the one the program
// carries, so that "Update" is offered at once; on the real clock, so the update takes as long
// as it would with a real box.
void AttachDemoBox();
// `count` such boxes, VELTABOX and VELTA-HUB in turn, for the console demo.
void AttachDemoBoxes(int count);
