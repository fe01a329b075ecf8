#include "firmware/stm8_file_loader.h"

#include <cstdio>
#include <utility>

#include "firmware/update_flag.h"
#include "mcu_link/tran_state.h"
#include "platform/debug_output.h"

namespace {

constexpr const char* kIapMarker = "IAP";  // a boot loader that tells no date
constexpr const char* kVersionDatePattern = "HX900%04d%02d%02d";
constexpr std::uint8_t k64KFlag = 0;
constexpr std::uint8_t k128KFlag = 1;

}  // namespace

CStm8FileLoader::CStm8FileLoader(PlatformCodeProvider platformCode)
    : m_frame(std::make_unique<CMcuFileFrame>()),
      m_state(eTranState_Stop),
      m_platformCode(std::move(platformCode)) {}

CStm8FileLoader::~CStm8FileLoader() = default;

int CStm8FileLoader::PrepareImage() {
    const std::uint8_t platformCode = m_platformCode ? m_platformCode() : 0;
    if (platformCode != kSizeClassPlatformCode) {
        return m_frame->SearchFile(false, CMcuFileFrame::kSizeClass64K) ? 1 : 0;
    }
    return m_frame->SearchFile(true, ChooseSizeClass()) ? 1 : 0;
}

int CStm8FileLoader::ChooseSizeClass() {
    if (m_mcuVersion.find(kIapMarker) != std::string::npos) {
        std::uint8_t flag = 0;
        const int sizeClass = ReadUpdateFlag(flag) == 0 ? flag : CMcuFileFrame::kSizeClassAny;
        platform::DebugPrintf("CStm8FileLoader version [%s]: size class %d from the flag file\n",
                              m_mcuVersion.c_str(), sizeClass);
        return sizeClass;
    }
    // Fields that cannot be read stay 0, so a text without "HX900" is year 0.
    int year = 0;
    int month = 0;
    int day = 0;
    std::sscanf(m_mcuVersion.c_str(), kVersionDatePattern, &year, &month, &day);
    const bool is128K = year >= kFirst128KYear;
    WriteUpdateFlag(is128K ? k128KFlag : k64KFlag);  // a flag that cannot be written is no loss
    const int sizeClass = is128K ? CMcuFileFrame::kSizeClass128K : CMcuFileFrame::kSizeClass64K;
    platform::DebugPrintf("CStm8FileLoader version [%s]: year %d, size class %d\n",
                          m_mcuVersion.c_str(), year, sizeClass);
    return sizeClass;
}

int CStm8FileLoader::BeginLoad() {
    if (!m_frame->Load()) {
        return 0;
    }
    const std::string tag = m_frame->GetPlatform();
    if (!TagNamesStm8(tag)) {
        platform::DebugPrintf("CStm8FileLoader::BeginLoad platform [%s] refused\n", tag.c_str());
        return -1;
    }
    SetState(eTranState_Start);
    return 1;
}

void CStm8FileLoader::Rewind() {
    m_frame->Rewind();
    SetState(eTranState_Start);
}

std::uint32_t CStm8FileLoader::ReadForState(std::uint8_t* buffer, std::uint32_t max) {
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

std::uint32_t CStm8FileLoader::NextBlock(std::uint8_t* buffer, std::uint32_t max) {
    return m_frame->ReadBlock(buffer, max);
}

std::uint32_t CStm8FileLoader::BlockAddress() const {
    return m_frame->GetBlockAddress();
}

void CStm8FileLoader::SetState(std::uint8_t state) {
    m_state = state;
}

std::uint8_t CStm8FileLoader::GetState() const {
    return m_state;
}

std::uint32_t CStm8FileLoader::TotalCount() const {
    return m_frame->GetDataLength();
}

std::uint32_t CStm8FileLoader::DoneCount() const {
    return m_frame->GetReadPos();
}

std::string CStm8FileLoader::GetFileName() const {
    return m_frame->GetFileName();
}
