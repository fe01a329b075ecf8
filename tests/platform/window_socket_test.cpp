// Windows of other programs: finding their datagram sockets, posting to them,
// and the receiving side used by our stand-in programs.
#include "platform/window_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

#include "platform/window_messages.h"
#include "tests/support/scoped_sysroot.h"

namespace {

using platform::CWindowSocket;
using platform::ExternalMessage;

constexpr std::string_view kPortOwnerClass = "SERIAL_WINDOW_CLASS_NAME";
constexpr std::string_view kPortOwnerTitle = "SERIAL_WINDOW_NAME";
constexpr std::uint32_t kReceiveTimeoutMs = 1000;

// Sends raw bytes as one datagram, as another program might.
bool SendRaw(const std::string& path, std::string_view bytes) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const int sender = socket(AF_UNIX, SOCK_DGRAM, 0);
    const ssize_t sent = sendto(sender, bytes.data(), bytes.size(), 0,
                                reinterpret_cast<const sockaddr*>(&address), sizeof address);
    close(sender);
    return sent == static_cast<ssize_t>(bytes.size());
}

// Leaves a socket file behind as a program that crashed would.
void LeaveStaleSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const int bound = socket(AF_UNIX, SOCK_DGRAM, 0);
    ASSERT_EQ(bind(bound, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    close(bound);
}

struct ParseCase {
    std::string_view text;
    bool valid;
    ExternalMessage expected;
};

TEST(WindowDatagramTest, ParsesNameAndTwoDecimalNumbers) {
    const ParseCase cases[] = {
        {"WM_MCU_COM_OP 4 0", true, {"WM_MCU_COM_OP", 4, 0}},
        {"WM_MCU_COM_OP 4 1\n", true, {"WM_MCU_COM_OP", 4, 1}},  // as echo sends it
        {"  Msg\t18446744073709551615   -9223372036854775808\r\n",
         true,
         {"Msg", 18446744073709551615u, INT64_MIN}},
        {"", false, {}},
        {"WM_MCU_COM_OP", false, {}},
        {"WM_MCU_COM_OP 4", false, {}},
        {"WM_MCU_COM_OP 4 0 0", false, {}},
        {"WM_MCU_COM_OP -4 0", false, {}},
        {"WM_MCU_COM_OP 0x4 0", false, {}},
        {"WM_MCU_COM_OP 4 +1", false, {}},
        {"WM_MCU_COM_OP 18446744073709551616 0", false, {}},
        {"WM_MCU_COM_OP 4 9223372036854775808", false, {}},
        {std::string_view("WM\0X 4 0", 8), false, {}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(std::string(test.text));
        const auto parsed = platform::ParseWindowDatagram(test.text);
        ASSERT_EQ(parsed.has_value(), test.valid);
        if (parsed) {
            EXPECT_EQ(parsed->name, test.expected.name);
            EXPECT_EQ(parsed->wParam, test.expected.wParam);
            EXPECT_EQ(parsed->lParam, test.expected.lParam);
        }
    }
}

class WindowSocketTest : public ::testing::Test {
protected:
    std::string PortOwnerPath() const {
        return platform::WindowSocketPath(kPortOwnerClass, kPortOwnerTitle);
    }

    testing_support::CScopedSysroot m_root;
};

TEST_F(WindowSocketTest, PathLiesBelowTheSystemRoot) {
    EXPECT_EQ(PortOwnerPath(),
              m_root.Root() + "/run/windows/SERIAL_WINDOW_CLASS_NAME@SERIAL_WINDOW_NAME");
}

TEST_F(WindowSocketTest, FoundWindowReceivesThePostedRequest) {
    CWindowSocket portOwner;
    ASSERT_TRUE(portOwner.Bind(kPortOwnerClass, kPortOwnerTitle));
    EXPECT_EQ(portOwner.Path(), PortOwnerPath());

    const platform::WindowHandle window = platform::FindWindow(kPortOwnerClass, kPortOwnerTitle);
    ASSERT_NE(window, platform::kNoWindow);
    EXPECT_EQ(platform::FindWindow(kPortOwnerClass, kPortOwnerTitle), window);
    EXPECT_TRUE(platform::IsWindow(window));

    const platform::MessageId request = platform::RegisterWindowMessage("WM_MCU_COM_OP");
    ASSERT_TRUE(platform::PostMessage(window, request, 4, 0));
    char bytes[64];
    const ssize_t length = recv(portOwner.Descriptor(), bytes, sizeof bytes, MSG_DONTWAIT);
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::string(bytes, static_cast<std::size_t>(length)), "WM_MCU_COM_OP 4 0");

    ASSERT_TRUE(platform::PostMessage(window, request, 4, -1));
    const auto received = portOwner.Receive(kReceiveTimeoutMs);
    ASSERT_TRUE(received.has_value());
    EXPECT_EQ(received->name, "WM_MCU_COM_OP");
    EXPECT_EQ(received->wParam, 4u);
    EXPECT_EQ(received->lParam, -1);

    // Only registered messages have a name the other program could read, and
    // sending, destroying or timers make no sense for another program's window.
    EXPECT_FALSE(platform::PostMessage(window, platform::kWmClose, 0, 0));
    EXPECT_EQ(platform::SendMessage(window, request, 4, 0), 0);
    EXPECT_FALSE(platform::DestroyWindow(window));
    EXPECT_EQ(platform::SetTimer(window, 1324, 1000), 0u);

    portOwner.Close();
    EXPECT_FALSE(platform::IsWindow(window));
    EXPECT_FALSE(platform::PostMessage(window, request, 4, 1));
    EXPECT_EQ(platform::FindWindow(kPortOwnerClass, kPortOwnerTitle), platform::kNoWindow);
    EXPECT_NE(access(PortOwnerPath().c_str(), F_OK), 0);
}

TEST_F(WindowSocketTest, StaleSocketIsNotFoundAndIsReplacedByBind) {
    m_root.Directory().MakeDirectories("run/windows");
    LeaveStaleSocket(PortOwnerPath());
    EXPECT_EQ(platform::FindWindow(kPortOwnerClass, kPortOwnerTitle), platform::kNoWindow);
    EXPECT_FALSE(platform::SendWindowDatagram(PortOwnerPath(), "WM_MCU_COM_OP", 4, 0));

    CWindowSocket portOwner;
    ASSERT_TRUE(portOwner.Bind(kPortOwnerClass, kPortOwnerTitle));
    EXPECT_NE(platform::FindWindow(kPortOwnerClass, kPortOwnerTitle), platform::kNoWindow);
}

TEST_F(WindowSocketTest, LiveSocketsAndOtherFilesAreNotReplaced) {
    CWindowSocket first;
    ASSERT_TRUE(first.Bind(kPortOwnerClass, kPortOwnerTitle));
    CWindowSocket second;
    EXPECT_FALSE(second.Bind(kPortOwnerClass, kPortOwnerTitle));
    ASSERT_TRUE(platform::SendWindowDatagram(PortOwnerPath(), "WM_MCU_COM_OP", 4, 0));
    EXPECT_TRUE(first.Receive(kReceiveTimeoutMs).has_value());

    const std::string file = m_root.Directory().WriteFile("run/windows/Plain@File", "keep");
    EXPECT_EQ(platform::FindWindow("Plain", "File"), platform::kNoWindow);
    CWindowSocket third;
    EXPECT_FALSE(third.Bind("Plain", "File"));
    EXPECT_EQ(testing_support::ReadFileBytes(file),
              (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
}

TEST_F(WindowSocketTest, PathTooLongForASocketAddressFailsCleanly) {
    const std::string title(sizeof(sockaddr_un::sun_path), 'T');
    EXPECT_EQ(platform::FindWindow(kPortOwnerClass, title), platform::kNoWindow);
    CWindowSocket socket;
    EXPECT_FALSE(socket.Bind(kPortOwnerClass, title));
    EXPECT_EQ(socket.Descriptor(), -1);
    EXPECT_FALSE(platform::SendWindowDatagram(platform::WindowSocketPath(kPortOwnerClass, title),
                                              "WM_MCU_COM_OP", 4, 0));
}

TEST_F(WindowSocketTest, ReceiveSkipsWhatIsNotAMessage) {
    CWindowSocket portOwner;
    ASSERT_TRUE(portOwner.Bind(kPortOwnerClass, kPortOwnerTitle));
    EXPECT_FALSE(portOwner.Receive(0).has_value());

    ASSERT_TRUE(SendRaw(PortOwnerPath(), "garbage"));
    ASSERT_TRUE(SendRaw(PortOwnerPath(), "WM_MCU_COM_OP 4 0" + std::string(300, ' ')));
    ASSERT_TRUE(SendRaw(PortOwnerPath(), "WM_MCU_COM_OP 4 1\n"));
    EXPECT_FALSE(portOwner.Receive(kReceiveTimeoutMs).has_value());
    EXPECT_FALSE(portOwner.Receive(kReceiveTimeoutMs).has_value());  // too long: dropped whole
    const auto received = portOwner.Receive(kReceiveTimeoutMs);
    ASSERT_TRUE(received.has_value());
    EXPECT_EQ(received->lParam, 1);

    // A name that is not one word cannot travel in the text format.
    EXPECT_FALSE(platform::SendWindowDatagram(PortOwnerPath(), "TWO WORDS", 4, 0));
    EXPECT_FALSE(platform::SendWindowDatagram(PortOwnerPath(), "", 4, 0));
    EXPECT_FALSE(portOwner.Receive(0).has_value());
}

}  // namespace
