#pragma once

#include <QObject>

#include <initializer_list>
#include <utility>

/**
 * Gives each object the name of its role ("loadButton", "exportMenu"), by which tests and
 * style sheets find it. A null object (a control the desktop does not offer) is skipped.
 */
inline void setObjectNames(std::initializer_list<std::pair<QObject *, const char *>> objects)
{
    for (const auto &[object, name] : objects) {
        if (object)
            object->setObjectName(QLatin1String(name));
    }
}
