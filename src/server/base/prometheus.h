#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// Prometheus' text format, as its scrapers and promtool read it: a family
// is its HELP and TYPE lines, then its samples; label values escaped
// (backslash, double quote, line feed), names as given (ours are fixed).
class PrometheusText
{
public:
    using Labels = QList<QPair<const char *, QString>>;

    void family(const char *name, const char *type, const char *help)
    {
        m_text += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void sample(const char *name, const Labels &labels, double value)
    {
        m_text += name;
        if (!labels.isEmpty()) {
            m_text += '{';
            for (qsizetype i = 0; i < labels.size(); ++i) {
                if (i) m_text += ',';
                m_text += QByteArray(labels[i].first) + "=\"" + escaped(labels[i].second) + '"';
            }
            m_text += '}';
        }
        m_text += ' ' + QByteArray::number(value, 'g', 15) + '\n';
    }
    QByteArray text() const { return m_text; }

    static QByteArray escaped(const QString &value)
    {
        QByteArray out;
        for (const char c : value.toUtf8()) {
            if (c == '\\' || c == '"') out += '\\';
            out += c == '\n' ? QByteArray("\\n") : QByteArray(1, c);
        }
        return out;
    }

private:
    QByteArray m_text;
};
