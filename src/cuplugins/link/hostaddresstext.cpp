#include "hostaddresstext.h"

#include <QStringList>

QHostAddress cuHostAddressFromText(const QString& text)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() == 4) {
        quint32 ipv4 = 0;
        bool numeric = true;
        for (const QString& part : parts) {
            bool ok = false;
            const uint group = part.toUInt(&ok, 10);
            // A group above 255 would spill into its neighbour and name another host.
            if (!ok || group > 255) {
                numeric = false;
                break;
            }
            ipv4 = ipv4 * 256 + group;
        }
        if (numeric)
            return QHostAddress(ipv4);
    }
    return QHostAddress(text);
}
