// The compressor table (entries, labels, lookup, the worker thread and its
// busy flag) and the compressor options and state behind the configure dialog.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "capture/CodecOptions.h"
#include "capture/CodecTable.h"
#include "settings/MemorySettingsBackend.h"
#include "settings/SettingsStore.h"

namespace velarix {
namespace {

CodecTable::EncoderFilter Only(std::set<std::string, std::less<>> names) {
    return [names = std::move(names)](std::string_view name) { return names.contains(name); };
}

// --- Entries and labels -------------------------------------------------------

TEST(CodecTableEntries, ListsWorkingEncodersMicrosoftVideo1First) {
    CodecTable& table = CodecTable::Instance();
    table.EnumerateCodecs();
    ASSERT_GT(table.Count(), 0);
    EXPECT_LE(table.Count(), CodecTable::kMaxEntries);
    EXPECT_EQ(table.Entry(0).name, "msvideo1");
    EXPECT_EQ(CodecTable::FormatCodecLabel(table.Entry(0)),
              "MSVC-" + (std::ostringstream() << std::hex << avcodec_version()).str());
    std::set<std::string> labels;
    for (int i = 0; i < table.Count(); ++i) {
        const CodecInfo& entry = table.Entry(i);
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(entry.fccType, 0x63646976u);  // "vidc"
        EXPECT_EQ(entry.version, avcodec_version());
        EXPECT_FALSE(entry.description.empty());
        EXPECT_EQ(entry.configurable, !ListCodecOptions(entry).empty());
        EXPECT_TRUE(labels.insert(CodecTable::FormatCodecLabel(entry)).second) << "label twice";
        EXPECT_EQ(table.FindCodecByLabel(CodecTable::FormatCodecLabel(entry)), i);
    }
    // Hardware encoders without hardware never make it.
    for (int i = 0; i < table.Count(); ++i)
        EXPECT_EQ(table.Entry(i).name.find("vaapi"), std::string::npos);
}

TEST(CodecTableEntries, LabelsAndLookupByLabel) {
    CodecInfo info;
    info.fccHandler = 0x4356534D;
    info.version = 0x10000;
    EXPECT_EQ(CodecTable::FormatCodecLabel(info), "MSVC-10000");
    CodecTable table(Only({"msvideo1", "ffv1"}));
    EXPECT_EQ(table.FindCodecByLabel("FFV1-1"), 0);  // empty table
    table.EnumerateCodecs();
    ASSERT_EQ(table.Count(), 2);
    const std::string ffv1 = CodecTable::FormatCodecLabel(table.Entry(1));
    EXPECT_EQ(table.FindCodecByLabel(ffv1), 1);
    EXPECT_EQ(table.FindCodecByLabel("ffv1" + ffv1.substr(4)), 0);  // case counts
    EXPECT_EQ(table.FindCodecByLabel(""), 0);
    EXPECT_EQ(table.LookupCodec(ffv1)->name, "ffv1");
    EXPECT_EQ(table.LookupCodec("NONE-0")->name, "msvideo1");
}

// --- Enumeration and its thread ---------------------------------------------------

TEST(CodecTableEnumeration, LookupEnumeratesAnEmptyTableItself) {
    CodecTable table(Only({"ffv1"}));
    const CodecInfo* found = table.LookupCodec("");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->name, "ffv1");
    EXPECT_FALSE(table.Busy());
}

TEST(CodecTableEnumeration, NoCompressorsMeansNoRecord) {
    CodecTable table([](std::string_view) { return false; });
    EXPECT_EQ(table.LookupCodec(""), nullptr);
    EXPECT_EQ(table.Count(), 0);
    table.StartEnumeration();  // an empty table may try again
    while (table.Busy()) std::this_thread::yield();
    EXPECT_EQ(table.Count(), 0);
}

TEST(CodecTableEnumeration, BusyFromTheStartAndFilledOnce) {
    std::atomic<bool> release{false};
    CodecTable table([&](std::string_view name) {
        while (!release.load()) std::this_thread::yield();
        return name == "msvideo1";
    });
    table.StartEnumeration();
    EXPECT_TRUE(table.Busy());
    table.StartEnumeration();  // no second worker
    table.EnumerateCodecs();   // nor an enumeration on this thread
    EXPECT_EQ(table.Count(), 0);
    release = true;
    while (table.Busy()) std::this_thread::yield();
    ASSERT_EQ(table.Count(), 1);
    table.StartEnumeration();
    EXPECT_FALSE(table.Busy());  // filled tables are never enumerated again
}

TEST(CodecTableEnumeration, LookupGivesUpOnAnEnumerationThatDoesNotEnd) {
    std::atomic<bool> release{false};
    CodecTable table([&](std::string_view) {
        while (!release.load()) std::this_thread::yield();
        return true;
    });
    table.StartEnumeration();
    EXPECT_EQ(table.LookupCodec(""), nullptr);  // after 20 checks 100 ms apart
    EXPECT_TRUE(table.Busy());
    release = true;
}

TEST(CodecTableEnumeration, TableDestroyedWhileEnumeratingStopsItsWorker) {
    // A slow walk over the encoders, so the table goes while its worker is busy.
    std::atomic<int> calls{0};
    std::atomic<bool> inWorker{false};
    auto table = std::make_unique<CodecTable>([&](std::string_view) {
        inWorker = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ++calls;
        inWorker = false;
        return true;
    });
    table->StartEnumeration();
    while (calls.load() == 0) std::this_thread::yield();
    table.reset();  // joins: no worker writes into freed memory
    EXPECT_FALSE(inWorker.load());
    const int callsAtReset = calls.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(calls.load(), callsAtReset);
}

// --- Options for the configure dialog ---------------------------------------------

const CodecOption* Find(const std::vector<CodecOption>& options, std::string_view name) {
    for (const CodecOption& option : options)
        if (option.name == name) return &option;
    return nullptr;
}

TEST(CodecOptionsList, EncoderOptionsBecomeControls) {
    const auto mpeg4 = ListEncoderOptions("mpeg4");
    const CodecOption* flags = Find(mpeg4, "mpv_flags");
    ASSERT_NE(flags, nullptr);
    EXPECT_EQ(flags->kind, CodecOptionKind::Flags);
    EXPECT_FALSE(flags->constants.empty());
    const CodecOption* motion = Find(mpeg4, "motion_est");
    ASSERT_NE(motion, nullptr);
    EXPECT_EQ(motion->kind, CodecOptionKind::Choice);
    EXPECT_EQ(OptionNumber(*motion, "epzs"), 1);
    EXPECT_EQ(OptionNumber(*motion, motion->defaultText), motion->defaultNumber);
    const CodecOption* quantizer = Find(mpeg4, "luma_elim_threshold");
    ASSERT_NE(quantizer, nullptr);
    EXPECT_EQ(quantizer->kind, CodecOptionKind::Integer);
    EXPECT_LT(quantizer->minimum, quantizer->maximum);
    EXPECT_TRUE(ListEncoderOptions("msvideo1").empty());
    EXPECT_TRUE(ListEncoderOptions("no-such-encoder").empty());
    // An option the encoder has under two names appears once.
    std::set<std::string> names;
    for (const CodecOption& option : mpeg4) EXPECT_TRUE(names.insert(option.name).second);
}

TEST(CodecOptionsList, StoredValuesParseBack) {
    const auto options = ListEncoderOptions("mpeg4");
    const CodecOption* flags = Find(options, "mpv_flags");
    ASSERT_NE(flags, nullptr);
    const auto first = flags->constants[0].value;
    const auto second = flags->constants[1].value;
    const std::string both = flags->constants[0].name + "+" + flags->constants[1].name;
    EXPECT_EQ(OptionNumber(*flags, both), static_cast<double>(first | second));
    EXPECT_EQ(OptionNumber(*flags, FormatOptionNumber(*flags, 6)), 6);
    EXPECT_EQ(OptionNumber(*flags, "no_such_flag"), flags->defaultNumber);
    EXPECT_TRUE(AcceptsOptionValue("mpeg4", "mpv_flags", FormatOptionNumber(*flags, 6)));
    EXPECT_FALSE(AcceptsOptionValue("mpeg4", "no_such_option", "1"));
}

// --- State text -------------------------------------------------------------------

TEST(CodecStateText, PairsSurviveEveryCharacter) {
    const std::map<std::string, std::string> options = {
        {"preset", "fast"}, {"x264-params", "keyint=1:bframes=0"}, {"path", "C:\\a b"}};
    const std::string text = SerializeCodecState(options);
    EXPECT_EQ(text, "path=C\\:\\\\a b:preset=fast:x264-params=keyint\\=1\\:bframes\\=0");
    EXPECT_EQ(ParseCodecState(text), options);
    EXPECT_EQ(SerializeCodecState({}), "");
}

TEST(CodecStateText, DamagedTextGivesWhatItCan) {
    const std::map<std::string, std::string> expected = {{"a", "1"}, {"c", ""}};
    EXPECT_EQ(ParseCodecState("a=0:b:=x::a=1:c=\\"), expected);
    EXPECT_TRUE(ParseCodecState("\xAB\xCD\xEF").empty());
}

TEST(CodecStateText, StoredAsHexUnderTheLabel) {
    SettingsStore store(std::make_shared<MemorySettingsBackend>());
    WriteCodecState(store, "MSVC-1", {{"q", "5"}});
    EXPECT_EQ(store.GetString("AVI", "MSVC-1", ""), "713D35");  // "q=5"
    EXPECT_EQ(ReadCodecState(store, "MSVC-1"), (std::map<std::string, std::string>{{"q", "5"}}));
    EXPECT_TRUE(ReadCodecState(store, "NONE-1").empty());
}

}  // namespace
}  // namespace velarix
