#pragma once

// What a microphone level monitor reports, on the main thread.
class MicInputDelegate {
public:
    virtual ~MicInputDelegate() = default;
    // Levels in decibels of full scale (0 loudest).
    virtual void onUpdateMicLevel(double level, double peak) = 0;
    virtual void didFirstMicEvent() {}
    virtual void didSingleMicEvent() {}
    virtual void didSpecialMicEvent() {}
    virtual void readyForNext() {}
};
