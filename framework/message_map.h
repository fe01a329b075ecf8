// A dialog's message map: which handler answers which message. Commands are
// mapped by control id; other messages (registered ones, timers, close,
// destroy, creation, activation) by message identifier. A message without an
// entry gets the dialog's default processing.
//
// Threads: filled in the dialog's constructor, used on the user-interface
// thread.
#pragma once

#include <functional>
#include <map>

#include "platform/types.h"

class CMessageMap {
public:
    using Handler = std::function<platform::LResult(platform::WParam, platform::LParam)>;

    // A command from control id (a button click).
    void OnCommand(int controlId, std::function<void()> handler);
    // Any message by identifier, for example a registered message.
    void OnMessage(platform::MessageId message, Handler handler);
    // The typed forms of the common messages.
    void OnTimer(std::function<void(platform::TimerId)> handler);
    void OnClose(std::function<void()> handler);
    void OnDestroy(std::function<void()> handler);
    // Answers 0 to go on with the creation, -1 to refuse it.
    void OnCreate(std::function<int()> handler);
    // state: kWaInactive, kWaActive or kWaClickActive.
    void OnActivate(std::function<void(unsigned state)> handler);

    // Runs the handler of the message when there is one and puts its result in
    // *result; false when the message has no entry.
    bool Dispatch(platform::MessageId message, platform::WParam wParam, platform::LParam lParam,
                  platform::LResult* result) const;

private:
    std::map<int, std::function<void()>> m_commands;
    std::map<platform::MessageId, Handler> m_messages;
};
