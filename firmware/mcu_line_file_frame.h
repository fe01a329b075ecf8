// The firmware file of family B: found and read like the family A file, but
// kept as text. Each block is one whole S-record as the file writes it, from
// its 'S' to the end of its checksum, without the line end. The platform tag
// is the data of the S0 header record that opens the file.
//
// Threads: as CMcuFileFrame.
#pragma once

#include <cstdint>
#include <string>

#include "firmware/mcu_file_frame.h"

class CMcuLineFileFrame : public CMcuFileFrame {
public:
    // The sender hands ReadBlock a buffer of this many characters, so no
    // record may be longer (a count of at most 62).
    static constexpr std::uint32_t kMaxRecordTextChars = 128;

    CMcuLineFileFrame();
    ~CMcuLineFileFrame() override;

    // LoadFile, then checks that every record fits the file and the sender's
    // buffer and that the file ends with a termination record, then takes the
    // header tag. False when any of it fails.
    bool Load() override;
    // Copies the next record's text (from the next 'S' on) and returns its
    // length; 0 when no further 'S' is left. Never copies more than max or
    // beyond the file.
    std::uint32_t ReadBlock(std::uint8_t* buffer, std::uint32_t max) override;
    // The header tag.
    std::string GetPlatform() const override;
    // Open, read, close; the text is not parsed.
    int LoadFile() override;
    // The whole file into the image buffer; data length = file length.
    bool ReadFileData() override;

private:
    bool ValidateRecordTexts() const;
    void ReadHeaderTag();

    char m_headerTag[kPlatformTagBytes] = {};  // always zero-terminated
};
