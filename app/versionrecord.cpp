// The program's version record: the fixed file information and a translation table (U.S.
// English, Unicode), in a section of the executable that the update check reads back from the
// file. The numbers come from the build.

#include <cstdint>

namespace {

struct VersionRecord {
    uint32_t fixed[13];
    uint32_t translationBytes;
    uint16_t language;
    uint16_t codePage;
};

constexpr uint32_t kMS =
    (uint32_t(QUILLMOOR_VERSION_MAJOR) << 16) | uint32_t(QUILLMOOR_VERSION_MINOR);
constexpr uint32_t kLS =
    (uint32_t(QUILLMOOR_VERSION_PATCH) << 16) | uint32_t(QUILLMOOR_VERSION_TWEAK);

__attribute__((used, section(".quillmoor_version"))) const VersionRecord kVersionRecord = {
    {0xFEEF04BD, 0x00010000, kMS, kLS, kMS, kLS, 0x3F, 0, 0x40004, 1, 0, 0, 0},
    4,
    0x0409,
    1200,
};

} // namespace
