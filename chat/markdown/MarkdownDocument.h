#pragma once
// A reply's Markdown (CommonMark with tables, strikethrough, task lists and bare
// links, parsed by md4c) turned into a short list of typed blocks for the bubble to
// draw. Inline styling is carried as rich text this unit builds itself: every
// character of the reply is escaped, the only tags are the few written here, and
// links point at "#<index>" into the block's own list of links. Raw HTML stays the
// literal text it is, images become links, and only http, https and mailto targets
// become links at all.

#include <QString>
#include <QVariantList>

#include <cstddef>
#include <vector>

namespace nimbo::markdown {

enum class BlockKind { Paragraph, Heading, ListItem, Quote, Code, Table, Rule };
enum class Check { None, Open, Done };

// Past this many levels, nested lists and quotes are drawn at the last level.
inline constexpr int maxNesting = 6;
// Past this many blocks the rest of the reply is one plain paragraph.
inline constexpr std::size_t maxBlocks = 400;
// Cells of a table past these are dropped (the table's text stays in the reply's source).
inline constexpr std::size_t maxTableColumns = 24;
inline constexpr std::size_t maxTableRows = 200;
// Text of one block past this many characters is cut, with "…" (Copy reply copies it all).
inline constexpr qsizetype maxBlockCharacters = 8000;

struct Link {
    QString url;   // exactly the target, decoded
    QString host;  // what the question shows: the host name, or the mail address
    QString text;  // what the reader sees
    int start = 0; // position of the link's text in `plain`
    int end = 0;
};

// Styled text: our rich text beside the plain reading it draws.
struct Inline {
    QString rich;
    QString plain;
    std::vector<Link> links;
};

struct Block {
    BlockKind kind = BlockKind::Paragraph;
    int level = 0;       // heading level, 1 to 6
    int indent = 0;      // list levels around the block, capped at maxNesting
    int quoteLevel = 0;  // quotes around the block, capped at maxNesting
    QString marker;      // list item: "•" or "3." (empty for a task item)
    Check check = Check::None;
    Inline text;         // every kind but Code, Table and Rule
    QString code;        // Code: exactly the code
    QString language;    // Code: the info string
    std::vector<std::vector<Inline>> rows;  // Table: the header row first
};

struct Document {
    std::vector<Block> blocks;
};

Document parse(const QString& markdown);

// The start of `markdown` as one plain paragraph, shown while a long reply is parsed.
Document preview(const QString& markdown);

// The whole document as a screen reader reads it: no markup characters.
QString plainReading(const Document& document);

// The blocks as QML reads them: one map per block (kind, level, indent, quoteLevel,
// marker, check, rich, plain, links, code, language, rows).
QVariantList toVariant(const Document& document);

}  // namespace nimbo::markdown
