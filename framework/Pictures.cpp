#include "framework/Pictures.h"

namespace fw {
namespace {

// Installed at start-up, before any window and before any other thread: no lock.
std::span<const Picture> g_pictures;

} // namespace

void InstallPictures(std::span<const Picture> pictures) { g_pictures = pictures; }

const Picture* FindPicture(int resourceId) {
    for (const Picture& picture : g_pictures) {
        if (picture.resourceId == resourceId) {
            return &picture;
        }
    }
    return nullptr;
}

} // namespace fw
