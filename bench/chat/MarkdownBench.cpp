// Figures of formatted replies, in one run:
//  1. parsing: a 20 KB reply mixing every block kind; 100 KiB and 1 MiB (and their
//     ratio); adversarial input (10,000 nested quotes or list levels, 100,000 '*',
//     a 5,000-column table, a 200,000-character code line);
//  2. on the screen: a 20 KB reply from append to its first frame, as a ratio to the
//     same bytes drawn as one plain bubble; the longest UI-thread stall while each
//     large or adversarial reply is appended and drawn;
//  3. scrolling a transcript of 500 formatted replies: the longest frame.
#include "app/ImportQmlModules.h"

#include "ChatBenchSupport.h"
#include "chat/markdown/FormattedReplies.h"

#include <QGuiApplication>
#include <QString>

#include <cstring>

using namespace nimbo;
using namespace nimbo::bench;

namespace {

const QString kMixed = QStringLiteral(
    "## Section %1\n\nSome **bold**, *em*, ~~old~~, `code` and a [link](https://example.com/%1).\n\n"
    "1. first step\n2. second step\n   - nested\n   - [x] done\n\n> A quote with *style*.\n\n"
    "```cpp\nint main() { return %1; }\n```\n\n| a | b | c |\n|---|---|---|\n| 1 | 2 | 3 |\n\n---\n\n");

QString mixed(qsizetype bytes) {
    QString text;
    for (int i = 0; text.size() < bytes; ++i) text += kMixed.arg(i);
    return text;
}

double parseMs(const QString& markdown) {
    std::vector<double> samples;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        const markdown::Formatted formatted = markdown::format(markdown);
        samples.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (formatted.blocks.isEmpty()) std::abort();
    }
    return *std::min_element(samples.begin(), samples.end());  // the least disturbed by other work
}

struct Input {
    const char* name;
    QString text;
};

std::vector<Input> adversarial() {
    QString table = QStringLiteral("|") + QStringLiteral(" c |").repeated(5000) + "\n|" + QStringLiteral("---|").repeated(5000) +
                    "\n|" + QStringLiteral(" 1 |").repeated(5000) + "\n";
    const QString lists = QStringLiteral("- ").repeated(10'000) + "deep";
    return {{"1 MiB mixed", mixed(1 << 20)},
            {"10,000 nested '>'", QString(10'000, '>') + " deep"},
            {"10,000 nested list levels", lists},
            {"100,000 '*'", QString(100'000, '*')},
            {"5,000-column table", table},
            {"200,000-char code line", "```\n" + QString(200'000, 'x') + "\n```"}};
}

void parseFigures() {
    const double twenty = parseMs(mixed(20'000));
    std::printf("parse + blocks, 20 KB mixed reply: %.3f ms (%s the UI thread: inline up to %lld characters)\n", twenty,
                20'000 <= markdown::FormattedReplies::inlineLimit ? "on" : "off",
                static_cast<long long>(markdown::FormattedReplies::inlineLimit));
    const double small = parseMs(mixed(100 << 10));
    const double large = parseMs(mixed(1 << 20));
    std::printf("parse + blocks, 100 KiB: %.2f ms, 1 MiB: %.2f ms, ratio %.1fx (linear: 10x)\n", small, large, large / small);
    for (const Input& input : adversarial())
        std::printf("parse + blocks, %-26s %8.2f ms (%lld characters)\n", input.name, parseMs(input.text),
                    static_cast<long long>(input.text.size()));
}

// Milliseconds from appending `content` as `role` to the window's next frame.
double appendToFrameMs(const QString& role, const QString& content) {
    std::vector<double> samples;
    for (int i = 0; i < 5; ++i) {
        Screen screen;
        bool drawn = false;
        const auto connection = QObject::connect(&screen.window, &QQuickWindow::frameSwapped, [&] { drawn = true; });
        QElapsedTimer timer;
        timer.start();
        screen.viewModel->messages()->append(ChatMessage(role, content));
        while (!drawn) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        samples.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        QObject::disconnect(connection);
    }
    return *std::min_element(samples.begin(), samples.end());
}

void screenFigures() {
    const QString reply = mixed(20'000);
    const double formatted = appendToFrameMs(QStringLiteral("assistant"), reply);
    const double plain = appendToFrameMs(QStringLiteral("user"), reply);
    std::printf("20 KB reply, append to first frame: formatted %.1f ms, plain %.1f ms, ratio %.2fx (goal <= 3x)\n",
                formatted, plain, formatted / plain);
    for (const Input& input : adversarial()) {
        Screen screen;
        spin(200ms);
        StallMeter meter;
        screen.viewModel->messages()->append(ChatMessage(QStringLiteral("assistant"), input.text));
        spin(3s);  // parsed on a worker, then drawn
        std::printf("longest UI-thread stall, %-26s %8.1f ms\n", input.name, meter.lap());
    }
}

void scrollFigures() {
    Screen screen;
    ChatMessageModel& model = *screen.viewModel->messages();
    for (int i = 0; i < 500; ++i) model.append(ChatMessage(QStringLiteral("assistant"), kMixed.arg(i)));
    spin(500ms);
    screen.list->setProperty("followsEnd", false);  // as when the person scrolls
    QMetaObject::invokeMethod(screen.list, "positionViewAtBeginning");
    spin(200ms);
    double longest = 0;
    int frames = 0;
    int slow = 0;
    QElapsedTimer total;
    total.start();
    for (; frames < 600 && !screen.list->property("atYEnd").toBool(); ++frames) {
        bool drawn = false;
        const auto connection = QObject::connect(&screen.window, &QQuickWindow::frameSwapped, [&] { drawn = true; });
        QElapsedTimer timer;
        timer.start();
        // Moved from inside the event loop, as a wheel event or a flick's animation moves
        // it: rows scrolled away are then deleted as in the app (a deferred delete posted
        // outside every event would wait for an event loop that never runs here).
        QTimer::singleShot(0, screen.list, [&screen] {
            screen.list->setProperty("contentY", screen.list->property("contentY").toReal() + 120);
        });
        while (!drawn) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        longest = std::max(longest, ms);
        slow += ms > 16.0 ? 1 : 0;
        QObject::disconnect(connection);
    }
    double load[1] = {0};
    getloadavg(load, 1);
    std::printf("scrolling 500 formatted replies, 120 px a frame: %d frames, longest %.1f ms, mean %.1f ms, "
                "%d over 16 ms (load average %.2f)\n", frames, longest, static_cast<double>(total.elapsed()) / std::max(frames, 1),
                slow, load[0]);
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir scratch;
    useScratchAndOffscreen(scratch);
    QGuiApplication app(argc, argv);
    // "scroll" as the argument prints only the scrolling figures.
    const bool onlyScrolling = argc > 1 && std::strcmp(argv[1], "scroll") == 0;
    if (!onlyScrolling) {
        parseFigures();
        screenFigures();
    }
    scrollFigures();
    return 0;
}
