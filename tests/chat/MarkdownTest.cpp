// Markdown of a reply → the typed blocks the bubble draws, as one table: every block
// and inline kind, raw HTML kept literal, refused link schemes, images that never
// load, escaping, and the caps on nesting and block count.
#include "chat/ChatMessageModel.h"
#include "chat/markdown/MarkdownDocument.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

using namespace nimbo;
using namespace nimbo::markdown;

namespace {

// One line per block: a short tag, then the rich text with our fixed tags shortened,
// then the links as {url>host}.
QString describe(const Inline& text) {
    QString rich = text.rich;
    for (std::size_t i = 0; i < text.links.size(); ++i)
        rich.replace(QStringLiteral("<a href=\"#%1\"><span style=\"color:#D4A34A;text-decoration:underline\">").arg(i),
                     QStringLiteral("<a#%1>").arg(i));
    rich.replace(QStringLiteral("</span></a>"), QStringLiteral("</a>"));
    rich.replace(QStringLiteral("<code style=\"background-color:#3A3A3C\">"), QStringLiteral("<code>"));
    for (const Link& link : text.links) rich += QStringLiteral(" {%1>%2}").arg(link.url, link.host);
    return rich;
}

QString describe(const Document& document) {
    QStringList lines;
    for (const Block& b : document.blocks) {
        const QString depth = QStringLiteral("%1.%2").arg(b.indent).arg(b.quoteLevel);
        switch (b.kind) {
        case BlockKind::Paragraph: lines << "P" + depth + "|" + describe(b.text); break;
        case BlockKind::Heading: lines << QStringLiteral("H%1|").arg(b.level) + describe(b.text); break;
        case BlockKind::Quote: lines << "Q" + depth + "|" + describe(b.text); break;
        case BlockKind::ListItem: {
            const QString mark = b.check == Check::Open ? "[ ]" : b.check == Check::Done ? "[x]" : b.marker;
            lines << "LI" + depth + " " + mark + "|" + describe(b.text);
            break;
        }
        case BlockKind::Code: lines << "CODE(" + b.language + ")|" + b.code; break;
        case BlockKind::Rule: lines << "HR"; break;
        case BlockKind::Table: {
            QStringList rows;
            for (const auto& row : b.rows) {
                QStringList cells;
                for (const Inline& cell : row) cells << describe(cell);
                rows << cells.join(',');
            }
            lines << "TABLE|" + rows.join(';');
        }
        }
    }
    return lines.join('\n');
}

TEST(Markdown, RepliesBecomeTypedBlocksOfEscapedRichText) {
    const struct { QString markdown, blocks; } cases[] = {
        // Inline kinds.
        {"Hi **bold** *em* ~~gone~~ `a<b`", "P0.0|Hi <b>bold</b> <i>em</i> <s>gone</s> <code>a&lt;b</code>"},
        {"a  \nb\nc   d", "P0.0|a<br>b<br>c &nbsp;&nbsp;d"},
        {"&copy; &#60;b&#62; &amp;", "P0.0|© &lt;b&gt; &amp;"},
        // Block kinds.
        {"# One\n### Three\n\n---\n\ny", "H1|One\nH3|Three\nHR\nP0.0|y"},
        {"- a\n  - b\n- [ ] t\n- [x] d\n\n3) x\n4) y",
         "LI0.0 •|a\nLI1.0 •|b\nLI0.0 [ ]|t\nLI0.0 [x]|d\nLI0.0 3)|x\nLI0.0 4)|y"},
        {"> q\n>\n> > qq\n\n- > in", "Q0.1|q\nQ0.2|qq\nLI0.0 •|\nQ1.1|in"},
        {"```py title\nprint('<b>' & 1)\n\n```\n\n    indented", "CODE(py title)|print('<b>' & 1)\n\nCODE()|indented"},
        {"| a | b |\n|---|:-:|\n| 1 | **<2>** |\n| 3 |", "TABLE|a,b;1,<b>&lt;2&gt;</b>;3,"},
        // Raw HTML, inline and block, is the literal text it is.
        {"<b onclick=\"x\">hi</b> <img src=http://h/i.png>",
         "P0.0|&lt;b onclick=&quot;x&quot;&gt;hi&lt;/b&gt; &lt;img src=http://h/i.png&gt;"},
        {"<div>\n<script>alert('x')</script>\n</div>",
         "P0.0|&lt;div&gt;<br>&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;<br>&lt;/div&gt;"},
        // Links: only http, https and mailto; the question names the real host.
        {"[site](https://example.com/a?b=1) <http://b.example> www.c.example d@e.example",
         "P0.0|<a#0>site</a> <a#1>http://b.example</a> <a#2>www.c.example</a> <a#3>d@e.example</a>"
         " {https://example.com/a?b=1>example.com} {http://b.example>b.example}"
         " {http://www.c.example>www.c.example} {mailto:d@e.example>d@e.example}"},
        {"[https://good.example](https://evil.example/x) [m](mailto:a@b.example)",
         "P0.0|<a#0>https://good.example</a> <a#1>m</a> {https://evil.example/x>evil.example} "
         "{mailto:a@b.example>a@b.example}"},
        {"[a](javascript:alert(1)) [b](file:///etc/passwd) [c](data:text/html,x) [d](x-app://y) "
         "[e](mailto:a@b.c?bcc=z@y.x) [f](/relative) <javascript:alert(2)> [g](https://)",
         "P0.0|a b c d e f javascript:alert(2) g"},
        {"[x](https://b\xc3\xbc\x63her.example/p)", "P0.0|<a#0>x</a> {https://b\xc3\xbc\x63her.example/p>xn--bcher-kva.example}"},
        // Images never load: a link named by the alt text (or "image"), or only the text.
        {"![cat <3](https://img.example/c.png) ![](http://img.example/x.png) ![alt](file:///x.png) ![](data:image/png,x)",
         "P0.0|<a#0>cat &lt;3</a> <a#1>image</a> alt image {https://img.example/c.png>img.example} "
         "{http://img.example/x.png>img.example}"},
        {"[![in](https://i.example/i.png) text](https://l.example)", "P0.0|<a#0>in text</a> {https://l.example>l.example}"},
        // Escaping of <, &, quotes in text and in link text.
        {"Tom & \"Jerry\" <it's> [a <b> & \"q\"](https://x.example)",
         "P0.0|Tom &amp; &quot;Jerry&quot; &lt;it&#39;s&gt; <a#0>a &lt;b&gt; &amp; &quot;q&quot;</a> {https://x.example>x.example}"},
        // Nesting past the cap is drawn at the last level.
        {">>>>>>> seven\n\n>>>>>> six", "Q0.6|seven\nQ0.6|six"},
        {"- 1\n  - 2\n    - 3\n      - 4\n        - 5\n          - 6\n            - 7\n              - 8",
         "LI0.0 •|1\nLI1.0 •|2\nLI2.0 •|3\nLI3.0 •|4\nLI4.0 •|5\nLI5.0 •|6\nLI6.0 •|7\nLI6.0 •|8"},
        // A link cut at the block's limit still ends; the blocks past the cap keep the rest of the reply.
        {"[" + QString(8000, 'a') + "*b* *c*](http://x.test)\n\n- *i* [z](http://z.test)",
         "P0.0|<a#0>" + QString(8000, 'a') + "<i>…</i></a> {http://x.test>x.test}\nLI0.0 •|<i>i</i> <a#0>z</a> {http://z.test>z.test}"},
        {QString("p\n\n").repeated(maxBlocks) + "```\n  a\n```\nTHE\n  REST",
         QString("P0.0|p\n").repeated(maxBlocks) + "P0.0|a<br>```<br>THE<br>&nbsp;&nbsp;REST"},
    };
    for (const auto& c : cases) {
        const Document document = parse(c.markdown);
        EXPECT_EQ(describe(document), c.blocks) << c.markdown.left(80).toStdString();
        for (const Block& b : document.blocks) EXPECT_FALSE(b.text.rich.contains("<img", Qt::CaseInsensitive));
    }
}

TEST(Markdown, PlainReadingHasNoMarkupAndTheBlockCountIsCapped) {
    EXPECT_EQ(plainReading(parse("# Plan\n\n- **one** [a](https://a.example)\n- [x] two\n\n> `q`\n\n| h |\n|---|\n| c |\n\n"
                                 "```sh\nls\n```")),
              QString::fromUtf8("Plan\n• one a\n☑ two\nq\nh\nc\nls"));
    auto paragraphs = [](std::size_t count) {
        QString text;
        for (std::size_t i = 0; i < count; ++i) text += QStringLiteral("p%1 *x*\n\n").arg(i);
        return text;
    };
    const Document atCap = parse(paragraphs(maxBlocks));
    ASSERT_EQ(atCap.blocks.size(), maxBlocks);
    EXPECT_EQ(atCap.blocks.back().text.plain, QStringLiteral("p%1 x").arg(maxBlocks - 1));
    const Document past = parse(paragraphs(maxBlocks + 2));  // the rest is one plain paragraph
    ASSERT_EQ(past.blocks.size(), maxBlocks + 1);
    EXPECT_EQ(past.blocks.back().text.plain,
              QStringLiteral("p%1 *x*\u2028\u2028p%2 *x*\u2028\u2028").arg(maxBlocks).arg(maxBlocks + 1));
}

TEST(Markdown, TheTranscriptFormatsRepliesOnlyAndParsesLongOnesOnAWorker) {
    ChatMessageModel model;
    const qsizetype limit = FormattedReplies::inlineLimit;
    for (const QString& content : {QStringLiteral("**typed**"), QStringLiteral("\u26A0 **notice**"),
                                   "**a** " + QString(limit - 6, 'x'), "**a** " + QString(limit - 5, 'x')})
        model.append(ChatMessage(model.rowCount() == 0 ? QStringLiteral("user") : QStringLiteral("assistant"), content));
    auto data = [&](int row, int role) { return model.data(model.index(row), role); };
    auto first = [&](int row) {
        return data(row, ChatMessageModel::BlocksRole).toList().value(0).toMap().value("plain").toString().left(4);
    };
    EXPECT_EQ(data(0, ChatMessageModel::BlockCountRole).toInt(), 0);  // as typed
    EXPECT_EQ(data(1, ChatMessageModel::BlockCountRole).toInt(), 0);  // a notice
    EXPECT_EQ(data(1, ChatMessageModel::ReadingRole).toString(), QStringLiteral("\u26A0 **notice**"));
    EXPECT_EQ(first(2), "a xx");   // at the limit: parsed at once
    EXPECT_EQ(first(3), "**a*");   // past it: a plain preview until the worker is done
    ASSERT_TRUE(test::waitUntil([&] { return first(3) == "a xx"; }));
    EXPECT_EQ(data(3, ChatMessageModel::ReadingRole).toString().size(), maxBlockCharacters + 1);  // cut, with "…"
    EXPECT_EQ(model.blocksOf(3, 0, 5).size(), 1);
    EXPECT_TRUE(model.blocksOf(3, 1, 5).isEmpty());
}

}  // namespace
