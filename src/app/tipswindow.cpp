#include "tipswindow.h"

#include "passwordwindows.h"
#include "prompt.h"
#include "settings.h"
#include "settingsfiles.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

TipsWindow::TipsWindow(const Settings &settings, const SettingsFiles &files, Prompt &prompt,
                       QWidget *parent)
    : QDialog(parent), m_settings(settings), m_files(files), m_prompt(prompt),
      m_text(new QTextEdit(this)), m_previous(new QPushButton(QStringLiteral("Anterior"), this)),
      m_next(new QPushButton(QStringLiteral("Próximo"), this)),
      m_hide(new QCheckBox(QStringLiteral("Não mostrar esta tela novamente."), this))
{
    setObjectName(QStringLiteral("frmdica"));
    setWindowTitle(QStringLiteral("Dicas"));
    setModal(true);
    m_text->setObjectName(QStringLiteral("Text1"));
    m_text->setReadOnly(true);
    m_previous->setObjectName(QStringLiteral("cmdant"));
    m_next->setObjectName(QStringLiteral("cmdprox"));
    m_hide->setObjectName(QStringLiteral("Check1"));
    auto *close = new QPushButton(QStringLiteral("Fechar"), this);
    close->setObjectName(QStringLiteral("Command1"));
    close->setDefault(true);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_hide);
    buttons->addStretch();
    buttons->addWidget(m_previous);
    buttons->addWidget(m_next);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addLayout(buttons);
    resize(560, 240);

    connect(m_next, &QPushButton::clicked, this, &TipsWindow::next);
    connect(m_previous, &QPushButton::clicked, this, &TipsWindow::previous);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    m_hide->setChecked(settings.tipsHidden != 0);
    m_text->setPlainText(tip(m_index));
    m_previous->setEnabled(false);
    m_next->setEnabled(!tip(2).isEmpty());
    centreOnScreen(*this);
}

const QString &TipsWindow::tip(int index) const
{
    static const QString none;
    return index >= 0 && index < m_settings.tipTexts.size() ? m_settings.tipTexts[index] : none;
}

QString TipsWindow::tipShown() const
{
    return m_text->toPlainText();
}

void TipsWindow::next()
{
    m_previous->setEnabled(true);
    ++m_index;
    m_text->setPlainText(tip(m_index));
    if (tip(m_index + 1).isEmpty() || m_index >= Settings::kMaxTips) m_next->setEnabled(false);
}

void TipsWindow::previous()
{
    m_next->setEnabled(true);
    --m_index;
    m_text->setPlainText(tip(m_index));
    if (tip(m_index - 1).isEmpty() || m_index <= 1) m_previous->setEnabled(false);
}

void TipsWindow::done(int result)
{
    // Written at every close, ticked or not.
    Settings chosen = m_settings;
    chosen.tipsHidden = m_hide->isChecked() ? 1 : 0;
    QString error;
    if (!m_files.saveConfig(chosen, &error))
        m_prompt.message(QStringLiteral("A opção das dicas não foi gravada.\n") + error);
    QDialog::done(result);
}

bool TipsWindow::hidesTips() const
{
    return m_hide->isChecked();
}
