#include "framework/message_bridge.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include "platform/debug_output.h"
#include "platform/window_messages.h"

CMessageBridge::CMessageBridge() {
    const int descriptor = platform::MessageQueueDescriptor();
    if (descriptor < 0) {
        platform::DebugPrintf("CMessageBridge: the message queue has no descriptor\n");
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
    // The descriptor stays readable while work is due, so whatever was posted
    // before the bridge existed is pumped once a loop runs.
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { Pump(); });
}

CMessageBridge::~CMessageBridge() = default;

void CMessageBridge::Pump() {
    int exitCode = 0;
    if (!platform::PumpMessages(&exitCode)) {
        QCoreApplication::exit(exitCode);
    }
}
