#include "engine/event_messages.h"

#include "mcu_link/engine_events.h"
#include "platform/window_messages.h"

platform::MessageId EngineEventMessage() {
    static const platform::MessageId id = platform::RegisterWindowMessage(kEngineEventMessageName);
    return id;
}

platform::MessageId KeyEventMessage() {
    static const platform::MessageId id = platform::RegisterWindowMessage(kKeyEventMessageName);
    return id;
}

platform::MessageId McuComOpMessage() {
    static const platform::MessageId id = platform::RegisterWindowMessage(kMcuComOpMessageName);
    return id;
}
