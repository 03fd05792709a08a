#pragma once
// Stores `value` in `field` and reports whether it changed, so that view-model
// setters emit their change signal only on a real change.

#include <utility>

namespace nimbo {

template <class T, class U>
bool assignIfChanged(T& field, U&& value) {
    if (field == value) return false;
    field = std::forward<U>(value);
    return true;
}

}  // namespace nimbo
