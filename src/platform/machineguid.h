#pragma once

#include <QString>

/** The machine's identity for the maker's web host, or the reason it could not be read. */
struct MachineGuidResult {
    QString guid;  // GUID text without braces, e.g. "1b4e28ba-2fa1-41d2-883f-0016d3cca427"; empty: none
    QString error; // set when the identity exists but cannot be read
};

/** The system's machine identity file, /etc/machine-id. */
QString defaultMachineIdPath();

/**
 * The machine GUID: an application-specific hash of the machine ID in machineIdPath (so the
 * machine ID itself never leaves the machine, as machine-id(5) asks), written as GUID text.
 * A missing file, or one that is empty or "uninitialized", gives the empty text and no error;
 * a file that cannot be read or holds no 128-bit hexadecimal ID gives an error.
 */
MachineGuidResult readMachineGuid(const QString &machineIdPath = defaultMachineIdPath());
