#include "chat/markdown/FormattedReplies.h"

#include "chat/markdown/MarkdownDocument.h"
#include "platform/async/Async.h"

namespace nimbo::markdown {

Formatted format(const QString& markdown) {
    const Document document = parse(markdown);
    return {toVariant(document), plainReading(document)};
}

const Formatted* FormattedReplies::find(const QUuid& id, const QString& markdown) {
    if (auto found = done_.constFind(id); found != done_.constEnd()) return &*found;
    if (markdown.size() <= inlineLimit) return &*done_.insert(id, format(markdown));
    if (!pending_.contains(id)) {
        pending_.insert(id);
        runAsync(this, [markdown] { return format(markdown); }, [this, id](Outcome<Formatted> outcome) {
            pending_.remove(id);
            done_.insert(id, outcome.ok() ? std::move(outcome.value()) : Formatted{});
            emit ready(id);
        });
    }
    return nullptr;
}

}  // namespace nimbo::markdown
