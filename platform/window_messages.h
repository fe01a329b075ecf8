// Windows, messages and window timers of this program.
//
// Every window belongs to the thread that created it and has its messages
// queued there. Any thread may post to a window and set or kill its timers;
// the messages and timer ticks are dispatched on the owner thread only, when
// that thread pumps its queue. Sending runs the window's handler at once and
// is allowed only on the owner thread. Timers read Clock(), so a test clock
// drives them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace platform {

using WindowProc = std::function<LResult(WindowHandle, MessageId, WParam, LParam)>;

// The same name gives the same identifier, from kFirstRegisteredMessage up;
// 0 for an empty name or a full table. Letter case is ignored, as the
// original system does; the first spelling is the one kept. Any thread.
MessageId RegisterWindowMessage(std::string_view name);
// The name registered for id (as first spelt); "" when id is not a registered message.
std::string GetRegisteredMessageName(MessageId id);

// Creates a window owned by the calling thread; proc handles its messages.
// kNoWindow for an empty proc. Handles are never reused. A window still
// there when its thread ends is removed with it (without kWmDestroy).
WindowHandle CreateWindow(WindowProc proc);
// Owner thread only: sends kWmDestroy to the window, then removes it with its
// timers and queued messages. False for an unknown window or another thread.
bool DestroyWindow(WindowHandle window);
bool IsWindow(WindowHandle window);

// Queues a message for the window's owner thread; false when the window does
// not exist. A window of another program (from FindWindow) gets the message
// as a datagram "<registered name> <wParam> <lParam>"; an undeliverable
// datagram is dropped (false).
bool PostMessage(WindowHandle window, MessageId message, WParam wParam, LParam lParam);
// Runs the window's handler now and returns its result. Owner thread only;
// 0 without calling anything otherwise.
LResult SendMessage(WindowHandle window, MessageId message, WParam wParam, LParam lParam);

// The foreground window: kNoWindow when none is set or it was destroyed.
// Only a window of this program can be made the foreground window.
void SetForegroundWindow(WindowHandle window);
WindowHandle GetForegroundWindow();

// Sets or restarts window timer id: each periodMs of Clock() the owner thread
// receives kWmTimer with wParam = id (one pending tick at most; missed
// periods are not made up: after a tick due at d the next is due at d +
// periodMs, or one period from now when that is past too). Periods below
// 10 ms are stretched to 10 ms. Returns id, or 0 when the window is not one
// of this program's or id is 0. Any thread.
TimerId SetTimer(WindowHandle window, TimerId id, std::uint32_t periodMs);
bool KillTimer(WindowHandle window, TimerId id);

// Queues kWmQuit on the calling thread's queue.
void PostQuitMessage(int exitCode);

// Pumping the calling thread's queue.
//
// Dispatches the messages posted so far and the timer ticks that are due,
// then returns: true normally, false when a kWmQuit was taken (its exit code
// goes to *exitCode when given; what was queued after it stays queued). Does
// not wait. Handlers run without any lock held and may post, set timers,
// create and destroy windows and pump recursively (a modal loop): the nested
// pump goes on with the messages that follow, in order.
bool PumpMessages(int* exitCode = nullptr);
// Waits until work is due or timeoutMs of real time passed; true when due.
bool WaitForMessages(std::uint32_t timeoutMs);
// Pumps and waits until kWmQuit; returns its exit code.
int RunMessageLoop();
// A descriptor that becomes readable when the calling thread's queue has work
// due (a posted message, a due timer, a clock that moved). For event loops
// that watch descriptors (the Qt bridge); PumpMessages clears it. -1 when the
// descriptor could not be made (then only PumpMessages and the waits work).
int MessageQueueDescriptor();

}  // namespace platform
