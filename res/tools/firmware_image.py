#!/usr/bin/env python3
"""Writes the sample firmware image the program sends to the emulated drives.

    firmware_image.py <output file>

Bytes 0-11 are the emulated drive's image header "KMR47000-FW:", bytes 12-15 the
revision the image installs, "0200"; a deterministic payload follows. The total length,
100,000 bytes, is no multiple of the 8 KiB chunk the program sends, so the last chunk is
a short one.
"""

import hashlib
import sys

HEADER = b"KMR47000-FW:"
REVISION = b"0200"
TOTAL_LENGTH = 100_000


def payload(length):
    """SHA-256 in counter mode over a fixed seed: reproducible, and no run of repeats."""
    blocks = []
    produced = 0
    counter = 0
    while produced < length:
        block = hashlib.sha256(b"vorn kmr-47000 sample image %d" % counter).digest()
        blocks.append(block)
        produced += len(block)
        counter += 1
    return b"".join(blocks)[:length]


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: firmware_image.py <output file>")
    image = HEADER + REVISION
    image += payload(TOTAL_LENGTH - len(image))
    assert len(image) == TOTAL_LENGTH and len(image) % 8192 != 0
    with open(sys.argv[1], "wb") as out:
        out.write(image)


if __name__ == "__main__":
    main()
