// Sense data as a device sends it, for the transport tests' stand-in kernels and drivers.
#pragma once

#include <cstdint>
#include <vector>

namespace zurvax::test {

// Fixed format: response code 70h, additional length 10.
inline std::vector<std::uint8_t> FixedSense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    std::vector<std::uint8_t> sense(18, 0);
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = 10;
    sense[12] = asc;
    sense[13] = ascq;
    return sense;
}

// Descriptor format: response code 72h, no descriptors.
inline std::vector<std::uint8_t> DescriptorSense(std::uint8_t key, std::uint8_t asc,
                                                 std::uint8_t ascq) {
    return {0x72, key, asc, ascq, 0, 0, 0, 0};
}

} // namespace zurvax::test
