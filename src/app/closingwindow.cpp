#include "closingwindow.h"

#include <QLabel>
#include <QVBoxLayout>

ClosingWindow::ClosingWindow(QWidget *parent) : QDialog(parent), m_countdown(new QLabel(this))
{
    setObjectName(QStringLiteral("frmEncerrando"));
    setWindowTitle(QStringLiteral("Encerrando"));
    // The main window stays drawn but takes no commands meanwhile.
    setWindowModality(Qt::WindowModal);
    auto *text = new QLabel(
        QStringLiteral("O painel está recebendo um quadro, que precisa chegar inteiro: um "
                       "quadro cortado é pior do que nenhum.\n"
                       "O programa fecha sozinho assim que ele terminar."),
        this);
    text->setWordWrap(true);
    m_countdown->setObjectName(QStringLiteral("lblRestam"));
    QFont bold = m_countdown->font();
    bold.setBold(true);
    m_countdown->setFont(bold);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(m_countdown);
    setFixedWidth(360);
    setMsLeft(-1);
}

void ClosingWindow::setMsLeft(qint64 msLeft)
{
    // Before the first report the time is not known yet.
    m_countdown->setText(msLeft < 0    ? QStringLiteral("Aguardando o fim do quadro…")
                         : msLeft == 0 ? QStringLiteral("Quadro enviado; encerrando…")
                                       : QStringLiteral("Restam %1 s.").arg((msLeft + 999) / 1000));
}

QString ClosingWindow::countdown() const
{
    return m_countdown->text();
}
