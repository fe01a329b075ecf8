#include "firmware/line_file_loader.h"

#include "mcu_link/tran_state.h"
#include "platform/debug_output.h"

CLineFileLoader::CLineFileLoader()
    : m_frame(std::make_unique<CMcuLineFileFrame>()), m_state(eTranState_Stop) {}

CLineFileLoader::~CLineFileLoader() = default;

int CLineFileLoader::PrepareImage() {
    return m_frame->SearchFile(false, CMcuFileFrame::kSizeClass64K) ? 1 : 0;
}

int CLineFileLoader::BeginLoad() {
    if (!m_frame->Load()) {
        return 0;
    }
    const std::string tag = m_frame->GetPlatform();
    if (TagNamesStm8(tag)) {
        platform::DebugPrintf("CLineFileLoader::BeginLoad platform [%s] refused\n", tag.c_str());
        return -1;
    }
    SetState(eTranState_Start);
    return 1;
}

void CLineFileLoader::Rewind() {
    m_frame->Rewind();
    SetState(eTranState_Start);
}

std::uint32_t CLineFileLoader::ReadForState(std::uint8_t* buffer, std::uint32_t max) {
    std::uint32_t count = 0;
    switch (GetState()) {
        case eTranState_Data:
            count = m_frame->ReadBlock(buffer, max);
            break;
        case eTranState_Repeat:
            count = m_frame->ReadRepeat(buffer, max);
            break;
        default:
            break;
    }
    if (count == 0) {
        SetState(eTranState_End);
    }
    return count;
}

std::uint32_t CLineFileLoader::NextBlock(std::uint8_t* buffer, std::uint32_t max) {
    const std::uint32_t count = m_frame->ReadBlock(buffer, max);
    if (count == 0) {
        SetState(eTranState_End);
    }
    return count;
}

std::uint32_t CLineFileLoader::BlockAddress() const {
    return 0;
}

void CLineFileLoader::SetState(std::uint8_t state) {
    m_state = state;
}

std::uint8_t CLineFileLoader::GetState() const {
    return m_state;
}

std::uint32_t CLineFileLoader::TotalCount() const {
    return m_frame->GetDataLength();
}

std::uint32_t CLineFileLoader::DoneCount() const {
    return m_frame->GetReadPos();
}

std::string CLineFileLoader::GetFileName() const {
    return m_frame->GetFileName();
}
