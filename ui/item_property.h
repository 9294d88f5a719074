#pragma once

// The setter of a painted item's property: assign when the value differs, repaint, notify.

#include <QVariant>

#include <type_traits>
#include <utility>

#include "ui/view_values.h"

namespace orvinta {

// Equality for setters: two NaNs are the same number, and an undefined QVariant differs from
// every defined one (QVariant's own == would equate a null with an invalid one).
template <typename T>
bool samePropertyValue(const T& a, const T& b) {
    return a == b;
}
inline bool samePropertyValue(double a, double b) {
    return sameDouble(a, b);
}
inline bool samePropertyValue(float a, float b) {
    return sameDouble(a, b);
}
inline bool samePropertyValue(const QVariant& a, const QVariant& b) {
    return a == b && a.isValid() == b.isValid();
}

// Assigns `value` to `field` if it differs, runs `onChange` (for work the repaint depends on),
// schedules a repaint and emits `changed`. Returns whether the value changed.
template <typename Item, typename T, typename OnChange>
bool setItemProperty(Item* item, T& field, const std::type_identity_t<T>& value,
                     void (Item::*changed)(), OnChange&& onChange) {
    if (samePropertyValue(field, value)) {
        return false;
    }
    field = value;
    std::forward<OnChange>(onChange)();
    item->update();
    emit(item->*changed)();
    return true;
}

template <typename Item, typename T>
bool setItemProperty(Item* item, T& field, const std::type_identity_t<T>& value,
                     void (Item::*changed)()) {
    return setItemProperty(item, field, value, changed, [] {});
}

}  // namespace orvinta
