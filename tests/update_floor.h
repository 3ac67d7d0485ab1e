// The floor of a whole update of the shipped image: the sum of its pauses. The box's 40 ms after
// each of the 115 pages from the image's start to the end of the erased area, and the program's
// 20 ms after the unlock, after the erase and after the address, and after each of the image's
// 1311 blocks. An update that takes less than this cut a pause short, which on a real box writes
// into flash that is not ready; how far above it an update ends is what the benchmarks and the
// end-to-end runs measure. Plain numbers, so that the Windows test drivers can use it too; the
// update test holds it against the program's own pauses on the simulated box's clock.
#pragma once

#include <cstdint>

constexpr std::uint64_t UPDATE_PAUSE_FLOOR_US = 115 * 40000 + (3 + 1311) * 20000;
constexpr double UPDATE_PAUSE_FLOOR_S = UPDATE_PAUSE_FLOOR_US / 1e6;
