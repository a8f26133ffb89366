// The status page without a window: filling sections, the texts built from
// the connection state, the page's links, and finding the relay's port.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "status/RouterBridge.h"
#include "status/StatusPage.h"

namespace velarix {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Sections

TEST(FillSectionText, ReplacesWhatLiesBetweenTheMarkers) {
    std::string html = "<p><!-- {TITLE} -->old<!-- {/TITLE} --></p>";
    EXPECT_TRUE(FillSectionText(html, "TITLE", "Velarix"));
    EXPECT_EQ(html, "<p><!-- {TITLE} -->Velarix<!-- {/TITLE} --></p>");
}

TEST(FillSectionText, FillingTwiceReplacesAndKeepsOneMarkerPair) {
    std::string html = "a<!-- {CONNECTION-STATUS} --><!-- {/CONNECTION-STATUS} -->b";
    ASSERT_TRUE(FillSectionText(html, "CONNECTION-STATUS", "first"));
    ASSERT_TRUE(FillSectionText(html, "CONNECTION-STATUS", "second"));
    EXPECT_EQ(html, "a<!-- {CONNECTION-STATUS} -->second<!-- {/CONNECTION-STATUS} -->b");
    ASSERT_TRUE(FillSectionText(html, "CONNECTION-STATUS", ""));
    EXPECT_EQ(html, "a<!-- {CONNECTION-STATUS} --><!-- {/CONNECTION-STATUS} -->b");
}

TEST(FillSectionText, EndBeforeStartLeavesThePageAlone) {
    const std::string page = "<!-- {/TABLE} --> rows <!-- {TABLE} -->";
    std::string html = page;
    EXPECT_FALSE(FillSectionText(html, "TABLE", "<tr></tr>"));
    EXPECT_EQ(html, page);
}

TEST(FillSectionText, MissingMarkersLeaveThePageAlone) {
    const std::string onlyStart = "<!-- {TABLE} --> rows";
    const std::string onlyEnd = "rows <!-- {/TABLE} -->";
    const std::string otherCase = "<!-- {table} -->x<!-- {/table} -->";
    for (const std::string& page : {onlyStart, onlyEnd, otherCase, std::string()}) {
        std::string html = page;
        EXPECT_FALSE(FillSectionText(html, "TABLE", "new")) << page;
        EXPECT_EQ(html, page);
    }
}

TEST(FillSectionText, UsesTheFirstOccurrenceOfEachMarker) {
    std::string html = "<!-- {T} -->1<!-- {/T} -->2<!-- {T} -->3<!-- {/T} -->";
    ASSERT_TRUE(FillSectionText(html, "T", "x"));
    EXPECT_EQ(html, "<!-- {T} -->x<!-- {/T} -->2<!-- {T} -->3<!-- {/T} -->");
}

TEST(FillSectionText, OtherSectionsAreUntouched) {
    std::string html = "<!-- {A} -->a<!-- {/A} --><!-- {B} -->b<!-- {/B} -->";
    ASSERT_TRUE(FillSectionText(html, "B", "bee"));
    EXPECT_EQ(html, "<!-- {A} -->a<!-- {/A} --><!-- {B} -->bee<!-- {/B} -->");
    EXPECT_EQ(SectionStartMarker("TABLE"), "<!-- {TABLE} -->");
    EXPECT_EQ(SectionEndMarker("TABLE"), "<!-- {/TABLE} -->");
}

// ---------------------------------------------------------------------------
// Page content

// The pieces of the table as the page expects them, written out here so that
// a change to any of them shows.
constexpr const char* kSpacer = "<tr><td height=2><img src=\"res:e.gif\" height=2></td></tr>";
constexpr const char* kGap = "<tr><td colspan=5 height=2></td><td></td></tr>";
constexpr const char* kGreyRule =
    "<tr><td bgcolor=\"#828282\" colspan=5 height=1></td><td></td></tr>";
constexpr const char* kKnownPortHint =
    "<tr><td colspan=20 height=2>Please make sure that <b>Corvane SRV</b> is properly "
    "installed <b>and started</b> on your phone!</td></tr>";
constexpr const char* kNoPortHint =
    "<tr><td colspan=20 height=2>Please install and start the <b>PC&nbsp;Suite</b>&nbsp;/"
    "&nbsp;<b>mRouter</b> software for your phone.</td></tr>";

std::string Row(const std::string& address, const std::string& image, const std::string& mark) {
    return "<tr><td colspan=3>Direct</td><td colspan=2></td><!-- MROUTER 10 --><td colspan=4>" +
           address +
           "</td><td align=left colspan=4><a href=\"switch://MROUTER/0\"><img align=absmiddle "
           "vspace=0 hspace=0 border=0 src=\"res:" +
           image + ".gif\"></a><font color=\"#990000\" style=\"font-size: 11px\"> <sup>" + mark +
           "<font color=\"white\">1</font></sup></font></td></tr><tr><td height=1 colspan=20>"
           "<img src=\"res:e.gif\" height=1></td></tr>";
}

std::string Footnote(int number, const std::string& message) {
    return "<tr><td colspan=20><font color=\"#990000\"><sup>" + std::to_string(number) +
           " </sup></font>" + message + "</td></tr>";
}

const std::string kMRouterLink =
    "PC Suite/<a href=\"switch://MROUTERBOX/\"><u><font color=\"blue\">mRouter</font></u></a>";

TEST(StatusPageContent, TitleAndStatusAreFixed) {
    for (const StatusPageState& state :
         {StatusPageState{0, 0, false, false}, StatusPageState{4321, 2, true, true}}) {
        const StatusPageContent content = BuildStatusPageContent(state);
        EXPECT_EQ(content.title, "Velarix");
        EXPECT_EQ(content.connectionStatus, "Not connected");
    }
}

TEST(StatusPageContent, NoPortShowsUnavailableWithFootnoteOneAndTheInstallHint) {
    const StatusPageContent content = BuildStatusPageContent({0, 0, false, false});
    EXPECT_EQ(content.table, Row("Unavailable", "unchecked", "1") + kSpacer + kGap + kGreyRule +
                                 Footnote(1, "PC Suite/mRouter not installed?") + kSpacer +
                                 kSpacer + kNoPortHint);
}

TEST(StatusPageContent, NoPortIgnoresTheConnectState) {
    EXPECT_EQ(BuildStatusPageContent({0, 2, false, false}).table,
              BuildStatusPageContent({0, 0, false, false}).table);
}

TEST(StatusPageContent, KnownPortAndIdleLinkShowTheRouterLinkWithoutFootnotes) {
    const StatusPageContent content = BuildStatusPageContent({6789, 0, false, false});
    EXPECT_EQ(content.table, Row(kMRouterLink, "unchecked", "") + kSpacer + kSpacer + kGap +
                                 kGreyRule + kKnownPortHint);
}

TEST(StatusPageContent, ConnectStateOneAsksToStartThePhoneServer) {
    const StatusPageContent content = BuildStatusPageContent({6789, 1, false, false});
    EXPECT_EQ(content.table,
              Row(kMRouterLink, "unchecked", "2") + kSpacer + kGap + kGreyRule +
                  Footnote(2, "Connect phone &amp; start <b>Velarix SRV</b> on your phone!") +
                  kSpacer + kSpacer + kGap + kGreyRule + kKnownPortHint);
}

TEST(StatusPageContent, ConnectStatesTwoAndThreeNameTheRouterTrouble) {
    const std::string unreachable = BuildStatusPageContent({6789, 2, false, false}).table;
    EXPECT_NE(unreachable.find(Footnote(2, "mRouter interface unreachable.")), std::string::npos);
    const std::string general = BuildStatusPageContent({6789, 3, false, false}).table;
    EXPECT_NE(general.find(Footnote(2, "General mRouter failure.")), std::string::npos);
    const std::string negative = BuildStatusPageContent({6789, -5, false, false}).table;
    EXPECT_NE(negative.find(Footnote(2, "General mRouter failure.")), std::string::npos);
    for (const std::string& table : {unreachable, general, negative}) {
        EXPECT_EQ(table.find(Footnote(1, "")), std::string::npos);
        EXPECT_EQ(table.find("<sup>2<font"), table.find("<sup>"));
    }
}

TEST(StatusPageContent, OnlyAnEstablishedLinkTicksTheBox) {
    const auto image = [](bool synced, bool helloSent) {
        const std::string table = BuildStatusPageContent({6789, 1, synced, helloSent}).table;
        if (table.find("src=\"res:checked.gif\"") != std::string::npos) return "checked";
        if (table.find("src=\"res:unchecked.gif\"") != std::string::npos) return "unchecked";
        return "none";
    };
    EXPECT_STREQ(image(true, true), "checked");
    EXPECT_STREQ(image(true, false), "unchecked");
    EXPECT_STREQ(image(false, true), "unchecked");
    EXPECT_STREQ(image(false, false), "unchecked");
}

TEST(StatusPageContent, FootnoteMessages) {
    EXPECT_EQ(FootnoteMessage(1, 0), "PC Suite/mRouter not installed?");
    EXPECT_EQ(FootnoteMessage(2, 1), "Connect phone &amp; start <b>Velarix SRV</b> on your phone!");
    EXPECT_EQ(FootnoteMessage(2, 2), "mRouter interface unreachable.");
    EXPECT_EQ(FootnoteMessage(2, 0), "General mRouter failure.");
    EXPECT_EQ(FootnoteMessage(3, 0), " No network interface detected.");
    EXPECT_EQ(FootnoteMessage(4, 0), "Port in use by another program.");
    EXPECT_EQ(FootnoteMessage(5, 0), "Port not found.");
    EXPECT_EQ(FootnoteMessage(6, 0), "General COMx failure.");
    EXPECT_EQ(FootnoteMessage(0, 0), "");
    EXPECT_EQ(FootnoteMessage(7, 1), "");
}

TEST(StatusPageContent, FillsTheTemplatesSections) {
    std::string page =
        "<b><!-- {TITLE} --><!-- {/TITLE} --></b><p><!-- {CONNECTION-STATUS} -->"
        "<!-- {/CONNECTION-STATUS} --></p><table><!-- {TABLE} --><!-- {/TABLE} --></table>";
    const StatusPageContent content = BuildStatusPageContent({0, 0, false, false});
    ASSERT_TRUE(FillSectionText(page, kSectionTitle, content.title));
    ASSERT_TRUE(FillSectionText(page, kSectionConnectionStatus, content.connectionStatus));
    ASSERT_TRUE(FillSectionText(page, kSectionTable, content.table));
    EXPECT_EQ(page.find("<b><!-- {TITLE} -->Velarix<!-- {/TITLE} --></b>"), 0u);
    EXPECT_NE(page.find("-->Not connected<!--"), std::string::npos);
    EXPECT_NE(page.find("<!-- {TABLE} -->" + content.table + "<!-- {/TABLE} -->"),
              std::string::npos);
}

// ---------------------------------------------------------------------------
// Links

TEST(ClassifyStatusLink, TellsThePagesLinksApart) {
    EXPECT_EQ(ClassifyStatusLink("res:status.htm"), StatusLinkAction::Proceed);
    EXPECT_EQ(ClassifyStatusLink("about:blank"), StatusLinkAction::Proceed);
    EXPECT_EQ(ClassifyStatusLink("http://MROUTER/"), StatusLinkAction::Proceed);
    EXPECT_EQ(ClassifyStatusLink("switch://MROUTERBOX/"), StatusLinkAction::OpenRouterBox);
    EXPECT_EQ(ClassifyStatusLink("switch://MROUTER/0"), StatusLinkAction::ConnectLater);
    EXPECT_EQ(ClassifyStatusLink("switch://OTHER/1"), StatusLinkAction::Refresh);
    // Case-sensitive: a renderer that lower-cases the host loses the keyword.
    EXPECT_EQ(ClassifyStatusLink("switch://mrouter/0"), StatusLinkAction::Refresh);
    EXPECT_EQ(ClassifyStatusLink("SWITCH://MROUTER/0"), StatusLinkAction::Proceed);
}

// ---------------------------------------------------------------------------
// The relay's port file, where a relay other than mRouter's publishes its
// port; on Windows the port comes through COM (win_router_bridge_test).
#ifndef _WIN32

class RelayPortFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir = (fs::temp_directory_path() / "velarix-relay-XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        dir_ = dir;
        if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) savedRuntime_ = runtime;
    }
    void TearDown() override {
        if (savedRuntime_) {
            ::setenv("XDG_RUNTIME_DIR", savedRuntime_->c_str(), 1);
        } else {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
        fs::remove_all(dir_);
    }

    std::string Write(const std::string& content, const std::string& name = "relay.port") {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    fs::path dir_;
    std::optional<std::string> savedRuntime_;
};

TEST_F(RelayPortFileTest, MissingFileMeansNoRelay) {
    const RouterPortQuery query = ReadRelayPortFile((dir_ / "relay.port").string());
    EXPECT_FALSE(query.ok);
    EXPECT_EQ(query.port, 0);
    EXPECT_FALSE(ReadRelayPortFile((dir_ / "none" / "relay.port").string()).ok);
}

TEST_F(RelayPortFileTest, ReadsADecimalPortWithWhiteSpaceAround) {
    for (const auto& [text, port] : {std::pair<std::string, int>{"5000", 5000},
                                     {"5000\n", 5000},
                                     {"  5000 \r\n", 5000},
                                     {"1", 1},
                                     {"65535", 65535},
                                     {"000080", 80}}) {
        const RouterPortQuery query = ReadRelayPortFile(Write(text));
        EXPECT_TRUE(query.ok) << text;
        EXPECT_EQ(query.port, port) << text;
    }
}

TEST_F(RelayPortFileTest, AnythingElseGivesPortZero) {
    for (const std::string& text :
         {std::string(), std::string("\n"), std::string("0"), std::string("65536"),
          std::string("99999999999"), std::string("-1"), std::string("+80"), std::string("50a0"),
          std::string("5000 6000"), std::string("0x50"), std::string("5000\0", 5),
          std::string("port=5000")}) {
        const RouterPortQuery query = ReadRelayPortFile(Write(text));
        EXPECT_TRUE(query.ok) << text;
        EXPECT_EQ(query.port, 0) << text;
    }
}

TEST_F(RelayPortFileTest, LargeFilesAreNotReadThrough) {
    // Digits after enough white space would still parse if the whole file
    // were read.
    const RouterPortQuery padded = ReadRelayPortFile(Write(std::string(100000, ' ') + "5000"));
    EXPECT_TRUE(padded.ok);
    EXPECT_EQ(padded.port, 0);
    // 32 bytes are too many for a port, 31 are still read.
    EXPECT_EQ(ReadRelayPortFile(Write(std::string(27, ' ') + "5000\n")).port, 0);
    EXPECT_EQ(ReadRelayPortFile(Write(std::string(26, ' ') + "5000\n")).port, 5000);
}

TEST_F(RelayPortFileTest, NonRegularFilesGivePortZeroWithoutBlocking) {
    const RouterPortQuery directory = ReadRelayPortFile(dir_.string());
    EXPECT_TRUE(directory.ok);
    EXPECT_EQ(directory.port, 0);
    const std::string fifo = (dir_ / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const RouterPortQuery pipe = ReadRelayPortFile(fifo);
    EXPECT_TRUE(pipe.ok);
    EXPECT_EQ(pipe.port, 0);
}

TEST_F(RelayPortFileTest, UnreadableFileGivesPortZero) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
    const std::string path = Write("5000");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    const RouterPortQuery query = ReadRelayPortFile(path);
    EXPECT_TRUE(query.ok);
    EXPECT_EQ(query.port, 0);
}

TEST_F(RelayPortFileTest, PathFollowsTheRuntimeDirectory) {
    ::setenv("XDG_RUNTIME_DIR", "/run/user/1234", 1);
    EXPECT_EQ(RelayPortFilePath(), "/run/user/1234/mrouter/relay.port");
    const std::string fallback = "/tmp/mrouter-" + std::to_string(::getuid()) + "/relay.port";
    ::setenv("XDG_RUNTIME_DIR", "", 1);
    EXPECT_EQ(RelayPortFilePath(), fallback);
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(RelayPortFilePath(), fallback);
}

TEST_F(RelayPortFileTest, QueryReadsThePublishedPort) {
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    const RouterPortQuery none = QueryRouterPort();
    EXPECT_FALSE(none.ok);
    EXPECT_EQ(none.port, 0);

    fs::create_directory(dir_ / "mrouter");
    Write("40123", "mrouter/relay.port");
    const RouterPortQuery query = QueryRouterPort();
    EXPECT_TRUE(query.ok);
    EXPECT_EQ(query.port, 40123);

    Write("garbage", "mrouter/relay.port");
    EXPECT_EQ(QueryRouterPort().port, 0);
}

TEST_F(RelayPortFileTest, OnlyAFolderOfOursThatNobodyElseCanWriteIsTrusted) {
    ::setenv("XDG_RUNTIME_DIR", (dir_ / "runtime").c_str(), 1);
    struct Case {
        const char* what;
        fs::perms runtime;
        fs::perms folder;
        bool folderIsLink;
        bool ownedByOther;
        bool trusted;
    };
    const fs::perms mine = fs::perms::owner_all;
    const Case cases[] = {
        {"both ours and closed", mine, mine, false, false, true},
        {"runtime directory readable by others", mine | fs::perms::others_read, mine, false, false,
         true},
        {"folder open to all", mine, fs::perms::all, false, false, false},
        {"folder readable by all", mine, mine | fs::perms::group_read | fs::perms::others_read,
         false, false, true},
        {"folder writable by its group", mine, mine | fs::perms::group_write, false, false, false},
        {"runtime directory writable by all", fs::perms::all, mine, false, false, false},
        {"runtime directory writable by its group", mine | fs::perms::group_write, mine, false,
         false, false},
        {"folder is a link to a folder of ours", mine, mine, true, false, false},
        {"folder belongs to someone else", mine, mine, false, true, false},
    };
    for (const Case& c : cases) {
        if (c.ownedByOther && ::geteuid() != 0) continue;  // only root can give a folder away
        fs::remove_all(dir_ / "runtime");
        fs::remove_all(dir_ / "elsewhere");
        fs::create_directories(dir_ / "runtime");
        const fs::path folder = c.folderIsLink ? dir_ / "elsewhere" : dir_ / "runtime" / "mrouter";
        fs::create_directories(folder);
        if (c.folderIsLink) fs::create_directory_symlink(folder, dir_ / "runtime" / "mrouter");
        std::ofstream(folder / "relay.port") << "40123";
        fs::permissions(folder, c.folder, fs::perm_options::replace);
        fs::permissions(dir_ / "runtime", c.runtime, fs::perm_options::replace);
        if (c.ownedByOther) {
            ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
        }
        const RouterPortQuery query = QueryRouterPort();
        EXPECT_EQ(query.ok, c.trusted) << c.what;
        EXPECT_EQ(query.port, c.trusted ? 40123 : 0) << c.what;
    }
}

// In the trusted folder only a regular file of ours is believed: not a link,
// even to a file of ours, nor a file someone else owns.
TEST_F(RelayPortFileTest, OnlyAPortFileOfOursThatIsNoLinkIsBelieved) {
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    fs::create_directory(dir_ / "mrouter");
    const fs::path file = dir_ / "mrouter" / "relay.port";
    fs::create_symlink(Write("40123", "mine.port"), file);
    EXPECT_EQ(QueryRouterPort().port, 0) << "a link";
    EXPECT_EQ(ReadRelayPortFile(file.string()).port, 0) << "a link";
    fs::remove(file);
    Write("40123", "mrouter/relay.port");
    EXPECT_EQ(QueryRouterPort().port, 40123);
    if (::geteuid() != 0) return;  // only root can give a file away
    ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
    EXPECT_EQ(QueryRouterPort().port, 0) << "someone else's file";
}

// A relay alone is not mRouter: there is no box to open, and asking for one
// leaves the published port as it was.
TEST_F(RelayPortFileTest, RouterBoxIsNotAvailableWithoutMRouter) {
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    fs::create_directory(dir_ / "mrouter");
    Write("40123", "mrouter/relay.port");
    EXPECT_FALSE(OpenRouterBox());
    EXPECT_EQ(QueryRouterPort().port, 40123);
}

// The program holds COM for its whole life; where there is none, holding it
// (nested too, as a second user on the same thread does) must not cost the
// relay's port.
TEST_F(RelayPortFileTest, ComInitSucceedsWhereThereIsNothingToInitialise) {
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    fs::create_directory(dir_ / "mrouter");
    Write("40123", "mrouter/relay.port");
    {
        const ComInit program;
        const ComInit nested;
        EXPECT_TRUE(program.Ok());
        EXPECT_TRUE(nested.Ok());
        EXPECT_EQ(QueryRouterPort().port, 40123);
    }
    EXPECT_EQ(QueryRouterPort().port, 40123);
}

#endif  // _WIN32

}  // namespace
}  // namespace velarix
