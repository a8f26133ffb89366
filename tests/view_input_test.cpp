// Keyboard, mouse and wheel input as the exact phone messages.
#include <gtest/gtest.h>

#include "LinkDoubles.h"
#include "StreamBuilder.h"
#include "view/InputTranslator.h"

namespace velarix::test {
namespace {

struct Input {
    Input() {
        link.AttachTransport(transport);
        input.SetLink(&link);
    }
    RecordingTransport transport;
    CRelayLink link;
    InputTranslator input;
};

ByteVec Key(std::uint8_t action, std::uint8_t code) {
    return {0x02, action, 0, 0, 0, code};
}
ByteVec Pointer(std::uint8_t action, int x, int y) {
    return {0x06,           action, std::uint8_t(x >> 8), std::uint8_t(x), std::uint8_t(y >> 8),
            std::uint8_t(y)};
}
ByteVec Char(std::uint16_t c) {
    return {0x03, 0, 0, 0, 0, 4, 0, 3, std::uint8_t(c >> 8), std::uint8_t(c), 0, 0, 0, 0};
}

TEST(KeyInput, MappedKeysPressAndRelease) {
    Input in;
    in.input.KeyDown(PcKey::Left, u"");
    in.input.KeyUp(PcKey::Left);
    EXPECT_EQ(in.transport.sent, Concat({Key(1, 14), Key(0, 14)}));

    const std::pair<PcKey, std::uint8_t> map[] = {
        {PcKey::PageUp, 165}, {PcKey::PageDown, 166}, {PcKey::Up, 16},  {PcKey::Right, 15},
        {PcKey::Down, 17},    {PcKey::F1, 172},       {PcKey::F2, 178}, {PcKey::F3, 177},
        {PcKey::F4, 180},     {PcKey::F5, 181}};
    for (const auto& [key, code] : map) {
        Input k;
        k.input.KeyDown(key, u"");
        EXPECT_EQ(k.transport.sent, Key(1, code));
    }
}

TEST(KeyInput, TypedLettersAreCharactersAndTheReleaseCarriesNoCode) {
    Input in;
    in.input.KeyDown(PcKey::Other, u"a");
    in.input.KeyUp(PcKey::Other);
    EXPECT_EQ(in.transport.sent, Concat({Char(97), Key(0, 0)}));
}

TEST(KeyInput, DigitsAreClicksOfTheDigitKeys) {
    Input in;
    in.input.KeyDown(PcKey::Other, u"5");
    in.input.KeyUp(PcKey::Other);
    EXPECT_EQ(in.transport.sent, Concat({Key(2, 53), Key(0, 0)}));
}

TEST(KeyInput, CharactersBeyondLatin1KeepTheir16BitCode) {
    Input in;
    in.input.Char(u'\u20AC');
    in.input.Char(u'\r');
    EXPECT_EQ(in.transport.sent, Concat({Char(0x20AC), Char(13)}));
}

TEST(PointerInput, PositionsAreTakenInsideThePaintedScreen) {
    Input in;
    in.input.ButtonDown(MouseButton::Left, 3, 2);    // the screen's top-left pixel
    in.input.ButtonUp(MouseButton::Left, 210, 321);  // its bottom-right pixel
    EXPECT_EQ(in.transport.sent, Concat({Pointer(1, 0, 0), Pointer(2, 207, 319)}));

    Input zoomed;
    zoomed.input.SetZoom(2);
    zoomed.input.ButtonDown(MouseButton::Left, 103, 202);
    EXPECT_EQ(zoomed.transport.sent, Pointer(1, 50, 100));
}

TEST(PointerInput, PressesOnTheFrameAroundTheScreenSendNothing) {
    Input in;
    for (auto [x, y] : {std::pair{2, 10}, {10, 1}, {211, 10}, {10, 322}, {-5, -5}}) {
        in.input.ButtonDown(MouseButton::Left, x, y);
        in.input.ButtonUp(MouseButton::Left, x, y);
    }
    EXPECT_TRUE(in.transport.sent.empty());
}

TEST(PointerInput, DragsThatLeaveTheScreenAreHeldAtItsEdge) {
    Input in;
    in.input.ButtonDown(MouseButton::Left, 50, 50);
    in.input.Move(60, 60, 1, false);
    in.input.Move(-40, 400, 1, false);
    in.input.Move(500, -3, 1, false);
    in.input.ButtonUp(MouseButton::Left, 900, 900);
    EXPECT_EQ(in.transport.sent, Concat({Pointer(1, 47, 48), Pointer(0, 57, 58), Pointer(0, 0, 319),
                                         Pointer(0, 207, 0), Pointer(2, 207, 319)}));
}

TEST(PointerInput, MovesNeedExactlyOneButtonAndNoModifier) {
    Input in;
    in.input.Move(50, 50, 0, false);
    in.input.Move(50, 50, 2, false);
    in.input.Move(50, 50, 1, true);
    EXPECT_TRUE(in.transport.sent.empty());
    in.input.Move(50, 50, 1, false);
    EXPECT_EQ(in.transport.sent, Pointer(0, 47, 48));
}

TEST(PointerInput, MiddleButtonIsF1AndTheRightButtonNothing) {
    Input in;
    in.input.ButtonDown(MouseButton::Middle, 10, 10);
    in.input.ButtonDown(MouseButton::Right, 10, 10);
    in.input.ButtonUp(MouseButton::Right, 10, 10);
    EXPECT_EQ(in.transport.sent, Key(2, 172));
}

TEST(WheelInput, OneMessagePerNotchRemaindersCarryOver) {
    Input in;
    in.input.Wheel(120);
    in.input.Wheel(-240);
    in.input.Wheel(60);
    in.input.Wheel(60);
    in.input.Wheel(-30);
    EXPECT_EQ(in.transport.sent, Concat({Key(2, 165), Key(2, 166), Key(2, 166), Key(2, 165)}));
}

TEST(Disconnected, NoInputReachesThePhone) {
    Input in;
    in.input.SetLink(nullptr);
    in.input.KeyDown(PcKey::Left, u"x5");
    in.input.KeyUp(PcKey::Left);
    in.input.ButtonDown(MouseButton::Left, 50, 50);
    in.input.Move(60, 60, 1, false);
    in.input.Wheel(120);
    EXPECT_TRUE(in.transport.sent.empty());
}

}  // namespace
}  // namespace velarix::test
