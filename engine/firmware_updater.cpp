#include "engine/firmware_updater.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "engine/answer_timer.h"
#include "engine/event_messages.h"
#include "engine/frame_trace.h"
#include "engine/platform_identification.h"
#include "engine/port_hand_off.h"
#include "engine/receiver_thread.h"
#include "engine/sender_thread.h"
#include "engine/serial_port.h"
#include "engine/updater_holder.h"
#include "firmware/line_file_loader.h"
#include "firmware/stm8_file_loader.h"
#include "mcu_link/engine_events.h"
#include "mcu_link/line_send_block.h"
#include "mcu_link/stm8_send_block.h"
#include "mcu_link/sum_frame_codec.h"
#include "mcu_link/tran_state.h"
#include "mcu_link/xor_frame_codec.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/event.h"
#include "platform/last_error.h"
#include "platform/serial_device.h"
#include "platform/window_messages.h"

namespace {

// Frame command bytes of each family.
constexpr std::uint8_t kFamilyACommand = 0x41;     // 'A'
constexpr std::uint8_t kFamilyASubCommand = 0x4F;  // 'O'
constexpr std::uint8_t kFamilyBCommand = 0x33;     // '3'
constexpr std::uint8_t kFamilyBSubCommand = 0x01;
constexpr std::uint8_t kHelloByte = 0x44;  // 'D'

// Answer kinds, family A.
constexpr std::uint8_t kAnswerStart = 0x61;     // 'a', flag
constexpr std::uint8_t kAnswerData = 0x62;      // 'b', address (4, low first), flag
constexpr std::uint8_t kAnswerSuccess = 0x73;   // 's'
constexpr std::uint8_t kAnswerReadBack = 0x5F;  // '_', key data read back
constexpr std::uint8_t kAnswerVersion = 0x56;   // 'V', version text
constexpr std::uint32_t kStartAnswerBytes = 2;
constexpr std::uint32_t kDataAnswerBytes = 6;
// Family B: 0x84 and a verdict byte.
constexpr std::uint8_t kAnswerB = 0x84;
constexpr std::uint8_t kVerdictDone = 0x00;
constexpr std::uint8_t kVerdictRepeat = 0x01;
constexpr std::uint8_t kVerdictGoOn = 0x02;
constexpr std::uint32_t kAnswerBBytes = 2;

constexpr std::uint32_t kProjectTypeDefault = 18;
constexpr std::uint32_t kProjectTypeFamilyA = 20;
constexpr std::uint32_t kCpuTypeLimitBytes = 259;
constexpr std::uint32_t kHwVersionLimitBytes = 16;
constexpr std::size_t kTextUnits = 260;  // a wide text buffer of the platform

// After a failed wait on the device (it is gone), the receiver pauses this
// long in real time so that it never spins.
constexpr auto kDeviceGonePause = std::chrono::milliseconds(10);

// Values of the updater's module that live for the whole process.
std::atomic<std::int32_t> g_lastPostedPercent{0};
std::atomic<std::int32_t> g_versionWaitCount{0};

bool ContainsMstar(const std::u16string& text) {
    return text.find(u"MSTAR") != std::u16string::npos;
}

// A UTF-16LE value with a terminating zero, from a registry buffer.
std::u16string TextFromUnits(const char16_t* units, std::size_t count) {
    std::u16string text;
    for (std::size_t i = 0; i < count && units[i] != 0; ++i) {
        text.push_back(units[i]);
    }
    return text;
}

}  // namespace

CFirmwareUpdater::CFirmwareUpdater(platform::WindowHandle window) : m_window(window) {}

CFirmwareUpdater::~CFirmwareUpdater() {
    Stop();
    if (IsAbandoned()) {
        // Never freed under a running thread; see CUpdaterHolder::Destroy.
        (void)m_codec.release();
        (void)m_port.release();
        (void)m_loader.release();
        (void)m_sendBlock.release();
        (void)m_receiver.release();
        (void)m_sender.release();
        (void)m_answerTimer.release();
        (void)m_wakeUp.release();
        GiveBackPort();
        return;
    }
    m_codec.reset();
    if (m_port) {
        m_port->Close();
        m_port.reset();
    }
    GiveBackPort();
    m_loader.reset();
    m_sendBlock.reset();
    m_receiver.reset();
    m_sender.reset();
    if (m_answerTimer) {
        m_answerTimer->Stop();
        m_answerTimer.reset();
    }
    m_wakeUp.reset();
}

bool CFirmwareUpdater::IsAbandoned() const {
    return (m_receiver && m_receiver->IsAbandoned()) || (m_sender && m_sender->IsAbandoned());
}

void CFirmwareUpdater::ResetProcessValuesForTesting() {
    g_lastPostedPercent.store(0);
    g_versionWaitCount.store(0);
}

platform::WindowHandle CFirmwareUpdater::ResolveWindow() {
    platform::WindowHandle window = m_window.load();
    if (window == platform::kNoWindow) {
        const CUpdaterHolder* holder = CUpdaterHolder::Instance();
        window = holder != nullptr ? holder->Window() : platform::kNoWindow;
        m_window.store(window);
    }
    return window;
}

bool CFirmwareUpdater::PostEvent(std::uint32_t code, platform::LParam value) {
    return platform::PostMessage(ResolveWindow(), EngineEventMessage(), code, value);
}

void CFirmwareUpdater::DecidePlatform() {
    m_platformCode = ::GetPlatformCode();
    std::uint32_t projectType = m_projectType;
    if (ReadProjectType(projectType)) {
        m_projectType = projectType;
    }
    char16_t cpuType[kTextUnits] = {};
    if (ReadCpuType(cpuType, kCpuTypeLimitBytes)) {
        m_processorType = TextFromUnits(cpuType, kTextUnits);
    }
    if (m_projectType == kProjectTypeFamilyA || ContainsMstar(m_processorType)) {
        m_family = Family::kA;
        m_frameCommand = kFamilyACommand;
        m_frameSubCommand = kFamilyASubCommand;
        return;
    }
    m_family = Family::kB;
    char16_t hwVersion[kHwVersionLimitBytes / sizeof(char16_t)] = {};
    if (ReadHwVersion(hwVersion, kHwVersionLimitBytes) && hwVersion[0] == u'V' &&
        hwVersion[1] == u'1') {
        m_baudRate = kSlowBaudRate;
    }
    m_frameCommand = kFamilyBCommand;
    m_frameSubCommand = kFamilyBSubCommand;
}

void CFirmwareUpdater::Initialise() {
    InstallLinkDiagnostics();
    InstallFrameTraceFromEnvironment();
    DecidePlatform();
    platform::DebugPrintf("CFirmwareUpdater::Initialise: platform %u, family %c, %u baud\n",
                          m_platformCode, m_family == Family::kA ? 'A' : 'B', m_baudRate);
    if (m_family == Family::kA) {
        m_loader.reset(new (std::nothrow) CStm8FileLoader(&::GetPlatformCode));
        m_codec.reset(new (std::nothrow) CXorFrameCodec());
        m_sendBlock.reset(new (std::nothrow) CStm8SendBlock());
    } else {
        m_loader.reset(new (std::nothrow) CLineFileLoader());
        m_codec.reset(new (std::nothrow) CSumFrameCodec());
        m_sendBlock.reset(new (std::nothrow) CLineSendBlock());
    }
    m_port.reset(new (std::nothrow) CSerialPort());
    m_wakeUp.reset(new (std::nothrow) platform::CEvent(platform::EventReset::kAuto));
    m_receiver.reset(new (std::nothrow) CReceiverThread(this));
    m_sender.reset(new (std::nothrow) CSenderThread(this));
    m_answerTimer.reset(new (std::nothrow) CAnswerTimer(ResolveWindow()));
    if (!m_loader || !m_codec || !m_sendBlock || !m_port || !m_wakeUp || !m_receiver || !m_sender ||
        !m_answerTimer) {
        // Out of memory: nothing can run; the user sees the port failure.
        platform::DebugPrintf("CFirmwareUpdater::Initialise: out of memory\n");
        PostEvent(static_cast<std::uint32_t>(EngineEvent::kPortUnavailable), 0);
        return;
    }

    if (TakePort(*m_port, m_portNumber, m_baudRate) == 0 &&
        m_port->Open(m_portNumber, m_baudRate) != 0) {
        PostEvent(static_cast<std::uint32_t>(EngineEvent::kPortUnavailable), 0);
        return;
    }

    m_receiver->Start();
    m_sender->Start();
    m_receiver->Resume();
    m_sender->Resume();
    m_stop.store(false);

    const std::uint8_t hello = kHelloByte;
    m_codec->PackFrame(m_frameCommand, m_frameSubCommand, 1, &hello);
    WriteFrame();

    if (m_platformCode == kPlatformWithVersion) {
        while (!m_versionReceived.load() && g_versionWaitCount.load() < kVersionPolls) {
            platform::Sleep(kVersionPollMs);
            g_versionWaitCount.fetch_add(1);
        }
        if (m_versionReceived.load()) {
            m_loader->SetMcuVersion(GetVersionText());
        } else {
            platform::DebugPrintf("CFirmwareUpdater::Initialise: no version answer\n");
            PostEvent(static_cast<std::uint32_t>(EngineEvent::kUpdateFailed), 0);
        }
    }

    if (m_loader->PrepareImage() != 0) {
        PostEvent(static_cast<std::uint32_t>(EngineEvent::kFileFound), 0);
        PostEvent(static_cast<std::uint32_t>(EngineEvent::kBeginTransfer), 0);
    } else {
        PostEvent(static_cast<std::uint32_t>(EngineEvent::kFileMissing), 0);
    }
}

int CFirmwareUpdater::BeginTransfer() {
    if (!m_loader || !m_wakeUp) {
        return 0;
    }
    const int loaded = m_loader->BeginLoad();
    if (loaded == 0 || loaded == -1) {
        platform::DebugPrintf("CFirmwareUpdater::BeginTransfer: file refused (%d)\n", loaded);
        PostEvent(static_cast<std::uint32_t>(EngineEvent::kFileMissing), 0);
        return 0;
    }
    m_refusals.store(0);
    m_finished.store(false);
    m_loader->Rewind();
    m_wakeUp->Set();
    PostEvent(static_cast<std::uint32_t>(EngineEvent::kTransferRunning), 0);
    return 1;
}

void CFirmwareUpdater::Stop() {
    if (!m_wakeUp && !m_sender && !m_receiver) {
        return;
    }
    m_stop.store(true);
    if (m_wakeUp) {
        m_wakeUp->Set();
    }
    if (m_sender) {
        m_sender->Stop();
    }
    if (m_port) {
        // Releases the receiver's pending wait on the device.
        platform::SetCommMask(m_port->GetHandle(), 0);
    }
    if (m_receiver) {
        m_receiver->Stop();
    }
}

int CFirmwareUpdater::OnTimer(std::uint32_t timerId) {
    if (!m_answerTimer || !m_loader || !m_wakeUp) {
        return 0;
    }
    if (m_finished.load()) {
        // A timer a late answer left behind: the transfer is over.
        m_answerTimer->Stop();
        return 0;
    }
    if (m_answerTimer->OnTick(timerId) == CAnswerTimer::kLimitReached) {
        const bool success = m_family == Family::kB && m_currentPercent.load() == 100;
        platform::DebugPrintf("CFirmwareUpdater::OnTimer: no answer after %d sendings (%d %%)\n",
                              kAnswerTicks, m_currentPercent.load());
        if (Finish(static_cast<std::uint32_t>(success ? EngineEvent::kUpdateSucceeded
                                                      : EngineEvent::kUpdateFailed))) {
            m_loader->SetState(eTranState_Stop);
        }
        return 0;
    }
    m_loader->SetState(eTranState_Repeat);
    m_wakeUp->Set();
    return 0;
}

void CFirmwareUpdater::GetFileName(std::string& name) {
    if (m_loader) {
        name = m_loader->GetFileName();
    }
}

platform::DeviceHandle CFirmwareUpdater::GetPortHandle() {
    return m_port ? m_port->GetHandle() : platform::kInvalidDevice;
}

std::string CFirmwareUpdater::GetVersionText() const {
    std::lock_guard lock(m_versionMutex);
    return m_versionText;
}

bool CFirmwareUpdater::WriteFrame() {
    const int written = m_port->Write(m_codec->GetFrameBuf(), m_codec->GetFrameLen());
    TraceSentFrame(m_codec->GetFrameBuf(), m_codec->GetFrameLen(), written != -1);
    return written != -1;
}

bool CFirmwareUpdater::ComposeDataBlock() {
    std::uint8_t block[kDataBlockBytes] = {};
    const std::uint32_t address = m_loader->BlockAddress();
    m_lastAddressSent.store(address);
    const std::uint32_t count = m_loader->NextBlock(block, kDataBlockBytes);
    if (count == 0) {
        return false;
    }
    m_sendBlock->MakeData(address, block, count);
    return true;
}

void CFirmwareUpdater::SendStep() {
    if (!m_codec || !m_loader || !m_sendBlock || !m_wakeUp || m_stop.load()) {
        return;
    }
    m_wakeUp->Wait();
    if (m_stop.load()) {
        return;
    }
    std::uint8_t state = m_loader->GetState();
    switch (state) {
        case eTranState_Start:
            m_sendBlock->MakeStart();
            m_startInFlight.store(true);
            break;
        case eTranState_Data:
            m_startInFlight.store(false);
            if (!ComposeDataBlock()) {
                m_loader->SetState(eTranState_End);
                state = eTranState_End;
                m_sendBlock->MakeEnd();
            }
            break;
        case eTranState_Repeat:
            platform::DebugPrintf("----------------------Repeat, %d\n",
                                  static_cast<int>(platform::GetTickCount()));
            break;
        case eTranState_End:
            m_startInFlight.store(false);
            m_sendBlock->MakeEnd();
            break;
        case eTranState_Stop:
            platform::DebugPrintf("--------------------------eTranState_Stop\n");
            platform::Sleep(kStopPauseMs);
            return;
        default:
            break;
    }
    m_codec->PackFrame(m_frameCommand, m_frameSubCommand, m_sendBlock->GetBlockLen(),
                       m_sendBlock->GetBlockBuf());
    // A repeat after a time-out keeps the running timer, so that its three
    // ticks cover the first sending and the repeats. Every other frame, and a
    // repeat an answer asked for (that answer stopped the timer), starts it
    // anew. It is started before the write: a quick answer must find it
    // running, or its Stop would come first and leave a timer for a frame
    // that was already answered.
    // The flag is taken whatever the state: a declined start ('a' 0) is sent
    // as a new start block, and a flag left behind would restart the timer on
    // a later time-out repeat and stretch the three ticks.
    const bool answerAskedForRepeat = m_restartTimerOnRepeat.exchange(false);
    if (state != eTranState_Repeat || answerAskedForRepeat) {
        m_answerTimer->Start(kAnswerTimeoutMs, kAnswerTicks);
    }
    if (!WriteFrame()) {
        m_loader->SetState(eTranState_Repeat);
        platform::DebugPrintf("+++++++++++Write Error 0x%x:\n", platform::GetLastError());
        const std::uint8_t* frame = m_codec->GetFrameBuf();
        std::string bytes;
        char hex[4];
        for (std::uint32_t i = 0; i < m_codec->GetFrameLen(); ++i) {
            std::snprintf(hex, sizeof hex, "%02x ", frame[i]);
            bytes += hex;
        }
        platform::DebugPrintf("%s\n+++++++++++Write Error\n", bytes.c_str());
        return;
    }
    UpdateProgress();
}

void CFirmwareUpdater::UpdateProgress() {
    const std::uint32_t total = m_loader->TotalCount();
    if (total == 0) {
        return;
    }
    const std::uint64_t taken = m_loader->DoneCount();
    const auto percent = static_cast<std::int32_t>(taken * 100 / total);
    m_currentPercent.store(percent);
    if (g_lastPostedPercent.exchange(percent) != percent) {
        PostEvent(static_cast<std::uint32_t>(EngineEvent::kProgress), percent);
    }
}

void CFirmwareUpdater::ReceiveStep() {
    if (!m_port || !m_codec) {
        return;
    }
    bool haveBytes = false;
    if (m_parseAgain) {
        // The last pass handed on a frame; another may wait behind it in the
        // codec, with no new byte to wake a wait.
        m_parseAgain = false;
        haveBytes = true;
    } else {
        const platform::DeviceHandle device = m_port->GetHandle();
        std::uint32_t events = 0;
        if (!platform::WaitCommEvent(device, &events)) {
            std::this_thread::sleep_for(kDeviceGonePause);
            return;
        }
        if ((events & platform::kEvRxChar) != 0) {
            std::uint32_t errors = 0;
            std::uint32_t waiting = 0;
            platform::ClearCommError(device, &errors, &waiting);
            if (waiting == 0) {
                return;
            }
            // More than a read holds is taken in pieces, one per pass; the
            // wait returns at once while bytes remain.
            std::uint8_t buffer[kReadChunkBytes];
            const int got = m_port->Read(buffer, std::min(waiting, kReadChunkBytes));
            if (got < 0) {
                platform::DebugPrintf("--------------ReadFile error 0x%x\n",
                                      platform::GetLastError());
                return;
            }
            if (got == 0) {
                return;
            }
            m_codec->PutRecvData(buffer, static_cast<std::uint32_t>(got), true);
            haveBytes = true;
        } else if ((events & platform::kEvErr) != 0) {
            platform::DebugPrintf("+++++Read Error = 0x%x\n", platform::GetLastError());
        }
    }
    if (haveBytes && m_codec->ParseRecvBuf()) {
        McuFrameInfo info{};
        m_codec->GetRecvFrame(info);
        HandleAnswer(info);
        m_codec->FreeRecvData();
        m_parseAgain = true;
    }
}

McuFrameInfo* CFirmwareUpdater::MakeReadBack(const std::uint8_t* payload, std::uint16_t length) {
    auto* record = new (std::nothrow) McuFrameInfo();
    if (record == nullptr) {
        return nullptr;
    }
    auto* copy = new (std::nothrow) std::uint8_t[length > 0 ? length : 1];
    if (copy == nullptr) {
        delete record;
        return nullptr;
    }
    if (length > 0) {
        std::memcpy(copy, payload, length);
    }
    record->command = kAnswerReadBack;
    record->payloadLength = length;
    record->payload = copy;
    return record;
}

void CFirmwareUpdater::FreeReadBack(McuFrameInfo* record) {
    if (record == nullptr) {
        return;
    }
    delete[] record->payload;
    delete record;
}

void CFirmwareUpdater::HandleAnswer(const McuFrameInfo& info) {
    if (info.payloadLength == 0 || info.payload == nullptr) {
        return;
    }
    if (m_family == Family::kA) {
        HandleAnswerA(info);
    } else {
        HandleAnswerB(info);
    }
}

void CFirmwareUpdater::SetStateAndWake(std::uint8_t state) {
    m_answerTimer->Stop();
    m_loader->SetState(state);
    m_wakeUp->Set();
}

bool CFirmwareUpdater::Finish(std::uint32_t code) {
    if (m_finished.exchange(true)) {
        return false;
    }
    PostEvent(code, 0);
    return true;
}

void CFirmwareUpdater::RefuseAndRepeat(std::uint8_t repeatState) {
    const std::uint32_t refusals = m_refusals.fetch_add(1) + 1;
    if (refusals > kRefusalLimit) {
        platform::DebugPrintf("CFirmwareUpdater: block refused %u times, giving up\n", refusals);
        m_answerTimer->Stop();
        if (Finish(static_cast<std::uint32_t>(EngineEvent::kUpdateFailed))) {
            m_loader->SetState(eTranState_Stop);
        }
        return;
    }
    m_restartTimerOnRepeat.store(true);
    SetStateAndWake(repeatState);
}

void CFirmwareUpdater::HandleAnswerA(const McuFrameInfo& info) {
    const std::uint8_t* payload = info.payload;
    const std::uint32_t length = info.payloadLength;
    const bool movesTransfer =
        payload[0] == kAnswerStart || payload[0] == kAnswerData || payload[0] == kAnswerSuccess;
    if (movesTransfer && m_finished.load()) {
        platform::DebugPrintf("CFirmwareUpdater: '%c' answer after the end ignored\n", payload[0]);
        return;
    }
    switch (payload[0]) {
        case kAnswerStart:
            if (length < kStartAnswerBytes) {
                platform::DebugPrintf("CFirmwareUpdater: 'a' answer without its flag\n");
                return;
            }
            if (payload[1] != 0 ? !m_startInFlight.exchange(false) : !m_startInFlight.load()) {
                // The answer to a repeat of the start block, after the first
                // answer already let the data blocks go.
                platform::DebugPrintf("CFirmwareUpdater: late 'a' answer ignored\n");
                return;
            }
            if (payload[1] != 0) {
                m_refusals.store(0);
                SetStateAndWake(eTranState_Data);
            } else {
                RefuseAndRepeat(eTranState_Start);
            }
            return;
        case kAnswerData: {
            if (length < kDataAnswerBytes) {
                platform::DebugPrintf("CFirmwareUpdater: 'b' answer of %u bytes ignored\n", length);
                return;
            }
            const std::uint32_t address = static_cast<std::uint32_t>(payload[1]) |
                                          static_cast<std::uint32_t>(payload[2]) << 8 |
                                          static_cast<std::uint32_t>(payload[3]) << 16 |
                                          static_cast<std::uint32_t>(payload[4]) << 24;
            const std::uint32_t expected = m_lastAddressSent.load();
            if (address == expected && payload[5] != 0) {
                m_refusals.store(0);
                SetStateAndWake(eTranState_Data);
            } else {
                platform::DebugPrintf("CFirmwareUpdater: 'b' for 0x%x flag %u, sent 0x%x: repeat\n",
                                      address, payload[5], expected);
                RefuseAndRepeat(eTranState_Repeat);
            }
            return;
        }
        case kAnswerSuccess:
            if (Finish(static_cast<std::uint32_t>(EngineEvent::kUpdateSucceeded))) {
                SetStateAndWake(eTranState_Stop);
            }
            return;
        case kAnswerVersion: {
            const auto* text = reinterpret_cast<const char*>(payload + 1);
            const std::size_t units = std::find(payload + 1, payload + length, 0) - (payload + 1);
            {
                std::lock_guard lock(m_versionMutex);
                m_versionText.assign(text, units);
            }
            m_versionReceived.store(true);
            return;
        }
        case kAnswerReadBack: {
            McuFrameInfo* record = MakeReadBack(payload, static_cast<std::uint16_t>(length - 1));
            if (record == nullptr) {
                platform::DebugPrintf("CFirmwareUpdater: read-back lost, no memory\n");
                return;
            }
            if (!PostEvent(static_cast<std::uint32_t>(EngineEvent::kKeyReadBack),
                           reinterpret_cast<platform::LParam>(record))) {
                FreeReadBack(record);
            }
            return;
        }
        default:
            return;
    }
}

void CFirmwareUpdater::HandleAnswerB(const McuFrameInfo& info) {
    const std::uint8_t* payload = info.payload;
    if (payload[0] != kAnswerB) {
        return;
    }
    if (m_finished.load()) {
        platform::DebugPrintf("CFirmwareUpdater: 0x84 answer after the end ignored\n");
        return;
    }
    if (info.payloadLength < kAnswerBBytes) {
        platform::DebugPrintf("CFirmwareUpdater: 0x84 answer without its verdict\n");
        return;
    }
    switch (payload[1]) {
        case kVerdictDone:
            if (Finish(static_cast<std::uint32_t>(EngineEvent::kUpdateSucceeded))) {
                SetStateAndWake(eTranState_Stop);
            }
            return;
        case kVerdictRepeat:
            RefuseAndRepeat(eTranState_Repeat);
            return;
        case kVerdictGoOn:
            m_refusals.store(0);
            SetStateAndWake(eTranState_Data);
            return;
        default:
            return;
    }
}
