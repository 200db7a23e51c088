#pragma once

// Told of volume-button presses while the volume check runs.
class VolumeButtonCheckDelegate {
public:
    virtual ~VolumeButtonCheckDelegate() = default;
    // 1 for a press that lowered the volume, 0 for one that raised it.
    virtual void onVolumeButton(int direction) = 0;
};
