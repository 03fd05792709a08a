#pragma once
// The operating system's permission prompts for the calendar, the photo library,
// location and motion activity. Each permission starts not determined; the person's
// answer to the prompt is kept across launches, and later requests answer from it.

#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace nimbo::platform {

class SettingsFile;

enum class Permission { Calendar, Photos, Location, Motion };
enum class PermissionStatus { NotDetermined, Denied, Authorized, Limited };

class PermissionCenter {
public:
    using Answer = std::function<void(PermissionStatus)>;
    virtual ~PermissionCenter() = default;

    virtual PermissionStatus status(Permission permission) const = 0;
    // Asks for `permission`. While it is not determined the person is prompted and
    // `answer` runs once they choose; once decided, `answer` runs at once (from the
    // event loop) with the stored status. Dropped when `receiver` (required) goes
    // away first.
    // UI thread only.
    virtual void request(Permission permission, QObject* receiver, Answer answer) = 0;
    // Whether this device can report motion activity at all.
    virtual bool isMotionActivityAvailable() const = 0;
    // Changes the stored decision, as the system settings would: NotDetermined asks
    // again at the next request, Denied revokes a grant.
    virtual void setStatus(Permission permission, PermissionStatus status) = 0;

    // The centre in force: PromptingPermissionCenter::system(), unless a test installed its own.
    static PermissionCenter& current();
    // Installs `center` (not owned) for the rest of the process; nullptr restores the system's.
    static void install(PermissionCenter* center);
};

// Prompts inside the app's window: the open prompt (title, message, buttons) is
// published here for the window to draw, and answer() records the person's choice.
// Statuses are kept in a small file. Lives on the UI thread; status() may be read
// from any thread.
class PromptingPermissionCenter final : public QObject, public PermissionCenter {
    Q_OBJECT

public:
    explicit PromptingPermissionCenter(std::filesystem::path statusFile, QObject* parent = nullptr);
    ~PromptingPermissionCenter() override;

    // The process-wide centre, keeping its statuses in configDir()/"permissions.json".
    static PromptingPermissionCenter& system();

    PermissionStatus status(Permission permission) const override;
    void request(Permission permission, QObject* receiver, Answer answer) override;
    // No motion coprocessor or activity service exists on a Linux desktop, so this
    // is false here.
    bool isMotionActivityAvailable() const override;
    void setStatus(Permission permission, PermissionStatus status) override;

    bool hasPendingPrompt() const { return !queue_.empty(); }
    QString pendingTitle() const;
    QString pendingMessage() const;
    QStringList pendingOptions() const;
    // Chooses button `option` of the open prompt: stores the status it stands for,
    // answers every waiting request for that permission and opens the next prompt.
    void answer(int option);

signals:
    void pendingPromptChanged();

private:
    struct Waiting;

    std::unique_ptr<SettingsFile> statuses_;
    std::deque<std::unique_ptr<Waiting>> queue_;
};

}  // namespace nimbo::platform
