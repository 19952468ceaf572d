#pragma once
// What Prometheus asks of a scrape's text, for the service's and the head
// office's /metrics alike.
#include <QByteArrayList>

// The samples whose family has no HELP or no TYPE line.
inline QByteArrayList samplesWithoutFamily(const QByteArray &text)
{
    QByteArrayList missing;
    for (const QByteArray &line : text.split('\n')) {
        if (line.isEmpty() || line.startsWith('#')) continue;
        const QByteArray name = line.left(line.indexOf(line.contains('{') ? '{' : ' '));
        if (!text.contains("# TYPE " + name + ' ') || !text.contains("# HELP " + name + ' '))
            missing.append(name);
    }
    return missing;
}
