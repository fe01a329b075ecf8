// The loader object: stands between the firmware updater and the firmware
// file. It picks the "*.s19" file, loads it, judges its platform tag, holds
// the transfer state that the updater's threads drive, and hands out the
// blocks with their addresses and the counts for the progress display. This
// base answers every operation with "nothing"; CStm8FileLoader (family A) and
// CLineFileLoader (family B) do the work.
//
// Threads: PrepareImage, BeginLoad, Rewind and SetMcuVersion on the window
// thread; GetState, BlockAddress, NextBlock, TotalCount and DoneCount on the
// updater's sender thread; SetState on any of the updater's threads. The
// transfer state is atomic; the updater's wake-up event hands the rest over.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class CMcuFileLoader {
public:
    // The text a firmware tag is searched for (letter case counts).
    static constexpr std::string_view kStm8TagText = "STM8QD5C";

    CMcuFileLoader() = default;
    CMcuFileLoader(const CMcuFileLoader&) = delete;
    CMcuFileLoader& operator=(const CMcuFileLoader&) = delete;

    virtual ~CMcuFileLoader();
    // Finds the firmware file; non-zero when one was found. Base: -1.
    virtual int PrepareImage();
    // Reads the file and checks its tag: 1 good (state eTranState_Start), 0
    // unreadable or malformed, -1 tag refused. Base: -1.
    virtual int BeginLoad();
    // No caller; keeps its place among the operations.
    virtual void Reserved();
    // Back to the first block, state eTranState_Start.
    virtual void Rewind();
    // The block the current state calls for; 0 (and state eTranState_End) when
    // there is none.
    virtual std::uint32_t ReadForState(std::uint8_t* buffer, std::uint32_t max);
    // The next block into buffer (the updater passes 128 bytes); 0 when the
    // firmware is used up.
    virtual std::uint32_t NextBlock(std::uint8_t* buffer, std::uint32_t max);
    // The MCU address of the block NextBlock hands out next.
    virtual std::uint32_t BlockAddress() const;
    virtual void SetState(std::uint8_t state);
    virtual std::uint8_t GetState() const;
    // Amount to send and amount handed out, for DoneCount * 100 / TotalCount.
    virtual std::uint32_t TotalCount() const;
    virtual std::uint32_t DoneCount() const;
    virtual std::string GetFileName() const;
    // The microcontroller's version answer (platform code 8, before
    // PrepareImage).
    virtual void SetMcuVersion(std::string version);

protected:
    // The tag test: the tag holds kStm8TagText. An empty tag fails.
    static bool TagNamesStm8(std::string_view tag);

    std::string m_mcuVersion;
};
