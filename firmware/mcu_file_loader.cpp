#include "firmware/mcu_file_loader.h"

#include <utility>

CMcuFileLoader::~CMcuFileLoader() = default;

int CMcuFileLoader::PrepareImage() {
    return -1;
}

int CMcuFileLoader::BeginLoad() {
    return -1;
}

void CMcuFileLoader::Reserved() {}

void CMcuFileLoader::Rewind() {}

std::uint32_t CMcuFileLoader::ReadForState(std::uint8_t* /*buffer*/, std::uint32_t /*max*/) {
    return 0;
}

std::uint32_t CMcuFileLoader::NextBlock(std::uint8_t* /*buffer*/, std::uint32_t /*max*/) {
    return 0;
}

std::uint32_t CMcuFileLoader::BlockAddress() const {
    return 0;
}

void CMcuFileLoader::SetState(std::uint8_t /*state*/) {}

std::uint8_t CMcuFileLoader::GetState() const {
    return 0;
}

std::uint32_t CMcuFileLoader::TotalCount() const {
    return 0;
}

std::uint32_t CMcuFileLoader::DoneCount() const {
    return 0;
}

std::string CMcuFileLoader::GetFileName() const {
    return std::string();
}

void CMcuFileLoader::SetMcuVersion(std::string version) {
    m_mcuVersion = std::move(version);
}

bool CMcuFileLoader::TagNamesStm8(std::string_view tag) {
    return tag.find(kStm8TagText) != std::string_view::npos;
}
