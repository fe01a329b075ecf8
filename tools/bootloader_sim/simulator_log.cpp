#include "tools/bootloader_sim/simulator_log.h"

CSimulatorLog::~CSimulatorLog() {
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

bool CSimulatorLog::Open(const std::string& path) {
    m_start = std::chrono::steady_clock::now();
    if (path.empty()) {
        return true;
    }
    m_file = std::fopen(path.c_str(), "w");
    if (m_file == nullptr) {
        return false;
    }
    // Whole lines reach the file at once, so a test can read it while we run.
    std::setvbuf(m_file, nullptr, _IOLBF, BUFSIZ);
    return true;
}

void CSimulatorLog::Line(std::string_view text) {
    WriteTo(m_file != nullptr ? m_file : stderr, text);
    if (m_file != nullptr && text.substr(0, 2) == "!!") {
        WriteTo(stderr, text);
    }
}

void CSimulatorLog::Important(std::string_view text) {
    WriteTo(m_file != nullptr ? m_file : stderr, text);
    if (m_file != nullptr) {
        WriteTo(stderr, text);
    }
}

void CSimulatorLog::WriteTo(std::FILE* stream, std::string_view text) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - m_start);
    std::fprintf(stream, "%8lld %.*s\n", static_cast<long long>(elapsed.count()),
                 static_cast<int>(text.size()), text.data());
}
