#pragma once

#include <QString>

/**
 * The maker's web host (host, optionally with ":port"): TESSALY_WEB_HOST from the environment
 * when set, else the host the build was configured with. Every web address of the program is
 * built on it, so tests point the whole program at a local server.
 */
QString webHost();
