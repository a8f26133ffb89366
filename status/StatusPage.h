// The status page shown while no phone link is active: the template's named
// sections, the texts the view fills into them from the connection state, and
// how the view tells the page's own "switch://" links apart.
//
// A section is the text between the first "<!-- {NAME} -->" and the first
// "<!-- {/NAME} -->" of the page. The markers stay in the page when a section
// is filled, so a section can be filled any number of times.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velarix {

// The template, as a resource of the program.
inline constexpr std::string_view kStatusPageName = "status.htm";

// Start and end markers of a section, formatted with the section's name.
inline constexpr std::string_view kSectionStartFormat = "<!-- {%s} -->";
inline constexpr std::string_view kSectionEndFormat = "<!-- {/%s} -->";

inline constexpr std::string_view kSectionTitle = "TITLE";
inline constexpr std::string_view kSectionConnectionStatus = "CONNECTION-STATUS";
inline constexpr std::string_view kSectionTable = "TABLE";

// While the control is still loading, the view tries again this often.
inline constexpr int kStatusPageRetryMilliseconds = 500;
// A click on the check icon starts the connection attempt this much later.
inline constexpr int kConnectLaterMilliseconds = 200;

// The marker texts for a section name.
std::string SectionStartMarker(std::string_view name);
std::string SectionEndMarker(std::string_view name);

// Replaces the content of section `name` in `html` by `text`. True when both
// markers were found with the end after the start; otherwise `html` is left
// as it was.
bool FillSectionText(std::string& html, std::string_view name, std::string_view text);

// What the page reports, read from the view and its link when the page is
// built.
struct StatusPageState {
    std::uint16_t routerPort = 0;  // 0: mRouter has not reported a relay port
    int connectState = 0;          // CRelayLink::ConnectState()
    bool synced = false;           // CRelayLink::Synced()
    bool helloSent = false;        // CRelayLink::HelloSent()
};

// The texts for the TITLE, CONNECTION-STATUS and TABLE sections.
struct StatusPageContent {
    std::string title;
    std::string connectionStatus;
    std::string table;
};

StatusPageContent BuildStatusPageContent(const StatusPageState& state);

// The message of a footnote code (1 to 6); code 2 depends on the link's
// connect state. Empty for any other code.
std::string_view FootnoteMessage(int code, int connectState);

// What a link the user clicked on the page asks for.
enum class StatusLinkAction {
    Proceed,        // not one of the page's switch links: let it be
    OpenRouterBox,  // "mRouter" in the Address cell
    ConnectLater,   // the check icon: connect after kConnectLaterMilliseconds
    Refresh,        // any other switch link: rebuild the page
};

StatusLinkAction ClassifyStatusLink(std::string_view url);

}  // namespace velarix
