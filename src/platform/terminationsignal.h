#pragma once

#include <QObject>

#include <functional>

/**
 * Calls handler on context's thread, from its event loop, whenever the process receives
 * SIGTERM, SIGINT or SIGHUP (the session ending, kill, Ctrl+C in the terminal), instead of the
 * signal ending the process on the spot; the program can then end in order. Installed once,
 * on the user-interface thread, once the application object exists; false when the signals
 * cannot be caught (the process then ends on them as before).
 */
bool onTerminationSignal(QObject *context, std::function<void()> handler);
