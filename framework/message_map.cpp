#include "framework/message_map.h"

#include <utility>

#include "framework/dialog_messages.h"

void CMessageMap::OnCommand(int controlId, std::function<void()> handler) {
    m_commands[controlId] = std::move(handler);
}

void CMessageMap::OnMessage(platform::MessageId message, Handler handler) {
    m_messages[message] = std::move(handler);
}

void CMessageMap::OnTimer(std::function<void(platform::TimerId)> handler) {
    OnMessage(platform::kWmTimer,
              [handler = std::move(handler)](platform::WParam wParam, platform::LParam) {
                  handler(static_cast<platform::TimerId>(wParam));
                  return platform::LResult{0};
              });
}

void CMessageMap::OnClose(std::function<void()> handler) {
    OnMessage(platform::kWmClose,
              [handler = std::move(handler)](platform::WParam, platform::LParam) {
                  handler();
                  return platform::LResult{0};
              });
}

void CMessageMap::OnDestroy(std::function<void()> handler) {
    OnMessage(platform::kWmDestroy,
              [handler = std::move(handler)](platform::WParam, platform::LParam) {
                  handler();
                  return platform::LResult{0};
              });
}

void CMessageMap::OnCreate(std::function<int()> handler) {
    OnMessage(kWmCreate, [handler = std::move(handler)](platform::WParam, platform::LParam) {
        return platform::LResult{handler()};
    });
}

void CMessageMap::OnActivate(std::function<void(unsigned)> handler) {
    OnMessage(kWmActivate,
              [handler = std::move(handler)](platform::WParam wParam, platform::LParam) {
                  handler(static_cast<unsigned>(wParam & 0xFFFF));  // the state is the low word
                  return platform::LResult{0};
              });
}

bool CMessageMap::Dispatch(platform::MessageId message, platform::WParam wParam,
                           platform::LParam lParam, platform::LResult* result) const {
    if (message == platform::kWmCommand) {
        const auto found = m_commands.find(CommandControlId(wParam));
        if (found == m_commands.end()) {
            return false;
        }
        found->second();
        if (result != nullptr) {
            *result = 0;
        }
        return true;
    }
    const auto found = m_messages.find(message);
    if (found == m_messages.end()) {
        return false;
    }
    const platform::LResult answer = found->second(wParam, lParam);
    if (result != nullptr) {
        *result = answer;
    }
    return true;
}
