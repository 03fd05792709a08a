#include "chat/markdown/MarkdownDocument.h"

#include "platform/url/UrlOpener.h"

#include <QHash>
#include <QTextDocumentFragment>
#include <QUrl>
#include <QVariantMap>

#include <md4c.h>

#include <algorithm>
#include <cstdint>
#include <optional>

namespace nimbo::markdown {
namespace {

bool isCut(const Inline& text) { return text.plain.size() > maxBlockCharacters; }

// Adds `text` to both readings of a block, up to maxBlockCharacters and then "…". The rich
// one gets every character escaped and runs of spaces kept; a line break is <br> there and
// U+2028 in the plain one, which is what <br> lays out as, so positions in both agree and
// the bubble can measure the lines of the plain one.
void addText(Inline& into, QStringView text, bool& lastSpace) {
    if (isCut(into)) return;
    const qsizetype room = maxBlockCharacters - into.plain.size();
    for (const QChar c : text.left(room)) {
        const bool isBreak = c == QLatin1Char('\n') || c == QChar::LineSeparator;
        const bool isSpace = c == QLatin1Char(' ') || c == QLatin1Char('\t');
        into.plain += isBreak ? QChar(QChar::LineSeparator) : c;
        if (isBreak) into.rich += QLatin1String("<br>");
        else if (isSpace) into.rich += lastSpace ? QLatin1String("&nbsp;") : QLatin1String(" ");
        else if (c == QLatin1Char('<')) into.rich += QLatin1String("&lt;");
        else if (c == QLatin1Char('>')) into.rich += QLatin1String("&gt;");
        else if (c == QLatin1Char('&')) into.rich += QLatin1String("&amp;");
        else if (c == QLatin1Char('"')) into.rich += QLatin1String("&quot;");
        else if (c == QLatin1Char('\'')) into.rich += QLatin1String("&#39;");
        else into.rich += c;
        lastSpace = isSpace || isBreak;
    }
    if (text.size() > room) {
        into.plain += QChar(0x2026);
        into.rich += QChar(0x2026);
    }
}

Block plainBlock(QStringView text) {
    Block block;
    bool lastSpace = true;
    addText(block.text, text, lastSpace);
    return block;
}

const QString kLinkOpen = QStringLiteral("<a href=\"#%1\"><span style=\"color:#D4A34A;text-decoration:underline\">");
const QString kLinkClose = QStringLiteral("</span></a>");
const QString kCodeOpen = QStringLiteral("<code style=\"background-color:#3A3A3C\">");

// An entity md4c recognised ("&amp;", "&#60;", "&copy;") as the character(s) it names.
QString decodeEntity(const QString& entity) {
    thread_local QHash<QString, QString> known;
    auto found = known.constFind(entity);
    if (found != known.constEnd()) return *found;
    // md4c hands over only the syntax of an entity, so the fragment holds nothing else.
    const QString text = QTextDocumentFragment::fromHtml(entity).toPlainText();
    return known.insert(entity, text.isEmpty() ? entity : text).value();
}

QString attributeText(const MD_ATTRIBUTE& attribute) {
    QString text;
    if (attribute.size == 0 || !attribute.text || !attribute.substr_offsets) return text;
    for (int i = 0; attribute.substr_offsets[i] < attribute.size; ++i) {
        const MD_OFFSET begin = attribute.substr_offsets[i];
        const QString part = QString::fromUtf8(attribute.text + begin, attribute.substr_offsets[i + 1] - begin);
        switch (attribute.substr_types[i]) {
        case MD_TEXT_ENTITY: text += decodeEntity(part); break;
        case MD_TEXT_NULLCHAR: text += QChar(0xFFFD); break;
        default: text += part;
        }
    }
    return text;
}

// What the question before opening names: the host, or the address written to.
std::optional<QString> linkHost(const QString& target) {
    if (!platform::isOpenableLink(target)) return std::nullopt;
    const QUrl url(target, QUrl::StrictMode);
    return url.scheme().compare(QLatin1String("mailto"), Qt::CaseInsensitive) == 0 ? url.path()
                                                                                  : url.host(QUrl::FullyEncoded);
}

struct Container {
    MD_BLOCKTYPE type;
    unsigned number = 1;    // list: the next item's number
    bool ordered = false;
    QChar delimiter{};
    bool started = false;   // item: its first block was drawn
    QString marker{};
    Check check = Check::None;
};

class Builder {
public:
    explicit Builder(const QByteArray& source) : source_(source) {}

    Document finish() {
        closeText();
        if (restOffset_) document_.blocks.push_back(plainBlock(QString::fromUtf8(source_.mid(*restOffset_))));
        return std::move(document_);
    }

    int enterBlock(MD_BLOCKTYPE type, void* detail) {
        if (restOffset_) return 1;
        switch (type) {
        case MD_BLOCK_DOC: case MD_BLOCK_THEAD: case MD_BLOCK_TBODY: return 0;
        case MD_BLOCK_LI: return enterItem(*static_cast<MD_BLOCK_LI_DETAIL*>(detail)), 0;
        case MD_BLOCK_P: case MD_BLOCK_HTML: return openText(BlockKind::Paragraph), 0;
        case MD_BLOCK_TR:
            if (table_ && table_->rows.size() < maxTableRows) table_->rows.emplace_back();
            else rowDropped_ = true;
            return 0;
        case MD_BLOCK_TH: case MD_BLOCK_TD: return enterCell(), 0;
        default: break;
        }
        closeText();
        startItem();
        closeText();  // an item that opens with this block keeps its marker on a line of its own
        switch (type) {
        case MD_BLOCK_QUOTE: containers_.push_back({type}); ++quotes_; break;
        case MD_BLOCK_UL: containers_.push_back({type}); ++lists_; break;
        case MD_BLOCK_OL: {
            const auto& ol = *static_cast<MD_BLOCK_OL_DETAIL*>(detail);
            containers_.push_back({type, ol.start, true, QChar::fromLatin1(ol.mark_delimiter)});
            ++lists_;
            break;
        }
        case MD_BLOCK_HR: addBlock(placed(BlockKind::Rule)); break;
        case MD_BLOCK_H:
            openText(BlockKind::Heading);
            if (open_) open_->level = static_cast<int>(static_cast<MD_BLOCK_H_DETAIL*>(detail)->level);
            break;
        case MD_BLOCK_CODE:
            code_ = placed(BlockKind::Code);
            code_->language = attributeText(static_cast<MD_BLOCK_CODE_DETAIL*>(detail)->info);
            break;
        case MD_BLOCK_TABLE: table_ = placed(BlockKind::Table); break;
        default: break;
        }
        return 0;
    }

    int leaveBlock(MD_BLOCKTYPE type) {
        if (restOffset_) return 1;
        switch (type) {
        case MD_BLOCK_QUOTE: containers_.pop_back(); --quotes_; break;
        case MD_BLOCK_UL: case MD_BLOCK_OL: containers_.pop_back(); --lists_; break;
        case MD_BLOCK_LI: closeText(); startItem(); containers_.pop_back(); break;
        case MD_BLOCK_P: case MD_BLOCK_H: case MD_BLOCK_HTML: closeText(); break;
        case MD_BLOCK_CODE:
            if (code_->code.endsWith(QLatin1Char('\n'))) code_->code.chop(1);
            addBlock(std::move(*code_));
            code_.reset();
            break;
        case MD_BLOCK_TABLE: addBlock(std::move(*table_)); table_.reset(); break;
        case MD_BLOCK_TR: rowDropped_ = false; break;
        case MD_BLOCK_TH: case MD_BLOCK_TD: cell_ = nullptr; break;
        default: break;
        }
        return 0;
    }

    // Spans nest, and the ones entered before a block's text was cut are the outer ones:
    // they are closed as they were opened, and the depth of links is kept either way.
    int enterSpan(MD_SPANTYPE type, void* detail) {
        if (restOffset_) return 1;
        Inline* into = textTarget();
        ++spanDepth_;
        if (type == MD_SPAN_A || type == MD_SPAN_IMG) ++linkDepth_;
        if (!into || isCut(*into)) return 0;
        openSpans_ = spanDepth_;
        switch (type) {
        case MD_SPAN_EM: into->rich += QLatin1String("<i>"); break;
        case MD_SPAN_STRONG: into->rich += QLatin1String("<b>"); break;
        case MD_SPAN_DEL: into->rich += QLatin1String("<s>"); break;
        case MD_SPAN_CODE: into->rich += kCodeOpen; break;
        case MD_SPAN_A: enterLink(*into, attributeText(static_cast<MD_SPAN_A_DETAIL*>(detail)->href)); break;
        case MD_SPAN_IMG: enterLink(*into, attributeText(static_cast<MD_SPAN_IMG_DETAIL*>(detail)->src)); break;
        default: break;
        }
        return 0;
    }

    int leaveSpan(MD_SPANTYPE type) {
        if (restOffset_) return 1;
        Inline* into = target();
        const bool isOpen = spanDepth_ <= openSpans_;
        openSpans_ = std::min(openSpans_, --spanDepth_);
        if (type == MD_SPAN_A || type == MD_SPAN_IMG) --linkDepth_;
        if (!isOpen || !into) return 0;
        switch (type) {
        case MD_SPAN_EM: into->rich += QLatin1String("</i>"); break;
        case MD_SPAN_STRONG: into->rich += QLatin1String("</b>"); break;
        case MD_SPAN_DEL: into->rich += QLatin1String("</s>"); break;
        case MD_SPAN_CODE: into->rich += QLatin1String("</code>"); break;
        case MD_SPAN_A: leaveLink(*into, false); break;
        case MD_SPAN_IMG: leaveLink(*into, true); break;
        default: break;
        }
        return 0;
    }

    int text(MD_TEXTTYPE type, const MD_CHAR* text, MD_SIZE size) {
        if (restOffset_) return 1;
        if (isFull_ || document_.blocks.size() >= maxBlocks) {  // the rest of the reply becomes one plain paragraph
            // from the first text not drawn. Line breaks, code indents and NUL characters come
            // from md4c's own strings, not from the reply, so they cannot mark where it is.
            const std::uintptr_t offset =
                reinterpret_cast<std::uintptr_t>(text) - reinterpret_cast<std::uintptr_t>(source_.constData());
            if (offset > static_cast<std::uintptr_t>(source_.size())) return 0;
            restOffset_ = static_cast<qsizetype>(offset);
            return 1;  // (md4c does not stop at every callback's request, so later calls are ignored too)
        }
        const QString part = QString::fromUtf8(text, size);
        if (code_) {
            code_->code += type == MD_TEXT_NULLCHAR ? QString(QChar(0xFFFD)) : part;
            return 0;
        }
        Inline* into = textTarget();
        if (!into) return 0;
        switch (type) {
        // A chat reply's single line breaks are kept, as people write them.
        case MD_TEXT_BR: case MD_TEXT_SOFTBR: addText(*into, u"\n", lastSpace_); break;
        case MD_TEXT_NULLCHAR: addText(*into, u"\uFFFD", lastSpace_); break;
        case MD_TEXT_ENTITY: addText(*into, decodeEntity(part), lastSpace_); break;
        default: addText(*into, part, lastSpace_); break;
        }
        return 0;
    }

private:
    // A new block at the current depth of lists and quotes.
    Block placed(BlockKind kind) const {
        Block block;
        block.kind = kind;
        block.indent = std::min(lists_, maxNesting);
        block.quoteLevel = std::min(quotes_, maxNesting);
        return block;
    }

    void addBlock(Block block) {
        if (document_.blocks.size() < maxBlocks) document_.blocks.push_back(std::move(block));
        else isFull_ = true;
    }

    void enterItem(const MD_BLOCK_LI_DETAIL& item) {
        closeText();
        startItem();
        Container& list = containers_.back();
        Container entry{MD_BLOCK_LI};
        if (item.is_task) entry.check = item.task_mark == ' ' ? Check::Open : Check::Done;
        else entry.marker = list.ordered ? QString::number(list.number++) + list.delimiter : QStringLiteral("\u2022");
        containers_.push_back(std::move(entry));
    }

    // The first block inside a list item carries the item's marker.
    void startItem() {
        if (containers_.empty() || containers_.back().type != MD_BLOCK_LI || containers_.back().started) return;
        Container& item = containers_.back();
        item.started = true;
        Block block = placed(BlockKind::ListItem);
        block.indent = std::min(lists_ - 1, maxNesting);
        block.marker = item.marker;
        block.check = item.check;
        open_ = std::move(block);
        lastSpace_ = true;
    }

    void openText(BlockKind kind) {
        closeText();
        startItem();
        if (open_) return;  // the item's own text
        open_ = placed(kind == BlockKind::Paragraph && quotes_ > 0 ? BlockKind::Quote : kind);
        lastSpace_ = true;
    }

    void closeText() {
        if (!open_) return;
        addBlock(std::move(*open_));
        open_.reset();
    }

    void enterCell() {
        cell_ = nullptr;
        if (!table_ || rowDropped_ || table_->rows.back().size() >= maxTableColumns) return;
        cell_ = &table_->rows.back().emplace_back();
        lastSpace_ = true;
    }

    Inline* target() {
        if (table_) return cell_;
        return open_ ? &open_->text : nullptr;
    }

    // Where inline text goes, opening a paragraph (or a tight list item's text) when none is.
    Inline* textTarget() {
        if (!cell_ && !open_ && !table_) openText(BlockKind::Paragraph);
        return target();
    }

    void enterLink(Inline& into, const QString& url) {
        if (linkDepth_ > 1) return;  // a link inside a link's text is only text
        linkStart_ = into.plain.size();
        pending_.reset();
        if (const auto host = linkHost(url)) {
            pending_ = Link{url, *host, {}, static_cast<int>(linkStart_), 0};
            into.rich += kLinkOpen.arg(into.links.size());
        }
    }

    void leaveLink(Inline& into, bool isImage) {
        if (linkDepth_ > 0) return;
        if (isImage && into.plain.size() == linkStart_) addText(into, u"image", lastSpace_);
        if (!pending_) return;
        pending_->end = static_cast<int>(into.plain.size());
        pending_->text = into.plain.mid(linkStart_);
        into.rich += kLinkClose;
        into.links.push_back(std::move(*pending_));
        pending_.reset();
    }

    const QByteArray& source_;
    Document document_;
    std::vector<Container> containers_;
    int lists_ = 0;
    int quotes_ = 0;
    std::optional<Block> open_;   // the paragraph, heading or item text being filled
    std::optional<Block> code_;
    std::optional<Block> table_;
    Inline* cell_ = nullptr;
    bool rowDropped_ = false;
    bool lastSpace_ = true;
    int spanDepth_ = 0;
    int openSpans_ = 0;  // how many of the outer spans were opened in the text
    int linkDepth_ = 0;
    qsizetype linkStart_ = 0;
    std::optional<Link> pending_;
    bool isFull_ = false;
    std::optional<qsizetype> restOffset_;
};

Builder& self(void* data) { return *static_cast<Builder*>(data); }

}  // namespace

Document parse(const QString& markdown) {
    const QByteArray source = markdown.toUtf8();
    Builder builder(source);
    MD_PARSER parser{};
    parser.flags = MD_FLAG_TABLES | MD_FLAG_STRIKETHROUGH | MD_FLAG_TASKLISTS | MD_FLAG_PERMISSIVEAUTOLINKS |
                   MD_FLAG_NOHTML;
    parser.enter_block = [](MD_BLOCKTYPE t, void* d, void* u) { return self(u).enterBlock(t, d); };
    parser.leave_block = [](MD_BLOCKTYPE t, void*, void* u) { return self(u).leaveBlock(t); };
    parser.enter_span = [](MD_SPANTYPE t, void* d, void* u) { return self(u).enterSpan(t, d); };
    parser.leave_span = [](MD_SPANTYPE t, void*, void* u) { return self(u).leaveSpan(t); };
    parser.text = [](MD_TEXTTYPE t, const MD_CHAR* s, MD_SIZE n, void* u) { return self(u).text(t, s, n); };
    md_parse(source.constData(), static_cast<MD_SIZE>(source.size()), &parser, &builder);
    return builder.finish();
}

Document preview(const QString& markdown) {
    Document document;
    document.blocks.push_back(plainBlock(markdown.left(2000)));
    return document;
}

QString plainReading(const Document& document) {
    QStringList lines;
    for (const Block& block : document.blocks) {
        switch (block.kind) {
        case BlockKind::Rule: break;
        case BlockKind::Code: lines << block.code; break;
        case BlockKind::Table:
            for (const auto& row : block.rows) {
                QStringList cells;
                for (const Inline& cell : row) cells << cell.plain;
                lines << cells.join(QStringLiteral(", "));
            }
            break;
        case BlockKind::ListItem: {
            const QString mark = block.check == Check::Open   ? QStringLiteral("\u2610")
                                 : block.check == Check::Done ? QStringLiteral("\u2611")
                                                              : block.marker;
            lines << mark + QLatin1Char(' ') + block.text.plain;
            break;
        }
        default: lines << block.text.plain;
        }
    }
    return lines.join(QLatin1Char('\n'));
}

namespace {
QVariantMap toVariant(const Inline& text) {
    QVariantList links;
    for (const Link& link : text.links)
        links << QVariantMap{{"url", link.url}, {"host", link.host}, {"text", link.text}, {"start", link.start},
                             {"end", link.end}};
    return {{"rich", text.rich}, {"plain", text.plain}, {"links", links}};
}

const char* kindName(BlockKind kind) {
    switch (kind) {
    case BlockKind::Paragraph: return "paragraph";
    case BlockKind::Heading: return "heading";
    case BlockKind::ListItem: return "item";
    case BlockKind::Quote: return "quote";
    case BlockKind::Code: return "code";
    case BlockKind::Table: return "table";
    case BlockKind::Rule: return "rule";
    }
    return "paragraph";
}
}  // namespace

QVariantList toVariant(const Document& document) {
    QVariantList blocks;
    blocks.reserve(static_cast<qsizetype>(document.blocks.size()));
    for (const Block& block : document.blocks) {
        QVariantMap map = toVariant(block.text);
        map.insert({{"kind", kindName(block.kind)}, {"level", block.level}, {"indent", block.indent},
                    {"quoteLevel", block.quoteLevel}, {"marker", block.marker},
                    {"check", static_cast<int>(block.check)}, {"code", block.code}, {"language", block.language}});
        QVariantList rows;
        for (const auto& row : block.rows) {
            QVariantList cells;
            for (const Inline& cell : row) cells << toVariant(cell);
            rows << QVariant(cells);
        }
        map.insert("rows", rows);
        blocks << map;
    }
    return blocks;
}

}  // namespace nimbo::markdown
