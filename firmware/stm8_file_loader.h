// The loader of family A: the firmware file is parsed into a binary image and
// sent in blocks of up to 128 bytes with their MCU addresses. On platform code
// 8 the microcontroller's version decides between "64K" and "128K" firmware
// files, and the choice is remembered in the update flag file. Only an image
// whose platform tag holds "STM8QD5C" is accepted.
//
// Threads: as CMcuFileLoader.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "firmware/mcu_file_frame.h"
#include "firmware/mcu_file_loader.h"

class CStm8FileLoader : public CMcuFileLoader {
public:
    // Gives the platform code each time it is asked (the updater passes
    // GetPlatformCode); it is never cached.
    using PlatformCodeProvider = std::function<std::uint8_t()>;
    // The platform code whose firmware files come in two size classes.
    static constexpr std::uint8_t kSizeClassPlatformCode = 8;
    // Version dates from this year on call for "128K" files.
    static constexpr int kFirst128KYear = 2013;

    explicit CStm8FileLoader(PlatformCodeProvider platformCode);
    ~CStm8FileLoader() override;

    int PrepareImage() override;
    int BeginLoad() override;
    void Rewind() override;
    std::uint32_t ReadForState(std::uint8_t* buffer, std::uint32_t max) override;
    // Hands out image bytes; the state is left to the updater.
    std::uint32_t NextBlock(std::uint8_t* buffer, std::uint32_t max) override;
    std::uint32_t BlockAddress() const override;
    void SetState(std::uint8_t state) override;
    std::uint8_t GetState() const override;
    std::uint32_t TotalCount() const override;
    std::uint32_t DoneCount() const override;
    std::string GetFileName() const override;

private:
    // The size class for platform code 8, from the version text or the flag.
    int ChooseSizeClass();

    std::unique_ptr<CMcuFileFrame> m_frame;
    std::atomic<std::uint8_t> m_state;
    PlatformCodeProvider m_platformCode;
};
