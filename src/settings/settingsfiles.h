#pragma once

#include "settings.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// The four small settings files of the program's folder: "cobalto.cfg",
// "cobalto.dat", "usb232.dat" and the tips file "qvrtip.dat". They are
// 8-bit Windows-1252 text with CR LF line ends, and operators already keep
// them, so they are read and written byte for byte as they always were.
namespace settingsfiles
{

inline const QString kConfigFile = QStringLiteral("cobalto.cfg");
inline const QString kPasswordFile = QStringLiteral("cobalto.dat");
inline const QString kUsbFile = QStringLiteral("usb232.dat");
inline const QString kTipsFile = QStringLiteral("qvrtip.dat");

// Reads a number the way the files have always been read: blanks, tabs and
// line feeds are dropped, the longest leading decimal number is taken (a line
// without one reads 0) and rounded half to even. Returns false when the
// value does not fit in 16 bits; the caller then keeps its old value.
bool readInt16(QByteArrayView line, qint16 *value);
// " 1" for 1, "-1" for -1: a blank stands where a minus sign would.
QByteArray formatNumber(int value);
// Lines end at CR LF, at a lone CR, or at a lone LF (files edited by hand on
// Linux); the last line needs no end.
QVector<QByteArray> splitLines(const QByteArray &content);

} // namespace settingsfiles

// Reads and writes the settings files of one folder. Every write replaces
// its file atomically, so a crash never leaves a truncated file behind.
class SettingsFiles
{
public:
    enum class Missing { Create, Skip };

    explicit SettingsFiles(QString folder);
    QString folder() const { return m_folder; }
    QString path(const QString &fileName) const;
    // A missing tips file is copied from the one the program ships with,
    // when there is one; otherwise it is created holding "0".
    void setTipsTemplate(const QString &path) { m_tipsTemplate = path; }

    // Each load fills only the variables of its file. A missing file is
    // created with its defaults (Missing::Create) and then read; any other
    // failure leaves the variables as they were and returns false with a
    // message in *error.
    // An address line that does not read as 0 to 31 (40, -1, or a number
    // too large for 16 bits, which would read as 0: every panel) gives a
    // reason in *addressProblem; nothing may then be sent.
    // A port number that cannot be right (outside 1 to 9999, or too large
    // for 16 bits) is reported the same way in *portProblem.
    bool loadConfig(Settings &s, Missing missing, QString *addressText = nullptr,
                    QString *error = nullptr, QString *addressProblem = nullptr,
                    QString *portProblem = nullptr) const;
    bool loadPassword(Settings &s, Missing missing, QString *error = nullptr) const;
    bool loadUsbAdapter(Settings &s, Missing missing, QString *error = nullptr) const;
    bool loadTips(Settings &s, Missing missing, QString *error = nullptr) const;

    // All four, each created with its defaults when missing, as a start
    // reads them: a failing file is skipped and the next one read.
    struct Report {
        QString addressText;    // the address line as read, when it was
        QString addressProblem; // nothing may be sent while there is one
        QString error;          // the last file that failed, and why
        bool configRead = false;
    };
    Report loadAll(Settings &s) const;

    bool saveConfig(const Settings &s, QString *error = nullptr) const;
    bool savePassword(const QString &password, QString *error = nullptr) const;
    bool saveUsbAdapter(qint16 usbAdapter, QString *error = nullptr) const;

private:
    enum class ReadStatus { Read, Missing, Failed };
    ReadStatus readLines(const QString &fileName, Missing missing, const QByteArray &defaults,
                         QVector<QByteArray> *lines, QString *error) const;
    bool write(const QString &fileName, const QByteArray &content, QString *error) const;

    QString m_folder;
    QString m_tipsTemplate;
};
