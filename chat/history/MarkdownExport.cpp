#include "chat/history/MarkdownExport.h"

#include <ctime>

namespace nimbo::history {
namespace {
std::string localDateTime(std::int64_t ms) {
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    char text[32];
    return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &parts));
}
}  // namespace

std::string exportMarkdown(const StoredConversation& conversation) {
    std::string out = "# " + (conversation.title.empty() ? std::string("Chat") : conversation.title) + "\n\n" +
                      localDateTime(conversation.createdMs) + "\n";
    for (const StoredEntry& entry : conversation.entries)
        out += std::string("\n") + (entry.role == "user" ? "**You**" : "**Nimbo**") + "\n\n" + entry.content + "\n";
    return out;
}

}  // namespace nimbo::history
