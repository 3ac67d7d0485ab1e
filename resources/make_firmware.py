#!/usr/bin/env python3
"""Writes resources/firmware.bin, the firmware image the program carries as RCDATA 122.

Why a placeholder: the real image is enciphered by its maker and only the box's bootloader can
read it. The program never looks inside it; it only cuts it into 48-byte blocks and sends them.
So any image of the right size exercises the whole update, on the simulated box as on a real
one, and this one cannot brick anything because it is not a program for any processor.

The bytes come from xorshift32 with a fixed seed, so every run writes the same file and the
image is neither blank nor structured like code. Two adjustments help tests and reviewers:
  * no byte is 0xFF, the value of erased flash, so a test can tell every written byte
    (in particular the last 16) from flash that was never written;
  * the first two words are kept away from what a Cortex-M vector table starts with (a stack
    pointer in SRAM, a reset address in flash), so no tool mistakes the file for a program.

Usage: python3 resources/make_firmware.py [output]   (default: firmware.bin next to this file)
"""

import hashlib
import os
import struct
import sys

IMAGE_SIZE = 62912  # the size of the image the program was built for; the flash area holds it
SEED = 0x5EED1234   # fixed, so the image is reproducible byte for byte


def xorshift32(state):
    state ^= (state << 13) & 0xFFFFFFFF
    state ^= state >> 17
    state ^= (state << 5) & 0xFFFFFFFF
    return state


def make_image():
    out = bytearray()
    state = SEED
    while len(out) < IMAGE_SIZE:
        state = xorshift32(state)
        out += struct.pack("<I", state)
    del out[IMAGE_SIZE:]
    for i, b in enumerate(out):
        if b == 0xFF:
            out[i] = 0xA5  # keep every byte distinguishable from erased flash
    first, second = struct.unpack_from("<II", out, 0)
    looks_like_stack = (first & 0xFFF00000) == 0x20000000
    looks_like_reset = (second & 0xFFF00000) == 0x08000000 and (second & 1) == 1
    assert not (looks_like_stack or looks_like_reset), "seed gives a vector-table look; change it"
    return bytes(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "firmware.bin")
    image = make_image()
    assert len(image) == IMAGE_SIZE
    assert 0xFF not in image
    with open(path, "wb") as f:
        f.write(image)
    print("%s: %d bytes, sha256 %s" % (path, len(image), hashlib.sha256(image).hexdigest()))


if __name__ == "__main__":
    main()
