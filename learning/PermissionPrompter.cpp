#include "learning/PermissionPrompter.h"

#include "platform/device/PermissionCenter.h"

namespace nimbo {
namespace {
platform::PromptingPermissionCenter& center() { return platform::PromptingPermissionCenter::system(); }
}  // namespace

PermissionPrompter::PermissionPrompter(QObject* parent) : QObject(parent) {
    connect(&center(), &platform::PromptingPermissionCenter::pendingPromptChanged, this,
            &PermissionPrompter::pendingChanged);
}

bool PermissionPrompter::isPending() const { return center().hasPendingPrompt(); }
QString PermissionPrompter::title() const { return center().pendingTitle(); }
QString PermissionPrompter::message() const { return center().pendingMessage(); }
QStringList PermissionPrompter::options() const { return center().pendingOptions(); }
void PermissionPrompter::answer(int option) { center().answer(option); }

}  // namespace nimbo
