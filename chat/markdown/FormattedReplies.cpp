#include "chat/markdown/FormattedReplies.h"

#include "chat/markdown/MarkdownDocument.h"
#include "platform/async/Async.h"

namespace nimbo::markdown {

namespace {
Formatted formatted(const Document& document, bool isReady) {
    return {toVariant(document), plainReading(document), isReady};
}
}  // namespace

Formatted format(const QString& markdown) { return formatted(parse(markdown), true); }

const Formatted* FormattedReplies::find(const QUuid& id, const QString& markdown) {
    if (auto found = done_.constFind(id); found != done_.constEnd()) return &*found;
    if (markdown.size() <= inlineLimit) return &*done_.insert(id, format(markdown));
    if (auto found = pending_.constFind(id); found != pending_.constEnd()) return &*found;
    auto placed = pending_.insert(id, formatted(preview(markdown), false));
    runAsync(this, [markdown] { return format(markdown); }, [this, id](Outcome<Formatted> outcome) {
        if (!pending_.contains(id)) return;  // forgotten meanwhile
        // A reply that cannot be parsed (out of memory) keeps its preview.
        Formatted made = outcome.ok() ? std::move(outcome.value()) : pending_.value(id);
        made.isReady = true;
        pending_.remove(id);
        done_.insert(id, std::move(made));
        emit ready(id);
    });
    return &*placed;
}

void FormattedReplies::clear() {
    done_.clear();
    pending_.clear();
}

}  // namespace nimbo::markdown
