// The viewer against the phone simulator over loopback: how long a frame
// takes from the simulator's write to the view having painted it, and how
// much CPU time the viewer spends while streaming and while connected but
// idle. Prints figures only; nothing here passes or fails on timing.
//
// Streaming: the simulator runs with --bench-fullscreen (every sample sends
// every line, alternating the screen and its negative) and --timestamps,
// which logs "[µs] @ frame N on the wire" with CLOCK_MONOTONIC when a
// frame's last byte has been handed to the kernel. The view is watched for
// its paint events; after each paint that shows a new frame value
// (CPhoneLink::LastFrameValue) the time is taken with std::chrono::
// steady_clock, which is CLOCK_MONOTONIC too. Colour mode 4096 with zlib,
// 40 samples per second (timerDiv 1).
//
// Idle: a second simulator with --static sends nothing but a ping every
// 5 s once the screen is there.
//
// Recording (--record ENCODER, an FFmpeg encoder name from the compressor
// list, --fps N): the streaming run again while recording, beside the run
// without; the longest time the GUI thread spent in one recording tick; and
// the time from the save dialog's OK to the first frame written, median of
// 10 starts. --record-load adds 20 s recorded at 10 fps while two busy
// processes keep the cores loaded: the periods recorded and how far each
// screen change landed from its time.
//
// Run on the offscreen platform:
//   QT_QPA_PLATFORM=offscreen build/bench/velarix_latency_bench [--seconds N]
//       [--idle-seconds M] [--sim PATH] [--record ENCODER [--fps N] [--record-load]]
#include <sys/resource.h>
#include <sys/time.h>
#include <time.h>

#include <QApplication>
#include <QByteArray>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/CMainFrame.h"
#include "capture/AviWriter.h"
#include "capture/CodecTable.h"
#include "capture/Recorder.h"
#include "settings/MemorySettingsBackend.h"
#include "status/CHtmlCtrl.h"
#include "view/CChildView.h"

#ifndef VELARIX_PHONE_SIM
#define VELARIX_PHONE_SIM "velarix-phone-sim"
#endif

namespace {

using velarix::CChildView;
using velarix::CMainFrame;

std::int64_t SteadyMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// User plus system CPU time of this process, in microseconds.
std::int64_t CpuMicros() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto micros = [](const timeval& t) {
        return std::int64_t{t.tv_sec} * 1000000 + std::int64_t{t.tv_usec};
    };
    return micros(usage.ru_utime) + micros(usage.ru_stime);
}

// CPU time of the calling thread, in microseconds.
std::int64_t ThreadCpuMicros() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::int64_t{t.tv_sec} * 1000000 + t.tv_nsec / 1000;
}

// Runs the event loop for `ms` milliseconds, sleeping while there is nothing to do.
void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done` holds or `timeoutMs` have passed.
bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.hasExpired(timeoutMs)) return false;
        RunFor(5);
    }
    return true;
}

// The simulator as a child process. Its log goes to a file, read once the
// measurement is over, so that reading it costs the viewer nothing meanwhile.
class Simulator {
public:
    Simulator(const QString& program, const QString& runtimeDir, const QStringList& args)
        : portFile_(runtimeDir + "/mrouter/relay.port"), logFile_(runtimeDir + "/phone-sim.log") {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtimeDir);
        proc_.setProcessEnvironment(env);
        proc_.setStandardOutputFile(QProcess::nullDevice());
        proc_.setStandardErrorFile(logFile_);
        proc_.start(program, args);
    }

    ~Simulator() { Stop(); }

    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    bool WaitReady() {
        if (!proc_.waitForStarted(10000)) return false;
        return RunUntil(
            [&] {
                QFile file(portFile_);
                return file.open(QIODevice::ReadOnly) && file.readAll().toInt() > 0;
            },
            10000);
    }

    void Stop() {
        if (proc_.state() == QProcess::NotRunning) return;
        proc_.terminate();  // SIGTERM: the simulator removes its port file
        if (!proc_.waitForFinished(5000)) {
            proc_.kill();
            proc_.waitForFinished(5000);
        }
    }

    // Per frame value, CLOCK_MONOTONIC µs of the log line written just before
    // the frame's first byte went to the socket ("-> Frame..., frame N") and
    // of the note after its last byte was handed to the kernel ("@ frame N").
    struct WireTimes {
        std::map<std::uint32_t, std::int64_t> writeStart;
        std::map<std::uint32_t, std::int64_t> writeDone;
    };

    WireTimes ReadLog() const {
        WireTimes times;
        QFile file(logFile_);
        if (!file.open(QIODevice::ReadOnly)) return times;
        while (!file.atEnd()) {
            const QByteArray line = file.readLine().trimmed();
            if (!line.startsWith('[')) continue;
            const qsizetype close = line.indexOf(']');
            if (close < 0) continue;
            bool ok = false;
            const qint64 usec = line.mid(1, close - 1).toLongLong(&ok);
            if (!ok) continue;
            const QByteArray rest = line.mid(close + 1);
            if (rest.startsWith(" @ frame ")) {
                const qsizetype end = rest.indexOf(' ', 9);
                const qulonglong value = rest.mid(9, end < 0 ? -1 : end - 9).toULongLong(&ok);
                if (ok) times.writeDone[static_cast<std::uint32_t>(value)] = usec;
            } else if (rest.startsWith(" -> Frame")) {
                const qsizetype at = rest.lastIndexOf(", frame ");
                if (at < 0) continue;
                const qulonglong value = rest.mid(at + 8).toULongLong(&ok);
                if (ok) times.writeStart[static_cast<std::uint32_t>(value)] = usec;
            }
        }
        return times;
    }

private:
    QString portFile_;
    QString logFile_;
    QProcess proc_;
};

// Watches the view's paint events: lets each paint run, then notes when a
// paint has shown a new frame value.
class PaintProbe final : public QObject {
public:
    explicit PaintProbe(CChildView& view) : view_(view) { view_.installEventFilter(this); }
    ~PaintProbe() override { view_.removeEventFilter(this); }

    PaintProbe(const PaintProbe&) = delete;
    PaintProbe& operator=(const PaintProbe&) = delete;

    struct Paint {
        std::uint32_t frameValue;
        std::int64_t micros;
    };
    std::vector<Paint> paints;
    bool recording = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != &view_ || event->type() != QEvent::Paint || inPaint_) return false;
        inPaint_ = true;
        // The view's own handling of the event, through QObject's public entry.
        static_cast<QObject&>(view_).event(event);
        inPaint_ = false;
        const auto* link = view_.Core().ActiveLink();
        if (recording && link && link->LastFrameValue() != lastValue_) {
            lastValue_ = link->LastFrameValue();
            paints.push_back({lastValue_, SteadyMicros()});
        }
        return true;
    }

private:
    CChildView& view_;
    bool inPaint_ = false;
    std::uint32_t lastValue_ = 0;
};

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const double rank = p / 100.0 * double(values.size() - 1);
    const auto lo = static_cast<std::size_t>(rank);
    const std::size_t hi = std::min(lo + 1, values.size() - 1);
    return values[lo] + (values[hi] - values[lo]) * (rank - double(lo));
}

struct Latency {
    double p50 = 0;
    double p99 = 0;
    double max = 0;
    std::size_t count = 0;
};

// Paint time minus wire time, in ms, of every painted frame the log names.
Latency Measure(const std::vector<PaintProbe::Paint>& paints,
                const std::map<std::uint32_t, std::int64_t>& wire) {
    std::vector<double> ms;
    for (const auto& paint : paints) {
        const auto it = wire.find(paint.frameValue);
        if (it != wire.end()) ms.push_back(double(paint.micros - it->second) / 1000.0);
    }
    Latency out;
    out.count = ms.size();
    out.p50 = Percentile(ms, 50);
    out.p99 = Percentile(ms, 99);
    out.max = ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end());
    return out;
}

struct Options {
    int seconds = 10;
    int idleSeconds = 5;
    QString sim = QStringLiteral(VELARIX_PHONE_SIM);
    QString record;  // FFmpeg encoder name; empty: no recording figures
    int fps = 30;
    bool recordLoad = false;
};

bool ParseArgs(const QStringList& args, Options& o) {
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--seconds" && hasValue) {
            o.seconds = std::max(1, args[++i].toInt());
        } else if (a == "--idle-seconds" && hasValue) {
            o.idleSeconds = std::max(1, args[++i].toInt());
        } else if (a == "--sim" && hasValue) {
            o.sim = args[++i];
        } else if (a == "--record" && hasValue) {
            o.record = args[++i];
        } else if (a == "--fps" && hasValue) {
            o.fps = std::clamp(args[++i].toInt(), 1, 1000);
        } else if (a == "--record-load") {
            o.recordLoad = true;
        } else {
            std::fprintf(stderr,
                         "usage: velarix_latency_bench [--seconds N] [--idle-seconds M] "
                         "[--sim PATH] [--record ENCODER [--fps N] [--record-load]]\n");
            return false;
        }
    }
    return true;
}

// The AVI writer, noting when the first frame was written and the period
// and first pixel of every frame.
class TimedWriter final : public velarix::IRecordWriter {
public:
    struct Written {
        std::int32_t position;
        std::uint32_t firstPixel;
    };

    explicit TimedWriter(const velarix::SettingsStore& settings) : writer_(settings) {}
    void SetFormat(const velarix::BitmapInfoHeader& f) override { writer_.SetFormat(f); }
    void SetFileName(std::string path) override { writer_.SetFileName(std::move(path)); }
    void EnsureAviExtension() override { writer_.EnsureAviExtension(); }
    std::int32_t Open() override {
        firstFrame_.store(0);
        return writer_.Open();
    }
    std::int32_t AddFrame(std::span<const std::uint32_t> pixels) override {
        const std::int32_t position = writer_.FrameCount();
        const std::int32_t result = writer_.AddFrame(pixels);
        std::int64_t none = 0;
        firstFrame_.compare_exchange_strong(none, SteadyMicros());
        const std::lock_guard<std::mutex> lock(mutex_);
        frames_.push_back({position, pixels.empty() ? 0u : pixels[0]});
        return result;
    }
    void SkipFrame() override { writer_.SkipFrame(); }
    void Close() override { writer_.Close(); }
    std::string ErrorText() const override { return writer_.ErrorText(); }
    std::int32_t FrameCount() const override { return writer_.FrameCount(); }

    std::int64_t FirstFrameMicros() const { return firstFrame_.load(); }
    std::vector<Written> TakeFrames() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(frames_, {});
    }

private:
    velarix::CAviWriter writer_;
    std::atomic<std::int64_t> firstFrame_{0};
    std::mutex mutex_;
    std::vector<Written> frames_;
};

// Times the view's recording timer: how long the GUI thread spends in a tick.
class TickProbe final : public QObject {
public:
    explicit TickProbe(QTimer& timer) : timer_(timer) { timer_.installEventFilter(this); }
    ~TickProbe() override { timer_.removeEventFilter(this); }
    TickProbe(const TickProbe&) = delete;
    TickProbe& operator=(const TickProbe&) = delete;

    double longestMs = 0;
    double longestCpuMs = 0;  // of the GUI thread's own CPU time: without preemption
    std::size_t ticks = 0;
    std::vector<double> times;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != &timer_ || event->type() != QEvent::Timer || inTick_) return false;
        inTick_ = true;
        const std::int64_t start = SteadyMicros();
        const std::int64_t cpuStart = ThreadCpuMicros();
        static_cast<QObject&>(timer_).event(event);
        const double ms = double(SteadyMicros() - start) / 1000.0;
        longestCpuMs = std::max(longestCpuMs, double(ThreadCpuMicros() - cpuStart) / 1000.0);
        longestMs = std::max(longestMs, ms);
        times.push_back(ms);
        ++ticks;
        inTick_ = false;
        return true;
    }

private:
    QTimer& timer_;
    bool inTick_ = false;
};

// The view's recording timer: the one precise timer among its own.
QTimer* RecordTimer(CChildView& view) {
    for (QTimer* timer : view.findChildren<QTimer*>(Qt::FindDirectChildrenOnly))
        if (timer->timerType() == Qt::PreciseTimer) return timer;
    return nullptr;
}

// The label of the listed encoder `name`, once the list is complete; empty
// when it is not listed.
std::string WaitForLabel(const QString& name) {
    velarix::CodecTable& table = velarix::CodecTable::Instance();
    table.StartEnumeration();
    while (table.Busy()) RunFor(20);
    for (int i = 0; i < table.Count(); ++i)
        if (QString::fromStdString(table.Entry(i).name) == name)
            return velarix::CodecTable::FormatCodecLabel(table.Entry(i));
    return {};
}

// Starts recording into `path` as if the user had chosen it; `okMicros`
// gets the time the dialog closed.
void StartRecording(CChildView& view, const QString& path, std::int64_t* okMicros = nullptr) {
    view.SetVideoDialogHook([path, okMicros](const std::string&, const std::string&) {
        if (okMicros) *okMicros = SteadyMicros();
        return std::optional<std::string>(path.toStdString());
    });
    view.SetAviErrorHook(
        [](const QString& text) { std::fprintf(stderr, "AVI Error: %s\n", qPrintable(text)); });
    view.ToggleRecording();
}

// A main frame connected to the simulator publishing in `runtimeDir`.
std::unique_ptr<CMainFrame> OpenAndConnect(
    const std::shared_ptr<velarix::ISettingsBackend>& backend,
    std::initializer_list<int> optionCommands) {
    auto frame = std::make_unique<CMainFrame>(velarix::SettingsStore(backend));
    frame->show();
    for (const int id : optionCommands) frame->OnCommand(id);
    frame->OnCommand(velarix::cmd::kConnect);
    CChildView* view = frame->View();
    const bool connected = RunUntil(
        [&] { return view->Core().ActiveLink() != nullptr && view->Core().FrameReady(); }, 10000);
    if (!connected) return nullptr;
    return frame;
}

struct StreamResult {
    bool ok = false;
    Latency fromStart;
    Latency fromDone;
    double cpu = 0;
    double longestTickMs = 0;  // recording only
    double tickP50 = 0;
    double tickP99 = 0;
    double longestTickCpuMs = 0;
    std::size_t ticks = 0;
};

// Streams for options.seconds, recording with `label` at options.fps unless
// `label` is empty.
StreamResult Stream(const Options& options, const QString& runtime, const std::string& label) {
    StreamResult result;
    Simulator sim(options.sim, runtime, {"--bench-fullscreen", "--timestamps"});
    if (!sim.WaitReady()) {
        std::fprintf(stderr, "the simulator did not start: %s\n", qPrintable(options.sim));
        return result;
    }
    auto backend = std::make_shared<velarix::MemorySettingsBackend>();
    const velarix::SettingsStore store(backend);
    auto frame = OpenAndConnect(backend, {velarix::cmd::kColor4096, velarix::cmd::kRate40Hz});
    if (!frame) {
        std::fprintf(stderr, "no connection to the simulator\n");
        return result;
    }
    CChildView& view = *frame->View();
    auto probe = std::make_unique<PaintProbe>(view);
    std::unique_ptr<TickProbe> ticks;
    if (!label.empty()) {
        store.WriteString("AVI", "Codec", label);
        store.WriteInt("AVI", "FPS", options.fps);
        StartRecording(view, runtime + "/stream.avi");
        if (view.RecordState() != velarix::kRecordRunning) return result;
        ticks = std::make_unique<TickProbe>(*RecordTimer(view));
    }
    RunFor(1000);  // warm-up

    probe->recording = true;
    const std::int64_t cpu0 = CpuMicros();
    const std::int64_t wall0 = SteadyMicros();
    RunFor(options.seconds * 1000);
    const std::int64_t cpu1 = CpuMicros();
    const std::int64_t wall1 = SteadyMicros();
    probe->recording = false;
    if (ticks) {
        result.longestTickMs = ticks->longestMs;
        result.tickP99 = Percentile(ticks->times, 99);
        result.tickP50 = Percentile(ticks->times, 50);
        result.longestTickCpuMs = ticks->longestCpuMs;
        result.ticks = ticks->ticks;
        ticks.reset();
        view.StopRecording();
    }
    const std::vector<PaintProbe::Paint> paints = probe->paints;
    // The probe goes before the view it watches.
    probe.reset();
    frame.reset();
    sim.Stop();

    const Simulator::WireTimes wire = sim.ReadLog();
    result.fromStart = Measure(paints, wire.writeStart);
    result.fromDone = Measure(paints, wire.writeDone);
    const double wall = double(wall1 - wall0);
    result.cpu = 100.0 * double(cpu1 - cpu0) / wall;
    std::printf("frames painted:        %zu in %d s (%.1f per second), %zu matched to writes%s\n",
                paints.size(), options.seconds, double(paints.size()) * 1e6 / wall,
                result.fromStart.count, label.empty() ? "" : ", recording");
    result.ok = true;
    return result;
}

struct StartTimes {
    std::vector<double> firstFrameMs;  // OK -> the first frame in the file
    std::vector<double> blockedMs;     // OK -> the start command returned to the event loop
};

// `starts` starts one after the other with the compressor `label` (empty:
// the first listed), the first at once: with the list still being made, as
// shortly after the program started.
StartTimes MeasureStarts(const Options& options, const QString& runtime, const std::string& label,
                         int starts) {
    StartTimes times;
    Simulator sim(options.sim, runtime, {"--static", "--quiet"});
    if (!sim.WaitReady()) return times;
    auto backend = std::make_shared<velarix::MemorySettingsBackend>();
    const velarix::SettingsStore store(backend);
    store.WriteInt("AVI", "FPS", options.fps);
    store.WriteString("AVI", "Codec", label);
    auto frame = OpenAndConnect(backend, {velarix::cmd::kColor4096});
    if (!frame) return times;
    CChildView& view = *frame->View();
    TimedWriter writer(store);
    view.UseRecordWriter(&writer);
    for (int start = 0; start < starts; ++start) {
        std::int64_t ok = 0;
        StartRecording(view, runtime + QString("/first%1.avi").arg(start), &ok);
        const std::int64_t returned = SteadyMicros();
        if (view.RecordState() != velarix::kRecordRunning) break;
        const bool written = RunUntil([&] { return writer.FirstFrameMicros() != 0; }, 5000);
        view.StopRecording();
        if (!written) break;
        times.firstFrameMs.push_back(double(writer.FirstFrameMicros() - ok) / 1000.0);
        times.blockedMs.push_back(double(returned - ok) / 1000.0);
    }
    view.UseRecordWriter(nullptr);
    return times;
}

void PrintStarts(const char* what, const StartTimes& t) {
    if (t.firstFrameMs.empty()) {
        std::printf("OK -> first frame (%s): no frame written\n", what);
        return;
    }
    std::printf(
        "OK -> first frame (%s): median %.1f ms of %zu starts, first start %.1f ms, longest "
        "%.1f ms  (target: median <= 100 ms)\n",
        what, Percentile(t.firstFrameMs, 50), t.firstFrameMs.size(), t.firstFrameMs.front(),
        *std::max_element(t.firstFrameMs.begin(), t.firstFrameMs.end()));
    std::printf(
        "  GUI thread inside the start (opening the file): median %.1f ms, longest %.1f ms\n",
        Percentile(t.blockedMs, 50), *std::max_element(t.blockedMs.begin(), t.blockedMs.end()));
}

// 20 s at 10 fps while two processes keep the cores busy; the screen changes
// every 0.73 s. Prints the periods recorded and how far each change landed
// from its time.
void RecordUnderLoad(const Options& options, const QString& runtime, const std::string& label) {
    constexpr int kFps = 10;
    constexpr int kSeconds = 20;
    Simulator sim(options.sim, runtime, {"--static", "--quiet"});
    if (!sim.WaitReady()) return;
    auto backend = std::make_shared<velarix::MemorySettingsBackend>();
    const velarix::SettingsStore store(backend);
    store.WriteString("AVI", "Codec", label);
    store.WriteInt("AVI", "FPS", kFps);
    auto frame = OpenAndConnect(backend, {velarix::cmd::kColor4096});
    if (!frame) return;
    CChildView& view = *frame->View();
    TimedWriter writer(store);
    view.UseRecordWriter(&writer);

    std::vector<std::unique_ptr<QProcess>> burners;
    for (int i = 0; i < 2; ++i) {
        burners.push_back(std::make_unique<QProcess>());
        burners.back()->start("sh", {"-c", "while :; do :; done"});
    }
    RunFor(500);
    StartRecording(view, runtime + "/load.avi");
    const std::int64_t start = SteadyMicros();
    std::vector<std::int64_t> changes;  // µs after the start, change k at index k - 1
    while (SteadyMicros() - start < kSeconds * 1000000LL) {
        RunFor(730);
        if (SteadyMicros() - start >= kSeconds * 1000000LL) break;
        changes.push_back(SteadyMicros() - start);
        view.Core().ScreenPixels()[0] = static_cast<std::uint32_t>(changes.size());
        view.Core().RepaintLines(0, 0, 1, 1);
    }
    const double seconds = double(SteadyMicros() - start) / 1e6;
    view.StopRecording();
    for (auto& burner : burners) {
        burner->kill();
        burner->waitForFinished(5000);
    }
    double worst = 0;
    std::size_t found = 0;
    for (const TimedWriter::Written& w : writer.TakeFrames()) {
        if (w.firstPixel == 0 || w.firstPixel > changes.size()) continue;
        const double due = double(changes[w.firstPixel - 1]) * kFps / 1e6;
        worst = std::max(worst, std::abs(double(w.position) - due));
        ++found;
    }
    std::printf(
        "recording under load:  %d periods in %.2f s at %d fps (target %.0f +- 1); %zu of %zu "
        "changes, furthest %.2f periods from its time (target <= 1)\n",
        writer.FrameCount(), seconds, kFps, seconds * kFps, found, changes.size(), worst);
    view.UseRecordWriter(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    if (!ParseArgs(QCoreApplication::arguments(), options)) return 2;

    QTemporaryDir runtime;
    if (!runtime.isValid()) {
        std::fprintf(stderr, "cannot create a runtime directory\n");
        return 1;
    }
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));

    std::printf(
        "velarix_latency_bench: 4096 colours, zlib, 40 Hz, full-screen frames over loopback\n");

    if (!options.record.isEmpty()) {
        // As the program does at start-up.
        velarix::CodecTable::Instance().StartEnumeration(velarix::CodecTable::Priority::Low);
        PrintStarts("first listed, list being made",
                    MeasureStarts(options, runtime.path(), {}, 10));
    }

    // --- Streaming
    const StreamResult plain = Stream(options, runtime.path(), {});
    if (!plain.ok) return 1;
    const Latency fromStart = plain.fromStart;
    const Latency fromDone = plain.fromDone;
    const double streamingCpu = plain.cpu;

    StreamResult recording;
    std::string label;
    if (!options.record.isEmpty()) {
        label = WaitForLabel(options.record);
        if (label.empty()) {
            std::fprintf(stderr, "%s is not a listed compressor\n", qPrintable(options.record));
            return 1;
        }
        PrintStarts(qPrintable(options.record), MeasureStarts(options, runtime.path(), label, 10));
        recording = Stream(options, runtime.path(), label);
        if (!recording.ok) return 1;
    }

    // --- Connected and idle
    double idleCpu = 0;
    {
        Simulator sim(options.sim, runtime.path(), {"--static", "--quiet"});
        if (!sim.WaitReady()) {
            std::fprintf(stderr, "the simulator did not start: %s\n", qPrintable(options.sim));
            return 1;
        }
        auto backend = std::make_shared<velarix::MemorySettingsBackend>();
        auto frame = OpenAndConnect(backend, {velarix::cmd::kColor4096, velarix::cmd::kRate40Hz});
        if (!frame) {
            std::fprintf(stderr, "no connection to the simulator\n");
            return 1;
        }
        RunFor(1000);  // the first screen and the frame's own timers settle
        const std::int64_t cpu0 = CpuMicros();
        const std::int64_t wall0 = SteadyMicros();
        RunFor(options.idleSeconds * 1000);
        idleCpu = 100.0 * double(CpuMicros() - cpu0) / double(SteadyMicros() - wall0);
    }

    std::printf(
        "write -> painted:      p50 %.3f ms, p99 %.3f ms, max %.3f ms  (target: p99 < 5 ms)\n",
        fromStart.p50, fromStart.p99, fromStart.max);
    std::printf("  from the write's end: p50 %.3f ms, p99 %.3f ms, max %.3f ms\n", fromDone.p50,
                fromDone.p99, fromDone.max);
    std::printf("CPU while streaming:   %.2f %% of one core  (target: < 10 %%)\n", streamingCpu);
    std::printf("CPU connected, idle:   %.2f %% of one core  (target: < 1 %%)\n", idleCpu);
    if (!options.record.isEmpty()) {
        std::printf(
            "recording %s at %d fps: write -> painted p50 %.3f ms, p99 %.3f ms, max %.3f ms; "
            "p99 %.2fx the run without  (target: <= 1.5x)\n",
            qPrintable(options.record), options.fps, recording.fromStart.p50,
            recording.fromStart.p99, recording.fromStart.max,
            fromStart.p99 > 0 ? recording.fromStart.p99 / fromStart.p99 : 0.0);
        std::printf(
            "  GUI thread in a recording tick: p50 %.3f ms, p99 %.3f ms, longest %.3f ms over %zu "
            "ticks  (target: no stall over 5 ms)\n",
            recording.tickP50, recording.tickP99, recording.longestTickMs, recording.ticks);
        std::printf("  GUI thread's own CPU time in a tick: longest %.3f ms\n",
                    recording.longestTickCpuMs);
        std::printf("  CPU while streaming and recording: %.2f %% of one core\n", recording.cpu);
        if (options.recordLoad) RecordUnderLoad(options, runtime.path(), label);
    }
    return fromStart.count > 0 ? 0 : 1;
}
