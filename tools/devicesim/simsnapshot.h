// JPEG frames served as camera snapshots: rendered on first use per channel and shared by every device.
#pragma once

#include <QByteArray>

namespace devicesim {

constexpr int kMaxChannel = 255;

// Empty when the channel is out of range or no JPEG writer is available.
QByteArray channelSnapshot(int iChannel);

} // namespace devicesim
