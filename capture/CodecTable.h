// The process-wide list of video compressors that can record the phone screen:
// FFmpeg's video encoders that the AVI muxer accepts and that really open for
// 208 × 320 frames. Filled once, on a worker thread started by the video
// setup page, or on the caller's thread by LookupCodec when nobody did.
//
// Hand-over between threads: the worker fills each entry, then publishes it
// by raising the count with a release store, and clears the busy flag at the
// end; readers load busy and the count with acquire loads, so the first Count()
// entries are always complete. A published entry never changes again, so a
// recording can take its compressor while the rest of the list is still
// being tried.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace velarix {

struct CodecInfo {
    std::uint32_t fccType = 0;     // 'vidc'
    std::uint32_t fccHandler = 0;  // the four-character codec tag the AVI muxer writes
    std::uint32_t version = 0;     // the encoder library's version number
    std::string name;              // FFmpeg's encoder name, e.g. "msvideo1"
    std::string description;       // FFmpeg's long name
    int enumerationIndex = 0;      // position in FFmpeg's encoder walk
    bool configurable = false;     // has options of its own for the configure dialog
};

// The type code of every compressor record: "vidc", lowest byte first.
inline constexpr std::uint32_t kCodecTypeVideo = 0x63646976;

class CodecTable {
public:
    static constexpr int kMaxEntries = 32;

    // Decides by FFmpeg encoder name which encoders a table may list at all;
    // the process-wide table accepts every encoder. A table that accepts none
    // stands for a machine without video compressors.
    using EncoderFilter = std::function<bool(std::string_view encoderName)>;

    // The one table of the process.
    static CodecTable& Instance();

    enum class Priority { Normal, Low };
    // Starts EnumerateCodecs on a new worker thread when the table is not
    // filled and no enumeration runs; busy is set before this returns. A
    // worker of Priority::Low (the program's start-up) runs at low
    // priority, so that trying every encoder does not take time from the
    // screen; a LookupCodec that has to wait for it takes the rest over.
    void StartEnumeration(Priority priority = Priority::Normal);
    // Fills the table on the calling thread (busy while it runs), going on
    // where a worker that handed its work over stopped.
    void EnumerateCodecs();

    bool Busy() const;
    int Count() const;
    // Valid for 0 <= index < Count().
    const CodecInfo& Entry(int index) const;

    // "%c%c%c%c-%lx" on the handler code (lowest byte first) and the version.
    static std::string FormatCodecLabel(const CodecInfo& info);
    // The first entry whose label equals `label` byte for byte; 0 when none
    // does or the table is empty.
    int FindCodecByLabel(std::string_view label) const;
    // For recording: the entry FindCodecByLabel names; null when none. While
    // an enumeration runs it returns as soon as the answer is known (the
    // entry with the label, or for an empty label the first entry), and
    // otherwise waits for the end of the enumeration, at most 2 seconds. An
    // empty table is enumerated on the calling thread.
    const CodecInfo* LookupCodec(std::string_view label);

    CodecTable();
    explicit CodecTable(EncoderFilter filter);
    // Asks a running enumeration to stop after the encoder it is trying and
    // waits for its thread, so that no worker outlives the table (the
    // process-wide table is destroyed at exit).
    ~CodecTable();
    CodecTable(const CodecTable&) = delete;
    CodecTable& operator=(const CodecTable&) = delete;

private:
    // The enumeration proper; the caller holds the busy flag.
    void Fill();
    // Filled completely, with at least one entry.
    bool Done() const;
    // Wakes LookupCodec after an entry was published or the enumeration ended.
    void Notify();
    // The index of the published entry labelled `label`, or -1.
    int FindPublished(std::string_view label) const;

    EncoderFilter filter_;
    std::array<CodecInfo, kMaxEntries> entries_{};
    std::atomic<int> count_{0};
    std::atomic<int> busy_{0};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> lowPriority_{false};
    std::atomic<bool> handOver_{false};
    std::atomic<bool> complete_{false};
    // Where an enumeration goes on and the tags it has given out; touched
    // only by the holder of the busy flag.
    std::size_t resumeAt_ = 0;
    std::vector<std::uint32_t> usedTags_;
    std::mutex progressMutex_;
    std::condition_variable progress_;
    // Touched only by the thread that won the busy flag and by the destructor.
    std::thread worker_;
};

}  // namespace velarix
