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
// Run on the offscreen platform:
//   QT_QPA_PLATFORM=offscreen build/bench/velarix_latency_bench [--seconds N]
//       [--idle-seconds M] [--sim PATH]
#include <sys/resource.h>
#include <sys/time.h>

#include <QApplication>
#include <QByteArray>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/CMainFrame.h"
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
        } else {
            std::fprintf(stderr,
                         "usage: velarix_latency_bench [--seconds N] [--idle-seconds M] "
                         "[--sim PATH]\n");
            return false;
        }
    }
    return true;
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

    // --- Streaming
    Latency fromStart;
    Latency fromDone;
    double streamingCpu = 0;
    {
        Simulator sim(options.sim, runtime.path(), {"--bench-fullscreen", "--timestamps"});
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
        auto probe = std::make_unique<PaintProbe>(*frame->View());
        RunFor(1000);  // warm-up

        probe->recording = true;
        const std::int64_t cpu0 = CpuMicros();
        const std::int64_t wall0 = SteadyMicros();
        RunFor(options.seconds * 1000);
        const std::int64_t cpu1 = CpuMicros();
        const std::int64_t wall1 = SteadyMicros();
        probe->recording = false;
        const std::vector<PaintProbe::Paint> paints = probe->paints;
        // The probe goes before the view it watches.
        probe.reset();
        frame.reset();
        sim.Stop();

        const Simulator::WireTimes wire = sim.ReadLog();
        fromStart = Measure(paints, wire.writeStart);
        fromDone = Measure(paints, wire.writeDone);
        const double wall = double(wall1 - wall0);
        streamingCpu = 100.0 * double(cpu1 - cpu0) / wall;
        std::printf("frames painted:        %zu in %d s (%.1f per second), %zu matched to writes\n",
                    paints.size(), options.seconds, double(paints.size()) * 1e6 / wall,
                    fromStart.count);
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
    return fromStart.count > 0 ? 0 : 1;
}
