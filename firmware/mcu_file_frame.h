// The firmware file of family A: finds the "*.s19" file next to the
// executable, reads it, and turns its S-records into a binary image of the
// microcontroller's program memory from MCU address 0xA000 on, which the
// transfer then takes in blocks with their addresses. The firmware's platform
// tag is the data of a record at MCU address 0x9FE0.
//
// Threads: the search and the load (with the parse-progress messages) run on
// the window thread. The block operations (ReadBlock, GetBlockAddress,
// GetDataLength, GetReadPos) run on the updater's sender thread, only after
// the load has returned; the updater's wake-up event hands the frame over.
// Rewind runs on the window thread while the sender waits. The read position
// is atomic so that a Rewind and a block read never tear it.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "firmware/mcu_record_info.h"

class CMcuFileFrame {
public:
    static constexpr std::uint32_t kImageBaseAddress = 0xA000;  // image byte 0
    static constexpr std::uint32_t kPlatformTagAddress = 0x9FE0;
    static constexpr const char* kFirmwarePattern = "*.s19";
    // Size classes of SearchFile with the name check on.
    static constexpr int kSizeClassAny = -1;
    static constexpr int kSizeClass64K = 0;                     // names with "64K" and "HX900"
    static constexpr int kSizeClass128K = 1;                    // names with "128K" and "HX900"
    static constexpr std::uint32_t kNoFileLength = 0xFFFFFFFF;  // GetFileLength with no file open

    CMcuFileFrame();
    CMcuFileFrame(const CMcuFileFrame&) = delete;
    CMcuFileFrame& operator=(const CMcuFileFrame&) = delete;

    // Closes the file if it is open and releases the buffers and the record.
    virtual ~CMcuFileFrame();
    // Stores the name rule and runs FindFile; true when a file was accepted.
    virtual bool SearchFile(bool checkName, int sizeClass);
    // Reads and parses the accepted file (LoadFile). A frame loads once: a
    // second Load fails and leaves the first image alone.
    virtual bool Load();
    // Nothing is kept for a repeat: always 0.
    virtual std::uint32_t ReadRepeat(std::uint8_t* buffer, std::uint32_t max);
    // Copies the next min(max, remaining) image bytes and moves on by as many.
    // 0 when the image is used up, or when nothing was loaded.
    virtual std::uint32_t ReadBlock(std::uint8_t* buffer, std::uint32_t max);
    // The MCU address of the next block: 0xA000 + read position.
    virtual std::uint32_t GetBlockAddress() const;
    // Image bytes to send: from 0xA000 to the end of the highest record.
    virtual std::uint32_t GetDataLength() const;
    virtual std::uint32_t GetReadPos() const;
    virtual void Rewind();
    // The accepted file's name, without directory.
    virtual std::string GetFileName() const;
    // The platform tag found at 0x9FE0; empty when the file has none.
    virtual std::string GetPlatform() const;
    // Open, read, close, parse. 1 on success, 0 on any failure.
    virtual int LoadFile();
    // Opens the accepted file for reading; the text position becomes 0.
    virtual bool OpenFile();
    // Allocates the text and image buffers (file length each, zero-filled) and
    // reads the whole file into the text with one read.
    virtual bool ReadFileData();
    // Closes the file if open; always 1.
    virtual int CloseFile();
    // Size of the open file; kNoFileLength when none is open (or it is 4 GiB
    // or more).
    virtual std::uint32_t GetFileLength();
    // Looks for the firmware file in the executable's directory under the
    // stored name rule; 1 when one was accepted.
    virtual int FindFile();

    // The parse-progress value sent last is one value for the whole run; a
    // test starts from "none sent yet" with this.
    static void ResetParseProgressForTesting();

protected:
    // Scans the text from the text position: 1 when at least one record was
    // decoded before a termination record, 0 otherwise.
    int ParseRecords();
    // Stores a decoded record's data into the image, or its tag.
    bool SaveDataToBuf(const McuRecordInfo& record);
    // Sends the parse percentage to the foreground window when it changed.
    void ReportParseProgress();
    const char* TextChars() const { return reinterpret_cast<const char*>(m_text.get()); }
    const char* ImageChars() const { return reinterpret_cast<const char*>(m_image.get()); }
    void CloseFileHandle();

    int m_endOfRecords = 0;  // a termination record was met; never cleared
    int m_found = 0;         // FindFile accepted a file
    std::FILE* m_file = nullptr;
    std::uint32_t m_textPosition = 0;  // next character to scan
    std::string m_fullPath;
    std::string m_fileName;
    std::unique_ptr<std::uint8_t[]> m_text;  // the file text, not terminated
    std::uint32_t m_dataLength = 0;
    std::atomic<std::uint32_t> m_readPosition{0};
    std::unique_ptr<std::uint8_t[]> m_image;
    std::uint32_t m_fileLength = 0;
    std::unique_ptr<McuRecordInfo> m_record;
    bool m_checkName = false;
    int m_sizeClass = 0;
    std::uint32_t m_bufferLength = 0;  // bytes allocated for the text and the image
    bool m_loaded = false;             // Load succeeded; blocks may be handed out
};
