// Built with ThreadSanitizer: a reader polls the table's busy flag, count and
// entries while the worker thread fills it, as the video page and a starting
// recording do. Any access to an entry that the count did not publish would
// be reported as a data race.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "capture/CodecTable.h"

namespace velarix {
namespace {

TEST(CodecTableThreads, ReaderSeesOnlyCompleteEntries) {
    CodecTable table;
    table.StartEnumeration();
    std::thread reader([&table] {
        std::size_t seen = 0;
        for (bool busy = true; busy;) {
            busy = table.Busy();
            const int count = table.Count();
            for (int i = 0; i < count; ++i) {
                const CodecInfo& entry = table.Entry(i);
                seen += entry.name.size() + entry.description.size();
                seen += CodecTable::FormatCodecLabel(entry).size();
            }
        }
        EXPECT_GT(seen, 0u);
    });
    // A second reader on this thread; each lookup gives up after two seconds,
    // and enumerating under the sanitizer can take longer than that.
    const CodecInfo* first = nullptr;
    for (int attempt = 0; attempt < 30 && first == nullptr; ++attempt)
        first = table.LookupCodec("");
    reader.join();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->name, "msvideo1");
    EXPECT_GT(table.Count(), 0);
}

TEST(CodecTableThreads, StartsRacingForOneEnumeration) {
    CodecTable table;
    std::thread other([&table] { table.StartEnumeration(); });
    table.StartEnumeration();
    other.join();
    while (table.Busy()) std::this_thread::yield();
    EXPECT_GT(table.Count(), 0);
}

TEST(CodecTableThreads, LookupTakesItsEntryEarlyOrTakesTheRestOver) {
    CodecTable full;
    full.EnumerateCodecs();
    ASSERT_GE(full.Count(), 3);
    // The third entry is published while the worker goes on; the last one
    // makes the lookup take the rest over from a low-priority worker.
    for (const int index : {2, full.Count() - 1}) {
        const CodecInfo& wanted = full.Entry(index);
        CodecTable table;
        table.StartEnumeration(index == 2 ? CodecTable::Priority::Normal
                                          : CodecTable::Priority::Low);
        const CodecInfo* found = nullptr;
        for (int attempt = 0; attempt < 30 && found == nullptr; ++attempt)
            found = table.LookupCodec(CodecTable::FormatCodecLabel(wanted));
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->name, wanted.name);
        EXPECT_EQ(found->description, wanted.description);
        while (table.Busy()) std::this_thread::yield();
        EXPECT_EQ(table.Count(), full.Count());
    }
}

}  // namespace
}  // namespace velarix
