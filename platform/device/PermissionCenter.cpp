#include "platform/device/PermissionCenter.h"

#include "platform/Replaceable.h"
#include "platform/device/SettingsFile.h"
#include "platform/files/AppPaths.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <utility>

namespace nimbo::platform {
namespace {

struct Choice {
    QString label;
    PermissionStatus status;
};

struct PromptText {
    QString title;  // %1 is the app's name
    QString message;
    std::vector<Choice> choices;
};

const QString kDontAllow = QStringLiteral("Don\u2019t Allow");

// The wording of each prompt; the messages are the app's usage descriptions.
const PromptText& promptText(Permission permission) {
    static const PromptText calendar{
        QStringLiteral("\u201C%1\u201D Would Like Full Access to Your Calendar"),
        QStringLiteral("Nimbo reads your upcoming events (title, time, place and notes) to understand your schedule."),
        {{kDontAllow, PermissionStatus::Denied}, {QStringLiteral("Allow Full Access"), PermissionStatus::Authorized}}};
    static const PromptText photos{
        QStringLiteral("\u201C%1\u201D Would Like to Access Your Photos"),
        QStringLiteral("Nimbo reads photo and video details (file names, dates, albums) to learn from your library."),
        {{QStringLiteral("Allow Limited Access"), PermissionStatus::Limited},
         {QStringLiteral("Allow Full Access"), PermissionStatus::Authorized},
         {kDontAllow, PermissionStatus::Denied}}};
    static const PromptText location{
        QStringLiteral("Allow \u201C%1\u201D to use your location?"),
        QStringLiteral("Nimbo reads your location from time to time to learn the places that matter to you."),
        {{QStringLiteral("Allow While Using App"), PermissionStatus::Authorized}, {kDontAllow, PermissionStatus::Denied}}};
    static const PromptText motion{
        QStringLiteral("\u201C%1\u201D Would Like to Access Your Motion & Fitness Activity"),
        QStringLiteral("Nimbo reads your motion activity to learn your daily routines."),
        {{kDontAllow, PermissionStatus::Denied}, {QStringLiteral("OK"), PermissionStatus::Authorized}}};
    switch (permission) {
    case Permission::Calendar: return calendar;
    case Permission::Photos: return photos;
    case Permission::Location: return location;
    case Permission::Motion: break;
    }
    return motion;
}

QString keyOf(Permission permission) {
    switch (permission) {
    case Permission::Calendar: return QStringLiteral("calendar");
    case Permission::Photos: return QStringLiteral("photos");
    case Permission::Location: return QStringLiteral("location");
    case Permission::Motion: break;
    }
    return QStringLiteral("motion");
}

QString textOf(PermissionStatus status) {
    switch (status) {
    case PermissionStatus::Denied: return QStringLiteral("denied");
    case PermissionStatus::Authorized: return QStringLiteral("authorized");
    case PermissionStatus::Limited: return QStringLiteral("limited");
    case PermissionStatus::NotDetermined: break;
    }
    return QString();
}

PermissionStatus statusOf(const QString& text) {
    for (PermissionStatus s : {PermissionStatus::Denied, PermissionStatus::Authorized, PermissionStatus::Limited}) {
        if (text == textOf(s)) return s;
    }
    return PermissionStatus::NotDetermined;
}
}  // namespace

PermissionCenter& PermissionCenter::current() {
    return Replaceable<PermissionCenter>::current(PromptingPermissionCenter::system());
}

void PermissionCenter::install(PermissionCenter* center) { Replaceable<PermissionCenter>::install(center); }

struct PromptingPermissionCenter::Waiting {
    Permission permission;
    QPointer<QObject> receiver;
    Answer answer;
};

PromptingPermissionCenter::PromptingPermissionCenter(std::filesystem::path statusFile, QObject* parent)
    : QObject(parent), statuses_(std::make_unique<SettingsFile>(std::move(statusFile))) {}

PromptingPermissionCenter::~PromptingPermissionCenter() = default;

PromptingPermissionCenter& PromptingPermissionCenter::system() {
    static PromptingPermissionCenter* center = [] {
        auto* created = new PromptingPermissionCenter(configDir() / "permissions.json");
        // A background sync may be the first to read a status; prompts belong to the UI thread.
        if (QCoreApplication* app = QCoreApplication::instance()) created->moveToThread(app->thread());
        return created;
    }();
    return *center;
}

PermissionStatus PromptingPermissionCenter::status(Permission permission) const {
    return statusOf(statuses_->value(keyOf(permission)).toString());
}

void PromptingPermissionCenter::request(Permission permission, QObject* receiver, Answer answer) {
    if (!receiver) return;
    const PermissionStatus decided = status(permission);
    if (decided != PermissionStatus::NotDetermined) {
        QTimer::singleShot(0, receiver, [answer = std::move(answer), decided] { answer(decided); });
        return;
    }
    queue_.push_back(std::make_unique<Waiting>(Waiting{permission, receiver, std::move(answer)}));
    if (queue_.size() == 1) emit pendingPromptChanged();
}

bool PromptingPermissionCenter::isMotionActivityAvailable() const { return false; }

QString PromptingPermissionCenter::pendingTitle() const {
    if (queue_.empty()) return QString();
    return promptText(queue_.front()->permission).title.arg(QCoreApplication::applicationName());
}

QString PromptingPermissionCenter::pendingMessage() const {
    return queue_.empty() ? QString() : promptText(queue_.front()->permission).message;
}

QStringList PromptingPermissionCenter::pendingOptions() const {
    QStringList labels;
    if (!queue_.empty()) {
        for (const Choice& choice : promptText(queue_.front()->permission).choices) labels << choice.label;
    }
    return labels;
}

void PromptingPermissionCenter::answer(int option) {
    if (queue_.empty()) return;
    const Permission permission = queue_.front()->permission;
    const std::vector<Choice>& choices = promptText(permission).choices;
    if (option < 0 || option >= static_cast<int>(choices.size())) return;
    const PermissionStatus chosen = choices[static_cast<size_t>(option)].status;
    setStatus(permission, chosen);

    std::vector<std::unique_ptr<Waiting>> answered;
    for (auto it = queue_.begin(); it != queue_.end();) {
        if ((*it)->permission == permission) {
            answered.push_back(std::move(*it));
            it = queue_.erase(it);
        } else {
            ++it;
        }
    }
    emit pendingPromptChanged();
    for (const auto& waiting : answered) {
        if (waiting->receiver) waiting->answer(chosen);
    }
}

void PromptingPermissionCenter::setStatus(Permission permission, PermissionStatus status) {
    if (status == PermissionStatus::NotDetermined) {
        statuses_->remove(keyOf(permission));
    } else {
        statuses_->insert(keyOf(permission), textOf(status));
    }
}

}  // namespace nimbo::platform
