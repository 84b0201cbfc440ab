#pragma once

#include <QByteArrayView>
#include <QIODevice>

/*
 * Writes every byte to the device. A short write is retried, so that a failure (a full disk,
 * say) comes back as an error with the system's reason instead of a silent short count.
 */
inline bool writeAllBytes(QIODevice &device, QByteArrayView bytes)
{
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 written = device.write(bytes.data() + done, bytes.size() - done);
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}
