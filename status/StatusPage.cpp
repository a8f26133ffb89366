#include "status/StatusPage.h"

#include <array>
#include <cstdio>

namespace velarix {
namespace {

constexpr std::string_view kTitle = "Velarix";
constexpr std::string_view kConnectionStatus = "Not connected";
constexpr std::string_view kInterfaceType = "Direct";
constexpr std::string_view kInterfaceKeyword = "MROUTER";
// The number carried in the row's comment; the link itself carries 0.
constexpr int kRowCommentNumber = 10;
constexpr int kRowLinkNumber = 0;

constexpr std::string_view kAddressKnownPort =
    "PC Suite/<a href=\"switch://MROUTERBOX/\"><u><font color=\"blue\">mRouter</font></u></a>";
constexpr std::string_view kAddressNoPort = "Unavailable";

// One connection row, ten arguments: type, keyword, number, address, status
// prefix, keyword, number, image prefix, footnote mark, suffix. The white "1"
// after the mark keeps the row as high with a mark as without one.
constexpr char kRowFormat[] =
    "<tr><td colspan=3>%s</td><td colspan=2></td><!-- %s %d --><td colspan=4>%s</td>"
    "<td align=left colspan=4>%s<a href=\"switch://%s/%d\"><img align=absmiddle vspace=0 "
    "hspace=0 border=0 src=\"res:%schecked.gif\"></a><font color=\"#990000\" "
    "style=\"font-size: 11px\"> <sup>%s<font color=\"white\">1</font></sup></font>%s</td></tr>"
    "<tr><td height=1 colspan=20><img src=\"res:e.gif\" height=1></td></tr>";

constexpr std::string_view kSpacerRow =
    "<tr><td height=2><img src=\"res:e.gif\" height=2></td></tr>";
constexpr std::string_view kGapRow = "<tr><td colspan=5 height=2></td><td></td></tr>";
constexpr std::string_view kGreyRule =
    "<tr><td bgcolor=\"#828282\" colspan=5 height=1></td><td></td></tr>";
constexpr std::string_view kFootnoteStart = "<tr><td colspan=20><font color=\"#990000\"><sup>";
constexpr std::string_view kAfterFootnoteNumber = " </sup></font>";
constexpr std::string_view kFootnoteEnd = "</td></tr>";
constexpr std::string_view kHintKnownPort =
    "<tr><td colspan=20 height=2>Please make sure that <b>Corvane SRV</b> is properly installed "
    "<b>and started</b> on your phone!</td></tr>";
constexpr std::string_view kHintNoPort =
    "<tr><td colspan=20 height=2>Please install and start the <b>PC&nbsp;Suite</b>&nbsp;/&nbsp;"
    "<b>mRouter</b> software for your phone.</td></tr>";

// Footnote slots: slot i is printed with the number i + 1.
constexpr std::size_t kFootnoteSlots = 10;
constexpr int kFootnoteNotInstalled = 1;
constexpr int kFootnoteConnectState = 2;
constexpr std::size_t kSlotNotInstalled = 0;
constexpr std::size_t kSlotConnectState = 1;

struct RowArguments {
    std::string_view type;
    std::string_view keyword;
    int number = 0;
    std::string_view address;
    std::string_view statusPrefix;
    std::string_view linkKeyword;
    int linkNumber = 0;
    std::string_view imagePrefix;
    std::string_view footnoteMark;
    std::string_view suffix;
};

std::string FormatRow(const RowArguments& a) {
    // The texts are views; the format needs terminated strings.
    const std::string type(a.type), keyword(a.keyword), address(a.address),
        statusPrefix(a.statusPrefix), linkKeyword(a.linkKeyword), imagePrefix(a.imagePrefix),
        footnoteMark(a.footnoteMark), suffix(a.suffix);
    const int needed =
        std::snprintf(nullptr, 0, kRowFormat, type.c_str(), keyword.c_str(), a.number,
                      address.c_str(), statusPrefix.c_str(), linkKeyword.c_str(), a.linkNumber,
                      imagePrefix.c_str(), footnoteMark.c_str(), suffix.c_str());
    if (needed <= 0) return {};
    std::string row(static_cast<std::size_t>(needed) + 1, '\0');
    std::snprintf(row.data(), row.size(), kRowFormat, type.c_str(), keyword.c_str(), a.number,
                  address.c_str(), statusPrefix.c_str(), linkKeyword.c_str(), a.linkNumber,
                  imagePrefix.c_str(), footnoteMark.c_str(), suffix.c_str());
    row.resize(static_cast<std::size_t>(needed));
    return row;
}

}  // namespace

std::string SectionStartMarker(std::string_view name) {
    std::string marker = "<!-- {";
    marker += name;
    marker += "} -->";
    return marker;
}

std::string SectionEndMarker(std::string_view name) {
    std::string marker = "<!-- {/";
    marker += name;
    marker += "} -->";
    return marker;
}

bool FillSectionText(std::string& html, std::string_view name, std::string_view text) {
    const std::string start = SectionStartMarker(name);
    const std::string end = SectionEndMarker(name);
    const std::size_t s = html.find(start);
    const std::size_t e = html.find(end);
    if (s == std::string::npos || e == std::string::npos || e <= s) return false;
    const std::size_t contentStart = s + start.size();
    // The end marker cannot begin inside the start marker; a name built to
    // make them overlap is refused rather than cut in the middle.
    if (e < contentStart) return false;
    html.replace(contentStart, e - contentStart, text);
    return true;
}

std::string_view FootnoteMessage(int code, int connectState) {
    switch (code) {
        case 1:
            return "PC Suite/mRouter not installed?";
        case 2:
            if (connectState == 1) {
                return "Connect phone &amp; start <b>Velarix SRV</b> on your phone!";
            }
            if (connectState == 2) return "mRouter interface unreachable.";
            return "General mRouter failure.";
        case 3:
            return " No network interface detected.";
        case 4:
            return "Port in use by another program.";
        case 5:
            return "Port not found.";
        case 6:
            return "General COMx failure.";
        default:
            return {};
    }
}

StatusPageContent BuildStatusPageContent(const StatusPageState& state) {
    StatusPageContent content;
    content.title = kTitle;
    content.connectionStatus = kConnectionStatus;

    std::array<int, kFootnoteSlots> footnotes{};
    std::string_view address;
    std::string_view mark;
    if (state.routerPort != 0) {
        address = kAddressKnownPort;
        if (state.connectState != 0) {
            footnotes[kSlotConnectState] = kFootnoteConnectState;
            mark = "2";
        }
    } else {
        address = kAddressNoPort;
        footnotes[kSlotNotInstalled] = kFootnoteNotInstalled;
        mark = "1";
    }
    // The ticked box only for an established link.
    const std::string_view imagePrefix = state.synced && state.helloSent ? "" : "un";

    std::string& table = content.table;
    table = FormatRow({kInterfaceType,
                       kInterfaceKeyword,
                       kRowCommentNumber,
                       address,
                       {},
                       kInterfaceKeyword,
                       kRowLinkNumber,
                       imagePrefix,
                       mark,
                       {}});
    table += kSpacerRow;

    bool anyFootnote = false;
    for (std::size_t slot = 0; slot < kFootnoteSlots; ++slot) {
        if (footnotes[slot] == 0) continue;
        if (!anyFootnote) {
            table += kGapRow;
            table += kGreyRule;
            anyFootnote = true;
        }
        table += kFootnoteStart;
        table += std::to_string(slot + 1);
        table += kAfterFootnoteNumber;
        table += FootnoteMessage(footnotes[slot], state.connectState);
        table += kFootnoteEnd;
    }

    if (anyFootnote) table += kSpacerRow;
    table += kSpacerRow;
    if (state.routerPort != 0) {
        table += kGapRow;
        table += kGreyRule;
        table += kHintKnownPort;
    } else {
        table += kHintNoPort;
    }
    return content;
}

StatusLinkAction ClassifyStatusLink(std::string_view url) {
    // "MROUTER" is part of "MROUTERBOX", so the box is asked about first.
    if (url.find("switch") == std::string_view::npos) return StatusLinkAction::Proceed;
    if (url.find("MROUTERBOX") != std::string_view::npos) return StatusLinkAction::OpenRouterBox;
    if (url.find("MROUTER") != std::string_view::npos) return StatusLinkAction::ConnectLater;
    return StatusLinkAction::Refresh;
}

}  // namespace velarix
