#pragma once
// The drawn form of the transcript's Markdown entries, made once per entry and kept.
// A short reply is parsed where it is first asked for; a long one on a background
// worker, so a huge reply never holds up the window (its entry reads as not ready
// until then, and ready() tells when it is).

#include <QHash>
#include <QObject>
#include <QString>
#include <QUuid>
#include <QVariantList>

namespace nimbo::markdown {

struct Formatted {
    QVariantList blocks;  // toVariant() of the parse
    QString reading;      // plainReading() of the parse
    bool isReady = true;
};

class FormattedReplies : public QObject {
    Q_OBJECT
public:
    // Replies up to this many characters are parsed at once, longer ones on a worker.
    static constexpr qsizetype inlineLimit = 24 * 1024;

    using QObject::QObject;
    // The entry's drawn form; while a worker is still making it, a plain preview of
    // its start (isReady false).
    const Formatted* find(const QUuid& id, const QString& markdown);
    // Forgets every entry (the transcript was replaced); work still under way is dropped.
    void clear();

signals:
    void ready(const QUuid& id);

private:
    QHash<QUuid, Formatted> done_;
    QHash<QUuid, Formatted> pending_;  // the previews
};

Formatted format(const QString& markdown);

}  // namespace nimbo::markdown
