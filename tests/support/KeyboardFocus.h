#pragma once
// Keyboard walks over a drawn screen: where the keyboard focus is, and whether the
// screen draws it there (shared controls draw a FocusRing, named "focusRing").

#include "QmlScreen.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

namespace nimbo::test {

// The objectName of the item holding the keyboard focus ("" when none does).
inline QString focusedName(const QmlScreen& screen) {
    const QQuickItem* item = screen.root()->window()->activeFocusItem();
    return item ? item->objectName() : QString();
}

// Presses `key` and answers where the focus is then.
inline QString press(const QmlScreen& screen, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QTest::keyClick(screen.root()->window(), key, modifiers);
    return focusedName(screen);
}

// Types `text` (ASCII) key by key into the item holding the focus.
inline void type(const QmlScreen& screen, const char* text) {
    for (; *text; ++text) QTest::keyClick(screen.root()->window(), *text);
}

// Whether the item holding the focus shows a visible focus ring.
inline bool showsFocusRing(const QmlScreen& screen) {
    const QQuickItem* item = screen.root()->window()->activeFocusItem();
    const auto* ring = item ? item->findChild<QQuickItem*>(QStringLiteral("focusRing")) : nullptr;
    return ring && ring->isVisible();
}

}  // namespace nimbo::test
