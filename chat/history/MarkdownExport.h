#pragma once
// A stored conversation as a Markdown document: its title, its date, and each entry
// under "**You**" or "**Nimbo**", as the person saw it.

#include "chat/history/HistoryDatabase.h"

#include <string>

namespace nimbo::history {

std::string exportMarkdown(const StoredConversation& conversation);

}  // namespace nimbo::history
