// The abstract update engine behind the main window: the operations through
// which the window (by way of the updater holder) drives an update. The base
// does nothing; the firmware updater overrides every operation.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

class CUpdateEngine {
public:
    CUpdateEngine() = default;
    CUpdateEngine(const CUpdateEngine&) = delete;
    CUpdateEngine& operator=(const CUpdateEngine&) = delete;
    virtual ~CUpdateEngine() = default;

    virtual void Initialise() {}
    virtual int BeginTransfer() { return 0; }
    virtual void Stop() {}
    virtual int OnTimer(std::uint32_t /*timerId*/) { return 0; }
    virtual void GetFileName(std::string& /*name*/) {}
    virtual platform::DeviceHandle GetPortHandle() { return platform::kInvalidDevice; }
};
