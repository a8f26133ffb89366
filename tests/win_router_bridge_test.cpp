// The relay bridge against a real out-of-process COM server: the test relay
// (tools/win-relay), registered in the registry the tests run with. COM starts
// it for every object the bridge creates, so the port it answers with is set
// in the registry beforehand, and the box leaves a count there.
//
// VELARIX_TEST_RELAY names the relay program (a Windows path); without it the
// program is looked for beside this one.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "status/RouterBridge.h"

namespace velarix {
namespace {

constexpr const wchar_t* kRelayState = L"Software\\Velarix\\TestRelay";

std::wstring RelayProgram() {
    if (const wchar_t* given = ::_wgetenv(L"VELARIX_TEST_RELAY"); given && *given) return given;
    std::wstring path(MAX_PATH, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"velarix-test-relay.exe";
}

// Runs the relay with one switch; its exit code, or -1 when it cannot run.
long RunRelay(const wchar_t* option) {
    std::wstring command = L"\"" + RelayProgram() + L"\" " + option;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        return -1;
    }
    ::WaitForSingleObject(process.hProcess, 60'000);
    DWORD code = 0;
    if (!::GetExitCodeProcess(process.hProcess, &code)) code = static_cast<DWORD>(-1);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<long>(code);
}

void SetRelayState(const wchar_t* name, DWORD value) {
    ASSERT_EQ(
        ::RegSetKeyValueW(HKEY_CURRENT_USER, kRelayState, name, REG_DWORD, &value, sizeof(value)),
        ERROR_SUCCESS);
}

DWORD RelayState(const wchar_t* name) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (::RegGetValueW(HKEY_CURRENT_USER, kRelayState, name, RRF_RT_REG_DWORD, nullptr, &value,
                       &size) != ERROR_SUCCESS) {
        return 0;
    }
    return value;
}

class RouterBridgeWin : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(com_.Ok());
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kRelayState);
    }
    void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kRelayState); }

private:
    ComInit com_;
};

TEST_F(RouterBridgeWin, PortQueryGivesThePortTheRelayHolds) {
    // Above 32767 the port must still come back unsigned; 0 is a relay with
    // no port to offer, which is still a relay that answered.
    for (const std::uint16_t port : {std::uint16_t{40001}, std::uint16_t{5555}, std::uint16_t{0}}) {
        SetRelayState(L"Port", port);
        const RouterPortQuery query = QueryRouterPort();
        EXPECT_TRUE(query.ok) << port;
        EXPECT_EQ(query.port, port);
    }
}

// The port the bridge reports is one the program can connect to: a loopback
// phone listens, the relay hands out its port, and a connection is accepted.
TEST_F(RouterBridgeWin, ThePortReachesALoopbackPhone) {
    WSADATA wsa{};
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    const SOCKET phone = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const SOCKET link = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, kRelayAddress, &address.sin_addr);
    int length = sizeof(address);
    ASSERT_EQ(::bind(phone, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(phone, 1), 0);
    ASSERT_EQ(::getsockname(phone, reinterpret_cast<sockaddr*>(&address), &length), 0);
    SetRelayState(L"Port", ::ntohs(address.sin_port));

    const RouterPortQuery query = QueryRouterPort();
    ASSERT_TRUE(query.ok);
    address.sin_port = ::htons(query.port);
    EXPECT_EQ(::connect(link, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    const SOCKET accepted = ::accept(phone, nullptr, nullptr);
    EXPECT_NE(accepted, INVALID_SOCKET);
    if (accepted != INVALID_SOCKET) ::closesocket(accepted);
    ::closesocket(link);
    ::closesocket(phone);
    ::WSACleanup();
}

TEST_F(RouterBridgeWin, BoxMethodReachesTheRelay) {
    EXPECT_TRUE(OpenRouterBox());
    EXPECT_EQ(RelayState(L"BoxOpened"), 1u);
    EXPECT_TRUE(OpenRouterBox());
    EXPECT_EQ(RelayState(L"BoxOpened"), 2u);
}

TEST_F(RouterBridgeWin, WithoutTheRelayRegisteredThereIsNoPortAndNoBox) {
    SetRelayState(L"Port", 5555);
    ASSERT_EQ(RunRelay(L"/unregserver"), 0);
    const RouterPortQuery query = QueryRouterPort();
    const bool box = OpenRouterBox();
    // Registered again before anything can fail, for the tests after this one.
    ASSERT_EQ(RunRelay(L"/regserver"), 0);
    EXPECT_FALSE(query.ok);
    EXPECT_EQ(query.port, 0);
    EXPECT_FALSE(box);
    EXPECT_EQ(RelayState(L"BoxOpened"), 0u);
    // And back again once it is registered.
    EXPECT_EQ(QueryRouterPort().port, 5555);
}

}  // namespace
}  // namespace velarix
