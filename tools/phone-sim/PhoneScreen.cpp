#include "PhoneScreen.h"

#include <time.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "Font.h"

namespace phonesim {

namespace {

struct Contact {
    const char* name;
    const char* number;
};

constexpr std::array<Contact, PhoneScreen::kItemCount> kContacts = {{
    {"Anna Berg", "070-112 34 56"},      {"Bruno Costa", "073-220 19 84"},
    {"Carla Diaz", "076-301 77 42"},     {"David Eklund", "070-458 90 13"},
    {"Eva Fischer", "072-519 26 60"},    {"Filip Gran", "073-604 38 71"},
    {"Greta Holm", "070-712 45 09"},     {"Hugo Ivarsson", "076-823 51 37"},
    {"Ida Jansson", "070-934 62 28"},    {"Jonas Karlsson", "073-045 73 91"},
    {"Klara Lind", "072-156 84 05"},     {"Lars Moberg", "070-267 95 46"},
    {"Maja Nilsson", "076-378 06 82"},   {"Nils Olofsson", "070-489 17 53"},
    {"Olivia Persson", "073-590 28 64"}, {"Per Quist", "070-601 39 75"},
    {"Rosa Sandberg", "072-712 40 86"},  {"Sven Torstensson", "070-823 51 97"},
    {"Tove Ullman", "076-934 62 08"},    {"Ulf Vik", "070-045 73 19"},
    {"Vera Wallin", "073-156 84 20"},    {"Walter Xu", "070-267 95 31"},
    {"Yasmin Yilmaz", "072-378 06 42"},  {"Zoe Zetterberg", "070-489 17 53"},
    {"Office", "08-555 010 00"},         {"Pizza Roma", "08-555 020 30"},
    {"Taxi", "08-555 030 30"},           {"Voicemail", "+46 70 999 99 99"},
    {"Dentist", "08-555 040 12"},        {"Home", "08-555 050 50"},
}};

constexpr int kTitleTop = 0, kTitleHeight = 16;
constexpr int kListTop = 16, kRowHeight = 14;
constexpr int kTextTop = 184, kInfoTop = 196, kCanvasTop = 208, kSoftkeyTop = 304;

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};
constexpr std::array<Rgb, 4> kInkColours = {
    {{16, 16, 16}, {20, 40, 220}, {210, 20, 20}, {10, 150, 40}}};

std::uint8_t Mix(int a, int b, double t) {
    return static_cast<std::uint8_t>(std::lround(a + (b - a) * t));
}

// Fully saturated colour of the hue (0..360).
Rgb Hue(double h) {
    const double x = 1.0 - std::fabs(std::fmod(h / 60.0, 2.0) - 1.0);
    double r = 0, g = 0, b = 0;
    switch (static_cast<int>(h / 60.0) % 6) {
        case 0:
            r = 1, g = x;
            break;
        case 1:
            r = x, g = 1;
            break;
        case 2:
            g = 1, b = x;
            break;
        case 3:
            g = x, b = 1;
            break;
        case 4:
            r = x, b = 1;
            break;
        default:
            r = 1, b = x;
            break;
    }
    return {Mix(0, 255, r), Mix(0, 255, g), Mix(0, 255, b)};
}

std::string WallClock() {
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char text[16];
    strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

// A triangle wave between 0 and span for a position that grows without bound.
int Bounce(double position, int span) {
    const double period = 2.0 * span;
    const double p = std::fmod(position, period);
    return static_cast<int>(p < span ? p : period - p);
}

}  // namespace

PhoneScreen::PhoneScreen(bool animated, Clock::time_point now)
    : animated_(animated),
      start_(now),
      lastUserInput_(now),
      lastAdvance_(now),
      frozenClock_(WallClock()),
      ink_(static_cast<std::size_t>(Framebuffer::kWidth * Framebuffer::kHeight)) {
    // Hue across, from dark at the top through the pure colour to nearly white at the bottom.
    constexpr int kCanvasHeight = kSoftkeyTop - kCanvasTop;
    for (int y = 0; y < kCanvasHeight; ++y) {
        const double t = static_cast<double>(y) / (kCanvasHeight - 1);
        for (int x = 0; x < Framebuffer::kWidth; ++x) {
            const Rgb h = Hue(360.0 * x / Framebuffer::kWidth);
            Rgb p;
            if (t < 0.5) {
                const double k = 0.15 + 1.7 * t;
                p = {Mix(0, h.r, k), Mix(0, h.g, k), Mix(0, h.b, k)};
            } else {
                const double k = (t - 0.5) * 1.6;
                p = {Mix(h.r, 255, k), Mix(h.g, 255, k), Mix(h.b, 255, k)};
            }
            background_.Set(x, kCanvasTop + y, p);
        }
    }
}

void PhoneScreen::Select(int index) {
    selected_ = std::clamp(index, 0, kItemCount - 1);
    if (selected_ < top_) top_ = selected_;
    if (selected_ >= top_ + kVisibleRows) top_ = selected_ - kVisibleRows + 1;
}

void PhoneScreen::OnKey(std::uint8_t action, std::uint32_t code, Clock::time_point now) {
    static const char* const kActions[] = {"release", "press", "click"};
    lastKey_ = "Key " + std::to_string(code) + " " +
               (action < 3 ? kActions[action] : std::to_string(action));
    lastUserInput_ = now;
    if (action != 1 && action != 2) return;  // keys act when they go down
    if (code >= 48 && code <= 57) {
        text_.push_back(static_cast<char>(code));
    } else if (code == 1) {  // 'C' deletes
        if (!text_.empty()) text_.pop_back();
    } else if (code == 16) {
        Select(selected_ - 1);
    } else if (code == 17) {
        Select(selected_ + 1);
    } else if (code == 165) {
        Select(selected_ - (kVisibleRows - 1));
    } else if (code == 166) {
        Select(selected_ + (kVisibleRows - 1));
    }
}

void PhoneScreen::OnChar(std::uint16_t code, Clock::time_point now) {
    lastKey_ = "Char " + std::to_string(code);
    if (code >= 0x20 && code < 0x7F)
        lastKey_ += " '" + std::string(1, static_cast<char>(code)) + "'";
    lastUserInput_ = now;
    if (code == 8) {
        if (!text_.empty()) text_.pop_back();
    } else if (code == 13 || code == 10) {
        text_.clear();
    } else if (code >= 0x20) {
        text_.push_back(code < 0x7F ? static_cast<char>(code) : '?');
    }
}

void PhoneScreen::AppendText(std::string_view text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        text_.push_back(u >= 0x20 && u < 0x7F ? c : (u < 0x20 ? ' ' : '?'));
    }
    // Only the end of the line is shown; keep the string from growing without bound.
    if (text_.size() > 4096) text_.erase(0, text_.size() - 4096);
}

void PhoneScreen::OnPointer(std::uint8_t action, int x, int y, Clock::time_point now) {
    static const char* const kActions[] = {"drag", "down", "up"};
    lastPen_ = std::string(action < 3 ? kActions[action] : "pen?") + " " + std::to_string(x) + "," +
               std::to_string(y);
    lastUserInput_ = now;
    if (action == 1 || !penDown_) {
        // A drag without a down starts a stroke too.
        ++strokes_;
        DrawInkDot(x, y);
    } else {
        DrawInkLine(penX_, penY_, x, y);
    }
    penDown_ = action != 2;
    penX_ = x;
    penY_ = y;
}

void PhoneScreen::DrawInkDot(int x, int y) {
    DrawInkLine(x, y, x, y);
}

void PhoneScreen::DrawInkLine(int x0, int y0, int x1, int y1) {
    const auto colour = static_cast<std::uint8_t>(1 + (strokes_ - 1) % kInkColours.size());
    const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        for (int py = y0 - 1; py <= y0 + 1; ++py) {
            for (int px = x0 - 1; px <= x0 + 1; ++px) {
                if (px >= 0 && py >= 0 && px < Framebuffer::kWidth && py < Framebuffer::kHeight) {
                    ink_[static_cast<std::size_t>(py * Framebuffer::kWidth + px)] = colour;
                }
            }
        }
        if (x0 == x1 && y0 == y1) break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

void PhoneScreen::Clear() {
    std::fill(ink_.begin(), ink_.end(), std::uint8_t{0});
    text_.clear();
    penDown_ = false;
}

void PhoneScreen::Render(Framebuffer& fb, Clock::time_point now) {
    using std::chrono::duration;
    const double seconds = duration<double>(now - start_).count();

    // Left alone, the highlight walks down the list every two seconds.
    if (animated_ && now - lastUserInput_ > std::chrono::seconds(8) &&
        now - lastAdvance_ >= std::chrono::seconds(2)) {
        lastAdvance_ = now;
        Select(selected_ + 1 < kItemCount ? selected_ + 1 : 0);
        if (selected_ == 0) top_ = 0;
    }

    // Title bar.
    for (int x = 0; x < Framebuffer::kWidth; ++x) {
        const double t = static_cast<double>(x) / (Framebuffer::kWidth - 1);
        fb.FillRect(x, kTitleTop, 1, kTitleHeight,
                    {Mix(20, 70, t), Mix(50, 120, t), Mix(140, 215, t)});
    }
    fb.DrawText(4, 4, "Contacts", kWhite);
    const std::string clock = animated_ ? WallClock() : frozenClock_;
    fb.DrawText(Framebuffer::kWidth - 4 - Framebuffer::TextWidth(clock), 4, clock, kWhite);
    // Signal bars.
    for (int i = 0; i < 4; ++i) fb.FillRect(66 + i * 4, 11 - 2 * i, 3, 2 + 2 * i, {230, 230, 120});

    // List.
    for (int row = 0; row < kVisibleRows; ++row) {
        const int item = top_ + row;
        const int y = kListTop + row * kRowHeight;
        const Rgb bg =
            item == selected_ ? Rgb{255, 200, 80} : (item % 2 ? Rgb{234, 240, 250} : kWhite);
        fb.FillRect(0, y, Framebuffer::kWidth - 5, kRowHeight, bg);
        const Contact& c = kContacts[static_cast<std::size_t>(item)];
        fb.FillRect(3, y + 2, 11, 11, Hue(item * 37 % 360));
        fb.DrawText(6, y + 4, std::string(1, c.name[0]), kWhite);
        fb.DrawText(18, y + 4, c.name, kBlack);
        const std::string_view number = c.number;
        fb.DrawText(Framebuffer::kWidth - 7 - Framebuffer::TextWidth(number), y + 4, number,
                    {70, 70, 90});
    }
    // Scroll bar.
    constexpr int kListHeight = kVisibleRows * kRowHeight;
    fb.FillRect(Framebuffer::kWidth - 5, kListTop, 5, kListHeight, {200, 200, 210});
    const int thumb = kListHeight * kVisibleRows / kItemCount;
    const int thumbTop = kListTop + (kListHeight - thumb) * top_ / (kItemCount - kVisibleRows);
    fb.FillRect(Framebuffer::kWidth - 4, thumbTop, 3, thumb, {90, 90, 120});

    // Echoed text, its end visible, with a cursor that blinks while animated.
    fb.FillRect(0, kTextTop, Framebuffer::kWidth, 12, {255, 250, 215});
    constexpr std::size_t kShown = 31;
    std::string shown =
        "> " + (text_.size() > kShown ? text_.substr(text_.size() - kShown) : text_);
    if (!animated_ || static_cast<long>(seconds * 2) % 2 == 0) shown += "_";
    fb.DrawText(2, kTextTop + 2, shown, {40, 30, 0});

    // Last key and stylus action.
    fb.FillRect(0, kInfoTop, Framebuffer::kWidth, 12, {222, 222, 228});
    fb.DrawText(2, kInfoTop + 2, lastKey_, {0, 0, 90});
    fb.DrawText(Framebuffer::kWidth - 2 - Framebuffer::TextWidth(lastPen_), kInfoTop + 2, lastPen_,
                {90, 0, 0});

    // Scribble area with a ball bouncing across it while animated.
    for (int y = kCanvasTop; y < kSoftkeyTop; ++y) {
        std::copy_n(background_.Line(y), Framebuffer::kWidth, fb.Line(y));
    }
    if (animated_) {
        constexpr int kRadius = 7;
        const int bx = kRadius + Bounce(seconds * 70.0, Framebuffer::kWidth - 2 * kRadius - 1);
        const int by = kCanvasTop + kRadius +
                       Bounce(seconds * 45.0, kSoftkeyTop - kCanvasTop - 2 * kRadius - 1);
        fb.FillCircle(bx, by, kRadius, kBlack);
        fb.FillCircle(bx, by, kRadius - 2, kWhite);
    }

    // Softkeys.
    fb.FillRect(0, kSoftkeyTop, Framebuffer::kWidth, 16, {40, 40, 48});
    fb.DrawText(4, kSoftkeyTop + 5, "Menu", kWhite);
    fb.DrawText((Framebuffer::kWidth - Framebuffer::TextWidth(modeLabel_)) / 2, kSoftkeyTop + 5,
                modeLabel_, {255, 220, 90});
    fb.DrawText(Framebuffer::kWidth - 4 - Framebuffer::TextWidth("Back"), kSoftkeyTop + 5, "Back",
                kWhite);

    // Stylus ink over everything.
    for (int y = 0; y < Framebuffer::kHeight; ++y) {
        Rgb* line = fb.Line(y);
        const std::uint8_t* inkLine = &ink_[static_cast<std::size_t>(y * Framebuffer::kWidth)];
        for (int x = 0; x < Framebuffer::kWidth; ++x) {
            if (inkLine[x]) line[x] = kInkColours[static_cast<std::size_t>(inkLine[x] - 1)];
        }
    }
}

}  // namespace phonesim
