// Figures of the chat screen:
//  1. a transcript of 10,000 entries: appending one more and building the history
//     (median, without and with the screen showing the transcript), and how many
//     message delegates the list keeps built;
//  2. the longest UI-thread stall while 20 chat requests are in flight against a
//     scripted server that answers after 2 s.
#include "app/ImportQmlModules.h"

#include "ChatBenchSupport.h"
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
using namespace nimbo::bench;
using namespace std::chrono_literals;

namespace {

constexpr int kEntries = 10'000;
constexpr int kSamples = 200;
constexpr int kRequests = 20;

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
    useScratchAndOffscreen(scratch);
    test::ScriptedServer production;
    test::ScriptedServer testBase;
    api::ServiceEndpoints::overrideForProcess({{production.base(), testBase.base()}, production.base()});
    QGuiApplication app(argc, argv);

    transcriptFigures();
    stallFigures(production);
    return 0;
}
