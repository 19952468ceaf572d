#include "settingsfiles.h"

#include "cp1252.h"
#include "messagefile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <charconv>
#include <cmath>

namespace settingsfiles
{

bool readInt16(QByteArrayView line, qint16 *value)
{
    QByteArray s;
    s.reserve(line.size());
    for (const char c : line) {
        if (c != ' ' && c != '\t' && c != '\n') s.append(c);
    }
    const auto digitsAt = [&](qsizetype i) {
        qsizetype j = i;
        while (j < s.size() && s[j] >= '0' && s[j] <= '9')
            ++j;
        return j - i;
    };
    qsizetype i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const qsizetype intDigits = digitsAt(i);
    i += intDigits;
    qsizetype fracDigits = 0;
    if (i < s.size() && s[i] == '.') {
        fracDigits = digitsAt(i + 1);
        if (intDigits + fracDigits > 0) i += 1 + fracDigits;
    }
    double v = 0;
    if (intDigits + fracDigits > 0) {
        if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
            qsizetype k = i + 1;
            if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
            if (const qsizetype e = digitsAt(k); e > 0) i = k + e;
        }
        // from_chars reads the C form whatever the locale, and says when the
        // number is beyond a double.
        const qsizetype from = s[0] == '+' ? 1 : 0;
        const auto r = std::from_chars(s.constData() + from, s.constData() + i, v);
        if (r.ec == std::errc::result_out_of_range)
            v = s.left(i).contains("e-") || s.left(i).contains("E-") ? 0.0 : HUGE_VAL;
    }
    const double r = std::nearbyint(v); // the default rounding mode rounds half to even
    if (!(r >= -32768.0 && r <= 32767.0)) return false;
    *value = qint16(r);
    return true;
}

QByteArray formatNumber(int value)
{
    return value >= 0 ? ' ' + QByteArray::number(value) : QByteArray::number(value);
}

QVector<QByteArray> splitLines(const QByteArray &content)
{
    QVector<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < content.size(); ++i) {
        const char c = content[i];
        if (c != '\r' && c != '\n') continue;
        lines.append(content.mid(start, i - start));
        if (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < content.size()) lines.append(content.mid(start));
    return lines;
}

} // namespace settingsfiles

using namespace settingsfiles;

namespace
{

// Settings files are a few lines; the tips file a few dozen.
constexpr qint64 kMaxSettingsBytes = 64 * 1024;

QByteArray joinLines(std::initializer_list<QByteArray> lines)
{
    QByteArray out;
    for (const QByteArray &l : lines)
        out += l + "\r\n";
    return out;
}

void setError(QString *error, const QString &text)
{
    if (error) *error = text;
}

} // namespace

SettingsFiles::SettingsFiles(QString folder) : m_folder(std::move(folder)) {}

QString SettingsFiles::path(const QString &fileName) const
{
    return QDir(m_folder).filePath(fileName);
}

SettingsFiles::ReadStatus SettingsFiles::readLines(const QString &fileName, Missing missing,
                                                   const QByteArray &defaults,
                                                   QVector<QByteArray> *lines, QString *error) const
{
    const QString p = path(fileName);
    if (!QFile::exists(p)) {
        if (missing == Missing::Skip) return ReadStatus::Missing;
        if (!write(fileName, defaults, error)) return ReadStatus::Failed;
    }
    // A settings file is a few lines: only its start is read, and only when
    // it is a regular file (a FIFO or a device in its place must not hang or
    // exhaust the program).
    const SmallFileRead file = messagefile::readSmallFile(p, kMaxSettingsBytes, false);
    if (!file.ok) {
        setError(error, QStringLiteral("Não foi possível ler o arquivo %1: %2.")
                            .arg(QDir::toNativeSeparators(p), file.error));
        return ReadStatus::Failed;
    }
    *lines = splitLines(file.data);
    return ReadStatus::Read;
}

bool SettingsFiles::loadConfig(Settings &s, Missing missing, QString *addressText, QString *error,
                               QString *addressProblem, QString *portProblem) const
{
    if (addressProblem) addressProblem->clear();
    if (portProblem) portProblem->clear();
    QVector<QByteArray> lines;
    const QByteArray defaults = joinLines({" 1", " 0", " 0", " 0", " 0"});
    const ReadStatus st = readLines(kConfigFile, missing, defaults, &lines, error);
    if (st != ReadStatus::Read) return st == ReadStatus::Missing;
    // Lines that are missing keep the values the variables had.
    qint16 *targets[] = {&s.portNumber, &s.panelAddress, &s.tipsHidden, &s.panelType,
                         &s.temperatureOption};
    bool addressFits = true, portFits = true;
    for (int i = 0; i < 5 && i < lines.size(); ++i) {
        const bool fits = readInt16(lines[i], targets[i]);
        if (i == 0) portFits = fits;
        if (i == 1) addressFits = fits;
    }
    // A port number too large for 16 bits would read as another port.
    if (portProblem && !lines.isEmpty() && (!portFits || s.portNumber < 1 || s.portNumber > 9999))
        *portProblem = QStringLiteral("O número da porta em %1 é inválido: \"%2\" (deve ser de 1 "
                                      "a 9999).")
                           .arg(QDir::toNativeSeparators(path(kConfigFile)),
                                cp1252::decode(lines[0]).trimmed());
    if (lines.size() > 1) {
        const QString text = cp1252::decode(lines[1]).trimmed();
        if (addressText) *addressText = text;
        if (addressProblem && (!addressFits || s.panelAddress < 0 || s.panelAddress > 31))
            *addressProblem =
                QStringLiteral(
                    "O endereço do painel em %1 é inválido: \"%2\" (deve ser de 0 a 31).")
                    .arg(QDir::toNativeSeparators(path(kConfigFile)), text);
    }
    return true;
}

bool SettingsFiles::loadPassword(Settings &s, Missing missing, QString *error) const
{
    QVector<QByteArray> lines;
    const ReadStatus st = readLines(kPasswordFile, missing, "cobalto\r\n", &lines, error);
    if (st != ReadStatus::Read) return st == ReadStatus::Missing;
    s.accessPassword = lines.isEmpty() ? QString() : cp1252::decode(lines[0]);
    return true;
}

bool SettingsFiles::loadUsbAdapter(Settings &s, Missing missing, QString *error) const
{
    QVector<QByteArray> lines;
    const ReadStatus st = readLines(kUsbFile, missing, "0\r\n", &lines, error);
    if (st != ReadStatus::Read) return st == ReadStatus::Missing;
    if (!lines.isEmpty()) readInt16(lines[0], &s.usbAdapter);
    return true;
}

bool SettingsFiles::loadTips(Settings &s, Missing missing, QString *error) const
{
    QVector<QByteArray> lines;
    QByteArray defaults = "0\r\n";
    if (!m_tipsTemplate.isEmpty()) {
        QFile shipped(m_tipsTemplate);
        if (shipped.open(QIODevice::ReadOnly)) defaults = shipped.readAll();
    }
    const ReadStatus st = readLines(kTipsFile, missing, defaults, &lines, error);
    if (st != ReadStatus::Read) return st == ReadStatus::Missing;
    qint16 count = 0;
    if (!lines.isEmpty() && !readInt16(lines[0], &count))
        return true; // a count beyond 16 bits reads nothing
    QStringList tips(Settings::kTipSlots);
    if (count == 0) {
        tips[1] = QStringLiteral("Arquivo de dicas não encontrado.");
    } else {
        const int n = qMin<int>(count, Settings::kMaxTips);
        // A file shorter than its count leaves the remaining tips empty.
        for (int i = 1; i <= n && i < lines.size(); ++i)
            tips[i] = cp1252::decode(lines[i]);
    }
    s.tipTexts = tips;
    return true;
}

bool SettingsFiles::saveConfig(const Settings &s, QString *error) const
{
    return write(kConfigFile,
                 joinLines({formatNumber(s.portNumber), formatNumber(s.panelAddress),
                            formatNumber(s.tipsHidden), formatNumber(s.panelType),
                            formatNumber(s.temperatureOption)}),
                 error);
}

bool SettingsFiles::savePassword(const QString &password, QString *error) const
{
    // An empty password would let anybody in.
    if (password.isEmpty()) {
        setError(error, QStringLiteral("A nova senha não pode ficar vazia."));
        return false;
    }
    // The file holds Windows-1252: a character outside it would be stored as
    // "?" and the operator's own password would fail from then on. The
    // message does not repeat the character: somebody may be looking.
    for (const QChar c : password) {
        if (cp1252::fromUnicode(c) < 0) {
            setError(error, QStringLiteral("A senha tem um caractere que não pode ser gravado; "
                                           "use letras, números e sinais do teclado."));
            return false;
        }
    }
    return write(kPasswordFile, joinLines({cp1252::encode(password)}), error);
}

bool SettingsFiles::saveUsbAdapter(qint16 usbAdapter, QString *error) const
{
    return write(kUsbFile, joinLines({QByteArray::number(usbAdapter)}), error);
}

bool SettingsFiles::write(const QString &fileName, const QByteArray &content, QString *error) const
{
    const QString p = path(fileName);
    const QString why = messagefile::saveFile(p, content);
    if (why.isEmpty()) return true;
    setError(error, QStringLiteral("Não foi possível gravar o arquivo %1: %2.")
                        .arg(QDir::toNativeSeparators(p), why));
    return false;
}

SettingsFiles::Report SettingsFiles::loadAll(Settings &s) const
{
    Report r;
    QString error;
    r.configRead = loadConfig(s, Missing::Create, &r.addressText, &error, &r.addressProblem);
    if (!r.configRead) r.error = error;
    if (!loadPassword(s, Missing::Create, &error)) r.error = error;
    if (!loadUsbAdapter(s, Missing::Create, &error)) r.error = error;
    if (!loadTips(s, Missing::Create, &error)) r.error = error;
    return r;
}
