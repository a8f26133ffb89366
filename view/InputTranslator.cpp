#include "view/InputTranslator.h"

#include <algorithm>

namespace velarix {

std::uint32_t PhoneKeyFor(PcKey key) {
    switch (key) {
        case PcKey::PageUp:
            return phonekey::kPageUp;
        case PcKey::PageDown:
            return phonekey::kPageDown;
        case PcKey::Left:
            return phonekey::kLeft;
        case PcKey::Up:
            return phonekey::kUp;
        case PcKey::Right:
            return phonekey::kRight;
        case PcKey::Down:
            return phonekey::kDown;
        case PcKey::F1:
            return phonekey::kF1;
        case PcKey::F2:
            return phonekey::kF2;
        case PcKey::F3:
            return phonekey::kF3;
        case PcKey::F4:
            return phonekey::kTaskList;
        case PcKey::F5:
            return phonekey::kF5;
        case PcKey::Other:
            break;
    }
    return 0;
}

void InputTranslator::SetLink(CPhoneLink* link) {
    link_ = link;
    stylusDown_ = false;
    wheelRest_ = 0;
}

void InputTranslator::KeyDown(PcKey key, std::u16string_view text) {
    if (!link_) return;
    if (const std::uint32_t code = PhoneKeyFor(key)) link_->SendKey(code, KeyAction::Press);
    for (const char16_t c : text) Char(c);
}

void InputTranslator::KeyUp(PcKey key) {
    if (!link_) return;
    link_->SendKey(PhoneKeyFor(key), KeyAction::Release);
}

void InputTranslator::Char(char16_t code) {
    if (!link_) return;
    if (code >= u'0' && code <= u'9')
        link_->SendKey(code, KeyAction::Click);
    else
        link_->SendChar(static_cast<std::uint16_t>(code));
}

bool InputTranslator::ToPhone(int x, int y, PhonePoint& out) const {
    const int px = x - kScreenInsetX;
    const int py = y - kScreenInsetY;
    if (px < 0 || py < 0) return false;
    const int sx = px / zoom_;
    const int sy = py / zoom_;
    if (sx >= kScreenWidth || sy >= kScreenHeight) return false;
    out = {static_cast<std::uint16_t>(sx), static_cast<std::uint16_t>(sy)};
    return true;
}

InputTranslator::PhonePoint InputTranslator::ToPhoneClamped(int x, int y) const {
    const auto clamp = [this](int v, int inset, int size) {
        return static_cast<std::uint16_t>(std::clamp(std::max(v - inset, 0) / zoom_, 0, size - 1));
    };
    return {clamp(x, kScreenInsetX, kScreenWidth), clamp(y, kScreenInsetY, kScreenHeight)};
}

void InputTranslator::ButtonDown(MouseButton button, int x, int y) {
    if (!link_) return;
    if (button == MouseButton::Middle) {
        link_->SendKey(phonekey::kF1, KeyAction::Click);
        return;
    }
    if (button != MouseButton::Left) return;
    PhonePoint p{};
    if (!ToPhone(x, y, p)) return;
    stylusDown_ = link_->SendPointer(PointerAction::Down, p.x, p.y);
}

void InputTranslator::ButtonUp(MouseButton button, int x, int y) {
    if (!link_ || button != MouseButton::Left || !stylusDown_) return;
    stylusDown_ = false;
    const PhonePoint p = ToPhoneClamped(x, y);
    link_->SendPointer(PointerAction::Up, p.x, p.y);
}

void InputTranslator::Move(int x, int y, int buttonsHeld, bool otherState) {
    if (!link_ || buttonsHeld != 1 || otherState) return;
    const PhonePoint p = ToPhoneClamped(x, y);
    link_->SendPointer(PointerAction::Drag, p.x, p.y);
}

void InputTranslator::Wheel(int delta) {
    if (!link_) return;
    wheelRest_ += delta;
    while (wheelRest_ >= 120) {
        wheelRest_ -= 120;
        if (!link_->SendKey(phonekey::kPageUp, KeyAction::Click)) return;
    }
    while (wheelRest_ <= -120) {
        wheelRest_ += 120;
        if (!link_->SendKey(phonekey::kPageDown, KeyAction::Click)) return;
    }
}

}  // namespace velarix
