#pragma once
// The learning-source switches and the work that turning one on starts. One instance
// lives for the whole process, so a turn-on flow waiting for a permission answer
// completes (switch stored on, service told, Calendar synced and its refresh
// scheduled) even when the screen that started it is gone; only its toast needs that
// screen. Switching a category off, or the session ending, wins over work in flight:
// nothing started before that moment uploads, reschedules or shows afterwards.
//
// Calendar data goes only to the account that switched Calendar on (its e-mail from
// the user record, kept beside the switches), and only while that account is signed
// in: the hourly refresh belongs to its session, ends with it, and resumes when the
// same account signs in again. UI thread only.

#include "learning/LearningSourceTypes.h"
#include "platform/device/PermissionCenter.h"

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <optional>
#include <stop_token>

namespace nimbo {

class LocationPermissionDelegate;

class LearningSourceSwitches : public QObject {
    Q_OBJECT

public:
    using Say = std::function<void(const QString&)>;

    static LearningSourceSwitches& shared();

    // "learning_source_enabled_" followed by `id`: where a switch is stored.
    static QString prefsKey(const QString& id);
    bool isOn(const QString& id) const;
    // Stores `on` for category `id` (the service may name ids without a row).
    void setToggle(const QString& id, bool on);

    // Runs the turn-on flow of `category`. Its toasts go to `say` while `screen` lives.
    void turnOn(const LearningSourceCategory& category, QObject* screen, Say say);
    // Off at once: stored off, its work in flight stopped, the Calendar refresh withdrawn.
    void turnOff(const LearningSourceCategory& category);
    // Requested once category `id` is next switched off, or the session ends.
    std::stop_token collectionToken(const QString& id);
    // A session began. Once its account is known (from the user record), the Calendar
    // refresh resumes if that account switched Calendar on.
    void beginSession();
    // The session ended: work started before stops where it is (no upload, reschedule
    // or toast), the Calendar refresh is withdrawn, and answers to prompts shown before
    // connect nothing. Switches keep their stored values.
    void endSession();
    // Where the e-mail of the account that switched Calendar on is kept.
    static QString calendarOwnerKey();
    // Calendar is on, and the account that switched it on is the one signed in.
    bool isCalendarOwnerSignedIn() const;

    // The operating-system permission a category kind asks for, if any, and its name.
    static std::optional<platform::Permission> permissionFor(LearningSourcePermissionKind kind);
    static QString permissionName(LearningSourcePermissionKind kind);

signals:
    // The stored switch of `id` changed.
    void switchChanged(const QString& id);
    // A permission prompt was answered.
    void permissionAnswered();

private:
    explicit LearningSourceSwitches(QObject* parent = nullptr);

    void connectWithPermission(const LearningSourceCategory& category, const Say& show);
    void finishConnect(const LearningSourceCategory& category, const Say& show);
    void requestAccess(LearningSourcePermissionKind kind, std::function<void(bool)> done);
    void requestPhotosAccess(std::function<void(bool)> done);
    void requestLocationAccess(std::function<void(bool)> done);
    void requestMotionAccess(std::function<void(bool)> done);

    std::map<QString, std::stop_source> collection_;
    std::stop_source session_;
    bool isSignedIn_ = false;
    QString account_;  // the signed-in account's e-mail, once known
    LocationPermissionDelegate* locationManagerDelegate_;
};

}  // namespace nimbo
