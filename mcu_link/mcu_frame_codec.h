// The seam at which the two frame formats differ. The updater holds its codec
// through this interface only and drives both formats with the same code.
//
// Calling order for sending: PackFrame, then GetFrameLen and GetFrameBuf, then
// write that many bytes. The frame stays until the next PackFrame, so it may be
// written again.
//
// Calling order for receiving: after each read, PutRecvData(bytes, count, true),
// then ParseRecvBuf; when it returns true, GetRecvFrame into a zeroed
// McuFrameInfo, handle the frame, then FreeRecvData. UnpackFrame is called by
// ParseRecvBuf; nobody else needs it.
//
// Threads: the receiving operations (PutRecvData, ParseRecvBuf, UnpackFrame,
// GetRecvFrame, FreeRecvData) run on one thread, the sending operations
// (PackFrame, GetFrameBuf, GetFrameLen) on one other thread. The two halves
// share no field, so no lock is needed. Anything else is one thread at a time.
#pragma once

#include <cstdint>

#include "mcu_link/mcu_frame_info.h"

class CMcuFrameCodec {
public:
    CMcuFrameCodec() = default;
    CMcuFrameCodec(const CMcuFrameCodec&) = delete;
    CMcuFrameCodec& operator=(const CMcuFrameCodec&) = delete;

    // Releases a held payload.
    virtual ~CMcuFrameCodec() = default;
    // Appends received bytes; false (and the buffer emptied) when they would
    // not fit, false for null bytes.
    virtual bool PutRecvData(const std::uint8_t* bytes, std::uint32_t count, bool framed) = 0;
    // Finds, checks and consumes at most one frame; true when a frame was
    // consumed and passed all checks.
    virtual bool ParseRecvBuf() = 0;
    // Builds one frame into the frame buffer.
    virtual void PackFrame(std::uint8_t command, std::uint8_t subCommand,
                           std::uint32_t payloadLength, const std::uint8_t* payload) = 0;
    virtual const std::uint8_t* GetFrameBuf() const = 0;
    virtual std::uint32_t GetFrameLen() const = 0;
    // Checks one complete frame starting at bytes and takes its fields and a
    // copy of its payload.
    virtual bool UnpackFrame(const std::uint8_t* bytes, std::uint32_t length) = 0;
    // Fills info from the last unpacked frame; returns its payload reference.
    virtual const std::uint8_t* GetRecvFrame(McuFrameInfo& info) const = 0;
    // Releases the held payload.
    virtual void FreeRecvData() = 0;
};
