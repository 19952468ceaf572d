#include "helpwindow.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

HelpWindow::HelpWindow(QWidget *parent) : QDialog(parent), m_browser(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("frmajuda"));
    setWindowTitle(QStringLiteral("Ajuda"));
    m_browser->setObjectName(QStringLiteral("txtajuda"));
    m_browser->setSource(QUrl(QStringLiteral("qrc:/app/ajuda.html")));
    m_browser->setOpenExternalLinks(false);
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *close = buttons->addButton(QStringLiteral("Fechar"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("cmdfechar"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_browser);
    layout->addWidget(buttons);
    resize(620, 520);
}
