// The loader of family B: the firmware file is sent as its S-record lines,
// one whole record per block, without addresses. The first "*.s19" file is
// taken; a file whose S0 header tag holds "STM8QD5C" (a family A firmware) is
// refused.
//
// Threads: as CMcuFileLoader.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "firmware/mcu_file_loader.h"
#include "firmware/mcu_line_file_frame.h"

class CLineFileLoader : public CMcuFileLoader {
public:
    CLineFileLoader();
    ~CLineFileLoader() override;

    int PrepareImage() override;
    int BeginLoad() override;
    void Rewind() override;
    std::uint32_t ReadForState(std::uint8_t* buffer, std::uint32_t max) override;
    // The next record's text; 0 and state eTranState_End when none is left.
    std::uint32_t NextBlock(std::uint8_t* buffer, std::uint32_t max) override;
    // Blocks carry no address: always 0.
    std::uint32_t BlockAddress() const override;
    void SetState(std::uint8_t state) override;
    std::uint8_t GetState() const override;
    // The file length and the characters consumed so far.
    std::uint32_t TotalCount() const override;
    std::uint32_t DoneCount() const override;
    std::string GetFileName() const override;

private:
    std::unique_ptr<CMcuLineFileFrame> m_frame;
    std::atomic<std::uint8_t> m_state;
};
