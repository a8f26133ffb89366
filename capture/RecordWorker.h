// The thread that encodes and writes a recording, so that a slow compressor
// never holds up the screen. The GUI thread hands over copies of the screen,
// each with its frame period; the worker writes them in order, filling the
// periods between them with skipped frames. The queue holds a few frames: a
// frame that finds it full is not queued, and the caller records the period
// as skipped instead of waiting.
//
// Every call on the writer (open, frames, close) runs on the worker thread.
// The GUI thread waits a moment for the open, whose result it must show (an
// open that takes longer reports at a later tick), and for the close, after
// which the file is whole. The open's repair of the previous recording is
// stopped by a close, so that neither Stop nor quitting waits for it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace velarix {

class IRecordWriter;

class RecordWorker {
public:
    // Frames waiting for the encoder, besides the one being encoded.
    static constexpr std::size_t kDefaultCapacity = 3;

    explicit RecordWorker(std::size_t capacity = kDefaultCapacity);
    // Closes a recording still open, so that its file is whole.
    ~RecordWorker();
    RecordWorker(const RecordWorker&) = delete;
    RecordWorker& operator=(const RecordWorker&) = delete;

    struct OpenResult {
        std::int32_t code = 0;  // writer.Open()'s result, 0 on success
        std::string errorText;  // the writer's text of a failed open
    };
    // Starts the worker and opens `writer` on it; waits up to `wait` for the
    // result, nothing when the open takes longer (TakeOpenResult has it
    // later; frames submitted meanwhile wait for it). A failed open is closed
    // again on the worker and ends the thread.
    std::optional<OpenResult> Open(IRecordWriter& writer, std::chrono::milliseconds wait);
    // The result of an open that Open did not wait for, once it is there.
    std::optional<OpenResult> TakeOpenResult();
    // Copies `pixels` as the frame of period `position` (periods never go
    // back). False when the queue is full, no recording is open, or a write
    // failed: nothing is queued then.
    bool Submit(std::span<const std::uint32_t> pixels, std::int64_t position);
    // True once a frame write failed; the frames after it are dropped.
    bool Failed() const;
    // Waits until the open is over and every queued frame has been written.
    void WaitIdle();
    // Writes the queued frames, extends the recording to `periods` periods,
    // closes the writer and ends the thread; waits for all of it.
    void Close(std::int64_t periods);
    bool IsOpen() const { return thread_.joinable(); }

private:
    void Run(IRecordWriter* writer);

    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;  // the worker: a frame, the close, the open's turn
    std::condition_variable done_;  // the GUI thread: opened, written, closed
    struct Frame {
        std::vector<std::uint32_t> pixels;
        std::int64_t position = 0;
    };
    std::deque<Frame> queue_;
    std::vector<std::vector<std::uint32_t>> spare_;  // buffers to reuse
    bool opened_ = false;                            // the open's result is in openResult_
    bool resultTaken_ = false;
    OpenResult openResult_;
    bool busy_ = false;  // a frame is being written
    std::atomic<bool> failed_{false};
    bool closing_ = false;
    std::int64_t closePeriods_ = 0;
    std::stop_source openStop_;  // stops the open's repair; the GUI thread's
    std::thread thread_;         // touched by the GUI thread only
};

}  // namespace velarix
