#include "passwordwindows.h"

#include "prompt.h"
#include "settings.h"
#include "settingsfiles.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

const QString PasswordWindow::kMasterPassword = QStringLiteral("Ventura Solaris");

void centreOnScreen(QWidget &w)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        w.adjustSize();
        const QRect area = screen->availableGeometry();
        w.move(area.center() - QPoint(w.width() / 2, w.height() / 2));
    }
}

namespace
{

QPushButton *button(QWidget *parent, const char *name, const QString &caption)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

// "Ok" (the default button, so Enter works like it) and "Cancelar".
template <typename Window> QHBoxLayout *okCancel(Window *w, void (Window::*onOk)())
{
    QPushButton *ok = button(w, "Command1", QStringLiteral("Ok"));
    QPushButton *cancel = button(w, "Command2", QStringLiteral("Cancelar"));
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, w, onOk);
    QObject::connect(cancel, &QPushButton::clicked, w, &QDialog::reject);
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    return row;
}

QLineEdit *passwordField(QWidget *parent, const char *name)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setEchoMode(QLineEdit::Password);
    return e;
}

} // namespace

PasswordWindow::PasswordWindow(const Settings &settings, Prompt &prompt, QWidget *parent)
    : QDialog(parent), m_settings(settings), m_prompt(prompt), m_text(passwordField(this, "Text1"))
{
    setObjectName(QStringLiteral("frmsenha"));
    setWindowTitle(QStringLiteral("Senha de Acesso."));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addLayout(okCancel(this, &PasswordWindow::check));
    setMinimumWidth(320);
    centreOnScreen(*this);
}

void PasswordWindow::check()
{
    // Exact: capitals count and blanks are not trimmed.
    const QString typed = m_text->text();
    if (typed == m_settings.accessPassword || typed == kMasterPassword) {
        m_done = true;
        accept();
        Q_EMIT granted();
        deleteLater();
        return;
    }
    m_prompt.warning(QStringLiteral("Senha Incorreta!!!"));
    // Typed again at once, over what was there.
    m_text->selectAll();
    m_text->setFocus();
}

void PasswordWindow::done(int result)
{
    QDialog::done(result);
    if (m_done) return;
    m_done = true;
    Q_EMIT cancelled();
    deleteLater();
}

ChangePasswordWindow::ChangePasswordWindow(const SettingsFiles &files, Prompt &prompt,
                                           QWidget *parent)
    : QDialog(parent), m_files(files), m_prompt(prompt), m_first(passwordField(this, "Text1")),
      m_second(passwordField(this, "Text2"))
{
    setObjectName(QStringLiteral("frmaltsenha"));
    setWindowTitle(QStringLiteral("Alterar Senha."));
    setModal(true);
    auto *layout = new QVBoxLayout(this);
    for (auto [caption, field] : {std::pair{QStringLiteral("Digite a Senha."), m_first},
                                  std::pair{QStringLiteral("Redigite a Senha."), m_second}}) {
        auto *frame = new QGroupBox(caption, this);
        (new QVBoxLayout(frame))->addWidget(field);
        layout->addWidget(frame);
    }
    layout->addLayout(okCancel(this, &ChangePasswordWindow::ok));
    setMinimumWidth(320);
    centreOnScreen(*this);
}

void ChangePasswordWindow::ok()
{
    if (m_first->text() != m_second->text()) {
        m_first->clear();
        m_second->clear();
        m_prompt.warning(QStringLiteral("Senhas diferentes!!!"));
        m_first->setFocus();
        return;
    }
    // A password that could not be stored does not take effect.
    QString error;
    if (!m_files.savePassword(m_first->text(), &error)) {
        m_prompt.warning(QStringLiteral("A senha não foi alterada.\n") + error);
        m_first->setFocus();
        m_first->selectAll();
        return;
    }
    m_prompt.message(QStringLiteral("Senha Alterada!!!"));
    accept();
}
