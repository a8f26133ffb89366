#include "capture/RecordWorker.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "capture/AviWriter.h"
#include "capture/Recorder.h"
#include "capture/ThreadPriority.h"

namespace velarix {
namespace {

constexpr std::chrono::milliseconds kLockWait{1};

}  // namespace

RecordWorker::RecordWorker(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

RecordWorker::~RecordWorker() {
    Close(0);
}

std::optional<RecordWorker::OpenResult> RecordWorker::Open(IRecordWriter& writer,
                                                           std::chrono::milliseconds wait) {
    Close(0);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        queue_.clear();
        opened_ = false;
        resultTaken_ = false;
        openResult_ = OpenResult{};
        busy_ = false;
        failed_.store(false, std::memory_order_relaxed);
        closing_ = false;
        closePeriods_ = 0;
    }
    openStop_ = std::stop_source();
    writer.SetOpenStop(openStop_.get_token());
    try {
        thread_ = std::thread([this, &writer] { Run(&writer); });
    } catch (const std::system_error&) {
        return OpenResult{kAviErrMemory, "Failed to initialize AVI Engine (NO MEMORY)."};
    }
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!done_.wait_for(lock, wait, [this] { return opened_; })) return std::nullopt;
    }
    return TakeOpenResult();
}

std::optional<RecordWorker::OpenResult> RecordWorker::TakeOpenResult() {
    OpenResult result;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!opened_ || resultTaken_) return std::nullopt;
        resultTaken_ = true;
        result = openResult_;
    }
    // A failed open ends the worker by itself.
    if (result.code != 0 && thread_.joinable()) thread_.join();
    return result;
}

bool RecordWorker::Submit(std::span<const std::uint32_t> pixels, std::int64_t position) {
    if (!thread_.joinable()) return false;
    {
        // The worker holds the lock only for moments, but a worker of lower
        // priority may be preempted while it does: the GUI thread waits at
        // most a millisecond for it and counts the period as skipped then.
        std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
        const auto deadline = std::chrono::steady_clock::now() + kLockWait;
        while (!lock.try_lock()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::yield();
        }
        if (failed_ || closing_ || queue_.size() >= capacity_) return false;
        std::vector<std::uint32_t> buffer;
        if (!spare_.empty()) {
            buffer = std::move(spare_.back());
            spare_.pop_back();
        }
        buffer.assign(pixels.begin(), pixels.end());
        queue_.push_back(Frame{std::move(buffer), position});
    }
    wake_.notify_one();
    return true;
}

bool RecordWorker::Failed() const {
    return failed_.load(std::memory_order_acquire);
}

void RecordWorker::WaitIdle() {
    if (!thread_.joinable()) return;
    std::unique_lock<std::mutex> lock(mutex_);
    // Frames queued before a failed open are never written.
    done_.wait(lock,
               [this] { return opened_ && (openResult_.code != 0 || (queue_.empty() && !busy_)); });
}

void RecordWorker::Close(std::int64_t periods) {
    if (!thread_.joinable()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
        closePeriods_ = periods;
    }
    // An open still mending the previous recording leaves it as it was.
    openStop_.request_stop();
    wake_.notify_one();
    thread_.join();
}

void RecordWorker::Run(IRecordWriter* writer) {
    // The encoder yields to the GUI thread when both want the same core: a
    // compressor slower than the frame rate then costs skipped periods, never
    // the screen's smoothness.
    LowerThisThread(ThreadPriority::BelowNormal);
    OpenResult opened;
    opened.code = writer->Open();
    if (opened.code != 0) {
        opened.errorText = writer->ErrorText();
        writer->Close();
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        openResult_ = opened;
        opened_ = true;
    }
    done_.notify_all();
    if (opened.code != 0) return;

    bool failed = false;
    for (;;) {
        Frame frame;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return !queue_.empty() || closing_; });
            if (queue_.empty()) break;  // closing, and every frame written
            frame = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
        }
        // After a failed write the rest is dropped: the recording is ending.
        if (!failed) {
            while (writer->FrameCount() < frame.position) writer->SkipFrame();
            failed = writer->AddFrame(frame.pixels) != 0;
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            busy_ = false;
            if (failed) failed_.store(true, std::memory_order_release);
            spare_.push_back(std::move(frame.pixels));
        }
        done_.notify_all();
    }
    std::int64_t periods = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        periods = closePeriods_;
    }
    // The periods after the last frame belong to the recording too.
    if (!failed)
        while (writer->FrameCount() < periods) writer->SkipFrame();
    writer->Close();
}

}  // namespace velarix
