// Figures of the chat screen:
//  1. a transcript of 10,000 entries: appending one more and building the history
//     (median, without and with the screen showing the transcript), and how many
//     message delegates the list keeps built;
//  2. the longest UI-thread stall while 20 chat requests are in flight against a
//     scripted server that answers after 2 s.
#include "app/ImportQmlModules.h"

#include "ScriptedServer.h"
#include "api/ServiceEndpoints.h"
#include "chat/ChatViewModel.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace nimbo;
using namespace std::chrono_literals;

namespace {

constexpr int kEntries = 10'000;
constexpr int kSamples = 200;
constexpr int kRequests = 20;

const char* kScreen = R"(
import QtQuick
import QtQuick.Controls
import Nimbo.Chat
StackView { initialItem: ChatView {} }
)";

void spin(std::chrono::milliseconds duration) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < duration.count()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void fill(ChatMessageModel& model, int count) {
    for (int i = 0; i < count; ++i)
        model.append(ChatMessage(i % 2 ? QStringLiteral("assistant") : QStringLiteral("user"),
                                 QStringLiteral("Entry %1 of the long transcript, with a few words in it.").arg(i)));
}

// Median microseconds of appending one entry and building the history of the next request.
double medianAppendAndHistoryUs(ChatMessageModel& model) {
    std::vector<double> samples;
    QElapsedTimer timer;
    for (int i = 0; i < kSamples; ++i) {
        timer.start();
        model.append(ChatMessage(QStringLiteral("user"), QStringLiteral("One more message")));
        const auto history = model.historyBeforeLast(ChatViewModel::maxHistoryTurns);
        samples.push_back(static_cast<double>(timer.nsecsElapsed()) / 1000.0);
        if (history.size() != ChatViewModel::maxHistoryTurns) std::abort();
    }
    std::nth_element(samples.begin(), samples.begin() + kSamples / 2, samples.end());
    return samples[kSamples / 2];
}

struct Screen {
    QQmlEngine engine;
    QQuickWindow window;
    std::unique_ptr<QObject> root;
    ChatViewModel* viewModel = nullptr;
    QQuickItem* list = nullptr;

    Screen() {
        window.resize(390, 844);
        QQmlComponent component(&engine);
        component.setData(kScreen, QUrl(QStringLiteral("qrc:/bench/Screen.qml")));
        root.reset(component.create());
        auto* item = qobject_cast<QQuickItem*>(root.get());
        if (!item) {
            std::fprintf(stdout, "screen did not load: %s\n", qPrintable(component.errorString()));
            std::exit(1);
        }
        item->setParentItem(window.contentItem());
        item->setSize(QSizeF(390, 844));
        window.show();
        spin(200ms);
        QObject* chat = item->findChild<QObject*>(QStringLiteral("chatView"));
        viewModel = qobject_cast<ChatViewModel*>(chat->property("viewModel").value<QObject*>());
        list = item->findChild<QQuickItem*>(QStringLiteral("transcript"));
    }

    // The message rows the list has built (delegates are children in the visual tree only).
    std::vector<QQuickItem*> builtRows() const {
        std::vector<QQuickItem*> rows;
        for (QQuickItem* child : list->property("contentItem").value<QQuickItem*>()->childItems())
            if (child->objectName() == QLatin1String("messageRow") && child->isVisible()) rows.push_back(child);
        return rows;
    }
    int rowsInView() const {
        int visible = 0;
        for (QQuickItem* row : builtRows()) {
            const qreal top = row->mapToItem(list, QPointF()).y();
            if (top + row->height() > 0 && top < list->height()) ++visible;
        }
        return visible;
    }
};

void transcriptFigures() {
    ChatMessageModel bare;
    fill(bare, kEntries);
    std::printf("append one + build history, %d entries, model only:   median %.1f us\n", kEntries,
                medianAppendAndHistoryUs(bare));

    Screen screen;
    fill(*screen.viewModel->messages(), kEntries);
    spin(500ms);
    std::printf("append one + build history, %d entries, screen shown:  median %.1f us\n", kEntries,
                medianAppendAndHistoryUs(*screen.viewModel->messages()));
    spin(500ms);
    std::printf("message delegates built for %d entries: %zu (rows in view: %d)\n",
                screen.viewModel->messages()->rowCount(), screen.builtRows().size(), screen.rowsInView());
}

// Records the longest gap between ticks of a 1 ms timer on the UI thread.
class StallMeter {
public:
    StallMeter() {
        ticker_.setTimerType(Qt::PreciseTimer);
        ticker_.setInterval(1);
        QObject::connect(&ticker_, &QTimer::timeout, [this] { tick(); });
        clock_.start();
        ticker_.start();
    }
    // Ends the current period and returns its longest stall in milliseconds.
    double lap() {
        tick();
        const double longest = static_cast<double>(longest_) / 1e6;
        longest_ = 0;
        return longest;
    }

private:
    void tick() {
        const qint64 now = clock_.nsecsElapsed();
        longest_ = std::max(longest_, now - last_);
        last_ = now;
    }
    QElapsedTimer clock_;
    QTimer ticker_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
};

void stallFigures(test::ScriptedServer& production) {
    production.on("POST", "/api/chat/orc",
                  test::ScriptedResponse{200, R"({"reply":"Answered after two seconds.","conversationId":"c-1"})",
                                         "application/json", {}, 2s});
    Screen screen;
    spin(300ms);
    ChatViewModel& vm = *screen.viewModel;
    const int expected = vm.messages()->rowCount() + 2 * kRequests;

    QElapsedTimer clock;
    clock.start();
    StallMeter meter;
    for (int i = 0; i < kRequests; ++i) {
        vm.setInputText(QStringLiteral("Question number %1").arg(i + 1));
        vm.sendMessage();
    }
    spin(100ms);  // the 20 new rows are built and drawn
    const double burst = meter.lap();
    while (vm.messages()->rowCount() < expected && clock.elapsed() < 15'000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double inFlight = meter.lap();
    std::printf("%d chat requests (server answers after 2 s): %s after %lld ms\n", kRequests,
                vm.messages()->rowCount() >= expected ? "all answered" : "NOT all answered",
                static_cast<long long>(clock.elapsed()));
    std::printf("  longest UI-thread stall while in flight and answering: %.2f ms\n", inFlight);
    std::printf("  longest UI-thread stall of the send burst (20 rows built and drawn at once): %.2f ms\n", burst);
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir scratch;
    ::setenv("XDG_DATA_HOME", qPrintable(scratch.filePath("data")), 1);
    ::setenv("XDG_CONFIG_HOME", qPrintable(scratch.filePath("config")), 1);
    ::setenv("XDG_RUNTIME_DIR", qPrintable(scratch.path()), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("QT_QUICK_BACKEND", "software", 0);
    ::setenv("QT_QUICK_CONTROLS_STYLE", "Material", 0);
    ::setenv("QT_QUICK_CONTROLS_MATERIAL_THEME", "Dark", 0);
    test::ScriptedServer production;
    test::ScriptedServer testBase;
    api::ServiceEndpoints::overrideForProcess({{production.base(), testBase.base()}, production.base()});
    QGuiApplication app(argc, argv);

    transcriptFigures();
    stallFigures(production);
    return 0;
}
